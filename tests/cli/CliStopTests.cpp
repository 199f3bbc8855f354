// Stopping a CLI run: the process group ends, the working folder goes, the completion
// runs once, and no thread or process of the run is left.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

#include "CliTestSupport.h"
#include "cli/CliRequest.h"
#include "core/ApiKeyStats.h"
#include "core/CoreTexts.h"
#include "core/GeminiDM.h"
#include "core/LoopMainThread.h"
#include "tests/sanitizers/Sanitizers.h"

namespace tarvok {
namespace {

using test::TTempDir;
using Clock = std::chrono::steady_clock;

std::size_t ThreadCount() {
  std::size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/task")) n += e.is_directory() ? 1 : 0;
  return n;
}

// Gone, or a zombie nobody has collected yet: it runs no more.
bool ProcessEnded(const std::string& APid) {
  std::ifstream stat("/proc/" + APid + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

std::vector<std::string> Lines(const std::filesystem::path& AFile) {
  std::ifstream in(AFile);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(CliStopTest, AStopEndsTheRunItsChildrenAndItsFolderAtOnce) {
  TTempDir bin, record, program;
  const std::string rec = (record.Path() / "run").string();
  // The stand-in records its own pid, its working folder and a child's pid, then holds the answer.
  test::MakeExecutable(bin.Write("gemini", "#!/bin/sh\n"
                                           "sleep 60 &\n"
                                           "printf '%s\\n%s\\n%s\\n' $$ \"$(pwd)\" $! > '" + rec + ".tmp'\n"
                                           "mv '" + rec + ".tmp' '" + rec + "'\n"
                                           "wait\n"
                                           "echo '{\"response\":\"late\"}'\n"));
  test::TPathPrefix path(bin.Path());
  SetProgramDir(program.Path());
  TLoopMainThread main;
  TGeminiDM dm(main);
  test::StartSanitizerThreads();
  const std::size_t threadsBefore = ThreadCount();

  TRequestOptions options;
  options.Stop = std::make_shared<TStopToken>();
  int completions = 0;
  std::string result;
  TResultFlags flags;
  TContentPart part;
  part.Text = "Hello";
  GenerateContentCLI(dm, kGeminiCliKey, "gemini-2.5-flash", {part}, false,
                     MakeCallback([&](const std::string& R, const TTokenUsage&, const TResultFlags& F) {
                       ++completions;
                       result = R;
                       flags = F;
                     }),
                     true, options.Stop);
  ASSERT_TRUE(main.ProcessUntil([&] { return std::filesystem::exists(rec); }));
  const std::vector<std::string> run = Lines(rec);
  ASSERT_EQ(run.size(), 3u);
  ASSERT_TRUE(std::filesystem::exists(run[1]));

  const auto pressed = Clock::now();
  options.Stop->Stop();
  ASSERT_TRUE(main.ProcessUntil([&] { return completions > 0; }));
  EXPECT_LT(Clock::now() - pressed, std::chrono::seconds(2)) << "not held until the answer";
  EXPECT_EQ(result, texts::kStoppedResult);
  EXPECT_TRUE(flags.Stopped);
  EXPECT_TRUE(flags.Failed);
  EXPECT_TRUE(dm.FChatHistory.empty());
  EXPECT_EQ(GetRequestCount(kGeminiCliKey, "gemini-2.5-flash"), 1) << "the request was made";
  EXPECT_FALSE(std::filesystem::exists(run[1])) << "the working folder is removed";
  EXPECT_TRUE(ProcessEnded(run[0])) << "the CLI";
  EXPECT_TRUE(main.ProcessUntil([&] { return ProcessEnded(run[2]); }, std::chrono::seconds(10))) << "what it started";
  EXPECT_TRUE(main.ProcessUntil([&] { return ThreadCount() == threadsBefore; }, std::chrono::seconds(10)))
      << "the worker thread has ended";
  main.ProcessUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_EQ(completions, 1);
  SetProgramDir({});
}

}  // namespace
}  // namespace tarvok
