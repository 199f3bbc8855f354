// A chat turn with 16 attachments of 20 MB (about 430 MB of Base64 on the wire): the
// request body made piece by piece, as it is sent, beside a plain copy of the same bytes,
// and the worker's whole send path (trim, snapshot, worker thread, body, POST, answer,
// completion on the main thread) against the emulator. A small text turn sent the same way,
// taken in turns with a bare libcurl loop posting the same body to the same emulator.
//
// TARVOK_BENCH_EMULATOR=<base url> posts to an emulator already running (scripts/bench
// starts the program and posts the same body with the curl command line beside this);
// without it an emulator runs in this process. "RequestBench --write-body FILE" writes
// the exact body of that turn to FILE and exits; "RequestBench --peak-send" sends that
// turn once to TARVOK_BENCH_EMULATOR and prints the process's peak memory beside the
// attachments' file bytes.
//
// A 200 MB file through the Files API: "RequestBench --upload-file" makes it (once, under
// TARVOK_BENCH_DATA) and prints its name; BM_UploadFile uploads it from the chat's Base64;
// BM_TurnsAfterUploadAlternated times the next small turn of that chat, which refers to the
// file by uri, beside its references;
// "RequestBench --peak-upload" attaches it, sends it through the worker to
// TARVOK_BENCH_EMULATOR, sends the next turn, and prints the peak memory beside the file's bytes.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "BigHistory.h"
#include "core/ApiKeyStats.h"
#include "core/FileUpload.h"
#include "core/GeminiDM.h"
#include "core/LoopMainThread.h"
#include "core/RequestThread.h"
#include "core/WireFormat.h"
#include "storage/Attachments.h"
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

