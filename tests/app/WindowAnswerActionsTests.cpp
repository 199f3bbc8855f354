// The buttons the chat page puts on the bubbles, with the real browser engine and real
// clicks: copy an answer's Markdown, answer the last question again, take it back for editing.
#include <QClipboard>
#include <QGuiApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTest>
#include <QVariant>

#include "app/QtText.h"
#include "app/WebChatPage.h"
#include "app/WindowTexts.h"
#include "storage/ChatFile.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

const std::string kBubbles = "String(document.querySelectorAll('#chat-container > .message-wrapper').length)";
const std::string kText = "document.getElementById('chat-container') ? document.getElementById('chat-container').innerText : ''";

class AnswerActionsTest : public WindowTest {
 protected:
  void OpenWithEngine() {
    UseEmulator();
    auto page = std::make_unique<WebChatPage>();
    FWeb = page.get();
    OpenWindowWith(std::move(page));
    Form().resize(1165, 815);
  }
  QString Eval(const std::string& AScript) {
    QString value;
    bool done = false;
    FWeb->EvaluateScript(AScript, [&](const QVariant& AValue) {
      value = AValue.toString();
      done = true;
    });
    if (!WaitFor([&] { return done; })) ADD_FAILURE() << "the page did not answer: " << AScript;
    return value;
  }
  bool PageHas(const std::string& AScript, const QString& AValue) {
    return WaitFor([&] { return Eval(AScript) == AValue; });
  }
  // A real click of the user's on the middle of the element, brought into view first.
  void UserClick(const std::string& ASelector) {
    ASSERT_TRUE(PageHas("String(!!document.querySelector('" + ASelector + "') && "
                        "document.querySelector('" + ASelector + "').offsetWidth > 0)", "true"))
        << ASelector << " is not shown";
    const QStringList at = Eval("var e = document.querySelector('" + ASelector + "'); e.scrollIntoView({block: 'center'});"
                                "var r = e.getBoundingClientRect(); Math.round(r.left + r.width / 2) + ',' + "
                                "Math.round(r.top + r.height / 2)").split(',');
    ASSERT_EQ(at.size(), 2);
    QWidget* view = Form().WebBrowser1;
    ASSERT_TRUE(WaitFor([&] { return view->focusProxy() != nullptr; }));
    QTest::mouseClick(view->focusProxy(), Qt::LeftButton, {}, QPoint(at[0].toInt(), at[1].toInt()));
  }
  WebChatPage* FWeb = nullptr;
};

TEST_F(AnswerActionsTest, CopyPutsTheAnswersMarkdownOnTheClipboardOnlyForTheUsersClick) {
  const std::string answer = "**Bold** answer with `code` and\n\n- a list";
  Emulator.Enqueue(TextReply(answer, 5, 5));
  OpenWithEngine();
  SendAndWait("copy me");
  QGuiApplication::clipboard()->setText("before");
  ASSERT_TRUE(PageHas("String(!!document.querySelector('.answer-copy-btn'))", "true"));
  EXPECT_EQ(Eval("document.querySelector('.answer-copy-btn').title"), QStringLiteral("Копировать ответ"));
  EXPECT_EQ(Eval("String(document.querySelectorAll('.user-message .answer-copy-btn').length)"), "0");
  // A script's clicks are not the user's: the page's own "edit" click takes nothing back.
  // The host hears the page in order, so once the user's copy has arrived, so would have it.
  Eval("document.querySelector('.edit-question-btn').click(); document.querySelector('.answer-copy-btn').click(); 1");

  UserClick(".answer-copy-btn");
  EXPECT_TRUE(WaitFor([&] { return QGuiApplication::clipboard()->text() == Q(answer); }))
      << QGuiApplication::clipboard()->text().toStdString();
  EXPECT_EQ(Dm().FChatHistory.size(), 2u) << "the script's edit click did nothing";
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "");
  EXPECT_EQ(Status(), ui::kStatusAnswerCopied);
}

