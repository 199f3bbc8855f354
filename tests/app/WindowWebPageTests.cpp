// The window with the real browser engine: what a send leaves in the chat page.
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>
#include <QVariant>
#include <QWebEnginePage>
#include <csignal>

#include "app/WebChatPage.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

using WebPageWindowTest = WindowTest;

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
  const std::string kRestarted = "Страница чата перезапущена после сбоя.";
  auto page = std::make_unique<WebChatPage>();
  WebChatPage& web = *page;
  OpenWindowWith(std::move(page));
  SendAndWait("first question");
  const std::string text = "document.getElementById('chat-container') ? "
                           "document.getElementById('chat-container').innerText : ''";
  const std::string bubbles = "String(document.querySelectorAll('.message-wrapper').length)";
  ASSERT_TRUE(QTest::qWaitFor([&] { return Evaluate(web, text).contains("first answer"); }, 30000));

  // Ends the renderer and waits for the page to start a new one and say so.
  const auto killRenderer = [&](const std::string& AStatus) {
    const qint64 renderer = web.WebPage()->renderProcessPid();
    ASSERT_GT(renderer, 0);
    Form().StatusText->clear();
    ASSERT_EQ(::kill(static_cast<pid_t>(renderer), SIGKILL), 0);
    ASSERT_TRUE(WaitFor([&] { return Status() == AStatus; })) << Status();
    ASSERT_TRUE(QTest::qWaitFor([&] { return web.WebPage()->renderProcessPid() != renderer; }, 30000));
  };
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

}  // namespace
}  // namespace tarvok
