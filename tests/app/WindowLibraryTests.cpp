// Chat library, search and new parts through the window.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/ChatLibrary.h"
#include "app/QtText.h"
#include "app/UiTexts.h"
#include "core/CoreTexts.h"
#include "core/DateTime.h"
#include "core/Files.h"
#include "core/RequestThread.h"
#include "storage/ChatFile.h"
#include "storage/NewPart.h"
#include "tests/app/support/WindowFixture.h"
#include "app/QtMainThread.h"

namespace tarvok {
namespace {

THistoryItem Turn(const std::string& ARole, const std::string& AText) {
  THistoryItem item;
  item.Role = ARole;
  item.Parts.push_back(TContentPart{TPartType::ptText, AText, {}, {}, {}});
  item.TokenCount = 3;
  item.Timestamp = EncodeDateTime({2025, 1, 1, 12, 0, 0, 0});
  return item;
}

class LibraryTest : public WindowTest {
 protected:
  // A chat file in "chats" (or a part in "chats/subchats") holding one exchange.
  std::string WriteChat(const std::string& AName, const std::string& AUserText, const std::string& AAnswer = "answer") {
    const std::string path = (FDir / "chats" / AName).string();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteChatFile(path, {Turn("user", AUserText), Turn("model", AAnswer)});
    return path;
  }
  int Row(QListWidget* AList, const std::string& AText) {
    for (int i = 0; i < AList->count(); ++i)
      if (S(AList->item(i)->text()) == AText) return i;
    return -1;
  }
  std::vector<std::string> Texts(QListWidget* AList) {
    std::vector<std::string> out;
    for (int i = 0; i < AList->count(); ++i) out.push_back(S(AList->item(i)->text()));
    return out;
  }
  // Opens the chat "Alpha" (one exchange) and asks for a new part, answered with AReply.
  void AskForANewPartOfAlpha(const emulator::TScriptedReply& AReply) {
    OpenWindow();
    Click(Form().ListBox2, "Alpha");
    Emulator.Enqueue(AReply);
    Dialogs.YesNoAnswers = {true};
    Form().N14->trigger();
  }
  // Opens a chat by clicking its entry in the chat list.
  void Click(QListWidget* AList, const std::string& AText) {
    const int row = Row(AList, AText);
    ASSERT_GE(row, 0) << AText;
    AList->setCurrentRow(row);
  }
};

TEST_F(LibraryTest, ClickingAChatOpensItsLastPartAndPartsOpenOnClick) {
  const std::string main = WriteChat("Alpha_2025-01-01_120000.json", "alpha question");
  WriteChat("subchats/Alpha_2025-01-01_120000_part_01_Ideas.json", "first part text");
  const std::string last = WriteChat("subchats/Alpha_2025-01-01_120000_part_02_Next_steps.json", "second part text");
  WriteChat("Beta_2025-02-01_120000.json", "beta question");
  OpenWindow();
  EXPECT_EQ(Form().ListBox2->count(), 3);
  Form().memoPrompt->setPlainText("typed before");

  Click(Form().ListBox2, "Alpha");
  EXPECT_EQ(Texts(Form().GeminiListBox),
            (std::vector<std::string>{ui::kPartsFirstEntry, "1. Ideas", "2. Next steps"}));
  EXPECT_EQ(Form().FCurrentChatFile, last);
  EXPECT_EQ(Form().GeminiListBox->currentRow(), 2);
  EXPECT_NE(Page().ChatHtml().find("second part text"), std::string::npos);
  EXPECT_EQ(Status(), ui::kStatusChatLoaded + std::string("Alpha_2025-01-01_120000_part_02_Next_steps.json"));
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "") << "opening a chat clears the input";

  Form().memoPrompt->setPlainText("kept");
  Click(Form().GeminiListBox, ui::kPartsFirstEntry);
  EXPECT_EQ(Form().FCurrentChatFile, main);
  EXPECT_NE(Page().ChatHtml().find("alpha question"), std::string::npos);
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "kept") << "switching parts keeps the input";

  Click(Form().ListBox2, ui::kNewChatEntry);
  EXPECT_TRUE(Form().FCurrentChatFile.empty());
  EXPECT_TRUE(Dm().FChatHistory.empty());
  EXPECT_EQ(Form().GeminiListBox->count(), 0);
}

