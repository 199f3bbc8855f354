// Two figures a user feels while an answer is pending, against the emulator in this process:
// - the first visible text of a streamed answer of 40 events sent 50 ms apart, from the
//   moment the first event leaves the emulator to the moment the answer so far has been
//   rendered to HTML on the main thread (and, beside it, when the whole answer is there,
//   which is what a user waits for without streaming);
// - the time from pressing stop to the request's completion having run on the main thread
//   (the window usable again), on the REST route and on the CLI route (a stand-in CLI
//   that holds its answer).
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "BigHistory.h"
#include "cli/CliRequest.h"
#include "core/ApiKeyStats.h"
#include "core/GeminiDM.h"
#include "core/LoopMainThread.h"
#include "core/RequestThread.h"
#include "tools/gemini-emulator/GeminiEmulator.h"
#include "view/MessageRender.h"

namespace tarvok::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kEvents = 40;
constexpr int kGapMs = 50;

double Seconds(Clock::duration ADuration) { return std::chrono::duration<double>(ADuration).count(); }

TContentParts Prompt() {
  TContentPart part;
  part.Text = "Tell me a story";
  return {part};
}

void BM_FirstVisibleStreamedText(benchmark::State& AState) {
  TScratchDir dir("tarvok-stream-bench");
  SetProgramDir(dir.Path());
  emulator::TGeminiEmulator server;
  server.Start();
  TLoopMainThread loop;
  TGeminiDM dm(loop);
  dm.GeminiApiUrlBase = server.UrlPattern();
  std::vector<std::string> pieces;
  for (int i = 0; i < kEvents; ++i) pieces.push_back("Piece **" + std::to_string(i) + "** of the story. ");

  double wholeSeconds = 0;
  for (auto _ : AState) {
    std::atomic<bool> firstSentSet{false};
    std::atomic<Clock::rep> firstSent{0};
    emulator::TScriptedReply reply = emulator::StreamedTextReply(pieces, 10, 400, kGapMs);
    reply.OnEventSent = [&](std::size_t AEvent) {
      if (AEvent == 0) {
        firstSent = Clock::now().time_since_epoch().count();
        firstSentSet = true;
      }
    };
    server.Enqueue(std::move(reply));
    Clock::time_point firstShown{}, done{};
    TRequestOptions options;
    options.Stream = true;
    options.OnPartial = [&](const std::string& AText) {
      if (firstShown != Clock::time_point{}) return;
      benchmark::DoNotOptimize(RenderModelMessage(AText, "gemini-2.5-flash", 45000.0, -1, ""));
      firstShown = Clock::now();
    };
    dm.ClearHistory();
    dm.GenerateContent("bench-key", "gemini-2.5-flash", Prompt(), false,
                       MakeCallback([&](const std::string&, const TTokenUsage&, const TResultFlags&) { done = Clock::now(); }), true, options);
    if (!loop.ProcessUntil([&] { return done != Clock::time_point{} && TGeminiRequestThread::ActiveCount() == 0; })) {
      AState.SkipWithError("no answer");
      break;
    }
    const Clock::time_point sent{Clock::duration(firstSent.load())};
    if (!firstSentSet || firstShown == Clock::time_point{}) {
      AState.SkipWithError("no streamed text");
      break;
    }
    AState.SetIterationTime(Seconds(firstShown - sent));
    wholeSeconds += Seconds(done - sent);
  }
  AState.counters["whole_answer_ms"] = 1000 * wholeSeconds / static_cast<double>(AState.iterations());
  FlushRequestCounts();  // the counts reach their files before the scratch folder goes
}
BENCHMARK(BM_FirstVisibleStreamedText)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_StopToUsable_Rest(benchmark::State& AState) {
  TScratchDir dir("tarvok-stop-bench");
  SetProgramDir(dir.Path());
  emulator::TGeminiEmulator server;
  server.SetRecordBodies(false);
  server.Start();
  TLoopMainThread loop;
  TGeminiDM dm(loop);
  dm.GeminiApiUrlBase = server.UrlPattern();
  for (auto _ : AState) {
    emulator::TScriptedReply held;
    held.DelayMs = 60000;
    held.Body = "{}";
    server.Enqueue(held);
    server.ClearRequests();
    TRequestOptions options;
    options.Stop = std::make_shared<TStopToken>();
    bool done = false;
    dm.ClearHistory();
    dm.GenerateContent("bench-key", "gemini-2.5-flash", Prompt(), false,
                       MakeCallback([&](const std::string&, const TTokenUsage&, const TResultFlags&) { done = true; }), true, options);
    loop.ProcessUntil([&] { return server.Requests().size() == 1; });
    const auto pressed = Clock::now();
    options.Stop->Stop();
    if (!loop.ProcessUntil([&] { return done; })) {
      AState.SkipWithError("no completion");
      break;
    }
    AState.SetIterationTime(Seconds(Clock::now() - pressed));
    loop.ProcessUntil([] { return TGeminiRequestThread::ActiveCount() == 0; });
  }
  FlushRequestCounts();
}
BENCHMARK(BM_StopToUsable_Rest)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_StopToUsable_Cli(benchmark::State& AState) {
  TScratchDir dir("tarvok-stop-cli-bench");
  SetProgramDir(dir.Path());
  const std::filesystem::path started = dir.Path() / "started";
  // A stand-in CLI first on PATH that says it has started, then holds its answer.
  const std::filesystem::path bin = dir.Path() / "bin";
  std::filesystem::create_directories(bin);
  std::ofstream(bin / "gemini") << "#!/bin/sh\ntouch '" << started.string() << "'\nsleep 60\n";
  ::chmod((bin / "gemini").c_str(), 0755);
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (bin.string() + ":" + oldPath).c_str(), 1);
  TLoopMainThread loop;
  TGeminiDM dm(loop);
  for (auto _ : AState) {
    std::filesystem::remove(started);
    TRequestOptions options;
    options.Stop = std::make_shared<TStopToken>();
    bool done = false;
    dm.ClearHistory();
    GenerateContentCLI(dm, kGeminiCliKey, "gemini-2.5-flash", Prompt(), false,
                       MakeCallback([&](const std::string&, const TTokenUsage&, const TResultFlags&) { done = true; }), true,
                       options.Stop);
    loop.ProcessUntil([&] { return std::filesystem::exists(started); });
    const auto pressed = Clock::now();
    options.Stop->Stop();
    if (!loop.ProcessUntil([&] { return done; })) {
      AState.SkipWithError("no completion");
      break;
    }
    AState.SetIterationTime(Seconds(Clock::now() - pressed));
  }
  ::setenv("PATH", oldPath.c_str(), 1);
  FlushRequestCounts();
}
BENCHMARK(BM_StopToUsable_Cli)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
}  // namespace tarvok::bench
