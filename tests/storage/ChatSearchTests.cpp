#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Files.h"
#include "core/Text.h"
#include "storage/ChatLibrary.h"
#include "storage/ChatSearch.h"
#include "TestFolder.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using test::TTestFolder;
using Words = std::vector<std::string>;

TEST(ChatSearch, SplitsTheQueryIntoWords) {
  struct Case {
    std::string_view Query;
    Words Expected;
  } cases[] = {
      {"привет мир", {"привет", "мир"}},
      {"\"привет мир\" x", {"привет мир", "x"}},
      {"a\tb\x01" "c\r\nd", {"a", "b", "c", "d"}},
      {"a   b", {"a", "b"}},
      {"\"\" a \"\"", {"a"}},
      {"\"unterminated phrase", {"unterminated phrase"}},
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},
      {"ab\"cd ef\"", {"ab\"cd", "ef\""}},
      {"\"ab\"cd", {"ab", "cd"}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitSearchQuery(c.Query), c.Expected) << c.Query;
  EXPECT_EQ(NormaliseSearchQuery("  ПРИВЕТ Мир ЁЖ\t"), "привет мир ёж");
  EXPECT_EQ(NormaliseSearchQuery(" \t "), "");
}

std::string Chat(std::string_view ATurns) { return std::string(kUtf8Bom) + R"({"contents":[)" + std::string(ATurns) + "]}"; }

