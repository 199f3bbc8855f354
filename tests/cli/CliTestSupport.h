#pragma once
// Shared pieces of the CLI backend tests: a fresh folder per test and a stand-in `gemini`
// program put first on PATH.

#include <sys/stat.h>

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

inline void MakeExecutable(const std::filesystem::path& AFile) { ::chmod(AFile.c_str(), 0755); }

// Puts AFolder in front of PATH for the test's lifetime. Set before any worker starts.
class TPathPrefix {
 public:
  explicit TPathPrefix(const std::filesystem::path& AFolder) : FOld(std::getenv("PATH") ? std::getenv("PATH") : "") {
    ::setenv("PATH", (AFolder.string() + ":" + FOld).c_str(), 1);
  }
  ~TPathPrefix() { ::setenv("PATH", FOld.c_str(), 1); }

 private:
  std::string FOld;
};

}  // namespace tarvok::test
