#pragma once
// A fresh folder per test, removed afterwards.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "core/Platform.h"

namespace tarvok::test {

class TTempDir {
 public:
  TTempDir() {
    std::random_device rd;
    FPath = TempDir() / ("tarvok-core-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(FPath);
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
  }
  const std::filesystem::path& Path() const { return FPath; }
  std::string Write(const std::string& AName, std::string_view ABytes) const {
    const auto file = FPath / AName;
    std::ofstream(file, std::ios::binary).write(ABytes.data(), static_cast<std::streamsize>(ABytes.size()));
    return file.string();
  }

 private:
  std::filesystem::path FPath;
};

}  // namespace tarvok::test
