#pragma once
// The prompt box's text as the program keeps it: the box holds LF line ends, while the
// prompt that is shown, sent and stored carries CR LF, as typed in a Windows memo.

#include <QPlainTextEdit>
#include <string>

#include "app/QtText.h"

namespace tarvok {

inline std::string PromptBoxText(const QPlainTextEdit& ABox) {
  QString text = ABox.toPlainText();  // line and paragraph breaks all come out as LF
  text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return S(text);
}

// The box would make two breaks of a CR LF, so it gets LF.
inline void SetPromptBoxText(QPlainTextEdit& ABox, const std::string& AText) {
  QString text = Q(AText);
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  ABox.setPlainText(text);
}

}  // namespace tarvok
