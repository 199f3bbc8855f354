// The window on small screens: every control of the input panel lies whole inside the
// window, the window opens inside the screen's free area, and the splitters are remembered.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>

#include "app/IniFile.h"
#include "app/UpDown.h"
#include "app/WindowPlacement.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

using LayoutTest = WindowTest;

// The controls a user needs from the input panel and the status line.
std::vector<QWidget*> InputControls(TForm1& AForm) {
  return {AForm.ContextChatTokensLabel, AForm.MaxLimKont, AForm.KreaEdit, AForm.UpDown1, AForm.TimeOutEdit,
          AForm.UpDown2, AForm.memoPrompt, AForm.lblFileLimits1, AForm.btnAddFile1, AForm.btnClearFiles1,
          AForm.Label1, AForm.cbModels, AForm.Label6, AForm.editApiKey, AForm.btnSend, AForm.chkEnableWebSearch,
          AForm.GeminiCliCheckBox, AForm.chkStreamAnswers, AForm.TimeoutLabel, AForm.Label8, AForm.CountLabel,
          AForm.btnSettings, AForm.ListBox1, AForm.DownBut, AForm.StatusText};
}

TEST_F(LayoutTest, EveryInputControlLiesWholeInsideTheWindowOnSmallScreens) {
  OpenWindow();
  Form().TimeoutLabel->show();  // shown while a request runs: it needs its place too
  Form().CountLabel->setText("12345");
  const struct {
    int Width, Height;
    bool Wrapped;
  } sizes[] = {{1024, 768, true}, {1280, 720, true}, {1920, 1080, false}};
  const QSize minimum = Form().minimumSizeHint().expandedTo(Form().minimumSize());
  EXPECT_LE(minimum.width() + kAssumedFrame.left() + kAssumedFrame.right(), 1024) << "the minimum fits 1024×768";
  EXPECT_LE(minimum.height() + kAssumedFrame.top() + kAssumedFrame.bottom(), 768);
  for (const auto& size : sizes) {
    // The client area of a window whose frame fills the rest of the screen.
    Form().resize(size.Width - kAssumedFrame.left() - kAssumedFrame.right(),
                  size.Height - kAssumedFrame.top() - kAssumedFrame.bottom());
    QCoreApplication::processEvents();
    const QRect window = Form().rect();
    ASSERT_EQ(window.size(), QSize(size.Width - 16, size.Height - 39)) << size.Width;
    for (QWidget* control : InputControls(Form())) {
      const QRect at(control->mapTo(&Form(), QPoint(0, 0)), control->size());
      EXPECT_TRUE(window.contains(at)) << size.Width << "x" << size.Height << ": " << control->objectName().toStdString()
                                       << " at " << at.x() << "," << at.y() << " " << at.width() << "x" << at.height();
      EXPECT_TRUE(control->isVisibleTo(&Form())) << control->objectName().toStdString();
      // Not squeezed: a label shows its whole text, a box its least width.
      const int least = control->minimumWidth() > 0 ? control->minimumWidth() : control->minimumSizeHint().width();
      if (control != Form().ListBox1) EXPECT_GE(control->width(), least) << control->objectName().toStdString();
      // Nothing above it in the panel hides it: the rows do not overlap the prompt box.
      if (control->parentWidget() != Form().Panel2 && control != Form().memoPrompt && control != Form().StatusText) {
        const QRect memo(Form().memoPrompt->mapTo(&Form(), QPoint(0, 0)), Form().memoPrompt->size());
        EXPECT_FALSE(memo.intersects(at)) << control->objectName().toStdString();
      }
    }
    EXPECT_EQ(Form().Panel3Extra->y() >= Form().Panel3Main->y() + Form().Panel3Main->height(), size.Wrapped)
        << size.Width << ": the check boxes and the limit go to a second row only when one row does not fit";
    EXPECT_GE(Form().memoPrompt->height(), 40) << "the prompt box keeps a few lines";
  }
}

TEST(WindowPlacementTest, TheWindowOpensInsideTheFreeAreaOfTheScreen) {
  const QSize design(1165, 815);
  const QSize minimum(900, 600);
  const struct {
    const char* Name;
    QRect Area;
    QSize Expected;
  } cases[] = {
      {"1280×800 less a task bar", QRect(0, 0, 1280, 760), QSize(1165, 760 - 39)},
      {"1024×768", QRect(0, 0, 1024, 768), QSize(1024 - 16, 768 - 39)},
      {"a large screen keeps the design size", QRect(0, 0, 1920, 1040), design},
      {"a second screen to the right, task bar on top", QRect(1920, 40, 1366, 728), QSize(1165, 728 - 39)},
      {"smaller than the minimum", QRect(0, 0, 800, 600), minimum},
  };
  for (const auto& c : cases) {
    const QRect client = FitClientRect(c.Area, design, minimum, kAssumedFrame);
    EXPECT_EQ(client.size(), c.Expected) << c.Name;
    const QRect outer = client.marginsAdded(kAssumedFrame);
    EXPECT_GE(outer.left(), c.Area.left()) << c.Name;
    EXPECT_GE(outer.top(), c.Area.top()) << c.Name;
    if (c.Expected != minimum) {
      EXPECT_TRUE(c.Area.contains(outer)) << c.Name;
      EXPECT_LE(std::abs((outer.left() - c.Area.left()) - (c.Area.right() - outer.right())), 1) << c.Name << ": centred";
    }
  }
}

TEST_F(LayoutTest, SplitterPositionsAreKeptInConfigIni) {
  OpenWindow();
  Form().resize(1165, 815);
  QCoreApplication::processEvents();
  Form().Splitter1->setSizes({240, 700, 180});
  Form().Splitter3->setSizes({560, 200});
  // As a drag of a handle tells it (setSizes alone is no user's move).
  emit Form().Splitter1->splitterMoved(240, 1);
  QCoreApplication::processEvents();
  const QList<int> chatList = Form().Splitter1->sizes();
  const QList<int> input = Form().Splitter3->sizes();
  CloseWindow();
  TIniFile ini(Path("config.ini"));
  EXPECT_NE(ini.ReadString("Settings", "Splitter1Sizes", ""), "");
  const std::string text = ReadText("config.ini");
  EXPECT_LT(text.find("StreamAnswers="), text.find("Splitter1Sizes=")) << "after the keys written before";

  OpenWindow();
  Form().resize(1165, 815);
  QCoreApplication::processEvents();
  EXPECT_EQ(Form().Splitter1->sizes(), chatList);
  EXPECT_EQ(Form().Splitter3->sizes(), input);
  CloseWindow();

  // Sizes that do not fit the splitter leave it as built.
  for (const char* bad : {"1,2", "a,b,c", "-5,10,10", "0,0,0"}) {
    WriteText("config.ini", std::string("[Settings]\r\nSplitter1Sizes=") + bad + "\r\n");
    OpenWindow();
    Form().resize(1165, 815);
    QCoreApplication::processEvents();
    EXPECT_GT(Form().Splitter1->sizes().value(0), 100) << bad;
    EXPECT_GT(Form().Splitter1->sizes().value(2), 100) << bad;
    CloseWindow();
  }
}

}  // namespace
}  // namespace tarvok
