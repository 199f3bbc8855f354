#pragma once
// One INI file read into memory and updated in place: keys and sections are found
// without regard to letter case, and every line the program does not write (other
// sections, other keys, comments) stays as it was.

#include <filesystem>
#include <string>
#include <vector>

namespace tarvok {

class TIniFile {
 public:
  // Reads the file when it exists (a UTF-8 byte-order mark is kept on writing back).
  explicit TIniFile(std::filesystem::path APath);

  std::string ReadString(std::string_view ASection, std::string_view AKey, std::string_view ADefault) const;
  // The default also when the value is not an integer.
  int ReadInteger(std::string_view ASection, std::string_view AKey, int ADefault) const;
  void WriteString(std::string_view ASection, std::string_view AKey, std::string_view AValue);
  void WriteInteger(std::string_view ASection, std::string_view AKey, int AValue);
  // Writes the file atomically; raises TFileError on failure.
  void UpdateFile() const;

 private:
  // The section's header line and the end of its lines; false when absent.
  bool FindSection(std::string_view ASection, std::size_t& AHeader, std::size_t& AEnd) const;
  std::size_t FindKey(std::size_t AFirst, std::size_t AEnd, std::string_view AKey) const;

  std::filesystem::path FPath;
  std::vector<std::string> FLines;
  bool FHasBom = false;
};

}  // namespace tarvok
