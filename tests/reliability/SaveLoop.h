#pragma once
// The files the save loop writes and the exact content of each version of them, shared
// by the helper program that saves them and the tests that kill it. Version N of every
// file is written through the program's own save functions, so "a whole version" means
// exactly the bytes the program writes for N.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/IniFile.h"
#include "app/ListFile.h"
#include "core/ApiKeyStats.h"
#include "core/Files.h"
#include "core/Platform.h"
#include "storage/ChatFile.h"
#include "storage/ChatLibrary.h"

namespace tarvok::saveloop {

enum class TKind { Chat, Settings, List, Counter };

struct TSavedFile {
  const char* Path;  // relative to the program folder
  TKind Kind;
};

inline constexpr const char* kCounterKey = "key-a";
inline constexpr const char* kCounterModel = "gemini-2.5-flash";

inline const std::vector<TSavedFile>& SavedFiles() {
  static const std::vector<TSavedFile> files = {
      {"chats/Первый чат_2025-03-14_100000.json", TKind::Chat},
      {"chats/second_2025-03-14_100001.json", TKind::Chat},
      {"chats/subchats/Первый чат_2025-03-14_100000_part_01_Итоги.json", TKind::Chat},
      {"config.ini", TKind::Settings},
      {"Keys.txt", TKind::List},
      {"Models.txt", TKind::List},
      {"ApiStats/key-a.txt", TKind::Counter},
  };
  return files;
}

// Sizes change from version to version, so a torn write cannot pass for a whole one.
inline std::string Filler(std::int64_t ARound, std::size_t ABase) {
  return std::string(ABase + static_cast<std::size_t>(ARound % 97) * 1024, static_cast<char>('a' + ARound % 26));
}

inline TChatHistory ChatVersion(std::int64_t ARound) {
  THistoryItem user{"user", {{TPartType::ptText, "round " + std::to_string(ARound), "", {}, ""}}, 3, 45000.5, "", ""};
  THistoryItem model{"model", {{TPartType::ptText, "Ответ " + Filler(ARound, 20000), "", {}, ""}}, 9, 45000.6,
                     "gemini-2.5-flash", "4"};
  return {user, model};
}

inline TListFile ListVersion(std::int64_t ARound, bool AUtf16) {
  TListFile list;
  list.Encoding = AUtf16 ? TListEncoding::Utf16LE : TListEncoding::Legacy;
  list.Lines = {"round " + std::to_string(ARound)};
  const std::string tail(static_cast<std::size_t>(5 + ARound % 13), static_cast<char>('a' + ARound % 26));
  for (int i = 0; i < 200 + ARound % 50; ++i) list.Lines.push_back("entry " + std::to_string(i) + " " + tail);
  return list;
}

// Saves version ARound of one file through the program's save functions (the counter
// file instead gains one request, counted as a request counts it: written in the background).
inline void Save(const TSavedFile& AFile, std::int64_t ARound) {
  const std::filesystem::path path = ProgramDir() / PathFromUtf8(AFile.Path);
  switch (AFile.Kind) {
    case TKind::Chat: WriteChatFile(PathToUtf8(path), ChatVersion(ARound)); break;
    case TKind::Settings: {
      TIniFile ini(path);
      ini.WriteString("Settings", "Round", std::to_string(ARound));
      ini.WriteString("Settings", "Filler", Filler(ARound, 3000));
      ini.UpdateFile();
      break;
    }
    case TKind::List: SaveListFile(path, ListVersion(ARound, path.filename() == "Models.txt")); break;
    case TKind::Counter: CountRequest(kCounterKey, kCounterModel); break;
  }
}

// The version a file's content is, when it is exactly a whole version the program
// writes; nullopt for anything else (torn, empty, foreign). For the counter file the
// version is its count.
inline std::optional<std::int64_t> VersionOf(const TSavedFile& AFile, const std::string& AContent) {
  const auto number = [](const std::string& text, const std::string& head) -> std::optional<std::int64_t> {
    if (!text.starts_with(head) || text.size() == head.size() || text.size() > head.size() + 18) return std::nullopt;
    std::int64_t n = 0;
    for (char c : text.substr(head.size())) {
      if (c < '0' || c > '9') return std::nullopt;
      n = n * 10 + (c - '0');
    }
    return n;
  };
  std::optional<std::int64_t> round;
  std::string expected;
  switch (AFile.Kind) {
    case TKind::Chat: {
      TChatHistory history;
      std::int32_t tokens = 0;
      ParseChatFileText(AContent, history, tokens);
      if (history.empty() || history.front().Parts.empty()) return std::nullopt;
      round = number(history.front().Parts.front().Text, "round ");
      if (round) expected = ChatFileContent(ChatVersion(*round));
      break;
    }
    case TKind::Settings: {
      const std::string head = "[Settings]\r\nRound=";
      const auto end = AContent.find("\r\n", head.size());
      if (end == std::string::npos) return std::nullopt;
      round = number(AContent.substr(0, end), head);
      if (round) expected = head + std::to_string(*round) + "\r\nFiller=" + Filler(*round, 3000) + "\r\n";
      break;
    }
    case TKind::List: {
      const bool utf16 = std::string_view(AFile.Path) == "Models.txt";
      const std::filesystem::path scratch = TempDir() / ("tarvok-saveloop-list-" + std::to_string(::getpid()));
      WriteFileAtomic(scratch, AContent);
      TListFile list;
      const bool read = LoadListFile(scratch, list);
      std::error_code ec;
      std::filesystem::remove(scratch, ec);
      if (!read || list.Lines.empty()) return std::nullopt;
      round = number(list.Lines.front(), "round ");
      if (!round) return std::nullopt;
      const TListFile want = ListVersion(*round, utf16);
      if (list.Lines != want.Lines || list.Encoding != want.Encoding) return std::nullopt;
      return round;
    }
    case TKind::Counter: {
      const auto fields = SplitDelimitedLine(AContent.substr(0, AContent.find("\r\n")));
      if (fields.size() != 3 || fields[1] != kCounterModel) return std::nullopt;
      round = number(fields[2], "");
      if (round) expected = fields[0] + ";" + kCounterModel + ";" + std::to_string(*round) + "\r\n";
      break;
    }
  }
  if (!round || AContent != expected) return std::nullopt;
  return round;
}

}  // namespace tarvok::saveloop