TEST_F(AnswerActionsTest, AnswerAgainReplacesTheLastAnswerAndAFailureLeavesTheChatAsItWas) {
  Emulator.Enqueue(TextReply("first answer", 5, 5));
  Emulator.Enqueue(TextReply("second answer", 5, 5));
  Emulator.Enqueue(TextReply("third answer", 5, 5));
  OpenWithEngine();
  SendAndWait("question one");
  SendAndWait("question two");
  ASSERT_TRUE(PageHas(kBubbles, "4"));
  EXPECT_EQ(Eval("String(document.querySelectorAll('.answer-again-btn').length)"), "2");
  EXPECT_EQ(Eval("String(Array.prototype.filter.call(document.querySelectorAll('.answer-again-btn, .edit-question-btn'),"
                 " function (b) { return b.offsetWidth > 0; }).length)"),
            "2")
      << "only the last exchange shows them";
  EXPECT_EQ(Eval("document.querySelector('.last-exchange .answer-again-btn').title"), QStringLiteral("Повторить ответ"));
  Form().memoPrompt->setPlainText("typed meanwhile");

  UserClick(".last-exchange .answer-again-btn");
  ASSERT_TRUE(WaitFor([&] { return Emulator.Requests().size() == 3; }));
  ASSERT_TRUE(WaitForIdle());
  EXPECT_EQ(Emulator.Requests()[2].Body, Emulator.Requests()[1].Body) << "the same question, by the same route";
  const TChatHistory& history = Dm().FChatHistory;
  ASSERT_EQ(history.size(), 4u);
  EXPECT_EQ(history[3].Parts.at(0).Text, "third answer");
  EXPECT_EQ(history[2].Parts.at(0).Text, "question two");
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "typed meanwhile") << "the boxes are left alone";
  ASSERT_TRUE(PageHas(kBubbles, "4"));
  EXPECT_FALSE(Eval(kText).contains("second answer"));
  EXPECT_TRUE(Eval(kText).contains("third answer"));
  TChatHistory saved;
  std::int32_t tokens = 0;
  ASSERT_TRUE(ReadChatFile(Form().FCurrentChatFile, saved, tokens));
  EXPECT_EQ(saved, history) << "saved at once";

  // A failed resend: the chat is as before the click, the question back in the box.
  emulator::TScriptedReply failure;
  failure.Status = 500;
  failure.Body = R"({"error":{"code":500,"message":"boom"}})";
  Emulator.Enqueue(failure);
  Form().memoPrompt->clear();
  const TChatHistory before = history;
  UserClick(".last-exchange .answer-again-btn");
  ASSERT_TRUE(WaitFor([&] { return Emulator.Requests().size() == 4; }));
  ASSERT_TRUE(WaitForIdle());
  EXPECT_EQ(Dm().FChatHistory, before);
  ASSERT_TRUE(ReadChatFile(Form().FCurrentChatFile, saved, tokens));
  EXPECT_EQ(saved, before);
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "question two");
  EXPECT_TRUE(PageHas("String(document.querySelectorAll('.message-wrapper[data-turn]').length)", "4"));
  EXPECT_TRUE(Eval(kText).contains("third answer"));
  EXPECT_EQ(Eval("String(document.querySelectorAll('.last-exchange').length)"), "2") << "and its buttons work again";
}

