// The send flow against the Gemini API emulator on loopback.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <future>
#include <regex>

#include "app/AttachmentsPanel.h"
#include "app/QtText.h"
#include "app/SendFlow.h"
#include "app/UiTexts.h"
#include "core/ApiKeyStats.h"
#include "core/RequestThread.h"
#include "storage/ChatFile.h"
#include "tests/app/support/InjectedFailures.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

class SendTest : public WindowTest {
 protected:
  // Opens the window and sends "Please answer" with one attached file; returns its path.
  std::string OpenAndSendWithANoteAttached() {
    OpenWindow();
    const std::string file = MakeFile("notes.txt", 10);
    Form().FlbFiles1 = {file};
    Form().ListBox1->addItem("notes.txt");
    SendAndWait("Please answer");
    return file;
  }
};

std::string FirstMessageId(const std::string& AHtml) {
  std::smatch m;
  return std::regex_search(AHtml, m, std::regex("id=\"(msg_[0-9]{17})\"")) ? m[1].str() : std::string();
}

TEST_F(SendTest, ASuccessfulSendShowsBothBubblesSavesTheChatAndFillsTheParts) {
  UseEmulator();
  Emulator.Enqueue(TextReply("**Hi** there", 42, 7));
  OpenWindow();
  Form().Timer1->setInterval(3600 * 1000);  // ticks come from the test below
  Form().memoPrompt->setPlainText("Hello model");
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(Form().RequestPending());
  EXPECT_EQ(S(Form().btnSend->text()), ui::kCaptionStop) << "the send button stops the request now";
  EXPECT_FALSE(Form().ListBox2->isEnabled());
  EXPECT_FALSE(Form().btnNewChat->isEnabled());
  EXPECT_FALSE(Form().TimeoutLabel->isHidden());
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "") << "the input is emptied once the request starts";
  for (int i = 0; i < 37; ++i) Form().Timer1Timer();
  ASSERT_TRUE(WaitForIdle());

  ASSERT_EQ(Emulator.Requests().size(), 1u);
  EXPECT_NE(Emulator.Requests()[0].Body.find("Hello model"), std::string::npos);
  EXPECT_EQ(Emulator.Requests()[0].Query, "key=test-key");

  const std::string html = Page().ChatHtml();
  const std::string id = FirstMessageId(html);
  ASSERT_FALSE(id.empty()) << html;
  EXPECT_NE(html.find("footer_" + id), std::string::npos) << "the user bubble shows the estimate";
  EXPECT_NE(html.find("<strong>Hi</strong>"), std::string::npos);
  EXPECT_NE(html.find("Gemini-2.5-pro"), std::string::npos) << "the answer's header names the model";
  EXPECT_NE(html.find("37"), std::string::npos);
  const auto scripts = Page().Texts(RecordingChatPage::OpKind::Script);
  ASSERT_EQ(scripts.size(), 1u);
  EXPECT_NE(scripts[0].find(id), std::string::npos);
  EXPECT_NE(scripts[0].find("42"), std::string::npos);

  const auto& history = Dm().FChatHistory;
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[1].Role, "model");
  EXPECT_EQ(history[1].ModelName, "gemini-2.5-pro");
  EXPECT_EQ(history[1].Duration, "37");
  EXPECT_EQ(history[1].TokenCount, 7);
  EXPECT_EQ(S(Form().CountLabel->text()), "1");
  EXPECT_EQ(Status(), ui::kStatusDone);
  EXPECT_TRUE(Form().TimeoutLabel->isHidden());
  EXPECT_TRUE(Form().btnSend->isEnabled());
  EXPECT_TRUE(Form().ListBox2->isEnabled());

  ASSERT_FALSE(Form().FCurrentChatFile.empty());
  EXPECT_EQ(Form().FCurrentChatFile.find((FDir / "chats" / "Hello model_").string()), 0u) << Form().FCurrentChatFile;
  TChatHistory saved;
  std::int32_t tokens = 0;
  ASSERT_TRUE(ReadChatFile(Form().FCurrentChatFile, saved, tokens));
  EXPECT_EQ(saved, history);
  EXPECT_EQ(S(Form().ListBox2->item(0)->text()), "Hello model") << "the new chat's entry takes its name";
  ASSERT_EQ(Form().GeminiListBox->count(), 1);
  EXPECT_EQ(S(Form().GeminiListBox->item(0)->text()), ui::kPartsFirstEntry);
  EXPECT_EQ(Form().GeminiListBox->currentRow(), 0);
  EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(SendTest, ARateLimitedSendRestoresPromptAndFilesAndMarksTheUserBubble) {
  UseEmulator();
  emulator::TScriptedReply reply;
  reply.Status = 429;
  reply.Body = emulator::ReadFixture("06-error-429-no-details-raw.json");
  Emulator.Enqueue(reply);
  const std::string file = OpenAndSendWithANoteAttached();

  EXPECT_EQ(Form().memoPrompt->toPlainText(), "Please answer");
  EXPECT_EQ(Form().FlbFiles1, std::vector<std::string>{file});
  ASSERT_EQ(Form().ListBox1->count(), 1);
  EXPECT_EQ(Form().ListBox1->item(0)->text(), "notes.txt");
  EXPECT_EQ(S(Form().lblFileLimits1->text()), "Файлы (1/16)");
  EXPECT_EQ(Status(), ui::kStatusDone) << "the restore status is overwritten by the completion's last step";
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgSendRestored);

  const std::string html = Page().ChatHtml();
  EXPECT_EQ(html.find("ERROR_CODE_429_FINAL:"), std::string::npos);
  EXPECT_NE(html.find("429"), std::string::npos);
  const auto scripts = Page().Texts(RecordingChatPage::OpKind::Script);
  ASSERT_EQ(scripts.size(), 1u);
  EXPECT_NE(scripts[0].find(FirstMessageId(html)), std::string::npos);
  EXPECT_NE(scripts[0].find("#D32F2F"), std::string::npos);
  EXPECT_TRUE(Dm().FChatHistory.empty());
  EXPECT_TRUE(Form().FCurrentChatFile.empty());
  EXPECT_TRUE(ChatFiles().empty()) << "a failed first send leaves no chat file";
  EXPECT_TRUE(Form().btnSend->isEnabled());
}