TEST_F(LibraryTest, DeletingTheOpenPartLoadsTheOneAboveAndDeletingTheOpenChatStartsANewOne) {
  const std::string main = WriteChat("Alpha_2025-01-01_120000.json", "alpha");
  const std::string part = WriteChat("subchats/Alpha_2025-01-01_120000_part_01_Ideas.json", "part");
  OpenWindow();
  Form().N6->trigger();
  ASSERT_EQ(Dialogs.Messages.size(), 1u) << "\"<Новый чат>\" is selected";
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgSelectChatToDelete);
  EXPECT_TRUE(Dialogs.Questions.empty());
  Dialogs.Messages.clear();

  Click(Form().ListBox2, "Alpha");
  ASSERT_EQ(Form().FCurrentChatFile, part);

  Form().GeminiListBox->setCurrentRow(0);  // "Начало" opens
  Form().N13->trigger();
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgCannotDeleteFirstPart);

  Click(Form().GeminiListBox, "1. Ideas");
  Dialogs.YesNoAnswers = {true};
  Form().N13->trigger();
  ASSERT_EQ(Dialogs.Questions.size(), 1u);
  EXPECT_EQ(S(Dialogs.Questions[0].Text), ui::kAskDeletePart + std::string("Alpha_2025-01-01_120000_part_01_Ideas.json"));
  EXPECT_FALSE(std::filesystem::exists(part));
  EXPECT_EQ(Form().FCurrentChatFile, main);
  EXPECT_EQ(Texts(Form().GeminiListBox), std::vector<std::string>{ui::kPartsFirstEntry});
  EXPECT_EQ(Form().GeminiListBox->currentRow(), 0);

  Dialogs.YesNoAnswers = {true};
  Form().N6->trigger();
  ASSERT_EQ(Dialogs.Questions.size(), 2u);
  EXPECT_EQ(S(Dialogs.Questions[1].Text), std::string(ui::kAskDeleteChatStart) + "Alpha" + ui::kAskDeleteChatMiddle +
                                               "\r\n" + ui::kAskDeleteChatEnd);
  EXPECT_FALSE(std::filesystem::exists(main));
  EXPECT_TRUE(Form().FCurrentChatFile.empty());
  EXPECT_EQ(Texts(Form().ListBox2), std::vector<std::string>{ui::kNewChatEntry});
  EXPECT_EQ(Form().ListBox2->currentRow(), 0);
  EXPECT_EQ(Status(), ui::kStatusNewChat);
  EXPECT_TRUE(ChatFiles().empty()) << "the deleted chat is not saved back on the way to the new one";
}

TEST_F(LibraryTest, DeletingAChatWithWildcardsInItsNameTakesOnlyItsOwnFiles) {
  const std::string odd = WriteChat("A*_2025-01-01_120000.json", "odd");
  const std::string oddPart = WriteChat("subchats/A*_2025-01-01_120000_part_01_x.json", "odd part");
  const std::string plain = WriteChat("AB_2025-01-01_120000.json", "plain");
  const std::string plainPart = WriteChat("subchats/AB_2025-01-01_120000_part_01_x.json", "plain part");
  const std::string bracket = WriteChat("A[B]_2025-01-01_120000.json", "bracket");
  OpenWindow();
  Form().ListBox2->setCurrentRow(Row(Form().ListBox2, "A*"));
  Dialogs.YesNoAnswers = {true};
  Form().N6->trigger();
  EXPECT_FALSE(std::filesystem::exists(odd));
  EXPECT_FALSE(std::filesystem::exists(oddPart));
  EXPECT_TRUE(std::filesystem::exists(plain));
  EXPECT_TRUE(std::filesystem::exists(plainPart));
  EXPECT_TRUE(std::filesystem::exists(bracket));
  EXPECT_EQ(Row(Form().ListBox2, "A*"), -1);
  EXPECT_GE(Row(Form().ListBox2, "AB"), 0);
}

