#pragma once
// The one token estimate used everywhere.

#include <string>

#include "core/Types.h"

namespace tarvok {

// Estimated tokens of a turn's parts (reads attached files on every call).
int CountTokens(const TContentParts& AParts);
// Sum of TokenCount over the turns, in 32-bit arithmetic.
int CountTokensForHistory(const TChatHistory& AHistory);
// Pixel size from the picture's header only (BMP, JPEG, PNG, GIF and the others stb knows).
bool GetImageDimensions(const std::string& AFileName, int& AWidth, int& AHeight);

}  // namespace tarvok