TEST_F(SendTest, AnImageModelSendsThePromptAloneAndStoresThePicture) {
  UseEmulator();
  emulator::TScriptedReply picture;
  picture.Body = emulator::ReadFixture("03-image-text-inline-trimmed.json");
  Emulator.Enqueue(picture);
  WriteText("Models.txt", "Gemini-2.5-Flash-IMAGE\r\n");
  OpenWindow();
  SendAndWait("a red cat");
  ASSERT_EQ(Emulator.Requests().size(), 1u);
  EXPECT_NE(Emulator.Requests()[0].Body.find("a red cat"), std::string::npos);
  const auto& history = Dm().FChatHistory;
  ASSERT_EQ(history.size(), 2u);
  ASSERT_EQ(history[1].Parts.size(), 1u);
  EXPECT_EQ(history[1].Parts[0].PartType, TPartType::ptInlineData);
  EXPECT_EQ(history[1].Parts[0].MimeType, "image/png");
  EXPECT_TRUE(history[1].ModelName.empty()) << "the image completion records no model name";
  EXPECT_NE(Page().ChatHtml().find("data:image/png;base64,"), std::string::npos);
  EXPECT_EQ(Form().GeminiListBox->count(), 1);
  EXPECT_EQ(ChatFiles().size(), 1u);
}

