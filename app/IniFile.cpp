#include "app/IniFile.h"

#include "app/IntText.h"
#include "core/Files.h"
#include "core/Text.h"

namespace tarvok {
namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool SameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// "[name]" gives name; anything else gives nullopt.
bool SectionName(std::string_view line, std::string_view& name) {
  line = TrimBlanks(line);
  if (line.size() < 2 || line.front() != '[') return false;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return false;
  name = TrimBlanks(line.substr(1, close - 1));
  return true;
}

}  // namespace

TIniFile::TIniFile(std::filesystem::path APath) : FPath(std::move(APath)) {
  auto data = ReadWholeFile(FPath);
  if (!data) return;
  std::string_view text = *data;
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
    FHasBom = true;
    text.remove_prefix(kUtf8Bom.size());
  }
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    FLines.emplace_back(line);
    start = end + 1;
  }
}

bool TIniFile::FindSection(std::string_view ASection, std::size_t& AHeader, std::size_t& AEnd) const {
  std::string_view name;
  for (std::size_t i = 0; i < FLines.size(); ++i) {
    if (!SectionName(FLines[i], name) || !SameAscii(name, ASection)) continue;
    AHeader = i;
    AEnd = i + 1;
    while (AEnd < FLines.size() && !SectionName(FLines[AEnd], name)) ++AEnd;
    return true;
  }
  return false;
}

std::size_t TIniFile::FindKey(std::size_t AFirst, std::size_t AEnd, std::string_view AKey) const {
  for (std::size_t i = AFirst; i < AEnd; ++i) {
    std::string_view line = FLines[i];
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const auto trimmed = TrimBlanks(line);
    if (!trimmed.empty() && trimmed.front() == ';') continue;
    if (SameAscii(TrimBlanks(line.substr(0, eq)), AKey)) return i;
  }
  return std::string::npos;
}

std::string TIniFile::ReadString(std::string_view ASection, std::string_view AKey, std::string_view ADefault) const {
  std::size_t header = 0, end = 0;
  if (!FindSection(ASection, header, end)) return std::string(ADefault);
  const auto at = FindKey(header + 1, end, AKey);
  if (at == std::string::npos) return std::string(ADefault);
  std::string_view value = TrimBlanks(std::string_view(FLines[at]).substr(FLines[at].find('=') + 1));
  return std::string(value);
}

int TIniFile::ReadInteger(std::string_view ASection, std::string_view AKey, int ADefault) const {
  std::size_t header = 0, end = 0;
  if (!FindSection(ASection, header, end) || FindKey(header + 1, end, AKey) == std::string::npos) return ADefault;
  return TryStrToInt(ReadString(ASection, AKey, "")).value_or(ADefault);
}

void TIniFile::WriteString(std::string_view ASection, std::string_view AKey, std::string_view AValue) {
  std::string line = std::string(AKey) + "=" + std::string(AValue);
  std::size_t header = 0, end = 0;
  if (!FindSection(ASection, header, end)) {
    if (!FLines.empty() && !TrimBlanks(FLines.back()).empty()) FLines.emplace_back();
    FLines.push_back("[" + std::string(ASection) + "]");
    FLines.push_back(std::move(line));
    return;
  }
  const auto at = FindKey(header + 1, end, AKey);
  if (at != std::string::npos) {
    FLines[at] = std::move(line);
    return;
  }
  // After the section's last non-blank line, so a blank separator line stays below it.
  std::size_t insertAt = end;
  while (insertAt > header + 1 && TrimBlanks(FLines[insertAt - 1]).empty()) --insertAt;
  FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
}

void TIniFile::WriteInteger(std::string_view ASection, std::string_view AKey, int AValue) {
  WriteString(ASection, AKey, std::to_string(AValue));
}

void TIniFile::UpdateFile() const {
  std::string out;
  if (FHasBom) out += kUtf8Bom;
  for (const auto& line : FLines) {
    out += line;
    out += "\r\n";
  }
  WriteFileAtomic(FPath, out);
}

}  // namespace tarvok
