#pragma once
// "Настройки": every config.ini setting a user changes, each with its current value. OK
// names the first wrong value and stays open; "По умолчанию" puts the built-in values into
// the boxes only; "Отмена" changes nothing.

#include <QDialog>
#include <functional>

#include "app/SettingsValues.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvok {

class TSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  TSettingsDialog(const TSettingsValues& AValues, std::function<QString(const TSettingsValues&)> AValidate,
                  QWidget* AParent = nullptr);

  TSettingsValues Values() const;
  void Show(const TSettingsValues& AValues);
  // OK: accepted when nothing is wrong, else the wrong value is named and the dialog stays.
  void accept() override;

  QLineEdit* MaxInputTextLength = nullptr;
  QLineEdit* MaxContextTokens = nullptr;
  QLineEdit* MaxOutputTokens = nullptr;
  QLineEdit* GeminiApiUrlBase = nullptr;
  QLineEdit* MethodGenerate = nullptr;
  QLineEdit* TimeOutMinutes = nullptr;
  QLineEdit* CreativityLevel = nullptr;
  QCheckBox* StreamAnswers = nullptr;
  QCheckBox* ShowThoughts = nullptr;
  QLineEdit* Proxy = nullptr;
  QLabel* ErrorLabel = nullptr;
  QPushButton* btnOk = nullptr;
  QPushButton* btnCancel = nullptr;
  QPushButton* btnDefaults = nullptr;

 private:
  std::function<QString(const TSettingsValues&)> FValidate;
};

}  // namespace tarvok