TEST_F(SendTest, ValidationStopsASendBeforeAnyRequest) {
  UseEmulator();
  OpenWindow();
  // Above what the Files API takes; sparse, so that the test writes no 2 GB.
  const std::string big = MakeFile("big.pdf", 0);
  std::filesystem::resize_file(big, 2147483649ull);
  const std::string empty = MakeFile("empty.txt", 0);
  struct {
    const char* Name;
    const char* Key;
    const char* Model;
    const char* Prompt;
    std::vector<std::string> Files;
    std::string Message;       // a message box, or empty
    std::string ModelBubble;   // text of a failure bubble, or empty
  } cases[] = {
      {"no key", "  ", "gemini-2.5-pro", "hi", {}, ui::kMsgEnterApiKey, ""},
      {"empty prompt", "k", "gemini-2.5-pro", " \n ", {}, ui::kMsgEnterPrompt, ""},
      {"image model with files", "k", "x-IMAGE-y", "hi", {empty}, ui::kMsgImageNoFiles, ""},
      {"file over 2 GiB", "k", "gemini-2.5-pro", "hi", {big}, ui::kMsgSendRestored,
       std::string(ui::kErrFileTooBigStart) + "&quot;big.pdf&quot;" + ui::kErrFileTooBigEndFilesApi},
      {"empty file", "k", "gemini-2.5-pro", "hi", {empty}, ui::kMsgSendRestored, std::string(ui::kErrFileEncode) + empty},
  };
  for (const auto& c : cases) {
    Dialogs.Messages.clear();
    Page().Clear();
    Form().editApiKey->setEditText(c.Key);
    Form().cbModels->setEditText(c.Model);
    Form().memoPrompt->setPlainText(c.Prompt);
    Form().FlbFiles1 = c.Files;
    Form().btnSend->click();
    EXPECT_FALSE(Form().RequestPending()) << c.Name;
    ASSERT_FALSE(Dialogs.Messages.empty()) << c.Name;
    EXPECT_EQ(S(Dialogs.Messages[0]), c.Message) << c.Name;
    if (!c.ModelBubble.empty()) {
      EXPECT_NE(Page().ChatHtml().find(c.ModelBubble), std::string::npos) << c.Name << "\n" << Page().ChatHtml();
      EXPECT_EQ(S(Form().memoPrompt->toPlainText()), c.Prompt) << c.Name;
      EXPECT_EQ(Form().FlbFiles1, c.Files) << c.Name;
      EXPECT_EQ(Page().Texts(RecordingChatPage::OpKind::Script).size(), 1u) << c.Name << ": the user bubble is marked";
      EXPECT_TRUE(Form().btnSend->isEnabled()) << c.Name;
      EXPECT_TRUE(Form().TimeoutLabel->isHidden()) << c.Name;
    }
  }
  EXPECT_TRUE(Emulator.Requests().empty());
  EXPECT_TRUE(Dm().FChatHistory.empty());
}

// A file above the inline limit goes up through the Files API: a failure there restores the
// prompt and the file; once up, the turn refers to it, the chat file keeps the data and the
// uri, and the next turn sends the uri again without a second upload.
TEST_F(SendTest, AFileAbove20MiBGoesUpThroughTheFilesApiAndTheNextTurnReusesIt) {
  UseEmulator();
  OpenWindow();
  const std::string file = MakeFile("clip.mp4", 25u << 20, 'v');
  Emulator.SetFileProcessingFails(true);
  Form().FlbFiles1 = {file};
  SendAndWait("Watch this");
  EXPECT_EQ(S(Form().memoPrompt->toPlainText()), "Watch this");
  EXPECT_EQ(Form().FlbFiles1, std::vector<std::string>{file});
  EXPECT_TRUE(Dm().FChatHistory.empty());
  EXPECT_NE(Page().ChatHtml().find("TUploadError"), std::string::npos);

  Emulator.SetFileProcessingFails(false);
  Emulator.ClearRequests();
  Dialogs.Messages.clear();
  Emulator.Enqueue(TextReply("got it", 10, 2));
  Form().memoPrompt->clear();
  SendAndWait("Watch this");
  ASSERT_EQ(Dm().FChatHistory.size(), 2u);
  const auto requests = Emulator.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[1].Body.size(), 25u << 20);
  EXPECT_LT(requests[3].Body.size(), 4096u);
  EXPECT_NE(requests[3].Body.find("file_data"), std::string::npos);
  const TContentPart& sent = Dm().FChatHistory[0].Parts[1];
  EXPECT_FALSE(sent.FileUri.empty());
  TChatHistory stored;
  std::int32_t tokens = 0;
  ASSERT_TRUE(ReadChatFile(Form().FCurrentChatFile, stored, tokens));
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].Parts[1].FileUri, sent.FileUri);
  EXPECT_EQ(stored[0].Parts[1].FileExpires, sent.FileExpires);
  EXPECT_EQ(stored[0].Parts[1].Base64Data, sent.Base64Data) << "the chat stays whole";

  Emulator.ClearRequests();
  Emulator.Enqueue(TextReply("still here", 10, 2));
  SendAndWait("And now?");
  ASSERT_EQ(Emulator.Requests().size(), 1u) << "no second upload";
  EXPECT_NE(Emulator.Requests()[0].Body.find("file_data"), std::string::npos);
  EXPECT_EQ(Emulator.FileCount(), 2u) << "the one the service failed and the one in use";
}

