// A full disk, made with a file size limit (POSIX only).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "core/Files.h"
#include "storage/ChatFile.h"
#include "TestFolder.h"

namespace tarvok {
namespace {

using test::TTestFolder;

TEST(ChatFileFullDisk, AWriteThatFailsMidwayKeepsTheOldFile) {
  TTestFolder FFolder;
  TContentPart oldText, newText;
  oldText.Text = "old chat";
  newText.Text = std::string(200000, 'n');
  THistoryItem oldTurn, newTurn;
  oldTurn.Role = newTurn.Role = "user";
  oldTurn.Parts = {oldText};
  newTurn.Parts = {newText};
  const TChatHistory FOld = {oldTurn}, FNew = {newTurn};
  const std::string path = FFolder.File("chat.json");
  WriteChatFile(path, FOld);
  const std::string before = FFolder.Read("chat.json");

  // A file size limit makes the write fail part-way, as a full disk does.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit limited = old;
  limited.rlim_cur = 65536;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  bool raised = false;
  try {
    WriteChatFile(path, FNew);
  } catch (const TFileError&) {
    raised = true;
  }
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);

  EXPECT_TRUE(raised);
  EXPECT_EQ(FFolder.Read("chat.json"), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FFolder.Path()), {}), 1);
  WriteChatFile(path, FNew);
  EXPECT_EQ(FFolder.Read("chat.json"), ChatFileContent(FNew));
}

}  // namespace
}  // namespace tarvok
