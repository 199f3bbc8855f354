#pragma once
// Settings and user lists: config.ini, Keys.txt and Models.txt, the creativity,
// time-out and context boxes, and the daily count refresh.

#include <filesystem>
#include <string>

#include "app/ListFile.h"

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
  void editApiKeyChange() { RefreshCount(); }
  void cbModelsChange() { RefreshCount(); }

 private:
  void RefreshCount();
  void AddEntry(QComboBox* ABox, TListFile& AList, const char* AFileName);
  void DeleteEntry(QComboBox* ABox, TListFile& AList, const char* AFileName, const char* AQuestion);
  void LoadList(QComboBox* ABox, TListFile& AList, const char* AFileName);
  // A list whose file could not be read at start is kept in the box only.
  void SaveList(const TListFile& AList, const char* AFileName);

  TForm1& F;
  TListFile FKeys;
  TListFile FModels;
};

}  // namespace tarvok
