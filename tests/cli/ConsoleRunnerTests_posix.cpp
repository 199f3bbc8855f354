// The runner with real POSIX children: shell commands, process groups, inherited handles.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "CliTestSupportPosix.h"
#include "cli/CliRuns.h"
#include "cli/ConsoleRunner.h"
#include "core/ChildEnvironment.h"
#include "core/ProxyEnvironment.h"

namespace tarvok {
namespace {

using test::TTempDir;

TEST(ConsoleRunner, CapturesOutputOfRealChildren) {
  TTempDir dir;
  const std::string work = dir.Path().string();
  const std::string here = std::filesystem::current_path().string();
  std::string big = std::string(10000, 'a') + "ERR\n" + std::string(5000, 'b');
  struct {
    const char* Name;
    std::string Command;
    std::string Input;
    std::string WorkDir;
    std::string Expected;
  } cases[] = {
      {"output over 4096 bytes whole, stderr in its place",
       "/bin/sh -c 'head -c 10000 /dev/zero | tr \"\\0\" a; echo ERR >&2; head -c 5000 /dev/zero | tr \"\\0\" b'", "",
       "", big},
      {"output just before the end is kept", "/bin/sh -c 'printf last; exit 0'", "", "", "last"},
      {"non-zero exit without output is empty", "/bin/sh -c 'exit 7'", "", "", ""},
      {"non-zero exit keeps what was printed", "/bin/sh -c 'echo failed; exit 2'", "", "", "failed\n"},
      {"arguments keep their quoting", R"(printf '%s|' 'a b' "c\"d" e)", "", "", "a b|c\"d|e|"},
      {"empty work folder is the caller's", "pwd", "", "", here + "\n"},
      {"work folder is the child's", "pwd", "", work, work + "\n"},
      {"input reaches the child and then ends", "cat", "line one\nline two", "", "line one\nline two"},
      {"no input: the child sees its end at once", "cat", "", "", ""},
      {"invalid UTF-8 falls back to the legacy code page", R"(printf '\300\340 ok')", "", "",
       "\xD0\x90\xD0\xB0 ok"},
      {"valid UTF-8 stays as it is", R"(printf '\320\220\360\237\230\200')", "", "", "\xD0\x90\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RunConsoleCommand(c.Command, c.Input, c.WorkDir, 30), c.Expected) << c.Name;
}

TEST(ConsoleRunner, LargeInputDoesNotBlockAChildThatAnswersAsItReads) {
  // cat echoes while it reads: a runner that wrote all input before reading would wait forever.
  std::string input;
  for (int i = 0; input.size() < 2'000'000; ++i) input += "line " + std::to_string(i) + "\n";
  EXPECT_EQ(RunConsoleCommand("cat", input, "", 60), input);
}

TEST(ConsoleRunner, FailuresToStartAreTexts) {
  EXPECT_EQ(RunConsoleCommand("tarvok-no-such-program-xyz --flag", "", "", 5),
            "Error creating process: No such file or directory");
  EXPECT_EQ(RunConsoleCommand("pwd", "", "/nonexistent/tarvok/folder", 5),
            "Error creating process: No such file or directory");
  EXPECT_EQ(RunConsoleCommand("echo 'open", "", "", 5), "Error creating process: Invalid argument");
  EXPECT_EQ(RunConsoleCommand("   ", "", "", 5), "Error creating process: No such file or directory");
}

TEST(ConsoleRunner, LimitOfZeroOrLessMeansThreeHundredSeconds) {
  // The number appears only in the time-out text, which cannot be waited for here; a child
  // that outlives a short limit but not 300 s shows the limit is not 0 or negative.
  for (int limit : {0, -5})
    EXPECT_EQ(RunConsoleCommand("/bin/sh -c 'sleep 2; echo done'", "", "", limit), "done\n") << limit;
}

using test::ProcessGone;
using test::WaitUntilGone;

TEST(ConsoleRunner, TimeLimitEndsAChildThatNeverStopsWithEverythingItStarted) {
  TTempDir dir;
  const std::string pidFile = (dir.Path() / "grandchild.pid").string();
  const auto start = std::chrono::steady_clock::now();
  // Prints without end and keeps a grandchild that would survive its parent.
  const std::string result = RunConsoleCommand(
      "/bin/sh -c " + ShellQuote("sleep 1000 & echo $! > " + ShellQuote(pidFile) + "; while :; do echo tick; done"),
      "", "", 2);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(result, "ERROR: Process timed out after 2 seconds.");
  EXPECT_LT(elapsed, std::chrono::seconds(60)) << "the time check must come before every read";

  std::ifstream in(pidFile);
  pid_t grandchild = 0;
  in >> grandchild;
  ASSERT_GT(grandchild, 0);
  bool gone = false;
  for (int i = 0; i < 1000 && !(gone = ProcessGone(grandchild)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(gone) << "grandchild " << grandchild << " outlived the time-out";
  if (!gone) ::kill(grandchild, SIGKILL);
}

TEST(ConsoleRunner, RunnerPipesAreNotInherited) {
  // Only the three standard handles reach the child.
  const std::string out = RunConsoleCommand("/bin/sh -c 'ls /proc/self/fd'", "", "", 30);
  std::vector<std::string> fds;
  ASSERT_TRUE(SplitCommandLine(out, fds));
  EXPECT_EQ(fds, (std::vector<std::string>{"0", "1", "2", "3"})) << out;  // 3: ls's own directory handle
}

// Runs AAction with SIGCHLD ignored, as some parents leave it for their children.
template <class F>
void WithSigChldIgnored(F AAction) {
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGCHLD, &ignore, &old);
  AAction();
  ::sigaction(SIGCHLD, &old, nullptr);
}

TEST(ConsoleRunner, EndsNormallyWhenTheSystemReapsChildrenItself) {
  std::string result;
  WithSigChldIgnored([&] { result = RunConsoleCommand("/bin/sh -c 'sleep 0.2; echo answer'", "", "", 5); });
  EXPECT_EQ(result, "answer\n");
}

pid_t ReadPid(const std::filesystem::path& AFile) {
  std::ifstream in(AFile);
  pid_t pid = 0;
  in >> pid;
  return pid;
}

TEST(ConsoleRunner, WhatTheChildLeftRunningEndsWithIt) {
  TTempDir dir;
  const auto pidFile = dir.Path() / "left.pid";
  EXPECT_EQ(RunConsoleCommand("/bin/sh -c " + ShellQuote("sleep 1000 >/dev/null & echo $! > " +
                                                         ShellQuote(pidFile.string()) + "; echo started"),
                              "", "", 30),
            "started\n");
  const pid_t left = ReadPid(pidFile);
  ASSERT_GT(left, 0);
  EXPECT_TRUE(WaitUntilGone(left)) << "process " << left << " outlived the command";
}

TEST(ConsoleRunner, AStopTokenEndsTheRunWithEverythingItStarted) {
  TStopToken stopped;
  stopped.Stop();
  TTempDir dir;
  const auto marker = dir.Path() / "started";
  EXPECT_EQ(RunConsoleCommand("touch " + ShellQuote(marker.string()), "", "", 30, &stopped), "");
  EXPECT_FALSE(std::filesystem::exists(marker)) << "a stopped token starts nothing";

  TStopToken token;
  const auto pidFile = dir.Path() / "grandchild.pid";
  std::string result = "<running>";
  std::thread run([&] {
    result = RunConsoleCommand("/bin/sh -c " + ShellQuote("sleep 1000 & echo $! > " + ShellQuote(pidFile.string()) +
                                                          "; echo partial; wait"),
                               "", "", 300, &token);
  });
  for (int i = 0; i < 1000 && ReadPid(pidFile) <= 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const pid_t grandchild = ReadPid(pidFile);
  token.Stop();
  run.join();
  EXPECT_EQ(result, "");
  ASSERT_GT(grandchild, 0);
  EXPECT_TRUE(WaitUntilGone(grandchild));
}

// What started programs should see differently is laid over the environment as each
// starts; the process's own environment never changes, as another thread may be reading
// it (a getenv, or libcurl looking for a proxy) at that moment.
TEST(ChildEnvironment, StartedProgramsSeeTheProxyAndPathSetForThemAndTheProcessKeepsItsOwn) {
  TTempDir dir;
  const auto bin = dir.Path() / "bin";
  std::filesystem::create_directories(bin);
  std::ofstream(bin / "tarvok-env-probe") << "#!/bin/sh\necho \"$HTTPS_PROXY|$http_proxy|$ALL_PROXY\"\n";
  std::filesystem::permissions(bin / "tarvok-env-probe", std::filesystem::perms::owner_all);
  const char* own = std::getenv("HTTPS_PROXY");
  const std::string before = own ? own : "";
  const std::string proxy = "http://127.0.0.1:3128";

  SetProxyEnvironment(proxy);
  SetChildVariable("PATH", bin.string() + ":" + ChildVariable("PATH"));
  EXPECT_EQ(RunConsoleCommand("tarvok-env-probe", "", "", 30), proxy + "|" + proxy + "|" + proxy + "\n");
  own = std::getenv("HTTPS_PROXY");
  EXPECT_EQ(own ? own : "", before);
  EXPECT_EQ(ChildVariable("HTTPS_PROXY"), proxy);

  // Changed from another thread while programs start: each sees one value or the other.
  std::atomic<bool> done = false;
  std::thread toggler([&] {
    for (int i = 0; !done; ++i) SetProxyEnvironment(i % 2 ? proxy : "");
  });
  for (int i = 0; i < 20; ++i) {
    const std::string seen = RunConsoleCommand("/bin/sh -c 'echo \"$HTTPS_PROXY\"'", "", "", 30);
    EXPECT_TRUE(seen == proxy + "\n" || seen == before + "\n") << seen;
  }
  done = true;
  toggler.join();

  SetProxyEnvironment("");
  SetChildVariable("PATH", std::nullopt);
  EXPECT_EQ(RunConsoleCommand("/bin/sh -c 'echo \"$HTTPS_PROXY\"'", "", "", 30), before + "\n");
  EXPECT_EQ(RunConsoleCommand("tarvok-env-probe", "", "", 30), "Error creating process: No such file or directory");
}

}  // namespace
}  // namespace tarvok
