// Saving and loading a chat that carries 16 attachments of 20 MB (a file of about
// 430 MB): the file's text made and parsed in memory, and the whole save (atomic, flushed
// to disk) and load through the file system, each beside its reference: the same bytes
// written with one write and a flush, and the same file read and parsed by simdjson alone.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <simdjson.h>
#include <unistd.h>

#include <filesystem>

#include "BigHistory.h"
#include "core/Files.h"
#include "storage/ChatFile.h"

namespace tarvok::bench {
namespace {

constexpr int kAttachments = 16;
constexpr std::size_t kRawBytes = 20'000'000;

const TChatHistory& History() {
  static const TChatHistory history = MakeBigHistory(kAttachments, kRawBytes);
  return history;
}

// The loaded history must carry every attachment unchanged, or the figure means nothing.
bool SameAttachments(const TChatHistory& ALoaded) {
  const TChatHistory& h = History();
  if (ALoaded.size() != h.size()) return false;
  for (std::size_t i = 0; i < h.size(); ++i) {
    if (ALoaded[i].Parts.size() != h[i].Parts.size()) return false;
    for (std::size_t j = 0; j < h[i].Parts.size(); ++j)
      if (!(ALoaded[i].Parts[j].Base64Data == h[i].Parts[j].Base64Data)) return false;
  }
  return true;
}

void Report(benchmark::State& AState, std::size_t AFileBytes) {
  AState.counters["file_MB"] = static_cast<double>(AFileBytes) / 1e6;
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * AFileBytes));
}

void BM_ChatFileContent(benchmark::State& AState) {
  const TChatHistory& history = History();  // made before the clock runs
  std::size_t bytes = 0;
  for (auto _ : AState) {
    const std::string text = ChatFileContent(history);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  Report(AState, bytes);
}
BENCHMARK(BM_ChatFileContent)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ParseChatFileText(benchmark::State& AState) {
  const std::string text = ChatFileContent(History());
  TChatHistory loaded;
  std::int32_t tokens = 0;
  ParseChatFileText(text, loaded, tokens);
  if (!SameAttachments(loaded)) AState.SkipWithError("the parsed chat differs from the saved one");
  for (auto _ : AState) {
    ParseChatFileText(text, loaded, tokens);
    benchmark::DoNotOptimize(loaded.data());
  }
  Report(AState, text.size());
}
BENCHMARK(BM_ParseChatFileText)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_WriteChatFile(benchmark::State& AState) {
  TScratchDir dir("tarvok-chatfile-bench");
  const std::string file = PathToUtf8(dir.Path() / "chat_bench_2025-01-01_120000.json");
  const TChatHistory& history = History();
  for (auto _ : AState) WriteChatFile(file, history);
  Report(AState, static_cast<std::size_t>(std::filesystem::file_size(PathFromUtf8(file))));
}
BENCHMARK(BM_WriteChatFile)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_WriteBytesOnce(benchmark::State& AState) {
  TScratchDir dir("tarvok-chatfile-bench");
  const std::string file = PathToUtf8(dir.Path() / "plain.json");
  const std::string text = ChatFileContent(History());
  for (auto _ : AState) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::size_t done = 0;
    while (fd >= 0 && done < text.size()) {
      const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    if (fd < 0 || done != text.size() || ::fsync(fd) != 0) AState.SkipWithError("the plain write failed");
    if (fd >= 0) ::close(fd);
  }
  Report(AState, text.size());
}
BENCHMARK(BM_WriteBytesOnce)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_ReadChatFile(benchmark::State& AState) {
  TScratchDir dir("tarvok-chatfile-bench");
  const std::string file = PathToUtf8(dir.Path() / "chat_bench_2025-01-01_120000.json");
  WriteChatFile(file, History());
  TChatHistory loaded;
  std::int32_t tokens = 0;
  if (!ReadChatFile(file, loaded, tokens) || !SameAttachments(loaded))
    AState.SkipWithError("the loaded chat differs from the saved one");
  for (auto _ : AState) {
    ReadChatFile(file, loaded, tokens);
    benchmark::DoNotOptimize(loaded.data());
  }
  Report(AState, static_cast<std::size_t>(std::filesystem::file_size(PathFromUtf8(file))));
}
BENCHMARK(BM_ReadChatFile)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

void BM_ReadAndParseOnly(benchmark::State& AState) {
  TScratchDir dir("tarvok-chatfile-bench");
  const std::string file = PathToUtf8(dir.Path() / "chat_bench_2025-01-01_120000.json");
  WriteChatFile(file, History());
  simdjson::dom::parser parser;
  for (auto _ : AState) {
    simdjson::padded_string text;
    simdjson::dom::element root;
    if (simdjson::padded_string::load(file).get(text) != simdjson::SUCCESS ||
        parser.parse(text.data() + kUtf8Bom.size(), text.size() - kUtf8Bom.size(), false).get(root) != simdjson::SUCCESS) {
      AState.SkipWithError("simdjson could not read the file");
      break;
    }
    benchmark::DoNotOptimize(root);
  }
  Report(AState, static_cast<std::size_t>(std::filesystem::file_size(PathFromUtf8(file))));
}
BENCHMARK(BM_ReadAndParseOnly)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
}  // namespace tarvok::bench