// One turn sent through the worker, as the window sends it, and the loop run until its
// completion has run on this thread (what the user waits for; the worker's own end posts
// nothing, so waiting for it would measure the loop's polling slice).
struct TTurnOutcome {
  bool Answered = false;  // the completion ran within the time given
  bool Failed = false;
  std::string Result;
};
TTurnOutcome SendTurn(TLoopMainThread& ALoop, TGeminiDM& ADm, const char* AModel, const TContentParts& AParts,
                      std::chrono::minutes ALimit, bool AKeepResult = false, const TRequestOptions& AOptions = {}) {
  TTurnOutcome out;
  bool done = false;
  ADm.GenerateContent("bench-key", AModel, AParts, false,
                      MakeCallback([&](const std::string& R, const TTokenUsage&, const TResultFlags& F) {
                        if (AKeepResult) out.Result = R;
                        out.Failed = F.Failed;
                        done = true;
                      }),
                      true, AOptions);
  out.Answered = ALoop.ProcessUntil([&] { return done; }, ALimit);
  return out;
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
    const TTurnOutcome turn = SendTurn(loop, dm, "gemini-2.5-pro", newParts, std::chrono::minutes(10), true);
    if (!turn.Answered) {
      AState.SkipWithError("no answer within ten minutes");
      break;
    }
    if (turn.Failed || dm.FChatHistory.size() != earlier.size() + 2) {
      AState.SkipWithError(("the request failed: " + turn.Result.substr(0, 300)).c_str());
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

// The least any design with a worker thread pays: the bare post, handed to a waiting
// thread and its end handed back to the waiting caller, two wakes between threads a post
// and nothing else.
class TBarePoster {
 public:
  TBarePoster(std::string AUrl, std::string ABody) : FUrl(std::move(AUrl)), FBody(std::move(ABody)) {
    FWorker = std::thread([this] {
      std::unique_lock l(FLock);
      for (;;) {
        FWake.wait(l, [&] { return FAsked > FAnswered || FQuit; });
        if (FQuit) return;
        l.unlock();
        const bool ok = BarePost(FUrl, FBody);
        l.lock();
        FFailed = FFailed || !ok;
        ++FAnswered;
        l.unlock();
        FDone.notify_one();
        l.lock();
      }
    });
  }
  ~TBarePoster() {
    {
      std::lock_guard l(FLock);
      FQuit = true;
    }
    FWake.notify_one();
    FWorker.join();
  }
  // One post on the waiting thread, this thread waiting for its end; false when it failed.
  bool Post() {
    std::unique_lock l(FLock);
    ++FAsked;
    l.unlock();
    FWake.notify_one();
    l.lock();
    FDone.wait(l, [&] { return FAnswered == FAsked; });
    return !FFailed;
  }

 private:
  const std::string FUrl, FBody;
  std::mutex FLock;
  std::condition_variable FWake, FDone;
  int FAsked = 0, FAnswered = 0;
  bool FFailed = false, FQuit = false;
  std::thread FWorker;
};

// What one figure makes once: true when it went as it should.
struct TStep {
  std::string Name;  // the counter of its mean time, in seconds
  std::function<bool()> Run;
};

// Each step once an iteration, in an order that turns by one every iteration, each timed
// on its own; the counters are their mean times. A figure and its reference a third of a
// millisecond long swing by a tenth or more from one spell of the machine's load to the
// next, and separate runs of each, even interleaved, catch different spells: taken in
// turns they share every spell.
void RunAlternated(benchmark::State& AState, const std::vector<TStep>& ASteps) {
  using TClock = std::chrono::steady_clock;
  std::vector<TClock::duration> spent(ASteps.size());
  std::size_t rounds = 0;
  for (auto _ : AState) {
    for (std::size_t k = 0; k < ASteps.size(); ++k) {
      const std::size_t i = (rounds + k) % ASteps.size();
      const TClock::time_point start = TClock::now();
      const bool ok = ASteps[i].Run();
      spent[i] += TClock::now() - start;
      if (!ok) {
        AState.SkipWithError((ASteps[i].Name + " failed").c_str());
        return;
      }
    }
    ++rounds;
  }
  for (std::size_t i = 0; i < ASteps.size(); ++i)
    AState.counters[ASteps[i].Name] = std::chrono::duration<double>(spent[i]).count() / static_cast<double>(rounds);
}

// The small turn's body and address, as the bare loops post them.
std::string SmallTurnBody() {
  TChatHistory history(1);
  history[0].Role = "user";
  history[0].Parts = SmallTurn();
  return BuildChatBody(history, DefaultSettings(), false);
}
std::string SmallTurnUrl() { return EmulatorBase() + "/v1beta/models/gemini-2.5-flash:generateContent?key=bench-key"; }

// One small text turn through the service, from the call to the completion on the main
// thread (turn_s), beside a bare libcurl loop posting the same body to the same emulator
// with a fresh handle a post, as the worker uses: on a waiting thread (on_thread_s) and on
// this one (bare_s).
void BM_SmallTurnsAlternated(benchmark::State& AState) {
  TScratchDir dir("tarvok-request-bench");
  SetProgramDir(dir.Path());
  TLoopMainThread loop;
  TGeminiDM dm(loop);
  dm.GeminiApiUrlBase = EmulatorBase() + "/v1beta/models/%s:%s?key=";
  const std::string url = SmallTurnUrl(), body = SmallTurnBody();
  TBarePoster poster(url, body);
  RunAlternated(AState, {{"turn_s",
                          [&] {
                            dm.FChatHistory.clear();
                            const TTurnOutcome turn =
                                SendTurn(loop, dm, "gemini-2.5-flash", SmallTurn(), std::chrono::minutes(1));
                            return turn.Answered && !turn.Failed;
                          }},
                         {"on_thread_s", [&] { return poster.Post(); }},
                         {"bare_s", [&] { return BarePost(url, body); }}});
  loop.ProcessUntil([] { return TGeminiRequestThread::ActiveCount() == 0; }, std::chrono::minutes(1));
  FlushRequestCounts();  // the counts reach their files before the scratch folder goes
}
BENCHMARK(BM_SmallTurnsAlternated)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- A 200 MB file through the Files API ----
//
// The file a user attaches (a video of 200 MB), made once under TARVOK_BENCH_DATA (else
// the temporary folder) and kept for later runs. Random bytes, as a compressed video is.
constexpr std::uint64_t kUploadFileBytes = 200'000'000;

std::filesystem::path UploadFilePath() {
  const char* data = std::getenv("TARVOK_BENCH_DATA");
  const std::filesystem::path folder = data && *data ? std::filesystem::path(data) : TempDir();
  return folder / "upload-200MB.mp4";
}

// The file, made when it is missing or has another size; empty when it cannot be written.
std::string UploadFile() {
  const std::filesystem::path path = UploadFilePath();
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) == kUploadFileBytes && !ec) return PathToUtf8(path);
  std::filesystem::create_directories(path.parent_path(), ec);
  const std::filesystem::path part = path.string() + ".part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    std::vector<std::uint64_t> piece(1 << 19);  // 4 MiB
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    for (std::uint64_t left = kUploadFileBytes; left > 0 && out;) {
      // xorshift64*: about a gigabyte a second, where the disk is the limit.
      for (std::uint64_t& v : piece) {
        x ^= x >> 12;
        x ^= x << 25;
        x ^= x >> 27;
        v = x * 0x2545F4914F6CDD1Dull;
      }
      const std::uint64_t n = std::min<std::uint64_t>(left, piece.size() * sizeof piece[0]);
      out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(n));
      left -= n;
    }
    if (!out) return {};
  }
  std::filesystem::rename(part, path, ec);
  return ec ? std::string() : PathToUtf8(path);
}

