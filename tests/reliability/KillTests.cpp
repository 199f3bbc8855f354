// A process saving chats, parts, settings, lists and counters is killed at a few hundred
// random moments: every file then holds a whole version, the old one or a newer one; the
// chat and part listings show exactly the saved files; and temporary files of killed
// saves neither pile up nor survive the next save.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include "tests/reliability/SaveLoop.h"
#include "tests/sanitizers/Sanitizers.h"
#include "tests/storage/TestFolder.h"

extern char** environ;

namespace tarvok {
namespace {

using Clock = std::chrono::steady_clock;

class TSaveLoopChild {
 public:
  TSaveLoopChild(const std::filesystem::path& AFolder, std::int64_t ABase, std::int64_t ARounds) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const std::string folder = AFolder.string(), base = std::to_string(ABase), rounds = std::to_string(ARounds);
    char* argv[] = {const_cast<char*>(TARVOK_SAVE_LOOP_HELPER), const_cast<char*>(folder.c_str()),
                    const_cast<char*>(base.c_str()), const_cast<char*>(rounds.c_str()), nullptr};
    const int rc = posix_spawn(&FPid, TARVOK_SAVE_LOOP_HELPER, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    FOut = fds[0];
    if (rc != 0) throw std::runtime_error("spawn");
  }
  ~TSaveLoopChild() {
    if (FPid > 0) {
      ::kill(FPid, SIGKILL);
      Wait();
    }
    ::close(FOut);
  }
  // Waits until the child reports a finished round; false when it ended or the time ran out.
  bool WaitRound(std::chrono::milliseconds ATimeout) {
    pollfd p{FOut, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(ATimeout.count())) != 1) return false;
    char c;
    return ::read(FOut, &c, 1) == 1;
  }
  void Kill() { ::kill(FPid, SIGKILL); }
  int Wait() {
    int status = 0;
    ::waitpid(FPid, &status, 0);
    FPid = -1;
    return status;
  }

 private:
  pid_t FPid = -1;
  int FOut = -1;
};

std::vector<std::string> TempFiles(const std::filesystem::path& ARoot) {
  std::vector<std::string> found;
  for (const auto& e : std::filesystem::recursive_directory_iterator(ARoot))
    if (e.path().extension() == ".tmp") found.push_back(e.path().string());
  return found;
}

TEST(KillDuringSave, EveryFileHoldsAWholeVersionAndTheListingsStayExact) {
  test::TTestFolder folder;
  const auto& files = saveloop::SavedFiles();
  std::map<std::string, std::optional<std::int64_t>> last;  // nullopt: not written yet
  std::mt19937 random(std::random_device{}());
  // A sanitizer build starts the child and saves several times slower (24 kills in 40 s
  // under AddressSanitizer on a shared machine): it gets the time the same number of kills
  // takes there.
  constexpr bool kSanitized = test::kAddressSanitizer || test::kThreadSanitizer;
  const auto deadline = Clock::now() + std::chrono::seconds(kSanitized ? 160 : 40);
  int kills = 0;
  for (; kills < 300 && Clock::now() < deadline; ++kills) {
    const std::int64_t base = (kills + 1) * 1'000'000LL;
    {
      const auto started = Clock::now();
      TSaveLoopChild child(folder.Path(), base, 0);
      // The child has saved every file once (so it has also cleared what earlier kills
      // left); the kill then falls anywhere in its next two rounds or so.
      ASSERT_TRUE(child.WaitRound(std::chrono::seconds(30))) << "the save loop did not finish a round";
      const auto round = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started);
      std::this_thread::sleep_for(std::chrono::microseconds(
          std::uniform_int_distribution<std::int64_t>(0, 2 * round.count())(random)));  // the random moment itself
      child.Kill();
      const int status = child.Wait();
      ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the child ended by itself: " << status;
    }

    for (const auto& file : files) {
      const auto content = ReadWholeFile(folder.Path() / PathFromUtf8(file.Path));
      ASSERT_TRUE(content) << file.Path << " is missing after kill " << kills;
      const auto version = saveloop::VersionOf(file, *content);
      ASSERT_TRUE(version) << file.Path << " is not a whole version after kill " << kills << " (" << content->size()
                           << " bytes)";
      auto& previous = last[file.Path];
      if (file.Kind == saveloop::TKind::Counter) {
        // Every round adds one request; a kill may lose those not yet written, but the
        // file never goes back.
        if (previous) {
          EXPECT_GE(*version, *previous) << "the counter went back";
        }
      } else {
        EXPECT_TRUE(*version >= base && *version < base + 1'000'000) << file.Path << ": version " << *version
                                                                       << " is neither old nor new";
      }
      previous = *version;
    }
    const std::vector<TChatEntry> chats = LoadChatList();
    ASSERT_EQ(chats.size(), 2u) << "the chat list shows something else after kill " << kills;
    ASSERT_EQ(ChatPartFiles(chats[0].Path.find("Первый") != std::string::npos ? chats[0].Path : chats[1].Path).size(), 1u);
    // Only the saves the kill cut short can have left a temporary file: one of the loop's
    // and one of the counter's background writer.
    ASSERT_LE(TempFiles(folder.Path()).size(), 2u) << "temporary files pile up after kill " << kills;
  }
  std::printf("[ kills survived: %d ]\n", kills);
  EXPECT_GE(kills, 50) << "too few kills in the time given";

