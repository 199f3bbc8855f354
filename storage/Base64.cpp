#include "storage/Base64.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "core/Platform.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace tarvok {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit value, in memory order: one table lookup
// per 12 input bits instead of one per 6.
constexpr std::array<std::uint16_t, 4096> MakePairTable() {
  std::array<std::uint16_t, 4096> t{};
  for (unsigned v = 0; v < 4096; ++v) {
    const auto first = static_cast<unsigned char>(kAlphabet[v >> 6]);
    const auto second = static_cast<unsigned char>(kAlphabet[v & 63]);
    t[v] = std::endian::native == std::endian::little ? static_cast<std::uint16_t>(first | (second << 8))
                                                      : static_cast<std::uint16_t>((first << 8) | second);
  }
  return t;
}
constexpr std::array<std::uint16_t, 4096> kPairs = MakePairTable();

inline std::uint64_t LoadBigEndian64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) {
#if defined(_MSC_VER) && !defined(__clang__)
    v = _byteswap_uint64(v);
#else
    v = __builtin_bswap64(v);
#endif
  }
  return v;
}

inline void StoreBigEndian32(unsigned char* p, std::uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) {
#if defined(_MSC_VER) && !defined(__clang__)
    v = _byteswap_ulong(v);
#else
    v = __builtin_bswap32(v);
#endif
  }
  std::memcpy(p, &v, 4);
}

inline void Store4Chars(char* out, std::uint32_t v24) {
  const std::uint16_t a = kPairs[v24 >> 12], b = kPairs[v24 & 0xFFF];
  std::memcpy(out, &a, 2);
  std::memcpy(out + 2, &b, 2);
}

constexpr std::uint32_t kBad = 0x01000000;  // set in a decoded group when any character was not in the alphabet

// Each character's 6 bits already shifted to its place in the 24-bit group.
constexpr std::array<std::uint32_t, 256> MakeDecodeTable(int AShift) {
  std::array<std::uint32_t, 256> t{};
  for (auto& v : t) v = kBad;
  for (unsigned i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint32_t>(i) << AShift;
  return t;
}
constexpr auto kDec0 = MakeDecodeTable(18);
constexpr auto kDec1 = MakeDecodeTable(12);
constexpr auto kDec2 = MakeDecodeTable(6);
constexpr auto kDec3 = MakeDecodeTable(0);

inline bool IsSkippable(char c) { return c == '\r' || c == '\n' || c == '\t' || c == ' '; }

// Decodes text with no white space in it.
bool DecodeClean(std::string_view s, std::string& out) {
  std::size_t n = s.size();
  std::size_t pad = 0;
  if (n >= 1 && s[n - 1] == '=') ++pad;
  if (n >= 2 && s[n - 2] == '=') ++pad;
  if (n % 4 != 0 && pad > 0) return false;  // padding only completes a whole group
  n -= pad;
  if (n % 4 == 1) return false;
  const std::size_t full = n / 4;
  const std::size_t rest = n % 4;  // 0, 2 or 3 characters left over
  out.resize(full * 3 + (rest ? rest - 1 : 0));
  const auto* in = reinterpret_cast<const unsigned char*>(s.data());
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  std::uint32_t bad = 0;
  std::size_t g = 0;
  // Two groups per round, each stored as one 4-byte word whose last byte the next
  // store overwrites; the final groups go byte by byte.
  for (; g + 2 < full; g += 2, in += 8, o += 6) {
    const std::uint32_t v = kDec0[in[0]] | kDec1[in[1]] | kDec2[in[2]] | kDec3[in[3]];
    const std::uint32_t w = kDec0[in[4]] | kDec1[in[5]] | kDec2[in[6]] | kDec3[in[7]];
    bad |= v | w;
    StoreBigEndian32(o, v << 8);
    StoreBigEndian32(o + 3, w << 8);
  }
  for (; g < full; ++g, in += 4, o += 3) {
    const std::uint32_t v = kDec0[in[0]] | kDec1[in[1]] | kDec2[in[2]] | kDec3[in[3]];
    bad |= v;
    o[0] = static_cast<unsigned char>(v >> 16);
    o[1] = static_cast<unsigned char>(v >> 8);
    o[2] = static_cast<unsigned char>(v);
  }
  if (rest >= 2) {
    std::uint32_t v = kDec0[in[0]] | kDec1[in[1]];
    if (rest == 3) v |= kDec2[in[2]];
    bad |= v;
    o[0] = static_cast<unsigned char>(v >> 16);
    if (rest == 3) o[1] = static_cast<unsigned char>(v >> 8);
  }
  return (bad & kBad) == 0;
}

}  // namespace

