// Faults on the wire as the window meets them, in a chat that already holds an exchange.
#include <QCheckBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <regex>

#include "app/QtText.h"
#include "app/UiTexts.h"
#include "core/CoreTexts.h"
#include "storage/ChatFile.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

// Opened by the test once the page shows the first piece of a streamed answer; the
// emulator holds the cut until then, so the cut comes after text the user already sees.
class TGate {
 public:
  void Open() {
    {
      std::lock_guard lock(FMutex);
      FOpen = true;
    }
    FChanged.notify_all();
  }
  void Wait() {
    std::unique_lock lock(FMutex);
    FChanged.wait_for(lock, std::chrono::seconds(20), [this] { return FOpen; });
  }

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  bool FOpen = false;
};

std::string LastUserMessageId(const std::string& AHtml) {
  std::string id;
  const std::regex pattern("<div id=\"(msg_[0-9]{17})\" class=\"message-wrapper user-message\"");
  for (auto it = std::sregex_iterator(AHtml.begin(), AHtml.end(), pattern); it != std::sregex_iterator(); ++it)
    id = (*it)[1].str();
  return id;
}

class WireFaultWindowTest : public WindowTest {};

// After each fault: the prompt and the file are back, the user's bubble is marked, the
// failure is shown, and neither the history nor the chat file holds half a turn; the next
// send carries the earlier exchange and the new prompt only.
TEST_F(WireFaultWindowTest, AfterAFaultThePromptAndFilesComeBackAndNoHalfTurnIsKept) {
  UseEmulator();
  Emulator.Enqueue(TextReply("Earlier answer", 10, 3));
  OpenWindow();
  SendAndWait("Earlier question");
  ASSERT_EQ(Dm().FChatHistory.size(), 2u);
  const std::string chatFile = Form().FCurrentChatFile;
  ASSERT_FALSE(chatFile.empty());
  const TChatHistory historyBefore = Dm().FChatHistory;
  const std::string fileBefore = ReadText(chatFile);
  const std::string attached = MakeFile("notes.txt", 10);
  const std::string liveUrl = Dm().GeminiApiUrlBase;
  std::string refusedUrl;
  {
    emulator::TGeminiEmulator gone;
    gone.Start();
    refusedUrl = gone.UrlPattern();
  }

  const std::vector<std::string> pieces = {"Shown first, ", "never finished."};
  TGate gate;
  emulator::TScriptedReply cutStream = emulator::StreamedTextReply(pieces, 10, 4);
  cutStream.CloseAfterBytes = static_cast<long long>(("data: " + cutStream.SseEvents[0] + "\r\n\r\ndata: {\"cand").size());
  cutStream.OnEventSent = [&gate](std::size_t AEvent) {
    if (AEvent == 0) gate.Wait();
  };
  emulator::TScriptedReply resetBody = TextReply("A whole answer that never arrives", 10, 6);
  resetBody.CloseAfterBytes = 40;
  emulator::TScriptedReply serverError;
  serverError.Status = 500;
  serverError.Body = emulator::ReadFixture("06-error-500-internal.json");

  const struct {
    const char* name;
    std::optional<emulator::TScriptedReply> reply;  // none: nothing listens at the address
    bool stream;
    std::string shown;  // the start of the failure text on the page
  } cases[] = {
      {"refused", std::nullopt, false, texts::kExceptionPrefix + std::string("TTransportError - ")},
      {"reset in the middle of the body", resetBody, false, texts::kExceptionPrefix + std::string("TTransportError - ")},
      {"500 with the service's body", serverError, false, "Ошибка HTTP: HTTP/1.1 500 Internal Server Error (Код: 500)"},
      {"a stream cut in the middle of an event", cutStream, true, texts::kExceptionPrefix + std::string("TTransportError - ")},
  };
  std::size_t messages = Dialogs.Messages.size();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Page().Clear();
    Dm().GeminiApiUrlBase = c.reply ? liveUrl : refusedUrl;
    if (c.reply) Emulator.Enqueue(*c.reply);
    Form().chkStreamAnswers->setChecked(c.stream);
    Form().FlbFiles1 = {attached};
    Form().ListBox1->clear();
    Form().ListBox1->addItem("notes.txt");
    const QString prompt = QString::fromStdString(std::string("Try: ") + c.name);
    Form().memoPrompt->setPlainText(prompt);
    QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(Form().RequestPending());
    if (c.stream) {
      EXPECT_TRUE(WaitFor([&] { return Page().ChatHtml().find("Shown first") != std::string::npos; }));
      gate.Open();
    }
    ASSERT_TRUE(WaitForIdle());

    EXPECT_EQ(Form().memoPrompt->toPlainText(), prompt);
    EXPECT_EQ(Form().FlbFiles1, std::vector<std::string>{attached});
    ASSERT_EQ(Form().ListBox1->count(), 1);
    EXPECT_EQ(Form().ListBox1->item(0)->text(), "notes.txt");
    ASSERT_EQ(Dialogs.Messages.size(), messages + 1);
    EXPECT_EQ(S(Dialogs.Messages.back()), ui::kMsgSendRestored);
    messages = Dialogs.Messages.size();

    const std::string html = Page().ChatHtml();
    EXPECT_NE(html.find(c.shown), std::string::npos) << html;
    const std::string userId = LastUserMessageId(html);
    ASSERT_FALSE(userId.empty()) << html;
    bool marked = false;
    for (const auto& s : Page().Texts(RecordingChatPage::OpKind::Script))
      marked |= s.find(userId) != std::string::npos && s.find("#D32F2F") != std::string::npos;
    EXPECT_TRUE(marked) << "the user's bubble carries the send-error mark";
    if (c.stream) {
      EXPECT_NE(html.find("Shown first"), std::string::npos) << "what arrived stays on the page";
      EXPECT_EQ(html.find("never finished"), std::string::npos);
    }

    EXPECT_EQ(Dm().FChatHistory, historyBefore);
    EXPECT_EQ(Form().FCurrentChatFile, chatFile);
    EXPECT_EQ(ReadText(chatFile), fileBefore);
    EXPECT_EQ(ChatFiles().size(), 1u);
    EXPECT_TRUE(Form().btnSend->isEnabled());
  }

  // The restored prompt and file go out again, after the earlier exchange alone.
  Dm().GeminiApiUrlBase = liveUrl;
  Form().chkStreamAnswers->setChecked(false);
  Emulator.ClearRequests();
  Emulator.Enqueue(TextReply("Now it works", 12, 3));
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(WaitForIdle());
  ASSERT_EQ(Emulator.Requests().size(), 1u);
  const std::string body = Emulator.Requests()[0].Body;
  std::size_t users = 0;
  for (std::size_t at = body.find("\"role\":\"user\""); at != std::string::npos; at = body.find("\"role\":\"user\"", at + 1))
    ++users;
  EXPECT_EQ(users, 2u) << body;
  EXPECT_NE(body.find("Earlier question"), std::string::npos);
  EXPECT_EQ(body.find("Shown first"), std::string::npos) << "no piece of the cut stream";
  ASSERT_EQ(Dm().FChatHistory.size(), 4u);
  EXPECT_EQ(Dm().FChatHistory[3].Parts[0].Text, "Now it works");
  EXPECT_EQ(Dm().FChatHistory[2].Parts.size(), 2u) << "the prompt and the file";
  TChatHistory saved;
  std::int32_t tokens = 0;
  ASSERT_TRUE(ReadChatFile(chatFile, saved, tokens));
  ASSERT_EQ(saved.size(), 4u);
  EXPECT_EQ(TChatHistory(saved.begin(), saved.begin() + 2), historyBefore);
  EXPECT_EQ(saved[3].Parts[0].Text, "Now it works");
}

}  // namespace
}  // namespace tarvok
