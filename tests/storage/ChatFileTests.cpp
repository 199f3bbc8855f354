#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "core/DateTime.h"
#include "core/Files.h"
#include "core/JsonWriter.h"
#include "core/TokenEstimate.h"
#include "storage/Base64.h"
#include "storage/ChatFile.h"
#include "TestFolder.h"
#include "tests/sanitizers/Sanitizers.h"

namespace tarvok {
namespace {

using test::TTestFolder;

TContentPart TextPart(std::string AText) {
  TContentPart p;
  p.Text = std::move(AText);
  return p;
}

TContentPart FilePart(std::string AMime, std::string AData, std::string AFileName, std::string AText = {}) {
  TContentPart p;
  p.PartType = TPartType::ptInlineData;
  p.MimeType = std::move(AMime);
  p.Base64Data = TSharedText(std::move(AData));
  p.FileName = std::move(AFileName);
  p.Text = std::move(AText);
  return p;
}

THistoryItem Turn(std::string ARole, TContentParts AParts, int ATokens = 0, TDateTime AStamp = 0,
                  std::string AModel = {}, std::string ADuration = {}) {
  THistoryItem item;
  item.Role = std::move(ARole);
  item.Parts = std::move(AParts);
  item.TokenCount = ATokens;
  item.Timestamp = AStamp;
  item.ModelName = std::move(AModel);
  item.Duration = std::move(ADuration);
  return item;
}

const TDateTime kStamp = EncodeDateTime({2024, 3, 5, 7, 8, 9, 123});

TEST(ChatFile, SavesTheExactCompactAsciiForm) {
  struct Case {
    const char* Name;
    TChatHistory History;
    std::string Json;
  } cases[] = {
      {"empty history", {}, R"({"contents":[]})"},
      {"Cyrillic text, no tokens, no stamp",
       {Turn("user", {TextPart("Привет")})},
       R"({"contents":[{"role":"user","parts":[{"text":"\u041F\u0440\u0438\u0432\u0435\u0442"}]}]})"},
      {"emoji as a surrogate pair",
       {Turn("model", {TextPart("\xF0\x9F\x98\x80!")}, 3)},
       R"({"contents":[{"role":"model","parts":[{"text":"\uD83D\uDE00!"}],"token_count":3}]})"},
      {"every escape class",
       {Turn("user", {TextPart(std::string("q\"b\\s/\b\t\n\f\r\x01\x1f", 13) + std::string(1, '\0'))}, 1)},
       R"({"contents":[{"role":"user","parts":[{"text":"q\"b\\s\/\b\t\n\f\r\u0001\u001F\u0000"}],"token_count":1}]})"},
      {"attachment with a Windows path; its decoded text is not stored",
       {Turn("user", {TextPart("see"), FilePart("text/plain", "aGk/+w==", "C:\\Users\\Ира\\a.txt", "hi")}, 12, kStamp)},
       R"({"contents":[{"role":"user","parts":[{"text":"see"},{"inline_data":{"mime_type":"text\/plain","data":"aGk\/+w=="},)"
       R"("file_name":"C:\\Users\\\u0418\u0440\u0430\\a.txt"}],"token_count":12,"timestamp":"2024-03-05T07:08:09.123Z"}]})"},
      {"generated picture without a file name",
       {Turn("model", {FilePart("image/png", "iVBO", "")}, 5)},
       R"({"contents":[{"role":"model","parts":[{"inline_data":{"mime_type":"image\/png","data":"iVBO"}}],"token_count":5}]})"},
      {"model name and duration present",
       {Turn("model", {TextPart("ok")}, 7, kStamp, "gemini-2.5-pro", "14")},
       R"({"contents":[{"role":"model","parts":[{"text":"ok"}],"token_count":7,"timestamp":"2024-03-05T07:08:09.123Z",)"
       R"("model_name":"gemini-2.5-pro","duration":"14"}]})"},
      {"a turn without parts, zeros in the stamp",
       {Turn("user", {}, 0, EncodeDateTime({2001, 1, 2, 0, 0, 0, 5}))},
       R"({"contents":[{"role":"user","parts":[],"timestamp":"2001-01-02T00:00:00.005Z"}]})"},
      {"a stamp before 1899-12-30 is not written", {Turn("user", {}, 0, -2.5)}, R"({"contents":[{"role":"user","parts":[]}]})"},
      {"data that is not Base64 is still escaped",
       {Turn("model", {FilePart("image/png", "a\"b", "")}, 1)},
       R"({"contents":[{"role":"model","parts":[{"inline_data":{"mime_type":"image\/png","data":"a\"b"}}],"token_count":1}]})"},
  };
  for (const Case& c : cases) EXPECT_EQ(ChatFileContent(c.History), std::string(kUtf8Bom) + c.Json) << c.Name;
}

