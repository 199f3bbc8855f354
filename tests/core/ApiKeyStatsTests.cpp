#include <gtest/gtest.h>

#include <thread>

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
    FlushRequestCounts();  // what earlier tests counted is settled (and its failures told) before this one
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

// The same cases counted both ways: waiting for each write, and as a request counts
// (CountRequest) with the writes held back, so that every read and every further count
// works on counts that are not in the file yet. The file is looked at once all is written.
class CounterWays : public Counter, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    Counter::SetUp();
    if (Background()) HoldRequestCountWrites(true);
  }
  void TearDown() override {
    FlushRequestCounts();
    Counter::TearDown();
  }
  bool Background() const { return GetParam(); }
  int Add(const std::string& key, const std::string& model) {
    return Background() ? CountRequest(key, model) : IncrementRequestCount(key, model);
  }
  std::string Content(const std::string& key) const {
    EXPECT_TRUE(FlushRequestCounts());
    const std::string content = Counter::Content(key);
    if (Background()) HoldRequestCountWrites(true);
    return content;
  }
};

INSTANTIATE_TEST_SUITE_P(, CounterWays, ::testing::Values(false, true),
                         [](const auto& AInfo) { return AInfo.param ? "Background" : "Waiting"; });

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

TEST_P(CounterWays, FirstIncrementCreatesFolderAndFile) {
  EXPECT_EQ(GetRequestCount("KEY1", "gemini-2.5-flash"), 0);
  EXPECT_FALSE(std::filesystem::exists(FDir.Path() / "ApiStats")) << "reading creates nothing";
  EXPECT_EQ(Add("KEY1", "gemini-2.5-flash"), 1);
  EXPECT_EQ(Content("KEY1"), "2025-03-14;gemini-2.5-flash;1\r\n");
  EXPECT_EQ(Add("KEY1", "gemini-2.5-flash"), 2);
  EXPECT_EQ(GetRequestCount("KEY1", "GEMINI-2.5-FLASH"), 2);
  EXPECT_EQ(GetRequestCount("other key", "gemini-2.5-flash"), 0);
}

TEST_P(CounterWays, ModelMatchIgnoresCaseAndTakesTheNewCase) {
  Put("K", "2025-03-14;gemini-2.5-pro;4\r\n");
  EXPECT_EQ(Add("K", "Gemini-2.5-Pro"), 5);
  EXPECT_EQ(Add("K", "gemini-2.5-flash"), 1);
  EXPECT_EQ(Content("K"), "2025-03-14;Gemini-2.5-Pro;5\r\n2025-03-14;gemini-2.5-flash;1\r\n");
}

TEST_P(CounterWays, ANewDayDropsOldLinesAtItsFirstIncrement) {
  Put("K", "2025-03-14;m;4\r\n2025-03-14;n;2\r\n");
  SetNow(2025, 3, 15, 10, 59);
  EXPECT_EQ(GetRequestCount("K", "m"), 4);
  SetNow(2025, 3, 15, 11, 0);
  EXPECT_EQ(GetRequestCount("K", "m"), 0);
  EXPECT_EQ(Content("K"), "2025-03-14;m;4\r\n2025-03-14;n;2\r\n") << "a read changes nothing";
  EXPECT_EQ(Add("K", "m"), 1);
  EXPECT_EQ(Content("K"), "2025-03-15;m;1\r\n");
}

TEST_P(CounterWays, LinesThatDoNotSplitIntoThreeFieldsNeverMatchAndGo) {
  Put("K", "2025-03-14;gemini 2.5;7\n2025-03-14;m;x\n\n2025-03-14;m;3;extra\r2025-03-14;m;2");
  EXPECT_EQ(GetRequestCount("K", "gemini 2.5"), 0);
  EXPECT_EQ(GetRequestCount("K", "m"), 0) << "the first three-field line wins, and its count is not a number";
  EXPECT_EQ(Add("K", "m"), 1);
  EXPECT_EQ(Content("K"), "2025-03-14;m;1\r\n2025-03-14;m;2\r\n");
}

