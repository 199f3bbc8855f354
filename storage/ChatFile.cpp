#include "storage/ChatFile.h"

#include <simdjson.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

#include "core/DateTime.h"
#include "core/Files.h"
#include "core/JsonWriter.h"
#include "core/Platform.h"
#include "core/Text.h"
#include "core/TokenEstimate.h"
#include "storage/Base64.h"

namespace tarvok {
namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

// Turns plus parts a file may hold. Real chats have thousands; a damaged or hostile
// file with millions of tiny elements would otherwise take gigabytes of empty turns.
constexpr std::size_t kMaxElements = 1'000'000;

std::size_t EstimateSize(const TChatHistory& h) {
  std::size_t n = 32;
  for (const THistoryItem& item : h) {
    n += 128 + item.ModelName.size() + item.Duration.size();
    for (const TContentPart& p : item.Parts)
      n += 64 + p.Text.size() * 2 + p.MimeType.size() + p.Base64Data.size() + p.Base64Data.size() / 48 + p.FileName.size() * 2;
  }
  return n;
}

// A member read as text: missing or null is empty, a number or boolean gives its JSON
// text, an object or array cannot be read (false).
bool ReadText(element obj, std::string_view key, std::string& out) {
  out.clear();
  element v;
  if (obj.at_key(key).get(v) != simdjson::SUCCESS) return true;
  switch (v.type()) {
    case element_type::STRING: out = std::string_view(v.get_string().value_unsafe()); return true;
    case element_type::NULL_VALUE: return true;
    case element_type::ARRAY:
    case element_type::OBJECT: return false;
    default: out = simdjson::minify(v); return true;
  }
}

bool ParseInt32(std::string_view s, std::int32_t& out) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  std::int32_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return false;
  out = v;
  return true;
}

bool ReadTokenCount(element obj, std::int32_t& out) {
  out = 0;
  element v;
  if (obj.at_key("token_count").get(v) != simdjson::SUCCESS) return true;
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min(), kMax = std::numeric_limits<std::int32_t>::max();
  switch (v.type()) {
    case element_type::NULL_VALUE: return true;
    case element_type::INT64: {
      const std::int64_t i = v.get_int64().value_unsafe();
      if (i < kMin || i > kMax) return false;
      out = static_cast<std::int32_t>(i);
      return true;
    }
    case element_type::DOUBLE: {
      const double d = v.get_double().value_unsafe();
      if (!(d >= kMin && d <= kMax) || d != std::floor(d)) return false;
      out = static_cast<std::int32_t>(d);
      return true;
    }
    case element_type::STRING: return ParseInt32(v.get_string().value_unsafe(), out);
    default: return false;  // too big, boolean, object, array
  }
}

// Reads one turn; false at the first value that cannot be read as its kind.
bool ReadTurn(element e, THistoryItem& item, std::size_t& budget) {
  simdjson::dom::object obj;
  if (e.get_object().get(obj) != simdjson::SUCCESS) return false;
  if (!ReadText(e, "role", item.Role)) return false;
  if (!ReadTokenCount(e, item.TokenCount)) return false;
  std::string stamp;
  if (!ReadText(e, "timestamp", stamp)) return false;
  if (!stamp.empty() && !ParseIsoTimestamp(stamp, item.Timestamp)) item.Timestamp = Now();
  if (!ReadText(e, "model_name", item.ModelName)) return false;
  if (!ReadText(e, "duration", item.Duration)) return false;
  simdjson::dom::array parts;
  if (e.at_key("parts").get_array().get(parts) == simdjson::SUCCESS) {
    for (element pe : parts) {
      if (budget == 0) return false;
      --budget;
      if (!pe.is_object()) return false;
      TContentPart part;
      element inl;
      if (pe.at_key("inline_data").get(inl) == simdjson::SUCCESS && inl.is_object()) {
        part.PartType = TPartType::ptInlineData;
        std::string data;
        if (!ReadText(inl, "mime_type", part.MimeType) || !ReadText(inl, "data", data) ||
            !ReadText(pe, "file_name", part.FileName))
          return false;
        part.Base64Data = TSharedText(std::move(data));
      } else {
        if (!ReadText(pe, "text", part.Text)) return false;
      }
      item.Parts.push_back(std::move(part));
    }
  }
  // A count below zero is no count (a damaged or hand-edited file): count the turn again
  // rather than lower the chat's total.
  if (item.TokenCount <= 0) item.TokenCount = CountTokens(item.Parts);
  return true;
}

