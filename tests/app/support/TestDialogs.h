#pragma once
// A Dialogs that tests script: queued answers for questions and file dialogs, and a
// record of everything shown. An empty queue answers No / Cancel.

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "app/Dialogs.h"

namespace tarvok {

class TestDialogs : public Dialogs {
 public:
  struct Question {
    QString Text, Caption;
    Icon IconKind;
  };
  struct FileDialogCall {
    QString Title, Dir, FileName, Filter, DefaultSuffix;  // FileName and suffix empty for open dialogs
    QString SelectedFilter;                               // the filter a save dialog showed first
  };

  // Answers, taken from the front.
  std::deque<bool> YesNoAnswers;
  std::deque<std::optional<QString>> InputAnswers;  // nullopt cancels
  std::deque<QStringList> OpenFilesAnswers;
  // A save answer may run code while the dialog "is open" before answering.
  std::deque<std::function<QString(const FileDialogCall&)>> SaveFileAnswers;
  // The filter the user leaves selected in the next save dialogs; none queued keeps the first.
  std::deque<QString> SaveFilterAnswers;

  // The settings dialog: each answer edits the values as the user would and returns true
  // for OK (then checked by the dialog's validation, as its OK button is) or false for Отмена.
  std::deque<std::function<bool(TSettingsValues&)>> SettingsAnswers;
  std::vector<TSettingsValues> SettingsShown;  // the values each opening started with
  std::vector<QString> SettingsRefusals;       // what a refused OK named

  // What was shown.
  std::vector<QString> Messages;
  std::vector<QString> Errors;
  std::vector<Question> Questions;
  std::vector<QString> InputPrompts;
  std::vector<FileDialogCall> OpenFileCalls;
  std::vector<FileDialogCall> SaveFileCalls;

  void AnswerSaveWith(const QString& AFileName) {
    SaveFileAnswers.push_back([AFileName](const FileDialogCall&) { return AFileName; });
  }

  void ShowMessage(const QString& AText) override;
  void ShowError(const QString& AText) override;
  bool AskYesNo(const QString& AText, const QString& ACaption, Icon AIcon) override;
  bool InputQuery(const QString& ACaption, const QString& APrompt, QString& AValue) override;
  QStringList OpenFiles(const QString& ATitle, const QString& ADir, const QString& AFilter) override;
  QString SaveFile(const QString& ATitle, const QString& ADir, const QString& AFileName, const QString& AFilter,
                   const QString& ADefaultSuffix, QString* ASelectedFilter = nullptr) override;
  bool EditSettings(TSettingsValues& AValues, const std::function<QString(const TSettingsValues&)>& AValidate) override;
};

}  // namespace tarvok