TEST_F(AnswerActionsTest, EditTakesTheLastExchangeBackIntoTheBoxesWithItsFiles) {
  Emulator.Enqueue(TextReply("first answer", 5, 5));
  Emulator.Enqueue(TextReply("second answer", 5, 5));
  OpenWithEngine();
  SendAndWait("question one");
  const std::string note = MakeFile("note.txt", 10, 'n');
  Form().FlbFiles1 = {note};
  SendAndWait("question two with a typo");
  ASSERT_TRUE(PageHas(kBubbles, "4"));
  std::filesystem::remove(note);  // gone since: its stored copy comes back instead

  UserClick(".last-exchange .edit-question-btn");
  ASSERT_TRUE(WaitFor([&] { return Dm().FChatHistory.size() == 2; }));
  EXPECT_EQ(Form().memoPrompt->toPlainText(), "question two with a typo");
  ASSERT_EQ(Form().FlbFiles1.size(), 1u);
  EXPECT_EQ(std::filesystem::path(Form().FlbFiles1[0]), Path("attachments") / "note.txt");
  EXPECT_EQ(ReadText("attachments/note.txt"), std::string(10, 'n'));
  EXPECT_EQ(Form().ListBox1->count(), 1);
  ASSERT_TRUE(PageHas(kBubbles, "2"));
  EXPECT_FALSE(Eval(kText).contains("second answer"));
  TChatHistory saved;
  std::int32_t tokens = 0;
  ASSERT_TRUE(ReadChatFile(Form().FCurrentChatFile, saved, tokens));
  EXPECT_EQ(saved.size(), 2u) << "saved at once";
  EXPECT_TRUE(PageHas("String(document.querySelectorAll('.last-exchange').length)", "2"))
      << "the exchange before is the last one now";

  // The only exchange left, taken back: the chat file is emptied too, not left holding it.
  UserClick(".last-exchange .edit-question-btn");
  ASSERT_TRUE(WaitFor([&] { return Dm().FChatHistory.empty(); }));
  ASSERT_TRUE(ReadChatFile(Form().FCurrentChatFile, saved, tokens));
  EXPECT_TRUE(saved.empty());
  EXPECT_TRUE(Form().memoPrompt->toPlainText().startsWith("question one")) << Form().memoPrompt->toPlainText().toStdString();
}

using AnswerActionsRulesTest = WindowTest;

TEST_F(AnswerActionsRulesTest, OnlyTheLastExchangeAndOnlyWhileNothingIsPending) {
  UseEmulator();
  Emulator.Enqueue(TextReply("first answer", 5, 5));
  Emulator.Enqueue(TextReply("second answer", 5, 5));
  OpenWindow();
  SendAndWait("one");
  SendAndWait("two");
  ASSERT_EQ(Dm().FChatHistory.size(), 4u);
  ASSERT_FALSE(Page().Decorations.empty()) << "the bubbles learn their turns";
  const TChatHistory before = Dm().FChatHistory;
  const struct {
    const char* Action;
    int Turn;
  } refused[] = {{"again", 1}, {"edit", 0}, {"again", 2}, {"edit", 3}, {"again", 4}, {"edit", -1}, {"again", 99}};
  for (const auto& c : refused) {
    Page().FireBubbleAction(c.Action, c.Turn);
    EXPECT_EQ(Status(), ui::kStatusNotLastExchange) << c.Action << " " << c.Turn;
    EXPECT_EQ(Dm().FChatHistory, before) << c.Action << " " << c.Turn;
  }
  EXPECT_EQ(Emulator.Requests().size(), 2u);

  // While an answer is pending nothing is asked again or taken back.
  emulator::TScriptedReply slow = TextReply("late", 1, 1);
  slow.DelayMs = 1500;
  Emulator.Enqueue(slow);
  Form().memoPrompt->setPlainText("three");
  QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_TRUE(Form().RequestPending());
  Page().FireBubbleAction("again", 3);
  EXPECT_EQ(Status(), ui::kStatusWaitForAnswer);
  Page().FireBubbleAction("edit", 2);
  EXPECT_EQ(Status(), ui::kStatusWaitForAnswer);
  ASSERT_TRUE(WaitForIdle());
  EXPECT_EQ(Emulator.Requests().size(), 3u);
  EXPECT_EQ(Dm().FChatHistory.size(), 6u);
}

}  // namespace
}  // namespace tarvok
