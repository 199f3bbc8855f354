#pragma once
// The "CLI" box and its menu: the window's controller over the CLI environment flows.
// It connects the box's toggled signal to GeminiCliCheckBoxClick itself; the window
// connects the menu items N20, N18, CLI1, gemini1 and N19 to the slots of the same names.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "cli/CliEnvironment.h"

class QCheckBox;

namespace tarvok {

class Dialogs;
class TMainThread;

struct TCliEnvironmentWidgets {
  QCheckBox* GeminiCliCheckBox = nullptr;
  QList<QWidget*> ApiFields;                         // editApiKey, KreaEdit, UpDown1
  std::function<void(const QString&)> SetStatusText; // the status bar line
  std::function<void()> ModelsChanged;               // cbModelsChange
};

class TCliEnvironmentController : public QObject {
  Q_OBJECT
 public:
  // Steps of a background task reach the window through AMainThread, which must outlive
  // every task. ASystem defaults to the real system calls.
  TCliEnvironmentController(Dialogs& ADialogs, TCliEnvironmentWidgets AWidgets, TMainThread& AMainThread,
                            QWidget* AParent, TCliSystem ASystem = DefaultCliSystem());
  ~TCliEnvironmentController() override;

  // True while a check or command runs in the background (the box is disabled meanwhile).
  bool IsBusy() const;

 public slots:
  void GeminiCliCheckBoxClick();
  void N20Click();
  void N18Click();
  void N19Click();
  void CLI1Click();
  void gemini1Click();

 private:
  class THost;
  std::shared_ptr<THost> FHost;
};

}  // namespace tarvok