// The attachment as the window makes it when the file is attached: its Base64 in the chat.
const TContentPart& UploadPart() {
  static const TContentPart part = [] {
    TContentPart p;
    const std::string file = UploadFile();
    if (file.empty()) return p;
    p.PartType = TPartType::ptInlineData;
    p.MimeType = GetMimeTypeFromFileExt(file);
    try {
      p.Base64Data = TSharedText(FileToBase64(file, p.Text));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());  // the figures that need it say they failed
    }
    p.FileName = file;
    return p;
  }();
  return part;
}

// The upload alone, as the worker makes it: the start, the bytes decoded from the chat's
// Base64 as they go, and the looks at the file until it is ready.
void BM_UploadFile(benchmark::State& AState) {
  const TContentPart& part = UploadPart();
  if (part.Base64Data.empty()) {
    AState.SkipWithError("the file to upload could not be made or read");
    return;
  }
  TStopToken stop;
  TUploadContext context;
  context.UrlPattern = EmulatorBase() + "/v1beta/models/%s:%s?key=";
  context.ApiKey = "bench-key";
  context.Stop = &stop;
  for (auto _ : AState) {
    try {
      if (UploadAttachment(part, context).Uri.empty()) throw TRequestError("TUploadError", "no uri");
    } catch (const TRequestError& e) {
      AState.SkipWithError((std::string("the upload failed: ") + e.what()).c_str());
      break;
    } catch (const THttpStatusError& e) {
      AState.SkipWithError(("the upload failed: HTTP " + std::to_string(e.Status)).c_str());
      break;
    }
  }
  AState.counters["file_MB"] = static_cast<double>(kUploadFileBytes) / 1e6;
  AState.SetBytesProcessed(static_cast<std::int64_t>(AState.iterations() * kUploadFileBytes));
}
BENCHMARK(BM_UploadFile)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// A chat whose first turn sent the file through the Files API: what the service made of
// it once, then kept, so that every later turn refers to the uri. Empty when that failed.
struct TUploadedChat {
  TChatHistory History;
  std::string Error;
};

const TUploadedChat& UploadedChat() {
  static const TUploadedChat chat = [] {
    TUploadedChat c;
    const TContentPart& part = UploadPart();
    if (part.Base64Data.empty()) {
      c.Error = "the file to upload could not be made or read";
      return c;
    }
    TLoopMainThread loop;
    TGeminiDM dm(loop);
    dm.GeminiApiUrlBase = EmulatorBase() + "/v1beta/models/%s:%s?key=";
    dm.UseFilesApi = true;
    const TTurnOutcome turn = SendTurn(loop, dm, "gemini-2.5-flash",
                                       {{TPartType::ptText, "Что происходит в этом видео?", "", {}, ""}, part},
                                       std::chrono::minutes(5), true);
    if (!turn.Answered || turn.Failed) {
      c.Error = "the turn with the file failed: " + turn.Result.substr(0, 300);
      return c;
    }
    loop.ProcessUntil([] { return TGeminiRequestThread::ActiveCount() == 0; }, std::chrono::minutes(1));
    if (dm.FChatHistory.size() != 2 || dm.FChatHistory[0].Parts.size() != 2 || dm.FChatHistory[0].Parts[1].FileUri.empty()) {
      c.Error = "the file did not go through the Files API";
      return c;
    }
    c.History = dm.FChatHistory;
    return c;
  }();
  return chat;
}

