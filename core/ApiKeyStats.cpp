#include "core/ApiKeyStats.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "core/DateTime.h"
#include "core/Files.h"
#include "core/Platform.h"
#include "core/Text.h"

namespace tarvok {
namespace {

enum class TFileEncoding { Legacy, Utf8, Utf16LE, Utf16BE };

struct TStatsFile {
  TFileEncoding Encoding = TFileEncoding::Legacy;
  std::vector<std::string> Lines;  // UTF-8
};

bool IsReservedDeviceName(std::string_view name) {
  // Windows opens these as devices whatever the extension, so "CON.txt" is no file.
  const std::string upper = [&] {
    std::string s(name.substr(0, name.find('.')));
    for (char& c : s) if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
  }();
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
  return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' && upper[3] <= '9';
}

// The key becomes a file name, so it must stay inside ApiStats on every system.
bool IsSafeFileName(std::string_view key) {
  if (key == "." || key == "..") return false;
  for (unsigned char c : key)
    if (c < 0x20 || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
      return false;
  return !IsReservedDeviceName(key);
}


// Lines end at CR LF, LF or CR; a last line without an end still counts.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

// A file with a byte-order mark is read (and later written) in its encoding; one
// without is in the legacy code page, as the program writes it.
TStatsFile DecodeStatsFile(std::string_view bytes) {
  TStatsFile file;
  std::string text;
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    file.Encoding = TFileEncoding::Utf8;
    text = MakeValidUtf8(bytes.substr(3));
  } else if (bytes.starts_with("\xFF\xFE")) {
    file.Encoding = TFileEncoding::Utf16LE;
    text = Utf16BytesToUtf8(bytes.substr(2), false);
  } else if (bytes.starts_with("\xFE\xFF")) {
    file.Encoding = TFileEncoding::Utf16BE;
    text = Utf16BytesToUtf8(bytes.substr(2), true);
  } else {
    text = DecodeLegacyCodePage(bytes);
  }
  file.Lines = SplitLines(text);
  return file;
}

std::string EncodeStatsFile(const TStatsFile& file) {
  std::string text;
  for (const std::string& line : file.Lines) text += line + "\r\n";
  switch (file.Encoding) {
    case TFileEncoding::Legacy: {
      std::string bytes = EncodeLegacyCodePage(text);
      // A model name the code page cannot hold would come back as another name ("gemini-???"):
      // such a file is written as UTF-8 with a byte-order mark, which reading takes as well.
      if (DecodeLegacyCodePage(bytes) != text) bytes = std::string(kUtf8Bom) + text;
      return bytes;
    }
    case TFileEncoding::Utf8: return std::string(kUtf8Bom) + text;
    case TFileEncoding::Utf16LE: return "\xFF\xFE" + Utf8ToUtf16Bytes(text, false);
    case TFileEncoding::Utf16BE: return "\xFE\xFF" + Utf8ToUtf16Bytes(text, true);
  }
  return text;
}

// The integer of a field, or 0 when it is not one.
int FieldToInt(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) { negative = s[0] == '-'; s.remove_prefix(1); }
  if (s.empty()) return 0;
  long long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
    if (v > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return 0;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min()) return 0;
  return static_cast<int>(v);
}

bool IsBlank(unsigned char c) { return c >= 1 && c <= ' '; }

// A model name that would split (a blank, ';' or a quote in it) is written quoted, so
// that its line still reads as three fields and its count goes on.
std::string FieldText(std::string_view value) {
  bool plain = true;
  for (unsigned char c : value) plain = plain && c > ' ' && c != ';' && c != '"';
  if (plain) return std::string(value);
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}


}  // namespace

std::vector<std::string> SplitDelimitedLine(std::string_view ALine) {
  std::vector<std::string> fields;
  // A NUL ends the text, as it ends a C string.
  ALine = ALine.substr(0, ALine.find('\0'));
  std::size_t p = 0;
  const std::size_t n = ALine.size();
  auto at = [&](std::size_t i) -> unsigned char { return i < n ? static_cast<unsigned char>(ALine[i]) : 0; };
  while (IsBlank(at(p))) ++p;
  while (p < n) {
    std::string field;
    if (at(p) == '"') {
      ++p;
      while (p < n) {
        if (at(p) == '"') {
          if (at(p + 1) == '"') { field += '"'; p += 2; continue; }
          ++p;
          break;
        }
        field += ALine[p++];
      }
    } else {
      const std::size_t start = p;
      while (at(p) > ' ' && at(p) != ';') ++p;
      field.assign(ALine.substr(start, p - start));
    }
    fields.push_back(std::move(field));
    while (IsBlank(at(p))) ++p;
    if (at(p) == ';') {
      if (p + 1 >= n) fields.emplace_back();
      do ++p; while (IsBlank(at(p)));
    }
  }
  return fields;
}

std::filesystem::path ApiStatsDir() { return ProgramDir() / "ApiStats"; }

