#include "storage/ChatLibrary.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "core/DateTime.h"
#include "core/Files.h"
#include "core/Platform.h"
#include "core/Text.h"

namespace tarvok {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPartInfix = "_part_";
constexpr std::string_view kJsonExt = ".json";
// Longest file name, in bytes, that the common file systems take (255), less room for
// the temporary name an atomic write uses beside it.
constexpr std::size_t kMaxFileNameBytes = 240;

bool EndsWithJson(std::string_view name) {
  if (name.size() < kJsonExt.size()) return false;
  std::string tail(name.substr(name.size() - kJsonExt.size()));
  for (char& c : tail)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return tail == kJsonExt;
}

std::string_view WithoutExtension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? name : name.substr(0, dot);
}

std::string FileNameOf(const fs::path& p) { return PathToUtf8(p.filename()); }

// Whether a file name is one of the part files of the chat whose name (without
// extension) is ABase: the literal prefix "<base>_part_" and ".json" at the end.
bool IsPartFileName(std::string_view name, std::string_view base) {
  return name.size() >= base.size() + kPartInfix.size() + kJsonExt.size() && name.starts_with(base) &&
         name.substr(base.size()).starts_with(kPartInfix) && EndsWithJson(name);
}

int ParseIntOrZero(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  int v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && end == s.data() + s.size() && !s.empty() ? v : 0;
}

std::string ReplaceUnderscores(std::string_view s) {
  std::string out(s);
  std::replace(out.begin(), out.end(), '_', ' ');
  return out;
}

[[noreturn]] void RaiseFileError(const std::string& AWhat, const fs::path& APath, const std::error_code& AError) {
  throw TFileError(AWhat + " " + PathToUtf8(APath) + ": " + AError.message());
}

bool SameFolder(const fs::path& a, const fs::path& b) {
  std::error_code ea, eb;
  const fs::path ca = fs::weakly_canonical(a, ea), cb = fs::weakly_canonical(b, eb);
  return !ea && !eb && ca == cb;
}

}  // namespace

std::string ChatsDir() { return PathToUtf8(ProgramDir() / PathFromUtf8(kChatsFolder)); }
std::string SubchatsDir() { return PathToUtf8(ProgramDir() / PathFromUtf8(kChatsFolder) / PathFromUtf8(kSubchatsFolder)); }

void CreateChatFolders() {
  std::error_code ec;
  const fs::path dir = PathFromUtf8(SubchatsDir());
  CreatePrivateDirectories(dir, ec);
  if (ec) RaiseFileError("Не удалось создать папку", dir, ec);
}

std::string MakeSafeFileName(std::string_view AText) {
  std::string out(AText);
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos) c = '_';
  }
  out = std::string(Trim(out));
  if (out.empty()) return "part";
  if (out == "." || out == "..") return std::string(out.size(), '_');
  return out;
}

std::string ChatDisplayName(std::string_view AFileName) {
  std::string_view name = WithoutExtension(AFileName);
  const std::size_t stamp = name.find("_20");
  if (stamp != std::string_view::npos && stamp > 0) name = name.substr(0, stamp);
  return ReplaceUnderscores(name);
}

