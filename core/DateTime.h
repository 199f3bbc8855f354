#pragma once
// TDateTime helpers: local time as days since 1899-12-30, and a clock tests can set.

#include <functional>
#include <string>

#include "core/Types.h"

namespace tarvok {

struct TDateTimeParts {
  int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

TDateTime EncodeDateTime(const TDateTimeParts& AParts);
TDateTimeParts DecodeDateTime(TDateTime AValue);

// Current local time. Tests may replace the clock; an empty function restores the real one.
TDateTime Now();
void SetClockForTests(std::function<TDateTime()> AClock);

// Formats with the picture letters yyyy mm dd hh nn ss zzz (everything else is copied).
std::string FormatDateTime(std::string_view APicture, TDateTime AValue);

// Days from 1970-01-01 for a civil date (proleptic Gregorian).
long long DaysFromCivil(int y, unsigned m, unsigned d);

}  // namespace tarvok
