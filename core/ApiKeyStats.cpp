#include "core/ApiKeyStats.h"

#include <limits>
#include <optional>
#include <vector>

#include "core/DateTime.h"
#include "core/Files.h"
#include "core/Platform.h"
#include "core/Text.h"

namespace tarvok {
namespace {

enum class TFileEncoding { Legacy, Utf8, Utf16LE, Utf16BE };

struct TStatsFile {
  TFileEncoding Encoding = TFileEncoding::Legacy;
  std::vector<std::string> Lines;  // UTF-8
};

bool IsReservedDeviceName(std::string_view name) {
  // Windows opens these as devices whatever the extension, so "CON.txt" is no file.
  const std::string upper = [&] {
    std::string s(name.substr(0, name.find('.')));
    for (char& c : s) if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
  }();
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
  return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' && upper[3] <= '9';
}

// The key becomes a file name, so it must stay inside ApiStats on every system.
bool IsSafeFileName(std::string_view key) {
  if (key == "." || key == "..") return false;
  for (unsigned char c : key)
    if (c < 0x20 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
      return false;
  return !IsReservedDeviceName(key);
}


// Lines end at CR LF, LF or CR; a last line without an end still counts.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

// A file with a byte-order mark is read (and later written) in its encoding; one
// without is in the legacy code page, as the program writes it.
std::optional<TStatsFile> ReadStatsFile(const std::filesystem::path& path) {
  TStatsFile file;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return file;
  const auto data = ReadWholeFile(path);
  if (!data) return std::nullopt;
  std::string_view bytes = *data;
  std::string text;
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    file.Encoding = TFileEncoding::Utf8;
    text = MakeValidUtf8(bytes.substr(3));
  } else if (bytes.starts_with("\xFF\xFE")) {
    file.Encoding = TFileEncoding::Utf16LE;
    text = Utf16BytesToUtf8(bytes.substr(2), false);
  } else if (bytes.starts_with("\xFE\xFF")) {
    file.Encoding = TFileEncoding::Utf16BE;
    text = Utf16BytesToUtf8(bytes.substr(2), true);
  } else {
    text = DecodeLegacyCodePage(bytes);
  }
  file.Lines = SplitLines(text);
  return file;
}

void WriteStatsFile(const std::filesystem::path& path, const TStatsFile& file) {
  std::string text;
  for (const std::string& line : file.Lines) text += line + "\r\n";
  std::string bytes;
  switch (file.Encoding) {
    case TFileEncoding::Legacy:
      bytes = EncodeLegacyCodePage(text);
      // A model name the code page cannot hold would come back as another name ("gemini-???"):
      // such a file is written as UTF-8 with a byte-order mark, which reading takes as well.
      if (DecodeLegacyCodePage(bytes) != text) bytes = std::string(kUtf8Bom) + text;
      break;
    case TFileEncoding::Utf8: bytes = std::string(kUtf8Bom) + text; break;
    case TFileEncoding::Utf16LE: bytes = "\xFF\xFE" + Utf8ToUtf16Bytes(text, false); break;
    case TFileEncoding::Utf16BE: bytes = "\xFE\xFF" + Utf8ToUtf16Bytes(text, true); break;
  }
  WriteFileAtomic(path, bytes);
}

// The integer of a field, or 0 when it is not one.
int FieldToInt(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) { negative = s[0] == '-'; s.remove_prefix(1); }
  if (s.empty()) return 0;
  long long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
    if (v > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return 0;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min()) return 0;
  return static_cast<int>(v);
}

bool IsBlank(unsigned char c) { return c >= 1 && c <= ' '; }

// A model name that would split (a blank, ';' or a quote in it) is written quoted, so
// that its line still reads as three fields and its count goes on.
std::string FieldText(std::string_view value) {
  bool plain = true;
  for (unsigned char c : value) plain = plain && c > ' ' && c != ';' && c != '"';
  if (plain) return std::string(value);
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

}  // namespace

std::vector<std::string> SplitDelimitedLine(std::string_view ALine) {
  std::vector<std::string> fields;
  // A NUL ends the text, as it ends a C string.
  ALine = ALine.substr(0, ALine.find('\0'));
  std::size_t p = 0;
  const std::size_t n = ALine.size();
  auto at = [&](std::size_t i) -> unsigned char { return i < n ? static_cast<unsigned char>(ALine[i]) : 0; };
  while (IsBlank(at(p))) ++p;
  while (p < n) {
    std::string field;
    if (at(p) == '"') {
      ++p;
      while (p < n) {
        if (at(p) == '"') {
          if (at(p + 1) == '"') { field += '"'; p += 2; continue; }
          ++p;
          break;
        }
        field += ALine[p++];
      }
    } else {
      const std::size_t start = p;
      while (at(p) > ' ' && at(p) != ';') ++p;
      field.assign(ALine.substr(start, p - start));
    }
    fields.push_back(std::move(field));
    while (IsBlank(at(p))) ++p;
    if (at(p) == ';') {
      if (p + 1 >= n) fields.emplace_back();
      do ++p; while (IsBlank(at(p)));
    }
  }
  return fields;
}

std::filesystem::path ApiStatsDir() { return ProgramDir() / "ApiStats"; }

TDateTime GetStatsDay() {
  const TDateTimeParts now = DecodeDateTime(Now());
  const TDateTime date = EncodeDateTime({now.Year, now.Month, now.Day});
  return now.Hour > 10 ? date : date - 1;
}

int GetRequestCount(const std::string& AKey, const std::string& AModel) {
  if (Trim(AKey).empty() || Trim(AModel).empty()) return -1;
  try {
    if (!IsSafeFileName(AKey)) return -1;
    const std::filesystem::path path = ApiStatsDir() / PathFromUtf8(AKey + ".txt");
    const std::string day = FormatDateTime("yyyy-mm-dd", GetStatsDay());
    const auto file = ReadStatsFile(path);
    if (!file) return -1;
    for (const std::string& line : file->Lines) {
      const auto fields = SplitDelimitedLine(line);
      if (fields.size() == 3 && fields[0] == day && SameTextNoCase(fields[1], AModel)) return FieldToInt(fields[2]);
    }
    return 0;
  } catch (...) {
    return -1;
  }
}

int IncrementRequestCount(const std::string& AKey, const std::string& AModel) {
  if (Trim(AKey).empty() || Trim(AModel).empty()) return -1;
  try {
    if (!IsSafeFileName(AKey)) return -1;
    const std::filesystem::path dir = ApiStatsDir();
    std::error_code ec;
    CreatePrivateDirectories(dir, ec);
    if (ec) return -1;
    const std::filesystem::path path = dir / PathFromUtf8(AKey + ".txt");
    const std::string day = FormatDateTime("yyyy-mm-dd", GetStatsDay());
    auto file = ReadStatsFile(path);
    if (!file) return -1;

    std::vector<std::string> kept;
    std::vector<std::vector<std::string>> keptFields;
    for (const std::string& line : file->Lines) {
      auto fields = SplitDelimitedLine(line);
      if (fields.size() != 3 || fields[0] != day) continue;
      kept.push_back(line);
      keptFields.push_back(std::move(fields));
    }
    int count = 1;
    std::size_t i = 0;
    while (i < kept.size() && !SameTextNoCase(keptFields[i][1], AModel)) ++i;
    if (i < kept.size()) {
      const int previous = FieldToInt(keptFields[i][2]);
      count = previous == std::numeric_limits<int>::max() ? previous : previous + 1;
    }
    std::string line = day + ";" + FieldText(AModel) + ";" + std::to_string(count);
    if (i < kept.size()) kept[i] = std::move(line);
    else kept.push_back(std::move(line));
    file->Lines = std::move(kept);
    WriteStatsFile(path, *file);
    return count;
  } catch (...) {
    return -1;
  }
}

}  // namespace tarvok
