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

// A file size limit makes the write fail part-way, as a full disk does: within the first
// piece of a small chat, and after several pieces of a big one are on the disk.
TEST(ChatFileFullDisk, AWriteThatFailsMidwayKeepsTheOldFile) {
  TTestFolder FFolder;
  TContentPart oldText, newText, attachment;
  oldText.Text = "old chat";
  newText.Text = std::string(200000, 'n');
  attachment.PartType = TPartType::ptInlineData;
  attachment.MimeType = "application/pdf";
  attachment.Base64Data = TSharedText(std::string(6'000'000, 'A'));
  THistoryItem oldTurn, newTurn, bigTurn;
  oldTurn.Role = newTurn.Role = bigTurn.Role = "user";
  oldTurn.Parts = {oldText};
  newTurn.Parts = {newText};
  bigTurn.Parts = {newText, attachment};
  const TChatHistory FOld = {oldTurn};
  struct Case {
    const char* Name;
    TChatHistory New;
    rlim_t Limit;
  } cases[] = {
      {"a small chat", {newTurn}, 65536},
      {"a big chat", {bigTurn}, 3'500'000},
  };
  for (const Case& c : cases) {
    const std::string path = FFolder.File("chat.json");
    WriteChatFile(path, FOld);
    const std::string before = FFolder.Read("chat.json");

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = c.Limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool raised = false;
    try {
      WriteChatFile(path, c.New);
    } catch (const TFileError&) {
      raised = true;
    }
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);

    EXPECT_TRUE(raised) << c.Name;
    EXPECT_EQ(FFolder.Read("chat.json"), before) << c.Name;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FFolder.Path()), {}), 1) << c.Name;
    WriteChatFile(path, c.New);
    EXPECT_TRUE(FFolder.Read("chat.json") == ChatFileContent(c.New)) << c.Name;
  }
}

}  // namespace
}  // namespace tarvok
