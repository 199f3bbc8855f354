#include "storage/ChatSearch.h"

#include <simdjson.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>

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
    std::size_t j = i + 1;
    while (j < s.size() && static_cast<unsigned char>(s[j]) >= 0x80) ++j;
    out += LowerCase(s.substr(i, j - i));
    i = j;
  }
}

// Reads chat files one after another into one padded buffer and matches them.
class TChatMatcher {
 public:
  explicit TChatMatcher(const std::vector<std::string>& AWords) : FWords(AWords) {
    for (const std::string& w : FWords) FLongestWord = std::max(FLongestWord, w.size());
  }

  TChatMatch MatchPadded(const char* AData, std::size_t ALength, std::size_t ACapacity, bool ARepaired = false) {
    FText.clear();
    FChecked = 0;
    FBadUtf8 = false;
    const TChatMatch walked = Walk(simdjson::padded_string_view(AData, ALength, ACapacity));
    if ((FBadUtf8 || walked == TChatMatch::NotAChat) && !ARepaired) {
      // Read a damaged byte or a lone surrogate escape as U+FFFD, as the chat loader does,
      // rather than lose the chat.
      std::string text = MakeValidUtf8(std::string_view(AData, ALength));
      if (RepairLoneSurrogateEscapes(text.data(), text.size()) || FBadUtf8) {
        const simdjson::padded_string valid(text);
        if (valid.data() == nullptr) return TChatMatch::NotAChat;
        return MatchPadded(valid.data(), valid.size(), valid.size() + simdjson::SIMDJSON_PADDING, true);
      }
    }
    if (walked == TChatMatch::NoMatch || walked == TChatMatch::NotAChat) return walked;
    // The walk stops early and skips what it does not need, so a match or a bad member
    // counts only in a file that is valid JSON as a whole.
    simdjson::dom::element root;
    if (FValidator.parse(AData, ALength, false).get(root) != simdjson::SUCCESS || !root.is_object()) return TChatMatch::NotAChat;
    return walked;
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
    return MatchPadded(FBuffer.get() + skip, length - skip, FCapacity - skip);
  }

 private:
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

TChatMatch MatchChatText(std::string_view AFileContent, const std::vector<std::string>& AWords) {
  if (AFileContent.starts_with(kUtf8Bom)) AFileContent.remove_prefix(kUtf8Bom.size());
  const simdjson::padded_string padded(AFileContent);
  if (padded.data() == nullptr) return TChatMatch::NotAChat;
  TChatMatcher matcher(AWords);
  return matcher.MatchPadded(padded.data(), padded.size(), padded.size() + simdjson::SIMDJSON_PADDING);
}

void SearchChats(const std::vector<std::string>& AWords, const std::function<void(const TChatEntry&)>& AOnMatch) {
  if (AWords.empty()) return;
  TChatMatcher matcher(AWords);
  for (const TChatEntry& entry : ChatListEntries(ListChatFiles())) {
    switch (matcher.MatchFile(entry.Path)) {
      case TChatMatch::Match: AOnMatch(entry); break;
      case TChatMatch::BadText:
        throw TFileError("В файле " + entry.Path + " поле \"text\" содержит не текст");
      default: break;
    }
  }
}

std::vector<TChatEntry> SearchChats(const std::vector<std::string>& AWords) {
  std::vector<TChatEntry> found;
  SearchChats(AWords, [&](const TChatEntry& e) { found.push_back(e); });
  return found;
}

}  // namespace tarvok
