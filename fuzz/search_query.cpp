// The search box's text split into words and matched against chat file contents. The
// input is "query\0content": no crash, no empty word, and a chat whose text holds the
// query's first word is found.
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "core/Text.h"
#include "storage/ChatFile.h"
#include "storage/ChatSearch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace tarvok;
  const std::string_view input = fuzz::AsText(AData, ASize);
  const std::size_t cut = input.find('\0');
  const std::string_view query = input.substr(0, cut);
  const std::string_view content = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);
  const std::vector<std::string> words = SplitSearchQuery(NormaliseSearchQuery(query));
  for (const std::string& word : words) TARVOK_FUZZ_CHECK(!word.empty());
  MatchChatText(content, words);
  MatchChatText(query, words);
  if (!words.empty() && MakeValidUtf8(words.front()) == words.front()) {
    THistoryItem turn;
    turn.Role = "user";
    turn.Parts.push_back({TPartType::ptText, "before " + words.front() + " after", "", {}, ""});
    TARVOK_FUZZ_CHECK(MatchChatText(ChatFileContent({turn}), words) == TChatMatch::Match);
  }
  return 0;
}