TEST_F(LibraryTest, NewEmptyPartGetsASafeNameAndOpens) {
  const std::string main = WriteChat("Alpha_2025-01-01_120000.json", "alpha");
  OpenWindow();
  Form().N17->trigger();
  ASSERT_EQ(Dialogs.Messages.size(), 1u) << "\"<Новый чат>\" is selected";
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgSelectChatForNewPart);

  Click(Form().ListBox2, "Alpha");
  Dialogs.InputAnswers = {QString("  a/b  ")};
  Form().N17->trigger();
  const std::string part = (FDir / "chats/subchats/Alpha_2025-01-01_120000_part_01_a_b.json").string();
  EXPECT_TRUE(std::filesystem::exists(part));
  EXPECT_EQ(ReadText("chats/subchats/Alpha_2025-01-01_120000_part_01_a_b.json"), "\xEF\xBB\xBF{\"contents\":[]}");
  EXPECT_EQ(Form().FCurrentChatFile, part);
  EXPECT_TRUE(Dm().FChatHistory.empty());
  EXPECT_EQ(Texts(Form().GeminiListBox), (std::vector<std::string>{ui::kPartsFirstEntry, "1. a b"}));
  EXPECT_EQ(Form().GeminiListBox->currentRow(), 1);
  EXPECT_EQ(Status(), ui::kStatusNewEmptyPart + std::string("a/b"));

  Dialogs.InputAnswers = {QString("   ")};
  Form().N17->trigger();
  EXPECT_EQ(Form().GeminiListBox->count(), 2) << "a blank title changes nothing";
}

TEST_F(LibraryTest, SearchListsMatchingChatsAndAnEmptyQueryBringsTheFullListBack) {
  WriteChat("One_2025-01-01_120000.json", "Привет всем");
  WriteChat("Two_2025-01-01_120000.json", "nothing here", "МИР во всём");
  WriteChat("Three_2025-01-01_120000.json", "other words");
  WriteText("chats/Broken_2025-01-01_120000.json", "{not json");
  OpenWindow();
  EXPECT_EQ(Form().ListBox2->count(), 5);
  auto search = [this](const QString& AText) {
    Form().Edit1->setText(AText);
    QTest::keyClick(Form().Edit1, Qt::Key_Return);
  };
  search(Q("привет Мир"));
  auto found = Texts(Form().ListBox2);
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"One", "Two"}));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the wait cursor is restored";

  search("\"other words\"");
  EXPECT_EQ(Texts(Form().ListBox2), std::vector<std::string>{"Three"});
  search("   ");
  EXPECT_EQ(Form().ListBox2->count(), 5);
  EXPECT_EQ(S(Form().ListBox2->item(0)->text()), ui::kNewChatEntry);
  EXPECT_EQ(Form().ListBox2->currentRow(), 0);
}

