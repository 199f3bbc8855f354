#include "app/IntText.h"

#include <cstdint>

namespace tarvok {

std::optional<int> TryStrToInt(std::string_view AText) {
  std::size_t i = 0;
  while (i < AText.size() && (AText[i] == ' ' || AText[i] == '\t')) ++i;
  bool negative = false;
  if (i < AText.size() && (AText[i] == '+' || AText[i] == '-')) negative = AText[i++] == '-';
  if (i == AText.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > std::int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace tarvok
