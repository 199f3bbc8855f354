#pragma once
// Settings and user lists: config.ini, Keys.txt and Models.txt, the creativity,
// time-out and context boxes, and the daily count refresh.

#include <filesystem>
#include <map>
#include <string>

#include "app/ListFile.h"
#include "core/ModelList.h"

class QComboBox;

namespace tarvok {

class TForm1;

// Sampling settings of one creativity level (0..5).
struct TCreativity {
  double Temperature;
  int TopK;
  double TopP;
};
TCreativity CreativityLevel(int ALevel);

class TSettingsLists {
 public:
  explicit TSettingsLists(TForm1& AForm) : F(AForm) {}
  // A model list still loading is stopped: its answer has no window to go to.
  ~TSettingsLists();

  void LoadSettings(const std::filesystem::path& AFileName);
  void SaveSettings(const std::filesystem::path& AFileName);
  // Models.txt and Keys.txt in the current folder; selects the first entry of each.
  void LoadLists();

  void KreaEditChange();
  void TimeOutEditChange();
  void MaxLimKontChange();
  void editApiKeyKeyUp();
  void cbModelsKeyUp();
  void N7Click();
  void N8Click();
  // "Загрузить список моделей": the service's models not in the list yet are added after
  // the user's entries, in the service's order, to the box and Models.txt.
  void N21Click();
  void editApiKeyChange() { RefreshCount(); }
  void cbModelsChange() {
    RefreshCount();
    ShowModelLimits();
  }
  // The token limits the service gave for a model (letter case ignored); null when unknown.
  const TModelInfo* ModelLimits(const std::string& AName) const;

 private:
  void RefreshCount();
  void ModelListLoaded(const TModelListResult& AResult);
  // The context label's tooltip names the shown model's limits when they are known.
  void ShowModelLimits();
  void AddEntry(QComboBox* ABox, TListFile& AList, const char* AFileName);
  void DeleteEntry(QComboBox* ABox, TListFile& AList, const char* AFileName, const char* AQuestion);
  void LoadList(QComboBox* ABox, TListFile& AList, const char* AFileName);
  // A list whose file could not be read at start is kept in the box only.
  void SaveList(const TListFile& AList, const char* AFileName);

  TForm1& F;
  TListFile FKeys;
  TListFile FModels;
  std::map<std::string, TModelInfo> FModelLimits;  // by lower-cased name
  TStopTokenPtr FModelListStop;  // set while the list loads
  // Set once the user drags a splitter: a config.ini whose user never did keeps without
  // the splitters' keys.
  bool FSplittersMoved = false;
  bool FSplittersWatched = false;
};

}  // namespace tarvok
