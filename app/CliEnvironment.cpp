// The "CLI" box's controller: dialogs through Dialogs, the busy state (wait cursor, box
// disabled) while a task runs on a background thread, and steps handed to the UI thread.
#include "app/CliEnvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QThread>
#include <atomic>
#include <thread>

#include "app/Dialogs.h"
#include "cli/CliTexts.h"
#include "core/MainThread.h"

namespace tarvok {

class TCliEnvironmentController::THost : public TCliHost, public std::enable_shared_from_this<THost> {
 public:
  THost(Dialogs& ADialogs, TCliEnvironmentWidgets AWidgets, TMainThread& AMainThread, QObject* AContext,
        TCliSystem ASystem)
      : FDialogs(ADialogs), FWidgets(std::move(AWidgets)), FMainThread(AMainThread),
        FBox(FWidgets.GeminiCliCheckBox), FContext(AContext), FEnvironment(*this, std::move(ASystem)) {}

  TCliEnvironment& Environment() { return FEnvironment; }
  bool IsBusy() const { return FBusy.load() > 0; }

  void ShowMessage(const std::string& AText) override { FDialogs.ShowMessage(QString::fromStdString(AText)); }
  bool AskYesNo(const std::string& AText) override {
    return FDialogs.AskYesNo(QString::fromStdString(AText), QStringLiteral("Подтверждение"), Dialogs::Icon::Question);
  }
  bool IsCliBoxChecked() override { return FBox && FBox->isChecked(); }
  void UntickCliBox() override {
    if (FBox) FBox->setChecked(false);
  }
  void SetApiFieldsEnabled(bool AEnabled) override {
    for (QWidget* w : FWidgets.ApiFields)
      if (w) w->setEnabled(AEnabled);
  }
  void ModelsChanged() override {
    if (FWidgets.ModelsChanged) FWidgets.ModelsChanged();
  }
  void SetStatusText(const std::string& AText) override {
    if (FWidgets.SetStatusText) FWidgets.SetStatusText(QString::fromStdString(AText));
  }

  void RunOnUiThread(const std::function<void()>& AStep) override {
    // The window may be deleted at any moment on the UI thread, so whether it still lives
    // is asked there, where nothing can delete it meanwhile; a window that is gone drops
    // the step. The main-thread link orders what this thread wrote before the step.
    FMainThread.Synchronize([this, &AStep] {
      if (FContext) AStep();
    });
  }

  void RunCliTask(const std::string& AStatus, std::function<void()> ATaskLogic) override {
    SetStatusText(AStatus + "...");
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (FBox) FBox->setEnabled(false);
    ++FBusy;
    std::thread([self = shared_from_this(), task = std::move(ATaskLogic)] {
      try {
        task();
      } catch (...) {
        // A failed task ends silently; the next tick of the box checks again.
      }
      // The cursor is the application's: it comes back even when the window is gone.
      self->FMainThread.Queue([] { QApplication::restoreOverrideCursor(); });
      self->RunOnUiThread([&self] {
        if (self->FBox) {
          self->FBox->setEnabled(true);
          self->SetStatusText(clitexts::kStatusDone);
        }
      });
      --self->FBusy;
    }).detach();
  }

 private:
  Dialogs& FDialogs;
  TCliEnvironmentWidgets FWidgets;
  TMainThread& FMainThread;
  QPointer<QCheckBox> FBox;
  QPointer<QObject> FContext;
  TCliEnvironment FEnvironment;
  std::atomic<int> FBusy{0};
};

TCliEnvironmentController::TCliEnvironmentController(Dialogs& ADialogs, TCliEnvironmentWidgets AWidgets,
                                                     TMainThread& AMainThread, QWidget* AParent, TCliSystem ASystem)
    : QObject(AParent) {
  QCheckBox* box = AWidgets.GeminiCliCheckBox;
  FHost = std::make_shared<THost>(ADialogs, std::move(AWidgets), AMainThread, this, std::move(ASystem));
  if (box) connect(box, &QCheckBox::toggled, this, &TCliEnvironmentController::GeminiCliCheckBoxClick);
}

TCliEnvironmentController::~TCliEnvironmentController() = default;

bool TCliEnvironmentController::IsBusy() const { return FHost->IsBusy(); }

void TCliEnvironmentController::GeminiCliCheckBoxClick() { FHost->Environment().GeminiCliCheckBoxClick(); }
void TCliEnvironmentController::N20Click() { FHost->Environment().N20Click(); }
void TCliEnvironmentController::N18Click() { FHost->Environment().N18Click(); }
void TCliEnvironmentController::N19Click() { FHost->Environment().N19Click(); }
void TCliEnvironmentController::CLI1Click() { FHost->Environment().CLI1Click(); }
void TCliEnvironmentController::gemini1Click() { FHost->Environment().gemini1Click(); }

}  // namespace tarvok
