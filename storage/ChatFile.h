#pragma once
// The chat file: a UTF-8 byte-order mark and the compact ASCII JSON of a history.
// A save replaces the file atomically; a load never fails loudly (a damaged file gives
// an empty or partly filled history).

#include <cstdint>
#include <string>
#include <string_view>

#include "core/GeminiDM.h"
#include "core/Types.h"

namespace tarvok {

// The whole file content (byte-order mark included) for a history.
std::string ChatFileContent(const TChatHistory& AHistory);

// Writes the history to AFileName, atomically (TAtomicFileWriter), piece by piece as the
// text is made. Raises TFileError when the folder is missing or the file cannot be
// written; the earlier file then stays whole.
void WriteChatFile(const std::string& AFileName, const TChatHistory& AHistory);

// How far a load read its file.
struct TChatLoadReport {
  bool Complete = true;       // the whole file was read (a missing or empty file counts as whole)
  std::size_t TurnsRead = 0;  // turns read completely, from the first
};

// Reads a chat file into AHistory and ATokens. A missing file returns false and
// changes nothing. Otherwise the history is replaced: unreadable or unparsable text
// leaves it empty; an element that cannot be read ends the load, the turns before it
// keep their content and it and the later ones stay empty; ATokens is the history's
// total only when the whole file was read, else 0. A lone surrogate escape reads as
// U+FFFD, as invalid UTF-8 does. AReport, when given, tells whether all was read.
bool ReadChatFile(const std::string& AFileName, TChatHistory& AHistory, std::int32_t& ATokens,
                  TChatLoadReport* AReport = nullptr);
// The same for text already in memory (a leading byte-order mark is skipped).
void ParseChatFileText(std::string_view AText, TChatHistory& AHistory, std::int32_t& ATokens);

// The service's operations on its own history.
void SaveHistoryToFile(TGeminiDM& AService, const std::string& AFileName);
// A chat that loads only in part must never be written back over its file; the report
// says so.
TChatLoadReport LoadHistoryFromFile(TGeminiDM& AService, const std::string& AFileName);

// A stored "timestamp": ISO 8601 date and time. The writer's form (ending in "Z") comes
// back as the same wall-clock time; an explicit offset is subtracted. False when the text
// is not such a date-time.
bool ParseIsoTimestamp(std::string_view AText, TDateTime& AValue);
std::string FormatIsoTimestamp(TDateTime AValue);

}  // namespace tarvok