TDateTime GetStatsDay() {
  const TDateTimeParts now = DecodeDateTime(Now());
  const TDateTime date = EncodeDateTime({now.Year, now.Month, now.Day});
  return now.Hour > 10 ? date : date - 1;
}

namespace {

// The counter files as they are to be. A count is made in memory at once; one background
// thread writes each changed file in the order they changed, taking its newest content, and
// replaces it atomically, flushed to disk. A count after a quiet spell is written at once;
// in a burst the writes are spaced out, each taking every count since the last, so that a
// burst of requests costs a few flushes to disk, not one each. Until a file's newest content
// is written, reads and further counts use it instead of the disk.
class TCounterWriter {
 public:
  struct TCounted {
    int Count = -1;
    std::uint64_t Version = 0;
  };

  // Never destroyed: a worker may still count while the process ends. What was counted
  // before the end of main is written at exit.
  static TCounterWriter& Instance() {
    static TCounterWriter* writer = [] {
      auto* w = new TCounterWriter;
      std::atexit([] { Instance().Flush(); });
      return w;
    }();
    return *writer;
  }

  // The file's content as the counts so far make it ("" when there is no file yet), or
  // nullopt when it cannot be read.
  std::optional<std::string> Content(const std::filesystem::path& APath) {
    std::lock_guard lock(FLock);
    return ContentLocked(APath);
  }

  // Replaces the content by AChange(old content) -> {new content, count}; the count is made
  // now, the file is written later.
  template <class TChange>
  TCounted Count(const std::filesystem::path& APath, TChange AChange) {
    std::unique_lock lock(FLock);
    const auto old = ContentLocked(APath);
    if (!old) return {};
    auto [bytes, count] = AChange(*old);
    TPending& pending = FPending[APath];
    pending.Bytes = std::move(bytes);
    pending.Version = ++FVersion;
    if (!pending.Queued) {
      pending.Queued = true;
      FQueue.push_back(APath);
    }
    const TCounted counted{count, pending.Version};
    if (!FRunning) {
      try {
        std::thread([this] { Run(); }).detach();
        FRunning = true;
      } catch (...) {
        // No thread to be had: this count writes its file itself.
        while (!FQueue.empty()) WriteNext(lock);
      }
    }
    // No wake: a writer already running takes this count at its next write (at once after a
    // quiet spell); waking it per request would only cost a thread switch.
    return counted;
  }

  // Waits until the count of AVersion is in the file or its write has failed.
  bool WaitWritten(const std::filesystem::path& APath, std::uint64_t AVersion) {
    std::unique_lock lock(FLock);
    ++FWaiting;
    FWork.notify_one();
    FSettled.wait(lock, [&] { return FOutcome[APath].Version >= AVersion; });
    --FWaiting;
    return FOutcome[APath].Written;
  }

  bool Flush() {
    std::unique_lock lock(FLock);
    FHeld = false;
    ++FWaiting;
    FWork.notify_one();
    FSettled.wait(lock, [&] { return FPending.empty(); });
    --FWaiting;
    return !std::exchange(FFailed, false);
  }

  void Hold(bool AHold) {
    std::lock_guard lock(FLock);
    FHeld = AHold;
    FWork.notify_one();
  }

 private:
  static constexpr std::chrono::milliseconds kWriteSpacing{50};

  struct TPending {
    std::string Bytes;
    std::uint64_t Version = 0;  // of the newest count in Bytes
    bool Queued = false;        // Bytes changed since the writer last took them
  };
  struct TOutcome {
    std::uint64_t Version = 0;  // every count up to this one is settled
    bool Written = false;
  };

  TCounterWriter() = default;

  std::optional<std::string> ContentLocked(const std::filesystem::path& APath) {
    if (const auto it = FPending.find(APath); it != FPending.end()) return it->second.Bytes;
    std::error_code ec;
    if (!std::filesystem::exists(APath, ec)) return std::string();
    return ReadWholeFile(APath);
  }

  // Runs while there is something to write; the next count starts it again.
  void Run() {
    std::unique_lock lock(FLock);
    while (!FQueue.empty()) {
      FWork.wait(lock, [&] { return !FHeld; });
      if (FWork.wait_until(lock, FLastWrite + kWriteSpacing, [&] { return FHeld || FWaiting > 0; }) && FHeld) continue;
      FLastWrite = std::chrono::steady_clock::now();
      for (std::size_t n = FQueue.size(); n > 0 && !FQueue.empty(); --n) WriteNext(lock);
    }
    FRunning = false;
  }

  // Writes the file first in the queue, without the lock held while the disk works.
  void WriteNext(std::unique_lock<std::mutex>& ALock) {
    const std::filesystem::path path = std::move(FQueue.front());
    FQueue.pop_front();
    TPending& taken = FPending.at(path);
    taken.Queued = false;
    const std::string bytes = taken.Bytes;
    const std::uint64_t version = taken.Version;
    bool written = true;
    ALock.unlock();
    try {
      WriteFileAtomic(path, bytes);
    } catch (...) {
      written = false;
    }
    ALock.lock();
    // Only this function removes an entry, so it is still there.
    const auto it = FPending.find(path);
    if (written) {
      FOutcome[path] = {version, true};
      if (it->second.Version == version) FPending.erase(it);
    } else if (!it->second.Queued) {
      // The disk holds what it held before: the counts that did not reach it are gone, as
      // they would be had each request written the file itself, and reads show the file.
      FOutcome[path] = {version, false};
      FPending.erase(it);
      FFailed = true;
    }
    // (A failed write with newer counts queued is settled by the next write, which holds them all.)
    FSettled.notify_all();
  }

