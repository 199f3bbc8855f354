#include "app/QtDialogs.h"

#include <QApplication>
#include "app/SettingsDialog.h"
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include "app/ShownText.h"

namespace tarvok {

namespace {
// Message boxes carry the window's caption.
QString Caption(const QWidget* AParent) { return AParent ? AParent->window()->windowTitle() : QStringLiteral("Tarvok"); }

// The texts name files and chats and quote answers and errors: shown as written, never as markup.
void ShowAsPlainText(QMessageBox& ABox, const QString& AText) {
  ABox.setTextFormat(Qt::PlainText);
  ABox.setText(ShownText(AText));
}
}  // namespace

QString ToQtFileFilter(const QString& APairs) {
  const QStringList items = APairs.split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < items.size(); i += 2) {
    QStringList patterns = items[i + 1].split(';', Qt::SkipEmptyParts);
    for (auto& p : patterns)
      if (p == "*.*") p = "*";
    filters << items[i] + " (" + patterns.join(' ') + ")";
  }
  return filters.join(";;");
}


void TQtDialogs::ShowMessage(const QString& AText) {
  QMessageBox box(QMessageBox::NoIcon, Caption(FParent), QString(), QMessageBox::Ok, FParent);
  ShowAsPlainText(box, AText);
  box.exec();
}

void TQtDialogs::ShowError(const QString& AText) {
  QMessageBox box(QMessageBox::Critical, Caption(FParent), QString(), QMessageBox::Ok, FParent);
  ShowAsPlainText(box, AText);
  box.exec();
}

bool TQtDialogs::AskYesNo(const QString& AText, const QString& ACaption, Icon AIcon) {
  QMessageBox::Icon icon = QMessageBox::Question;
  switch (AIcon) {
    case Icon::None: icon = QMessageBox::NoIcon; break;
    case Icon::Information: icon = QMessageBox::Information; break;
    case Icon::Warning: icon = QMessageBox::Warning; break;
    case Icon::Error: icon = QMessageBox::Critical; break;
    case Icon::Question: icon = QMessageBox::Question; break;
  }
  QMessageBox box(icon, ACaption.isEmpty() ? Caption(FParent) : ACaption, QString(), QMessageBox::NoButton, FParent);
  ShowAsPlainText(box, AText);
  QPushButton* yes = box.addButton(QString::fromUtf8("Да"), QMessageBox::YesRole);
  box.addButton(QString::fromUtf8("Нет"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.exec();
  return box.clickedButton() == yes;
}

bool TQtDialogs::InputQuery(const QString& ACaption, const QString& APrompt, QString& AValue) {
  bool ok = false;
  const QString value = QInputDialog::getText(FParent, ACaption, APrompt, QLineEdit::Normal, AValue, &ok);
  if (ok) AValue = value;
  return ok;
}

QStringList TQtDialogs::OpenFiles(const QString& ATitle, const QString& ADir, const QString& AFilter) {
  return QFileDialog::getOpenFileNames(FParent, ATitle, ADir, AFilter);
}

QString TQtDialogs::SaveFile(const QString& ATitle, const QString& ADir, const QString& AFileName,
                             const QString& AFilter, const QString& ADefaultSuffix, QString* ASelectedFilter) {
  QFileDialog dialog(FParent, ATitle, ADir, AFilter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
  if (!ADefaultSuffix.isEmpty()) dialog.setDefaultSuffix(ADefaultSuffix);
  if (ASelectedFilter) {
    if (!ASelectedFilter->isEmpty()) dialog.selectNameFilter(*ASelectedFilter);
    // A name typed without a suffix gets the chosen type's, and the overwrite question is
    // asked about the name that will be written.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& AFilter) {
      const QString suffix = FilterSuffix(AFilter);
      if (!suffix.isEmpty()) dialog.setDefaultSuffix(suffix);
    });
  }
  if (!AFileName.isEmpty()) dialog.selectFile(AFileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  if (ASelectedFilter) *ASelectedFilter = dialog.selectedNameFilter();
  return dialog.selectedFiles().first();
}

bool TQtDialogs::EditSettings(TSettingsValues& AValues, const std::function<QString(const TSettingsValues&)>& AValidate) {
  TSettingsDialog dialog(AValues, AValidate, FParent);
  if (dialog.exec() != QDialog::Accepted) return false;
  AValues = dialog.Values();
  return true;
}

}  // namespace tarvok
