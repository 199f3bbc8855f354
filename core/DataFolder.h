#pragma once
// Where Tarvok keeps its files. Beside the executable when that folder already holds them
// or is writable (a copy in the user's own folder, the usual case); a system-wide install,
// whose program folder holds none of them and cannot be written, keeps them per user:
// $XDG_DATA_HOME/tarvok, by default ~/.local/share/tarvok, or %LOCALAPPDATA%\tarvok on
// Windows.

#include <filesystem>
#include <string_view>

namespace tarvok {

// The decision alone: beside the executable when that folder holds Tarvok's files or is
// writable, else in "tarvok" under AUserDataRoot (see UserDataRoot); with no such root, the
// program folder is all there is. A folder with our files stays ours even when a write
// fails there (a full disk, a quota): moving would hide every chat, while the saves that
// fail say what is wrong.
std::filesystem::path ChooseDataDir(const std::filesystem::path& AProgramDir, bool AProgramDirHoldsData,
                                    bool AProgramDirWritable, const std::filesystem::path& AUserDataRoot);

// Whether the folder holds any of Tarvok's own files: config.ini, chats, ApiStats,
// Keys.txt, Models.txt or HistoryNewPartPrompt.txt.
bool HoldsTarvokData(const std::filesystem::path& ADir);

// The data folder for a program folder: the rule above with the folder looked at for real.
// The write probe runs only for a folder without our files.
std::filesystem::path DataDirFor(const std::filesystem::path& AProgramDir, const std::filesystem::path& AUserDataRoot);

// The XDG rule for the user's data root from the environment's values (empty when
// unset): an absolute XDG_DATA_HOME, else HOME/.local/share; a relative value is
// ignored, as the base-directory rules say. Empty when neither gives an absolute folder.
std::filesystem::path XdgDataRoot(std::string_view AXdgDataHome, std::string_view AHome);

// Whether a file can be created in the folder: tried for real, since permission bits
// do not tell about read-only mounts or access lists.
bool FolderWritable(const std::filesystem::path& ADir);

// The folder of the executable, where the files shipped with it (AddKey.html) lie; it
// differs from ProgramDir() only for a system-wide install. Unset, it is ProgramDir().
std::filesystem::path InstallDir();
void SetInstallDir(const std::filesystem::path& ADir);

}  // namespace tarvok
