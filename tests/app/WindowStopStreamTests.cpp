// Stopping a pending request from the window (the send button, Esc) on the REST and CLI
// routes, and answers shown as they arrive with "Поток" ticked.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTest>
#include <chrono>
#include <regex>

#include "app/QtText.h"
#include "app/UiTexts.h"
#include "cli/CliRequest.h"
#include "core/CoreTexts.h"
#include "core/Files.h"
#include "core/Text.h"
#include "core/RequestThread.h"
#include "storage/ChatFile.h"
#include "tests/app/support/WindowFixture.h"
#include "tests/cli/CliTestSupport.h"
#include "view/StreamRender.h"

namespace tarvok {
namespace {

using Clock = std::chrono::steady_clock;
const std::vector<std::string> kPieces = {"# Title\n\nFirst ", "part, ", "second **part**."};

// Timestamps differ between two runs; everything else must not.
std::string WithoutTimes(const std::string& AText) {
  return std::regex_replace(AText, std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2} - [0-9]{2}\\.[0-9]{2}\\.[0-9]{4}"), "T");
}
TChatHistory WithoutTimes(TChatHistory AHistory) {
  for (auto& item : AHistory) item.Timestamp = 0;
  return AHistory;
}
std::string StreamBubbleId(const std::string& AHtml) {
  std::smatch m;
  return std::regex_search(AHtml, m, std::regex("answer_msg_[0-9]{17}")) ? m.str() : std::string();
}
TChatHistory ReadChat(const std::string& AFile) {
  TChatHistory history;
  std::int32_t tokens = 0;
  EXPECT_TRUE(ReadChatFile(AFile, history, tokens)) << AFile;
  return history;
}

class StopStreamTest : public WindowTest {
 protected:
  void Send(const char* APrompt) {
    Form().memoPrompt->setPlainText(APrompt);
    QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(Form().RequestPending());
  }
  // Presses stop one way or the other and returns how long the window took to come back.
  Clock::duration StopAndWait(bool AByEsc) {
    const auto pressed = Clock::now();
    if (AByEsc) QTest::keyClick(Form().memoPrompt, Qt::Key_Escape);
    else QTest::mouseClick(Form().btnSend, Qt::LeftButton);
    EXPECT_TRUE(WaitForIdle());
    return Clock::now() - pressed;
  }
  // The stop ended the request as a failure: prompt back, bubble marked, nothing recorded.
  void ExpectStoppedBeforeAnyAnswer(const char* APrompt) {
    EXPECT_EQ(S(Form().memoPrompt->toPlainText()), APrompt);
    EXPECT_EQ(Status(), ui::kStatusStopped);
    EXPECT_TRUE(Dialogs.Messages.empty()) << "the user stopped it; no message box";
    EXPECT_NE(Page().ChatHtml().find(texts::kStoppedResult), std::string::npos);
    EXPECT_EQ(Page().Texts(RecordingChatPage::OpKind::Script).size(), 1u) << "the send-error mark";
    EXPECT_TRUE(Dm().FChatHistory.empty()) << (Dm().FChatHistory.empty() ? "" : Dm().FChatHistory.back().Parts[0].Text);
    EXPECT_TRUE(ChatFiles().empty());
    EXPECT_EQ(S(Form().btnSend->text()), ui::kCaptionSend);
    EXPECT_EQ(S(Form().btnSend->toolTip()), "Ctrl+Enter");
  }
};

TEST_F(StopStreamTest, TheSendButtonAndEscStopAHeldRestRequest) {
  UseEmulator();
  OpenWindow();
  for (const bool byEsc : {false, true}) {
    SCOPED_TRACE(byEsc ? "Esc" : "button");
    Page().Clear();
    emulator::TScriptedReply held = TextReply("late", 5, 1);
    held.DelayMs = 60000;
    Emulator.Enqueue(held);
    Send("Please stop");
    EXPECT_EQ(S(Form().btnSend->text()), ui::kCaptionStop);
    EXPECT_EQ(S(Form().btnSend->toolTip()), ui::kHintStop);
    EXPECT_TRUE(Form().btnSend->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return Emulator.Requests().size() == (byEsc ? 2u : 1u); }));

    EXPECT_LT(StopAndWait(byEsc), std::chrono::seconds(2)) << "a generous bound; the figure is in the benchmark";
    ExpectStoppedBeforeAnyAnswer("Please stop");
    EXPECT_TRUE(WaitFor([] { return TGeminiRequestThread::ActiveCount() == 0; }));
    EXPECT_EQ(S(Form().CountLabel->text()), byEsc ? "2" : "1") << "a stopped request was sent and counts";
  }
}

