#include "core/JsonWriter.h"

#include <array>

#include <algorithm>
#include <bit>
#include <cstring>
#include <charconv>
#include <cmath>

#include "core/Text.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace tarvok {
namespace {

void AppendU(std::string& out, unsigned v) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char buf[6] = {'\\', 'u', kHex[(v >> 12) & 0xF], kHex[(v >> 8) & 0xF], kHex[(v >> 4) & 0xF], kHex[v & 0xF]};
  out.append(buf, 6);
}

}  // namespace

void AppendJsonEscaped(std::string& out, std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    // Copy the longest run of characters that need no escape in one go.
    std::size_t run = i;
    while (run < s.size()) {
      const auto c = static_cast<unsigned char>(s[run]);
      if (c < 0x20 || c >= 0x80 || c == '"' || c == '\\' || c == '/') break;
      ++run;
    }
    out.append(s.data() + i, run - i);
    i = run;
    if (i >= s.size()) break;
    const auto c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"': out += "\\\""; ++i; continue;
      case '\\': out += "\\\\"; ++i; continue;
      case '/': out += "\\/"; ++i; continue;
      case '\b': out += "\\b"; ++i; continue;
      case '\t': out += "\\t"; ++i; continue;
      case '\n': out += "\\n"; ++i; continue;
      case '\f': out += "\\f"; ++i; continue;
      case '\r': out += "\\r"; ++i; continue;
      default: break;
    }
    if (c < 0x80) {  // other controls
      AppendU(out, c);
      ++i;
      continue;
    }
    char32_t cp;
    i += DecodeUtf8Char(s.substr(i), cp);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      AppendU(out, 0xD800 + (cp >> 10));
      AppendU(out, 0xDC00 + (cp & 0x3FF));
    } else {
      AppendU(out, cp);
    }
  }
}

void AppendJsonDouble(std::string& out, double v) {
  if (!std::isfinite(v)) { out += "0.0"; return; }  // JSON has no NaN or infinity
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  std::string_view text(buf, static_cast<std::size_t>(end - buf));
  out += text;
  if (text.find_first_of(".eEn") == std::string_view::npos) out += ".0";
}

void TJsonWriter::BeforeValue() {
  if (FAfterKey) { FAfterKey = false; return; }
  if (!FHasItems.empty()) {
    if (FHasItems.back()) FOut += ',';
    FHasItems.back() = true;
  }
}

TJsonWriter& TJsonWriter::BeginObject() { BeforeValue(); FOut += '{'; FHasItems.push_back(false); return *this; }
TJsonWriter& TJsonWriter::EndObject() { FOut += '}'; FHasItems.pop_back(); return *this; }
TJsonWriter& TJsonWriter::BeginArray() { BeforeValue(); FOut += '['; FHasItems.push_back(false); return *this; }
TJsonWriter& TJsonWriter::EndArray() { FOut += ']'; FHasItems.pop_back(); return *this; }

TJsonWriter& TJsonWriter::Key(std::string_view AName) {
  BeforeValue();
  FOut += '"';
  AppendJsonEscaped(FOut, AName);
  FOut += "\":";
  FAfterKey = true;
  return *this;
}

TJsonWriter& TJsonWriter::String(std::string_view AValue) {
  BeforeValue();
  FOut += '"';
  AppendJsonEscaped(FOut, AValue);
  FOut += '"';
  return *this;
}

namespace {

// Standard Base64 characters and '=': nothing among them but '/' needs an escape.
bool IsCleanBase64(std::string_view AText) {
  static constexpr auto kAllowed = [] {
    std::array<bool, 256> t{};
    for (unsigned char c = 'A'; c <= 'Z'; ++c) t[c] = true;
    for (unsigned char c = 'a'; c <= 'z'; ++c) t[c] = true;
    for (unsigned char c = '0'; c <= '9'; ++c) t[c] = true;
    t['+'] = t['/'] = t['='] = true;
    return t;
  }();
  unsigned char ok = 1;
  for (char c : AText) ok &= static_cast<unsigned char>(kAllowed[static_cast<unsigned char>(c)]);
  return ok != 0;
}

}  // namespace