TEST_F(SendTest, WithoutAKeyTheHelpPageIsShownAndASendThenStartsANewChat) {
  UseEmulator("");
  OpenWindow();
  Form().memoPrompt->setPlainText("hi");
  Form().btnSend->click();
  EXPECT_TRUE(Dialogs.Messages.size() == 2u && Dialogs.Messages[1].startsWith(Q(ui::kMsgCreateKeyAt)))
      << "no AddKey.html beside the program: the key page's address";
  WriteText("AddKey.html", "<html><body>help</body></html>");
  Form().btnSend->click();
  ASSERT_EQ(Page().Texts(RecordingChatPage::OpKind::ShowFile).size(), 1u);
  EXPECT_TRUE(Page().CurrentUrl().contains("AddKey.html"));

  Emulator.Enqueue(TextReply("fine", 5, 1));
  Form().editApiKey->setEditText("k");
  const std::string a = MakeFile("a.txt", 3), b = MakeFile("b.txt", 4);
  Form().FlbFiles1 = {a, b};
  const auto resetsBefore = Page().Texts(RecordingChatPage::OpKind::Reset).size();
  SendAndWait("with files");
  EXPECT_EQ(Page().Texts(RecordingChatPage::OpKind::Reset).size(), resetsBefore + 1) << "a new chat first";
  const std::string html = Page().ChatHtml();
  EXPECT_NE(html.find("a.txt"), std::string::npos);
  EXPECT_NE(html.find("b.txt"), std::string::npos);
  ASSERT_EQ(Dm().FChatHistory.size(), 2u);
  EXPECT_EQ(Dm().FChatHistory[0].Parts.size(), 3u);
}

TEST_F(SendTest, OnlyCtrlEnterSendsAndNothingStartsWhileARequestIsPending) {
  UseEmulator();
  emulator::TScriptedReply slow = TextReply("first", 5, 1);
  slow.DelayMs = 400;
  Emulator.Enqueue(slow);
  OpenWindow();
  Form().memoPrompt->setPlainText("one");
  Form().memoPrompt->moveCursor(QTextCursor::End);
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return);
  EXPECT_FALSE(Form().RequestPending());
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "one\n") << "Enter alone makes a new line";

  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(Form().RequestPending());
  Form().memoPrompt->setPlainText("two");
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "two") << "the second prompt waits in the box";
  EXPECT_FALSE(Form().GeminiListBox->isEnabled());
  EXPECT_FALSE(Form().N6->isEnabled());
  EXPECT_FALSE(Form().N13->isEnabled());
  EXPECT_FALSE(Form().N14->isEnabled());
  EXPECT_FALSE(Form().N17->isEnabled());
  ASSERT_TRUE(WaitForIdle());
  EXPECT_EQ(Emulator.Requests().size(), 1u);
  EXPECT_EQ(Dm().FChatHistory.size(), 2u);
  EXPECT_TRUE(Form().N14->isEnabled());
}

TEST_F(SendTest, ClosingTheWindowWithARequestPendingDropsItsLateAnswer) {
  UseEmulator();
  emulator::TScriptedReply slow = TextReply("late", 5, 1);
  slow.DelayMs = 300;
  Emulator.Enqueue(slow);
  OpenWindow();
  Form().memoPrompt->setPlainText("going away");
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(Form().RequestPending());
  // On its way when the window closes (the close stops it; one that had not left yet never would).
  ASSERT_TRUE(Emulator.WaitForRequests(1, std::chrono::seconds(10)));
  CloseWindow();
  const auto filesAtClose = ChatFiles();
  ASSERT_TRUE(WaitFor([] { return TGeminiRequestThread::ActiveCount() == 0; }));
  EXPECT_EQ(Emulator.Requests().size(), 1u);
  EXPECT_EQ(ChatFiles(), filesAtClose) << "nothing is written for the dropped answer";
  EXPECT_TRUE(Dialogs.Errors.empty());
}

