#pragma once
// Real failures for a scope, for the paths that must survive them: a folder nothing can
// be written to, and a process in which no new thread can start. Each says whether it
// could be set up here; a test skips when it could not.

#include <filesystem>
#include <string>

namespace tarvok {

// By its mode; for root, whom the mode does not stop, by a read-only bind mount.
class TReadOnlyFolder {
 public:
  explicit TReadOnlyFolder(const std::filesystem::path& AFolder);
  ~TReadOnlyFolder();
  TReadOnlyFolder(const TReadOnlyFolder&) = delete;
  TReadOnlyFolder& operator=(const TReadOnlyFolder&) = delete;
  bool Ok() const { return FOk; }

 private:
  std::filesystem::path FFolder;
  std::filesystem::perms FOldPerms{};
  bool FMounted = false;
  bool FWasCurrent = false;
  bool FOk = false;
};

// The process moves into a pids cgroup that allows no further thread.
class TNoNewThreads {
 public:
  TNoNewThreads();
  ~TNoNewThreads();
  TNoNewThreads(const TNoNewThreads&) = delete;
  TNoNewThreads& operator=(const TNoNewThreads&) = delete;
  bool Ok() const { return FOk; }

 private:
  std::filesystem::path FOldGroup, FGroup;
  bool FOk = false;
};

}  // namespace tarvok
