#pragma once
// Daily request counter: one text file per key in the ApiStats folder beside the
// executable; the counter day starts at 11:00 local time.

#include <filesystem>
#include <string>

#include "core/Types.h"

namespace tarvok {

TDateTime GetStatsDay();  // the counter day (a whole date)
int GetRequestCount(const std::string& AKey, const std::string& AModel);
int IncrementRequestCount(const std::string& AKey, const std::string& AModel);

// Folder of the counter files: ApiStats in ProgramDir().
std::filesystem::path ApiStatsDir();

}  // namespace tarvok