TEST(ChatSearch, MatchesTextMembersOnly) {
  const std::string picture =
      R"({"role":"user","parts":[{"inline_data":{"mime_type":"image\/png","data":"c2VjcmV0"},"file_name":"C:\\secret\\photo.png"}],)"
      R"("model_name":"gemini-secret","timestamp":"2024-01-01T00:00:00.000Z"})";
  struct Case {
    const char* Name;
    std::string File;
    Words Query;
    TChatMatch Expected;
  } cases[] = {
      {"any letter case", Chat(R"({"role":"user","parts":[{"text":"ПРИВЕТ всем"}]})"), {"привет", "мир"}, TChatMatch::Match},
      {"every Cyrillic capital", Chat(R"({"parts":[{"text":"ЀЁЏАЯ \u0400\u040F\u0410\u042F Ґ"}]})"),
       {"ѐёџая ѐџая ґ"}, TChatMatch::Match},
      {"the second word", Chat(R"({"role":"user","parts":[{"text":"Весь МИР"}]})"), {"привет", "мир"}, TChatMatch::Match},
      {"substring, not whole words", Chat(R"({"parts":[{"text":"Приветствую"}]})"), {"привет"}, TChatMatch::Match},
      {"escaped text", Chat(R"({"parts":[{"text":"\u041F\u0440\u0438\u0432\u0435\u0442"}]})"), {"привет"}, TChatMatch::Match},
      {"no word present", Chat(R"({"role":"user","parts":[{"text":"hello"}]})"), {"привет", "мир"}, TChatMatch::NoMatch},
      {"a phrase", Chat(R"({"parts":[{"text":"say hello world"}]})"), {"hello world"}, TChatMatch::Match},
      {"a phrase apart", Chat(R"({"parts":[{"text":"hello there world"}]})"), {"hello world"}, TChatMatch::NoMatch},
      {"parts are joined by a space", Chat(R"({"parts":[{"text":"abc"},{"text":"def"}]},{"parts":[{"text":"ghi"}]})"),
       {"c d"}, TChatMatch::Match},
      {"turns are joined by a space", Chat(R"({"parts":[{"text":"abc"}]},{"parts":[{"text":"def"}]})"), {"cdef"},
       TChatMatch::NoMatch},
      {"name, type, data, model and stamp are not text", Chat(picture),
       {"secret", "photo", "png", "c2vjcmv0", "gemini", "2024", "user"}, TChatMatch::NoMatch},
      {"role is not text", Chat(R"({"role":"model","parts":[]})"), {"model"}, TChatMatch::NoMatch},
      {"a number in text reads as its digits", Chat(R"({"parts":[{"text":42}]})"), {"42"}, TChatMatch::Match},
      {"a number reads as written", Chat(R"({"parts":[{"text":1E3}]})"), {"1e3"}, TChatMatch::Match},
      {"true reads as its word", Chat(R"({"parts":[{"text":true}]})"), {"true"}, TChatMatch::Match},
      {"a name spelt with escapes is another name", Chat(R"({"parts":[{"\u0074ext":"found"}]})"), {"found"},
       TChatMatch::NoMatch},
      {"the first of two texts", Chat(R"({"parts":[{"text":"one","text":"found"}]})"), {"found"}, TChatMatch::NoMatch},
      {"odd elements are passed over", Chat(R"(5,{"parts":7},{"parts":[null,"x",{"text":null},{"text":"found"}]})"),
       {"found"}, TChatMatch::Match},
      {"no contents", R"({"other":[{"parts":[{"text":"found"}]}]})", {"found"}, TChatMatch::NoMatch},
      {"not JSON", "found", {"found"}, TChatMatch::NotAChat},
      {"array at the top", R"([{"contents":[{"parts":[{"text":"found"}]}]}])", {"found"}, TChatMatch::NotAChat},
      {"broken after the match", Chat(R"({"parts":[{"text":"found"}]},{"parts":[{"text":"more"}])"), {"found"},
       TChatMatch::NotAChat},
      {"damage inside data it skips", Chat(R"({"parts":[{"text":"found"}]},{"x":[1,,2]})"), {"found"}, TChatMatch::NotAChat},
      {"an invalid byte reads as U+FFFD", Chat("{\"parts\":[{\"text\":\"found \xFF\"}]}"), {"found \xEF\xBF\xBD"},
       TChatMatch::Match},
      {"invalid UTF-8 in a file that is no JSON", "\xFF found", {"found"}, TChatMatch::NotAChat},
      {"a lone surrogate escape reads as U+FFFD", Chat(R"({"parts":[{"text":"found \ud800"}]})"), {"found \xEF\xBF\xBD"},
       TChatMatch::Match},
      {"text holding an object", Chat(R"({"parts":[{"text":{"a":"found"}}]})"), {"found"}, TChatMatch::BadText},
      {"text holding an array in a broken file", Chat(R"({"parts":[{"text":["found"]}]},)"), {"found"}, TChatMatch::NotAChat},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchChatText(c.File, c.Query), c.Expected) << c.Name;
    // The search skips a file only when the quick look says it cannot match.
    if (c.Expected == TChatMatch::Match || c.Expected == TChatMatch::BadText) EXPECT_TRUE(ChatMayMatch(c.File, c.Query)) << c.Name;
  }
}