void Base64EncodeAppend(std::string& AOut, std::string_view AData) {
  const std::size_t start = AOut.size();
  AOut.resize(start + Base64EncodedLength(AData.size()));
  const auto* in = reinterpret_cast<const unsigned char*>(AData.data());
  char* out = AOut.data() + start;
  std::size_t left = AData.size();
  // 12 bytes per round through two 8-byte loads (each uses its top 6 bytes).
  while (left >= 14) {
    const std::uint64_t a = LoadBigEndian64(in), b = LoadBigEndian64(in + 6);
    Store4Chars(out, static_cast<std::uint32_t>(a >> 40));
    Store4Chars(out + 4, static_cast<std::uint32_t>((a >> 16) & 0xFFFFFF));
    Store4Chars(out + 8, static_cast<std::uint32_t>(b >> 40));
    Store4Chars(out + 12, static_cast<std::uint32_t>((b >> 16) & 0xFFFFFF));
    in += 12;
    out += 16;
    left -= 12;
  }
  while (left >= 3) {
    Store4Chars(out, (static_cast<std::uint32_t>(in[0]) << 16) | (static_cast<std::uint32_t>(in[1]) << 8) | in[2]);
    in += 3;
    out += 4;
    left -= 3;
  }
  if (left > 0) {
    const std::uint32_t v = (static_cast<std::uint32_t>(in[0]) << 16) | (left == 2 ? static_cast<std::uint32_t>(in[1]) << 8 : 0);
    out[0] = kAlphabet[v >> 18];
    out[1] = kAlphabet[(v >> 12) & 63];
    out[2] = left == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out[3] = '=';
  }
}

std::string Base64Encode(std::string_view AData) {
  std::string out;
  Base64EncodeAppend(out, AData);
  return out;
}

bool Base64Decode(std::string_view AText, std::string& AOut) {
  bool hasSpace = false;
  for (char c : AText) {
    if (IsSkippable(c)) { hasSpace = true; break; }
  }
  if (!hasSpace) return DecodeClean(AText, AOut);
  std::string clean;
  clean.reserve(AText.size());
  for (char c : AText) {
    if (!IsSkippable(c)) clean += c;
  }
  return DecodeClean(clean, AOut);
}

bool IsBase64Text(std::string_view AText) {
  // '=' is accepted anywhere: all that matters here is that nothing needs escaping.
  static constexpr auto kAllowed = [] {
    std::array<bool, 256> t{};
    for (unsigned char c : std::string_view(kAlphabet)) t[c] = true;
    t[static_cast<unsigned char>('=')] = true;
    return t;
  }();
  unsigned char ok = 1;
  for (char c : AText) ok &= static_cast<unsigned char>(kAllowed[static_cast<unsigned char>(c)]);
  return ok != 0;
}

namespace {

constexpr auto kBase64OrPad = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : std::string_view(kAlphabet)) t[c] = true;
  t[static_cast<unsigned char>('=')] = true;
  return t;
}();

#if defined(__SSE2__) || defined(_M_X64)
// Bit i set when byte i of the chunk is in the alphabet or "=".
inline unsigned Base64Mask(__m128i AChunk) {
  auto in = [&](char ALow, char AHigh) {
    return _mm_and_si128(_mm_cmpgt_epi8(AChunk, _mm_set1_epi8(static_cast<char>(ALow - 1))),
                         _mm_cmplt_epi8(AChunk, _mm_set1_epi8(static_cast<char>(AHigh + 1))));
  };
  const __m128i letters = _mm_or_si128(in('A', 'Z'), in('a', 'z'));
  const __m128i others = _mm_or_si128(_mm_or_si128(in('0', '9'), in('+', '+')), _mm_or_si128(in('/', '/'), in('=', '=')));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(letters, others)));
}
#endif

}  // namespace

