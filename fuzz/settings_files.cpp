// config.ini and the key and model lists holding any bytes: reading never crashes, and a
// list written back in its own encoding reads back as the same entries.
#include "app/IniFile.h"
#include "app/ListFile.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace tarvok;
  const std::string_view bytes = fuzz::AsText(AData, ASize);
  const auto ini = fuzz::WriteScratchFile("config.ini", bytes);
  {
    TIniFile file(ini);
    file.ReadString("Settings", "GeminiApiUrlBase", "");
    file.ReadInteger("Settings", "MaxContextTokens", 80000);
    file.WriteString("Settings", "LastSaveDir", "C:\\Users\\Иван");
    file.WriteInteger("Settings", "MaxOutputTokens", 300000);
    TARVOK_FUZZ_CHECK(file.ReadInteger("Settings", "MaxOutputTokens", 0) == 300000);
    TARVOK_FUZZ_CHECK(file.ReadString("Settings", "LastSaveDir", "") == "C:\\Users\\Иван");
  }

  const auto listPath = fuzz::WriteScratchFile("Keys.txt", bytes);
  TListFile list;
  if (!LoadListFile(listPath, list)) return 0;
  // A legacy file is decoded from a single-byte code page, so only the Unicode forms
  // promise the same entries after a save; every form must read back without a crash.
  SaveListFile(listPath, list);
  TListFile again;
  TARVOK_FUZZ_CHECK(LoadListFile(listPath, again));
  TARVOK_FUZZ_CHECK(again.Encoding == list.Encoding);
  if (list.Encoding != TListEncoding::Legacy) TARVOK_FUZZ_CHECK(again.Lines == list.Lines);
  return 0;
}