TEST_F(StopStreamTest, AStopPressedBeforeTheAnswerAndReleasedAfterItIsDroppedNotTakenAsASend) {
  UseEmulator();
  emulator::TScriptedReply reply = TextReply("done", 5, 1);
  reply.DelayMs = 200;
  Emulator.Enqueue(reply);
  OpenWindow();
  Send("Hello");
  QTest::mousePress(Form().btnSend, Qt::LeftButton);  // "■" is pressed...
  ASSERT_TRUE(WaitForIdle());                          // ...the answer wins...
  Form().memoPrompt->setPlainText("typed while waiting");
  QTest::mouseRelease(Form().btnSend, Qt::LeftButton);  // ...and the release comes after it
  EXPECT_FALSE(Form().RequestPending());
  EXPECT_EQ(Emulator.Requests().size(), 1u);
  EXPECT_EQ(S(Form().memoPrompt->toPlainText()), "typed while waiting");
  EXPECT_TRUE(Dialogs.Messages.empty());
  EXPECT_EQ(Dm().FChatHistory.size(), 2u);
}

TEST_F(StopStreamTest, TheSendButtonStopsAHeldCliRunAndNothingOfItIsLeft) {
  UseEmulator();
  test::TTempDir bin;
  const std::string pidFile = (FDir / "cli.pid").string();
  test::MakeExecutable(bin.Write("gemini", "#!/bin/sh\nsleep 60 &\necho $! > '" + pidFile + "'\nwait\n"));
  test::TPathPrefix path(bin.Path());
  OpenWindow();
  {
    QSignalBlocker noCheck(Form().GeminiCliCheckBox);  // no environment check: the stand-in is the CLI
    Form().GeminiCliCheckBox->setChecked(true);
  }
  Send("Please stop");
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(pidFile) && !ReadText("cli.pid").empty(); }));
  const std::string child = std::string(Trim(ReadText("cli.pid")));

  EXPECT_LT(StopAndWait(false), std::chrono::seconds(2));
  ExpectStoppedBeforeAnyAnswer("Please stop");
  EXPECT_EQ(S(Form().CountLabel->text()), "1");
  EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists("/proc/" + child + "/cmdline") ||
                                   ReadWholeFile("/proc/" + child + "/cmdline").value_or("").empty(); }))
      << "what the CLI started is ended with it";
}

TEST_F(StopStreamTest, AStreamedAnswerEndsAsTheSameAnswerUnstreamed) {
  UseEmulator();
  OpenWindow();
  // Unstreamed first, as the reference.
  Emulator.Enqueue(emulator::WholeTextReply(kPieces, 42, 7));
  SendAndWait("Hello model");
  const std::string referenceBubble = Page().Texts(RecordingChatPage::OpKind::Append).back();
  const TChatHistory referenceHistory = Dm().FChatHistory;
  const std::string referenceFile = Form().FCurrentChatFile;
  const std::string referenceBody = Emulator.Requests().back().Body;
  EXPECT_EQ(Emulator.Requests().back().Query, "key=test-key");

  // The same answer streamed, in a new chat.
  QTest::mouseClick(Form().btnNewChat, Qt::LeftButton);
  Page().Clear();
  Form().chkStreamAnswers->setChecked(true);
  Emulator.Enqueue(emulator::StreamedTextReply(kPieces, 42, 7, 300));
  Send("Hello model");
  ASSERT_TRUE(WaitFor([&] { return Page().ChatHtml().find("answer_msg_") != std::string::npos; }));
  EXPECT_TRUE(Form().RequestPending()) << "the first piece shows while the answer is still coming";
  EXPECT_NE(Page().ChatHtml().find("First"), std::string::npos);
  ASSERT_TRUE(WaitForIdle());

  EXPECT_EQ(Emulator.Requests().back().Query, "key=test-key&alt=sse");
  EXPECT_EQ(Emulator.Requests().back().Body, referenceBody);
  const std::string id = StreamBubbleId(Page().ChatHtml());
  ASSERT_FALSE(id.empty());
  const auto scripts = Page().Texts(RecordingChatPage::OpKind::Script);
  // Growing replacements by id, then the finished bubble, then the user's token footer.
  ASSERT_GE(scripts.size(), 3u);
  EXPECT_EQ(WithoutTimes(scripts[scripts.size() - 2]), WithoutTimes(ReplaceBubbleScript(id, referenceBubble)))
      << "the finished bubble is the unstreamed one, without the id";
  EXPECT_NE(scripts.back().find("footer_msg_"), std::string::npos) << "then the user's token footer";
  EXPECT_EQ(WithoutTimes(Dm().FChatHistory), WithoutTimes(referenceHistory));
  EXPECT_EQ(WithoutTimes(ReadChat(Form().FCurrentChatFile)), WithoutTimes(ReadChat(referenceFile)));
  EXPECT_EQ(S(Form().CountLabel->text()), "2");
  EXPECT_EQ(Status(), ui::kStatusDone);

  CloseWindow();
  const std::string ini = ReadText("config.ini");
  EXPECT_TRUE(ini.ends_with("LastSaveDir=\r\nStreamAnswers=1\r\n")) << ini;
}