TEST_F(LibraryTest, NewPartFromASummaryAnswerAndA429ThatChangesNothing) {
  UseEmulator();
  const std::string main = WriteChat("Alpha_2025-01-01_120000.json", "alpha question", "alpha answer");
  OpenWindow();
  Form().N14->trigger();
  ASSERT_EQ(Dialogs.Messages.size(), 1u) << "a new unsaved chat";
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgNotEnoughHistory);
  EXPECT_TRUE(Dialogs.Questions.empty());
  Click(Form().ListBox2, "Alpha");

  emulator::TScriptedReply limited;
  limited.Status = 429;
  limited.Body = emulator::ReadFixture("06-error-429-no-details-raw.json");
  Emulator.Enqueue(limited);
  Dialogs.Messages.clear();
  Dialogs.YesNoAnswers = {true};
  Form().N14->trigger();
  EXPECT_EQ(S(Form().btnSend->text()), ui::kCaptionStop) << "the summary request can be stopped";
  EXPECT_FALSE(Form().ListBox2->isEnabled()) << "the lists wait for the summary";
  ASSERT_TRUE(WaitForIdle());
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgTooManyRequests);
  EXPECT_EQ(Status(), ui::kStatusApiTooManyRequests);
  EXPECT_EQ(Form().FCurrentChatFile, main);
  EXPECT_EQ(Dm().FChatHistory.size(), 2u);
  EXPECT_EQ(Form().GeminiListBox->count(), 1);
  EXPECT_EQ(S(Form().btnSend->text()), ui::kCaptionSend);

  // A 429 that names its quota and the wait says them under the message.
  limited.Body = emulator::ReadFixture("06-error-429-quota-details-raw.json");
  Emulator.Enqueue(limited);
  Dialogs.Messages.clear();
  Dialogs.YesNoAnswers = {true};
  Form().N14->trigger();
  ASSERT_TRUE(WaitForIdle());
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), std::string(ui::kMsgTooManyRequests) + "\n" + texts::kQuotaHead +
                                        "GenerateContentInputTokensPerModelPerMinute-FreeTier. " + texts::kRetryHead + "26" +
                                        texts::kRetryTail);
  EXPECT_EQ(Dm().FChatHistory.size(), 2u);
  Emulator.ClearRequests();

  Emulator.Enqueue(TextReply(std::string(kNewPartTitleMarker) + " Log review\nline one\r\nline two", 50, 11));
  Dialogs.Messages.clear();
  Dialogs.YesNoAnswers = {true};
  Form().N14->trigger();
  ASSERT_TRUE(WaitForIdle());
  ASSERT_EQ(Emulator.Requests().size(), 1u);
  EXPECT_NE(Emulator.Requests()[0].Body.find("alpha answer"), std::string::npos) << "the history goes out";
  const std::string part = (FDir / "chats/subchats/Alpha_2025-01-01_120000_part_01_Log review.json").string();
  EXPECT_EQ(Form().FCurrentChatFile, part);
  ASSERT_EQ(Dm().FChatHistory.size(), 1u);
  EXPECT_EQ(Dm().FChatHistory[0].Role, "model");
  EXPECT_EQ(Dm().FChatHistory[0].Parts[0].Text, "line one\r\nline two\r\n");
  EXPECT_EQ(Dm().FChatHistory[0].TokenCount, 11);
  TChatHistory stored;
  std::int32_t tokens = 0;
  ASSERT_TRUE(ReadChatFile(part, stored, tokens));
  EXPECT_EQ(stored.size(), 1u);
  TChatHistory old;
  ASSERT_TRUE(ReadChatFile(main, old, tokens));
  EXPECT_EQ(old.size(), 2u) << "the old part keeps the full conversation";
  EXPECT_EQ(Texts(Form().GeminiListBox), (std::vector<std::string>{ui::kPartsFirstEntry, "1. Log review"}));
  EXPECT_EQ(Form().GeminiListBox->currentRow(), 1);
  EXPECT_EQ(Status(), ui::kStatusNewPartCreated);
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgNewPartCreated);
  EXPECT_TRUE(Form().ListBox2->isEnabled());
}

TEST_F(LibraryTest, ANewPartThatCannotBeWrittenKeepsTheConversationInItsFile) {
  UseEmulator();
  // A name renamed by hand, so long that a part name made from it exceeds what the file system takes.
  const std::string base = std::string(220, 'L') + "_2025-01-01_120000";
  const std::string main = WriteChat(base + ".json", "long question", "long answer");
  OpenWindow();
  ASSERT_EQ(Form().ListBox2->count(), 2);
  Form().ListBox2->setCurrentRow(1);
  ASSERT_EQ(Form().FCurrentChatFile, main);
  Emulator.Enqueue(TextReply(std::string(kNewPartTitleMarker) + " Итоги\nsummary", 50, 11));
  Dialogs.YesNoAnswers = {true};
  Form().N14->trigger();
  ASSERT_TRUE(WaitForIdle());

  EXPECT_EQ(Dialogs.Errors.size(), 1u) << "the write error is shown";
  EXPECT_EQ(Form().FCurrentChatFile, main);
  ASSERT_EQ(Dm().FChatHistory.size(), 2u);
  EXPECT_EQ(Dm().FChatHistory[1].Parts.at(0).Text, "long answer");
  Form().btnNewChat->click();  // saves the open chat on the way
  TChatHistory stored;
  std::int32_t tokens = 0;
  ASSERT_TRUE(ReadChatFile(main, stored, tokens));
  EXPECT_EQ(stored.size(), 2u) << "the file still holds the whole conversation";
}

