#pragma once
// The one token estimate and the one text-file decoding used everywhere.

#include <string>
#include <string_view>

#include "core/Types.h"

namespace tarvok {

// Estimated tokens of a turn's parts (reads attached files on every call).
int CountTokens(const TContentParts& AParts);
// Sum of TokenCount over the turns, in 32-bit arithmetic.
int CountTokensForHistory(const TChatHistory& AHistory);
// Pixel size from the picture's header only (BMP, JPEG, PNG, GIF and the others stb knows).
bool GetImageDimensions(const std::string& AFileName, int& AWidth, int& AHeight);

// The file's content decoded to UTF-8: by byte-order mark (kept, as U+FEFF), else UTF-8
// when structurally valid, else the legacy code page. Empty when missing, empty or unreadable.
std::string SanitizeTextFile(const std::string& AFileName);
// The same decoding for bytes already in memory.
std::string DecodeTextBytes(std::string_view ABytes);
// Structural UTF-8 check: overlong forms, surrogates and values above U+10FFFF pass.
bool IsValidUtf8(std::string_view ABuffer);

}  // namespace tarvok
