#include "core/DataFolder.h"

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>

#include "core/Platform.h"

namespace tarvok {
namespace {

std::mutex GInstallDirLock;
std::filesystem::path GInstallDir;

}  // namespace

std::filesystem::path ChooseDataDir(const std::filesystem::path& AProgramDir, bool AProgramDirHoldsData,
                                    bool AProgramDirWritable, const std::filesystem::path& AUserDataRoot) {
  if (AProgramDirHoldsData || AProgramDirWritable || AUserDataRoot.empty() || !AUserDataRoot.is_absolute())
    return AProgramDir;
  return AUserDataRoot / "tarvok";
}

bool HoldsTarvokData(const std::filesystem::path& ADir) {
  // log.txt and attachments/ are left out: names that common may be someone else's.
  static const char* const kFiles[] = {"config.ini", "Keys.txt", "Models.txt", "HistoryNewPartPrompt.txt"};
  static const char* const kFolders[] = {"chats", "ApiStats"};
  std::error_code ec;
  for (const char* name : kFiles)
    if (std::filesystem::is_regular_file(ADir / name, ec)) return true;
  for (const char* name : kFolders)
    if (std::filesystem::is_directory(ADir / name, ec)) return true;
  return false;
}

std::filesystem::path DataDirFor(const std::filesystem::path& AProgramDir, const std::filesystem::path& AUserDataRoot) {
  const bool holds = HoldsTarvokData(AProgramDir);
  return ChooseDataDir(AProgramDir, holds, holds || FolderWritable(AProgramDir), AUserDataRoot);
}

std::filesystem::path XdgDataRoot(std::string_view AXdgDataHome, std::string_view AHome) {
  const std::filesystem::path xdg = PathFromUtf8(AXdgDataHome);
  if (!AXdgDataHome.empty() && xdg.is_absolute()) return xdg;
  const std::filesystem::path home = PathFromUtf8(AHome);
  if (!AHome.empty() && home.is_absolute()) return home / ".local" / "share";
  return {};
}

bool FolderWritable(const std::filesystem::path& ADir) {
  std::error_code ec;
  if (!std::filesystem::is_directory(ADir, ec)) return false;
  static std::atomic<unsigned> counter{0};
  const auto probe =
      ADir / (".tarvok-write-test-" + std::to_string(CurrentThreadIdNumber()) + "-" + std::to_string(counter++));
  bool ok = false;
  {
    std::ofstream file(probe, std::ios::binary | std::ios::trunc);
    ok = file.is_open() && static_cast<bool>(file << 'x') && static_cast<bool>(file.flush());
  }
  std::filesystem::remove(probe, ec);
  return ok;
}

std::filesystem::path InstallDir() {
  {
    std::lock_guard lock(GInstallDirLock);
    if (!GInstallDir.empty()) return GInstallDir;
  }
  return ProgramDir();
}

void SetInstallDir(const std::filesystem::path& ADir) {
  std::lock_guard lock(GInstallDirLock);
  GInstallDir = ADir;
}

}  // namespace tarvok
