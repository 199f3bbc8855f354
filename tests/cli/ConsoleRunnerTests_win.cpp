// The runner with real Windows children: cmd.exe and a test program of ours, through
// CreateProcessW, the pipes and the job object.
#include <windows.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "CliTestSupport.h"
#include "WindowsTestSupport.h"
#include "cli/CliRuns.h"
#include "cli/ConsoleRunner.h"
#include "core/Platform.h"

namespace tarvok {
namespace {

using test::TestChild;
using test::TTempDir;

TEST(WindowsConsoleRunner, CapturesOutputOfRealChildren) {
  TTempDir dir;
  const std::string work = PathToUtf8(dir.Path());
  const std::string here = PathToUtf8(std::filesystem::current_path());
  const std::string child = TestChild();
  struct {
    const char* Name;
    std::string Command;
    std::string Input;
    std::string WorkDir;
    std::string Expected;
  } cases[] = {
      {"cmd.exe's echo", "cmd.exe /c echo hello", "", "", "hello\r\n"},
      {"output over 4096 bytes whole, stderr in its place",
       child + " fill 10000 a err ERR fill 5000 b", "", "", std::string(10000, 'a') + "ERR" + std::string(5000, 'b')},
      {"output just before the end is kept", child + " sleep 100 out last", "", "", "last"},
      {"non-zero exit without output is empty", child + " exit 7", "", "", ""},
      {"non-zero exit keeps what was printed", child + " out failed exit 2", "", "", "failed"},
      {"empty work folder is the caller's", "cmd.exe /c cd", "", "", here + "\r\n"},
      {"work folder is the child's", "cmd.exe /c cd", "", work, work + "\r\n"},
      {"input reaches the child and then ends", child + " cat", "line one\r\nline two", "", "line one\r\nline two"},
      {"no input: the child sees its end at once", child + " cat out end", "", "", "end"},
      {"valid UTF-8 stays as it is", child + " bytes D090F09F9880", "", "", "\xD0\x90\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) EXPECT_EQ(RunConsoleCommand(c.Command, c.Input, c.WorkDir, 30), c.Expected) << c.Name;
}

TEST(WindowsConsoleRunner, InvalidUtf8IsDecodedThroughTheAnsiCodePage) {
  if (::GetACP() != 1251) GTEST_SKIP() << "needs a Russian system locale (ANSI code page 1251), not " << ::GetACP();
  EXPECT_EQ(RunConsoleCommand(TestChild() + " bytes C0E020CEEA", "", "", 30), "Аа Ок");
}

TEST(WindowsConsoleRunner, LargeInputDoesNotBlockAChildThatAnswersAsItReads) {
  std::string input;
  for (int i = 0; input.size() < 2'000'000; ++i) input += "line " + std::to_string(i) + "\r\n";
  EXPECT_EQ(RunConsoleCommand(TestChild() + " cat", input, "", 120), input);
}

TEST(WindowsConsoleRunner, AMissingProgramIsTheSystemsMessage) {
  const std::string result = RunConsoleCommand("tarvok-no-such-program-xyz.exe --flag", "", "", 5);
  const std::string message = SystemErrorMessage(ERROR_FILE_NOT_FOUND);
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(result, "Error creating process: " + message);
  EXPECT_NE(message.back(), '.');
  EXPECT_GE(static_cast<unsigned char>(message.back()), 33);
}

bool ProcessEnded(DWORD APid) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, APid);
  if (!process) return true;
  const bool ended = ::WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return ended;
}

TEST(WindowsConsoleRunner, TimeLimitEndsTheChildWithEverythingItStarted) {
  TTempDir dir;
  const auto pidFile = dir.Path() / "grandchild.pid";
  const std::string result =
      RunConsoleCommand(TestChild() + " spawn \"" + PathToUtf8(pidFile) + "\" forever", "", "", 2);
  EXPECT_EQ(result, "ERROR: Process timed out after 2 seconds.");
  DWORD grandchild = 0;
  std::ifstream(pidFile) >> grandchild;
  ASSERT_GT(grandchild, 0u);
  EXPECT_TRUE(ProcessEnded(grandchild)) << "grandchild " << grandchild << " outlived the time-out";
}

DWORD ReadPid(const std::filesystem::path& AFile) {
  DWORD pid = 0;
  std::ifstream(AFile) >> pid;
  return pid;
}

TEST(WindowsConsoleRunner, WhatTheChildLeftRunningEndsWithIt) {
  TTempDir dir;
  const auto pidFile = dir.Path() / "left.pid";
  EXPECT_EQ(RunConsoleCommand(TestChild() + " spawn \"" + PathToUtf8(pidFile) + "\" out started", "", "", 30), "started");
  const DWORD left = ReadPid(pidFile);
  ASSERT_GT(left, 0u);
  EXPECT_TRUE(ProcessEnded(left)) << "process " << left << " outlived the command";
}

TEST(WindowsConsoleRunner, AStopTokenEndsTheRunWithEverythingItStarted) {
  TStopToken stopped;
  stopped.Stop();
  TTempDir dir;
  const auto marker = dir.Path() / "started.pid";
  EXPECT_EQ(RunConsoleCommand(TestChild() + " spawn \"" + PathToUtf8(marker) + "\"", "", "", 30, &stopped), "");
  EXPECT_FALSE(std::filesystem::exists(marker)) << "a stopped token starts nothing";

  TStopToken token;
  const auto pidFile = dir.Path() / "grandchild.pid";
  std::string result = "<running>";
  std::thread run([&] {
    result = RunConsoleCommand(TestChild() + " spawn \"" + PathToUtf8(pidFile) + "\" out partial sleep 1000000", "",
                               "", 300, &token);
  });
  for (int i = 0; i < 1000 && ReadPid(pidFile) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const DWORD grandchild = ReadPid(pidFile);
  token.Stop();
  run.join();
  EXPECT_EQ(result, "");
  ASSERT_GT(grandchild, 0u);
  EXPECT_TRUE(ProcessEnded(grandchild));
}

TEST(WindowsConsoleRunner, AGrandchildHoldingTheInputDoesNotHoldUpTheRunner) {
  // The child ends at once; the grandchild keeps the input pipe open and never reads, so
  // the writer thread stays blocked in WriteFile until the runner cancels it.
  TTempDir dir;
  const auto pidFile = dir.Path() / "grandchild.pid";
  const std::string input(4'000'000, 'i');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunConsoleCommand(TestChild() + " spawn \"" + PathToUtf8(pidFile) + "\" out done", input, "", 60), "done");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(50));
  DWORD grandchild = 0;
  std::ifstream(pidFile) >> grandchild;
  if (HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, grandchild)) {
    ::TerminateProcess(process, 1);
    ::CloseHandle(process);
  }
}

TEST(WindowsConsoleRunner, OnlyTheStandardHandlesReachTheChild) {
  // An inheritable pipe of another part of the program (another run on another thread, for
  // one): the child writes to its handle value, which arrives only if the child got it.
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, &inherit, 0));
  char value[32];
  std::snprintf(value, sizeof value, "%llx", static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(writeEnd)));
  EXPECT_EQ(RunConsoleCommand(TestChild() + " handle " + value + " out ran", "", "", 30), "ran");
  DWORD waiting = 0;
  ASSERT_TRUE(::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &waiting, nullptr));
  EXPECT_EQ(waiting, 0u) << "the child inherited a handle that is not one of its standard handles";
  ::CloseHandle(readEnd);
  ::CloseHandle(writeEnd);
}

}  // namespace
}  // namespace tarvok
