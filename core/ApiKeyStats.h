#pragma once
// Daily request counter: one text file per key in the ApiStats folder beside the
// executable; the counter day starts at 11:00 local time. Counts are made in memory at
// once and the files written by a background thread (atomically, flushed to disk); every
// read sees the counts made so far, and what was counted is written at a normal exit.
// Any thread may count or read.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/Types.h"

namespace tarvok {

TDateTime GetStatsDay();  // the counter day (a whole date)
// The count for the key and model on the counter day; 0 when there is none; -1 on empty
// input, a key that cannot name a file, or an unreadable file.
int GetRequestCount(const std::string& AKey, const std::string& AModel);
// Adds one request and waits until its file is written: the new count, or -1 as above or
// when the file could not be written.
int IncrementRequestCount(const std::string& AKey, const std::string& AModel);
// Adds one request without waiting for the disk (what a request does before it is sent):
// the new count, or -1 as for reading. A failed write of the file later leaves the file
// as it was, and reads show it again.
int CountRequest(const std::string& AKey, const std::string& AModel);
// Waits until every count made so far is in its file or its write failed; false when a
// write failed since the last call.
bool FlushRequestCounts();
// Tests: while held, counts stay in memory only (FlushRequestCounts ends the hold).
void HoldRequestCountWrites(bool AHold);

// The fields of a counter line: split at ';' and at runs of blanks and control
// characters, a stretch in double quotes being one field ("" inside it is one quote).
std::vector<std::string> SplitDelimitedLine(std::string_view ALine);

// Folder of the counter files: ApiStats in ProgramDir().
std::filesystem::path ApiStatsDir();

}  // namespace tarvok
