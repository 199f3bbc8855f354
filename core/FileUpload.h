#pragma once
// Big attachments through the service's Files API. An attachment above the inline limit,
// or the largest ones while the inline data of a request would pass it, goes up through
// the resumable upload and is polled until the service has processed it; the turn then
// refers to it by uri. A uri is reused while it has at least an hour left.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/HttpTransport.h"
#include "core/Types.h"

namespace tarvok {

// The most inline data (as the Base64 that is sent) one request may carry.
inline constexpr std::uint64_t kInlineDataLimit = 20971520;
// The largest file the Files API takes.
inline constexpr std::uint64_t kMaxUploadBytes = 2147483648ull;

// An attachment the service holds now: its data identifies the part it came from (the
// buffer is shared with the history's part).
struct TUploadedFile {
  TSharedText Data;
  std::string Uri;
  std::string Expires;  // RFC 3339, UTC, as the service wrote it
};

struct TUploadContext {
  TTransportOptions Transport;
  std::string UrlPattern;  // GeminiApiUrlBase: the upload and API roots derive from it
  std::string ApiKey;
  TStopToken* Stop = nullptr;
  // Runs on the uploading thread: the file's name and the share of its bytes sent, 0 to 100.
  std::function<void(const std::string& AName, int APercent)> OnProgress;
  // The waits between looks at a file the service is still processing, and the longest it may take.
  std::chrono::milliseconds FirstLookGap{200};
  std::chrono::milliseconds LongestLookGap{2000};
  std::chrono::seconds ProcessingLimit{15 * 60};
};

struct TFilePartsPlan {
  std::vector<TUploadedFile> Uploaded;  // sent now
  std::size_t Reused = 0;               // parts that refer to an earlier upload
};

// Sets FileUri and FileExpires on the parts of AHistory that go by reference, uploading
// what must go up; parts that keep their inline data are left as they are. With
// AReuploadReused, the parts that referred to an earlier upload are sent again (the
// service no longer knew one). Raises as the transport does; a file above kMaxUploadBytes
// raises TRequestError "TFileTooLarge".
TFilePartsPlan PrepareFileParts(TChatHistory& AHistory, const TUploadContext& AContext, bool AReuploadReused = false,
                                std::chrono::system_clock::time_point ANow = std::chrono::system_clock::now());

// One attachment through the resumable upload, polled until the service has it ready.
TUploadedFile UploadAttachment(const TContentPart& APart, const TUploadContext& AContext);

// An RFC 3339 time ("2026-12-13T03:50:00.123456Z", offsets allowed); nullopt when unreadable.
std::optional<std::chrono::system_clock::time_point> ParseRfc3339(std::string_view AText);

// The bytes that standard Base64 (no line breaks) decodes to.
std::uint64_t DecodedBase64Size(std::string_view ABase64);

// Base64 decoded as it is sent, so that a file of hundreds of megabytes is never held
// decoded in memory beside its Base64.
class TBase64Body : public THttpBody {
 public:
  explicit TBase64Body(std::string_view ABase64) : FBase64(ABase64), FSize(DecodedBase64Size(ABase64)) {}
  std::uint64_t Size() const override { return FSize; }
  std::size_t Read(char* ADest, std::size_t AMax) override;
  bool Seek(std::uint64_t AOffset) override;

 private:
  std::string_view FBase64;
  std::uint64_t FSize;
  std::uint64_t FAt = 0;  // decoded bytes read so far
};

}  // namespace tarvok