TEST_P(CounterWays, AModelWithABlankKeepsCounting) {
  EXPECT_EQ(Add("K", "my model"), 1);
  EXPECT_EQ(Add("K", "my model"), 2);
  EXPECT_EQ(GetRequestCount("K", "MY MODEL"), 2);
  EXPECT_EQ(Content("K"), "2025-03-14;\"my model\";2\r\n");
}

TEST_P(CounterWays, EncodingOfTheFileIsKept) {
  // Created files use the legacy code page (Windows-1251 here).
  EXPECT_EQ(Add("K", "\xD0\xBC\xD0\xBE\xD0\xB4"), 1);
  EXPECT_EQ(Content("K"), "2025-03-14;\xEC\xEE\xE4;1\r\n");
  EXPECT_EQ(GetRequestCount("K", "\xD0\x9C\xD0\x9E\xD0\x94"), 1);

  Put("U8", "\xEF\xBB\xBF" "2025-03-14;\xD0\xBC;1\r\n");
  EXPECT_EQ(Add("U8", "\xD0\xBC"), 2);
  EXPECT_EQ(Content("U8"), "\xEF\xBB\xBF" "2025-03-14;\xD0\xBC;2\r\n");

  Put("U16", std::string("\xFF\xFE" "2\0" "0\0" "2\0" "5\0" "-\0" "0\0" "3\0" "-\0" "1\0" "4\0" ";\0" "m\0" ";\0" "9\0", 30));
  EXPECT_EQ(GetRequestCount("U16", "m"), 9);
  EXPECT_EQ(Add("U16", "m"), 10);
  EXPECT_EQ(Content("U16"), std::string("\xFF\xFE" "2\0" "0\0" "2\0" "5\0" "-\0" "0\0" "3\0" "-\0" "1\0" "4\0" ";\0" "m\0" ";\0"
                                        "1\0" "0\0" "\r\0" "\n\0", 36));
}

TEST_P(CounterWays, AModelNameTheCodePageCannotHoldKeepsCounting) {
  const std::string model = "gemini-\xE6\x97\xA5";  // gemini-日
  EXPECT_EQ(Add("K", "\xD0\xBC"), 1);
  EXPECT_EQ(Add("K", model), 1);
  EXPECT_EQ(Add("K", model), 2);
  EXPECT_EQ(GetRequestCount("K", model), 2);
  EXPECT_EQ(Content("K"), "\xEF\xBB\xBF" "2025-03-14;\xD0\xBC;1\r\n2025-03-14;" + model + ";2\r\n")
      << "UTF-8 with a byte-order mark once the code page cannot hold a name";
}

TEST_P(CounterWays, EmptyInputAndUnsafeKeysGiveMinusOne) {
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
    EXPECT_EQ(Add(c.key, c.model), -1) << c.name;
  }
  EXPECT_FALSE(std::filesystem::exists(FDir.Path() / "escape.txt"));
  EXPECT_EQ(Add(" padded ", "m"), 1) << "the key is used as passed, blanks included";
  EXPECT_EQ(Content(" padded "), "2025-03-14;m;1\r\n");
}

TEST_P(CounterWays, UnreadableOrUnwritableFileGivesMinusOne) {
  std::filesystem::create_directories(File("K"));  // a folder where the file should be
  EXPECT_EQ(GetRequestCount("K", "m"), -1);
  EXPECT_EQ(Add("K", "m"), -1);
}

TEST_F(Counter, ABurstFromSeveralThreadsLosesNoCount) {
  constexpr int kThreads = 4, kEach = 60;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kEach; ++i) CountRequest(t % 2 ? "A" : "B", i % 2 ? "m" : "n");
    });
  for (auto& t : threads) t.join();
  const int each = kThreads / 2 * kEach / 2;
  for (const char* key : {"A", "B"})
    for (const char* model : {"m", "n"}) EXPECT_EQ(GetRequestCount(key, model), each) << key << " " << model;
  ASSERT_TRUE(FlushRequestCounts());
  const std::string lines = "2025-03-14;n;" + std::to_string(each) + "\r\n2025-03-14;m;" + std::to_string(each) + "\r\n";
  EXPECT_EQ(Content("A"), lines);
  EXPECT_EQ(Content("B"), lines);
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
