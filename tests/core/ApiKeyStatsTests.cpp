#include <gtest/gtest.h>

#include "TempDir.h"
#include "core/ApiKeyStats.h"
#include "core/DateTime.h"
#include "core/Files.h"
#include "core/Platform.h"

using namespace tarvok;
using tarvok::test::TTempDir;

namespace {

class Counter : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramDir(FDir.Path());
    SetNow(2025, 3, 14, 12, 0);
  }
  void TearDown() override { SetClockForTests({}); }

  void SetNow(int y, int mo, int d, int h, int mi, int s = 0) {
    const TDateTime t = EncodeDateTime({y, mo, d, h, mi, s});
    SetClockForTests([t] { return t; });
  }
  std::filesystem::path File(const std::string& key) const { return FDir.Path() / "ApiStats" / (key + ".txt"); }
  std::string Content(const std::string& key) const { return ReadWholeFile(File(key)).value_or("<missing>"); }
  void Put(const std::string& key, std::string_view bytes) const {
    std::filesystem::create_directories(FDir.Path() / "ApiStats");
    FDir.Write("ApiStats/" + key + ".txt", bytes);
  }

  TTempDir FDir;
};

}  // namespace

TEST_F(Counter, DayStartsAtEleven) {
  struct {
    int month, day, hour, minute, second;
    const char* statsDay;
  } cases[] = {
      {3, 15, 10, 30, 0, "2025-03-14"},
      {3, 15, 10, 59, 59, "2025-03-14"},
      {3, 15, 11, 0, 0, "2025-03-15"},
      {3, 15, 23, 59, 59, "2025-03-15"},
      {3, 1, 0, 0, 0, "2025-02-28"},
  };
  for (const auto& c : cases) {
    SetNow(2025, c.month, c.day, c.hour, c.minute, c.second);
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", GetStatsDay()), std::string(c.statsDay) + " 00:00:00")
        << c.month << "-" << c.day << " " << c.hour << ":" << c.minute;
  }
}

TEST_F(Counter, FirstIncrementCreatesFolderAndFile) {
  EXPECT_EQ(GetRequestCount("KEY1", "gemini-2.5-flash"), 0);
  EXPECT_FALSE(std::filesystem::exists(FDir.Path() / "ApiStats")) << "reading creates nothing";
  EXPECT_EQ(IncrementRequestCount("KEY1", "gemini-2.5-flash"), 1);
  EXPECT_EQ(Content("KEY1"), "2025-03-14;gemini-2.5-flash;1\r\n");
  EXPECT_EQ(IncrementRequestCount("KEY1", "gemini-2.5-flash"), 2);
  EXPECT_EQ(GetRequestCount("KEY1", "GEMINI-2.5-FLASH"), 2);
  EXPECT_EQ(GetRequestCount("other key", "gemini-2.5-flash"), 0);
}

TEST_F(Counter, ModelMatchIgnoresCaseAndTakesTheNewCase) {
  Put("K", "2025-03-14;gemini-2.5-pro;4\r\n");
  EXPECT_EQ(IncrementRequestCount("K", "Gemini-2.5-Pro"), 5);
  EXPECT_EQ(IncrementRequestCount("K", "gemini-2.5-flash"), 1);
  EXPECT_EQ(Content("K"), "2025-03-14;Gemini-2.5-Pro;5\r\n2025-03-14;gemini-2.5-flash;1\r\n");
}

TEST_F(Counter, ANewDayDropsOldLinesAtItsFirstIncrement) {
  Put("K", "2025-03-14;m;4\r\n2025-03-14;n;2\r\n");
  SetNow(2025, 3, 15, 10, 59);
  EXPECT_EQ(GetRequestCount("K", "m"), 4);
  SetNow(2025, 3, 15, 11, 0);
  EXPECT_EQ(GetRequestCount("K", "m"), 0);
  EXPECT_EQ(Content("K"), "2025-03-14;m;4\r\n2025-03-14;n;2\r\n") << "a read changes nothing";
  EXPECT_EQ(IncrementRequestCount("K", "m"), 1);
  EXPECT_EQ(Content("K"), "2025-03-15;m;1\r\n");
}

TEST_F(Counter, LinesThatDoNotSplitIntoThreeFieldsNeverMatchAndGo) {
  Put("K", "2025-03-14;gemini 2.5;7\n2025-03-14;m;x\n\n2025-03-14;m;3;extra\r2025-03-14;m;2");
  EXPECT_EQ(GetRequestCount("K", "gemini 2.5"), 0);
  EXPECT_EQ(GetRequestCount("K", "m"), 0) << "the first three-field line wins, and its count is not a number";
  EXPECT_EQ(IncrementRequestCount("K", "m"), 1);
  EXPECT_EQ(Content("K"), "2025-03-14;m;1\r\n2025-03-14;m;2\r\n");
}