// The body of the turn after the upload, as the worker makes it; empty when the file's
// turn would be left out of it (then the figure would be a plain small turn's).
std::string TurnAfterUploadBody(const TGeminiDM& ADm) {
  TChatHistory sent;
  TGeminiDM::TrimHistoryToTokenLimit(UploadedChat().History, SmallTurn(), ADm.MaxContextTokens, sent);
  THistoryItem next;
  next.Role = "user";
  next.Parts = SmallTurn();
  sent.push_back(std::move(next));
  const std::string body = BuildChatBody(sent, ADm.Settings(), false);
  return body.find("\"file_data\"") == std::string::npos ? std::string() : body;
}

// AHistory with only its text parts: the same chat had its first turn carried no file.
TChatHistory TextOnly(TChatHistory AHistory) {
  for (THistoryItem& item : AHistory)
    std::erase_if(item.Parts, [](const TContentPart& APart) { return APart.PartType != TPartType::ptText; });
  return AHistory;
}

// The next small text turn of that chat (after_upload_s): its body carries the earlier
// turns and refers to the file by its uri. Beside it, taken in turns: the same next turn
// of the same chat had its first turn carried no file (text_only_s), what the file,
// referred to by uri, adds to every later turn; a small turn of a new chat (small_s); and
// the two bodies as the worker makes them, posted by the bare loop on a waiting thread
// (bare_after_upload_s, bare_text_only_s), what the emulator and the wire take for the
// longer body apart from anything the program does.
void BM_TurnsAfterUploadAlternated(benchmark::State& AState) {
  TScratchDir dir("tarvok-request-bench");
  SetProgramDir(dir.Path());
  const TUploadedChat& chat = UploadedChat();
  if (!chat.Error.empty()) {
    AState.SkipWithError(chat.Error.c_str());
    return;
  }
  TLoopMainThread loop;
  TGeminiDM dm(loop);
  dm.GeminiApiUrlBase = EmulatorBase() + "/v1beta/models/%s:%s?key=";
  dm.UseFilesApi = true;
  const std::string afterUploadBody = TurnAfterUploadBody(dm);
  if (afterUploadBody.empty()) {
    AState.SkipWithError("the turn after the upload would not refer to the file");
    return;
  }
  const TChatHistory textOnly = TextOnly(chat.History);
  TChatHistory textOnlySent = textOnly;
  THistoryItem next;
  next.Role = "user";
  next.Parts = SmallTurn();
  textOnlySent.push_back(std::move(next));
  TBarePoster afterUploadPoster(SmallTurnUrl(), afterUploadBody);
  TBarePoster textOnlyPoster(SmallTurnUrl(), BuildChatBody(textOnlySent, dm.Settings(), false));

  int uploads = 0;
  TRequestOptions options;
  options.OnUploaded = [&uploads](const std::vector<TUploadedFile>& AFiles) { uploads += static_cast<int>(AFiles.size()); };
  auto turn = [&](const TChatHistory& AHistory, const TRequestOptions& AOptions) {
    dm.FChatHistory = AHistory;
    const TTurnOutcome outcome =
        SendTurn(loop, dm, "gemini-2.5-flash", SmallTurn(), std::chrono::minutes(1), false, AOptions);
    return outcome.Answered && !outcome.Failed && uploads == 0;
  };
  RunAlternated(AState, {{"after_upload_s", [&] { return turn(chat.History, options); }},
                         {"text_only_s", [&] { return turn(textOnly, {}); }},
                         {"small_s", [&] { return turn({}, {}); }},
                         {"bare_after_upload_s", [&] { return afterUploadPoster.Post(); }},
                         {"bare_text_only_s", [&] { return textOnlyPoster.Post(); }}});
  loop.ProcessUntil([] { return TGeminiRequestThread::ActiveCount() == 0; }, std::chrono::minutes(1));
  FlushRequestCounts();
  AState.counters["body_KB"] = static_cast<double>(afterUploadBody.size()) / 1e3;
}
BENCHMARK(BM_TurnsAfterUploadAlternated)->Unit(benchmark::kMillisecond)->UseRealTime();

