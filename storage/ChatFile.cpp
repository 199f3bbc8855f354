#include "storage/ChatFile.h"

#include <simdjson.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <vector>

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

// Attachments taken out of the file's text before the parse, each left in the text as a
// short stand-in: the parser then copies a few bytes instead of hundreds of megabytes, and
// each attachment is copied once, from the file's text into the history.
struct TTakenData {
  std::string Mark;  // begins every stand-in; drawn anew for each load, so no file holds it
  std::vector<std::string> Data;

  // A stand-in read back from the parse becomes the data it stands for.
  void Restore(std::string& AValue) {
    if (AValue.size() <= Mark.size() || !AValue.starts_with(Mark)) return;
    std::size_t index = 0;
    const char* first = AValue.data() + Mark.size();
    const auto [end, ec] = std::from_chars(first, AValue.data() + AValue.size(), index);
    if (ec != std::errc() || end != AValue.data() + AValue.size() || index >= Data.size()) return;
    AValue = std::move(Data[index]);
  }
};

// Shorter values are left to the parser: a stand-in would save nothing.
constexpr std::size_t kTakeDataFrom = 256;

// Moves each long Base64 value of a "data" member into ATaken and copies the rest of the
// text, with a stand-in in place of each value taken, to ARest. False when nothing was
// taken. `"data":"` right after "{" or "," opens such a value in any valid text (were
// that quote inside a string, it would end it, and what follows could not be valid), and
// only a string's content is replaced by another string's content: a text that cannot be
// parsed still cannot be parsed. A value holding anything but Base64 and "\/" is left
// to the parser, which reads it as before.
bool TakeBase64Data(std::string_view AText, std::string& ARest, TTakenData& ATaken) {
  constexpr std::string_view kKey = "\"data\":\"";
  std::size_t copiedTo = 0;
  std::size_t from = 0;
  std::string data;
  while (true) {
    const std::size_t key = AText.find(kKey, from);
    if (key == std::string_view::npos) break;
    const std::size_t open = key + kKey.size();
    const std::size_t close = AText.find('"', open);
    if (close == std::string_view::npos) break;
    from = open;
    if (key == 0 || (AText[key - 1] != '{' && AText[key - 1] != ',') || close - open < kTakeDataFrom) continue;
    if (!Base64FromJsonString(AText.substr(open, close - open), data)) continue;
    if (ATaken.Data.empty()) {
      std::random_device random;
      char mark[32];
      std::snprintf(mark, sizeof mark, "%08X%08X#", random(), random());
      ATaken.Mark = mark;
      ARest.reserve(std::min<std::size_t>(AText.size(), 1 << 20));
    }
    ARest.append(AText.data() + copiedTo, open - copiedTo);
    ARest += ATaken.Mark;
    ARest += std::to_string(ATaken.Data.size());
    ATaken.Data.push_back(std::move(data));
    data = std::string();
    copiedTo = close;
    from = close + 1;
  }
  if (ATaken.Data.empty()) return false;
  ARest.append(AText.data() + copiedTo, AText.size() - copiedTo);
  return true;
}

// An integer member, or 0 when it is missing or not a whole number in range.
std::int64_t ReadWhole(element AObject, std::string_view AKey, std::int64_t AMost) {
  std::int64_t v = 0;
  if (AObject.at_key(AKey).get_int64().get(v) != simdjson::SUCCESS || v < 0 || v > AMost) return 0;
  return v;
}

// The thoughts and sources kept beside a model turn. They are the program's own additions:
// what cannot be read of them is left out rather than costing the turn.
void ReadTurnExtras(element e, THistoryItem& item) {
  std::string_view text;
  if (e.at_key("thoughts").get_string().get(text) == simdjson::SUCCESS) item.Thoughts = std::string(text);
  item.ThoughtsTokens = static_cast<std::int32_t>(ReadWhole(e, "thoughts_token_count", 0x7FFFFFFF));
  element grounding;
  if (e.at_key("grounding").get(grounding) != simdjson::SUCCESS || !grounding.is_object()) return;
  simdjson::dom::array array;
  if (grounding.at_key("sources").get_array().get(array) == simdjson::SUCCESS)
    for (element source : array) {
      TGroundingSource s;
      if (source.at_key("title").get_string().get(text) == simdjson::SUCCESS) s.Title = std::string(text);
      if (source.at_key("uri").get_string().get(text) == simdjson::SUCCESS) s.Uri = std::string(text);
      item.Grounding.Sources.push_back(std::move(s));
    }
  if (grounding.at_key("supports").get_array().get(array) == simdjson::SUCCESS)
    for (element support : array) {
      TGroundingSupport s;
      s.StartIndex = ReadWhole(support, "start_index", std::int64_t(1) << 50);
      s.EndIndex = ReadWhole(support, "end_index", std::int64_t(1) << 50);
      simdjson::dom::array indices;
      if (support.at_key("sources").get_array().get(indices) == simdjson::SUCCESS)
        for (element index : indices) {
          std::int64_t i = 0;
          if (index.get_int64().get(i) == simdjson::SUCCESS && i >= 0 && i < 1000000) s.Sources.push_back(static_cast<std::int32_t>(i));
        }
      item.Grounding.Supports.push_back(std::move(s));
    }
  if (grounding.at_key("queries").get_array().get(array) == simdjson::SUCCESS)
    for (element query : array)
      if (query.get_string().get(text) == simdjson::SUCCESS) item.Grounding.Queries.emplace_back(text);
}