TEST(ChatSearch, TheQuickLookPassesOverOnlyWhatCannotMatch) {
  const std::string data = R"({"inline_data":{"mime_type":"image\/png","data":"bm93aGVyZQ\/\/nowhere"},"file_name":"nowhere.png"})";
  struct Case {
    const char* Name;
    std::string File;
    Words Query;
    bool MayMatch;
  } cases[] = {
      {"the word in data, name and type only", Chat(R"({"role":"nowhere","parts":[)" + data + R"(,{"text":"x"}],"model_name":"nowhere"})"),
       {"nowhere", "png"}, false},
      {"a missing word", Chat(R"({"parts":[{"text":"\u041F\u0440\u0438\u0432\u0435\u0442"}]})"), {"мир"}, false},
      {"escaped capitals", Chat(R"({"parts":[{"text":"\u041F\u0420\u0418\u0412\u0415\u0422"}]})"), {"привет"}, true},
      {"lower-case hex", Chat(R"({"parts":[{"text":"\u043f\u0440\u0438\u0432\u0435\u0442"}]})"), {"привет"}, true},
      {"raw UTF-8", Chat(R"({"parts":[{"text":"ПрИвЕт"}]})"), {"привет"}, true},
      {"escaped ASCII", Chat(R"({"parts":[{"text":"\u004E\u006Fwhere"}]})"), {"nowhere"}, true},
      {"an escaped key", Chat(R"({"parts":[{"\u0074ext":"nowhere"}]})"), {"nowhere"}, true},
      {"quotes and slashes", Chat(R"({"parts":[{"text":"say \"a\/b\\\""}]})"), {"\"a/b\\\""}, true},
      {"a pair of surrogates", Chat(R"({"parts":[{"text":"\uD83D\uDE00!"}]})"), {"\xF0\x9F\x98\x80!"}, true},
      {"a lone surrogate", Chat(R"({"parts":[{"text":"\uD83D"}]})"), {"x"}, true},
      {"a blank in the word", Chat(R"({"parts":[{"text":"a"}]})"), {"a b"}, true},
      {"text that is a number", Chat(R"({"parts":[{"text":12}]})"), {"x"}, true},
      {"text that is null", Chat(R"({"parts":[{"text" : null}]})"), {"x"}, false},
      {"blanks around the colon", Chat(R"({"parts":[{"text" :  "nowhere"}]})"), {"nowhere"}, true},
      {"a quote after backslashes in data", Chat(R"({"parts":[{"text":"a\\"},{"text":"nowhere"}]})"), {"nowhere"}, true},
  };
  for (const Case& c : cases) EXPECT_EQ(ChatMayMatch(c.File, c.Query), c.MayMatch) << c.Name;
}

