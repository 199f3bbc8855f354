#include "core/TextAttachment.h"

#include <simdjson.h>

#include "core/Files.h"
#include "core/Platform.h"
#include "core/Text.h"

namespace tarvok {

bool IsValidUtf8(std::string_view buf) {
  std::size_t i = 0;
  const std::size_t len = buf.size();
  while (i < len) {
    const auto b = static_cast<unsigned char>(buf[i]);
    if (b < 0x80) { ++i; continue; }
    std::size_t n;
    if ((b & 0xE0) == 0xC0) n = 1;
    else if ((b & 0xF0) == 0xE0) n = 2;
    else if ((b & 0xF8) == 0xF0) n = 3;
    else return false;
    if (i + n >= len) return false;
    for (std::size_t k = 1; k <= n; ++k)
      if ((static_cast<unsigned char>(buf[i + k]) & 0xC0) != 0x80) return false;
    i += n + 1;
  }
  return true;
}

std::string DecodeTextBytes(std::string_view bytes) {
  if (bytes.empty()) return {};
  if (bytes.starts_with("\xEF\xBB\xBF")) return MakeValidUtf8(bytes);  // the mark stays, as U+FEFF
  if (bytes.starts_with("\xFF\xFE")) return Utf16BytesToUtf8(bytes, false);
  if (bytes.starts_with("\xFE\xFF")) return Utf16BytesToUtf8(bytes, true);
  if (simdjson::validate_utf8(bytes.data(), bytes.size())) return std::string(bytes);
  // The structural check lets overlong forms and surrogates pass; they decode to U+FFFD.
  if (IsValidUtf8(bytes)) return MakeValidUtf8(bytes);
  return DecodeLegacyCodePage(bytes);
}

std::string SanitizeTextFile(const std::string& AFileName) {
  if (AFileName.empty()) return {};
  try {
    const auto data = ReadWholeFile(PathFromUtf8(AFileName));
    if (!data) return {};
    return DecodeTextBytes(*data);
  } catch (...) {
    return {};
  }
}

}  // namespace tarvok