// Reads one turn; false at the first value that cannot be read as its kind.
bool ReadTurn(element e, THistoryItem& item, std::size_t& budget, TTakenData* taken) {
  simdjson::dom::object obj;
  if (e.get_object().get(obj) != simdjson::SUCCESS) return false;
  if (!ReadText(e, "role", item.Role)) return false;
  if (!ReadTokenCount(e, item.TokenCount)) return false;
  std::string stamp;
  if (!ReadText(e, "timestamp", stamp)) return false;
  if (!stamp.empty() && !ParseIsoTimestamp(stamp, item.Timestamp)) item.Timestamp = Now();
  if (!ReadText(e, "model_name", item.ModelName)) return false;
  if (!ReadText(e, "duration", item.Duration)) return false;
  ReadTurnExtras(e, item);
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
        if (taken) taken->Restore(data);
        part.Base64Data = TSharedText(std::move(data));
        // A reference that cannot be read is no reference: the data is sent again.
        if (!ReadText(pe, "file_uri", part.FileUri) || !ReadText(pe, "file_expires", part.FileExpires)) {
          part.FileUri.clear();
          part.FileExpires.clear();
        }
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
                 std::size_t& ATurnsRead, TTakenData* taken, bool repaired = false) {
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
      return ParsePadded(valid.data(), valid.size(), history, tokens, ATurnsRead, taken, true);
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
    if (!ReadTurn(e, item, budget, taken)) return false;  // this turn and the later ones stay empty
    history[ATurnsRead++] = std::move(item);
  }
  tokens = CountTokensForHistory(history);
  return true;
}