TEST(ChatFile, SaveThenLoadGivesBackEveryField) {
  TTestFolder folder;
  const std::string picture = folder.Write("cat.png", "not really a picture");
  TChatHistory history = {
      Turn("user", {TextPart("Привет, \xF0\x9F\x98\x80 C:\\tmp/x\r\n\ttab"), FilePart("image/png", "iVBORw0K/+==", picture)}, 300,
           kStamp),
      Turn("model", {TextPart("Ответ")}, 0, kStamp + 1.5, "gemini-2.5-flash", "3"),
      Turn("user", {FilePart("text/plain", "aGk=", "/home/u/a.txt", "hi")}, 9, EncodeDateTime({2025, 12, 31, 23, 59, 59, 999})),
  };
  const std::string path = folder.File("chat.json");
  WriteChatFile(path, history);

  TChatHistory loaded;
  std::int32_t tokens = -1;
  ASSERT_TRUE(ReadChatFile(path, loaded, tokens));
  TChatHistory expected = history;
  expected[1].TokenCount = CountTokens(expected[1].Parts);  // 0 is stored as absent and recounted
  ASSERT_GT(expected[1].TokenCount, 0);
  expected[2].Parts[0].Text.clear();  // the decoded text of an attachment is not stored
  EXPECT_EQ(loaded, expected);
  EXPECT_EQ(tokens, CountTokensForHistory(expected));
  EXPECT_EQ(loaded[0].Parts[1].Base64Data.view(), "iVBORw0K/+==");
}

// The file's text as the general JSON writer makes it, member by member: the saver,
// which writes it piece by piece, must give these bytes exactly.
std::string GeneralWriterText(const TChatHistory& AHistory) {
  std::string out(kUtf8Bom);
  TJsonWriter w(out);
  w.BeginObject().Key("contents").BeginArray();
  for (const THistoryItem& item : AHistory) {
    w.BeginObject().Key("role").String(item.Role).Key("parts").BeginArray();
    for (const TContentPart& part : item.Parts) {
      w.BeginObject();
      if (part.PartType == TPartType::ptInlineData) {
        w.Key("inline_data").BeginObject().Key("mime_type").String(part.MimeType).Key("data").String(part.Base64Data.view());
        w.EndObject();
        if (!part.FileName.empty()) w.Key("file_name").String(part.FileName);
      } else {
        w.Key("text").String(part.Text);
      }
      w.EndObject();
    }
    w.EndArray();
    if (item.TokenCount > 0) w.Key("token_count").Int(item.TokenCount);
    if (item.Timestamp > 0) w.Key("timestamp").String(FormatIsoTimestamp(item.Timestamp));
    if (!item.ModelName.empty()) w.Key("model_name").String(item.ModelName);
    if (!item.Duration.empty()) w.Key("duration").String(item.Duration);
    w.EndObject();
  }
  w.EndArray().EndObject();
  return out;
}

