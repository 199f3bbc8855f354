// The window's start, close and layout, offscreen with a recording chat page.
#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "app/QtText.h"
#include "app/SingleInstance.h"
#include "app/UiTexts.h"
#include "core/ApiKeyStats.h"
#include "core/ChildEnvironment.h"
#include "core/DataFolder.h"
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

std::filesystem::path FolderOf(const QTemporaryDir& ADir) { return std::filesystem::path(ADir.path().toStdString()); }

// Started with posix_spawn rather than QProcess: a thread checker cannot follow the clone
// Qt makes from inside its own library.
pid_t StartProgram(const std::string& AProgram, const std::string& AErrors = "/dev/null") {
  std::vector<std::string> env;
  for (std::string& entry : ChildEnvironmentEntries())
    if (!entry.starts_with("QT_QPA_PLATFORM=") && !entry.starts_with("QTWEBENGINE_CHROMIUM_FLAGS="))
      env.push_back(std::move(entry));
  env.push_back("QT_QPA_PLATFORM=offscreen");
  env.push_back("QTWEBENGINE_CHROMIUM_FLAGS=--no-sandbox --disable-gpu");
  std::string program = AProgram;
  char* argv[] = {program.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, AErrors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, EnvironmentArray(env).data());
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

// Waits, with this thread's events running, until the program ends; its wait status, or
// -1 when it has not ended within a minute (it is then killed).
int WaitForProgram(pid_t APid) {
  int status = 0;
  const bool ended = QTest::qWaitFor([&] { return ::waitpid(APid, &status, WNOHANG) == APid; }, 60000);
  if (ended) return status;
  ::kill(APid, SIGKILL);
  ::waitpid(APid, &status, 0);
  return -1;
}

TEST(SingleInstance, ASecondStartOnTheFolderBringsTheRunningWindowForwardAndEnds) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::filesystem::path folder = FolderOf(dir);
  TSingleInstance running(folder);
  ASSERT_EQ(running.Start(), TSingleInstance::TStart::First);
  int asked = 0;
  running.OnActivate = [&asked] { ++asked; };

  // The real program, started from the same folder (its data folder is its own folder).
  std::filesystem::copy_file(TARVOK_EXE, folder / "tarvok");
  QTemporaryDir logs;
  const std::string errors = (FolderOf(logs) / "errors.txt").string();
  const pid_t second = StartProgram((folder / "tarvok").string(), errors);
  ASSERT_GT(second, 0);
  const int status = WaitForProgram(second);
  ASSERT_NE(status, -1) << "the second program ends by itself";
  std::ifstream errorText(errors);
  const std::string said((std::istreambuf_iterator<char>(errorText)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(WIFEXITED(status)) << said;
  EXPECT_EQ(WEXITSTATUS(status), 0) << said;
  EXPECT_EQ(asked, 1) << "the running window was asked to the front";
  EXPECT_FALSE(std::filesystem::exists(folder / "chats")) << "the second program wrote nothing";
  EXPECT_FALSE(std::filesystem::exists(folder / "config.ini"));
}

TEST(SingleInstance, AFolderWhoseProgramDoesNotAnswerIsRefusedAndADeadProgramsLockIsTakenOver) {
  QTemporaryDir a, b;
  ASSERT_TRUE(a.isValid() && b.isValid());
  const QString lockPath = QString::fromStdString(TSingleInstance::LockPath(FolderOf(a)).string());
  {
    // Held by a program that has no window to hand over to (still starting, or hung).
    QLockFile held(lockPath);
    ASSERT_TRUE(held.tryLock(0));
    TSingleInstance second(FolderOf(a));
    EXPECT_EQ(second.Start(), TSingleInstance::TStart::Refused);
    TSingleInstance other(FolderOf(b));
    EXPECT_EQ(other.Start(), TSingleInstance::TStart::First) << "another folder belongs to another program";
  }
  ASSERT_FALSE(QFile::exists(lockPath));

  // A program that ended without letting go (a crash, a kill): its lock names a process
  // that is gone.
  QByteArray lock;
  {
    QLockFile crashed(lockPath);
    ASSERT_TRUE(crashed.tryLock(0));
    QFile file(lockPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    lock = file.readAll();
  }
  const pid_t deadPid = StartProgram("/bin/true");
  ASSERT_GT(deadPid, 0);
  ASSERT_NE(WaitForProgram(deadPid), -1);
  const qsizetype lineEnd = lock.indexOf('\n');
  ASSERT_GT(lineEnd, 0);
  lock.replace(0, lineEnd, QByteArray::number(deadPid));
  {
    QFile file(lockPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(lock);
  }
  TSingleInstance next(FolderOf(a));
  EXPECT_EQ(next.Start(), TSingleInstance::TStart::First);
}

TEST(DataFolderOnDisk, AProgramFolderHoldingOurFilesStaysEvenWhenNoWriteGoesThrough) {
  QTemporaryDir withData, empty, root;
  ASSERT_TRUE(withData.isValid() && empty.isValid() && root.isValid());
  std::ofstream(FolderOf(withData) / "config.ini") << "[Settings]\r\n";
  std::filesystem::create_directory(FolderOf(withData) / "chats");
  TReadOnlyFolder full(FolderOf(withData)), readOnly(FolderOf(empty));
  if (!full.Ok() || !readOnly.Ok()) GTEST_SKIP() << "no folder can be made read-only here";
  ASSERT_FALSE(FolderWritable(FolderOf(withData)));
  EXPECT_EQ(DataDirFor(FolderOf(withData), FolderOf(root)), FolderOf(withData)) << "its chats stay in view";
  EXPECT_EQ(DataDirFor(FolderOf(empty), FolderOf(root)), FolderOf(root) / "tarvok");
}

}  // namespace
}  // namespace tarvok