std::vector<TChatFileInfo> ListChatFiles() {
  std::vector<TChatFileInfo> files;
  std::error_code ec;
  for (fs::directory_iterator it(PathFromUtf8(ChatsDir()), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = FileNameOf(it->path());
    std::error_code typeError;
    if (!EndsWithJson(name) || name.find(kPartInfix) != std::string::npos || !it->is_regular_file(typeError)) continue;
    const std::string path = PathToUtf8(it->path());
    files.push_back({path, ChatCreationTimeNs(path)});
  }
  return files;
}

bool ChatNameStamp(std::string_view AFileName, TDateTimeParts& AStamp) {
  // "_yyyy-mm-dd_hhnnss" right before the extension.
  constexpr std::string_view kPattern = "_dddd-dd-dd_dddddd";
  const std::string_view name = WithoutExtension(AFileName);
  if (name.size() < kPattern.size()) return false;
  const std::string_view stamp = name.substr(name.size() - kPattern.size());
  for (std::size_t i = 0; i < kPattern.size(); ++i) {
    const char c = stamp[i];
    if (kPattern[i] == 'd' ? (c < '0' || c > '9') : c != kPattern[i]) return false;
  }
  const auto number = [&](std::size_t at, std::size_t length) { return ParseIntOrZero(stamp.substr(at, length)); };
  TDateTimeParts p;
  p.Year = number(1, 4);
  p.Month = number(6, 2);
  p.Day = number(9, 2);
  p.Hour = number(12, 2);
  p.Minute = number(14, 2);
  p.Second = number(16, 2);
  p.Millisecond = 0;
  if (p.Year < 1 || p.Month < 1 || p.Month > 12 || p.Day < 1 || p.Day > 31 || p.Hour > 23 || p.Minute > 59 || p.Second > 59)
    return false;
  AStamp = p;
  return true;
}

std::vector<TChatEntry> ChatListEntries(std::vector<TChatFileInfo> AFiles) {
  std::sort(AFiles.begin(), AFiles.end(), [](const TChatFileInfo& a, const TChatFileInfo& b) {
    return a.CreationDate != b.CreationDate ? a.CreationDate > b.CreationDate : a.Path > b.Path;
  });
  std::vector<TChatEntry> entries;
  entries.reserve(AFiles.size());
  for (const TChatFileInfo& f : AFiles) entries.push_back({ChatDisplayName(FileNameOf(PathFromUtf8(f.Path))), f.Path});
  return entries;
}

std::vector<TChatEntry> LoadChatList() {
  std::error_code ec;
  CreatePrivateDirectories(PathFromUtf8(ChatsDir()), ec);
  return ChatListEntries(ListChatFiles());
}

std::string NewChatFilePath(const TChatHistory& AHistory, TDateTime ANow) {
  std::string source = "chat";
  for (const THistoryItem& item : AHistory) {
    if (item.Role == "user" && !item.Parts.empty() && item.Parts.front().PartType == TPartType::ptText) {
      source = item.Parts.front().Text;
      break;
    }
  }
  // The chat list takes names holding "_part_" for parts: a title such as "my_part_2" (or
  // one ending in "_part", which meets the stamp's "_") is broken up so the chat stays listed.
  std::string title = MakeSafeFileName(Utf16Left(source, 50)) + "_";
  for (std::size_t at = title.find(kPartInfix); at != std::string::npos; at = title.find(kPartInfix)) title[at] = '-';
  title.pop_back();
  const fs::path dir = PathFromUtf8(ChatsDir());
  // Two chats with one title started within a second would otherwise share a file.
  for (TDateTime stamp = ANow;; stamp += 1.0 / 86400.0) {
    const fs::path path = dir / PathFromUtf8(title + "_" + FormatDateTime("yyyy-mm-dd_hhnnss", stamp) + ".json");
    std::error_code ec;
    if (!fs::exists(path, ec)) return PathToUtf8(path);
  }
}

std::vector<std::string> ChatPartFiles(const std::string& AChatFile) {
  std::vector<std::string> parts;
  if (AChatFile.empty()) return parts;
  const fs::path chat = PathFromUtf8(AChatFile);
  const std::string base(WithoutExtension(FileNameOf(chat)));
  std::error_code ec;
  for (fs::directory_iterator it(chat.parent_path() / PathFromUtf8(kSubchatsFolder), ec), end; !ec && it != end;
       it.increment(ec)) {
    std::error_code typeError;
    if (IsPartFileName(FileNameOf(it->path()), base) && it->is_regular_file(typeError)) parts.push_back(PathToUtf8(it->path()));
  }
  std::vector<std::pair<std::string, std::string>> keyed;
  keyed.reserve(parts.size());
  for (std::string& p : parts) keyed.emplace_back(LowerCase(p), std::move(p));
  std::sort(keyed.begin(), keyed.end());
  parts.clear();
  for (auto& [key, path] : keyed) parts.push_back(std::move(path));
  return parts;
}

std::string PartDisplayName(std::string_view AFileName, int APosition) {
  const std::string_view name = WithoutExtension(AFileName);
  const std::size_t part = name.find(kPartInfix);
  if (part == std::string_view::npos) return {};
  const std::size_t numberStart = part + kPartInfix.size();
  const std::size_t underscore = name.find('_', numberStart);
  char buf[32];
  if (underscore == std::string_view::npos) {
    std::snprintf(buf, sizeof buf, "%d. ", APosition);
    return std::string(buf) + "(часть)";
  }
  std::snprintf(buf, sizeof buf, "%d. ", ParseIntOrZero(name.substr(numberStart, underscore - numberStart)));
  return buf + ReplaceUnderscores(name.substr(underscore + 1));
}

std::vector<TChatEntry> FillPartsList(const std::string& AChatFile) {
  std::vector<TChatEntry> entries;
  std::error_code ec;
  if (AChatFile.empty() || !fs::exists(PathFromUtf8(AChatFile), ec)) return entries;
  entries.push_back({std::string(kFirstPartEntry), AChatFile});
  int position = 0;
  for (const std::string& path : ChatPartFiles(AChatFile)) {
    ++position;
    std::string text = PartDisplayName(FileNameOf(PathFromUtf8(path)), position);
    if (!text.empty()) entries.push_back({std::move(text), path});
  }
  return entries;
}

std::string NewPartFilePath(const std::string& AChatFile, int ANumber, std::string_view ATitle) {
  const fs::path chat = PathFromUtf8(AChatFile);
  const std::string safeTitle = MakeSafeFileName(ATitle);
  // A number still in use (a part deleted from the middle leaves the count behind the
  // numbers) moves on, so a new part never replaces an existing one.
  for (int number = ANumber;; ++number) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.2d", number);
    const std::string head = std::string(WithoutExtension(FileNameOf(chat))) + std::string(kPartInfix) + digits + "_";
    std::string title = safeTitle;
    // A title as long as a paragraph would make a name the file system refuses; cut it
    // at a character boundary so the whole name fits.
    const std::size_t fixed = head.size() + kJsonExt.size();
    if (fixed < kMaxFileNameBytes && fixed + title.size() > kMaxFileNameBytes) {
      std::size_t cut = kMaxFileNameBytes - fixed;
      while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80) --cut;
      title.resize(cut);
      if (title.empty()) title = "part";
    }
    const fs::path path = chat.parent_path() / PathFromUtf8(kSubchatsFolder) / PathFromUtf8(head + title + std::string(kJsonExt));
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec)) || number == std::numeric_limits<int>::max()) return PathToUtf8(path);
  }
}