// The quick look reads the escapes the chat files are made of (ASCII and Cyrillic) its own
// short way: for every escape up to U+04FF and past it, in either case of hex, as a word's
// middle or its capital, it must find a word exactly when the full match does.
TEST(ChatSearch, TheQuickLookReadsEveryEscapeAsTheFullMatchDoes) {
  for (unsigned v = 1; v < 0x500; ++v) {
    std::string letter;
    AppendUtf8(letter, static_cast<char32_t>(v));
    for (const char* format : {"\\u%04X", "\\u%04x"}) {
      char escape[8];
      std::snprintf(escape, sizeof escape, format, v);
      const std::string file = Chat(std::string(R"({"parts":[{"text":"Q)") + escape + R"(z"}]})");
      for (const std::string& word : {NormaliseSearchQuery("q" + letter + "z"), "q" + letter + "z"}) {
        const bool found = MatchChatText(file, {word}) == TChatMatch::Match;
        EXPECT_EQ(ChatMayMatch(file, {word}), found) << escape << " as " << word;
      }
    }
  }
}

class ChatSearchFolder : public ::testing::Test {
 protected:
  std::string Write(const fs::path& APath, const std::string& AContent) {
    WriteFileAtomic(APath, AContent);
    return PathToUtf8(APath);
  }
  // The chat list's entries for these paths, in the chat list's order.
  std::vector<TChatEntry> Listed(const std::vector<std::string>& APaths) {
    std::vector<TChatEntry> out;
    for (const TChatEntry& e : LoadChatList())
      if (std::find(APaths.begin(), APaths.end(), e.Path) != APaths.end()) out.push_back(e);
    return out;
  }
  void SetUp() override {
    CreateChatFolders();
    FChats = ChatsDir();
  }
  TTestFolder FFolder;
  fs::path FChats;
};

TEST_F(ChatSearchFolder, FindsMainChatsInChatListOrder) {
  const std::string a = Write(FChats / "a_2025-01-01_100000.json", Chat(R"({"parts":[{"text":"Привет, как дела?"}]})"));
  const std::string b = Write(FChats / "b_2025-01-01_100000.json", Chat(R"({"parts":[{"text":"мир"}]})"));
  Write(FChats / "c_2025-01-01_100000.json", Chat(R"({"parts":[{"text":"nothing here"}]})"));
  Write(FChats / "привет_2025-01-01_100000.json", Chat(R"({"parts":[{"text":"only the name has it"}]})"));
  Write(FChats / "subchats" / "c_2025-01-01_100000_part_01_x.json", Chat(R"({"parts":[{"text":"привет in a part"}]})"));
  Write(FChats / "broken_2025-01-01_100000.json", Chat(R"({"parts":[{"text":"привет"}]})").substr(0, 40));
  Write(FChats / "notes.txt", "привет");

  const std::vector<TChatEntry> found = SearchChats(SplitSearchQuery(NormaliseSearchQuery("ПРИВЕТ Мир")));
  EXPECT_EQ(found, Listed({a, b}));
  EXPECT_TRUE(SearchChats({}).empty());
  EXPECT_EQ(LoadChatList().size(), 5u) << "the full list still shows the broken file";
}

TEST_F(ChatSearchFolder, ABadTextMemberStopsTheSearchAfterTheMatchesBeforeIt) {
  std::vector<std::string> matching;
  for (int i = 0; i < 4; ++i)
    matching.push_back(Write(FChats / ("ok" + std::to_string(i) + ".json"), Chat(R"({"parts":[{"text":"word"}]})")));
  const std::string bad = Write(FChats / "bad.json", Chat(R"({"parts":[{"text":{"x":"word"}}]})"));

  std::vector<TChatEntry> reported;
  EXPECT_THROW(SearchChats({"word"}, [&](const TChatEntry& e) { reported.push_back(e); }), TFileError);
  std::vector<TChatEntry> expected;
  for (const TChatEntry& e : LoadChatList()) {
    if (e.Path == bad) break;
    expected.push_back(e);
  }
  EXPECT_EQ(reported, expected);
}

TEST_F(ChatSearchFolder, AChatTooBigForMemoryIsAnUnreadableFile) {
  const std::string huge = Write(FChats / "huge_2025-01-01_100000.json", "{}");
  std::error_code ec;
  fs::resize_file(PathFromUtf8(huge), std::uintmax_t{1} << 40, ec);  // sparse: costs no disk
  if (ec) GTEST_SKIP() << "no sparse file of 1 TiB here: " << ec.message();
  EXPECT_THROW(SearchChats({"word"}), TFileError);
}

// Files are matched side by side; what is reported must be what a search file by file reports.
TEST_F(ChatSearchFolder, ManyFilesReportTheSameMatchesInListOrder) {
  std::vector<std::string> matching, all;
  for (int i = 0; i < 60; ++i) {
    const bool match = i % 3 == 0;
    const std::string name = "c" + std::to_string(i) + "_2025-01-" + std::to_string(10 + i % 20) + "_1000" + std::to_string(i % 10) + ".json";
    all.push_back(Write(FChats / name, Chat(match ? R"({"parts":[{"text":"Найди СЛОВО"}]})" : R"({"parts":[{"text":"нет"}]})")));
    if (match) matching.push_back(all.back());
  }
  EXPECT_EQ(SearchChats({"слово"}), Listed(matching));

  // An error in the middle of the list: the matches before it, none after it.
  const std::string bad = LoadChatList()[all.size() / 2].Path;
  Write(PathFromUtf8(bad), Chat(R"({"parts":[{"text":["слово"]}]})"));
  std::vector<TChatEntry> reported, expected;
  for (const TChatEntry& e : LoadChatList()) {
    if (e.Path == bad) break;
    if (std::find(matching.begin(), matching.end(), e.Path) != matching.end()) expected.push_back(e);
  }
  EXPECT_THROW(SearchChats({"слово"}, [&](const TChatEntry& e) { reported.push_back(e); }), TFileError);
  EXPECT_EQ(reported, expected);
  ASSERT_LT(expected.size(), matching.size() - 1) << "matches must lie after the error too";
}

}  // namespace
}  // namespace tarvok