TJsonWriter& TJsonWriter::Base64String(std::string_view AValue) {
  // Data from a foreign chat file or a server may hold anything: only clean Base64 takes
  // the fast path, anything else is escaped in full. The check runs in the same pass as
  // the copy; on the first character outside Base64 the copy is undone.
  const std::size_t start = FOut.size();
  const bool hadItems = !FHasItems.empty() && FHasItems.back();
  const bool afterKey = FAfterKey;
  auto escapeInFull = [&]() -> TJsonWriter& {
    FOut.resize(start);
    FAfterKey = afterKey;
    if (!FHasItems.empty()) FHasItems.back() = hadItems;
    return String(AValue);
  };
  BeforeValue();
  FOut += '"';
  FOut.reserve(FOut.size() + AValue.size() + AValue.size() / 32 + 2);
  // Attachments run to hundreds of megabytes with a '/' every 64 characters or so: they
  // are escaped into a small buffer that stays in the cache, 16 characters at a time,
  // and appended in large blocks.
  constexpr std::size_t kBlock = 64 * 1024;
  char buffer[kBlock + 32];
  std::size_t n = 0;
  const char* p = AValue.data();
  const char* const end = p + AValue.size();
  while (p < end) {
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i slash = _mm_set1_epi8('/');
    while (end - p >= 16 && n + 32 <= kBlock) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      auto in = [&](char ALow, char AHigh) {
        return _mm_and_si128(_mm_cmpgt_epi8(chunk, _mm_set1_epi8(static_cast<char>(ALow - 1))),
                             _mm_cmplt_epi8(chunk, _mm_set1_epi8(static_cast<char>(AHigh + 1))));
      };
      const __m128i isSlash = _mm_cmpeq_epi8(chunk, slash);
      const __m128i clean = _mm_or_si128(
          _mm_or_si128(_mm_or_si128(in('A', 'Z'), in('a', 'z')), _mm_or_si128(in('0', '9'), isSlash)),
          _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('+')), _mm_cmpeq_epi8(chunk, _mm_set1_epi8('='))));
      if (_mm_movemask_epi8(clean) != 0xFFFF) return escapeInFull();
      auto mask = static_cast<unsigned>(_mm_movemask_epi8(isSlash));
      if (mask == 0) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(buffer + n), chunk);
        n += 16;
      } else {
        unsigned from = 0;
        for (; mask != 0; mask &= mask - 1) {
          const auto at = static_cast<unsigned>(std::countr_zero(mask));
          std::memcpy(buffer + n, p + from, at - from);
          n += at - from;
          buffer[n++] = '\\';
          buffer[n++] = '/';
          from = at + 1;
        }
        std::memcpy(buffer + n, p + from, 16 - from);
        n += 16 - from;
      }
      p += 16;
    }
#endif
    for (const char* stop = p + std::min<std::size_t>(16, static_cast<std::size_t>(end - p)); p < stop; ++p) {
      if (!IsCleanBase64(std::string_view(p, 1))) return escapeInFull();
      if (*p == '/') buffer[n++] = '\\';
      buffer[n++] = *p;
    }
    if (n >= kBlock) {
      FOut.append(buffer, n);
      n = 0;
    }
  }
  FOut.append(buffer, n);
  FOut += '"';
  return *this;
}

namespace {

#if defined(__SSE2__) || defined(_M_X64)
// 0xFF in every byte of AChunk that belongs to the alphabet or is '='. A byte is in
// [ALow, AHigh] when, moved so that ALow becomes -128, it is below -128 + the run's length.
inline __m128i Base64Lanes(__m128i AChunk) {
  auto in = [&](char ALow, char AHigh) {
    return _mm_cmplt_epi8(_mm_add_epi8(AChunk, _mm_set1_epi8(static_cast<char>(0x80 - ALow))),
                          _mm_set1_epi8(static_cast<char>(-128 + (AHigh - ALow + 1))));
  };
  // '/' and the digits are one run.
  return _mm_or_si128(_mm_or_si128(_mm_or_si128(in('A', 'Z'), in('a', 'z')), in('/', '9')),
                      _mm_or_si128(_mm_cmpeq_epi8(AChunk, _mm_set1_epi8('+')), _mm_cmpeq_epi8(AChunk, _mm_set1_epi8('='))));
}
#endif

}  // namespace

