#include "tests/app/support/InjectedFailures.h"

#include "core/RequestThread.h"

#include <fstream>
#include <sstream>
#include <system_error>
#include <unistd.h>

#ifdef __linux__
#include <sys/mount.h>
#endif

namespace tarvok {
namespace {

bool CanCreateIn(const std::filesystem::path& AFolder) {
  const auto probe = AFolder / ".write-probe";
  const bool created = static_cast<bool>(std::ofstream(probe));
  std::error_code ec;
  std::filesystem::remove(probe, ec);
  return created;
}

bool WriteLine(const std::filesystem::path& AFile, const std::string& AText) {
  std::ofstream out(AFile);
  out << AText << '\n';
  out.flush();
  return static_cast<bool>(out);
}

}  // namespace

TReadOnlyFolder::TReadOnlyFolder(const std::filesystem::path& AFolder) : FFolder(AFolder) {
  std::error_code ec;
  FOldPerms = std::filesystem::status(FFolder, ec).permissions();
  std::filesystem::permissions(FFolder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec, ec);
  if (!CanCreateIn(FFolder)) {
    FOk = true;
    return;
  }
  std::filesystem::permissions(FFolder, FOldPerms, ec);
#ifdef __linux__
  const std::string folder = FFolder.string();
  if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0) {
    FMounted = true;
    if (::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0)
      FOk = !CanCreateIn(FFolder);
    // A current folder held from before still reaches the writable folder under the mount.
    FWasCurrent = std::filesystem::equivalent(std::filesystem::current_path(), FFolder, ec);
    if (FWasCurrent) std::filesystem::current_path(FFolder, ec);
  }
#endif
}

TReadOnlyFolder::~TReadOnlyFolder() {
#ifdef __linux__
  std::error_code ec;
  if (FMounted) ::umount2(FFolder.string().c_str(), MNT_DETACH);
  if (FWasCurrent) std::filesystem::current_path(FFolder, ec);
#endif
  if (!FMounted) std::filesystem::permissions(FFolder, FOldPerms, ec);
}

TNoNewThreads::TNoNewThreads() {
  // No thread left over from an earlier request may take the next one either.
  TGeminiRequestThread::ReleaseIdleThreads();
  const std::filesystem::path root = "/sys/fs/cgroup/pids";
  std::ifstream self("/proc/self/cgroup");
  std::string line, current;
  while (std::getline(self, line)) {
    const auto at = line.find(":pids:");
    if (at != std::string::npos) current = line.substr(at + 6);
  }
  if (current.empty() || !std::filesystem::exists(root / "cgroup.procs")) return;
  FOldGroup = root / std::filesystem::path(current).relative_path();
  FGroup = FOldGroup / ("tarvok-no-threads-" + std::to_string(::getpid()));
  std::error_code ec;
  if (!std::filesystem::create_directory(FGroup, ec)) return;
  // A cap below the present count: threads ending meanwhile free no room for new ones.
  if (!WriteLine(FGroup / "pids.max", "1") || !WriteLine(FGroup / "cgroup.procs", std::to_string(::getpid()))) return;
  FOk = true;
}

TNoNewThreads::~TNoNewThreads() {
  if (FGroup.empty()) return;
  WriteLine(FOldGroup / "cgroup.procs", std::to_string(::getpid()));
  std::error_code ec;
  std::filesystem::remove(FGroup, ec);
}

}  // namespace tarvok
