#pragma once
// Every modal question and message goes through this interface, so that tests can
// answer questions and record messages. QtDialogs is the real one.

#include <QString>
#include <QStringList>
#include <functional>

#include "app/SettingsValues.h"

namespace tarvok {

class Dialogs {
 public:
  enum class Icon { None, Information, Warning, Error, Question };
  virtual ~Dialogs() = default;

  virtual void ShowMessage(const QString& AText) = 0;  // a plain message box with OK
  virtual void ShowError(const QString& AText) = 0;    // the general error report
  // Yes/No question; true only for Yes.
  virtual bool AskYesNo(const QString& AText, const QString& ACaption, Icon AIcon = Icon::Question) = 0;
  // An input box; false when cancelled. AValue holds the start value and receives the answer.
  virtual bool InputQuery(const QString& ACaption, const QString& APrompt, QString& AValue) = 0;
  // Open dialog for several files; empty when cancelled. AFilter is in the toolkit's form.
  virtual QStringList OpenFiles(const QString& ATitle, const QString& ADir, const QString& AFilter) = 0;
  // The settings dialog "Настройки", started with AValues; on OK AValues receives what was
  // entered. OK is refused, the dialog staying open, while AValidate names a wrong value.
  // False when cancelled.
  virtual bool EditSettings(TSettingsValues& AValues, const std::function<QString(const TSettingsValues&)>& AValidate) = 0;
  // Save dialog; empty when cancelled. ASelectedFilter, when given, names the filter shown
  // first and receives the one the user left selected; the default suffix then follows it.
  virtual QString SaveFile(const QString& ATitle, const QString& ADir, const QString& AFileName,
                           const QString& AFilter, const QString& ADefaultSuffix,
                           QString* ASelectedFilter = nullptr) = 0;
};

// The suffix of a filter's first pattern: "html" from "HTML (*.html *.htm)"; empty for "*.*".
inline QString FilterSuffix(const QString& AFilter) {
  const qsizetype star = AFilter.indexOf(QLatin1String("*."));
  if (star < 0) return {};
  qsizetype end = star + 2;
  while (end < AFilter.size() && AFilter[end] != QLatin1Char(' ') && AFilter[end] != QLatin1Char(')') &&
         AFilter[end] != QLatin1Char(';'))
    ++end;
  const QString suffix = AFilter.mid(star + 2, end - star - 2);
  return suffix == QLatin1String("*") ? QString() : suffix;
}

}  // namespace tarvok
