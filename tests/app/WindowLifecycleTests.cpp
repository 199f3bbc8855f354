// The window's start, close and layout, offscreen with a recording chat page.
#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "app/QtText.h"
#include "app/UiTexts.h"
#include "core/ApiKeyStats.h"
#include "tests/app/support/InjectedFailures.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

using LifecycleTest = WindowTest;

TEST_F(LifecycleTest, FirstStartInAnEmptyFolderCreatesFilesAndOpensANewChat) {
  OpenWindow();
  EXPECT_TRUE(std::filesystem::is_directory(Path("chats/subchats")));
  EXPECT_TRUE(std::filesystem::exists(Path("config.ini")));
  EXPECT_TRUE(std::filesystem::exists(Path("HistoryNewPartPrompt.txt")));
  EXPECT_EQ(ReadText("Models.txt"), "gemini-2.5-pro\r\ngemini-2.5-flash\r\ngemini-2.5-flash-lite\r\n");
  EXPECT_TRUE(std::filesystem::exists(Path("Keys.txt")));
  EXPECT_EQ(ReadText("Keys.txt"), "");

  ASSERT_EQ(Form().ListBox2->count(), 1);
  EXPECT_EQ(S(Form().ListBox2->item(0)->text()), ui::kNewChatEntry);
  EXPECT_EQ(Form().ListBox2->currentRow(), 0);
  EXPECT_EQ(Status(), ui::kStatusNewChat);
  EXPECT_EQ(Form().CountLabel->text(), "-1");
  EXPECT_EQ(Form().TimeOutEdit->text(), "8");
  EXPECT_EQ(Dm().TimeOut1, 480);
  EXPECT_EQ(Form().cbModels->currentText(), "gemini-2.5-pro");
  EXPECT_EQ(Form().MaxLimKont->text(), "124000");
  EXPECT_EQ(Form().ContextChatTokensLabel->text(), "0");
  EXPECT_TRUE(Form().TimeoutLabel->isHidden());
  EXPECT_FALSE(Form().Timer1->isActive());
  EXPECT_TRUE(Page().HasTitleHandler());
  EXPECT_TRUE(Dialogs.Messages.empty());
  EXPECT_TRUE(Dialogs.Errors.empty());
}

TEST_F(LifecycleTest, AReadOnlyProgramFolderStillStartsAndSaysSoOnce) {
  TReadOnlyFolder readOnly(FDir);
  if (!readOnly.Ok()) GTEST_SKIP() << "no folder can be made read-only here";
  OpenWindow();
  ASSERT_EQ(Form().ListBox2->count(), 1);
  EXPECT_EQ(S(Form().ListBox2->item(0)->text()), ui::kNewChatEntry);
  EXPECT_EQ(Form().ListBox2->currentRow(), 0);
  EXPECT_EQ(Status(), ui::kStatusNewChat);
  EXPECT_EQ(Form().CountLabel->text(), "-1");
  EXPECT_EQ(Form().ContextChatTokensLabel->text(), "0");
  EXPECT_EQ(Form().cbModels->count(), 3);
  EXPECT_EQ(Dm().MaxContextTokens, 124000);
  EXPECT_TRUE(Page().HasTitleHandler()) << "the save-code command has its handler";
  ASSERT_EQ(Dialogs.Messages.size(), 1u);
  EXPECT_TRUE(Dialogs.Messages[0].startsWith(Q(ui::kMsgProgramFolderNotWritable))) << S(Dialogs.Messages[0]);
  EXPECT_TRUE(Dialogs.Errors.empty());
  EXPECT_FALSE(std::filesystem::exists(Path("chats")));
}