TEST_F(LibraryTest, ATransportFailureDuringTheSummaryMakesNoPart) {
  UseEmulator();
  const std::string main = WriteChat("Alpha_2025-01-01_120000.json", "alpha question", "alpha answer");
  emulator::TScriptedReply cut;
  cut.Body = emulator::ReadFixture("01-text-basic.json");
  cut.CloseAfterBytes = 10;
  AskForANewPartOfAlpha(cut);
  ASSERT_TRUE(WaitForIdle());

  EXPECT_EQ(Status(), ui::kPrefixError);
  EXPECT_NE(Page().ChatHtml().find("Исключение: "), std::string::npos);
  EXPECT_EQ(Form().FCurrentChatFile, main);
  EXPECT_EQ(Dm().FChatHistory.size(), 2u);
  EXPECT_EQ(Texts(Form().GeminiListBox), (std::vector<std::string>{ui::kPartsFirstEntry}));
  EXPECT_FALSE(std::filesystem::exists(FDir / "chats/subchats/Alpha_2025-01-01_120000_part_01_Без названия.json"));
  EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(LibraryTest, AStoppedSummaryMakesNoPartAndLeavesTheChatAsItWas) {
  UseEmulator();
  const std::string main = WriteChat("Alpha_2025-01-01_120000.json", "alpha question", "alpha answer");
  const std::string before = ReadText("chats/Alpha_2025-01-01_120000.json");
  emulator::TScriptedReply held = TextReply(std::string(kNewPartTitleMarker) + " Late\nsummary", 5, 2);
  held.DelayMs = 60000;
  AskForANewPartOfAlpha(held);
  ASSERT_TRUE(Form().RequestPending());
  ASSERT_TRUE(WaitFor([&] { return Emulator.Requests().size() == 1u; }));
  EXPECT_EQ(S(Form().btnSend->text()), ui::kCaptionStop);

  QTest::mouseClick(Form().btnSend, Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return !Form().RequestPending(); }, 5000)) << "the stop ends the summary request";
  EXPECT_EQ(Status(), ui::kStatusStopped);
  EXPECT_TRUE(Dialogs.Messages.empty()) << "the user stopped it; no message box";
  EXPECT_NE(Page().ChatHtml().find(texts::kStoppedResult), std::string::npos);
  EXPECT_EQ(Form().FCurrentChatFile, main);
  EXPECT_EQ(Dm().FChatHistory.size(), 2u);
  EXPECT_EQ(Texts(Form().GeminiListBox), (std::vector<std::string>{ui::kPartsFirstEntry}));
  EXPECT_TRUE(!std::filesystem::exists(FDir / "chats/subchats") || std::filesystem::is_empty(FDir / "chats/subchats"));
  EXPECT_EQ(ReadText("chats/Alpha_2025-01-01_120000.json"), before);
  EXPECT_TRUE(Form().ListBox2->isEnabled());
  EXPECT_EQ(S(Form().btnSend->text()), ui::kCaptionSend);
  EXPECT_TRUE(WaitFor([] { return TGeminiRequestThread::ActiveCount() == 0; }));
}

TEST_F(LibraryTest, DeletingAllChatsEmptiesBothListsAndOpensANewChat) {
  WriteChat("Alpha_2025-01-01_120000.json", "alpha");
  WriteChat("subchats/Alpha_2025-01-01_120000_part_01_Ideas.json", "idea");
  WriteChat("Beta_2025-02-01_120000.json", "beta");
  OpenWindow();
  Click(Form().ListBox2, "Alpha");
  ASSERT_EQ(Form().GeminiListBox->count(), 2);

  Form().N12->trigger();
  ASSERT_EQ(Dialogs.Questions.size(), 1u);
  EXPECT_EQ(S(Dialogs.Questions[0].Text), ui::kAskDeleteAllChats);
  EXPECT_EQ(ChatFiles().size(), 2u) << "No deletes nothing";

  Dialogs.YesNoAnswers = {true};
  Form().N12->trigger();
  EXPECT_TRUE(ChatFiles().empty());
  EXPECT_TRUE(std::filesystem::is_directory(Path("chats/subchats")));
  EXPECT_TRUE(std::filesystem::is_empty(Path("chats/subchats")));
  EXPECT_EQ(Texts(Form().ListBox2), std::vector<std::string>{ui::kNewChatEntry});
  EXPECT_EQ(Form().ListBox2->currentRow(), 0);
  EXPECT_EQ(Form().GeminiListBox->count(), 0) << "no entry is left naming a deleted file";
  EXPECT_TRUE(Form().FCurrentChatFile.empty());
  EXPECT_TRUE(Dm().FChatHistory.empty());
  EXPECT_EQ(Status(), ui::kStatusAllChatsDeleted);
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgAllChatsDeleted);
}

