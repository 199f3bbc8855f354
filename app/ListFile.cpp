#include "app/ListFile.h"

#include <cerrno>
#include <optional>
#include <system_error>

#include "core/Files.h"
#include "core/Platform.h"
#include "core/Text.h"

namespace tarvok {
namespace {

// The file a path names, through any chain of symbolic links; a link whose target is
// missing names that target.
std::filesystem::path LinkTarget(const std::filesystem::path& APath) {
  std::filesystem::path path = APath;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) break;
    const auto target = std::filesystem::read_symlink(path, ec);
    if (ec) break;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

}  // namespace

bool LoadListFile(const std::filesystem::path& APath, TListFile& AList, std::string* AError) {
  std::error_code ec;
  const auto status = std::filesystem::status(APath, ec);
  std::optional<std::string> data;
  if (std::filesystem::is_regular_file(status)) {
    errno = 0;
    data = ReadWholeFile(APath);
    if (!data) ec = std::error_code(errno ? errno : EIO, std::generic_category());
  } else if (!ec) {
    ec = std::make_error_code(std::errc::not_supported);  // a folder, a device, a pipe
  }
  if (!data) {
    if (AError) *AError = ec.message();
    return false;
  }
  std::string_view bytes = *data;
  std::string text;
  if (bytes.substr(0, 3) == kUtf8Bom) {
    AList.Encoding = TListEncoding::Utf8Bom;
    text = MakeValidUtf8(bytes.substr(3));
  } else if (bytes.substr(0, 2) == "\xFF\xFE") {
    AList.Encoding = TListEncoding::Utf16LE;
    text = Utf16BytesToUtf8(bytes.substr(2), false);
  } else if (bytes.substr(0, 2) == "\xFE\xFF") {
    AList.Encoding = TListEncoding::Utf16BE;
    text = Utf16BytesToUtf8(bytes.substr(2), true);
  } else {
    AList.Encoding = TListEncoding::Legacy;
    text = DecodeLegacyCodePage(bytes);
  }
  // Lines end in CR LF, LF or CR; a break after the last line adds no entry.
  AList.Lines.clear();
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      AList.Lines.push_back(text.substr(start));
      break;
    }
    AList.Lines.push_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
  return true;
}

void SaveListFile(const std::filesystem::path& APath, const TListFile& AList) {
  std::string text;
  for (const auto& line : AList.Lines) text += line + "\r\n";
  std::string out;
  switch (AList.Encoding) {
    case TListEncoding::Utf8Bom: out = std::string(kUtf8Bom) + text; break;
    case TListEncoding::Utf16LE: out = "\xFF\xFE" + Utf8ToUtf16Bytes(text, false); break;
    case TListEncoding::Utf16BE: out = "\xFE\xFF" + Utf8ToUtf16Bytes(text, true); break;
    case TListEncoding::Legacy: out = EncodeLegacyCodePage(text); break;
  }
  WriteFileAtomic(LinkTarget(APath), out);
}

int IndexOfNoCase(const std::vector<std::string>& ALines, std::string_view AText) {
  for (std::size_t i = 0; i < ALines.size(); ++i)
    if (SameTextNoCase(ALines[i], AText)) return static_cast<int>(i);
  return -1;
}

}  // namespace tarvok
