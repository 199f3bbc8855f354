// Where the program keeps its files: beside the executable unless that folder is read-only.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/DataFolder.h"
#include "tests/core/TempDir.h"

namespace tarvok {
namespace {

TEST(DataFolder, ProgramFolderUnlessReadOnlyThenTheUsersDataFolder) {
  const std::filesystem::path program = "/opt/tarvok";
  struct {
    const char* Name;
    bool Writable;
    const char* Xdg;
    const char* Home;
    std::filesystem::path Expected;
  } cases[] = {
      {"writable: today's place, whatever the environment", true, "/x/data", "/home/u", program},
      {"read-only: XDG_DATA_HOME", false, "/x/data", "/home/u", "/x/data/tarvok"},
      {"read-only: no XDG_DATA_HOME, the home default", false, "", "/home/u", "/home/u/.local/share/tarvok"},
      {"read-only: a relative XDG_DATA_HOME is ignored", false, "rel/data", "/home/u", "/home/u/.local/share/tarvok"},
      {"read-only: no home at all keeps the program folder", false, "", "", program},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseDataDir(program, c.Writable, c.Xdg, c.Home), c.Expected) << c.Name;
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