TEST_F(LibraryTest, NoSearchRunsWhileTheSummaryIsPending) {
  UseEmulator();
  WriteChat("Alpha_2025-01-01_120000.json", "alpha question", "alpha answer");
  WriteChat("Beta_2025-02-01_120000.json", "beta question");
  emulator::TScriptedReply summary = TextReply(std::string(kNewPartTitleMarker) + " Later\nsummary", 5, 2);
  summary.DelayMs = 200;
  AskForANewPartOfAlpha(summary);
  ASSERT_TRUE(Form().RequestPending());
  EXPECT_FALSE(Form().Edit1->isEnabled());
  Form().Edit1->setText("beta");
  QTest::keyClick(Form().Edit1, Qt::Key_Return);
  ASSERT_TRUE(WaitForIdle());
  EXPECT_EQ(Form().FCurrentChatFile,
            (FDir / "chats/subchats/Alpha_2025-01-01_120000_part_01_Later.json").string());
  EXPECT_EQ(Status(), ui::kStatusNewPartCreated);
  EXPECT_TRUE(Form().Edit1->isEnabled());
}

// A second window on the same program folder, as a second program would be: its own
// service, dialogs and page. The real program refuses a second start on a folder; the
// chat library must not lose a turn even so.
struct TSecondWindow {
  TGeminiDM Dm{TestMainThread()};
  TestDialogs Dialogs;
  RecordingChatPage* Page = new RecordingChatPage;
  TForm1 Form{Dm, Dialogs, std::unique_ptr<IChatPage>(Page)};
  TSecondWindow() { Form.show(); }
  ~TSecondWindow() { Form.close(); }
};

TEST_F(LibraryTest, AWindowThatDidNotChangeAChatNeverWritesItsOldCopyOverIt) {
  UseEmulator();
  const std::string alpha = WriteChat("Alpha_2025-01-01_120000.json", "Alpha");
  OpenWindow();
  for (const bool closeIt : {true, false}) {
    const char* name = closeIt ? "second window closed" : "second window switched to a new chat";
    TChatHistory before;
    std::int32_t tokens = 0;
    ASSERT_TRUE(ReadChatFile(alpha, before, tokens));
    auto second = std::make_unique<TSecondWindow>();
    Click(second->Form.ListBox2, "Alpha");
    Click(Form().ListBox2, "Alpha");
    Emulator.Enqueue(TextReply(std::string("answer while ") + name, 5, 2));
    SendAndWait("turn in the first window");
    if (closeIt) second.reset();
    else second->Form.btnNewChat->click();
    TChatHistory saved;
    ASSERT_TRUE(ReadChatFile(alpha, saved, tokens));
    EXPECT_EQ(saved.size(), before.size() + 2) << name << ": the first window's turn is still there";
    EXPECT_TRUE(second == nullptr || second->Dialogs.Messages.empty()) << name;
    EXPECT_EQ(ChatFiles().size(), 1u) << name;
  }
}