TEST_F(LifecycleTest, ControlsCarryTheirNamesCaptionAndHints) {
  OpenWindow();
  EXPECT_EQ(Form().windowTitle(), "Tarvok - Beta v2");
  for (const char* name : {"memoPrompt", "btnSend", "cbModels", "editApiKey", "ListBox2", "GeminiListBox", "ListBox1",
                           "btnNewChat", "Edit1", "KreaEdit", "TimeOutEdit", "MaxLimKont", "UpDown1", "UpDown2",
                           "Panel2", "Panel3", "RightPanel", "lblFileLimits1", "btnAddFile1", "btnClearFiles1",
                           "chkEnableWebSearch", "GeminiCliCheckBox", "chkStreamAnswers", "TimeoutLabel", "CountLabel", "DownBut",
                           "ContextChatTokensLabel", "statusBar", "Timer1", "TokenUpdateTimer"})
    EXPECT_NE(Form().findChild<QObject*>(name), nullptr) << name;
  EXPECT_EQ(S(Form().memoPrompt->toolTip()), ui::kHintPrompt);
  EXPECT_EQ(Form().btnSend->toolTip(), "Ctrl+Enter");
  EXPECT_EQ(S(Form().btnSend->text()), ui::kCaptionSend);
  EXPECT_EQ(S(Form().chkStreamAnswers->text()), ui::kCaptionStream);
  EXPECT_FALSE(Form().chkStreamAnswers->isChecked()) << "off unless config.ini says otherwise";
  EXPECT_EQ(Form().editApiKey->toolTip(), "Enter Save");
  EXPECT_EQ(S(Form().lblFileLimits1->text()), "Файлы (0/16)") << "the design text until the first update";
}

TEST_F(LifecycleTest, SavedKeyAndModelShowTheirCountAtStart) {
  WriteText("Keys.txt", "key-one\r\nkey-two\r\n");
  WriteText("Models.txt", "model-x\r\n");
  IncrementRequestCount("key-one", "model-x");
  IncrementRequestCount("key-one", "model-x");
  OpenWindow();
  EXPECT_EQ(Form().editApiKey->currentText(), "key-one");
  EXPECT_EQ(Form().cbModels->currentText(), "model-x");
  EXPECT_EQ(Form().CountLabel->text(), "2");
}

TEST_F(LifecycleTest, ClosingWithAnEmptyNewChatWritesSettingsButNoChatFile) {
  OpenWindow();
  std::filesystem::remove(Path("config.ini"));
  CloseWindow();
  EXPECT_TRUE(std::filesystem::exists(Path("config.ini")));
  EXPECT_TRUE(ChatFiles().empty());
}

TEST_F(LifecycleTest, PromptBoxKeepsItsPlaceAndPanel3AndFileListFollowIt) {
  OpenWindow();
  Form().resize(1165, 800);
  QCoreApplication::processEvents();
  const int leftBefore = Form().memoPrompt->x();
  Form().resize(1700, 800);
  QCoreApplication::processEvents();
  EXPECT_GT(Form().memoPrompt->x(), leftBefore);
  EXPECT_EQ(Form().Panel3->x(), Form().memoPrompt->x());
  EXPECT_EQ(Form().ListBox1->x(), Form().memoPrompt->x() + Form().memoPrompt->width() + 5);
  EXPECT_GE(Form().Panel3->y(), Form().memoPrompt->y() + Form().memoPrompt->height());
}

TEST_F(LifecycleTest, ElapsedTimeShowsMinutesAndSeconds) {
  OpenWindow();
  Form().StartElapsedTime();
  Form().Timer1->stop();
  EXPECT_EQ(Form().TimeoutLabel->text(), "00:00");
  EXPECT_FALSE(Form().TimeoutLabel->isHidden());
  for (int i = 0; i < 7; ++i) Form().Timer1Timer();
  EXPECT_EQ(Form().TimeoutLabel->text(), "00:07");
  for (int i = 7; i < 65; ++i) Form().Timer1Timer();
  EXPECT_EQ(Form().TimeoutLabel->text(), "01:05");
  for (int i = 65; i < 7500; ++i) Form().Timer1Timer();
  EXPECT_EQ(Form().TimeoutLabel->text(), "125:00");
  Form().StopElapsedTime();
  EXPECT_TRUE(Form().TimeoutLabel->isHidden());
}

TEST_F(LifecycleTest, AnUncaughtErrorOfACommandIsShownByTheGeneralReport) {
  OpenWindow();
  Form().RunCommand([] { throw std::runtime_error("disk full"); });
  ASSERT_EQ(Dialogs.Errors.size(), 1u);
  EXPECT_EQ(Dialogs.Errors[0], "disk full");
}

}  // namespace
}  // namespace tarvok