TEST_F(StopStreamTest, AStopMidStreamKeepsWhatArrivedAndACutKeepsItOnlyOnThePage) {
  UseEmulator();
  OpenWindow();
  Form().chkStreamAnswers->setChecked(true);

  Emulator.Enqueue(emulator::StreamedTextReply(kPieces, 42, 7, 60000));
  Send("Stop me");
  ASSERT_TRUE(WaitFor([&] { return Page().ChatHtml().find("answer_msg_") != std::string::npos; }));
  EXPECT_LT(StopAndWait(false), std::chrono::seconds(2));
  EXPECT_EQ(Status(), ui::kStatusStopped);
  ASSERT_EQ(Dm().FChatHistory.size(), 2u);
  EXPECT_EQ(Dm().FChatHistory[1].Parts[0].Text, kPieces[0]);
  EXPECT_EQ(ReadChat(Form().FCurrentChatFile), Dm().FChatHistory) << "recorded and saved";
  const auto scripts = Page().Texts(RecordingChatPage::OpKind::Script);
  ASSERT_FALSE(scripts.empty());
  bool stoppedNote = false;
  for (const auto& s : scripts) stoppedNote |= s.find(std::string(" | ") + kStoppedNote) != std::string::npos;
  EXPECT_TRUE(stoppedNote) << "the footer says it was stopped";
  EXPECT_EQ(S(Form().memoPrompt->toPlainText()), "") << "an answer, not a failure";

  // A stream cut in the middle, or ended properly before the service's last event (a proxy
  // closing it): the piece stays visible in its marked bubble, nothing is recorded.
  for (const bool endsProperly : {false, true}) {
    SCOPED_TRACE(endsProperly ? "ends without a stop reason" : "cut inside an event");
    Page().Clear();
    emulator::TScriptedReply cut = emulator::StreamedTextReply(kPieces, 42, 7);
    cut.CloseAfterBytes = static_cast<long long>(("data: " + cut.SseEvents[0] + (endsProperly ? "\r\n\r\n" : "\r\n\r\ndata: {")).size());
    cut.EndAtCut = endsProperly;
    cut.StallMs = 300;  // the first piece shows before the stream ends
    Emulator.Enqueue(cut);
    const TChatHistory before = Dm().FChatHistory;
    Form().memoPrompt->clear();
    Send("Cut me");
    ASSERT_TRUE(WaitForIdle());
    EXPECT_EQ(Dm().FChatHistory, before);
    EXPECT_EQ(S(Form().memoPrompt->toPlainText()), "Cut me");
    const std::string html = Page().ChatHtml();
    const std::string id = StreamBubbleId(html);
    ASSERT_FALSE(id.empty()) << html;
    EXPECT_NE(html.find("First"), std::string::npos);
    EXPECT_NE(html.find("Исключение: "), std::string::npos);
    bool marked = false;
    for (const auto& s : Page().Texts(RecordingChatPage::OpKind::Script))
      marked |= s.find(id) != std::string::npos && s.find("Ошибка отправки") != std::string::npos;
    EXPECT_TRUE(marked) << "the partial bubble is marked";
  }
}

// Closing the window stops a pending request or stream and waits for its transfer to end,
// so that libcurl is not still running while the process takes its libraries down.
TEST_F(StopStreamTest, ClosingTheWindowEndsEveryPendingTransfer) {
  for (const bool stream : {false, true}) {
    SCOPED_TRACE(stream ? "stream" : "whole");
    UseEmulator();
    OpenWindow();
    Form().chkStreamAnswers->setChecked(stream);
    emulator::TScriptedReply held = emulator::StreamedTextReply(kPieces, 42, 7, 60000);
    if (!stream) held = emulator::TScriptedReply{.Body = "{}", .DelayMs = 60000};
    Emulator.Enqueue(held);
    Send("Held");
    if (stream) ASSERT_TRUE(WaitFor([&] { return Page().ChatHtml().find("answer_msg_") != std::string::npos; }));
    else ASSERT_TRUE(Emulator.WaitForRequests(1, std::chrono::seconds(10)));
    const auto closing = Clock::now();
    CloseWindow();
    EXPECT_LT(Clock::now() - closing, std::chrono::seconds(3));
    EXPECT_TRUE(TGeminiRequestThread::StopAll(std::chrono::milliseconds(0))) << "a transfer outlived the window";
    Emulator.ClearRequests();
  }
}

}  // namespace
}  // namespace tarvok
