#pragma once
// Files that carry the user's conversation or run as the user's scripts outside the
// program's folder (the CLI's working folders, the setup scripts and their logs) live in
// a folder nobody else can enter, under names nobody can guess or plant beforehand.

#include <filesystem>
#include <string>
#include <string_view>

namespace tarvok {

// The user's own folder: $XDG_RUNTIME_DIR/tarvok when that runtime folder is the user's
// and private, else ~/.cache/tarvok; %TEMP%\tarvok on Windows. Made with owner-only
// rights when missing; a folder there that is a link, belongs to someone else or cannot
// be made private is refused. Throws TFileError when there is no usable folder.
std::filesystem::path UserPrivateFolder();

// A new folder with owner-only rights in AParent, named APrefix and random characters
// (mkdtemp): never one that existed before. Throws TFileError.
std::filesystem::path MakePrivateFolder(const std::filesystem::path& AParent, const std::string& APrefix);

// Writes a new file only its owner can read (0600); an existing file or link of that name
// is never written through. Throws TFileError.
void WritePrivateFile(const std::filesystem::path& APath, std::string_view AFirst, std::string_view ASecond = {});

}  // namespace tarvok
