#pragma once
// Files that carry the user's conversation or run as the user's scripts outside the
// program's folder (the CLI's working folders, the setup scripts and their logs) live in
// a folder nobody else can enter, under names nobody can guess or plant beforehand.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/Files.h"
#include "core/Platform.h"

namespace tarvok {

// A file's content could not be written, or the file system had no room for a new name:
// the partly written file is gone, and the system's reason travels with the path.
class TWriteError : public TFileError {
 public:
  TWriteError(std::filesystem::path APath, std::string AReason, bool ANoSpace)
      : TFileError("cannot write " + PathToUtf8(APath) + ": " + AReason),
        FPath(std::move(APath)),
        FReason(std::move(AReason)),
        FNoSpace(ANoSpace) {}
  const std::filesystem::path& Path() const { return FPath; }
  const std::string& Reason() const { return FReason; }
  // The disk or the user's quota is full: another folder may still take the file.
  bool NoSpace() const { return FNoSpace; }

 private:
  std::filesystem::path FPath;
  std::string FReason;
  bool FNoSpace;
};

// The user's own folder: $XDG_RUNTIME_DIR/tarvok when that runtime folder is the user's,
// private and has room for ANeedBytes (it is a small share of memory), else the disk folder
// below; %TEMP%\tarvok on Windows. Made with owner-only rights when missing; a folder there
// that is a link, belongs to someone else or cannot be made private is refused. Throws
// TFileError when there is no usable folder.
std::filesystem::path UserPrivateFolder(std::uintmax_t ANeedBytes = 0);
// The same on disk: ~/.cache/tarvok (%TEMP%\tarvok on Windows).
std::filesystem::path UserDiskPrivateFolder();
// The folders above that exist and are private folders of ours, without making any.
std::vector<std::filesystem::path> ExistingUserPrivateFolders();

// A new folder with owner-only rights in AParent, named APrefix and random characters
// (mkdtemp): never one that existed before. Throws TFileError (TWriteError when there is
// no room).
std::filesystem::path MakePrivateFolder(const std::filesystem::path& AParent, const std::string& APrefix);

// Writes a new file only its owner can read (0600); an existing file or link of that name
// is never written through. Throws TFileError when the name cannot be made, TWriteError
// when the content cannot be written (the partly written file is then removed).
void WritePrivateFile(const std::filesystem::path& APath, std::string_view AFirst, std::string_view ASecond = {});

// A real folder (not a link) of this user that nobody else can enter.
bool IsPrivateFolderOfOurs(const std::filesystem::path& APath);
// Ends the processes a crashed program's run left working in AFolder (where the system
// lets them outlive it).
void EndRunsIn(const std::filesystem::path& AFolder);

// Folders of runs (CLI requests and setup scripts) carry the process id of the program
// that made them, so that a later start can tell the folders of runs whose program is gone.
std::string RunFolderPrefix(const std::string& ABaseName);
// Removes, from the user's private folders, the run folders whose program no longer runs,
// ending a CLI still at work in one. Only real folders of this user with owner-only rights and a run folder's name are
// touched; links are never followed. Returns how many were removed.
int RemoveStaleRunFolders();
// The same in one folder (for tests and the above).
int RemoveStaleRunFolders(const std::filesystem::path& AParent);

}  // namespace tarvok