bool EscapedBase64Size(std::string_view AValue, std::size_t& ASize) {
  const char* p = AValue.data();
  const char* const end = p + AValue.size();
  std::size_t slashes = 0;
#if defined(__SSE2__) || defined(_M_X64)
  const __m128i slash = _mm_set1_epi8('/');
  const __m128i zero = _mm_setzero_si128();
  __m128i bad = zero;
  while (end - p >= 16) {
    // Per-byte slash counts, summed before a byte could overflow.
    const char* const stop = p + std::min<std::size_t>(static_cast<std::size_t>(end - p) / 16, 255) * 16;
    __m128i counts = zero;
    for (; p < stop; p += 16) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      bad = _mm_or_si128(bad, _mm_cmpeq_epi8(Base64Lanes(chunk), zero));
      counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(chunk, slash));
    }
    const __m128i sums = _mm_sad_epu8(counts, zero);
    slashes += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) + static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
  }
  if (_mm_movemask_epi8(bad) != 0) return false;
#endif
  for (; p < end; ++p) {
    if (!IsCleanBase64(std::string_view(p, 1))) return false;
    slashes += *p == '/';
  }
  ASize = AValue.size() + slashes;
  return true;
}

std::size_t CopyEscapedBase64(std::string_view AValue, std::size_t& AAt, char* AOut, std::size_t ARoom) {
  const char* const begin = AValue.data();
  const char* p = begin + AAt;
  const char* const end = begin + AValue.size();
  std::size_t n = 0;
#if defined(__SSE2__) || defined(_M_X64)
  // 16 characters a round, written straight to their place. A round reads up to 32 bytes
  // ahead and may store up to 48 bytes past n; each store's spill is overwritten by the next.
  const __m128i slash = _mm_set1_epi8('/');
  while (end - p >= 32 && ARoom - n >= 48) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, slash)));
    if ((mask & (mask - 1)) == 0) {
      // At most one '/' (nearly every chunk: one character in 64 is a '/'), without a branch:
      // the chunk, then from the '/' on again one place further, a backslash in the gap.
      // Without a '/' the second store and the backslash land past the chunk and are overwritten.
      const auto at = static_cast<unsigned>(std::countr_zero(mask | 0x10000u));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(AOut + n), chunk);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(AOut + n + at + 1), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)));
      AOut[n + at] = '\\';
      n += 16 + (mask != 0);
      p += 16;
      continue;
    }
    unsigned from = 0;
    for (; mask != 0; mask &= mask - 1) {
      const auto at = static_cast<unsigned>(std::countr_zero(mask));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(AOut + n), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + from)));
      n += at - from;
      AOut[n++] = '\\';
      AOut[n++] = '/';
      from = at + 1;
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(AOut + n), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + from)));
    n += 16 - from;
    p += 16;
  }
#endif
  for (; p < end; ++p) {
    if (*p == '/') {
      if (ARoom - n < 2) break;
      AOut[n++] = '\\';
      AOut[n++] = '/';
    } else {
      if (n == ARoom) break;
      AOut[n++] = *p;
    }
  }
  AAt = static_cast<std::size_t>(p - begin);
  return n;
}

TJsonWriter& TJsonWriter::Int(std::int64_t AValue) { BeforeValue(); FOut += std::to_string(AValue); return *this; }
TJsonWriter& TJsonWriter::Double(double AValue) { BeforeValue(); AppendJsonDouble(FOut, AValue); return *this; }
TJsonWriter& TJsonWriter::Bool(bool AValue) { BeforeValue(); FOut += AValue ? "true" : "false"; return *this; }
TJsonWriter& TJsonWriter::Null() { BeforeValue(); FOut += "null"; return *this; }

}  // namespace tarvok