TEST_F(Counter, AModelWithABlankKeepsCounting) {
  EXPECT_EQ(IncrementRequestCount("K", "my model"), 1);
  EXPECT_EQ(IncrementRequestCount("K", "my model"), 2);
  EXPECT_EQ(GetRequestCount("K", "MY MODEL"), 2);
  EXPECT_EQ(Content("K"), "2025-03-14;\"my model\";2\r\n");
}

TEST_F(Counter, EncodingOfTheFileIsKept) {
  // Created files use the legacy code page (Windows-1251 here).
  EXPECT_EQ(IncrementRequestCount("K", "\xD0\xBC\xD0\xBE\xD0\xB4"), 1);
  EXPECT_EQ(Content("K"), "2025-03-14;\xEC\xEE\xE4;1\r\n");
  EXPECT_EQ(GetRequestCount("K", "\xD0\x9C\xD0\x9E\xD0\x94"), 1);

  Put("U8", "\xEF\xBB\xBF" "2025-03-14;\xD0\xBC;1\r\n");
  EXPECT_EQ(IncrementRequestCount("U8", "\xD0\xBC"), 2);
  EXPECT_EQ(Content("U8"), "\xEF\xBB\xBF" "2025-03-14;\xD0\xBC;2\r\n");

  Put("U16", std::string("\xFF\xFE" "2\0" "0\0" "2\0" "5\0" "-\0" "0\0" "3\0" "-\0" "1\0" "4\0" ";\0" "m\0" ";\0" "9\0", 30));
  EXPECT_EQ(GetRequestCount("U16", "m"), 9);
  EXPECT_EQ(IncrementRequestCount("U16", "m"), 10);
  EXPECT_EQ(Content("U16"), std::string("\xFF\xFE" "2\0" "0\0" "2\0" "5\0" "-\0" "0\0" "3\0" "-\0" "1\0" "4\0" ";\0" "m\0" ";\0"
                                        "1\0" "0\0" "\r\0" "\n\0", 36));
}

TEST_F(Counter, AModelNameTheCodePageCannotHoldKeepsCounting) {
  const std::string model = "gemini-\xE6\x97\xA5";  // gemini-日
  EXPECT_EQ(IncrementRequestCount("K", "\xD0\xBC"), 1);
  EXPECT_EQ(IncrementRequestCount("K", model), 1);
  EXPECT_EQ(IncrementRequestCount("K", model), 2);
  EXPECT_EQ(GetRequestCount("K", model), 2);
  EXPECT_EQ(Content("K"), "\xEF\xBB\xBF" "2025-03-14;\xD0\xBC;1\r\n2025-03-14;" + model + ";2\r\n")
      << "UTF-8 with a byte-order mark once the code page cannot hold a name";
}

TEST_F(Counter, EmptyInputAndUnsafeKeysGiveMinusOne) {
  struct {
    const char* name;
    std::string key, model;
  } cases[] = {
      {"empty key", "", "m"},
      {"blank key", " \t ", "m"},
      {"blank model", "K", "  "},
      {"parent folder", "../escape", "m"},
      {"slash", "a/b", "m"},
      {"backslash", "a\\b", "m"},
      {"drive colon", "C:x", "m"},
      {"dot", ".", "m"},
      {"dot dot", "..", "m"},
      {"device name", "con", "m"},
      {"control character", "a\nb", "m"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetRequestCount(c.key, c.model), -1) << c.name;
    EXPECT_EQ(IncrementRequestCount(c.key, c.model), -1) << c.name;
  }
  EXPECT_FALSE(std::filesystem::exists(FDir.Path() / "escape.txt"));
  EXPECT_EQ(IncrementRequestCount(" padded ", "m"), 1) << "the key is used as passed, blanks included";
  EXPECT_TRUE(std::filesystem::exists(File(" padded ")));
}

TEST_F(Counter, UnreadableOrUnwritableFileGivesMinusOne) {
  std::filesystem::create_directories(File("K"));  // a folder where the file should be
  EXPECT_EQ(GetRequestCount("K", "m"), -1);
  EXPECT_EQ(IncrementRequestCount("K", "m"), -1);
}

TEST(SplitDelimitedLine, DelimitersBlanksAndQuotes) {
  using V = std::vector<std::string>;
  struct {
    std::string line;
    V fields;
  } cases[] = {
      {"2025-03-14;gemini-2.5-flash;12", {"2025-03-14", "gemini-2.5-flash", "12"}},
      {"a b;c", {"a", "b", "c"}},
      {"  a ; b ;c  ", {"a", "b", "c"}},
      {"a;;c", {"a", "", "c"}},
      {"a;b;", {"a", "b", ""}},
      {"a;\"b c\";d", {"a", "b c", "d"}},
      {"\"say \"\"hi\"\"\";x", {"say \"hi\"", "x"}},
      {"\"open;quote", {"open;quote"}},
      {"a\tb", {"a", "b"}},
      {"", {}},
      {"   ", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitDelimitedLine(c.line), c.fields) << "[" << c.line << "]";
}
