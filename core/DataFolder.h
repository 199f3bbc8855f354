#pragma once
// Where Tarvok keeps its files. Beside the executable when that folder is writable (a
// copy in the user's own folder, the usual case); a system-wide install, whose program
// folder the user cannot write, keeps them per user in $XDG_DATA_HOME/tarvok, by
// default ~/.local/share/tarvok.

#include <filesystem>
#include <string_view>

namespace tarvok {

// The decision alone: AXdgDataHome and AHome are the environment's values (empty when
// unset). A relative XDG_DATA_HOME is ignored, as the base-directory rules say. With no
// usable home either, the program folder is all there is.
std::filesystem::path ChooseDataDir(const std::filesystem::path& AProgramDir, bool AProgramDirWritable,
                                    std::string_view AXdgDataHome, std::string_view AHome);

// Whether a file can be created in the folder: tried for real, since permission bits
// do not tell about read-only mounts or access lists.
bool FolderWritable(const std::filesystem::path& ADir);

// The folder of the executable, where the files shipped with it (AddKey.html) lie; it
// differs from ProgramDir() only for a system-wide install. Unset, it is ProgramDir().
std::filesystem::path InstallDir();
void SetInstallDir(const std::filesystem::path& ADir);

}  // namespace tarvok
