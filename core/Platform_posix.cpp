#include <fcntl.h>
#include <iconv.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "core/Platform.h"
#include "core/DataFolder.h"

#ifdef __linux__
#include <sys/syscall.h>
#endif

namespace tarvok {
namespace {

std::mutex GDirLock;
std::filesystem::path GProgramDir;

bool IsAscii(std::string_view AText) {
  for (unsigned char c : AText)
    if (c >= 0x80) return false;
  return true;
}

// Between UTF-8 and a single-byte code page; ASCII is the same in both.
std::string Convert(std::string_view in, const char* to, const char* from) {
  if (IsAscii(in)) return std::string(in);
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.resize(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  std::size_t srcLeft = in.size();
  char* dst = out.data();
  std::size_t dstLeft = out.size();
  while (srcLeft > 0) {
    if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      const std::size_t used = out.size() - dstLeft;
      out.resize(out.size() * 2);
      dst = out.data() + used;
      dstLeft = out.size() - used;
      continue;
    }
    // An unmappable or invalid byte: write '?' and go on with the next one.
    if (dstLeft == 0) continue;
    *dst++ = '?';
    --dstLeft;
    ++src;
    --srcLeft;
  }
  out.resize(out.size() - dstLeft);
  iconv_close(cd);
  return out;
}

}  // namespace

std::filesystem::path ProgramDir() {
  std::lock_guard lock(GDirLock);
  if (GProgramDir.empty()) {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    GProgramDir = ec ? std::filesystem::current_path() : exe.parent_path();
  }
  return GProgramDir;
}

void SetProgramDir(const std::filesystem::path& ADir) {
  std::lock_guard lock(GDirLock);
  GProgramDir = ADir;
}

std::filesystem::path TempDir() {
  std::error_code ec;
  auto p = std::filesystem::temp_directory_path(ec);
  return ec ? std::filesystem::path("/tmp") : p;
}

std::string DecodeLegacyCodePage(std::string_view ABytes) { return Convert(ABytes, "UTF-8", "WINDOWS-1251"); }
std::string EncodeLegacyCodePage(std::string_view AUtf8) { return Convert(AUtf8, "WINDOWS-1251", "UTF-8"); }

std::filesystem::path PathFromUtf8(std::string_view AUtf8) { return std::filesystem::path(std::string(AUtf8)); }
std::string PathToUtf8(const std::filesystem::path& APath) { return APath.string(); }

std::string_view PathSeparatorChars() { return "/"; }

void MoveFileOver(const std::filesystem::path& ATemp, const std::filesystem::path& ATarget, std::error_code& AError) {
  std::filesystem::rename(ATemp, ATarget, AError);
}

unsigned long long TickCountMs() {
  return static_cast<unsigned long long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

unsigned long long CurrentThreadIdNumber() {
#ifdef __linux__
  return static_cast<unsigned long long>(syscall(SYS_gettid));
#else
  return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pthread_self()));
#endif
}

unsigned long long CurrentProcessIdNumber() { return static_cast<unsigned long long>(::getpid()); }

bool ProcessIsRunning(unsigned long long APid) {
  const auto pid = static_cast<pid_t>(APid);
  if (pid <= 0 || static_cast<unsigned long long>(pid) != APid) return false;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::filesystem::path UserDataRoot() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  return XdgDataRoot(xdg ? xdg : "", home ? home : "");
}

bool LocalTimeOf(std::time_t AWhen, std::tm& ALocal) { return localtime_r(&AWhen, &ALocal) != nullptr; }

std::FILE* OpenFileForReading(const std::string& AUtf8Path) { return std::fopen(AUtf8Path.c_str(), "rb"); }

std::FILE* CreateNewPrivateFile(const std::filesystem::path& APath) {
  const int fd = ::open(APath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return f;
}

bool FlushFileToDisk(std::FILE* AFile) { return ::fsync(fileno(AFile)) == 0 || errno == EINVAL; }

void StartFileWriteBack(std::FILE* AFile, std::uint64_t AOffset, std::uint64_t ALength) {
#ifdef __linux__
  ::sync_file_range(fileno(AFile), static_cast<off_t>(AOffset), static_cast<off_t>(ALength), SYNC_FILE_RANGE_WRITE);
#else
  (void)AFile;
  (void)AOffset;
  (void)ALength;
#endif
}

void AdviseLargePages(void* AData, std::size_t ASize) {
#ifdef MADV_HUGEPAGE
  // Only whole large pages inside the buffer: the advice applies to the pages it covers.
  constexpr std::uintptr_t kLargePage = 2u << 20;
  const auto begin = (reinterpret_cast<std::uintptr_t>(AData) + kLargePage - 1) & ~(kLargePage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(AData) + ASize) & ~(kLargePage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)AData;
  (void)ASize;
#endif
}

void ReturnFreeMemory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

}  // namespace tarvok