std::string RandomBase64(std::size_t ABytes, unsigned ASeed) {
  std::mt19937 rng(ASeed);
  std::string bytes(ABytes, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return Base64Encode(bytes);
}

// Chats of every shape, saved in memory and to a file, against the general writer; each
// loads back (from the file and from memory) as the same history. Attachments of several
// megabytes span many of the saver's blocks; every token count is set, so none is recounted.
TEST(ChatFile, SavesEveryChatAsTheGeneralWriterDoesAndLoadsItBack) {
  TTestFolder folder;
  const std::string big = RandomBase64(1'500'000, 1);  // 2 MB of Base64, a "/" every 64 characters or so
  const std::string clean(70'000, 'A');                // longer than one piece of the saver
  struct Case {
    const char* Name;
    TChatHistory History;
  } cases[] = {
      {"empty history", {}},
      {"texts: Cyrillic, an emoji, every escape, a Windows path",
       {Turn("user", {TextPart("Привет, \xF0\x9F\x98\x80 C:\\tmp/x\r\n\t\"q\" \b\f\x01\x1f")}, 5, kStamp),
        Turn("model", {TextPart("Ответ"), TextPart("")}, 7, kStamp + 1, "gemini-2.5-pro", "12"), Turn("user", {}, 1)}},
      {"small attachments, one without a file name",
       {Turn("user", {FilePart("image/png", "iVBORw0K/+==", "C:\\Users\\Ира\\cat.png"), FilePart("text/plain", "", "")}, 9),
        Turn("model", {FilePart("image/png", "aGk/", "")}, 3)}},
      {"attachments a little over and under the length taken out before the parse",
       {Turn("user",
             {FilePart("application/pdf", RandomBase64(192, 2), "/a.pdf"), FilePart("application/pdf", RandomBase64(180, 3), "/b.pdf")},
             4)}},
      {"big attachments among texts",
       {Turn("user",
             {TextPart("Сравни"), FilePart("application/pdf", big, "/home/u/a.pdf"),
              FilePart("application/pdf", RandomBase64(1'000'003, 4), "")},
             1500, kStamp),
        Turn("model", {TextPart("## Итог\n| a | b |")}, 400, kStamp + 2, "gemini-2.5-flash", "3"),
        Turn("user", {FilePart("image/jpeg", big, "/home/u/b.jpg")}, 258)}},
      {"data that turns foreign after more than a piece of Base64",
       {Turn("user", {FilePart("image/png", clean + "/é\"\\x" + clean, "/p.png"), FilePart("image/png", "\"" + clean, "/q.png")},
             2)}},
  };
  for (const Case& c : cases) {
    const std::string expected = GeneralWriterText(c.History);
    EXPECT_TRUE(ChatFileContent(c.History) == expected) << c.Name;
    const std::string path = folder.File("chat.json");
    WriteChatFile(path, c.History);
    EXPECT_TRUE(folder.Read("chat.json") == expected) << c.Name;

    TChatHistory loaded = {Turn("user", {TextPart("old")}, 1)};
    std::int32_t tokens = -1;
    TChatLoadReport report;
    ASSERT_TRUE(ReadChatFile(path, loaded, tokens, &report)) << c.Name;
    EXPECT_TRUE(report.Complete) << c.Name;
    EXPECT_TRUE(loaded == c.History) << c.Name;
    EXPECT_EQ(tokens, CountTokensForHistory(c.History)) << c.Name;
    TChatHistory parsed;
    ParseChatFileText(expected, parsed, tokens);
    EXPECT_TRUE(parsed == c.History) << c.Name;
  }
}

// Long Base64 values are taken from the text before the parse; whatever the text around
// them, a load must read what a plain parse of the text reads. Each row gives, per turn,
// its role and its parts ("t:" text, "d:" data), or nothing when the text cannot be parsed.
TEST(ChatFile, ReadsLongAttachmentsInAnyTextAsAPlainParseDoes) {
  const std::string data = RandomBase64(3000, 5);  // 4,000 characters with "/" in them
  std::string escaped;
  AppendJsonEscaped(escaped, data);
  const std::string d = "d:" + data.substr(0, 8);
  auto file = [&](std::string_view APart, std::string_view AAfter = "") {
    return std::string(R"({"contents":[{"role":"user","parts":[)") + std::string(APart) + R"(],"token_count":1})" +
           std::string(AAfter) + "]}";
  };
  const std::string inl = R"({"inline_data":{"mime_type":"a","data":")" + escaped + R"("}})";
  struct Case {
    const char* Name;
    std::string Text;
    std::vector<std::string> Turns;
  } cases[] = {
      {"as the saver writes it", file(inl), {"user " + d}},
      {"data before the type", file(R"({"inline_data":{"data":")" + escaped + R"(","mime_type":"a"}})"), {"user " + d}},
      {"white space around the colon", file(R"({"inline_data":{"mime_type":"a","data" : ")" + escaped + R"("}})"),
       {"user " + d}},
      {"the key spelt with an escape", file(R"({"inline_data":{"mime_type":"a","d\u0061ta":")" + escaped + R"("}})"), {"user " + d}},
      {"slashes not escaped", file(R"({"inline_data":{"mime_type":"a","data":")" + data + R"("}})"), {"user " + d}},
      {"an escaped letter in the data", file(R"({"inline_data":{"mime_type":"a","data":"\u0041)" + escaped + R"("}})"),
       {"user d:A" + data.substr(0, 7)}},
      {"an escaped quote in the data", file(R"({"inline_data":{"mime_type":"a","data":")" + escaped + R"(\"x"}})"),
       {"user " + d}},
      {"a data member of a text part is not read", file(R"({"text":"t","data":")" + escaped + R"("})"), {"user t:t"}},
      {"a data member of the root and of a turn",
       R"({"data":")" + escaped + R"(",)" + file(inl, R"(,{"role":"model","data":")" + escaped + R"(","parts":[]})").substr(1),
       {"user " + d, "model"}},
      {"the member written out inside a text", file(R"({"text":"{\"data\":\")" + escaped + R"(\"}"})"), {"user t:{\"data\":"}},
      {"a text that ends before the key", file(R"({"text":"x,"data":")" + escaped + R"("})"), {}},
      {"the text cut off after the data", file(inl).substr(0, file(inl).size() - 3), {}},
      {"a damaged turn after the data", file(inl, R"(,{"role":{}})"), {"user " + d, ""}},
      {"the data first in a foreign object",
       file(inl, R"(,{"role":"model","parts":[{"inline_data":{"data":")" + escaped + R"("}},5]})"), {"user " + d, ""}},
      {"a damaged byte in a text beside the data", file("{\"text\":\"\xFF\"}," + inl), {"user t:\xEF\xBF\xBD " + d}},
      {"a lone surrogate in a text beside the data", file(inl + R"(,{"text":"\ud800"})"), {"user " + d + " t:\xEF\xBF\xBD"}},
  };
  for (const Case& c : cases) {
    TChatHistory h;
    std::int32_t tokens = 0;
    ParseChatFileText(c.Text, h, tokens);
    std::vector<std::string> turns;
    for (const THistoryItem& item : h) {
      std::string t = item.Role;
      for (const TContentPart& p : item.Parts) {
        t += p.PartType == TPartType::ptText ? " t:" + p.Text.substr(0, 8) : " d:" + p.Base64Data.str().substr(0, 8);
        if (p.PartType == TPartType::ptInlineData && p.Base64Data.view() != data && p.Base64Data.size() == data.size())
          t += "(differs)";
      }
      turns.push_back(t);
    }
    EXPECT_EQ(turns, c.Turns) << c.Name;
  }
}

