// A chat turn with 16 attachments of 20 MB (about 430 MB of Base64 on the wire): the
// request body made piece by piece, as it is sent, beside a plain copy of the same bytes,
// and the worker's whole send path (trim, snapshot, worker thread, body, POST, answer,
// completion on the main thread) against the emulator. A small text turn sent the same way, beside a bare
// libcurl loop posting the same body to the same emulator.
//
// TARVOK_BENCH_EMULATOR=<base url> posts to an emulator already running (scripts/bench
// starts the program and posts the same body with the curl command line beside this);
// without it an emulator runs in this process. "RequestBench --write-body FILE" writes
// the exact body of that turn to FILE and exits; "RequestBench --peak-send" sends that
// turn once to TARVOK_BENCH_EMULATOR and prints the process's peak memory beside the
// attachments' file bytes.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>

#include "BigHistory.h"
#include "core/ApiKeyStats.h"
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

// Every byte of the body as the worker makes it while sending: the source set up (the
// attachments checked and their escapes counted, for the length sent ahead), then read
// in pieces of the upload buffer's size. The pieces go to their places in a fresh buffer
// of the body's size, the same destination the reference copies into (the worker writes
// them into one reused buffer, which costs less than fresh memory).
void BM_BuildChatBody(benchmark::State& AState) {
  const TGeminiSettings settings = DefaultSettings();
  const TChatHistory& history = SentHistory();  // made before the clock runs
  std::size_t bodyBytes = 0;
  for (auto _ : AState) {
    TRequestBodySource source(history, settings, false);
    bodyBytes = source.Size();
    const std::unique_ptr<char[]> body(new char[bodyBytes]);
    std::size_t at = 0;
    while (const std::size_t n = source.Read(body.get() + at, std::min(kRequestBodyPieceBytes, bodyBytes - at))) at += n;
    if (at != bodyBytes) AState.SkipWithError("the body came out short");
    benchmark::DoNotOptimize(body.get());
  }
  AState.counters["body_MB"] = static_cast<double>(bodyBytes) / 1e6;
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * bodyBytes));
}
BENCHMARK(BM_BuildChatBody)->Unit(benchmark::kMillisecond)->Iterations(1);

// For comparison, not a row of the table: the same pieces into one reused buffer, as the
// worker hands them to libcurl.
void BM_BuildChatBodyInSendPieces(benchmark::State& AState) {
  const TGeminiSettings settings = DefaultSettings();
  const TChatHistory& history = SentHistory();
  const std::unique_ptr<char[]> piece(new char[kRequestBodyPieceBytes]);
  std::size_t bodyBytes = 0;
  for (auto _ : AState) {
    TRequestBodySource source(history, settings, false);
    bodyBytes = 0;
    while (const std::size_t n = source.Read(piece.get(), kRequestBodyPieceBytes)) bodyBytes += n;
    benchmark::DoNotOptimize(piece.get());
  }
  AState.counters["body_MB"] = static_cast<double>(bodyBytes) / 1e6;
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * bodyBytes));
}
BENCHMARK(BM_BuildChatBodyInSendPieces)->Unit(benchmark::kMillisecond)->Iterations(1);

// The reference: the same number of bytes copied into fresh memory, the machine's limit
// for making a buffer of that size.
void BM_CopyBodyBytes(benchmark::State& AState) {
  const std::string body = TurnBody();
  for (auto _ : AState) {
    std::string copy(body);
    benchmark::DoNotOptimize(copy.data());
  }
  AState.counters["body_MB"] = static_cast<double>(body.size()) / 1e6;
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * body.size()));
}
BENCHMARK(BM_CopyBodyBytes)->Unit(benchmark::kMillisecond)->Iterations(1);

