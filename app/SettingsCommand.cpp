#include "app/SettingsCommand.h"

#include <QCheckBox>
#include <QLineEdit>

#include "app/IntText.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/SettingsLists.h"
#include "app/SettingsValues.h"
#include "app/WindowTexts.h"
#include "core/Platform.h"
#include "core/ProxyEnvironment.h"

namespace tarvok {

TSettingsValues TSettingsCommand::Current() const {
  const TGeminiDM& dm = F.GeminiDM();
  TSettingsValues v;
  v.MaxInputTextLength = QString::number(dm.MaxInputTextLength);
  v.MaxContextTokens = QString::number(dm.MaxContextTokens);
  v.MaxOutputTokens = QString::number(dm.MaxOutputTokens);
  v.GeminiApiUrlBase = Q(dm.GeminiApiUrlBase);
  v.MethodGenerate = Q(dm.MethodGenerate);
  v.TimeOutMinutes = QString::number(dm.TimeOut1 / 60);
  v.CreativityLevel = F.KreaEdit->text();
  v.StreamAnswers = F.chkStreamAnswers->isChecked();
  v.ShowThoughts = F.chkShowThoughts->isChecked();
  v.Proxy = Q(dm.Proxy);
  return v;
}

void TSettingsCommand::Apply(const TSettingsValues& AValues) {
  TGeminiDM& dm = F.GeminiDM();
  dm.MaxInputTextLength = TryStrToInt(S(AValues.MaxInputTextLength)).value_or(dm.MaxInputTextLength);
  dm.MaxOutputTokens = TryStrToInt(S(AValues.MaxOutputTokens)).value_or(dm.MaxOutputTokens);
  dm.GeminiApiUrlBase = S(AValues.GeminiApiUrlBase);
  dm.MethodGenerate = S(AValues.MethodGenerate);
  dm.Proxy = S(AValues.Proxy);
  SetProxyEnvironment(dm.Proxy);  // for the CLI's runs
  // The boxes of the window take the rest, through their own handlers.
  F.MaxLimKont->setText(AValues.MaxContextTokens);
  F.TimeOutEdit->setText(AValues.TimeOutMinutes);
  F.KreaEdit->setText(AValues.CreativityLevel);
  F.chkStreamAnswers->setChecked(AValues.StreamAnswers);
  F.chkShowThoughts->setChecked(AValues.ShowThoughts);
}

void TSettingsCommand::btnSettingsClick() {
  TSettingsValues values = Current();
  if (!F.Dlg().EditSettings(values, [](const TSettingsValues& AValues) { return AValues.Validate(); })) return;
  Apply(values);
  F.Settings().SaveSettings(ProgramDir() / "config.ini");
  F.SetStatusText(ui::kStatusSettingsSaved);
}

}  // namespace tarvok
