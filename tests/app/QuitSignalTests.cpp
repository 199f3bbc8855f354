// The real program, ended from outside: Ctrl+C in its terminal (SIGINT) or the session's
// end (SIGTERM) closes it like its window, and its next start removes what runs of an
// ended program left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "tests/cli/CliTestSupportPosix.h"

extern char** environ;

namespace tarvok {
namespace {

namespace fs = std::filesystem;

pid_t Spawn(std::vector<std::string> AArgs) {
  std::vector<char*> argv;
  for (auto& a : AArgs) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  EXPECT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0) << AArgs[0];
  return pid;
}

// Waits for the process to end, at most ALimit; kills it when it does not.
std::optional<int> WaitForEnd(pid_t APid, std::chrono::seconds ALimit) {
  const auto deadline = std::chrono::steady_clock::now() + ALimit;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(APid, &status, WNOHANG) == APid) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(APid, SIGKILL);
  int status = 0;
  ::waitpid(APid, &status, 0);
  return std::nullopt;
}

bool WaitFor(const std::function<bool()>& ACondition, std::chrono::seconds ALimit) {
  const auto deadline = std::chrono::steady_clock::now() + ALimit;
  while (!ACondition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

TEST(QuitSignals, EndedFromOutsideTheProgramClosesLikeItsWindow) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGINT");
    test::TPrivateHome home;
    // The program keeps its data beside itself: a folder of its own beside the built one
    // (a hard link where the file system allows, else a copy).
    const fs::path built = TARVOK_EXECUTABLE;
    test::TTempDir programDir;
    const fs::path program = programDir.Path() / "tarvok";
    std::error_code ec;
    fs::create_hard_link(built, program, ec);
    if (ec) fs::copy_file(built, program);

    // A run of an ended program left its folder, with the conversation, behind.
    const pid_t ended = Spawn({"/bin/true"});
    WaitForEnd(ended, std::chrono::seconds(10));
    const fs::path stale = home.Runtime() / "tarvok" / ("GeminiCLI_" + std::to_string(ended) + "_a1b2c3");
    fs::create_directories(stale);
    fs::permissions(home.Runtime() / "tarvok", fs::perms::owner_all);
    fs::permissions(stale, fs::perms::owner_all);
    std::ofstream(stale / "gemini_prompt.txt") << "User: secret";

    const pid_t pid = Spawn({program.string()});
    struct TEnd {  // a failed check leaves no program behind
      pid_t Pid;
      bool Ended = false;
      ~TEnd() {
        if (!Ended) WaitForEnd(Pid, std::chrono::seconds(0));
      }
    } end{pid};
    // The folder goes once the window is up and listening for the signals.
    ASSERT_TRUE(WaitFor([&] { return !fs::exists(stale); }, std::chrono::seconds(90)))
        << "the run folder of an ended program is still there";
    // The start writes the settings once; the close must write them again.
    const fs::path config = programDir.Path() / "config.ini";
    ASSERT_TRUE(WaitFor([&] { return fs::exists(config); }, std::chrono::seconds(30)));
    fs::remove(config);
    ::kill(pid, signal);
    const std::optional<int> status = WaitForEnd(pid, std::chrono::seconds(60));
    end.Ended = true;
    ASSERT_TRUE(status.has_value()) << "the program did not end";
    EXPECT_TRUE(WIFEXITED(*status)) << "ended by the signal itself, status " << *status;
    EXPECT_EQ(WIFEXITED(*status) ? WEXITSTATUS(*status) : -1, 0);
    EXPECT_TRUE(fs::exists(programDir.Path() / "config.ini")) << "the window's close saves the settings";
  }
}

}  // namespace
}  // namespace tarvok
