#pragma once
// The chat library on disk: main chat files in "chats" beside the executable, their
// parts in "chats/subchats". Plain decisions (naming, listing, sorting, what a deletion
// touches) live here; the window only shows the results. Paths are UTF-8 strings.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "core/Types.h"

namespace tarvok {

// One entry of the chat list or the parts list: the text shown and the file's full path.
struct TChatEntry {
  std::string Text;
  std::string Path;
  friend bool operator==(const TChatEntry&, const TChatEntry&) = default;
};

inline constexpr std::string_view kChatsFolder = "chats";
inline constexpr std::string_view kSubchatsFolder = "subchats";
inline constexpr std::string_view kNewChatEntry = "<Новый чат>";
inline constexpr std::string_view kFirstPartEntry = "Начало";

std::string ChatsDir();     // ProgramDir()/chats
std::string SubchatsDir();  // ProgramDir()/chats/subchats
// Creates both folders (and missing parents); raises TFileError on failure.
void CreateChatFolders();

// Control characters and \"*/:<>?\\| become "_", blanks are trimmed, an empty result is
// "part"; "." and ".." become "_" and "__" so that the result never names a folder.
std::string MakeSafeFileName(std::string_view AText);
// The list text of a chat file name (no folder): no extension, cut before the first
// "_20" unless it starts the name, "_" shown as " ".
std::string ChatDisplayName(std::string_view AFileName);

// A main chat file and its creation time (nanoseconds since 1970, for ordering only).
struct TChatFileInfo {
  std::string Path;
  std::int64_t CreationDate = 0;
};
// Main chat files: *.json directly in "chats" whose name holds no "_part_", unordered.
std::vector<TChatFileInfo> ListChatFiles();
// The chat list's entries for those files, newest first (equal times by path).
std::vector<TChatEntry> ChatListEntries(std::vector<TChatFileInfo> AFiles);
// Both together (creates "chats" when missing).
std::vector<TChatEntry> LoadChatList();
// The file's creation time (birth time where the file system keeps one, else the
// modification time) as nanoseconds since 1970; 0 when it cannot be read.
std::int64_t FileCreationTimeNs(const std::string& APath);
// The time stamp a chat's name ends with ("…_yyyy-mm-dd_hhnnss.json", local time); false
// for a name without a valid one.
bool ChatNameStamp(std::string_view AFileName, TDateTimeParts& AStamp);
// When a chat was made, as nanoseconds since 1970, for the order of the chat list. A save
// must not move a chat: on Windows the file keeps its creation time across saves; on
// POSIX, where every save is a new file, the stamp in the chat's name is taken when it has
// one, the file time otherwise.
std::int64_t ChatCreationTimeNs(const std::string& APath);

// The path of a new chat's file: the first user text turn's text (first 50 UTF-16
// code units, made safe) or "chat", "_", ANow as "yyyy-mm-dd_hhnnss", ".json", in
// "chats". When a file of that name exists already, the stamp moves on by a second. A
// "_part_" the name would hold becomes "-part_", so the chat is never taken for a part.
std::string NewChatFilePath(const TChatHistory& AHistory, TDateTime ANow);

// The part files of a chat: files in "subchats" beside it named "<base>_part_*.json",
// sorted by full path without regard to case.
std::vector<std::string> ChatPartFiles(const std::string& AChatFile);
// The parts list: "Начало" with the chat file, then one entry per part file, "%d. %s"
// or "%d. (часть)". Empty when AChatFile is empty or does not exist.
std::vector<TChatEntry> FillPartsList(const std::string& AChatFile);
// The list text of a part file name (no folder), APosition counted from 1; empty when
// the name holds no "_part_".
std::string PartDisplayName(std::string_view AFileName, int APosition);

// The path of a new part file: "<base>_part_%.2d_<safe title>.json" in "subchats"
// beside the chat file. A title too long for a file name is cut. While a file of that
// name exists, the number moves on.
std::string NewPartFilePath(const std::string& AChatFile, int ANumber, std::string_view ATitle);
// Writes the empty history document of a new part (atomically; raises TFileError).
void WriteEmptyPartFile(const std::string& APath);

// What a file looked like when it was last read or written, enough to see that someone else
// wrote it since: its size and modification time.
struct TFileStamp {
  bool Exists = false;
  std::uintmax_t Size = 0;
  std::int64_t ModifiedNs = 0;
  friend bool operator==(const TFileStamp&, const TFileStamp&) = default;
};
TFileStamp FileStampOf(const std::string& APath);

// True when ACurrentFile is the chat file itself or one of its part files.
bool IsFileOfChat(const std::string& ACurrentFile, const std::string& AChatFile);
// Deletes the chat's part files and then its main file. Only files directly in the
// "chats" folder and its "subchats" are touched; names are matched literally (never as
// a wildcard pattern). Raises TFileError on the first failure; what was deleted stays so.
void DeleteChatFiles(const std::string& AChatFile);
// Deletes the "chats" folder with everything in it and creates it and "subchats" again.
// False when "chats" does not exist (nothing done); raises TFileError on failure.
bool DeleteAllChatFiles();

}  // namespace tarvok
