#pragma once
// Shared pieces of the CLI backend tests: a fresh folder per test and a stand-in `gemini`
// program put first on PATH.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "core/Files.h"
#include "core/Platform.h"

namespace tarvok::test {

class TTempDir {
 public:
  explicit TTempDir(const std::string& APrefix = "tarvok-cli-") {
    std::random_device rd;
    FPath = TempDir() / (APrefix + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(FPath);
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path Write(const std::string& AName, std::string_view ABytes) const {
    const auto file = FPath / AName;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
    return file;
  }
  std::string Read(const std::string& AName) const { return ReadWholeFile(FPath / AName).value_or("<missing>"); }

 private:
  std::filesystem::path FPath;
};

inline void MakeExecutable(const std::filesystem::path& AFile) {
  using std::filesystem::perms;
  std::filesystem::permissions(AFile, perms::owner_all | perms::group_read | perms::group_exec | perms::others_read |
                                          perms::others_exec);
}

// The process environment as the system's process creation sees it (TestEnv_*.cpp).
std::string GetEnvVar(const std::string& AName);
void SetEnvVar(const std::string& AName, const std::string& AValue);
// The separator of PATH's folders.
char PathListSeparator();

// Puts AFolder in front of PATH for the test's lifetime. Set before any worker starts.
class TPathPrefix {
 public:
  explicit TPathPrefix(const std::filesystem::path& AFolder) : FOld(GetEnvVar("PATH")) {
    SetEnvVar("PATH", PathToUtf8(AFolder) + PathListSeparator() + FOld);
  }
  ~TPathPrefix() { SetEnvVar("PATH", FOld); }
  TPathPrefix(const TPathPrefix&) = delete;
  TPathPrefix& operator=(const TPathPrefix&) = delete;

 private:
  std::string FOld;
};

}  // namespace tarvok::test