// The emulator the sends go to: the one scripts/bench runs, else one in this process.
std::string EmulatorBase() {
  if (const char* url = std::getenv("TARVOK_BENCH_EMULATOR"); url && *url) return url;
  static const std::unique_ptr<emulator::TGeminiEmulator> local = [] {
    auto e = std::make_unique<emulator::TGeminiEmulator>();
    e->SetRecordBodies(false);
    e->Start();
    return e;
  }();
  return local->BaseUrl();
}

void BM_SendChatTurn(benchmark::State& AState) {
  TScratchDir dir("tarvok-request-bench");
  SetProgramDir(dir.Path());  // the request counter writes its files there
  const std::string base = EmulatorBase();

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
    if (!loop.ProcessUntil([&] { return done; }, std::chrono::minutes(10))) {
      AState.SkipWithError("no answer within ten minutes");
      break;
    }
    if (failed || dm.FChatHistory.size() != earlier.size() + 2) {
      AState.SkipWithError(("the request failed: " + result.substr(0, 300)).c_str());
      break;
    }
  }
  loop.ProcessUntil([] { return TGeminiRequestThread::ActiveCount() == 0; }, std::chrono::minutes(10));
  AState.counters["body_MB"] = static_cast<double>(bodyBytes) / 1e6;
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * bodyBytes));
}
BENCHMARK(BM_SendChatTurn)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

const TContentParts& SmallTurn() {
  static const TContentParts parts = {{TPartType::ptText, "Привет! Кратко: что такое простое число?", "", {}, ""}};
  return parts;
}

// One small text turn through the service, from the call to the completion on the main thread.
void BM_SmallTextTurn(benchmark::State& AState) {
  TScratchDir dir("tarvok-request-bench");
  SetProgramDir(dir.Path());
  TLoopMainThread loop;
  TGeminiDM dm(loop);
  dm.GeminiApiUrlBase = EmulatorBase() + "/v1beta/models/%s:%s?key=";
  for (auto _ : AState) {
    dm.FChatHistory.clear();
    bool done = false, failed = false;
    dm.GenerateContent("bench-key", "gemini-2.5-flash", SmallTurn(), false,
                       MakeCallback([&](const std::string&, const TTokenUsage&, const TResultFlags& F) {
                         failed = F.Failed;
                         done = true;
                       }),
                       true);
    // The completion has run: that is what the user waits for. (The worker's own end posts
    // nothing, so waiting for it would measure the loop's polling slice.)
    if (!loop.ProcessUntil([&] { return done; }, std::chrono::minutes(1)) || failed) {
      AState.SkipWithError("the small turn failed");
      break;
    }
  }
  loop.ProcessUntil([] { return TGeminiRequestThread::ActiveCount() == 0; }, std::chrono::minutes(1));
  FlushRequestCounts();  // the counts reach their files before the scratch folder goes
}
BENCHMARK(BM_SmallTextTurn)->Unit(benchmark::kMillisecond)->UseRealTime();

std::size_t Discard(char*, std::size_t ASize, std::size_t ACount, void* AOut) {
  static_cast<std::string*>(AOut)->append(ASize * ACount, ' ');
  return ASize * ACount;
}

// One bare post of ABody to AUrl with a fresh handle, as the worker makes one; false when it failed.
bool BarePost(const std::string& AUrl, const std::string& ABody) {
  CURL* curl = curl_easy_init();
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  std::string answer;
  curl_easy_setopt(curl, CURLOPT_URL, AUrl.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, ABody.data());
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ABody.size()));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  const CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return rc == CURLE_OK && status == 200 && !answer.empty();
}

// The small turn's body and address, as the bare loops post them.
std::string SmallTurnBody() {
  TChatHistory history(1);
  history[0].Role = "user";
  history[0].Parts = SmallTurn();
  return BuildChatBody(history, DefaultSettings(), false);
}
std::string SmallTurnUrl() { return EmulatorBase() + "/v1beta/models/gemini-2.5-flash:generateContent?key=bench-key"; }