void WriteEmptyPartFile(const std::string& APath) {
  WriteFileAtomic(PathFromUtf8(APath), std::string(kUtf8Bom) + "{\"contents\":[]}");
}

TFileStamp FileStampOf(const std::string& APath) {
  TFileStamp stamp;
  std::error_code ec;
  const auto path = PathFromUtf8(APath);
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return stamp;
  const auto modified = std::filesystem::last_write_time(path, ec);
  if (ec) return stamp;
  stamp.Exists = true;
  stamp.Size = size;
  stamp.ModifiedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
  return stamp;
}

bool IsFileOfChat(const std::string& ACurrentFile, const std::string& AChatFile) {
  if (ACurrentFile.empty() || AChatFile.empty()) return false;
  const fs::path current = PathFromUtf8(ACurrentFile).lexically_normal();
  const fs::path chat = PathFromUtf8(AChatFile).lexically_normal();
  if (current == chat) return true;
  return current.parent_path() == chat.parent_path() / PathFromUtf8(kSubchatsFolder) &&
         IsPartFileName(FileNameOf(current), WithoutExtension(FileNameOf(chat)));
}

void DeleteChatFiles(const std::string& AChatFile) {
  const fs::path chat = PathFromUtf8(AChatFile);
  const fs::path chats = PathFromUtf8(ChatsDir());
  if (AChatFile.empty() || !SameFolder(chat.parent_path(), chats))
    throw TFileError("Файл " + AChatFile + " лежит вне папки чатов");
  const std::string base(WithoutExtension(FileNameOf(chat)));
  const fs::path subchats = chats / PathFromUtf8(kSubchatsFolder);
  std::error_code ec;
  // A "subchats" that is a link could lead anywhere: only a real folder is searched.
  if (fs::is_directory(fs::symlink_status(subchats, ec))) {
    std::vector<fs::path> parts;
    for (fs::directory_iterator it(subchats, ec), end; !ec && it != end; it.increment(ec))
      if (IsPartFileName(FileNameOf(it->path()), base)) parts.push_back(it->path());
    if (ec) RaiseFileError("Не удалось прочитать папку", subchats, ec);
    for (const fs::path& p : parts) {
      std::error_code removeError;
      fs::remove(p, removeError);
      if (removeError) RaiseFileError("Не удалось удалить файл", p, removeError);
    }
  }
  std::error_code removeError;
  fs::remove(chat, removeError);
  if (removeError) RaiseFileError("Не удалось удалить файл", chat, removeError);
}

bool DeleteAllChatFiles() {
  const fs::path chats = PathFromUtf8(ChatsDir());
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(chats, ec))) return false;
  // remove_all takes links away without following them.
  fs::remove_all(chats, ec);
  if (ec) RaiseFileError("Не удалось удалить папку", chats, ec);
  CreateChatFolders();
  return true;
}

}  // namespace tarvok