TEST(ChatFile, LoadingAMissingFileChangesNothing) {
  TTestFolder folder;
  TChatHistory history = {Turn("user", {TextPart("kept")}, 4)};
  std::int32_t tokens = 4;
  EXPECT_FALSE(ReadChatFile(folder.File("nothing-here.json"), history, tokens));
  EXPECT_FALSE(ReadChatFile(folder.Path().string(), history, tokens)) << "a folder is not a chat file";
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].Parts[0].Text, "kept");
  EXPECT_EQ(tokens, 4);
}

std::string Repeat(std::string_view AText, std::size_t ACount) {
  std::string s;
  s.reserve(AText.size() * ACount);
  for (std::size_t i = 0; i < ACount; ++i) s += AText;
  return s;
}

// Damaged and foreign files: each row gives the roles read ("" for an empty turn) and the total.
TEST(ChatFile, LoadsDamagedFilesAsFarAsTheyCanBeRead) {
  const std::string a = R"({"role":"user","parts":[{"text":"a"}],"token_count":5})";
  const std::string b = R"({"role":"model","parts":[{"text":"b"}],"token_count":7})";
  struct Case {
    const char* Name;
    std::string Text;
    std::vector<std::string> Roles;
    std::int32_t Tokens;
  } cases[] = {
      {"not JSON", "hello", {}, 0},
      {"empty file", "", {}, 0},
      {"array at the top", "[" + a + "]", {}, 0},
      {"two values", R"({"contents":[]}{"contents":[]})", {}, 0},
      {"contents null", R"({"contents":null})", {}, 0},
      {"contents missing", R"({"other":[1]})", {}, 0},
      {"contents empty", R"({"contents":[]})", {}, 0},
      {"whole file without a byte-order mark", R"({"contents":[)" + a + "," + b + "]}", {"user", "model"}, 12},
      {"an element that is not an object in the middle", R"({"contents":[)" + a + ",5," + b + "]}", {"user", "", ""}, 0},
      {"role holding an object", R"({"contents":[)" + a + R"(,{"role":{"x":1},"parts":[]},)" + b + "]}", {"user", "", ""}, 0},
      {"a part that is not an object", R"({"contents":[)" + a + R"(,{"role":"model","parts":["x"],"token_count":1}]})",
       {"user", ""}, 0},
      {"token count as text that is a number", R"({"contents":[{"role":"user","parts":[],"token_count":"12"}]})", {"user"}, 12},
      {"token count as text that is not a number", R"({"contents":[{"role":"user","parts":[],"token_count":"x"}]})", {""}, 0},
      // A count below zero is no count: the turn is counted again, and the total is not lowered.
      {"negative token count", R"({"contents":[{"role":"user","parts":[{"text":"a"}],"token_count":-204},)" + b + "]}",
       {"user", "model"}, 8},
      {"negative token count as text", R"({"contents":[{"role":"user","parts":[{"text":"a"}],"token_count":"-204"}]})", {"user"}, 1},
      {"token count beyond 32 bits", R"({"contents":[{"role":"user","parts":[],"token_count":99999999999}]})", {""}, 0},
      {"null members read as empty", R"({"contents":[{"role":null,"parts":null,"token_count":null,"model_name":null}]})", {""}, 0},
      {"a number out of range", R"({"contents":[{"role":"user","x":1e999}]})", {}, 0},
      {"an integer of 40 digits", R"({"contents":[{"role":"user","x":1234567890123456789012345678901234567890}]})", {}, 0},
      {"deep nesting", R"({"contents":[{"role":"user","x":)" + Repeat("[", 100000) + Repeat("]", 100000) + "}]}", {}, 0},
      {"unclosed deep nesting", Repeat("{\"a\":[", 200000), {}, 0},
      {"contents of over a million elements", R"({"contents":[{})" + Repeat(",{}", 1'000'000) + "]}", {}, 0},
  };
  for (const Case& c : cases) {
    for (const bool bom : {false, true}) {
      TChatHistory h = {Turn("user", {TextPart("old")}, 1)};
      std::int32_t tokens = 99;
      ParseChatFileText((bom ? std::string(kUtf8Bom) : std::string()) + c.Text, h, tokens);
      std::vector<std::string> roles;
      for (const THistoryItem& item : h) roles.push_back(item.Role);
      EXPECT_EQ(roles, c.Roles) << c.Name << (bom ? " (with BOM)" : "");
      EXPECT_EQ(tokens, c.Tokens) << c.Name << (bom ? " (with BOM)" : "");
      for (std::size_t i = 0; i < h.size() && i < c.Roles.size(); ++i) {
        if (c.Roles[i].empty()) {
          EXPECT_TRUE(h[i].Parts.empty() && h[i].TokenCount == 0 && h[i].Timestamp == 0) << c.Name << " turn " << i;
        }
      }
    }
  }
}