// Parses a chat file's text (byte-order mark removed); APadded says whether the text
// already has simdjson's padding after it.
bool ParseText(std::string_view AText, bool APadded, TChatHistory& history, std::int32_t& tokens,
               std::size_t& ATurnsRead) {
  TTakenData taken;
  std::string rest;
  const bool took = TakeBase64Data(AText, rest, taken);
  if (took) AText = rest;
  if (APadded && !took) return ParsePadded(AText.data(), AText.size(), history, tokens, ATurnsRead, nullptr);
  const simdjson::padded_string padded(AText);
  if (padded.data() == nullptr) {
    history.clear();
    tokens = 0;
    ATurnsRead = 0;
    return false;
  }
  return ParsePadded(padded.data(), padded.size(), history, tokens, ATurnsRead, took ? &taken : nullptr);
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
  if (buffer.size() >= kLargeBufferBytes) AdviseLargePages(buffer.data(), buffer.size());
  if (!in.read(buffer.data(), size)) return true;
  std::string_view text(buffer.data(), buffer.size());
  std::size_t skip = text.starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
  AReport.Complete = ParseText(text.substr(skip), true, AHistory, ATokens, AReport.TurnsRead);
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

namespace {

// Writes full blocks to the file on a thread of its own, so that the next block is made
// while the last one goes to the file: on two cores a big save takes about as long as the
// longer of the two, not both. One block is in flight at a time. The first failure is
// raised on the making thread at its next hand-off or at the end, and nothing more is
// written after it. Without a thread to be had, the blocks are written where they are made.
class TBlockWriter {
 public:
  explicit TBlockWriter(TAtomicFileWriter& AFile) : FFile(AFile) {}
  ~TBlockWriter() { Stop(); }
  TBlockWriter(const TBlockWriter&) = delete;
  TBlockWriter& operator=(const TBlockWriter&) = delete;

  // Takes the full block; ABlock comes back empty, with the room of the one written before.
  void Hand(std::string& ABlock) {
    if (!FStarted) Start(ABlock.capacity());
    if (!FThread.joinable()) {
      FFile.Write(ABlock);
      ABlock.clear();
      return;
    }
    std::unique_lock lock(FLock);
    FIdle.wait(lock, [&] { return !FBusy; });
    if (FError) std::rethrow_exception(FError);
    std::swap(FBlock, ABlock);
    FBusy = true;
    lock.unlock();
    FWork.notify_one();
  }
  // Waits until the block in flight is written; raises the first failure.
  void Drain() {
    if (!FThread.joinable()) return;
    std::unique_lock lock(FLock);
    FIdle.wait(lock, [&] { return !FBusy; });
    if (FError) std::rethrow_exception(FError);
  }

 private:
  void Start(std::size_t ARoom) {
    FStarted = true;
    FBlock.reserve(ARoom);
    try {
      FThread = std::thread([this] { Run(); });
    } catch (...) {
      // No thread: written here.
    }
  }
  void Run() {
    std::unique_lock lock(FLock);
    for (;;) {
      FWork.wait(lock, [&] { return FBusy || FQuit; });
      if (!FBusy) return;
      lock.unlock();
      std::exception_ptr error;
      if (!FError) {
        try {
          FFile.Write(FBlock);
        } catch (...) {
          error = std::current_exception();
        }
      }
      FBlock.clear();
      lock.lock();
      if (error) FError = error;
      FBusy = false;
      FIdle.notify_all();
    }
  }
  void Stop() {
    if (!FThread.joinable()) return;
    {
      std::unique_lock lock(FLock);
      FIdle.wait(lock, [&] { return !FBusy; });
      FQuit = true;
    }
    FWork.notify_one();
    FThread.join();
  }

  TAtomicFileWriter& FFile;
  std::mutex FLock;
  std::condition_variable FWork, FIdle;
  std::string FBlock;  // the block in flight, or the empty one to hand back next
  bool FBusy = false, FQuit = false, FStarted = false;
  std::exception_ptr FError;
  std::thread FThread;
};

// The file's text, made in order into AOut. With a file, AOut is a block handed to the
// file whenever it fills, so the disk works while the rest is made and a chat of hundreds
// of megabytes is never held twice; without one, AOut becomes the whole text.
class TChatFileText {
 public:
  static constexpr std::size_t kBlock = 1 << 20;

  TChatFileText(std::string& AOut, TAtomicFileWriter* AFile) : FOut(AOut), FFile(AFile) {
    if (FFile) FBlocks.emplace(*FFile);
  }

  void Raw(std::string_view AText) { FOut += AText; }
  void String(std::string_view AText) {
    FOut += '"';
    AppendJsonEscaped(FOut, AText);
    FOut += '"';
    Spill();
  }
  // Attachments: escaped straight into the block, a piece at a time. Data read from a
  // foreign file may hold anything; from the first character outside Base64 on, the
  // rest is escaped in full, which gives the same text as escaping it all so.
  // Each piece is escaped into a small buffer that stays in the cache and appended from
  // there (making room in the block itself would first fill it with zeros).
  void Base64String(std::string_view AData) {
    constexpr std::size_t kPiece = 32 * 1024;
    FOut += '"';
    if (!AData.empty() && !FPiece) FPiece = std::make_unique<char[]>(2 * kPiece);
    while (!AData.empty()) {
      const std::size_t piece = std::min(AData.size(), kPiece);
      std::size_t written = 0;
      const std::size_t copied = Base64ToJsonString(AData.substr(0, piece), FPiece.get(), written);
      FOut.append(FPiece.get(), written);
      AData.remove_prefix(copied);
      if (copied < piece) {
        AppendJsonEscaped(FOut, AData);
        break;
      }
      Spill();
    }
    FOut += '"';
    Spill();
  }
  void Finish() {
    if (!FFile) return;
    FBlocks->Drain();
    FFile->Write(FOut);
    FOut.clear();
  }

 private:
  void Spill() {
    if (FFile && FOut.size() >= kBlock) FBlocks->Hand(FOut);
  }
  std::string& FOut;
  TAtomicFileWriter* FFile;
  std::unique_ptr<char[]> FPiece;
  std::optional<TBlockWriter> FBlocks;  // with a file
};

// A model turn's thoughts and sources, after the turn's other members; a turn without
// them is written as it always was.
void WriteTurnExtras(const THistoryItem& AItem, TChatFileText& AOut) {
  if (!AItem.Thoughts.empty()) {
    AOut.Raw(",\"thoughts\":");
    AOut.String(AItem.Thoughts);
    if (AItem.ThoughtsTokens > 0) AOut.Raw(",\"thoughts_token_count\":" + std::to_string(AItem.ThoughtsTokens));
  }
  const TGrounding& g = AItem.Grounding;
  if (g.empty()) return;
  AOut.Raw(",\"grounding\":{\"sources\":[");
  for (std::size_t i = 0; i < g.Sources.size(); ++i) {
    AOut.Raw(i == 0 ? "{\"title\":" : ",{\"title\":");
    AOut.String(g.Sources[i].Title);
    AOut.Raw(",\"uri\":");
    AOut.String(g.Sources[i].Uri);
    AOut.Raw("}");
  }
  AOut.Raw("],\"supports\":[");
  for (std::size_t i = 0; i < g.Supports.size(); ++i) {
    const TGroundingSupport& support = g.Supports[i];
    std::string text = i == 0 ? "{" : ",{";
    text += "\"start_index\":" + std::to_string(support.StartIndex) + ",\"end_index\":" +
            std::to_string(support.EndIndex) + ",\"sources\":[";
    for (std::size_t j = 0; j < support.Sources.size(); ++j) text += (j ? "," : "") + std::to_string(support.Sources[j]);
    AOut.Raw(text + "]}");
  }
  AOut.Raw("],\"queries\":[");
  for (std::size_t i = 0; i < g.Queries.size(); ++i) {
    if (i > 0) AOut.Raw(",");
    AOut.String(g.Queries[i]);
  }
  AOut.Raw("]}");
}

void MakeChatFileText(const TChatHistory& AHistory, TChatFileText& AOut) {
  AOut.Raw(kUtf8Bom);
  AOut.Raw("{\"contents\":[");
  for (std::size_t i = 0; i < AHistory.size(); ++i) {
    const THistoryItem& item = AHistory[i];
    AOut.Raw(i == 0 ? "{\"role\":" : ",{\"role\":");
    AOut.String(item.Role);
    AOut.Raw(",\"parts\":[");
    for (std::size_t j = 0; j < item.Parts.size(); ++j) {
      const TContentPart& part = item.Parts[j];
      if (j > 0) AOut.Raw(",");
      if (part.PartType == TPartType::ptInlineData) {
        AOut.Raw("{\"inline_data\":{\"mime_type\":");
        AOut.String(part.MimeType);
        AOut.Raw(",\"data\":");
        AOut.Base64String(part.Base64Data.view());
        AOut.Raw("}");
        if (!part.FileName.empty()) {
          AOut.Raw(",\"file_name\":");
          AOut.String(part.FileName);
        }
        // Where the service holds it (Files API), beside the data that keeps the chat whole.
        if (!part.FileUri.empty()) {
          AOut.Raw(",\"file_uri\":");
          AOut.String(part.FileUri);
          AOut.Raw(",\"file_expires\":");
          AOut.String(part.FileExpires);
        }
      } else {
        AOut.Raw("{\"text\":");
        AOut.String(part.Text);
      }
      AOut.Raw("}");
    }
    AOut.Raw("]");
    if (item.TokenCount > 0) {
      AOut.Raw(",\"token_count\":");
      AOut.Raw(std::to_string(item.TokenCount));
    }
    if (item.Timestamp > 0) {
      AOut.Raw(",\"timestamp\":");
      AOut.String(FormatIsoTimestamp(item.Timestamp));
    }
    if (!item.ModelName.empty()) {
      AOut.Raw(",\"model_name\":");
      AOut.String(item.ModelName);
    }
    if (!item.Duration.empty()) {
      AOut.Raw(",\"duration\":");
      AOut.String(item.Duration);
    }
    WriteTurnExtras(item, AOut);
    AOut.Raw("}");
  }
  AOut.Raw("]}");
  AOut.Finish();
}

}  // namespace

std::string ChatFileContent(const TChatHistory& AHistory) {
  std::string out;
  out.reserve(EstimateSize(AHistory));
  TChatFileText text(out, nullptr);
  MakeChatFileText(AHistory, text);
  return out;
}

void WriteChatFile(const std::string& AFileName, const TChatHistory& AHistory) {
  TAtomicFileWriter file(PathFromUtf8(AFileName));
  std::string block;
  // A block, the largest piece an attachment adds at once, and the turn's small members.
  block.reserve(TChatFileText::kBlock + 256 * 1024);
  TChatFileText text(block, &file);
  MakeChatFileText(AHistory, text);
  file.Commit();
}

void ParseChatFileText(std::string_view AText, TChatHistory& AHistory, std::int32_t& ATokens) {
  if (AText.starts_with(kUtf8Bom)) AText.remove_prefix(kUtf8Bom.size());
  std::size_t turns = 0;
  ParseText(AText, false, AHistory, ATokens, turns);
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
