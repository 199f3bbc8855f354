#pragma once
// POSIX-only pieces of the CLI backend tests: processes, permission bits, the environment.

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "CliTestSupport.h"

namespace tarvok::test {

inline bool ProcessGone(pid_t APid) {
  if (::kill(APid, 0) != 0) return true;
  std::ifstream stat("/proc/" + std::to_string(APid) + "/stat");
  std::string pid, name, state;
  stat >> pid >> name >> state;
  return state == "Z";  // ended, waiting for a parent that may never reap it here
}

// Waits (boundedly) for the process to end; kills it when it does not, so that a failing
// test leaves nothing behind.
inline bool WaitUntilGone(pid_t APid) {
  for (int i = 0; i < 1000; ++i) {
    if (ProcessGone(APid)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(APid, SIGKILL);
  return false;
}

// Waits (boundedly) until the process works in AFolder.
inline bool WaitUntilCwd(pid_t APid, const std::filesystem::path& AFolder) {
  for (int i = 0; i < 1000; ++i) {
    std::error_code ec;
    if (std::filesystem::read_symlink("/proc/" + std::to_string(APid) + "/cwd", ec) ==
        std::filesystem::canonical(AFolder, ec))
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Sets an environment variable for the test's lifetime (AValue nullopt: unset).
class TScopedEnv {
 public:
  TScopedEnv(const char* AName, const std::optional<std::string>& AValue) : FName(AName) {
    if (const char* old = std::getenv(AName)) FOld = old;
    if (AValue)
      ::setenv(AName, AValue->c_str(), 1);
    else
      ::unsetenv(AName);
  }
  ~TScopedEnv() {
    if (FOld)
      ::setenv(FName, FOld->c_str(), 1);
    else
      ::unsetenv(FName);
  }
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

// The permission bits of a file or folder (not following a link).
inline unsigned Mode(const std::filesystem::path& APath) {
  struct stat st {};
  return ::lstat(APath.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFF;
}

// A private runtime folder (XDG_RUNTIME_DIR) and HOME of the test's own, so that the
// private files of the runs land there.
class TPrivateHome {
 public:
  TPrivateHome() : FRuntimeEnv("XDG_RUNTIME_DIR", Private(FRuntime)), FHomeEnv("HOME", FHome.Path().string()) {}
  const std::filesystem::path& Runtime() const { return FRuntime.Path(); }
  const std::filesystem::path& Home() const { return FHome.Path(); }

 private:
  static std::string Private(const TTempDir& ADir) {
    ::chmod(ADir.Path().c_str(), 0700);
    return ADir.Path().string();
  }
  TTempDir FRuntime, FHome;
  TScopedEnv FRuntimeEnv, FHomeEnv;
};

// A small file system of its own (tmpfs) mounted over AFolder for the test's lifetime, to
// show what a full disk does. Mounting needs root; Error() says why it did not happen.
class TSmallDisk {
 public:
  TSmallDisk(const std::filesystem::path& AFolder, const std::string& AOptions) : FFolder(AFolder) {
    std::filesystem::create_directories(AFolder);
    if (::mount("tmpfs", AFolder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, AOptions.c_str()) == 0)
      FMounted = true;
    else
      FError = "cannot mount a small file system here (" + std::string(std::strerror(errno)) + ")";
  }
  ~TSmallDisk() {
    if (FMounted) ::umount2(FFolder.c_str(), MNT_DETACH);
  }
  TSmallDisk(const TSmallDisk&) = delete;
  TSmallDisk& operator=(const TSmallDisk&) = delete;
  const std::string& Error() const { return FError; }

 private:
  std::filesystem::path FFolder;
  bool FMounted = false;
  std::string FError;
};

}  // namespace tarvok::test
