// The window with the real browser engine: what a send leaves in the chat page.
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QVariant>
#include <QWebEnginePage>
#include <atomic>
#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

#include "app/WebChatPage.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

const std::string kRestarted = "Страница чата перезапущена после сбоя.";

class WebPageWindowTest : public WindowTest {
 protected:
  // Ends the page's renderer and waits for a new one to start and the status to say AStatus.
  void KillRenderer(WebChatPage& APage, const std::string& AStatus) {
    const qint64 renderer = APage.WebPage()->renderProcessPid();
    ASSERT_GT(renderer, 0);
    Form().StatusText->clear();
    ASSERT_EQ(::kill(static_cast<pid_t>(renderer), SIGKILL), 0);
    ASSERT_TRUE(WaitFor([&] { return Status() == AStatus; })) << Status();
    ASSERT_TRUE(QTest::qWaitFor([&] { return APage.WebPage()->renderProcessPid() != renderer; }, 30000));
  }
};

// The script's value once the page has run it (an empty string on failure).
QString Evaluate(WebChatPage& APage, const std::string& AScript) {
  QString value;
  bool done = false;
  APage.EvaluateScript(AScript, [&](const QVariant& AResult) {
    value = AResult.toString();
    done = true;
  });
  if (!QTest::qWaitFor([&] { return done; }, 30000)) ADD_FAILURE() << "the page did not answer: " << AScript;
  return value;
}

TEST_F(WebPageWindowTest, ASentPromptAndItsAnswerAppearInThePage) {
  UseEmulator();
  Emulator.Enqueue(TextReply("**Bold** answer", 42, 7));
  auto page = std::make_unique<WebChatPage>();
  WebChatPage& web = *page;
  OpenWindowWith(std::move(page));
  SendAndWait("Question <b>one</b>");

  const std::string container = "document.getElementById('chat-container')";
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Evaluate(web, container + ".innerHTML").contains("<strong>Bold</strong> answer"); }, 30000));
  EXPECT_TRUE(Evaluate(web, container + ".innerText").contains("Question <b>one</b>")) << "the prompt is shown as text";
  EXPECT_EQ(Evaluate(web, container + ".querySelectorAll('.message-wrapper').length.toString()"), "2");
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Evaluate(web, "document.querySelector('[id^=footer_msg_]').innerText").endsWith(" 42"); }, 30000))
      << "the user bubble's footer carries the prompt tokens the service reported";
}

TEST_F(WebPageWindowTest, AKilledRendererBringsTheChatBackAndLaterAnswersArrive) {
  UseEmulator();
  Emulator.Enqueue(TextReply("first answer", 5, 3));
  Emulator.Enqueue(TextReply("second answer", 5, 3));
  Emulator.Enqueue(TextReply("third answer", 5, 3));
  auto page = std::make_unique<WebChatPage>();
  WebChatPage& web = *page;
  OpenWindowWith(std::move(page));
  SendAndWait("first question");
  const std::string text = "document.getElementById('chat-container') ? "
                           "document.getElementById('chat-container').innerText : ''";
  const std::string bubbles = "String(document.querySelectorAll('.message-wrapper').length)";
  ASSERT_TRUE(QTest::qWaitFor([&] { return Evaluate(web, text).contains("first answer"); }, 30000));

  const auto killRenderer = [&](const std::string& AStatus) { KillRenderer(web, AStatus); };
  killRenderer(kRestarted);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Evaluate(web, bubbles) == "2"; }, 30000));
  EXPECT_TRUE(Evaluate(web, text).contains("first question"));
  EXPECT_TRUE(Evaluate(web, text).contains("first answer"));

  SendAndWait("second question");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Evaluate(web, text).contains("second answer"); }, 30000));
  EXPECT_EQ(Evaluate(web, bubbles), "4");

  // A chat that ends the renderer each time it is drawn must not keep the pane busy for
  // ever: after two rebuilds with nothing new in between the page stays empty, yet works.
  killRenderer(kRestarted);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Evaluate(web, bubbles) == "4"; }, 30000));
  killRenderer(kRestarted);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Evaluate(web, bubbles) == "4"; }, 30000));
  killRenderer("Страница чата снова завершилась сбоем; история не показана.");
  SendAndWait("third question");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Evaluate(web, text).contains("third answer"); }, 30000));
  EXPECT_EQ(Evaluate(web, bubbles), "2") << "only the new exchange, the history was not drawn again";
}

TEST_F(WebPageWindowTest, ARendererLostWhileAnAnswerStreamsInStillShowsTheAnswerAndItsCounts) {
  UseEmulator();
  // The stream holds after its first event until the renderer has been replaced.
  auto release = std::make_shared<std::atomic<bool>>(false);
  struct TRelease {
    std::shared_ptr<std::atomic<bool>> Flag;
    ~TRelease() { *Flag = true; }
  } releaseAtEnd{release};
  emulator::TScriptedReply reply = emulator::StreamedTextReply({"First piece, ", "second piece, ", "the end."}, 42, 7);
  reply.OnEventSent = [release](std::size_t AEvent) {
    while (AEvent == 0 && !*release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  Emulator.Enqueue(reply);
  auto page = std::make_unique<WebChatPage>();
  WebChatPage& web = *page;
  OpenWindowWith(std::move(page));
  Form().chkStreamAnswers->setChecked(true);
  Form().memoPrompt->setPlainText("stream to me");
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);

  const std::string text = "document.getElementById('chat-container') ? "
                           "document.getElementById('chat-container').innerText : ''";
  const std::string bubbles = "String(document.querySelectorAll('.message-wrapper').length)";
  ASSERT_TRUE(QTest::qWaitFor([&] { return Evaluate(web, text).contains("First piece"); }, 30000));
  KillRenderer(web, kRestarted);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Evaluate(web, bubbles) == "1"; }, 30000)) << "the question, from the history";
  ASSERT_TRUE(Form().RequestPending());

  *release = true;
  ASSERT_TRUE(WaitForIdle());
  EXPECT_TRUE(QTest::qWaitFor([&] { return Evaluate(web, text).contains("First piece, second piece, the end."); }, 30000))
      << Evaluate(web, text).toStdString();
  EXPECT_EQ(Evaluate(web, bubbles), "2");
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Evaluate(web, "String(document.querySelector('[id^=footer_msg_]').innerText)").endsWith(" 42"); }, 30000))
      << "the rebuilt question's footer carries the prompt tokens the service reported";
}

}  // namespace
}  // namespace tarvok