  std::mutex FLock;
  std::condition_variable FWork;     // a file was queued or the hold released
  std::condition_variable FSettled;  // a write finished
  std::map<std::filesystem::path, TPending> FPending;
  std::deque<std::filesystem::path> FQueue;  // files to write, in the order they changed
  std::map<std::filesystem::path, TOutcome> FOutcome;
  std::chrono::steady_clock::time_point FLastWrite;  // when the writes last began
  int FWaiting = 0;                                  // callers waiting for the disk: no gathering
  std::uint64_t FVersion = 0;
  bool FFailed = false;
  bool FHeld = false;
  bool FRunning = false;  // a writer thread is on its way
};

// The file of a key, or an empty path for a key that cannot name a file.
std::filesystem::path StatsFilePath(const std::string& AKey) {
  if (!IsSafeFileName(AKey)) return {};
  return ApiStatsDir() / PathFromUtf8(AKey + ".txt");
}

// The file's content with one request more for AModel on the day ADay, and the new count.
std::pair<std::string, int> AddOneRequest(std::string_view ABytes, const std::string& ADay, const std::string& AModel) {
  TStatsFile file = DecodeStatsFile(ABytes);
  std::vector<std::string> kept;
  std::vector<std::vector<std::string>> keptFields;
  for (const std::string& line : file.Lines) {
    auto fields = SplitDelimitedLine(line);
    if (fields.size() != 3 || fields[0] != ADay) continue;
    kept.push_back(line);
    keptFields.push_back(std::move(fields));
  }
  int count = 1;
  std::size_t i = 0;
  while (i < kept.size() && !SameTextNoCase(keptFields[i][1], AModel)) ++i;
  if (i < kept.size()) {
    const int previous = FieldToInt(keptFields[i][2]);
    count = previous == std::numeric_limits<int>::max() ? previous : previous + 1;
  }
  std::string line = ADay + ";" + FieldText(AModel) + ";" + std::to_string(count);
  if (i < kept.size()) kept[i] = std::move(line);
  else kept.push_back(std::move(line));
  file.Lines = std::move(kept);
  return {EncodeStatsFile(file), count};
}

// Counts one request in memory: the new count and its version, Count -1 on empty input or
// an unusable key or file.
TCounterWriter::TCounted CountInMemory(const std::string& AKey, const std::string& AModel, std::filesystem::path& APath) {
  if (Trim(AKey).empty() || Trim(AModel).empty()) return {};
  try {
    APath = StatsFilePath(AKey);
    if (APath.empty()) return {};
    std::error_code ec;
    CreatePrivateDirectories(APath.parent_path(), ec);
    if (ec) return {};
    const std::string day = FormatDateTime("yyyy-mm-dd", GetStatsDay());
    return TCounterWriter::Instance().Count(APath, [&](const std::string& AOld) { return AddOneRequest(AOld, day, AModel); });
  } catch (...) {
    return {};
  }
}

}  // namespace

int GetRequestCount(const std::string& AKey, const std::string& AModel) {
  if (Trim(AKey).empty() || Trim(AModel).empty()) return -1;
  try {
    const std::filesystem::path path = StatsFilePath(AKey);
    if (path.empty()) return -1;
    const std::string day = FormatDateTime("yyyy-mm-dd", GetStatsDay());
    const auto bytes = TCounterWriter::Instance().Content(path);
    if (!bytes) return -1;
    for (const std::string& line : DecodeStatsFile(*bytes).Lines) {
      const auto fields = SplitDelimitedLine(line);
      if (fields.size() == 3 && fields[0] == day && SameTextNoCase(fields[1], AModel)) return FieldToInt(fields[2]);
    }
    return 0;
  } catch (...) {
    return -1;
  }
}

int CountRequest(const std::string& AKey, const std::string& AModel) {
  std::filesystem::path path;
  return CountInMemory(AKey, AModel, path).Count;
}

int IncrementRequestCount(const std::string& AKey, const std::string& AModel) {
  std::filesystem::path path;
  const TCounterWriter::TCounted counted = CountInMemory(AKey, AModel, path);
  if (counted.Count < 0) return -1;
  return TCounterWriter::Instance().WaitWritten(path, counted.Version) ? counted.Count : -1;
}

bool FlushRequestCounts() { return TCounterWriter::Instance().Flush(); }

void HoldRequestCountWrites(bool AHold) { TCounterWriter::Instance().Hold(AHold); }

}  // namespace tarvok
