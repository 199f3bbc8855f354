// A chat turn with 16 attachments of 20 MB (about 430 MB of Base64 on the wire): the
// request body built in one pass, and the worker's whole send path (trim, snapshot,
// worker thread, body, POST, answer, completion on the main thread) against the emulator.
//
// TARVOK_BENCH_EMULATOR=<base url> posts to an emulator already running (scripts/bench
// starts the program and posts the same body with the curl command line beside this);
// without it an emulator runs in this process. "RequestBench --write-body FILE" writes
// the exact body of that turn to FILE and exits.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "BigHistory.h"
#include "core/GeminiDM.h"
#include "core/LoopMainThread.h"
#include "core/RequestThread.h"
#include "core/WireFormat.h"
#include "tools/gemini-emulator/GeminiEmulator.h"

namespace tarvok::bench {
namespace {

constexpr int kAttachments = 16;
constexpr std::size_t kRawBytes = 20'000'000;

// The conversation as sent: earlier turns, then the new user turn with the last two attachments.
const TChatHistory& SentHistory() {
  static const TChatHistory history = [] {
    TChatHistory h = MakeBigHistory(kAttachments, kRawBytes);
    h.pop_back();  // the answer to the last turn is what the request asks for
    return h;
  }();
  return history;
}

TGeminiSettings DefaultSettings() {
  TLoopMainThread loop;
  return TGeminiDM(loop).Settings();
}

std::string TurnBody() { return BuildChatBody(SentHistory(), DefaultSettings(), false); }

void BM_BuildChatBody(benchmark::State& AState) {
  const TGeminiSettings settings = DefaultSettings();
  const TChatHistory& history = SentHistory();  // made before the clock runs
  std::size_t bodyBytes = 0;
  for (auto _ : AState) {
    const std::string body = BuildChatBody(history, settings, false);
    bodyBytes = body.size();
    benchmark::DoNotOptimize(body.data());
  }
  AState.counters["body_MB"] = static_cast<double>(bodyBytes) / 1e6;
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * bodyBytes));
}
BENCHMARK(BM_BuildChatBody)->Unit(benchmark::kMillisecond)->MinTime(kHeavyMinTime);

void BM_SendChatTurn(benchmark::State& AState) {
  TScratchDir dir("tarvok-request-bench");
  SetProgramDir(dir.Path());  // the request counter writes its files there

  std::unique_ptr<emulator::TGeminiEmulator> local;
  std::string base;
  if (const char* url = std::getenv("TARVOK_BENCH_EMULATOR"); url && *url) {
    base = url;
  } else {
    local = std::make_unique<emulator::TGeminiEmulator>();
    local->SetRecordBodies(false);
    local->Start();
    base = local->BaseUrl();
  }

  TLoopMainThread loop;
  TGeminiDM dm(loop);
  dm.GeminiApiUrlBase = base + "/v1beta/models/%s:%s?key=";
  const TChatHistory earlier(SentHistory().begin(), SentHistory().end() - 1);
  const TContentParts& newParts = SentHistory().back().Parts;
  const std::size_t bodyBytes = TurnBody().size();

  for (auto _ : AState) {
    dm.FChatHistory = earlier;
    bool done = false, failed = false;
    std::string result;
    dm.GenerateContent("bench-key", "gemini-2.5-pro", newParts, false, MakeCallback([&](const std::string& R, const TTokenUsage&, const TResultFlags& F) {
                         result = R;
                         failed = F.Failed;
                         done = true;
                       }),
                       true);
    if (!loop.ProcessUntil([&] { return done && TGeminiRequestThread::ActiveCount() == 0; }, std::chrono::minutes(10))) {
      AState.SkipWithError("no answer within ten minutes");
      break;
    }
    if (failed || dm.FChatHistory.size() != earlier.size() + 2) {
      AState.SkipWithError(("the request failed: " + result.substr(0, 300)).c_str());
      break;
    }
  }
  AState.counters["body_MB"] = static_cast<double>(bodyBytes) / 1e6;
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * bodyBytes));
}
BENCHMARK(BM_SendChatTurn)->Unit(benchmark::kMillisecond)->MinTime(kHeavyMinTime)->UseRealTime();

int WriteBody(const char* AFileName) {
  const std::string body = TurnBody();
  std::ofstream out(AFileName, std::ios::binary | std::ios::trunc);
  out.write(body.data(), static_cast<std::streamsize>(body.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", AFileName);
    return 1;
  }
  std::printf("%zu bytes\n", body.size());
  return 0;
}

}  // namespace
}  // namespace tarvok::bench

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--write-body") return tarvok::bench::WriteBody(argv[2]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
