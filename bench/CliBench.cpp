// One chat turn through the CLI route with the real Gemini CLI: prompt file, run, answer,
// completion on the main thread. scripts/bench runs it with the CLI on PATH and its
// environment pointed at the emulator, and runs the same gemini command by hand on the
// same prompt file beside it. "CliBench --write-prompt FILE" writes that prompt file.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "BigHistory.h"
#include "cli/CliRequest.h"
#include "cli/PrivateFiles.h"
#include "core/Files.h"
#include "core/GeminiDM.h"
#include "core/LoopMainThread.h"

namespace tarvok::bench {
namespace {

const TContentParts& Turn() {
  static const TContentParts parts = {{TPartType::ptText, "Привет! Кратко: что такое простое число?", "", {}, ""}};
  return parts;
}

void BM_CliTurn(benchmark::State& AState) {
  TScratchDir dir("tarvok-cli-bench");
  SetProgramDir(dir.Path());
  TLoopMainThread loop;
  TGeminiDM dm(loop);
  dm.TimeOut1 = 240;
  for (auto _ : AState) {
    dm.FChatHistory.clear();
    std::atomic<bool> done = false;
    bool failed = false;
    std::string result;
    GenerateContentCLI(dm, kGeminiCliKey, "gemini-2.5-flash", Turn(), false,
                       MakeCallback([&](const std::string& R, const TTokenUsage&, const TResultFlags& F) {
                         result = R;
                         failed = F.Failed;
                         done = true;
                       }),
                       true);
    if (!loop.ProcessUntil([&] { return done.load(); }, std::chrono::minutes(5)) || failed) {
      AState.SkipWithError(("the CLI turn failed: " + result.substr(0, 300)).c_str());
      break;
    }
  }
  SetProgramDir({});
}
BENCHMARK(BM_CliTurn)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

int WritePrompt(const char* AFileName) {
  TChatHistory history(1);
  history[0].Role = "user";
  history[0].Parts = Turn();
  const auto file = PathFromUtf8(AFileName);
  WritePrivateFile(file, kUtf8Bom, BuildCliPrompt(history, file.parent_path()));
  return 0;
}

}  // namespace
}  // namespace tarvok::bench

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--write-prompt") return tarvok::bench::WritePrompt(argv[2]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