TEST_F(SendTest, ATransportFailureRestoresPromptAndFilesLikeAnyOtherFailure) {
  UseEmulator();
  emulator::TScriptedReply cut;
  cut.Body = emulator::ReadFixture("01-text-basic.json");
  cut.CloseAfterBytes = 10;
  Emulator.Enqueue(cut);
  const std::string file = OpenAndSendWithANoteAttached();

  EXPECT_EQ(Form().memoPrompt->toPlainText(), "Please answer");
  EXPECT_EQ(Form().FlbFiles1, std::vector<std::string>{file});
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgSendRestored);
  const std::string html = Page().ChatHtml();
  EXPECT_NE(html.find("Исключение: "), std::string::npos);
  const auto scripts = Page().Texts(RecordingChatPage::OpKind::Script);
  ASSERT_EQ(scripts.size(), 1u) << "only the error mark, no token footer";
  EXPECT_NE(scripts[0].find(FirstMessageId(html)), std::string::npos);
  EXPECT_TRUE(Dm().FChatHistory.empty());
  EXPECT_TRUE(ChatFiles().empty());
}

TEST_F(SendTest, AnAnswerThatBeginsWithErrorIsShownAndSavedAsTheAnswer) {
  const std::string answer = "Ошибка возникает, потому что…";
  UseEmulator();
  Emulator.Enqueue(TextReply(answer, 12, 5));
  const std::string file = OpenAndSendWithANoteAttached();

  EXPECT_EQ(Form().memoPrompt->toPlainText(), "") << "nothing is given back";
  EXPECT_TRUE(Form().FlbFiles1.empty());
  EXPECT_TRUE(Dialogs.Messages.empty());
  const auto scripts = Page().Texts(RecordingChatPage::OpKind::Script);
  ASSERT_EQ(scripts.size(), 1u);
  EXPECT_EQ(scripts[0].find("#D32F2F"), std::string::npos) << "the user bubble is not marked";
  ASSERT_EQ(Dm().FChatHistory.size(), 2u);
  EXPECT_EQ(Dm().FChatHistory[1].Parts.at(0).Text, answer);
  TChatHistory saved;
  std::int32_t tokens = 0;
  ASSERT_TRUE(ReadChatFile(Form().FCurrentChatFile, saved, tokens));
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[1].Parts.at(0).Text, answer);
}

TEST_F(SendTest, ATypedLineBreakIsShownSentAndStoredAsCrLfAndComesBackAsOneBreak) {
  UseEmulator();
  emulator::TScriptedReply limited;
  limited.Status = 429;
  limited.Body = emulator::ReadFixture("06-error-429-no-details-raw.json");
  Emulator.Enqueue(limited);
  Emulator.Enqueue(TextReply("ok", 5, 1));
  OpenWindow();
  QTest::keyClicks(Form().memoPrompt, "line one");
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return);
  QTest::keyClicks(Form().memoPrompt, "line two");
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(WaitForIdle());
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "line one\nline two") << "the restored prompt keeps one break";
  EXPECT_EQ(Form().memoPrompt->document()->blockCount(), 2);

  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(WaitForIdle());
  ASSERT_EQ(Emulator.Requests().size(), 2u);
  for (const auto& request : Emulator.Requests())
    EXPECT_NE(request.Body.find(R"("text":"line one\r\nline two")"), std::string::npos) << request.Body;
  EXPECT_NE(Page().ChatHtml().find("line one<br>line two"), std::string::npos) << Page().ChatHtml();
  ASSERT_EQ(Dm().FChatHistory.size(), 2u);
  EXPECT_EQ(Dm().FChatHistory[0].Parts[0].Text, "line one\r\nline two");
  EXPECT_NE(ReadText(std::filesystem::relative(Form().FCurrentChatFile, FDir).string()).find(R"("text":"line one\r\nline two")"),
            std::string::npos);
}

// The F1 key's action: the key-help page over the chat.
QAction* HelpKey(TForm1& AForm) {
  for (QAction* action : AForm.findChildren<QAction*>())
    if (action->shortcut() == QKeySequence(Qt::Key_F1)) return action;
  return nullptr;
}

void ClickSelectedEntry(QListWidget* AList) {
  ASSERT_NE(AList->currentItem(), nullptr);
  QTest::mouseClick(AList->viewport(), Qt::LeftButton, {}, AList->visualItemRect(AList->currentItem()).center());
}

