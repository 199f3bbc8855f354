// The creation time of a file on POSIX systems: the birth time where the file system
// keeps one (statx on Linux), else the modification time.
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

#include "storage/ChatLibrary.h"

namespace tarvok {

std::int64_t FileCreationTimeNs(const std::string& APath) {
  constexpr std::int64_t kNs = 1'000'000'000;
#if defined(__linux__) && defined(STATX_BTIME)
  struct statx sx{};
  if (::statx(AT_FDCWD, APath.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) == 0) {
    if (sx.stx_mask & STATX_BTIME) return static_cast<std::int64_t>(sx.stx_btime.tv_sec) * kNs + sx.stx_btime.tv_nsec;
    if (sx.stx_mask & STATX_MTIME) return static_cast<std::int64_t>(sx.stx_mtime.tv_sec) * kNs + sx.stx_mtime.tv_nsec;
  }
#endif
  struct stat st{};
  if (::stat(APath.c_str(), &st) != 0) return 0;
#if defined(__APPLE__)
  return static_cast<std::int64_t>(st.st_birthtimespec.tv_sec) * kNs + st.st_birthtimespec.tv_nsec;
#else
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNs + st.st_mtim.tv_nsec;
#endif
}

std::int64_t ChatCreationTimeNs(const std::string& APath) {
  TDateTimeParts stamp;
  const std::size_t slash = APath.find_last_of('/');
  if (ChatNameStamp(slash == std::string::npos ? APath : APath.substr(slash + 1), stamp)) {
    std::tm local{};
    local.tm_year = stamp.Year - 1900;
    local.tm_mon = stamp.Month - 1;
    local.tm_mday = stamp.Day;
    local.tm_hour = stamp.Hour;
    local.tm_min = stamp.Minute;
    local.tm_sec = stamp.Second;
    local.tm_isdst = -1;
    const std::time_t t = std::mktime(&local);
    if (t != static_cast<std::time_t>(-1)) return static_cast<std::int64_t>(t) * 1'000'000'000;
  }
  return FileCreationTimeNs(APath);
}

}  // namespace tarvok
