#include "app/SettingsLists.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QAction>
#include <QPointer>
#include <QSignalBlocker>
#include <cstdio>
#include <QSplitter>
#include <filesystem>

#include "app/IniFile.h"
#include "app/IntText.h"
#include "app/MainWindow.h"
#include "app/QtText.h"
#include "app/UiTexts.h"
#include "core/ApiKeyStats.h"
#include "core/Text.h"
#include "core/ProxyEnvironment.h"

namespace tarvok {
namespace {

constexpr const char* kSection = "Settings";
constexpr const char* kKeysFile = "Keys.txt";
constexpr const char* kModelsFile = "Models.txt";

std::vector<std::string> Entries(const QComboBox* ABox) {
  std::vector<std::string> out;
  for (int i = 0; i < ABox->count(); ++i) out.push_back(S(ABox->itemText(i)));
  return out;
}

std::string SplitterSizesText(const QSplitter* ASplitter) {
  std::string out;
  for (const int size : ASplitter->sizes()) out += (out.empty() ? "" : ",") + std::to_string(size);
  return out;
}

// "177,830,152": as many sizes as the splitter has panes, none negative, not all zero;
// anything else leaves the splitter as it is.
void RestoreSplitter(QSplitter* ASplitter, const std::string& AText) {
  QList<int> sizes;
  int sum = 0;
  for (const QString& item : Q(AText).split(',')) {
    const auto size = TryStrToInt(S(item.trimmed()));
    if (!size || *size < 0 || *size > 100000) return;
    sizes << *size;
    sum += *size;
  }
  if (sizes.size() != ASplitter->count() || sum <= 0) return;
  ASplitter->setSizes(sizes);
}

}  // namespace

TCreativity CreativityLevel(int ALevel) {
  static constexpr TCreativity kLevels[] = {{0.0, 1, 1.0},  {0.3, 3, 0.95},  {0.6, 10, 0.9},
                                            {0.8, 25, 0.85}, {1.0, 50, 0.8}, {1.2, 100, 0.75}};
  return kLevels[ALevel < 0 || ALevel > 5 ? 0 : ALevel];
}

void TSettingsLists::LoadSettings(const std::filesystem::path& AFileName) {
  if (!FSplittersWatched) {
    FSplittersWatched = true;
    for (QSplitter* splitter : {F.Splitter1, F.Splitter3})
      QObject::connect(splitter, &QSplitter::splitterMoved, splitter, [this] { FSplittersMoved = true; });
  }
  if (!std::filesystem::exists(AFileName)) {
    SaveSettings(AFileName);
    return;
  }
  TIniFile ini(AFileName);
  TGeminiDM& dm = F.GeminiDM();
  dm.MaxInputTextLength = ini.ReadInteger(kSection, "MaxInputTextLength", 30020);
  dm.MaxContextTokens = ini.ReadInteger(kSection, "MaxContextTokens", 80000);
  dm.MaxOutputTokens = ini.ReadInteger(kSection, "MaxOutputTokens", 300000);
  dm.GeminiApiUrlBase = ini.ReadString(kSection, "GeminiApiUrlBase", kDefaultGeminiApiUrlBase);
  dm.MethodGenerate = ini.ReadString(kSection, "MethodGenerate", "generateContent");
  const QString level = Q(ini.ReadString(kSection, "CreativityLevel", "0"));
  if (F.KreaEdit->text() == level) KreaEditChange();  // no change signal for the same text
  else F.KreaEdit->setText(level);
  F.ChatView().FLastSaveDir = ini.ReadString(kSection, "LastSaveDir", "");
  F.chkStreamAnswers->setChecked(ini.ReadInteger(kSection, "StreamAnswers", 0) == 1);
  F.chkShowThoughts->setChecked(ini.ReadInteger(kSection, "ShowThoughts", 0) == 1);
  RestoreSplitter(F.Splitter1, ini.ReadString(kSection, "Splitter1Sizes", ""));
  RestoreSplitter(F.Splitter3, ini.ReadString(kSection, "Splitter3Sizes", ""));
  dm.Proxy = ini.ReadString(kSection, "Proxy", "");
  SetProxyEnvironment(dm.Proxy);  // for the CLI's runs
}

void TSettingsLists::SaveSettings(const std::filesystem::path& AFileName) {
  TIniFile ini(AFileName);
  const TGeminiDM& dm = F.GeminiDM();
  ini.WriteInteger(kSection, "MaxInputTextLength", dm.MaxInputTextLength);
  ini.WriteInteger(kSection, "MaxContextTokens", dm.MaxContextTokens);
  ini.WriteInteger(kSection, "MaxOutputTokens", dm.MaxOutputTokens);
  ini.WriteString(kSection, "GeminiApiUrlBase", dm.GeminiApiUrlBase);
  ini.WriteString(kSection, "MethodGenerate", dm.MethodGenerate);
  ini.WriteString(kSection, "CreativityLevel", S(F.KreaEdit->text()));
  ini.WriteString(kSection, "LastSaveDir", F.ChatView().FLastSaveDir);
  ini.WriteInteger(kSection, "StreamAnswers", F.chkStreamAnswers->isChecked() ? 1 : 0);
  // Written once the box has been ticked: a config.ini of a user who never did stays as it was.
  if (F.chkShowThoughts->isChecked() || ini.ReadString(kSection, "ShowThoughts", "").size() > 0)
    ini.WriteInteger(kSection, "ShowThoughts", F.chkShowThoughts->isChecked() ? 1 : 0);
  if (FSplittersMoved || !ini.ReadString(kSection, "Splitter1Sizes", "").empty()) {
    ini.WriteString(kSection, "Splitter1Sizes", SplitterSizesText(F.Splitter1));
    ini.WriteString(kSection, "Splitter3Sizes", SplitterSizesText(F.Splitter3));
  }
  // Written once set: a file whose user never named a proxy keeps without the key.
  if (!dm.Proxy.empty() || ini.ReadString(kSection, "Proxy", "\x01") != "\x01") ini.WriteString(kSection, "Proxy", dm.Proxy);
  ini.UpdateFile();
}

void TSettingsLists::KreaEditChange() {
  const auto level = TryStrToInt(S(F.KreaEdit->text()));
  if (!level) {
    F.KreaEdit->setText("0");
  } else if (*level < 0 || *level > 5) {
    F.Dlg().ShowMessage(Q(ui::kMsgKreaRange));
    F.KreaEdit->setText("0");
  }
  const TCreativity c = CreativityLevel(TryStrToInt(S(F.KreaEdit->text())).value_or(0));
  TGeminiDM& dm = F.GeminiDM();
  dm.Temperature = c.Temperature;
  dm.TopK = c.TopK;
  dm.TopP = c.TopP;
}

void TSettingsLists::TimeOutEditChange() {
  TGeminiDM& dm = F.GeminiDM();
  try {
    auto minutes = TryStrToInt(S(F.TimeOutEdit->text()));
    if (minutes && (*minutes < 1 || *minutes > 60)) {
      F.Dlg().ShowMessage(Q(ui::kMsgTimeOutRange));
      F.TimeOutEdit->setText("8");
      minutes = 8;
    }
    dm.TimeOut1 = minutes.value_or(8) * 60;
  } catch (...) {
    dm.TimeOut1 = 480;
  }
}

void TSettingsLists::MaxLimKontChange() {
  if (const auto value = TryStrToInt(S(F.MaxLimKont->text()))) F.GeminiDM().MaxContextTokens = *value;
  else F.Dlg().ShowMessage(Q(ui::kMsgMaxLimKontInvalid));
}

void TSettingsLists::LoadList(QComboBox* ABox, TListFile& AList, const char* AFileName) {
  const QSignalBlocker block(ABox);
  const QString shown = ABox->currentText();
  std::error_code ec;
  const auto status = std::filesystem::status(AFileName, ec);
  std::string error;
  AList.Unreadable = false;
  if (status.type() == std::filesystem::file_type::not_found) {
    // Only a file that is not there at all is made from the entries the box holds.
    AList.Lines = Entries(ABox);
    AList.Encoding = TListEncoding::Legacy;
    SaveListFile(AFileName, AList);
  } else if (LoadListFile(AFileName, AList, &error)) {
    ABox->clear();
    for (const auto& line : AList.Lines) ABox->addItem(Q(line));
  } else {
    AList.Unreadable = true;
    F.Dlg().ShowMessage(Q(ui::kMsgListReadFailed) + Q(AFileName) + ": " + Q(error) + Q(ui::kMsgListLeftAlone));
  }
  if (ABox->count() > 0) ABox->setCurrentIndex(0);
  else ABox->setEditText(shown);
}

void TSettingsLists::LoadLists() {
  LoadList(F.cbModels, FModels, kModelsFile);
  LoadList(F.editApiKey, FKeys, kKeysFile);
}

void TSettingsLists::AddEntry(QComboBox* ABox, TListFile& AList, const char* AFileName) {
  const std::string text = S(ABox->currentText());
  AList.Lines = Entries(ABox);
  if (IndexOfNoCase(AList.Lines, text) >= 0) return;
  const QSignalBlocker block(ABox);
  ABox->addItem(Q(text));
  ABox->setEditText(Q(text));
  AList.Lines.push_back(text);
  SaveList(AList, AFileName);
}

void TSettingsLists::DeleteEntry(QComboBox* ABox, TListFile& AList, const char* AFileName, const char* AQuestion) {
  const std::string text = S(ABox->currentText());
  AList.Lines = Entries(ABox);
  const int index = IndexOfNoCase(AList.Lines, text);
  if (index < 0) return;
  if (!F.Dlg().AskYesNo(Q(AQuestion), QString(), Dialogs::Icon::Question)) return;
  const QSignalBlocker block(ABox);
  ABox->removeItem(index);
  ABox->setEditText(Q(text));
  AList.Lines.erase(AList.Lines.begin() + index);
  SaveList(AList, AFileName);
}

void TSettingsLists::SaveList(const TListFile& AList, const char* AFileName) {
  if (AList.Unreadable) F.Dlg().ShowMessage(Q(ui::kMsgListNotWrittenStart) + Q(AFileName) + Q(ui::kMsgListNotWrittenEnd));
  else SaveListFile(AFileName, AList);
}

void TSettingsLists::editApiKeyKeyUp() { AddEntry(F.editApiKey, FKeys, kKeysFile); }
void TSettingsLists::cbModelsKeyUp() { AddEntry(F.cbModels, FModels, kModelsFile); }
void TSettingsLists::N7Click() { DeleteEntry(F.editApiKey, FKeys, kKeysFile, ui::kAskDeleteKey); }
void TSettingsLists::N8Click() { DeleteEntry(F.cbModels, FModels, kModelsFile, ui::kAskDeleteModel); }

TSettingsLists::~TSettingsLists() {
  if (FModelListStop) FModelListStop->Stop();
}

void TSettingsLists::N21Click() {
  if (FModelListStop) return;  // one load at a time
  const std::string key = S(F.editApiKey->currentText());
  if (Trim(key).empty()) {
    F.Dlg().ShowMessage(Q(ui::kMsgEnterApiKey));
    return;
  }
  F.N21->setEnabled(false);
  F.SetStatusText(ui::kStatusLoadingModels);
  FModelListStop = std::make_shared<TStopToken>();
  QPointer<TForm1> form(&F);
  FetchModelList(F.GeminiDM(), key, FModelListStop, [form](const TModelListResult& AResult) {
    if (form) form->RunCommand([&] { form->Settings().ModelListLoaded(AResult); });
  });
}

void TSettingsLists::ModelListLoaded(const TModelListResult& AResult) {
  FModelListStop.reset();
  F.N21->setEnabled(true);
  if (!AResult.Error.empty()) {
    F.SetStatusText(ui::kStatusModelsFailed);
    F.Dlg().ShowMessage(Q(AResult.Error));
    return;
  }
  FModels.Lines = Entries(F.cbModels);
  int added = 0;
  {
    const QSignalBlocker block(F.cbModels);
    const QString shown = F.cbModels->currentText();
    for (const TModelInfo& model : AResult.Models) {
      FModelLimits[LowerCase(model.Name)] = model;
      if (IndexOfNoCase(FModels.Lines, model.Name) >= 0) continue;
      FModels.Lines.push_back(model.Name);
      F.cbModels->addItem(Q(model.Name));
      ++added;
    }
    F.cbModels->setEditText(shown);
  }
  if (added > 0) SaveList(FModels, kModelsFile);
  char status[128];
  std::snprintf(status, sizeof status, ui::kStatusModelsAddedFormat, added);
  F.SetStatusText(status);
  ShowModelLimits();
}

const TModelInfo* TSettingsLists::ModelLimits(const std::string& AName) const {
  const auto found = FModelLimits.find(LowerCase(AName));
  return found == FModelLimits.end() ? nullptr : &found->second;
}

void TSettingsLists::ShowModelLimits() {
  const std::string name = S(F.cbModels->currentText());
  const TModelInfo* limits = ModelLimits(name);
  if (!limits) {
    F.ContextChatTokensLabel->setToolTip(QString());
    return;
  }
  char hint[512];
  std::snprintf(hint, sizeof hint, ui::kHintModelLimitsFormat, limits->Name.substr(0, 200).c_str(),
                static_cast<int>(limits->InputTokenLimit), static_cast<int>(limits->OutputTokenLimit));
  F.ContextChatTokensLabel->setToolTip(Q(hint));
}

void TSettingsLists::RefreshCount() {
  const std::string key = F.GeminiCliCheckBox->isChecked() ? std::string("GeminiCLI") : S(F.editApiKey->currentText());
  F.CountLabel->setText(QString::number(GetRequestCount(key, S(F.cbModels->currentText()))));
}

}  // namespace tarvok