  TSaveLoopChild last_round(folder.Path(), 999'000'000, 1);
  ASSERT_TRUE(last_round.WaitRound(std::chrono::seconds(30)));
  EXPECT_EQ(last_round.Wait(), 0);
  EXPECT_EQ(TempFiles(folder.Path()), std::vector<std::string>{}) << "the next save leaves no temporary file behind";
}

// The counter file is written in the background; a normal exit right after the last
// count still leaves every count in the file (several runs: the last write of one run may
// finish in time by chance).
TEST(KillDuringSave, ANormalExitWritesEveryCount) {
  test::TTestFolder folder;
  const saveloop::TSavedFile& counter = saveloop::SavedFiles().back();
  ASSERT_EQ(counter.Kind, saveloop::TKind::Counter);
  constexpr std::int64_t kRounds = 4;
  for (std::int64_t run = 1; run <= 6; ++run) {
    TSaveLoopChild child(folder.Path(), run * 100, kRounds);
    for (std::int64_t i = 0; i < kRounds; ++i) ASSERT_TRUE(child.WaitRound(std::chrono::seconds(30)));
    ASSERT_EQ(child.Wait(), 0);
    ASSERT_EQ(saveloop::VersionOf(counter, ReadWholeFile(folder.Path() / counter.Path).value_or("")), run * kRounds)
        << "after run " << run;
  }
}

// A save removes temporary files that a dead process left beside its file, and only those.
TEST(KillDuringSave, ASaveRemovesTheTemporaryFilesOfDeadProcessesOnly) {
  test::TTestFolder folder;
  const std::filesystem::path dir = folder.Path();
  // pid 1 runs as long as the system does; 4194304 is past the largest pid Linux hands out.
  const std::string dead = ".a.json.4194304-12.tmp", running = ".a.json.1-34.tmp", other = ".b.json.4194304-56.tmp",
                    foreign = "a.json.4194304-78.tmp";
  for (const auto& name : {dead, running, other, foreign}) folder.Write(name, "half");
  WriteFileAtomic(dir / "a.json", "whole");
  EXPECT_FALSE(std::filesystem::exists(dir / dead));
  EXPECT_TRUE(std::filesystem::exists(dir / running)) << "a save still running elsewhere keeps its file";
  EXPECT_TRUE(std::filesystem::exists(dir / other)) << "another file's temporary file is not this save's business";
  EXPECT_TRUE(std::filesystem::exists(dir / foreign));
  EXPECT_EQ(folder.Read("a.json"), "whole");
}

}  // namespace
}  // namespace tarvok
