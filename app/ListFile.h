#pragma once
// The key and model list files: one entry per line, CR LF line ends, read in the
// encoding the byte-order mark names (the legacy code page without one) and written
// back in the same encoding.

#include <filesystem>
#include <string>
#include <vector>

namespace tarvok {

enum class TListEncoding { Legacy, Utf8Bom, Utf16LE, Utf16BE };

struct TListFile {
  std::vector<std::string> Lines;  // UTF-8
  TListEncoding Encoding = TListEncoding::Legacy;
  // The file is there but could not be read: it is never written over.
  bool Unreadable = false;
};

// False when the file cannot be read (not a regular file, no access); AError then says why.
bool LoadListFile(const std::filesystem::path& APath, TListFile& AList, std::string* AError = nullptr);
// Atomic; raises TFileError on failure. A symbolic link stays one: its target is written.
void SaveListFile(const std::filesystem::path& APath, const TListFile& AList);

// Index of the first entry equal to AText without regard to letter case, or -1.
int IndexOfNoCase(const std::vector<std::string>& ALines, std::string_view AText);

}  // namespace tarvok