TEST_F(LibraryTest, AChatChangedOnDiskSinceItWasLoadedIsContinuedAsANewChat) {
  UseEmulator();
  const std::string alpha = WriteChat("Alpha_2025-01-01_120000.json", "Alpha");
  OpenWindow();
  TSecondWindow second;
  Click(second.Form.ListBox2, "Alpha");
  Click(Form().ListBox2, "Alpha");
  Emulator.Enqueue(TextReply("for the first", 5, 2));
  SendAndWait("from the first window");
  const std::string firstsCopy = ReadText("chats/Alpha_2025-01-01_120000.json");

  // The second window goes on in its copy: it must not replace the file the first wrote.
  Emulator.Enqueue(TextReply("for the second", 5, 2));
  second.Form.memoPrompt->setPlainText("from the second window");
  QTest::keyClick(second.Form.memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(WaitFor([&] { return !second.Form.RequestPending(); }));
  EXPECT_EQ(ReadText("chats/Alpha_2025-01-01_120000.json"), firstsCopy) << "never written over";
  const std::string continued = second.Form.FCurrentChatFile;
  ASSERT_NE(continued, alpha);
  TChatHistory saved;
  std::int32_t tokens = 0;
  ASSERT_TRUE(ReadChatFile(continued, saved, tokens));
  ASSERT_EQ(saved.size(), 4u) << "the second window's conversation, whole";
  EXPECT_EQ(saved[2].Parts[0].Text, "from the second window");
  ASSERT_EQ(second.Dialogs.Messages.size(), 1u);
  const std::string told = S(second.Dialogs.Messages[0]);
  EXPECT_EQ(told, std::string(ui::kMsgChatChangedOnDiskStart) + "Alpha_2025-01-01_120000.json" +
                      ui::kMsgChatChangedOnDiskMiddle + std::filesystem::path(continued).filename().string());
  EXPECT_EQ(second.Form.StatusTextValue(), told);
  int listed = 0;
  for (int i = 0; i < second.Form.ListBox2->count(); ++i)
    listed += TChatLibrary::EntryPath(second.Form.ListBox2, i) == continued;
  EXPECT_EQ(listed, 1) << "the new chat is listed once";
  EXPECT_EQ(TChatLibrary::EntryPath(second.Form.ListBox2, second.Form.ListBox2->currentRow()), continued)
      << "and selected";
  EXPECT_EQ(TChatLibrary::EntryPath(second.Form.GeminiListBox, 0), continued);

  // From now on the second window writes its own new chat, quietly.
  Emulator.Enqueue(TextReply("again", 5, 2));
  second.Form.memoPrompt->setPlainText("once more");
  QTest::keyClick(second.Form.memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(WaitFor([&] { return !second.Form.RequestPending(); }));
  EXPECT_EQ(second.Form.FCurrentChatFile, continued);
  ASSERT_TRUE(ReadChatFile(continued, saved, tokens));
  EXPECT_EQ(saved.size(), 6u);
  EXPECT_EQ(second.Dialogs.Messages.size(), 1u);
  EXPECT_EQ(ChatFiles().size(), 2u);
}

TEST_F(LibraryTest, AChatThatLoadedInPartIsContinuedAsANewChat) {
  UseEmulator();
  std::string turns;
  for (int i = 0; i < 5; ++i)
    turns += R"({"role":")" + std::string(i % 2 ? "model" : "user") + R"(","parts":[{"text":"turn )" + std::to_string(i) + R"("}]},)";
  const std::string damaged = std::string(kUtf8Bom) + R"({"contents":[)" + turns +
                              R"({"role":"user","parts":[{"text":"lost"}],"token_count":99999999999999},{"role":"model","parts":[{"text":"late"}]}]})";
  const std::string main = (FDir / "chats" / "Damaged_2025-01-01_120000.json").string();
  std::filesystem::create_directories(FDir / "chats");
  WriteText("chats/Damaged_2025-01-01_120000.json", damaged);
  OpenWindow();
  Click(Form().ListBox2, "Damaged");
  EXPECT_EQ(Status(), ui::kStatusChatLoadedInPart);
  EXPECT_EQ(Dm().FChatHistory.size(), 5u) << "the turns read, without the unread ones";

  Form().btnNewChat->click();  // nothing new: nothing written anywhere
  EXPECT_EQ(ReadText("chats/Damaged_2025-01-01_120000.json"), damaged);
  EXPECT_EQ(ChatFiles().size(), 1u);

  Click(Form().ListBox2, "Damaged");
  Emulator.Enqueue(TextReply("more", 5, 2));
  SendAndWait("go on");
  EXPECT_EQ(ReadText("chats/Damaged_2025-01-01_120000.json"), damaged) << "never written over";
  ASSERT_NE(Form().FCurrentChatFile, main);
  TChatHistory saved;
  std::int32_t tokens = 0;
  ASSERT_TRUE(ReadChatFile(Form().FCurrentChatFile, saved, tokens));
  EXPECT_EQ(saved.size(), 7u);
  EXPECT_EQ(ChatFiles().size(), 2u);
  EXPECT_EQ(Row(Form().ListBox2, "turn 0"), Form().ListBox2->currentRow()) << "the new chat is listed and selected";
}

}  // namespace
}  // namespace tarvok
