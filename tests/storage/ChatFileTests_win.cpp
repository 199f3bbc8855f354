// Saving over an existing chat file on Windows.
#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/Files.h"
#include "storage/ChatFile.h"
#include "storage/ChatLibrary.h"
#include "TestFolder.h"

namespace tarvok {
namespace {

std::int64_t NowNs() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  return (static_cast<std::int64_t>(t.QuadPart) - 116444736000000000LL) * 100;
}

TEST(WindowsChatFileSave, ReplacesTheFileAndKeepsItsCreationTime) {
  test::TTestFolder folder;
  THistoryItem turn;
  turn.Role = "user";
  turn.Parts.resize(1);
  turn.Parts[0].Text = "old chat";
  const std::string path = folder.File("chat.json");
  WriteChatFile(path, {turn});
  const std::int64_t created = FileCreationTimeNs(path);
  ASSERT_GT(created, 0);
  while (NowNs() < created + 50'000'000) ::Sleep(10);  // until a new file would get a later time

  turn.Parts[0].Text = "new chat";
  WriteChatFile(path, {turn});
  EXPECT_EQ(folder.Read("chat.json"), ChatFileContent({turn}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1) << "a temporary file was left";

  if (test::RunningUnderWine())
    GTEST_SKIP() << "Wine keeps no creation time across a replace (its ReplaceFileW renames)";
  EXPECT_EQ(FileCreationTimeNs(path), created) << "the save gave the chat a new creation time";
}

}  // namespace
}  // namespace tarvok
