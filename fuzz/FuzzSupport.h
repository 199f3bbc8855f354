#pragma once
// Shared by the fuzz targets: a private scratch folder for the readers that take a file
// name, and a way to hand the input over as such a file. The folder sits in memory
// (/dev/shm) where there is one, so a run of millions of inputs spares the disk.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarvok::fuzz {

inline const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    std::filesystem::path base = "/dev/shm";
    std::error_code ec;
    if (!std::filesystem::is_directory(base, ec)) base = std::filesystem::temp_directory_path();
    std::string pattern = (base / "tarvok-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    return std::filesystem::path(pattern);
  }();
  return dir;
}

// Writes the bytes to a file of the scratch folder and returns its path (plain stdio:
// the product's atomic write is not what is under test here).
inline std::filesystem::path WriteScratchFile(const std::string& AName, std::string_view ABytes) {
  const std::filesystem::path path = ScratchDir() / AName;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (!ABytes.empty() && std::fwrite(ABytes.data(), 1, ABytes.size(), f) != ABytes.size()) std::abort();
  std::fclose(f);
  return path;
}

inline std::string_view AsText(const std::uint8_t* AData, std::size_t ASize) {
  return {reinterpret_cast<const char*>(AData), ASize};
}

// A failed property of the code under test: a finding, whatever the build.
#define TARVOK_FUZZ_CHECK(cond)                                                         \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

}  // namespace tarvok::fuzz