TEST_F(SendTest, AfterF1TheNextPromptAndAClickOnTheOpenChatGoOnInThatChat) {
  UseEmulator();
  WriteText("AddKey.html", "<html><body>help</body></html>");
  Emulator.Enqueue(TextReply("first answer", 5, 1));
  OpenWindow();
  SendAndWait("first question");
  const std::string chat = Form().FCurrentChatFile;
  QAction* f1 = HelpKey(Form());
  ASSERT_NE(f1, nullptr);

  f1->trigger();
  ASSERT_TRUE(Page().CurrentUrl().contains("AddKey.html"));
  Emulator.Enqueue(TextReply("second answer", 5, 1));
  SendAndWait("second question");
  EXPECT_EQ(Form().FCurrentChatFile, chat) << "no new chat";
  EXPECT_EQ(ChatFiles().size(), 1u);
  EXPECT_EQ(Dm().FChatHistory.size(), 4u);
  TChatHistory saved;
  std::int32_t tokens = 0;
  ASSERT_TRUE(ReadChatFile(chat, saved, tokens));
  EXPECT_EQ(saved.size(), 4u) << "the turn lands in the open chat's file";
  EXPECT_FALSE(Page().CurrentUrl().contains("AddKey.html"));
  for (const char* text : {"first question", "first answer", "second question", "second answer"})
    EXPECT_NE(Page().ChatHtml().find(text), std::string::npos) << text;

  // A click on the open chat's entry, in either list, shows that chat again.
  for (QListWidget* list : {Form().ListBox2, Form().GeminiListBox}) {
    const std::string name = S(list->objectName());
    f1->trigger();
    ASSERT_TRUE(Page().CurrentUrl().contains("AddKey.html")) << name;
    ClickSelectedEntry(list);
    EXPECT_FALSE(Page().CurrentUrl().contains("AddKey.html")) << name;
    EXPECT_NE(Page().ChatHtml().find("second answer"), std::string::npos) << name;
    EXPECT_EQ(Form().FCurrentChatFile, chat) << name;
    EXPECT_EQ(Dm().FChatHistory.size(), 4u) << name;
  }
}

TEST_F(SendTest, AnAnswerThatArrivesUnderTheF1HelpPageIsShownInTheChat) {
  UseEmulator();
  WriteText("AddKey.html", "<html><body>help</body></html>");
  OpenWindow();
  QAction* f1 = HelpKey(Form());
  ASSERT_NE(f1, nullptr);
  for (const bool streamed : {false, true}) {
    const char* name = streamed ? "streamed" : "whole";
    Form().chkStreamAnswers->setChecked(streamed);
    // The stream holds its second piece back until the help page covers the first.
    std::promise<void> helpShown;
    std::shared_future<void> shown = helpShown.get_future().share();
    emulator::TScriptedReply reply = streamed ? emulator::StreamedTextReply({"piece one, ", "piece two"}, 5, 2, 0)
                                              : TextReply("whole answer", 5, 2);
    reply.OnEventSent = [shown](std::size_t AEvent) {
      if (AEvent == 0) shown.wait_for(std::chrono::seconds(30));
    };
    Emulator.Enqueue(reply);
    Form().memoPrompt->setPlainText(QString::fromUtf8(name) + " question");
    QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(Form().RequestPending()) << name;
    if (streamed) ASSERT_TRUE(WaitFor([&] { return Page().ChatHtml().find("piece one") != std::string::npos; }));
    f1->trigger();
    ASSERT_TRUE(Page().CurrentUrl().contains("AddKey.html")) << name;
    helpShown.set_value();
    ASSERT_TRUE(WaitForIdle()) << name;

    EXPECT_FALSE(Page().CurrentUrl().contains("AddKey.html")) << name;
    const std::string html = Page().ChatHtml();
    EXPECT_NE(html.find(std::string(name) + " question"), std::string::npos) << name;
    EXPECT_NE(html.find(streamed ? "piece one, piece two" : "whole answer"), std::string::npos) << name << html;
    // The question's token footer still finds its bubble.
    const auto scripts = Page().Texts(RecordingChatPage::OpKind::Script);
    ASSERT_FALSE(scripts.empty()) << name;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(scripts.back(), m, std::regex("footer_(msg_[0-9]{17})"))) << name;
    EXPECT_NE(html.find("id=\"" + m[1].str() + "\""), std::string::npos) << name;
  }
  EXPECT_EQ(Dm().FChatHistory.size(), 4u);
  EXPECT_EQ(ChatFiles().size(), 1u);
}

