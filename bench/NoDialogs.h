#pragma once
// A window under measurement asks nothing: every question is answered "no", every
// message is dropped.

#include <QString>
#include <QStringList>

#include "app/Dialogs.h"

namespace tarvok {

class NoDialogs : public Dialogs {
 public:
  void ShowMessage(const QString&) override {}
  void ShowError(const QString&) override {}
  bool AskYesNo(const QString&, const QString&, Icon) override { return false; }
  bool InputQuery(const QString&, const QString&, QString&) override { return false; }
  QStringList OpenFiles(const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFile(const QString&, const QString&, const QString&, const QString&, const QString&, QString*) override {
    return {};
  }
  bool EditSettings(TSettingsValues&, const std::function<QString(const TSettingsValues&)>&) override { return false; }
};

}  // namespace tarvok
