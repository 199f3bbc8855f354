// Where the program keeps its files: beside the executable unless that folder is read-only.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/DataFolder.h"
#include "core/Platform.h"
#include "tests/core/TempDir.h"

namespace tarvok {
namespace {

TEST(DataFolder, ProgramFolderUnlessReadOnlyThenTheUsersDataFolder) {
  // Absolute on every system: the temporary folder is.
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  const std::filesystem::path program = base / "opt" / "tarvok";
  const std::filesystem::path root = base / "home" / "u" / ".local" / "share";
  struct {
    const char* Name;
    bool Writable;
    std::filesystem::path Root;
    std::filesystem::path Expected;
  } cases[] = {
      {"writable: today's place, whatever the environment", true, root, program},
      {"read-only: the user's data root", false, root, root / "tarvok"},
      {"read-only: no data root keeps the program folder", false, {}, program},
      {"read-only: a relative root is no root", false, "rel/data", program},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseDataDir(program, c.Writable, c.Root), c.Expected) << c.Name;
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
