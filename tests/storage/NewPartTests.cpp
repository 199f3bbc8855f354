#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/DateTime.h"
#include "core/Files.h"
#include "core/GeminiDM.h"
#include "core/LoopMainThread.h"
#include "core/Text.h"
#include "core/TokenEstimate.h"
#include "storage/Attachments.h"
#include "storage/ChatFile.h"
#include "storage/NewPart.h"
#include "TestFolder.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;
using test::TTestFolder;

TEST(NewPart, TheBuiltInPromptIsWhole) {
  EXPECT_EQ(Utf16Length(kDefaultNewPartPrompt), 1856u);
  EXPECT_TRUE(kDefaultNewPartPrompt.starts_with("Ты — ИИ-ассистент"));
  EXPECT_TRUE(kDefaultNewPartPrompt.ends_with("комментариев."));
  for (std::size_t i = 0; i < kDefaultNewPartPrompt.size(); ++i) {
    if (kDefaultNewPartPrompt[i] == '\n') {
      ASSERT_EQ(kDefaultNewPartPrompt[i - 1], '\r') << "line break at " << i;
    }
  }
  EXPECT_NE(kDefaultNewPartPrompt.find("`Название новой части: <твое название>`"), std::string_view::npos);
}

TEST(NewPart, LoadsThePromptFileOrWritesTheDefault) {
  TTestFolder folder;
  const std::string bomDefault = std::string(kUtf8Bom) + std::string(kDefaultNewPartPrompt);
  EXPECT_EQ(LoadNewPartPrompt(), kDefaultNewPartPrompt);
  EXPECT_EQ(folder.Read("HistoryNewPartPrompt.txt"), bomDefault) << "the first run writes the default";

  struct Case {
    const char* Name;
    std::string File;
    std::string Prompt;
  } cases[] = {
      {"with a mark, kept untrimmed", std::string(kUtf8Bom) + "  Сожми диалог.\r\n", "  Сожми диалог.\r\n"},
      {"without a mark", "Summarise.", "Summarise."},
      {"blank", std::string(kUtf8Bom) + " \r\n\t ", std::string(kDefaultNewPartPrompt)},
      {"empty", "", std::string(kDefaultNewPartPrompt)},
  };
  for (const Case& c : cases) {
    folder.Write("HistoryNewPartPrompt.txt", c.File);
    EXPECT_EQ(LoadNewPartPrompt(), c.Prompt) << c.Name;
    EXPECT_EQ(folder.Read("HistoryNewPartPrompt.txt"), c.File) << c.Name << ": the file stays as it was";
  }
}

TEST(NewPart, AFolderThatCannotTakeThePromptStillGivesTheDefault) {
  TTestFolder folder;
  SetProgramDir(folder.Path() / "missing-folder");
  EXPECT_EQ(LoadNewPartPrompt(), kDefaultNewPartPrompt);
  EXPECT_FALSE(fs::exists(folder.Path() / "missing-folder"));
}