// The reference: a bare libcurl loop posting the same body to the same emulator, a fresh
// handle per post as the worker uses.
void BM_SmallTurnBareCurl(benchmark::State& AState) {
  const std::string body = SmallTurnBody();
  const std::string url = SmallTurnUrl();
  for (auto _ : AState) {
    if (!BarePost(url, body)) {
      AState.SkipWithError("the bare post failed");
      break;
    }
  }
}
BENCHMARK(BM_SmallTurnBareCurl)->Unit(benchmark::kMillisecond)->UseRealTime();

// The least any design with a worker thread pays: the same bare post, handed to a waiting
// thread and its end handed back to the waiting caller, two wakes between threads a turn
// and nothing else. Not a budget; it shows how much of the turn is the hand-offs alone.
void BM_SmallTurnBareCurlOnAThread(benchmark::State& AState) {
  const std::string body = SmallTurnBody();
  const std::string url = SmallTurnUrl();
  std::mutex lock;
  std::condition_variable wake, done;
  int asked = 0, answered = 0;
  bool failed = false, quit = false;
  std::thread worker([&] {
    std::unique_lock l(lock);
    for (;;) {
      wake.wait(l, [&] { return asked > answered || quit; });
      if (quit) return;
      l.unlock();
      const bool ok = BarePost(url, body);
      l.lock();
      failed = failed || !ok;
      ++answered;
      l.unlock();
      done.notify_one();
      l.lock();
    }
  });
  for (auto _ : AState) {
    std::unique_lock l(lock);
    ++asked;
    l.unlock();
    wake.notify_one();
    l.lock();
    done.wait(l, [&] { return answered == asked; });
    if (failed) {
      AState.SkipWithError("the bare post failed");
      break;
    }
  }
  {
    std::lock_guard l(lock);
    quit = true;
  }
  wake.notify_one();
  worker.join();
}
BENCHMARK(BM_SmallTurnBareCurlOnAThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// Peak resident memory of this process so far, in bytes (Linux).
std::size_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) {
      std::istringstream in(line.substr(6));
      std::size_t kb = 0;
      in >> kb;
      return kb * 1024;
    }
  return 0;
}

// The turn sent once through the worker to the emulator program, then the process's peak
// memory: the chat's attachments, and whatever the send adds to them. The emulator must
// run apart, or its copy of the body would count here.
int PeakSend() {
  const char* url = std::getenv("TARVOK_BENCH_EMULATOR");
  if (!url || !*url) {
    std::fprintf(stderr, "--peak-send needs TARVOK_BENCH_EMULATOR (an emulator in another process)\n");
    return 2;
  }
  TScratchDir dir("tarvok-request-bench");
  SetProgramDir(dir.Path());
  TLoopMainThread loop;
  TGeminiDM dm(loop);
  dm.GeminiApiUrlBase = std::string(url) + "/v1beta/models/%s:%s?key=";
  dm.FChatHistory.assign(SentHistory().begin(), SentHistory().end() - 1);
  bool done = false, failed = false;
  dm.GenerateContent("bench-key", "gemini-2.5-pro", SentHistory().back().Parts, false,
                     MakeCallback([&](const std::string&, const TTokenUsage&, const TResultFlags& F) {
                       failed = F.Failed;
                       done = true;
                     }),
                     true);
  if (!loop.ProcessUntil([&] { return done; }, std::chrono::minutes(10)) || failed) {
    std::fprintf(stderr, "the send failed\n");
    return 1;
  }
  loop.ProcessUntil([] { return TGeminiRequestThread::ActiveCount() == 0; }, std::chrono::minutes(1));
  std::printf("peak_bytes %zu\nfile_bytes %zu\nattachment_base64_bytes %zu\n", PeakResidentBytes(),
              static_cast<std::size_t>(kAttachments) * kRawBytes, AttachmentBytes(SentHistory()));
  return 0;
}

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
  if (argc == 2 && std::string_view(argv[1]) == "--peak-send") return tarvok::bench::PeakSend();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