// The window is locked and the input taken; whatever the prompt box and files hold.
void ExpectWindowBack(TForm1& AForm, const char* ACase) {
  EXPECT_FALSE(AForm.RequestPending()) << ACase;
  EXPECT_TRUE(AForm.btnSend->isEnabled()) << ACase;
  EXPECT_TRUE(AForm.ListBox2->isEnabled()) << ACase;
  EXPECT_FALSE(AForm.Timer1->isActive()) << ACase;
  EXPECT_TRUE(AForm.TimeoutLabel->isHidden()) << ACase;
}

TEST_F(SendTest, ASaveThatFailsOnTheHelpPagePathGivesTheWindowAndThePromptBack) {
  UseEmulator();
  Emulator.Enqueue(TextReply("first answer", 5, 1));
  OpenWindow();
  // An unchanged chat is not written again: the open chat holds a turn whose save failed.
  TReadOnlyFolder readOnly(Path("chats"));
  if (!readOnly.Ok()) GTEST_SKIP() << "no folder can be made read-only here";
  SendAndWait("first");
  ASSERT_EQ(Dialogs.Errors.size(), 1u);
  ASSERT_TRUE(ChatFiles().empty());
  Dialogs.Errors.clear();
  WriteText("AddKey.html", "<html><body>help</body></html>");
  Form().editApiKey->setEditText("");
  Form().memoPrompt->setPlainText("x");
  Form().btnSend->click();
  ASSERT_TRUE(Page().CurrentUrl().contains("AddKey.html"));

  Form().editApiKey->setEditText("k");
  const std::string file = MakeFile("notes.txt", 10);
  Form().Attachments().SetFiles({file});
  Form().memoPrompt->setPlainText("second");
  Dialogs.Messages.clear();
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ExpectWindowBack(Form(), "help page");
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "second");
  EXPECT_EQ(Form().FlbFiles1, std::vector<std::string>{file});
  EXPECT_EQ(Dialogs.Errors.size(), 1u) << "the general error report names the cause";
  EXPECT_EQ(Emulator.Requests().size(), 1u);
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(Dialogs.Errors.size(), 2u) << "Ctrl+Enter works again";
  EXPECT_EQ(Dm().FChatHistory.size(), 2u) << "the open chat is still there to be saved";
}

TEST_F(SendTest, AWorkerThatCannotStartGivesTheWindowThePromptAndTheHistoryBack) {
  UseEmulator();
  Emulator.Enqueue(TextReply("first answer", 5, 1));
  Emulator.Enqueue(TextReply("second answer", 5, 1));
  OpenWindow();
  SendAndWait("first");
  SendAndWait("second");
  const TChatHistory before = Dm().FChatHistory;
  const std::string file = MakeFile("notes.txt", 10);
  for (const bool cli : {true, false}) {
    const char* name = cli ? "CLI" : "REST";
    {
      const QSignalBlocker block(Form().GeminiCliCheckBox);  // its own check of the CLI is not under test
      Form().GeminiCliCheckBox->setChecked(cli);
    }
    Page().Clear();
    Form().Attachments().SetFiles({file});
    Form().memoPrompt->setPlainText("third");
    {
      TNoNewThreads noThreads;
      if (!noThreads.Ok()) GTEST_SKIP() << "no thread limit can be set here";
      QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
    }
    ExpectWindowBack(Form(), name);
    EXPECT_EQ(Form().memoPrompt->toPlainText(), "third") << name;
    EXPECT_EQ(Form().FlbFiles1, std::vector<std::string>{file}) << name;
    const auto scripts = Page().Texts(RecordingChatPage::OpKind::Script);
    ASSERT_EQ(scripts.size(), 1u) << name;
    EXPECT_NE(scripts[0].find("#D32F2F"), std::string::npos) << name << ": the user bubble is marked";
    EXPECT_EQ(Dm().FChatHistory, before) << name;
  }
  EXPECT_EQ(Emulator.Requests().size(), 2u);

  // The new part's summary request, on the same road.
  Dialogs.YesNoAnswers = {true};
  {
    TNoNewThreads noThreads;
    Form().N14->trigger();
  }
  ExpectWindowBack(Form(), "new part");
  EXPECT_EQ(Dm().FChatHistory, before);
}

