#pragma once
// Whole-file reads and atomic writes. Every file that holds user data is written
// through WriteFileAtomic: a temporary file in the same folder, flushed, then renamed
// over the old one, so a crash or a full disk never leaves a half-written file.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvok {

class TFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole file, or nullopt when it cannot be opened or read. Other processes may
// read and write the file meanwhile (share-deny-none).
std::optional<std::string> ReadWholeFile(const std::filesystem::path& APath);

// Replaces the file's content atomically; raises TFileError with the system's message
// on failure, leaving any earlier file untouched. The new file is readable by its owner
// only (POSIX); temporary files left by an earlier killed process are removed.
void WriteFileAtomic(const std::filesystem::path& APath, std::string_view AContent);

// The same atomic replace for a file written piece by piece as it is made, so that a
// large file need not be built whole in memory first and the disk works while the rest
// is made. The old file stays as it was until Commit renames the temporary file over it;
// a failed Write or Commit raises TFileError, and a writer dropped before Commit removes
// its temporary file.
class TAtomicFileWriter {
 public:
  explicit TAtomicFileWriter(const std::filesystem::path& APath);  // raises TFileError
  ~TAtomicFileWriter();
  TAtomicFileWriter(const TAtomicFileWriter&) = delete;
  TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

  void Write(std::string_view AData);
  void Commit();

 private:
  [[noreturn]] void Fail(const std::string& AWhat);
  std::filesystem::path FPath, FTemp;
  std::FILE* FFile = nullptr;
  std::uint64_t FWritten = 0;     // bytes written so far
  std::uint64_t FWriteBackAt = 0;  // where the last early write-back ended
};

// Creates the folder and its missing parents, each readable by its owner only (the
// folders of chats and counters); a folder that exists already is left as it is.
void CreatePrivateDirectories(const std::filesystem::path& APath, std::error_code& AError);

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace tarvok
