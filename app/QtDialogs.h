#pragma once
// The real Dialogs: Qt message boxes with Russian "Да"/"Нет" buttons, input box,
// open and save file dialogs.

#include <QString>

#include "app/Dialogs.h"

class QWidget;

namespace tarvok {

// "Name|*.a;*.b|Other|*.*" (name and pattern pairs) in Qt's form "Name (*.a *.b);;Other (*)".
QString ToQtFileFilter(const QString& APairs);

class TQtDialogs : public Dialogs {
 public:
  explicit TQtDialogs(QWidget* AParent = nullptr) : FParent(AParent) {}
  void SetParent(QWidget* AParent) { FParent = AParent; }

  void ShowMessage(const QString& AText) override;
  void ShowError(const QString& AText) override;
  bool AskYesNo(const QString& AText, const QString& ACaption, Icon AIcon) override;
  bool InputQuery(const QString& ACaption, const QString& APrompt, QString& AValue) override;
  QStringList OpenFiles(const QString& ATitle, const QString& ADir, const QString& AFilter) override;
  QString SaveFile(const QString& ATitle, const QString& ADir, const QString& AFileName, const QString& AFilter,
                   const QString& ADefaultSuffix, QString* ASelectedFilter = nullptr) override;
  bool EditSettings(TSettingsValues& AValues, const std::function<QString(const TSettingsValues&)>& AValidate) override;

 private:
  QWidget* FParent;
};

}  // namespace tarvok