// Returns whether the whole text was read; ATurnsRead counts the turns read completely.
bool ParsePadded(const char* data, std::size_t length, TChatHistory& history, std::int32_t& tokens,
                 std::size_t& ATurnsRead, bool repaired = false) {
  history.clear();
  tokens = 0;
  ATurnsRead = 0;
  simdjson::dom::parser parser;
  element root;
  auto error = parser.parse(data, length, false).get(root);
  if (error != simdjson::SUCCESS && !repaired) {
    // A damaged byte or a lone surrogate escape should not cost the whole chat: read each
    // as U+FFFD, as a UTF-8 decoder would.
    std::string text;
    try {
      text = MakeValidUtf8(std::string_view(data, length));
    } catch (const std::bad_alloc&) {
      return false;
    }
    const bool surrogates = RepairLoneSurrogateEscapes(text.data(), text.size());
    if (error == simdjson::UTF8_ERROR || surrogates) {
      const simdjson::padded_string valid(text);
      if (valid.data() == nullptr) return false;
      return ParsePadded(valid.data(), valid.size(), history, tokens, ATurnsRead, true);
    }
  }
  if (error != simdjson::SUCCESS || !root.is_object()) return false;
  simdjson::dom::array contents;
  if (root.at_key("contents").get_array().get(contents) != simdjson::SUCCESS) return true;
  std::size_t count = 0;
  for ([[maybe_unused]] element e : contents) {
    if (++count > kMaxElements) return false;  // treated as unreadable
  }
  history.resize(count);
  std::size_t budget = kMaxElements - count;
  for (element e : contents) {
    THistoryItem item;
    if (!ReadTurn(e, item, budget)) return false;  // this turn and the later ones stay empty
    history[ATurnsRead++] = std::move(item);
  }
  tokens = CountTokensForHistory(history);
  return true;
}

bool ReadDigits(std::string_view& s, std::size_t count, int& out) {
  if (s.size() < count) return false;
  int v = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  out = v;
  s.remove_prefix(count);
  return true;
}

bool Expect(std::string_view& s, char c) {
  if (s.empty() || s.front() != c) return false;
  s.remove_prefix(1);
  return true;
}

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

bool ReadChatFileInto(const std::string& AFileName, TChatHistory& AHistory, std::int32_t& ATokens,
                      TChatLoadReport& AReport) {
  const std::filesystem::path path = PathFromUtf8(AFileName);
  std::error_code ec;
  if (AFileName.empty() || !std::filesystem::exists(path, ec) || std::filesystem::is_directory(path, ec)) return false;
  AHistory.clear();
  ATokens = 0;
  // From here on, whatever is not read to its end is a partial load.
  AReport.Complete = false;
  if (!std::filesystem::is_regular_file(path, ec)) return true;  // a pipe or device would block or never end
  // Read straight into simdjson's padded buffer: a chat with pictures can be hundreds of megabytes.
  std::ifstream in(path, std::ios::binary);
  if (!in) return true;
  in.seekg(0, std::ios::end);
  const auto size = in.tellg();
  if (size < 0) return true;
  if (size == 0) {
    AReport.Complete = true;  // nothing in it to lose
    return true;
  }
  in.seekg(0, std::ios::beg);
  simdjson::padded_string buffer(static_cast<std::size_t>(size));
  if (buffer.data() == nullptr) return true;  // no memory for it: as unreadable
  if (!in.read(buffer.data(), size)) return true;
  std::string_view text(buffer.data(), buffer.size());
  std::size_t skip = text.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
  AReport.Complete = ParsePadded(buffer.data() + skip, buffer.size() - skip, AHistory, ATokens, AReport.TurnsRead);
  return true;
}

}  // namespace

