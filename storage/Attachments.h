#pragma once
// Attachments: the MIME type from a file's extension, the file's content as Base64
// (text files re-encoded as UTF-8), and removing one attached file from a stored turn.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/GeminiDM.h"
#include "core/Types.h"

namespace tarvok {

// The MIME type for the extension of AFileName (the text from the last "." after the
// last "/" or "\"), or empty when the extension is not one the service accepts.
std::string GetMimeTypeFromFileExt(std::string_view AFileName);
// A MIME type beginning with "text/" (any case): the file is sent as UTF-8 text.
bool IsTextMimeType(std::string_view AMimeType);

// The file's content as Base64, or empty when the file does not exist (or is a folder)
// or is empty. For a text type, ASanitizedText receives the decoded text and its UTF-8
// bytes are encoded; otherwise ASanitizedText is empty and the raw bytes are encoded.
// Raises TFileError when an existing non-text file cannot be read.
std::string FileToBase64(const std::string& AFileName, std::string& ASanitizedText);

// Removes every inline-data part whose FileName equals AFileName (exactly) from turn
// AMessageIndex; a turn left without content goes entirely. True when the history
// changed; ATokens is then the history's new total.
bool DeleteFileFromHistory(TChatHistory& AHistory, std::int32_t& ATokens, int AMessageIndex,
                           const std::string& AFileName);
bool DeleteFileFromHistory(TGeminiDM& AService, int AMessageIndex, const std::string& AFileName);

}  // namespace tarvok
