#pragma once
// A fresh folder per test under the system's temporary folder, set as the program
// folder (chats live beside the executable), removed afterwards.

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>

#include "core/Files.h"
#include "core/Platform.h"

namespace tarvok::test {

// Wine differs from Windows in a few places the tests know of (TestSystem_*.cpp).
bool RunningUnderWine();

class TTestFolder {
 public:
  TTestFolder() {
    static std::atomic<int> counter{0};
    static const unsigned run = std::random_device{}();
    FPath = TempDir() / ("tarvok-storage-" + std::to_string(run) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(FPath);
    std::filesystem::create_directories(FPath);
    SetProgramDir(FPath);
  }
  ~TTestFolder() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  TTestFolder(const TTestFolder&) = delete;
  TTestFolder& operator=(const TTestFolder&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  // A UTF-8 path inside the folder.
  std::string File(std::string_view AName) const { return PathToUtf8(FPath / PathFromUtf8(AName)); }
  std::string Write(std::string_view AName, std::string_view ABytes) const {
    const std::string path = File(AName);
    std::filesystem::create_directories(PathFromUtf8(path).parent_path());
    WriteFileAtomic(PathFromUtf8(path), ABytes);
    return path;
  }
  std::string Read(std::string_view AName) const { return ReadWholeFile(PathFromUtf8(File(AName))).value_or("<missing>"); }

 private:
  std::filesystem::path FPath;
};

}  // namespace tarvok::test
