// The "CLI" box's controller with real threads: busy state while a task runs, dialogs on
// the UI thread, the flag, and a window that goes away while a task is still running.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPointer>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <fstream>
#include <future>
#include <random>

#include "app/CliEnvironment.h"
#include "cli/CliSetup.h"
#include "cli/CliTexts.h"
#include "core/Platform.h"
#include "tests/app/support/TestDialogs.h"
#include "app/QtMainThread.h"
#include "tests/app/support/WindowFixture.h"

namespace tarvok {
namespace {

// Runs the event loop until APredicate holds; the deadline only guards against a hang.
bool ProcessUntil(const std::function<bool()>& APredicate) {
  QDeadlineTimer deadline(60000);
  while (!APredicate()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

QString Q(const char* AText) { return QString::fromUtf8(AText); }

class CliController : public ::testing::Test {
 protected:
  struct TUiState {
    bool BoxEnabled;
    bool WaitCursor;
    QString Status;
  };

  CliController() {
    std::random_device rd;
    FDir = TempDir() / ("tarvok-cli-app-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(FDir / "profile");
    SetProgramDir(FDir);
    FBox = new QCheckBox("CLI", &FWindow);
    FApiKey = new QLineEdit(&FWindow);
  }
  ~CliController() override {
    delete FController;
    SetProgramDir({});
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }

  // Scripts are not run here (they would install software): a check "prints" ACheckLog.
  void Make(std::string ACheckLog, std::function<void()> AWhileScriptRuns = {}) {
    TCliSystem system;
    system.ScriptDir = FDir;
    system.ProgramDir = FDir;
    system.UserProfile = FDir / "profile";
    auto sentinel = FSentinel;
    system.RunScriptAndWait = [this, sentinel, ACheckLog, AWhileScriptRuns](const std::filesystem::path& AScript,
                                                                          const std::filesystem::path&, int) {
      FScripts.push_back(AScript.filename().string());
      if (AScript.filename().string().starts_with("gemini_check"))
        std::ofstream(AScript.parent_path() / "gemini_check_log.txt", std::ios::binary) << ACheckLog;
      // What the window shows while the task runs, read on the UI thread.
      TestMainThread().Synchronize([this] {
        FDuring.push_back({FBox->isEnabled(),
                           QApplication::overrideCursor() &&
                               QApplication::overrideCursor()->shape() == Qt::WaitCursor,
                           FStatus});
      });
      if (AWhileScriptRuns) AWhileScriptRuns();
      return std::string();
    };
    system.OpenAuthConsole = [this] { ++FConsoles; };
    system.RefreshPath = [] {};
    TCliEnvironmentWidgets widgets;
    widgets.GeminiCliCheckBox = FBox;
    widgets.ApiFields = {FApiKey};
    widgets.SetStatusText = [this](const QString& AText) { FStatus = AText; };
    widgets.ModelsChanged = [this] { ++FModelChanges; };
    FController = new TCliEnvironmentController(FDialogs, std::move(widgets), TestMainThread(), &FWindow, system);
  }
  bool FlagExists() const { return std::filesystem::exists(FDir / "auth_confirmed.flag"); }
  bool Idle() { return ProcessUntil([this] { return !FController->IsBusy(); }); }

  std::filesystem::path FDir;
  QWidget FWindow;
  QCheckBox* FBox;
  QLineEdit* FApiKey;
  TestDialogs FDialogs;
  TCliEnvironmentController* FController = nullptr;
  QString FStatus;
  int FModelChanges = 0, FConsoles = 0;
  std::vector<std::string> FScripts;
  std::vector<TUiState> FDuring;
  std::shared_ptr<int> FSentinel = std::make_shared<int>(0);
};

TEST_F(CliController, CheckRunsInTheBackgroundWithTheWindowMarkedBusy) {
  Make("v22.12.0\r\nGeminiCheck: 0.1.18\r\n");
  FDialogs.YesNoAnswers = {true, true};
  FBox->setChecked(true);  // the user's tick
  ASSERT_TRUE(Idle());
  ASSERT_TRUE(ProcessUntil([] { return QApplication::overrideCursor() == nullptr; }));

  ASSERT_EQ(FDuring.size(), 1u);
  EXPECT_FALSE(FDuring[0].BoxEnabled);
  EXPECT_TRUE(FDuring[0].WaitCursor);
  EXPECT_EQ(FDuring[0].Status, Q(clitexts::kStatusVisualCheck));
  EXPECT_TRUE(FBox->isEnabled());
  EXPECT_EQ(FStatus, Q(clitexts::kStatusDone));
  EXPECT_FALSE(FApiKey->isEnabled());
  EXPECT_EQ(FModelChanges, 1);

  ASSERT_EQ(FDialogs.Questions.size(), 2u);
  EXPECT_EQ(FDialogs.Questions[0].Text, Q(clitexts::kAskAuthorise));
  EXPECT_EQ(FDialogs.Questions[0].IconKind, Dialogs::Icon::Question);
  EXPECT_EQ(FDialogs.Questions[1].Text, Q(clitexts::kAskAuthDone));
  EXPECT_EQ(FConsoles, 1);
  EXPECT_TRUE(FlagExists());
  EXPECT_TRUE(FBox->isChecked());

  // Next tick: fast start, no script.
  FBox->setChecked(false);
  EXPECT_TRUE(FApiKey->isEnabled());
  FBox->setChecked(true);
  EXPECT_FALSE(FController->IsBusy());
  EXPECT_EQ(FStatus, Q(clitexts::kStatusFastStart));
  EXPECT_EQ(FScripts.size(), 1u);
}

TEST_F(CliController, DecliningTheInstallUnticksTheBox) {
  Make("");
  FBox->setChecked(true);
  ASSERT_TRUE(Idle());
  ASSERT_EQ(FDialogs.Questions.size(), 1u);
  EXPECT_EQ(FDialogs.Questions[0].Text, Q(clitexts::kAskInstallMissing));
  EXPECT_FALSE(FBox->isChecked());
  EXPECT_TRUE(FApiKey->isEnabled());
  EXPECT_TRUE(FBox->isEnabled());
}

TEST_F(CliController, UninstallDeletesTheFlagAndUnticksTheBox) {
  Make("");
  std::ofstream(FDir / "auth_confirmed.flag") << "1";
  FBox->setChecked(true);  // fast start
  FDialogs.YesNoAnswers = {true};
  FController->N19Click();
  ASSERT_TRUE(Idle());
  EXPECT_EQ(FScripts, (std::vector<std::string>{"gemini_uninstall" + ScriptExtension()}));
  EXPECT_FALSE(FlagExists());
  EXPECT_FALSE(FBox->isChecked());
  EXPECT_TRUE(FApiKey->isEnabled());
  ASSERT_FALSE(FDialogs.Messages.empty());
  EXPECT_EQ(FDialogs.Messages.back(), Q(clitexts::kMsgUninstallDone));
}

TEST_F(CliController, AWindowClosedDuringATaskDropsItsLateSteps) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> running = false;
  Make("", [&] {
    running = true;
    released.wait();
  });
  FDialogs.YesNoAnswers = {true};
  FController->N18Click();
  ASSERT_TRUE(ProcessUntil([&] { return running.load(); }));
  delete FController;
  FController = nullptr;
  release.set_value();
  // The task ends on its own; its end message and "Готово" have nowhere to go.
  ASSERT_TRUE(ProcessUntil([&] { return FSentinel.use_count() == 1; }));
  EXPECT_TRUE(ProcessUntil([] { return QApplication::overrideCursor() == nullptr; }));
  EXPECT_TRUE(FDialogs.Messages.empty());
  EXPECT_NE(FStatus, Q(clitexts::kStatusDone));
}

// The window goes away at the moment the task hands its next step to the UI thread, again
// and again: the step must never reach a deleted window (a sanitizer build sees any touch).
TEST_F(CliController, AWindowDeletedWhileATaskHandsItAStepIsNeverTouched) {
  for (int round = 0; round < 40; ++round) {
    std::atomic<bool> running = false;
    Make("", [&] { running = true; });
    FDialogs.YesNoAnswers = {true};
    FController->N18Click();
    ASSERT_TRUE(ProcessUntil([&] { return running.load(); }));
    delete FController;
    FController = nullptr;
    ASSERT_TRUE(ProcessUntil([&] { return FSentinel.use_count() == 1; })) << "round " << round;
  }
  EXPECT_TRUE(ProcessUntil([] { return QApplication::overrideCursor() == nullptr; }));
}

}  // namespace
}  // namespace tarvok
