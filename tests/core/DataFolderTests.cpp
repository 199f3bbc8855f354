// Where the program keeps its files: beside the executable unless that folder is read-only.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/DataFolder.h"
#include "core/Platform.h"
#include "tests/core/TempDir.h"

namespace tarvok {
namespace {

TEST(DataFolder, ProgramFolderUnlessReadOnlyAndEmptyOfOurFilesThenTheUsersDataFolder) {
  // Absolute on every system: the temporary folder is.
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  const std::filesystem::path program = base / "opt" / "tarvok";
  const std::filesystem::path root = base / "home" / "u" / ".local" / "share";
  struct {
    const char* Name;
    bool Holds;
    bool Writable;
    std::filesystem::path Root;
    std::filesystem::path Expected;
  } cases[] = {
      {"writable: today's place, whatever the environment", false, true, root, program},
      {"read-only, none of our files: the user's data root", false, false, root, root / "tarvok"},
      {"our files but no write goes through (full disk, quota): stays", true, false, root, program},
      {"read-only: no data root keeps the program folder", false, false, {}, program},
      {"read-only: a relative root is no root", false, false, "rel/data", program},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseDataDir(program, c.Holds, c.Writable, c.Root), c.Expected) << c.Name;
}

TEST(DataFolder, OurFilesAreTheOnesTheProgramWrites) {
  struct {
    const char* Name;
    const char* File;    // written as a file
    const char* Folder;  // made as a folder
    bool Holds;
  } cases[] = {
      {"settings", "config.ini", nullptr, true},
      {"chats", nullptr, "chats", true},
      {"request counters", nullptr, "ApiStats", true},
      {"key list", "Keys.txt", nullptr, true},
      {"model list", "Models.txt", nullptr, true},
      {"summary prompt", "HistoryNewPartPrompt.txt", nullptr, true},
      {"nothing", nullptr, nullptr, false},
      {"only the files shipped with the program", "AddKey.html", nullptr, false},
      {"a common name that may be anyone's", "log.txt", nullptr, false},
      {"a file where our folder would be", "chats", nullptr, false},
  };
  for (const auto& c : cases) {
    test::TTempDir dir;
    if (c.File) dir.Write(c.File, "x");
    if (c.Folder) std::filesystem::create_directory(dir.Path() / c.Folder);
    EXPECT_EQ(HoldsTarvokData(dir.Path()), c.Holds) << c.Name;
  }
}

TEST(DataFolder, TheXdgRuleForTheUsersDataRoot) {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  const std::string xdg = PathToUtf8(base / "x" / "data");
  const std::string home = PathToUtf8(base / "home" / "u");
  struct {
    const char* Name;
    std::string Xdg;
    std::string Home;
    std::filesystem::path Expected;
  } cases[] = {
      {"XDG_DATA_HOME", xdg, home, base / "x" / "data"},
      {"no XDG_DATA_HOME: the home default", "", home, base / "home" / "u" / ".local" / "share"},
      {"a relative XDG_DATA_HOME is ignored", "rel/data", home, base / "home" / "u" / ".local" / "share"},
      {"no home at all: no root", "", "", {}},
      {"a relative home: no root", "", "rel/home", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(XdgDataRoot(c.Xdg, c.Home), c.Expected) << c.Name;
  // The running system's own root is absolute wherever there is one.
  const std::filesystem::path own = UserDataRoot();
  EXPECT_TRUE(own.empty() || own.is_absolute()) << PathToUtf8(own);
}

TEST(DataFolder, WritableIsTriedForRealAndLeavesNothingBehind) {
  test::TTempDir dir;
  EXPECT_TRUE(FolderWritable(dir.Path()));
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << "the probe file is removed";
  EXPECT_FALSE(FolderWritable(dir.Path() / "missing"));
  EXPECT_FALSE(FolderWritable(dir.Write("file.txt", "x")));
  // A folder nobody may create files in, root included.
  if (std::filesystem::is_directory("/proc/self")) {
    EXPECT_FALSE(FolderWritable("/proc/self"));
  }
}

}  // namespace
}  // namespace tarvok
