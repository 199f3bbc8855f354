#include "app/SettingsDialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/QtText.h"
#include "app/WindowTexts.h"

namespace tarvok {

TSettingsDialog::TSettingsDialog(const TSettingsValues& AValues, std::function<QString(const TSettingsValues&)> AValidate,
                                 QWidget* AParent)
    : QDialog(AParent), FValidate(std::move(AValidate)) {
  using namespace settingslabels;
  setObjectName("SettingsDialog");
  setWindowTitle(Q(ui::kSettingsTitle));
  auto* outer = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  auto edit = [this, form](const char* AName, const char* ALabel) {
    auto* box = new QLineEdit(this);
    box->setObjectName(AName);
    form->addRow(Q(ALabel), box);
    return box;
  };
  MaxInputTextLength = edit("MaxInputTextLength", kMaxInputTextLength);
  MaxContextTokens = edit("MaxContextTokens", kMaxContextTokens);
  MaxOutputTokens = edit("MaxOutputTokens", kMaxOutputTokens);
  GeminiApiUrlBase = edit("GeminiApiUrlBase", kGeminiApiUrlBase);
  GeminiApiUrlBase->setMinimumWidth(420);
  MethodGenerate = edit("MethodGenerate", kMethodGenerate);
  TimeOutMinutes = edit("TimeOutMinutes", kTimeOut);
  CreativityLevel = edit("CreativityLevel", kCreativity);
  StreamAnswers = new QCheckBox(Q(kStream), this);
  StreamAnswers->setObjectName("StreamAnswers");
  form->addRow(QString(), StreamAnswers);
  ShowThoughts = new QCheckBox(Q(kThoughts), this);
  ShowThoughts->setObjectName("ShowThoughts");
  form->addRow(QString(), ShowThoughts);
  Proxy = edit("Proxy", kProxy);
  Proxy->setPlaceholderText(Q(kProxyHint));
  Proxy->setToolTip(Q(kProxyHint));
  outer->addLayout(form);
  ErrorLabel = new QLabel(this);
  ErrorLabel->setObjectName("ErrorLabel");
  ErrorLabel->setStyleSheet("color: #D32F2F;");
  ErrorLabel->setTextFormat(Qt::PlainText);
  ErrorLabel->setWordWrap(true);
  ErrorLabel->hide();
  outer->addWidget(ErrorLabel);
  auto* buttons = new QHBoxLayout;
  btnDefaults = new QPushButton(QStringLiteral("По умолчанию"), this);
  btnOk = new QPushButton(QStringLiteral("OK"), this);
  btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
  btnOk->setDefault(true);
  buttons->addWidget(btnDefaults);
  buttons->addStretch(1);
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);
  outer->addLayout(buttons);
  connect(btnDefaults, &QPushButton::clicked, this, [this] { Show(TSettingsValues::Defaults()); });
  connect(btnOk, &QPushButton::clicked, this, &TSettingsDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &TSettingsDialog::reject);
  Show(AValues);
}

void TSettingsDialog::Show(const TSettingsValues& AValues) {
  MaxInputTextLength->setText(AValues.MaxInputTextLength);
  MaxContextTokens->setText(AValues.MaxContextTokens);
  MaxOutputTokens->setText(AValues.MaxOutputTokens);
  GeminiApiUrlBase->setText(AValues.GeminiApiUrlBase);
  MethodGenerate->setText(AValues.MethodGenerate);
  TimeOutMinutes->setText(AValues.TimeOutMinutes);
  CreativityLevel->setText(AValues.CreativityLevel);
  StreamAnswers->setChecked(AValues.StreamAnswers);
  ShowThoughts->setChecked(AValues.ShowThoughts);
  Proxy->setText(AValues.Proxy);
}

TSettingsValues TSettingsDialog::Values() const {
  TSettingsValues v;
  v.MaxInputTextLength = MaxInputTextLength->text().trimmed();
  v.MaxContextTokens = MaxContextTokens->text().trimmed();
  v.MaxOutputTokens = MaxOutputTokens->text().trimmed();
  v.GeminiApiUrlBase = GeminiApiUrlBase->text().trimmed();
  v.MethodGenerate = MethodGenerate->text().trimmed();
  v.TimeOutMinutes = TimeOutMinutes->text().trimmed();
  v.CreativityLevel = CreativityLevel->text().trimmed();
  v.StreamAnswers = StreamAnswers->isChecked();
  v.ShowThoughts = ShowThoughts->isChecked();
  v.Proxy = Proxy->text().trimmed();
  return v;
}

void TSettingsDialog::accept() {
  const QString wrong = FValidate ? FValidate(Values()) : QString();
  if (!wrong.isEmpty()) {
    ErrorLabel->setText(wrong);
    ErrorLabel->show();
    return;
  }
  QDialog::accept();
}

}  // namespace tarvok
