// The creation time of a file on Windows, which every NTFS and FAT file keeps.
#include <windows.h>

#include "core/Platform.h"
#include "storage/ChatLibrary.h"

namespace tarvok {

std::int64_t FileCreationTimeNs(const std::string& APath) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(PathFromUtf8(APath).c_str(), GetFileExInfoStandard, &data)) return 0;
  ULARGE_INTEGER t;
  t.LowPart = data.ftCreationTime.dwLowDateTime;
  t.HighPart = data.ftCreationTime.dwHighDateTime;
  // 100-nanosecond steps since 1601-01-01 to nanoseconds since 1970-01-01.
  constexpr std::int64_t kEpochDiff = 116444736000000000LL;
  return (static_cast<std::int64_t>(t.QuadPart) - kEpochDiff) * 100;
}

// Saves replace a chat with ReplaceFileW, which keeps the creation time.
std::int64_t ChatCreationTimeNs(const std::string& APath) { return FileCreationTimeNs(APath); }

}  // namespace tarvok