// Whether a load read everything decides whether the file may be written over.
TEST(ChatFile, ALoadSaysWhetherItReadTheWholeFile) {
  TTestFolder folder;
  const std::string good = R"({"role":"user","parts":[{"text":"a"}],"token_count":5})";
  std::string five;
  for (int i = 0; i < 5; ++i) five += good + ",";
  struct Case {
    const char* Name;
    std::string Text;
    bool Complete;
    std::size_t TurnsRead, Turns;
  } cases[] = {
      {"whole", R"({"contents":[)" + good + "]}", true, 1, 1},
      {"empty file", "", true, 0, 0},
      {"a damaged turn after five good ones",
       R"({"contents":[)" + five + R"({"role":"model","parts":[],"token_count":99999999999999},)" + good + "]}", false, 5, 7},
      {"not JSON", "hello", false, 0, 0},
      {"cut off", R"({"contents":[)" + good, false, 0, 0},
  };
  for (const Case& c : cases) {
    const std::string path = folder.Write("chat.json", c.Text);
    TChatHistory history;
    std::int32_t tokens = 0;
    TChatLoadReport report;
    ASSERT_TRUE(ReadChatFile(path, history, tokens, &report)) << c.Name;
    EXPECT_EQ(report.Complete, c.Complete) << c.Name;
    EXPECT_EQ(report.TurnsRead, c.TurnsRead) << c.Name;
    EXPECT_EQ(history.size(), c.Turns) << c.Name;
  }
}

