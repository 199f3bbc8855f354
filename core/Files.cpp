#include "core/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "core/Platform.h"

namespace tarvok {

std::optional<std::string> ReadWholeFile(const std::filesystem::path& APath) {
  // A folder opens as a stream on some systems and reports a nonsense size.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(APath, ec)) return std::nullopt;
  std::ifstream in(APath, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data;
  in.seekg(0, std::ios::end);
  const auto size = in.tellg();
  if (size < 0) return std::nullopt;
  try {
    data.resize(static_cast<std::size_t>(size));
  } catch (const std::exception&) {
    return std::nullopt;  // no memory for it: as unreadable
  }
  in.seekg(0, std::ios::beg);
  if (size > 0 && !in.read(data.data(), size)) return std::nullopt;
  return data;
}

void WriteFileAtomic(const std::filesystem::path& APath, std::string_view AContent) {
  std::random_device rd;
  const std::filesystem::path temp =
      APath.parent_path() / PathFromUtf8("." + PathToUtf8(APath.filename()) + "." + std::to_string(rd() % 1000000) + ".tmp");
  auto fail = [&](const std::string& what) {
    const std::string reason = std::strerror(errno);
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    throw TFileError("Не удалось записать файл " + PathToUtf8(APath) + ": " + what + " (" + reason + ")");
  };
  std::FILE* f =
#ifdef _WIN32
      _wfopen(temp.c_str(), L"wb");
#else
      std::fopen(temp.c_str(), "wb");
#endif
  if (!f) fail("create");
  if (!AContent.empty() && std::fwrite(AContent.data(), 1, AContent.size(), f) != AContent.size()) {
    std::fclose(f);
    fail("write");
  }
  if (std::fflush(f) != 0) { std::fclose(f); fail("flush"); }
#ifdef _WIN32
  _commit(_fileno(f));
#else
  ::fsync(fileno(f));
#endif
  if (std::fclose(f) != 0) fail("close");
  std::error_code ec;
  MoveFileOver(temp, APath, ec);
  if (ec) {
    errno = ec.value();
    fail("rename");
  }
}

}  // namespace tarvok
