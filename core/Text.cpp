#include "core/Text.h"

#include <simdjson.h>

#include <utf8proc.h>

#include <algorithm>

namespace tarvok {

std::size_t DecodeUtf8Char(std::string_view s, char32_t& cp) {
  if (s.empty()) { cp = 0; return 0; }
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) { cp = b0; return 1; }
  int n;
  char32_t v;
  if ((b0 & 0xE0) == 0xC0) { n = 1; v = b0 & 0x1F; }
  else if ((b0 & 0xF0) == 0xE0) { n = 2; v = b0 & 0x0F; }
  else if ((b0 & 0xF8) == 0xF0) { n = 3; v = b0 & 0x07; }
  else { cp = 0xFFFD; return 1; }
  if (s.size() < static_cast<std::size_t>(n) + 1) { cp = 0xFFFD; return 1; }
  for (int i = 1; i <= n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) { cp = 0xFFFD; return 1; }
    v = (v << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (v < kMin[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) { cp = 0xFFFD; return 1; }
  cp = v;
  return static_cast<std::size_t>(n) + 1;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) out += static_cast<char>(cp);
  else if (cp < 0x800) { out += static_cast<char>(0xC0 | (cp >> 6)); out += static_cast<char>(0x80 | (cp & 0x3F)); }
  else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12)); out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18)); out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F)); out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::size_t Utf16Length(std::string_view s) {
  if (simdjson::validate_utf8(s.data(), s.size())) {
    // Valid text: one unit per character, two for those of four bytes; counted without decoding.
    std::size_t units = 0;
    for (const char c : s) {
      const auto b = static_cast<unsigned char>(c);
      units += ((b & 0xC0) != 0x80) + (b >= 0xF0);
    }
    return units;
  }
  std::size_t units = 0;
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp;
    i += DecodeUtf8Char(s.substr(i), cp);
    units += cp >= 0x10000 ? 2 : 1;
  }
  return units;
}

std::string Utf16Left(std::string_view s, std::size_t count) {
  std::size_t units = 0, i = 0;
  while (i < s.size()) {
    char32_t cp;
    const std::size_t n = DecodeUtf8Char(s.substr(i), cp);
    const std::size_t w = cp >= 0x10000 ? 2 : 1;
    if (units + w > count) break;
    units += w;
    i += n;
  }
  return MakeValidUtf8(s.substr(0, i));
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp;
    i += DecodeUtf8Char(s.substr(i), cp);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size() * 3 / 2);
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::string Utf16BytesToUtf8(std::string_view bytes, bool bigEndian) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    units += static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  }
  return Utf16ToUtf8(units);
}

std::string Utf8ToUtf16Bytes(std::string_view utf8, bool bigEndian) {
  std::string out;
  for (char16_t u : Utf8ToUtf16(utf8)) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  }
  return out;
}

std::string MakeValidUtf8(std::string_view s) {
  if (simdjson::validate_utf8(s.data(), s.size())) return std::string(s);  // nothing to mend
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp;
    const std::size_t n = DecodeUtf8Char(s.substr(i), cp);
    if (cp == 0xFFFD && n == 1 && static_cast<unsigned char>(s[i]) >= 0x80) AppendUtf8(out, 0xFFFD);
    else out.append(s.substr(i, n));
    i += n;
  }
  return out;
}

namespace {

// The value of the \uXXXX escape at AAt (which holds the backslash), or -1.
long EscapedUnit(const char* AJson, std::size_t ALength, std::size_t AAt) {
  if (AAt + 6 > ALength || AJson[AAt] != '\\' || AJson[AAt + 1] != 'u') return -1;
  long value = 0;
  for (std::size_t i = AAt + 2; i < AAt + 6; ++i) {
    const char c = AJson[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

}  // namespace

bool RepairLoneSurrogateEscapes(char* AJson, std::size_t ALength) {
  bool changed = false;
  for (std::size_t i = 0; i < ALength; ++i) {
    if (AJson[i] != '\\') continue;
    const long unit = EscapedUnit(AJson, ALength, i);
    if (unit < 0) {
      ++i;  // another escape (\\, \", \n, ...): its second character starts nothing
      continue;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const long next = EscapedUnit(AJson, ALength, i + 6);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        i += 11;  // a whole pair
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) {
      std::copy_n("\\uFFFD", 6, AJson + i);
      changed = true;
    }
    i += 5;
  }
  return changed;
}

std::string_view Trim(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 0x20) --e;
  return s.substr(b, e - b);
}

std::string LowerCase(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp;
    const std::size_t n = DecodeUtf8Char(s.substr(i), cp);
    if (cp < 0x80) out += static_cast<char>(cp >= 'A' && cp <= 'Z' ? cp + 32 : cp);
    else if (cp == 0xFFFD && n == 1) out += s[i];  // keep foreign bytes as they are
    else AppendUtf8(out, static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(cp))));
    i += n;
  }
  return out;
}

bool SameTextNoCase(std::string_view a, std::string_view b) { return LowerCase(a) == LowerCase(b); }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  const std::string p = LowerCase(prefix);
  const std::string t = LowerCase(text.substr(0, std::min(text.size(), prefix.size() + 8)));
  return t.compare(0, p.size(), p) == 0 && t.size() >= p.size();
}

int Base64DigitValue(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace tarvok