bool ParseIsoTimestamp(std::string_view s, TDateTime& AValue) {
  TDateTimeParts p;
  if (!ReadDigits(s, 4, p.Year) || !Expect(s, '-') || !ReadDigits(s, 2, p.Month) || !Expect(s, '-') ||
      !ReadDigits(s, 2, p.Day))
    return false;
  if (p.Year < 1 || p.Month < 1 || p.Month > 12 || p.Day < 1 || p.Day > DaysInMonth(p.Year, p.Month)) return false;
  p.Hour = p.Minute = p.Second = p.Millisecond = 0;
  int offsetMinutes = 0;
  if (!s.empty() && (s.front() == 'T' || s.front() == 't' || s.front() == ' ')) {
    s.remove_prefix(1);
    if (!ReadDigits(s, 2, p.Hour) || !Expect(s, ':') || !ReadDigits(s, 2, p.Minute)) return false;
    if (!s.empty() && s.front() == ':') {
      s.remove_prefix(1);
      if (!ReadDigits(s, 2, p.Second)) return false;
      if (!s.empty() && (s.front() == '.' || s.front() == ',')) {
        s.remove_prefix(1);
        std::size_t digits = 0;
        int ms = 0;
        while (!s.empty() && s.front() >= '0' && s.front() <= '9') {
          if (digits < 3) ms = ms * 10 + (s.front() - '0');
          ++digits;
          s.remove_prefix(1);
        }
        if (digits == 0) return false;
        for (std::size_t d = digits; d < 3; ++d) ms *= 10;
        p.Millisecond = ms;
      }
    }
    if (p.Hour > 23 || p.Minute > 59 || p.Second > 59) return false;
    if (!s.empty() && (s.front() == 'Z' || s.front() == 'z')) {
      s.remove_prefix(1);
    } else if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
      const int sign = s.front() == '-' ? -1 : 1;
      s.remove_prefix(1);
      int oh = 0, om = 0;
      if (!ReadDigits(s, 2, oh)) return false;
      if (!s.empty() && s.front() == ':') s.remove_prefix(1);
      if (!s.empty() && !ReadDigits(s, 2, om)) return false;
      if (oh > 23 || om > 59) return false;
      offsetMinutes = sign * (oh * 60 + om);
    }
  }
  if (!s.empty()) return false;
  AValue = EncodeDateTime(p) - offsetMinutes / 1440.0;
  return true;
}

std::string FormatIsoTimestamp(TDateTime AValue) {
  const TDateTimeParts p = DecodeDateTime(AValue);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3dZ", p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second,
                p.Millisecond);
  return buf;
}

std::string ChatFileContent(const TChatHistory& AHistory) {
  std::string out;
  out.reserve(EstimateSize(AHistory));
  out += kUtf8Bom;
  TJsonWriter w(out);
  w.BeginObject().Key("contents").BeginArray();
  for (const THistoryItem& item : AHistory) {
    w.BeginObject().Key("role").String(item.Role).Key("parts").BeginArray();
    for (const TContentPart& part : item.Parts) {
      w.BeginObject();
      if (part.PartType == TPartType::ptInlineData) {
        w.Key("inline_data").BeginObject().Key("mime_type").String(part.MimeType).Key("data");
        // Data read from a foreign file may hold anything; the writer checks it as it copies.
        w.Base64String(part.Base64Data.view());
        w.EndObject();
        if (!part.FileName.empty()) w.Key("file_name").String(part.FileName);
      } else {
        w.Key("text").String(part.Text);
      }
      w.EndObject();
    }
    w.EndArray();
    if (item.TokenCount > 0) w.Key("token_count").Int(item.TokenCount);
    if (item.Timestamp > 0) w.Key("timestamp").String(FormatIsoTimestamp(item.Timestamp));
    if (!item.ModelName.empty()) w.Key("model_name").String(item.ModelName);
    if (!item.Duration.empty()) w.Key("duration").String(item.Duration);
    w.EndObject();
  }
  w.EndArray().EndObject();
  return out;
}

void WriteChatFile(const std::string& AFileName, const TChatHistory& AHistory) {
  WriteFileAtomic(PathFromUtf8(AFileName), ChatFileContent(AHistory));
}

void ParseChatFileText(std::string_view AText, TChatHistory& AHistory, std::int32_t& ATokens) {
  if (AText.starts_with(kUtf8Bom)) AText.remove_prefix(kUtf8Bom.size());
  const simdjson::padded_string padded(AText);
  std::size_t turns = 0;
  if (padded.data() == nullptr) {
    AHistory.clear();
    ATokens = 0;
    return;
  }
  ParsePadded(padded.data(), padded.size(), AHistory, ATokens, turns);
}

bool ReadChatFile(const std::string& AFileName, TChatHistory& AHistory, std::int32_t& ATokens, TChatLoadReport* AReport) {
  TChatLoadReport report;
  const bool found = ReadChatFileInto(AFileName, AHistory, ATokens, report);
  if (AReport) *AReport = report;
  return found;
}

void SaveHistoryToFile(TGeminiDM& AService, const std::string& AFileName) {
  WriteChatFile(AFileName, AService.FChatHistory);
}

TChatLoadReport LoadHistoryFromFile(TGeminiDM& AService, const std::string& AFileName) {
  TChatLoadReport report;
  ReadChatFile(AFileName, AService.FChatHistory, AService.FActualHistoryTokens, &report);
  return report;
}

}  // namespace tarvok
