// The creation time of a file on POSIX systems: the birth time where the file system
// keeps one (statx on Linux), else the modification time.
#include <fcntl.h>
#include <sys/stat.h>

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

}  // namespace tarvok
