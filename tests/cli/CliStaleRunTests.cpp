// Folders of runs whose program was ended before it could remove them go at the next start;
// nothing else in the user's private folders is touched.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "CliTestSupportPosix.h"
#include "cli/PrivateFiles.h"

extern char** environ;

namespace tarvok {
namespace {

namespace fs = std::filesystem;

// Starts a program; with AFolder, in that folder and leading a process group of its own,
// as the console runner starts the CLI.
pid_t Start(std::vector<std::string> AArgs, const fs::path& AFolder = {}) {
  std::vector<char*> argv;
  for (auto& a : AArgs) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  if (!AFolder.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, AFolder.c_str());
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  }
  pid_t pid = 0;
  EXPECT_EQ(::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  return pid;
}

void Reap(pid_t APid) {
  int status;
  ::waitpid(APid, &status, 0);
}

TEST(StaleRuns, FoldersOfEndedProgramsGoAndNothingElse) {
  test::TPrivateHome home;
  const fs::path runtime = home.Runtime() / "tarvok";
  const fs::path disk = home.Home() / ".cache" / "tarvok";
  fs::create_directories(runtime);
  fs::create_directories(disk);
  fs::permissions(runtime, fs::perms::owner_all);
  fs::permissions(disk, fs::perms::owner_all);
  fs::permissions(disk.parent_path(), fs::perms::owner_all);

  const pid_t ended = Start({"/bin/true"});
  Reap(ended);
  const pid_t running = Start({"sleep", "600"});
  const std::string dead = std::to_string(ended), alive = std::to_string(running),
                    self = std::to_string(::getpid());
  test::TTempDir outside;
  outside.Write("keep.txt", "not ours");

  struct {
    const char* Name;
    fs::path Folder;
    std::function<void(const fs::path&)> Make;
    bool Removed;
  } cases[] = {
      {"a CLI run of an ended program", runtime / ("GeminiCLI_" + dead + "_a1B2c3"), {}, true},
      {"a check script's run on disk", disk / ("gemini_check_" + dead + "_x9Y8z7"), {}, true},
      {"a run holding a link: the link goes, not its target", disk / ("GeminiCLI_" + dead + "_lnk001"),
       [&](const fs::path& F) { fs::create_directory_symlink(outside.Path(), F / "escape"); }, true},
      {"a run of a program still running", runtime / ("GeminiCLI_" + alive + "_q1w2e3"), {}, false},
      {"a run of this program", runtime / ("GeminiCLI_" + self + "_r4t5y6"), {}, false},
      {"a name without a process", runtime / "GeminiCLI_a1B2c3", {}, false},
      {"a name of someone else's", runtime / ("notes_" + dead + "_a1B2c3"), {}, false},
      {"a run folder open to others", runtime / ("GeminiCLI_" + dead + "_open01"),
       [](const fs::path& F) { fs::permissions(F, fs::perms::all); }, false},
      {"a run folder of another user", runtime / ("GeminiCLI_" + dead + "_other1"),
       [](const fs::path& F) { ASSERT_EQ(::chown(F.c_str(), 65534, 65534), 0); }, false},
  };
  // Only root can hand a folder to another user.
  const bool root = ::geteuid() == 0;
  auto skipped = [&](const char* AName) { return !root && std::string(AName).find("another user") != std::string::npos; };
  for (const auto& c : cases) {
    if (skipped(c.Name)) continue;
    fs::create_directory(c.Folder);
    fs::permissions(c.Folder, fs::perms::owner_all);
    std::ofstream(c.Folder / "gemini_prompt.txt") << "the conversation";
    if (c.Make) c.Make(c.Folder);
  }
  // A CLI that outlived its crashed program, still at work in its run folder.
  const fs::path orphaned = disk / ("GeminiCLI_" + dead + "_cli001");
  fs::create_directory(orphaned);
  fs::permissions(orphaned, fs::perms::owner_all);
  const pid_t cli = Start({"sleep", "600"}, orphaned);
  ASSERT_TRUE(test::WaitUntilCwd(cli, orphaned));
  // A link named like a run, to a folder elsewhere: never followed, never removed.
  const fs::path link = runtime / ("GeminiCLI_" + dead + "_link99");
  fs::create_directory_symlink(outside.Path(), link);

  EXPECT_EQ(RemoveStaleRunFolders(), 4);
  EXPECT_FALSE(fs::exists(orphaned));
  EXPECT_TRUE(test::WaitUntilGone(cli)) << "the orphaned CLI still runs";
  Reap(cli);
  for (const auto& c : cases) {
    if (skipped(c.Name)) continue;
    EXPECT_EQ(fs::exists(c.Folder), !c.Removed) << c.Name;
  }
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(outside.Read("keep.txt"), "not ours");

  ::kill(running, SIGKILL);
  Reap(running);
}

}  // namespace
}  // namespace tarvok