TEST_F(SendTest, TheRouteKeyAndModelOfARequestAreTheOnesItWasSentWith) {
  UseEmulator();
  Emulator.Enqueue(TextReply("first answer", 5, 1));
  emulator::TScriptedReply cut;
  cut.Body = emulator::ReadFixture("01-text-basic.json");
  cut.DelayMs = 200;
  cut.CloseAfterBytes = 10;
  Emulator.Enqueue(cut);
  OpenWindow();
  SendAndWait("first");
  ASSERT_EQ(Dm().FChatHistory.size(), 2u);
  const THistoryItem answered = Dm().FChatHistory[1];

  Form().memoPrompt->setPlainText("second");
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(Form().RequestPending());
  EXPECT_FALSE(Form().GeminiCliCheckBox->isEnabled());
  EXPECT_FALSE(Form().chkEnableWebSearch->isEnabled());
  EXPECT_FALSE(Form().Edit1->isEnabled());
  {
    const QSignalBlocker block(Form().GeminiCliCheckBox);
    Form().GeminiCliCheckBox->setChecked(true);  // as if ticked while the answer is pending
  }
  Form().cbModels->setEditText("another-model");
  ASSERT_TRUE(WaitForIdle());
  EXPECT_EQ(Emulator.Requests().size(), 2u);
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "second") << "a REST exception is a failure of the REST route";
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgSendRestored);
  ASSERT_EQ(Dm().FChatHistory.size(), 2u);
  EXPECT_EQ(Dm().FChatHistory[1], answered) << "the earlier answer keeps its model and duration";
  EXPECT_TRUE(Form().GeminiCliCheckBox->isEnabled());
  EXPECT_TRUE(Form().chkEnableWebSearch->isEnabled());
  EXPECT_TRUE(Form().Edit1->isEnabled());
}

TEST_F(SendTest, AFailedPromptGoesInFrontOfWhatWasTypedWhileWaiting) {
  UseEmulator();
  OpenWindow();
  Form().GeminiDM().MaxFilesPerRequest = 3;
  const std::string a = MakeFile("a.txt", 3), b = MakeFile("b.txt", 3), c = MakeFile("c.txt", 3),
                    d = MakeFile("d.txt", 3);
  const std::string upperB = QString::fromStdString(b).toUpper().toStdString();
  emulator::TScriptedReply limited;
  limited.Status = 429;
  limited.Body = emulator::ReadFixture("06-error-429-no-details-raw.json");
  struct {
    const char* Name;
    QString Typed;
    std::vector<std::string> Attached;
    QString Prompt;
    std::vector<std::string> Files;
  } cases[] = {
      {"nothing new", "", {}, "failed\nprompt", {a, b}},
      {"typed and attached", "new\ntext", {c}, "failed\nprompt\n\nnew\ntext", {c, a, b}},
      {"the same again, a path in other letter case", "failed\nprompt", {upperB}, "failed\nprompt", {upperB, a}},
      {"up to the limit", "more", {c, d}, "failed\nprompt\n\nmore", {c, d, a}},
  };
  for (const auto& k : cases) {
    Emulator.Enqueue(limited);
    Dialogs.Messages.clear();
    Form().Attachments().SetFiles({a, b});
    Form().memoPrompt->setPlainText("failed\nprompt");
    QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(Form().RequestPending()) << k.Name;
    Form().memoPrompt->setPlainText(k.Typed);
    Form().Attachments().SetFiles(k.Attached);
    ASSERT_TRUE(WaitForIdle()) << k.Name;
    EXPECT_EQ(Form().memoPrompt->toPlainText(), k.Prompt) << k.Name;
    EXPECT_EQ(Form().FlbFiles1, k.Files) << k.Name;
    EXPECT_EQ(Form().ListBox1->count(), static_cast<int>(k.Files.size())) << k.Name;
  }
}

TEST(SendFlowTextTest, TheRateLimitMarkerIsNotShown) {
  struct {
    const char* Result;
    const char* Shown;
  } cases[] = {
      {"ERROR_CODE_429_FINAL:HTTP 429", "HTTP 429"},
      {"error_code_429_final:x", "x"},
      {"ОШИБКА: нет", "ОШИБКА: нет"},
      {"All fine ERROR_CODE_429_FINAL:", "All fine ERROR_CODE_429_FINAL:"},
  };
  for (const auto& c : cases) EXPECT_EQ(WithoutRateLimitMarker(c.Result), c.Shown) << c.Result;
}

}  // namespace
}  // namespace tarvok
