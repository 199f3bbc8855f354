#include "core/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <mutex>

#include "core/Platform.h"

namespace tarvok {

// Days from 1970-01-01 for a civil date (proleptic Gregorian).
long long DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

namespace {

std::mutex GClockLock;
std::function<TDateTime()> GClock;

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

constexpr long long kEpochOffsetDays = 25569;  // 1899-12-30 to 1970-01-01

}  // namespace

TDateTime EncodeDateTime(const TDateTimeParts& P) {
  const long long days = DaysFromCivil(P.Year, static_cast<unsigned>(P.Month), static_cast<unsigned>(P.Day)) + kEpochOffsetDays;
  const double ms = ((P.Hour * 60.0 + P.Minute) * 60.0 + P.Second) * 1000.0 + P.Millisecond;
  return static_cast<double>(days) + ms / 86400000.0;
}

TDateTimeParts DecodeDateTime(TDateTime AValue) {
  TDateTimeParts P;
  if (!std::isfinite(AValue)) return P;
  // Whole milliseconds, rounded, so that 0.5 days reads back as 12:00:00.000.
  long long totalMs = std::llround(AValue * 86400000.0);
  long long days = totalMs / 86400000;
  long long msOfDay = totalMs % 86400000;
  if (msOfDay < 0) { msOfDay += 86400000; --days; }
  CivilFromDays(days - kEpochOffsetDays, P.Year, P.Month, P.Day);
  P.Hour = static_cast<int>(msOfDay / 3600000);
  P.Minute = static_cast<int>(msOfDay / 60000 % 60);
  P.Second = static_cast<int>(msOfDay / 1000 % 60);
  P.Millisecond = static_cast<int>(msOfDay % 1000);
  return P;
}

TDateTime Now() {
  {
    std::lock_guard lock(GClockLock);
    if (GClock) return GClock();
  }
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  LocalTimeOf(t, local);
  const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  return EncodeDateTime({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ms});
}

void SetClockForTests(std::function<TDateTime()> AClock) {
  std::lock_guard lock(GClockLock);
  GClock = std::move(AClock);
}

std::string FormatDateTime(std::string_view APicture, TDateTime AValue) {
  const TDateTimeParts P = DecodeDateTime(AValue);
  std::string out;
  auto num = [&out](int v, int width) {
    std::string s = std::to_string(v);
    if (static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
    out += s;
  };
  for (std::size_t i = 0; i < APicture.size();) {
    const std::string_view rest = APicture.substr(i);
    if (rest.starts_with("yyyy")) { num(P.Year, 4); i += 4; }
    else if (rest.starts_with("zzz")) { num(P.Millisecond, 3); i += 3; }
    else if (rest.starts_with("mm")) { num(P.Month, 2); i += 2; }
    else if (rest.starts_with("dd")) { num(P.Day, 2); i += 2; }
    else if (rest.starts_with("hh")) { num(P.Hour, 2); i += 2; }
    else if (rest.starts_with("nn")) { num(P.Minute, 2); i += 2; }
    else if (rest.starts_with("ss")) { num(P.Second, 2); i += 2; }
    else { out += APicture[i]; ++i; }
  }
  return out;
}

}  // namespace tarvok
