#include "storage/ChatSearch.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "core/Files.h"
#include "core/Platform.h"
#include "core/Text.h"

namespace tarvok {
namespace {

namespace od = simdjson::ondemand;

// Lower-cases onto AOut: ASCII directly, other runs through the core's Unicode mapping,
// so that the result equals LowerCase of the whole text.
void AppendLower(std::string& out, std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      ++i;
      continue;
    }
    // Cyrillic, most of what is not ASCII here, maps by a fixed offset: U+0400..U+040F to
    // U+0450.., U+0410..U+042F to U+0430..; the rest goes through the Unicode mapping.
    const auto c1 = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
    if ((c == 0xD0 || c == 0xD1) && (c1 & 0xC0) == 0x80) {
      const unsigned cp = ((c & 0x1Fu) << 6) | (c1 & 0x3Fu);
      const unsigned lower = cp < 0x410 ? cp + 0x50 : cp < 0x430 ? cp + 0x20 : cp;
      if (lower == cp) out.append(s.data() + i, 2);
      else AppendUtf8(out, static_cast<char32_t>(lower));
      i += 2;
      continue;
    }
    std::size_t j = i + 1;
    while (j < s.size() && static_cast<unsigned char>(s[j]) >= 0x80 && static_cast<unsigned char>(s[j]) != 0xD0 &&
           static_cast<unsigned char>(s[j]) != 0xD1)
      ++j;
    out += LowerCase(s.substr(i, j - i));
    i = j;
  }
}

// The value of a hexadecimal digit, -1 for any other byte.
constexpr std::array<std::int8_t, 256> kHexDigit = [] {
  std::array<std::int8_t, 256> t{};
  for (int c = 0; c < 256; ++c)
    t[static_cast<std::size_t>(c)] = c >= '0' && c <= '9'   ? static_cast<std::int8_t>(c - '0')
                                     : c >= 'a' && c <= 'f' ? static_cast<std::int8_t>(c - 'a' + 10)
                                     : c >= 'A' && c <= 'F' ? static_cast<std::int8_t>(c - 'A' + 10)
                                                            : std::int8_t{-1};
  return t;
}();