TEST(NewPart, TellsFailedAnswersByTheWorkersFlag) {
  struct Case {
    std::string_view Answer;
    bool Flagged;
    bool Failure;
  } cases[] = {
      {"ERROR_CODE_429_FINAL: HTTP 429", true, true},
      {"Исключение: TTimeoutError - the server sent nothing for 60 s", true, true},
      {"Ошибка в коде была исправлена", false, false},  // a real summary may begin so
      {"ОШИБКА: сеть", false, false},
      {" \r\n ", false, true},
      {"", false, true},
      {"Название новой части: Ошибка", false, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsNewPartFailure(c.Answer, TResultFlags{c.Flagged}), c.Failure) << c.Answer;
}

TEST(NewPart, SplitsTheAnswerIntoTitleAndSummary) {
  struct Case {
    const char* Name;
    std::string_view Answer;
    std::string Title, Summary;
  } cases[] = {
      {"marker", "Название новой части: Анализ логов\nПервая строка\nВторая", "Анализ логов", "Первая строка\r\nВторая\r\n"},
      {"bold marker keeps its trailing asterisks", "**Название новой части:** Анализ логов\r\n\r\n1. Статус",
       "** Анализ логов", "\r\n1. Статус\r\n"},
      {"no marker: all of it is the summary", "Сводка\nдиалога", "Без названия", "Сводка\r\nдиалога\r\n"},
      {"marker only on the second line", "Итог\nНазвание новой части: X", "Без названия", "Итог\r\nНазвание новой части: X\r\n"},
      {"marker with nothing after it", "Название новой части:   \nТекст", "Без названия", "Текст\r\n"},
      {"text before the marker is dropped", "Итак. Название новой части: Планы ", "Планы", ""},
      {"CR, LF and CR LF mixed, trailing break", "Название новой части: T\rA\nB\r\nC\n\nD\r\n", "T", "A\r\nB\r\nC\r\n\r\nD\r\n"},
      {"lone CR lines", "a\r\rb\r", "Без названия", "a\r\n\r\nb\r\n"},
  };
  for (const Case& c : cases) {
    const TNewPartAnswer parsed = ParseNewPartAnswer(c.Answer);
    EXPECT_EQ(parsed.Title, c.Title) << c.Name;
    EXPECT_EQ(parsed.Summary, c.Summary) << c.Name;
  }
}

TEST(NewPart, ThePartHoldsOneModelTurnWithTheSummary) {
  TTestFolder folder;
  TLoopMainThread mainThread;
  TGeminiDM dm(mainThread);
  SetClockForTests([] { return EncodeDateTime({2025, 6, 7, 8, 9, 10, 11}); });
  struct Case {
    int Candidates;
    bool Estimated;
  } cases[] = {{42, false}, {0, true}, {-3, true}};
  for (const Case& c : cases) {
    dm.FChatHistory.assign(3, THistoryItem{"user", {}, 5, 0, {}, {}});
    dm.FActualHistoryTokens = 15;
    const std::string file = folder.File("chats/subchats/c_part_01_T.json");
    StartNewPartHistory(dm, file, "Сводка\r\nдиалога\r\n", TTokenUsage{10, c.Candidates, 0});
    ASSERT_EQ(dm.FChatHistory.size(), 1u);
    const THistoryItem& turn = dm.FChatHistory[0];
    EXPECT_EQ(turn.Role, "model");
    ASSERT_EQ(turn.Parts.size(), 1u);
    EXPECT_EQ(turn.Parts[0].Text, "Сводка\r\nдиалога\r\n");
    EXPECT_EQ(turn.Timestamp, EncodeDateTime({2025, 6, 7, 8, 9, 10, 11}));
    EXPECT_EQ(turn.TokenCount, c.Estimated ? CountTokens(turn.Parts) : c.Candidates) << c.Candidates;
    EXPECT_TRUE(turn.ModelName.empty() && turn.Duration.empty());
    EXPECT_EQ(dm.FActualHistoryTokens, turn.TokenCount);
    EXPECT_EQ(folder.Read("chats/subchats/c_part_01_T.json"), ChatFileContent(dm.FChatHistory));

    TGeminiDM reader(mainThread);
    LoadHistoryFromFile(reader, file);
    EXPECT_EQ(reader.FChatHistory, dm.FChatHistory);
  }
  SetClockForTests({});
}

TEST(NewPart, APartThatCannotBeWrittenLeavesTheConversationAlone) {
  TTestFolder folder;
  TLoopMainThread mainThread;
  TGeminiDM dm(mainThread);
  dm.FChatHistory.assign(3, THistoryItem{"user", {}, 5, 0, {}, {}});
  dm.FActualHistoryTokens = 15;
  const TChatHistory before = dm.FChatHistory;
  const std::string file = folder.File("chats/subchats/c_part_01_T.json");
  std::filesystem::create_directories(PathFromUtf8(file));  // a folder where the file should go
  EXPECT_THROW(StartNewPartHistory(dm, file, "Сводка\r\n", TTokenUsage{}), TFileError);
  EXPECT_EQ(dm.FChatHistory, before);
  EXPECT_EQ(dm.FActualHistoryTokens, 15);
}

// The service's own operations act on its history and total.
TEST(NewPart, ServiceOperationsUseTheServiceHistory) {
  TTestFolder folder;
  TLoopMainThread mainThread;
  TGeminiDM dm(mainThread);
  dm.FChatHistory = {THistoryItem{"user", {TContentPart{TPartType::ptText, "hi", {}, {}, {}},
                                           TContentPart{TPartType::ptInlineData, {}, "application/pdf", "JVBE", "/x/a.pdf"}},
                                  9, 0, {}, {}}};
  dm.FActualHistoryTokens = 9;
  const std::string file = folder.File("chat.json");
  SaveHistoryToFile(dm, file);
  EXPECT_TRUE(DeleteFileFromHistory(dm, 0, "/x/a.pdf"));
  EXPECT_EQ(dm.FChatHistory[0].Parts.size(), 1u);
  EXPECT_EQ(dm.FActualHistoryTokens, dm.FChatHistory[0].TokenCount);
  LoadHistoryFromFile(dm, file);
  EXPECT_EQ(dm.FChatHistory[0].Parts.size(), 2u);
  EXPECT_EQ(dm.FActualHistoryTokens, 9);
  LoadHistoryFromFile(dm, folder.File("gone.json"));
  EXPECT_EQ(dm.FChatHistory.size(), 1u) << "a missing file changes nothing";
}

}  // namespace
}  // namespace tarvok