// A memory figure of this process from /proc/self/status, in bytes (Linux).
std::size_t StatusBytes(const std::string& AField) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(AField, 0) == 0) {
      std::istringstream in(line.substr(AField.size()));
      std::size_t kb = 0;
      in >> kb;
      return kb * 1024;
    }
  return 0;
}

// Peak resident memory of this process so far.
std::size_t PeakResidentBytes() { return StatusBytes("VmHWM:"); }

// The emulator program's address for AOption, which measures this process alone; null (and
// said on stderr) when none was given.
const char* EmulatorApart(const char* AOption) {
  const char* url = std::getenv("TARVOK_BENCH_EMULATOR");
  if (url && *url) return url;
  std::fprintf(stderr, "%s needs TARVOK_BENCH_EMULATOR (an emulator in another process)\n", AOption);
  return nullptr;
}

// The turn sent once through the worker to the emulator program, then the process's peak
// memory: the chat's attachments, and whatever the send adds to them. The emulator must
// run apart, or its copy of the body would count here.
int PeakSend() {
  const char* url = EmulatorApart("--peak-send");
  if (!url) return 2;
  TScratchDir dir("tarvok-request-bench");
  SetProgramDir(dir.Path());
  TLoopMainThread loop;
  TGeminiDM dm(loop);
  dm.GeminiApiUrlBase = std::string(url) + "/v1beta/models/%s:%s?key=";
  dm.FChatHistory.assign(SentHistory().begin(), SentHistory().end() - 1);
  const TTurnOutcome turn = SendTurn(loop, dm, "gemini-2.5-pro", SentHistory().back().Parts, std::chrono::minutes(10));
  if (!turn.Answered || turn.Failed) {
    std::fprintf(stderr, "the send failed\n");
    return 1;
  }
  loop.ProcessUntil([] { return TGeminiRequestThread::ActiveCount() == 0; }, std::chrono::minutes(1));
  std::printf("peak_bytes %zu\nfile_bytes %zu\nattachment_base64_bytes %zu\n", PeakResidentBytes(),
              static_cast<std::size_t>(kAttachments) * kRawBytes, AttachmentBytes(SentHistory()));
  return 0;
}

// The file attached as the window attaches it, then its turn sent once through the worker
// to the emulator program (the upload, the looks, the turn that refers to the uri) and the
// next turn after it; then the process's peak memory, and how far it rose above what the
// process held before the file was attached (the program and its libraries), beside the
// file's bytes.
int PeakUpload() {
  const char* url = EmulatorApart("--peak-upload");
  if (!url) return 2;
  TScratchDir dir("tarvok-request-bench");
  SetProgramDir(dir.Path());
  // The program and its libraries as they are before the file is attached.
  const std::size_t before = StatusBytes("VmRSS:");
  const TUploadedChat& chat = UploadedChat();
  if (!chat.Error.empty()) {
    std::fprintf(stderr, "%s\n", chat.Error.c_str());
    return 1;
  }
  TLoopMainThread loop;
  TGeminiDM dm(loop);
  dm.GeminiApiUrlBase = std::string(url) + "/v1beta/models/%s:%s?key=";
  dm.UseFilesApi = true;
  dm.FChatHistory = chat.History;
  const TTurnOutcome turn = SendTurn(loop, dm, "gemini-2.5-flash", SmallTurn(), std::chrono::minutes(1));
  if (!turn.Answered || turn.Failed) {
    std::fprintf(stderr, "the turn after the upload failed\n");
    return 1;
  }
  loop.ProcessUntil([] { return TGeminiRequestThread::ActiveCount() == 0; }, std::chrono::minutes(1));
  FlushRequestCounts();
  const std::size_t peak = PeakResidentBytes();
  std::printf("peak_bytes %zu\nresident_before_bytes %zu\npeak_growth_bytes %zu\nfile_bytes %llu\nattachment_base64_bytes %zu\n",
              peak, before, peak - std::min(peak, before), static_cast<unsigned long long>(kUploadFileBytes),
              UploadPart().Base64Data.size());
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
  if (argc == 2 && std::string_view(argv[1]) == "--peak-upload") return tarvok::bench::PeakUpload();
  if (argc == 2 && std::string_view(argv[1]) == "--upload-file") {
    const std::string file = tarvok::bench::UploadFile();
    if (file.empty()) return 1;
    std::printf("%s\n", file.c_str());
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
