// Find in chat with the real browser engine: the bar over the chat pane, its count, the
// keys that move through the matches, and the focus given back when it closes.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QToolButton>

#include "app/FindBar.h"
#include "app/WebChatPage.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

class FindTest : public WindowTest {
 protected:
  QString Count() { return Form().FindBar->FindCount->text(); }
  bool CountIs(const char* AText) {
    return WaitFor([&] { return Count() == QString::fromUtf8(AText); }, 15000);
  }
};

TEST_F(FindTest, MatchesAreCountedAndWalkedWithEnterAndF3BothWays) {
  UseEmulator();
  Emulator.Enqueue(TextReply("Ёлка alpha, then ALPHA and once more alpha.", 5, 5));
  auto page = std::make_unique<WebChatPage>();
  WebChatPage& web = *page;
  OpenWindowWith(std::move(page));
  QApplication::setActiveWindow(&Form());
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
  SendAndWait("where is alpha?");
  ASSERT_TRUE(WaitFor([&] {
    bool done = false, shown = false;
    web.EvaluateScript("String(document.body ? document.body.innerText.indexOf('once more') >= 0 : false)",
                       [&](const QVariant& AValue) { shown = AValue.toString() == "true"; done = true; });
    WaitFor([&] { return done; });
    return shown;
  }));
  TFindBar& bar = *Form().FindBar;
  Form().memoPrompt->setFocus();
  ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() == Form().memoPrompt; }));

  EXPECT_FALSE(bar.NextShortcut->isEnabled()) << "F3 does nothing while the bar is closed";
  QTest::keyClick(Form().memoPrompt, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_TRUE(bar.isVisible());
  EXPECT_EQ(QApplication::focusWidget(), bar.FindEdit);
  const QRect pane(Form().WebBrowser1->mapTo(&Form(), QPoint(0, 0)), Form().WebBrowser1->size());
  EXPECT_TRUE(pane.contains(QRect(bar.mapTo(&Form(), QPoint(0, 0)), bar.size()))) << "over the chat pane";

  QTest::keyClicks(bar.FindEdit, "alpha");
  ASSERT_TRUE(CountIs("1 из 4")) << Count().toStdString() << ": the question and the answer, any letter case";
  const struct {
    Qt::Key Key;
    Qt::KeyboardModifiers Modifiers;
    const char* Expected;
  } steps[] = {
      {Qt::Key_Return, Qt::NoModifier, "2 из 4"}, {Qt::Key_F3, Qt::NoModifier, "3 из 4"},
      {Qt::Key_Return, Qt::ShiftModifier, "2 из 4"}, {Qt::Key_F3, Qt::ShiftModifier, "1 из 4"},
      {Qt::Key_F3, Qt::ShiftModifier, "4 из 4"}, {Qt::Key_Enter, Qt::NoModifier, "1 из 4"},
  };
  for (const auto& step : steps) {
    QTest::keyClick(bar.FindEdit, step.Key, step.Modifiers);
    EXPECT_TRUE(CountIs(step.Expected)) << step.Expected << " but " << Count().toStdString();
  }

  QTest::keyClicks(bar.FindEdit, "x");
  EXPECT_TRUE(CountIs("0 из 0")) << "alphax is nowhere";
  QTest::keyClick(bar.FindEdit, Qt::Key_Backspace);
  bar.FindEdit->setText(QStringLiteral("ёлка"));  // typed on a Russian layout
  EXPECT_TRUE(CountIs("1 из 1")) << Count().toStdString();

  QTest::keyClick(bar.FindEdit, Qt::Key_Escape);
  EXPECT_FALSE(bar.isVisible());
  EXPECT_EQ(QApplication::focusWidget(), Form().memoPrompt) << "the focus goes back";
  EXPECT_FALSE(bar.NextShortcut->isEnabled());

  // Ctrl+F still goes to the chat search box; the bar opens again from there, with its text.
  QTest::keyClick(Form().memoPrompt, Qt::Key_F, Qt::ControlModifier);
  EXPECT_EQ(QApplication::focusWidget(), Form().Edit1);
  EXPECT_FALSE(bar.isVisible());
  QTest::keyClick(Form().Edit1, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
  ASSERT_TRUE(bar.isVisible());
  EXPECT_EQ(bar.FindEdit->selectedText(), QStringLiteral("ёлка"));
  EXPECT_TRUE(CountIs("1 из 1"));
  QTest::mouseClick(bar.btnFindClose, Qt::LeftButton);
  EXPECT_EQ(QApplication::focusWidget(), Form().Edit1);
}

}  // namespace
}  // namespace tarvok
