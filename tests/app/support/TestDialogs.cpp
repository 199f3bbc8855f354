#include "tests/app/support/TestDialogs.h"

namespace tarvok {

void TestDialogs::ShowMessage(const QString& AText) { Messages.push_back(AText); }
void TestDialogs::ShowError(const QString& AText) { Errors.push_back(AText); }

bool TestDialogs::AskYesNo(const QString& AText, const QString& ACaption, Icon AIcon) {
  Questions.push_back({AText, ACaption, AIcon});
  if (YesNoAnswers.empty()) return false;
  const bool answer = YesNoAnswers.front();
  YesNoAnswers.pop_front();
  return answer;
}

bool TestDialogs::InputQuery(const QString& ACaption, const QString& APrompt, QString& AValue) {
  InputPrompts.push_back(APrompt);
  if (InputAnswers.empty()) return false;
  const std::optional<QString> answer = InputAnswers.front();
  InputAnswers.pop_front();
  if (!answer) return false;
  AValue = *answer;
  return true;
}

QStringList TestDialogs::OpenFiles(const QString& ATitle, const QString& ADir, const QString& AFilter) {
  OpenFileCalls.push_back({ATitle, ADir, QString(), AFilter, QString(), QString()});
  if (OpenFilesAnswers.empty()) return {};
  QStringList answer = OpenFilesAnswers.front();
  OpenFilesAnswers.pop_front();
  return answer;
}

QString TestDialogs::SaveFile(const QString& ATitle, const QString& ADir, const QString& AFileName,
                              const QString& AFilter, const QString& ADefaultSuffix, QString* ASelectedFilter) {
  const FileDialogCall call{ATitle, ADir, AFileName, AFilter, ADefaultSuffix,
                            ASelectedFilter ? *ASelectedFilter : QString()};
  SaveFileCalls.push_back(call);
  if (SaveFileAnswers.empty()) return {};
  auto answer = std::move(SaveFileAnswers.front());
  SaveFileAnswers.pop_front();
  if (!SaveFilterAnswers.empty()) {
    if (ASelectedFilter) *ASelectedFilter = SaveFilterAnswers.front();
    SaveFilterAnswers.pop_front();
  }
  return answer(call);
}

bool TestDialogs::EditSettings(TSettingsValues& AValues,
                               const std::function<QString(const TSettingsValues&)>& AValidate) {
  SettingsShown.push_back(AValues);
  // As the dialog does: an OK with a wrong value stays open for the next answer.
  while (!SettingsAnswers.empty()) {
    TSettingsValues edited = AValues;
    const auto answer = SettingsAnswers.front();
    SettingsAnswers.pop_front();
    if (!answer(edited)) return false;
    const QString wrong = AValidate(edited);
    if (wrong.isEmpty()) {
      AValues = edited;
      return true;
    }
    SettingsRefusals.push_back(wrong);
  }
  return false;
}

}  // namespace tarvok
