#pragma once
// The emulator's Files API: the resumable upload (start, then "upload, finalize"), the
// file's state (PROCESSING for a number of looks, then ACTIVE, or FAILED on demand), its
// expiry, and the checks a generate call meets: a file_data part whose file is unknown or
// expired gets 404, and inline data above the limit the service's 400.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "tools/gemini-emulator/GeminiEmulator.h"

namespace tarvok::emulator {

class TFilesService {
 public:
  // The answer to a Files API call, or nullopt when the request is none.
  std::optional<TScriptedReply> Handle(const TRecordedRequest& ARequest, std::string_view ADecodedPath,
                                       const std::string& ABaseUrl);
  // The service's refusal of a generate call (an unknown file, inline data above the limit),
  // or nullopt when it may be answered.
  std::optional<TScriptedReply> CheckGenerate(const TRecordedRequest& ARequest);

  void SetProcessingLooks(int ALooks);
  void SetFailProcessing(bool AFail);
  void SetLifetime(std::chrono::seconds ALifetime);
  void SetInlineDataLimit(std::size_t ABytes);
  // Off: an uploaded file keeps its size but not its bytes (benchmarks and the demo upload
  // hundreds of megabytes again and again).
  void SetKeepBytes(bool AKeep);
  void ExpireAll();
  std::size_t FileCount() const;
  std::string FileBytes(const std::string& AName) const;

 private:
  struct TFile {
    std::string Name, DisplayName, MimeType, Uri, Bytes;
    std::size_t Size = 0;
    std::chrono::system_clock::time_point Expires;
    int LooksLeft = 0;
    bool Failed = false;
  };
  struct TUpload {
    std::string DisplayName, MimeType;
    std::size_t Length = 0;
  };
  std::string FileJson(const TFile& AFile) const;
  bool Known(const std::string& AUri);

  mutable std::mutex FLock;
  std::map<std::string, TUpload> FUploads;  // by upload id
  std::map<std::string, TFile> FFiles;      // by name ("files/...")
  int FNextId = 0;
  int FProcessingLooks = 1;
  bool FFailProcessing = false;
  std::chrono::seconds FLifetime{48 * 3600};
  std::size_t FInlineLimit = 0;
  bool FKeepBytes = true;
};

}  // namespace tarvok::emulator
