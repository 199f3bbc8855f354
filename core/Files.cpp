#include "core/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>

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

namespace {

// ".<name>.<process id>-<random>.tmp": hidden, and named so that no listing of chats,
// parts, counters or lists takes it for one of them. A long name is cut (at a character
// boundary) so the temporary name stays within the 255 bytes a file name may have, even
// when the file's own name is close to that.
std::string TempPrefix(const std::filesystem::path& APath) {
  constexpr std::size_t kMaxNameBytes = 200;
  std::string name = PathToUtf8(APath.filename());
  if (name.size() > kMaxNameBytes) {
    std::size_t cut = kMaxNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  return "." + name + ".";
}

// A kill or a power cut between creating the temporary file and the rename leaves it
// behind. The next save of the same file removes those whose process is gone; a
// temporary file of a save still running in another process is left alone.
void RemoveStaleTemps(const std::filesystem::path& APath) {
  const std::string prefix = TempPrefix(APath);
  std::error_code ec;
  std::filesystem::directory_iterator it(APath.parent_path().empty() ? "." : APath.parent_path(), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string name = PathToUtf8(it->path().filename());
    if (!name.starts_with(prefix) || !name.ends_with(".tmp")) continue;
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    const std::size_t dash = rest.find('-');
    unsigned long long pid = 0;
    if (dash == std::string_view::npos || dash == 0) continue;
    bool digits = true;
    for (char c : rest.substr(0, dash)) {
      if (c < '0' || c > '9') { digits = false; break; }
      pid = pid * 10 + static_cast<unsigned>(c - '0');
    }
    if (!digits || pid == CurrentProcessIdNumber() || ProcessIsRunning(pid)) continue;
    std::error_code removeError;
    std::filesystem::remove(it->path(), removeError);
  }
}

}  // namespace

void CreatePrivateDirectories(const std::filesystem::path& APath, std::error_code& AError) {
  AError.clear();
  if (APath.empty()) return;
  const std::filesystem::file_status status = std::filesystem::status(APath, AError);
  if (status.type() == std::filesystem::file_type::directory) {
    AError.clear();
    return;
  }
  if (status.type() != std::filesystem::file_type::not_found) {
    if (!AError) AError = std::make_error_code(std::errc::not_a_directory);
    return;
  }
  AError.clear();
  const std::filesystem::path parent = APath.parent_path();
  if (!parent.empty() && parent != APath) {
    CreatePrivateDirectories(parent, AError);
    if (AError) return;
  }
  if (std::filesystem::create_directory(APath, AError))
    std::filesystem::permissions(APath, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace, AError);
  else if (!AError && !std::filesystem::is_directory(APath, AError) && !AError)
    AError = std::make_error_code(std::errc::not_a_directory);
}

void WriteFileAtomic(const std::filesystem::path& APath, std::string_view AContent) {
  std::random_device rd;
  const std::filesystem::path temp =
      APath.parent_path() / PathFromUtf8(TempPrefix(APath) + std::to_string(CurrentProcessIdNumber()) + "-" +
                                         std::to_string(rd() % 1000000) + ".tmp");
  auto fail = [&](const std::string& what) {
    const std::string reason = std::strerror(errno);
    std::error_code ec;
    std::filesystem::remove(temp, ec);
    throw TFileError("Не удалось записать файл " + PathToUtf8(APath) + ": " + what + " (" + reason + ")");
  };
  // Owner-only from the first byte: these files hold the user's chats and keys. A new
  // name each time, never following a link someone put there.
  std::FILE* f = CreateNewPrivateFile(temp);
  if (!f) fail("create");
  if (!AContent.empty() && std::fwrite(AContent.data(), 1, AContent.size(), f) != AContent.size()) {
    std::fclose(f);
    fail("write");
  }
  if (std::fflush(f) != 0) { std::fclose(f); fail("flush"); }
  if (!FlushFileToDisk(f)) { std::fclose(f); fail("flush"); }
  if (std::fclose(f) != 0) fail("close");
  std::error_code ec;
  MoveFileOver(temp, APath, ec);
  if (ec) {
    errno = ec.value();
    fail("rename");
  }
  RemoveStaleTemps(APath);
}

TAtomicFileWriter::TAtomicFileWriter(const std::filesystem::path& APath) : FPath(APath) {
  std::random_device rd;
  FTemp = APath.parent_path() / PathFromUtf8(TempPrefix(APath) + std::to_string(CurrentProcessIdNumber()) + "-" +
                                             std::to_string(rd() % 1000000) + ".tmp");
  FFile = CreateNewPrivateFile(FTemp);
  if (!FFile) Fail("create");
  // The pieces are large already; a stream buffer would only copy them once more.
  std::setvbuf(FFile, nullptr, _IONBF, 0);
}

TAtomicFileWriter::~TAtomicFileWriter() {
  if (!FFile) return;
  std::fclose(FFile);
  std::error_code ec;
  std::filesystem::remove(FTemp, ec);
}

void TAtomicFileWriter::Fail(const std::string& AWhat) {
  const std::string reason = std::strerror(errno);
  if (FFile) std::fclose(FFile);
  FFile = nullptr;
  std::error_code ec;
  std::filesystem::remove(FTemp, ec);
  throw TFileError("Не удалось записать файл " + PathToUtf8(FPath) + ": " + AWhat + " (" + reason + ")");
}

void TAtomicFileWriter::Write(std::string_view AData) {
  if (!FFile) Fail("write");
  if (!AData.empty() && std::fwrite(AData.data(), 1, AData.size(), FFile) != AData.size()) Fail("write");
  FWritten += AData.size();
  // Start writing what is done to the disk now, without waiting for it, so that the
  // flush at the end waits only for the last pieces.
  constexpr std::uint64_t kWriteBackStep = 8 << 20;
  if (FWritten - FWriteBackAt >= kWriteBackStep) {
    StartFileWriteBack(FFile, FWriteBackAt, FWritten - FWriteBackAt);
    FWriteBackAt = FWritten;
  }
}

void TAtomicFileWriter::Commit() {
  if (!FFile) Fail("write");
  if (std::fflush(FFile) != 0) Fail("flush");
  if (!FlushFileToDisk(FFile)) Fail("flush");
  std::FILE* f = FFile;
  FFile = nullptr;
  if (std::fclose(f) != 0) Fail("close");
  std::error_code ec;
  MoveFileOver(FTemp, FPath, ec);
  if (ec) {
    errno = ec.value();
    Fail("rename");
  }
  RemoveStaleTemps(FPath);
}

}  // namespace tarvok
