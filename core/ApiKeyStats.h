#pragma once
// Daily request counter: one text file per key in the ApiStats folder beside the
// executable; the counter day starts at 11:00 local time.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/Types.h"

namespace tarvok {

TDateTime GetStatsDay();  // the counter day (a whole date)
int GetRequestCount(const std::string& AKey, const std::string& AModel);
int IncrementRequestCount(const std::string& AKey, const std::string& AModel);

// The fields of a counter line: split at ';' and at runs of blanks and control
// characters, a stretch in double quotes being one field ("" inside it is one quote).
std::vector<std::string> SplitDelimitedLine(std::string_view ALine);

// Folder of the counter files: ApiStats in ProgramDir().
std::filesystem::path ApiStatsDir();

}  // namespace tarvok