// A lone surrogate escape reads as U+FFFD, as an invalid UTF-8 byte does, and costs nothing else.
TEST(ChatFile, ALoneSurrogateEscapeReadsAsAReplacementCharacter) {
  struct Case {
    const char* Escaped;
    std::string Text;
  } cases[] = {
      {R"(x\ud800y)", "x\xEF\xBF\xBDy"},
      {R"(\uDC00\uD800)", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {R"(\ud83d\ude00)", "\xF0\x9F\x98\x80"},
      {R"(\\ud800)", "\\ud800"},
  };
  for (const Case& c : cases) {
    const std::string file = R"({"contents":[{"role":"user","parts":[{"text":"first"}]},{"role":"model","parts":[{"text":")" +
                             std::string(c.Escaped) + R"("}]}]})";
    TChatHistory history;
    std::int32_t tokens = 0;
    ParseChatFileText(file, history, tokens);
    ASSERT_EQ(history.size(), 2u) << c.Escaped;
    EXPECT_EQ(history[0].Parts.at(0).Text, "first") << c.Escaped;
    EXPECT_EQ(history[1].Parts.at(0).Text, c.Text) << c.Escaped;
    EXPECT_GT(tokens, 0) << c.Escaped;
  }
}

// simdjson's padded buffer is null when memory runs out; such a file reads as unreadable.
TEST(ChatFile, AFileTooBigForMemoryReadsAsUnreadable) {
  TTestFolder folder;
  const std::string path = folder.Write("huge.json", "{}");
  std::error_code ec;
  std::filesystem::resize_file(PathFromUtf8(path), std::uintmax_t{1} << 40, ec);  // sparse: costs no disk
  if (ec) GTEST_SKIP() << "no sparse file of 1 TiB here: " << ec.message();
  TChatHistory history = {Turn("user", {TextPart("old")})};
  std::int32_t tokens = 7;
  TChatLoadReport report;
  EXPECT_TRUE(ReadChatFile(path, history, tokens, &report));
  EXPECT_TRUE(history.empty());
  EXPECT_FALSE(report.Complete);
  if (tarvok::test::kAddressSanitizer || tarvok::test::kThreadSanitizer)
    GTEST_SKIP() << "the whole-file reader's part: the sanitizer's allocator ends the process where a "
                    "throwing operator new runs out of memory, whatever allocator_may_return_null says";
  EXPECT_EQ(ReadWholeFile(PathFromUtf8(path)), std::nullopt);
}

TEST(ChatFile, ReadsValuesInTheirLenientForms) {
  SetClockForTests([] { return EncodeDateTime({2030, 1, 1, 12, 0, 0, 0}); });
  TChatHistory h;
  std::int32_t tokens = 0;
  ParseChatFileText(
      "{\"contents\":[{\"role\":\"user\",\"parts\":[{\"text\":\"bad\xFF" "byte\"},{\"inline_data\":{\"mime_type\":\"image/png\"},"
      "\"text\":\"ignored\"},{\"inline_data\":\"not an object\",\"text\":\"t\"}],\"token_count\":2,\"timestamp\":\"yesterday\","
      "\"duration\":15},{\"role\":\"model\",\"token_count\":3,\"timestamp\":\"2024-03-05T10:08:09.5+03:00\"}]}",
      h, tokens);
  SetClockForTests({});
  ASSERT_EQ(h.size(), 2u);
  ASSERT_EQ(h[0].Parts.size(), 3u);
  EXPECT_EQ(h[0].Parts[0].Text, "bad\xEF\xBF\xBD" "byte") << "an invalid byte reads as U+FFFD";
  EXPECT_EQ(h[0].Parts[1].PartType, TPartType::ptInlineData);
  EXPECT_EQ(h[0].Parts[1].MimeType, "image/png");
  EXPECT_TRUE(h[0].Parts[1].Base64Data.empty() && h[0].Parts[1].Text.empty());
  EXPECT_EQ(h[0].Parts[2].PartType, TPartType::ptText);
  EXPECT_EQ(h[0].Parts[2].Text, "t");
  EXPECT_EQ(h[0].Timestamp, EncodeDateTime({2030, 1, 1, 12, 0, 0, 0})) << "a bad stamp is the time of loading";
  EXPECT_EQ(h[0].Duration, "15");
  EXPECT_EQ(h[0].TokenCount, 2);
  EXPECT_TRUE(h[1].Parts.empty()) << "a turn without parts has none";
  EXPECT_EQ(h[1].Timestamp, EncodeDateTime({2024, 3, 5, 7, 8, 9, 500}));
  EXPECT_EQ(tokens, 5);
}

