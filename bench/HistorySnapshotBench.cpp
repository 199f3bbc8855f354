// What a send costs before anything goes over the wire: the snapshot of the history kept
// for a failed request and the trimmed history handed to the worker. With 320 MB of
// attachments both must stay in microseconds, because the attachments are shared. The
// deep copy beside them is what the same snapshot would cost if they were not.
#include <benchmark/benchmark.h>

#include "BigHistory.h"
#include "core/GeminiDM.h"

namespace tarvok::bench {
namespace {

constexpr int kAttachments = 16;
constexpr std::size_t kRawBytes = 15'000'000;  // 20 MB of Base64 each

const TChatHistory& History() {
  static const TChatHistory history = MakeBigHistory(kAttachments, kRawBytes);
  return history;
}

void AddCounters(benchmark::State& AState) {
  AState.counters["turns"] = static_cast<double>(History().size());
  AState.counters["attachments_MB"] = static_cast<double>(AttachmentBytes(History())) / 1e6;
}

void BM_SnapshotHistory(benchmark::State& AState) {
  const TChatHistory& history = History();
  {
    const TChatHistory probe = history;
    if (SharedAttachments(history, probe) != kAttachments) AState.SkipWithError("the snapshot copied attachment data");
  }
  for (auto _ : AState) {
    TChatHistory fullHistoryBeforeRequest = history;
    benchmark::DoNotOptimize(fullHistoryBeforeRequest.data());
  }
  AddCounters(AState);
}
BENCHMARK(BM_SnapshotHistory)->Unit(benchmark::kMicrosecond);

void BM_TrimHistoryToTokenLimit(benchmark::State& AState) {
  const TChatHistory& history = History();
  const TContentParts newParts = {{TPartType::ptText, "А что в третьем документе?", "", {}, ""}};
  TChatHistory historyToSend;
  // The limit keeps every turn: the most a trim ever has to hand over.
  TGeminiDM::TrimHistoryToTokenLimit(history, newParts, 124000, historyToSend);
  if (historyToSend.size() != history.size() || SharedAttachments(history, historyToSend) != kAttachments)
    AState.SkipWithError("the trimmed history lost turns or copied attachment data");
  for (auto _ : AState) {
    TGeminiDM::TrimHistoryToTokenLimit(history, newParts, 124000, historyToSend);
    benchmark::DoNotOptimize(historyToSend.data());
  }
  AddCounters(AState);
}
BENCHMARK(BM_TrimHistoryToTokenLimit)->Unit(benchmark::kMicrosecond);

// The reference: every attachment copied into a buffer of its own.
void BM_DeepCopyHistory(benchmark::State& AState) {
  const TChatHistory& history = History();
  for (auto _ : AState) {
    TChatHistory copy = history;
    for (THistoryItem& item : copy)
      for (TContentPart& part : item.Parts)
        if (!part.Base64Data.empty()) part.Base64Data = TSharedText(std::string(part.Base64Data.str()));
    benchmark::DoNotOptimize(copy.data());
  }
  AddCounters(AState);
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * AttachmentBytes(history)));
}
BENCHMARK(BM_DeepCopyHistory)->Unit(benchmark::kMillisecond)->MinTime(kHeavyMinTime);

}  // namespace
}  // namespace tarvok::bench