// A JSON string's content from its first byte after the opening quote; false on an
// escape the parser would not read the same way (a lone surrogate) or a broken one.
bool DecodeJsonString(std::string_view AContent, std::string& AOut) {
  AOut.clear();
  std::size_t i = 0;
  auto hex4 = [&](std::size_t at, unsigned& v) {
    if (at + 4 > AContent.size()) return false;
    v = 0;
    for (std::size_t k = at; k < at + 4; ++k) {
      const int digit = kHexDigit[static_cast<unsigned char>(AContent[k])];
      if (digit < 0) return false;
      v = v << 4 | static_cast<unsigned>(digit);
    }
    return true;
  };
  while (i < AContent.size()) {
    const std::size_t slash = AContent.find('\\', i);
    const std::size_t run = (slash == std::string_view::npos ? AContent.size() : slash) - i;
    AOut.append(AContent.data() + i, run);
    i += run;
    if (i >= AContent.size()) break;
    if (i + 1 >= AContent.size()) return false;
    const char e = AContent[i + 1];
    i += 2;
    switch (e) {
      case '"': AOut += '"'; break;
      case '\\': AOut += '\\'; break;
      case '/': AOut += '/'; break;
      case 'b': AOut += '\b'; break;
      case 'f': AOut += '\f'; break;
      case 'n': AOut += '\n'; break;
      case 'r': AOut += '\r'; break;
      case 't': AOut += '\t'; break;
      case 'u': {
        unsigned v = 0, low = 0;
        if (!hex4(i, v)) return false;
        i += 4;
        if (v >= 0xDC00 && v <= 0xDFFF) return false;
        if (v >= 0xD800 && v <= 0xDBFF) {
          if (i + 6 > AContent.size() || AContent[i] != '\\' || AContent[i + 1] != 'u' || !hex4(i + 2, low) ||
              low < 0xDC00 || low > 0xDFFF)
            return false;
          i += 6;
          v = 0x10000 + ((v - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(AOut, v);
        break;
      }
      default: return false;
    }
  }
  return true;
}

// Two bytes of UTF-8 for a Cyrillic letter (U+0400..U+047F), lower-cased.
inline char* PutLowerCyrillic(char* AOut, unsigned AValue) {
  const unsigned lower = AValue < 0x410 ? AValue + 0x50 : AValue < 0x430 ? AValue + 0x20 : AValue;
  AOut[0] = static_cast<char>(0xC0 | (lower >> 6));
  AOut[1] = static_cast<char>(0x80 | (lower & 0x3F));
  return AOut + 2;
}

// A JSON string's content, decoded and lower-cased as AppendLower does, in one pass, for
// the common content: ASCII characters and escapes of ASCII and Cyrillic (U+0400..U+047F)
// letters, as the chat files write them. False for anything else (a raw byte above 0x7F,
// another escape, a broken one), which the general way reads; AOut is then unspecified.
bool DecodeLowerCommonJsonString(std::string_view AContent, std::string& AOut) {
  // Never longer than the content: a character stays one byte, an escape of two or six
  // becomes one or two.
  AOut.resize(AContent.size());
  char* o = AOut.data();
  const char* p = AContent.data();
  const char* const end = p + AContent.size();
  auto lowerAscii = [](unsigned c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
  auto hex = [](char c) { return static_cast<int>(kHexDigit[static_cast<unsigned char>(c)]); };
  while (p < end) {
    const auto c = static_cast<unsigned char>(*p);
    if (c != '\\') {
      if (c >= 0x80) return false;
      *o++ = lowerAscii(c);
      ++p;
      continue;
    }
    if (end - p < 2) return false;
    // Russian text is mostly \u04XX: read first, without the general switch.
    if (p[1] == 'u' && end - p >= 6 && p[2] == '0' && p[3] == '4') {
      const int h2 = hex(p[4]), h3 = hex(p[5]);
      if ((h2 | h3) >= 0 && h2 < 8) {
        o = PutLowerCyrillic(o, 0x400u | static_cast<unsigned>(h2 << 4 | h3));
        p += 6;
        continue;
      }
    }
    switch (p[1]) {
      case '"': *o++ = '"'; break;
      case '\\': *o++ = '\\'; break;
      case '/': *o++ = '/'; break;
      case 'b': *o++ = '\b'; break;
      case 'f': *o++ = '\f'; break;
      case 'n': *o++ = '\n'; break;
      case 'r': *o++ = '\r'; break;
      case 't': *o++ = '\t'; break;
      case 'u': {
        if (end - p < 6) return false;
        const int h0 = hex(p[2]), h1 = hex(p[3]), h2 = hex(p[4]), h3 = hex(p[5]);
        if ((h0 | h1 | h2 | h3) < 0) return false;
        const unsigned v = static_cast<unsigned>(h0 << 12 | h1 << 8 | h2 << 4 | h3);
        if (v < 0x80) {
          *o++ = lowerAscii(v);
        } else if (v >= 0x400 && v < 0x480) {
          o = PutLowerCyrillic(o, v);
        } else {
          return false;
        }
        p += 6;
        continue;
      }
      default: return false;
    }
    p += 2;
  }
  AOut.resize(static_cast<std::size_t>(o - AOut.data()));
  return true;
}

// The closing quote of a JSON string whose content starts at AFrom.
std::size_t JsonStringEnd(std::string_view AJson, std::size_t AFrom) {
  for (std::size_t q = AFrom; (q = AJson.find('"', q)) != std::string_view::npos; ++q) {
    std::size_t slashes = 0;
    while (q - slashes > AFrom && AJson[q - slashes - 1] == '\\') ++slashes;
    if (slashes % 2 == 0) return q;
  }
  return std::string_view::npos;
}

std::size_t SkipJsonBlanks(std::string_view AJson, std::size_t i) {
  while (i < AJson.size() && (AJson[i] == ' ' || AJson[i] == '\t' || AJson[i] == '\n' || AJson[i] == '\r')) ++i;
  return i;
}

// True when a member name holding an escape might spell "contents", "parts" or "text".
bool HasEscapedMemberName(std::string_view AJson) {
  std::string decoded;
  for (std::size_t i = 0; (i = AJson.find('"', i)) != std::string_view::npos;) {
    const std::size_t end = JsonStringEnd(AJson, i + 1);
    if (end == std::string_view::npos) return false;
    const std::string_view name = AJson.substr(i + 1, end - i - 1);
    i = end + 1;
    if (name.size() > 64 || name.find('\\') == std::string_view::npos) continue;
    const std::size_t after = SkipJsonBlanks(AJson, end + 1);
    if (after >= AJson.size() || AJson[after] != ':') continue;
    if (!DecodeJsonString(name, decoded) || decoded == "contents" || decoded == "parts" || decoded == "text") return true;
  }
  return false;
}

// A quick look at the raw bytes before any parse: false only when no member named "text"
// can hold a word, so the file cannot match. Strings are found by their quotes (a long
// Base64 string is passed over at the speed of a byte search); only the values of "text"
// members are decoded. Anything unusual - a value that is not a string, an escape that
// might read otherwise, bytes that are not UTF-8 - leaves the file to the full match.
// Sound for a valid file; an invalid one never matches anyway.
class TQuickLook {
 public:
  explicit TQuickLook(const std::vector<std::string>& AWords) : FWords(AWords) {
    // A word with a blank can span two parts, which the full match joins with one.
    for (const std::string& w : FWords)
      if (w.empty() || w.find(' ') != std::string::npos || w.find("\xEF\xBF\xBD") != std::string::npos) FUsable = false;
    // Russian text is mostly the two lead bytes of its letters, which a search by the first
    // byte finds everywhere: a search that skips by the word's length looks at far fewer.
    if (FUsable)
      for (const std::string& w : FWords) FSearchers.emplace_back(w.begin(), w.end());
  }

  bool MayMatch(std::string_view AJson) {
    if (!FUsable) return true;
    std::size_t i = 0;
    while ((i = AJson.find('"', i)) != std::string_view::npos) {
      const std::size_t start = i + 1;
      const std::size_t end = StringEnd(AJson, start);
      if (end == std::string_view::npos) return false;  // no closing quote: not JSON
      std::size_t after = SkipBlanks(AJson, end + 1);
      i = end + 1;
      if (after >= AJson.size() || AJson[after] != ':') continue;  // a value, not a key
      const std::string_view key = AJson.substr(start, end - start);
      if (key != "text") {
        if (key.find('\\') == std::string_view::npos || key.size() > 64) continue;
        if (!DecodeJsonString(key, FDecoded)) return true;
        if (FDecoded != "text") continue;
      }
      const std::size_t value = SkipBlanks(AJson, after + 1);
      if (value >= AJson.size()) return false;
      if (AJson[value] != '"') {
        if (AJson.substr(value, 4) == "null") continue;
        return true;  // a number, a boolean, or an object or array the full match reports
      }
      const std::size_t valueEnd = StringEnd(AJson, value + 1);
      if (valueEnd == std::string_view::npos) return false;
      i = valueEnd + 1;
      const std::string_view raw = AJson.substr(value + 1, valueEnd - value - 1);
      if (!DecodeLowerCommonJsonString(raw, FLower)) {
        if (!DecodeJsonString(raw, FDecoded) || !simdjson::validate_utf8(FDecoded.data(), FDecoded.size())) return true;
        FLower.clear();
        AppendLower(FLower, FDecoded);
      }
      for (const auto& searcher : FSearchers)
        if (std::search(FLower.begin(), FLower.end(), searcher) != FLower.end()) return true;
    }
    return false;
  }

 private:
  static std::size_t StringEnd(std::string_view AJson, std::size_t AFrom) { return JsonStringEnd(AJson, AFrom); }
  static std::size_t SkipBlanks(std::string_view AJson, std::size_t i) { return SkipJsonBlanks(AJson, i); }

  const std::vector<std::string>& FWords;
  std::vector<std::boyer_moore_horspool_searcher<std::string::const_iterator>> FSearchers;
  bool FUsable = true;
  std::string FDecoded, FLower;
};

// Reads chat files one after another into one padded buffer and matches them.
class TChatMatcher {
 public:
  explicit TChatMatcher(const std::vector<std::string>& AWords) : FWords(AWords), FQuickLook(AWords) {
    for (const std::string& w : FWords) FLongestWord = std::max(FLongestWord, w.size());
  }

  TChatMatch MatchPadded(const char* AData, std::size_t ALength, std::size_t ACapacity, bool ARepaired = false) {
    FText.clear();
    FChecked = 0;
    FBadUtf8 = false;
    // A match or a bad member counts only in a file that is valid JSON as a whole, so the
    // file is parsed once, whole, and its tree walked.
    simdjson::dom::element root;
    const auto error = FValidator.parse(AData, ALength, false).get(root);
    if (error != simdjson::SUCCESS && !ARepaired) {
      // Read a damaged byte or a lone surrogate escape as U+FFFD, as the chat loader does,
      // rather than lose the chat.
      std::string text = MakeValidUtf8(std::string_view(AData, ALength));
      if (RepairLoneSurrogateEscapes(text.data(), text.size()) || error == simdjson::UTF8_ERROR) {
        const simdjson::padded_string valid(text);
        if (valid.data() == nullptr) return TChatMatch::NotAChat;
        return MatchPadded(valid.data(), valid.size(), valid.size() + simdjson::SIMDJSON_PADDING, true);
      }
    }
    if (error != simdjson::SUCCESS || !root.is_object()) return TChatMatch::NotAChat;
    // The members are found by their names as written: a name spelt with escapes, or text
    // given as a number (read as written), is left to the walk over the raw text.
    if (!HasEscapedMemberName(std::string_view(AData, ALength))) {
      const std::optional<TChatMatch> walked = WalkTree(root);
      if (walked) return *walked;
      FText.clear();
      FChecked = 0;
    }
    return Walk(simdjson::padded_string_view(AData, ALength, ACapacity));
  }

  TChatMatch MatchFile(const std::string& APath) {
    std::ifstream in(PathFromUtf8(APath), std::ios::binary);
    if (!in) throw TFileError("Не удалось открыть файл " + APath);
    in.seekg(0, std::ios::end);
    const auto size = in.tellg();
    if (size < 0) throw TFileError("Не удалось прочитать файл " + APath);
    in.seekg(0, std::ios::beg);
    const auto length = static_cast<std::size_t>(size);
    if (length + simdjson::SIMDJSON_PADDING > FCapacity) {
      FBuffer.reset();
      FCapacity = 0;
      const std::size_t capacity = (length + simdjson::SIMDJSON_PADDING) * 5 / 4;
      FBuffer.reset(new (std::nothrow) char[capacity]);
      // No memory for it: as a file that cannot be read.
      if (!FBuffer) throw TFileError("Не удалось прочитать файл " + APath);
      FCapacity = capacity;
    }
    if (length > 0 && !in.read(FBuffer.get(), size)) throw TFileError("Не удалось прочитать файл " + APath);
    std::memset(FBuffer.get() + length, 0, simdjson::SIMDJSON_PADDING);
    std::size_t skip = std::string_view(FBuffer.get(), length).starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
    if (!FQuickLook.MayMatch(std::string_view(FBuffer.get() + skip, length - skip))) return TChatMatch::NoMatch;
    return MatchPadded(FBuffer.get() + skip, length - skip, FCapacity - skip);
  }

 private:
  // The walk over the parsed tree; nothing when a text member is a number.
  std::optional<TChatMatch> WalkTree(simdjson::dom::element ARoot) {
    simdjson::dom::array turns;
    if (ARoot.at_key("contents").get_array().get(turns) != simdjson::SUCCESS) return TChatMatch::NoMatch;
    for (simdjson::dom::element turn : turns) {
      simdjson::dom::array parts;
      if (!turn.is_object() || turn.at_key("parts").get_array().get(parts) != simdjson::SUCCESS) continue;
      for (simdjson::dom::element part : parts) {
        if (!part.is_object()) continue;
        FText += ' ';
        simdjson::dom::element text;
        if (part.at_key("text").get(text) != simdjson::SUCCESS) continue;
        switch (text.type()) {
          case simdjson::dom::element_type::STRING: AppendLower(FText, text.get_string().value_unsafe()); break;
          case simdjson::dom::element_type::NULL_VALUE: break;
          case simdjson::dom::element_type::OBJECT:
          case simdjson::dom::element_type::ARRAY: return TChatMatch::BadText;
          case simdjson::dom::element_type::BOOL: FText += text.get_bool().value_unsafe() ? "true" : "false"; break;
          default: return std::nullopt;
        }
        if (FoundWord()) return TChatMatch::Match;
      }
    }
    return TChatMatch::NoMatch;
  }

  // True when a word occurs in the text gathered so far; only the new tail (plus the
  // overlap a word can straddle) is looked at each time.
  bool FoundWord() {
    const std::size_t from = FChecked > FLongestWord ? FChecked - FLongestWord + 1 : 0;
    const std::string_view fresh = std::string_view(FText).substr(from);
    FChecked = FText.size();
    for (const std::string& w : FWords)
      if (fresh.find(w) != std::string_view::npos) return true;
    return false;
  }

  TChatMatch AppendPartText(od::object part) {
    FText += ' ';
    od::value text;
    const auto error = part.find_field_unordered("text").get(text);
    if (error == simdjson::NO_SUCH_FIELD) return TChatMatch::NoMatch;
    if (error) return TChatMatch::NotAChat;
    od::json_type type;
    if (text.type().get(type)) return TChatMatch::NotAChat;
    switch (type) {
      case od::json_type::string: {
        std::string_view s;
        if (text.get_string().get(s)) return TChatMatch::NotAChat;
        AppendLower(FText, s);
        break;
      }
      case od::json_type::null: break;
      case od::json_type::object:
      case od::json_type::array: return TChatMatch::BadText;
      default: AppendLower(FText, Trim(text.raw_json_token())); break;  // a number or true/false reads as its text
    }
    return FoundWord() ? TChatMatch::Match : TChatMatch::NoMatch;
  }

  TChatMatch Walk(simdjson::padded_string_view AJson) {
    od::document doc;
    if (const auto error = FParser.iterate(AJson).get(doc)) {
      FBadUtf8 = error == simdjson::UTF8_ERROR;
      return TChatMatch::NotAChat;
    }
    od::object root;
    if (doc.get_object().get(root)) return TChatMatch::NotAChat;
    od::value contents;
    auto error = root.find_field_unordered("contents").get(contents);
    if (error == simdjson::NO_SUCH_FIELD) return TChatMatch::NoMatch;
    if (error) return TChatMatch::NotAChat;
    od::json_type type;
    if (contents.type().get(type)) return TChatMatch::NotAChat;
    if (type != od::json_type::array) return TChatMatch::NoMatch;
    od::array turns;
    if (contents.get_array().get(turns)) return TChatMatch::NotAChat;
    for (auto turnResult : turns) {
      od::value turn;
      if (turnResult.get(turn) || turn.type().get(type)) return TChatMatch::NotAChat;
      if (type != od::json_type::object) continue;
      od::object turnObject;
      if (turn.get_object().get(turnObject)) return TChatMatch::NotAChat;
      od::value parts;
      error = turnObject.find_field_unordered("parts").get(parts);
      if (error == simdjson::NO_SUCH_FIELD) continue;
      if (error || parts.type().get(type)) return TChatMatch::NotAChat;
      if (type != od::json_type::array) continue;
      od::array partArray;
      if (parts.get_array().get(partArray)) return TChatMatch::NotAChat;
      for (auto partResult : partArray) {
        od::value part;
        if (partResult.get(part) || part.type().get(type)) return TChatMatch::NotAChat;
        if (type != od::json_type::object) continue;
        od::object partObject;
        if (part.get_object().get(partObject)) return TChatMatch::NotAChat;
        const TChatMatch m = AppendPartText(partObject);
        if (m != TChatMatch::NoMatch) return m;
      }
    }
    return TChatMatch::NoMatch;
  }

  const std::vector<std::string>& FWords;
  TQuickLook FQuickLook;
  std::size_t FLongestWord = 0;
  od::parser FParser;
  simdjson::dom::parser FValidator;
  std::string FText;
  std::size_t FChecked = 0;
  bool FBadUtf8 = false;
  std::unique_ptr<char[]> FBuffer;
  std::size_t FCapacity = 0;
};

}  // namespace

std::string NormaliseSearchQuery(std::string_view AText) { return std::string(Trim(LowerCase(AText))); }

std::vector<std::string> SplitSearchQuery(std::string_view AQuery) {
  std::vector<std::string> words;
  std::size_t i = 0;
  const std::size_t n = AQuery.size();
  auto blank = [&](std::size_t k) { return static_cast<unsigned char>(AQuery[k]) <= 0x20; };
  while (i < n) {
    while (i < n && blank(i)) ++i;
    if (i >= n) break;
    std::string word;
    if (AQuery[i] == '"') {
      // A quoted run ends at the next lone quote; a doubled quote stands for one.
      for (++i; i < n; ++i) {
        if (AQuery[i] != '"') {
          word += AQuery[i];
        } else if (i + 1 < n && AQuery[i + 1] == '"') {
          word += '"';
          ++i;
        } else {
          ++i;
          break;
        }
      }
    } else {
      while (i < n && !blank(i)) word += AQuery[i++];
    }
    if (!word.empty()) words.push_back(std::move(word));
  }
  return words;
}

bool ChatMayMatch(std::string_view AFileContent, const std::vector<std::string>& AWords) {
  if (AFileContent.starts_with(kUtf8Bom)) AFileContent.remove_prefix(kUtf8Bom.size());
  return TQuickLook(AWords).MayMatch(AFileContent);
}

TChatMatch MatchChatText(std::string_view AFileContent, const std::vector<std::string>& AWords) {
  if (AFileContent.starts_with(kUtf8Bom)) AFileContent.remove_prefix(kUtf8Bom.size());
  const simdjson::padded_string padded(AFileContent);
  if (padded.data() == nullptr) return TChatMatch::NotAChat;
  TChatMatcher matcher(AWords);
  return matcher.MatchPadded(padded.data(), padded.size(), padded.size() + simdjson::SIMDJSON_PADDING);
}

void SearchChats(const std::vector<std::string>& AWords, const std::function<void(const TChatEntry&)>& AOnMatch) {
  if (AWords.empty()) return;
  const std::vector<TChatEntry> entries = ChatListEntries(ListChatFiles());
  auto hand_on = [&](std::size_t i, TChatMatch AMatch) {
    switch (AMatch) {
      case TChatMatch::Match: AOnMatch(entries[i]); break;
      case TChatMatch::BadText: throw TFileError("В файле " + entries[i].Path + " поле \"text\" содержит не текст");
      default: break;
    }
  };

  // The files are matched on every core; the caller's thread hands the outcomes on in
  // list order as they come in, and the first error ends the search where a search file
  // by file would have ended it.
  struct TOutcome {
    TChatMatch Match = TChatMatch::NoMatch;
    std::exception_ptr Error;
    bool Done = false;
  };
  std::vector<TOutcome> outcomes(entries.size());
  std::mutex mutex;
  std::condition_variable doneOne;
  std::atomic<std::size_t> next = 0;
  std::atomic<bool> stop = false;
  auto work = [&] {
    TChatMatcher matcher(AWords);
    for (std::size_t i; !stop && (i = next++) < entries.size();) {
      TOutcome outcome;
      try {
        outcome.Match = matcher.MatchFile(entries[i].Path);
      } catch (...) {
        outcome.Error = std::current_exception();
      }
      outcome.Done = true;
      {
        const std::lock_guard lock(mutex);
        outcomes[i] = std::move(outcome);
      }
      doneOne.notify_all();
    }
  };
  const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  std::vector<std::jthread> workers;
  try {
    for (unsigned k = 0; k < cores && k < entries.size(); ++k) workers.emplace_back(work);
  } catch (const std::system_error&) {  // no thread to be had: the workers so far, or none
  }
  struct TStopWorkers {
    std::atomic<bool>& Stop;
    std::vector<std::jthread>& Workers;
    ~TStopWorkers() {
      Stop = true;
      Workers.clear();  // joins
    }
  } stopWorkers{stop, workers};
  if (workers.empty()) {
    TChatMatcher matcher(AWords);
    for (std::size_t i = 0; i < entries.size(); ++i) hand_on(i, matcher.MatchFile(entries[i].Path));
    return;
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    TOutcome outcome;
    {
      std::unique_lock lock(mutex);
      doneOne.wait(lock, [&] { return outcomes[i].Done; });
      outcome = std::move(outcomes[i]);
    }
    if (outcome.Error) std::rethrow_exception(outcome.Error);
    hand_on(i, outcome.Match);
  }
}

std::vector<TChatEntry> SearchChats(const std::vector<std::string>& AWords) {
  std::vector<TChatEntry> found;
  SearchChats(AWords, [&](const TChatEntry& e) { found.push_back(e); });
  return found;
}

}  // namespace tarvok