TEST(ChatFile, ParsesTimestamps) {
  struct Case {
    std::string_view Text;
    bool Ok;
    TDateTimeParts Parts;
  } cases[] = {
      {"2024-03-05T07:08:09.123Z", true, {2024, 3, 5, 7, 8, 9, 123}},
      {"2024-03-05T07:08:09Z", true, {2024, 3, 5, 7, 8, 9, 0}},
      {"2024-03-05T07:08:09.1234567", true, {2024, 3, 5, 7, 8, 9, 123}},
      {"2024-03-05T07:08", true, {2024, 3, 5, 7, 8, 0, 0}},
      {"2024-03-05", true, {2024, 3, 5, 0, 0, 0, 0}},
      {"2024-03-05T01:00:00-02:30", true, {2024, 3, 5, 3, 30, 0, 0}},
      {"2024-02-29T00:00:00Z", true, {2024, 2, 29, 0, 0, 0, 0}},
      {"2023-02-29T00:00:00Z", false, {}},
      {"2024-13-01T00:00:00Z", false, {}},
      {"2024-03-05T24:00:00Z", false, {}},
      {"2024-03-05T07:08:09.Z", false, {}},
      {"2024-03-05T07:08:09Zjunk", false, {}},
      {"05.03.2024 07:08", false, {}},
      {"", false, {}},
  };
  for (const Case& c : cases) {
    TDateTime value = -1;
    EXPECT_EQ(ParseIsoTimestamp(c.Text, value), c.Ok) << c.Text;
    if (c.Ok) {
      EXPECT_EQ(FormatIsoTimestamp(value), FormatIsoTimestamp(EncodeDateTime(c.Parts))) << c.Text;
    }
  }
}

// A save that fails at any point leaves the earlier file whole and no temporary file behind.
class ChatFileSave : public ::testing::Test {
 protected:
  TTestFolder FFolder;
  TChatHistory FOld = {Turn("user", {TextPart("old chat")}, 3)};
  TChatHistory FNew = {Turn("user", {TextPart(std::string(200000, 'n'))}, 3)};

  std::vector<std::string> FolderNames() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(FFolder.Path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(ChatFileSave, AFailedRenameOrAMissingFolderRaises) {
  // A folder standing where the file goes makes the final rename fail.
  std::filesystem::create_directories(FFolder.Path() / "taken.json" / "inside");
  EXPECT_THROW(WriteChatFile(FFolder.File("taken.json"), FNew), TFileError);
  EXPECT_TRUE(std::filesystem::is_directory(FFolder.Path() / "taken.json" / "inside"));
  EXPECT_THROW(WriteChatFile(FFolder.File("no-such-folder/chat.json"), FNew), TFileError);
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"taken.json"});
}

// The saver writes a chat in pieces as it makes it; until the last piece is flushed and
// renamed, the old file is what a reader sees, and a writer dropped half-way leaves it so.
TEST_F(ChatFileSave, AFileWrittenInPiecesReplacesTheOldOneOnlyWhenCommitted) {
  const std::string path = FFolder.Write("chat.json", "old");
  const std::string big(9 << 20, 'x');  // past the point where the disk is asked to start writing
  {
    TAtomicFileWriter file(PathFromUtf8(path));
    file.Write("new ");
    file.Write(big);
    EXPECT_EQ(FFolder.Read("chat.json"), "old");
    EXPECT_EQ(FolderNames().size(), 2u) << "the temporary file";
  }
  EXPECT_EQ(FFolder.Read("chat.json"), "old");
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"chat.json"});

  TAtomicFileWriter file(PathFromUtf8(path));
  file.Write("new ");
  file.Write("");
  file.Write(big);
  file.Commit();
  EXPECT_TRUE(FFolder.Read("chat.json") == "new " + big);
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"chat.json"});
}

}  // namespace
}  // namespace tarvok