std::size_t Base64ToJsonString(std::string_view AText, char* AOut, std::size_t& AWritten) {
  const char* p = AText.data();
  const char* const end = p + AText.size();
  char* o = AOut;
#if defined(__SSE2__) || defined(_M_X64)
  const __m128i slash = _mm_set1_epi8('/');
  // 16 characters a round, reading up to 32 ahead; a round stores up to 33 bytes from o,
  // well within the room of two bytes for each of the 32 characters or more still to come.
  while (end - p >= 32) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (Base64Mask(chunk) != 0xFFFF) break;
    const auto slashes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, slash)));
    if ((slashes & (slashes - 1)) == 0) {
      // At most one '/' (nearly every chunk: one character in 64 is a '/'), without a branch:
      // the chunk, then from the '/' on again one place further, a backslash in the gap.
      // Without a '/' the second store and the backslash land past the chunk and are overwritten.
      const auto at = static_cast<unsigned>(std::countr_zero(slashes | 0x10000u));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), chunk);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + at + 1), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)));
      o[at] = '\\';
      o += 16 + (slashes != 0);
      p += 16;
      continue;
    }
    unsigned from = 0;
    for (unsigned rest = slashes; rest != 0; rest &= rest - 1) {
      const auto at = static_cast<unsigned>(std::countr_zero(rest));
      std::memcpy(o, p + from, at - from);
      o += at - from;
      *o++ = '\\';
      *o++ = '/';
      from = at + 1;
    }
    std::memcpy(o, p + from, 16 - from);
    o += 16 - from;
    p += 16;
  }
#endif
  for (; p < end && kBase64OrPad[static_cast<unsigned char>(*p)]; ++p) {
    if (*p == '/') *o++ = '\\';
    *o++ = *p;
  }
  AWritten = static_cast<std::size_t>(o - AOut);
  return static_cast<std::size_t>(p - AText.data());
}

bool Base64FromJsonString(std::string_view AContent, std::string& AOut) {
  // Decoded through a small buffer that stays in the cache and appended to the result in
  // large blocks: the result is written once, never filled with zeros first.
  AOut.clear();
  AOut.reserve(AContent.size());
  // An attachment of many megabytes is fresh memory written once, page by page.
  if (AOut.capacity() >= kLargeBufferBytes) AdviseLargePages(AOut.data(), AOut.capacity());
  constexpr std::size_t kBlock = 32 * 1024;
  char buffer[kBlock + 16];
  const char* p = AContent.data();
  const char* const end = p + AContent.size();
  while (p < end) {
    const char* const stop = p + std::min<std::size_t>(kBlock, static_cast<std::size_t>(end - p));
    char* o = buffer;
    // Copies one character, or an escaped "/" (two, perhaps one past the block); false
    // for anything else.
    auto copyOne = [&]() {
      if (*p == '\\') {
        if (end - p < 2 || p[1] != '/') return false;
        ++p;
      } else if (!kBase64OrPad[static_cast<unsigned char>(*p)]) {
        return false;
      }
      *o++ = *p++;
      return true;
    };
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i backslash = _mm_set1_epi8('\\');
    while (stop - p >= 16) {
      const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const auto escapes = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, backslash)));
      if ((Base64Mask(chunk) | escapes) != 0xFFFF) return false;
      if (escapes == 0) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), chunk);
        o += 16;
        p += 16;
        continue;
      }
      // Up to the first backslash in one copy, then the escape by hand.
      const auto at = static_cast<unsigned>(std::countr_zero(escapes));
      std::memcpy(o, p, at);
      o += at;
      p += at;
      if (!copyOne()) return false;
    }
#endif
    while (p < stop) {
      if (!copyOne()) return false;
    }
    AOut.append(buffer, static_cast<std::size_t>(o - buffer));
  }
  return true;
}

}  // namespace tarvok
