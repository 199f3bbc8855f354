#pragma once
// Integer reading as the window's boxes and settings file expect it: optional leading
// blanks, an optional sign, decimal digits, nothing after them, within 32 bits.

#include <optional>
#include <string_view>

namespace tarvok {

std::optional<int> TryStrToInt(std::string_view AText);

}  // namespace tarvok
