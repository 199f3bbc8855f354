#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

#include "LoopbackPort.h"
#include "RequestHarness.h"
#include "SampleHistories.h"
#include "core/StopToken.h"
#include "core/WireFormat.h"
#include "core/CoreTexts.h"
#include "tests/sanitizers/Sanitizers.h"
#include "tools/gemini-emulator/TestCertificates.h"

using namespace tarvok;
using tarvok::emulator::TScriptedReply;
using tarvok::test::TRequestHarness;

namespace {

constexpr const char* kKey = "TESTKEY-1234567890";
constexpr const char* kModel = "gemini-2.5-flash";

std::string HttpError(const std::string& statusLine, int code, const std::string& answer) {
  std::string text = texts::kHttpErrorFormat;
  text.replace(text.find("%s"), 2, statusLine);
  text.replace(text.find("%d"), 2, std::to_string(code));
  text.replace(text.find("%s"), 2, answer);
  return text;
}

constexpr const char* kSafety =
    R"("safetySettings":[{"category":"HARM_CATEGORY_HARASSMENT","threshold":"BLOCK_NONE"},)"
    R"({"category":"HARM_CATEGORY_HATE_SPEECH","threshold":"BLOCK_NONE"},)"
    R"({"category":"HARM_CATEGORY_SEXUALLY_EXPLICIT","threshold":"BLOCK_NONE"},)"
    R"({"category":"HARM_CATEGORY_DANGEROUS_CONTENT","threshold":"BLOCK_NONE"}])";

TScriptedReply Reply(int status, std::string body, void (*tweak)(TScriptedReply&) = nullptr) {
  TScriptedReply r;
  r.Status = status;
  r.Body = std::move(body);
  if (tweak) tweak(r);
  return r;
}

class Transport : public ::testing::TestWithParam<bool> {};

}  // namespace

INSTANTIATE_TEST_SUITE_P(PlainAndTls, Transport, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tls" : "Plain"; });

TEST_P(Transport, SuccessRecordsTheAnswerAndItsCounts) {
  TRequestHarness h(GetParam());
  h.Server.Enqueue(Reply(200, emulator::ReadFixture("01-text-basic.json")));
  h.Dm.GenerateContent(kKey, kModel, h.TextParts("Hi"), false, h.Recorder(), true);
  ASSERT_TRUE(h.WaitForCompletions(1));

  ASSERT_EQ(h.Completions.size(), 1u);
  EXPECT_EQ(h.Completions[0].Result, "OK.");
  EXPECT_EQ(h.Completions[0].Usage, (TTokenUsage{6, 2, 28}));
  EXPECT_TRUE(h.Completions[0].OnMainThread);
  EXPECT_FALSE(h.Completions[0].Failed);
  ASSERT_EQ(h.Dm.FChatHistory.size(), 2u);
  EXPECT_EQ(h.Dm.FChatHistory[1].Role, "model");
  EXPECT_EQ(h.Dm.FChatHistory[1].Parts[0].Text, "OK.");
  EXPECT_EQ(h.Dm.FChatHistory[1].TokenCount, 2);
  EXPECT_EQ(h.Dm.FChatHistory[0].TokenCount, 6) << "the prompt count replaces the estimate";
  EXPECT_EQ(h.Dm.FActualHistoryTokens, 8);
  EXPECT_EQ(GetRequestCount(kKey, kModel), 1);

  const auto requests = h.Server.Requests();
  ASSERT_EQ(requests.size(), 1u) << "one attempt";
  EXPECT_EQ(requests[0].Method, "POST");
  EXPECT_EQ(requests[0].Path, "/v1beta/models/gemini-2.5-flash:generateContent");
  EXPECT_EQ(requests[0].Query, std::string("key=") + kKey);
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/json");
}

namespace {

int ThreadCount() {
  return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}));
}

long ResidentKb() {
  tarvok::test::ReleaseFreedMemory();
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  return -1;
}

// Waits until the threads of the last case have ended (a detached worker may still be
// leaving after it reported itself done).
bool ThreadsBackTo(int ACount) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (ThreadCount() > ACount) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// Set once the first piece of a streamed answer has reached the main thread. A server
// holds its cut until then, so the cut comes after text the page already shows.
class TFirstPiece {
 public:
  void Arrived() {
    {
      std::lock_guard lock(FMutex);
      FArrived = true;
    }
    FChanged.notify_all();
  }
  bool Wait() {
    std::unique_lock lock(FMutex);
    return FChanged.wait_for(lock, std::chrono::seconds(10), [this] { return FArrived; });
  }
  void Reset() {
    std::lock_guard lock(FMutex);
    FArrived = false;
  }

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  bool FArrived = false;
};

// Reads one HTTP request whole (headers, then Content-Length bytes of body).
void ReadRequest(int ASocket) {
  std::string in;
  char buffer[4096];
  std::size_t end = std::string::npos;
  while ((end = in.find("\r\n\r\n")) == std::string::npos) {
    const ssize_t n = ::recv(ASocket, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    in.append(buffer, static_cast<std::size_t>(n));
  }
  std::size_t length = 0;
  const std::size_t at = in.find("Content-Length: ");
  if (at != std::string::npos && at < end) length = std::stoul(in.substr(at + 16));
  while (in.size() < end + 4 + length) {
    const ssize_t n = ::recv(ASocket, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    in.append(buffer, static_cast<std::size_t>(n));
  }
}

// A socket listening for one connection on a free loopback port.
int ListenOnLoopback(int& APort) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(s, 1);
  socklen_t len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  APort = ntohs(a.sin_port);
  return s;
}

// Takes one connection and resets it: without AAnswerStart after the request's first bytes,
// before a status line (or, over TLS, a handshake answer) goes out; with it, after the
// whole request, AAnswerStart and the first piece's arrival (plain HTTP only).
class TResetServer {
 public:
  explicit TResetServer(std::string AAnswerStart = {}, TFirstPiece* AFirstPiece = nullptr) {
    FListen = ListenOnLoopback(Port);
    FThread = std::thread([this, AAnswerStart = std::move(AAnswerStart), AFirstPiece] {
      const int s = ::accept(FListen, nullptr, nullptr);
      if (s < 0) return;
      if (AAnswerStart.empty()) {
        char buffer[256];
        (void)::recv(s, buffer, sizeof buffer, 0);
      } else {
        ReadRequest(s);
        (void)::send(s, AAnswerStart.data(), AAnswerStart.size(), MSG_NOSIGNAL);
        if (AFirstPiece) AFirstPiece->Wait();
      }
      const linger hard{1, 0};
      ::setsockopt(s, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      ::close(s);
    });
  }
  ~TResetServer() {
    ::shutdown(FListen, SHUT_RDWR);
    FThread.join();
    ::close(FListen);
  }
  int Port = 0;

 private:
  int FListen = -1;
  std::thread FThread;
};

std::string UrlPattern(bool ATls, int APort) {
  return std::string(ATls ? "https" : "http") + "://127.0.0.1:" + std::to_string(APort) + "/v1beta/models/%s:%s?key=";
}

}  // namespace

// Every fault on the wire arrives as one result text on the main thread, marked failed,
// with zero counts, the history as it was, the request counted once and not retried, and
// no thread or memory left behind. A streamed answer cut short is such a failure too: the
// text that arrived was handed on for the page, but it is not the answer.
TEST_P(Transport, WireFaults) {
  const bool tls = GetParam();
  const std::vector<std::string> pieces = {"First ", "second ", "third."};
  TFirstPiece firstPiece;
  // The stream stops inside the second event, once the first has reached the main thread.
  const auto cutStream = [&](bool AEndProperly) {
    TScriptedReply r = emulator::StreamedTextReply(pieces, 5, 7);
    r.CloseAfterBytes = static_cast<long long>(("data: " + r.SseEvents[0] + "\r\n\r\ndata: {\"cand").size());
    r.EndAtCut = AEndProperly;
    r.OnEventSent = [&](std::size_t AEvent) {
      if (AEvent == 0) firstPiece.Wait();
    };
    return r;
  };
  // The last event carries the stop reason; a stream that breaks off after it lost nothing.
  const auto afterLastEvent = [&](int AStallMs) {
    TScriptedReply r = emulator::StreamedTextReply(pieces, 5, 7);
    r.CloseAfterBytes = 0;
    for (const std::string& e : r.SseEvents) r.CloseAfterBytes += static_cast<long long>(("data: " + e + "\r\n\r\n").size());
    r.StallMs = AStallMs;
    return r;
  };
  std::string wholeStream = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nConnection: close\r\n\r\n";
  for (const std::string& e : emulator::StreamedTextReply(pieces, 5, 7).SseEvents) wholeStream += "data: " + e + "\r\n\r\n";
  const std::string resetAnswerStart = wholeStream.substr(0, wholeStream.find("data: ", wholeStream.find("data: ") + 1) + 12);
  const std::string exception = texts::kExceptionPrefix + std::string("TTransportError - ");
  const std::string timeout = texts::kExceptionPrefix + std::string("TTimeoutError - ");
  constexpr std::size_t kBigText = 200u << 20;
  enum { kBoth, kTlsOnly, kPlainOnly };
  struct {
    const char* name;
    std::function<void(TRequestHarness&)> arrange = {};  // null: a server that resets the connection
    std::string result = {};                             // exact, or the beginning when prefixOnly
    bool prefixOnly = false;
    bool failed = true;
    int timeOut1 = 0;
    int where = kBoth;
    bool expiredCertificate = false;
    bool reachesServer = true;
    bool stream = false;                // streamGenerateContent; the first piece must have been handed on
    std::string resetAnswerStart = {};  // no arrange: what the resetting server sends before it resets
  } cases[] = {
      {"refused",
       [tls](TRequestHarness& h) {
         emulator::TGeminiEmulator gone;
         gone.Start();
         h.Dm.GeminiApiUrlBase = UrlPattern(tls, gone.Port());
       },
       exception, true, true, 0, kBoth, false, false},
      {"reset before the status line", nullptr, exception, true, true, 0, kBoth, false, false},
      {"reset in the middle of the body",
       [](TRequestHarness& h) { h.Server.Enqueue(Reply(200, emulator::ReadFixture("01-text-basic.json"), [](TScriptedReply& r) { r.CloseAfterBytes = 40; })); },
       exception, true},
      {"stall after the headers past the read time-out",
       [](TRequestHarness& h) { h.Server.Enqueue(Reply(200, emulator::ReadFixture("01-text-basic.json"), [](TScriptedReply& r) { r.StallMs = 5000; })); },
       timeout, true, true, 1},
      {"silence before the headers",
       [](TRequestHarness& h) { h.Server.Enqueue(Reply(200, emulator::ReadFixture("01-text-basic.json"), [](TScriptedReply& r) { r.DelayMs = 5000; })); },
       timeout, true, true, 1},
      {"a trickle slower than a byte a second",
       [](TRequestHarness& h) { h.Server.Enqueue(Reply(200, emulator::ReadFixture("01-text-basic.json"), [](TScriptedReply& r) { r.TrickleMs = 1500; })); },
       timeout, true, true, 1},
      {"untrusted certificate", [](TRequestHarness& h) { h.Dm.CaInfoFile.clear(); }, exception, true, true, 0, kTlsOnly, false, false},
      {"expired certificate", [](TRequestHarness&) {}, exception, true, true, 0, kTlsOnly, true, false},
      {"500 with the service's body", [](TRequestHarness& h) { h.Server.Enqueue(Reply(500, emulator::ReadFixture("06-error-500-internal.json"))); },
       HttpError("HTTP/1.1 500 Internal Server Error", 500,
                 "An internal error has occurred. Please retry or report in https://developers.generativeai.google/guide/troubleshooting")},
      {"503 with the service's body", [](TRequestHarness& h) { h.Server.Enqueue(Reply(503, emulator::ReadFixture("06-error-503-overloaded.json"))); },
       HttpError("HTTP/1.1 503 Service Unavailable", 503, "The model is overloaded. Please try again later.")},
      {"429 with quota details", [](TRequestHarness& h) { h.Server.Enqueue(Reply(429, emulator::ReadFixture("06-error-429-quota-details-raw.json"))); },
       "ERROR_CODE_429_FINAL:" + HttpError("HTTP/1.1 429 Too Many Requests", 429,
                                           "You exceeded your current quota, please check your plan and billing details. For more "
                                           "information on this error, head to: https://ai.google.dev/gemini-api/docs/rate-limits.") +
           "\r\n" + texts::kQuotaHead + "GenerateContentInputTokensPerModelPerMinute-FreeTier. " + texts::kRetryHead + "26" +
           texts::kRetryTail},
      {"429 with an error body", [](TRequestHarness& h) { h.Server.Enqueue(Reply(429, R"({"error":{"code":429,"message":"Resource exhausted"}})")); },
       "ERROR_CODE_429_FINAL:" + HttpError("HTTP/1.1 429 Too Many Requests", 429, "Resource exhausted")},
      {"400 whose body is not JSON",
       [](TRequestHarness& h) { h.Server.Enqueue(Reply(400, "Bad Request: <oops>", [](TScriptedReply& r) { r.ContentType = "text/plain"; })); },
       HttpError("HTTP/1.1 400 Bad Request", 400, "Bad Request: <oops>")},
      {"error text carrying the key",
       [](TRequestHarness& h) { h.Server.Enqueue(Reply(403, std::string(R"({"error":{"message":"key )") + kKey + " blocked\"}}")); },
       HttpError("HTTP/1.1 403 Forbidden", 403, "key *** blocked")},
      {"200 that is not JSON",
       [](TRequestHarness& h) { h.Server.Enqueue(Reply(200, "<html><body>Gateway</body></html>", [](TScriptedReply& r) { r.ContentType = "text/html"; })); },
       texts::kEmptyAnswer},
      {"finished before any output", [](TRequestHarness& h) { h.Server.Enqueue(Reply(200, emulator::ReadFixture("04-safety-empty-content.json"))); },
       texts::kNoAnswerHead + std::string("SAFETY") + texts::kNoAnswerTail},
      {"200 of 200 MB",
       [&](TRequestHarness& h) {
         std::string body = R"({"candidates":[{"content":{"parts":[{"text":")";
         body.append(kBigText, 'a');
         body += R"("}]}}]})";
         h.Server.Enqueue(Reply(200, std::move(body)));
       },
       "", false, false, 0, kPlainOnly},
      {.name = "a stream cut in the middle of an event",
       .arrange = [&](TRequestHarness& h) { h.Server.Enqueue(cutStream(false)); },
       .result = exception, .prefixOnly = true, .stream = true},
      {.name = "a stream that ends inside an event",
       .arrange = [&](TRequestHarness& h) { h.Server.Enqueue(cutStream(true)); },
       .result = exception + "the answer stream ended inside an event", .stream = true},
      {.name = "a stream that ends properly after an event without a stop reason",
       .arrange =
           [&](TRequestHarness& h) {
             TScriptedReply r = cutStream(true);
             r.CloseAfterBytes = static_cast<long long>(("data: " + r.SseEvents[0] + "\r\n\r\n").size());
             h.Server.Enqueue(std::move(r));
           },
       .result = exception + "the answer stream ended before the answer was finished", .stream = true},
      {.name = "a stream that stalls inside an event past the read time-out",
       .arrange =
           [&](TRequestHarness& h) {
             TScriptedReply r = cutStream(false);
             r.StallMs = 5000;
             h.Server.Enqueue(std::move(r));
           },
       .result = timeout, .prefixOnly = true, .timeOut1 = 1, .stream = true},
      {.name = "a stream reset in the middle of an event", .result = exception, .prefixOnly = true, .where = kPlainOnly,
       .reachesServer = false, .stream = true, .resetAnswerStart = resetAnswerStart},
      {.name = "a stream dropped after its last event",
       .arrange = [&](TRequestHarness& h) { h.Server.Enqueue(afterLastEvent(0)); },
       .failed = false, .stream = true},
      {.name = "a stream that stalls after its last event past the read time-out",
       .arrange = [&](TRequestHarness& h) { h.Server.Enqueue(afterLastEvent(5000)); },
       .failed = false, .timeOut1 = 1, .stream = true},
      {.name = "a stream reset after its last event", .failed = false, .where = kPlainOnly, .reachesServer = false,
       .stream = true, .resetAnswerStart = wholeStream},
  };
  for (const auto& c : cases) {
    if ((c.where == kTlsOnly && !tls) || (c.where == kPlainOnly && tls)) continue;
    SCOPED_TRACE(c.name);
    firstPiece.Reset();
    tarvok::test::StartSanitizerThreads();
    const int threadsBefore = ThreadCount();
    const long residentBefore = ResidentKb();
    {
      std::optional<TResetServer> reset;
      TRequestHarness h(tls, c.expiredCertificate);
      if (c.arrange) {
        c.arrange(h);
      } else {
        reset.emplace(c.resetAnswerStart, &firstPiece);
        h.Dm.GeminiApiUrlBase = UrlPattern(tls, reset->Port);
      }
      h.Dm.TimeOut1 = c.timeOut1;
      THistoryItem asked, answered;
      asked.Role = "user";
      asked.Parts = h.TextParts("Earlier");
      answered.Role = "model";
      answered.Parts = h.TextParts("Answer");
      h.Dm.FChatHistory = {asked, answered};
      const TChatHistory historyBefore = h.Dm.FChatHistory;

      std::vector<std::string> partials;
      TRequestOptions options;
      options.Stream = c.stream;
      options.OnPartial = [&](const std::string& AText) {
        partials.push_back(AText);
        firstPiece.Arrived();
      };
      h.Dm.GenerateContent(kKey, kModel, h.TextParts("Hi"), false, h.Recorder(), true, options);
      ASSERT_TRUE(h.WaitForCompletions(1));
      ASSERT_EQ(h.Completions.size(), 1u);
      const tarvok::test::TCompletion& done = h.Completions[0];
      const std::string wholeText = pieces[0] + pieces[1] + pieces[2];
      if (!c.stream) {
        EXPECT_TRUE(partials.empty());
      } else if (c.failed) {
        EXPECT_EQ(partials, std::vector<std::string>{pieces[0]}) << "what the page keeps showing";
      }
      EXPECT_TRUE(done.OnMainThread);
      EXPECT_EQ(done.Failed, c.failed);
      const std::string& r = done.Result;
      if (!c.failed) {
        if (c.stream) {
          EXPECT_EQ(r, wholeText);
          EXPECT_EQ(done.Usage, (TTokenUsage{5, 7, 12}));
        } else {
          EXPECT_EQ(r.size(), kBigText);
          EXPECT_EQ(r.find_first_not_of('a'), std::string::npos);
        }
        EXPECT_EQ(h.Dm.FChatHistory.size(), historyBefore.size() + 2);
      } else {
        if (c.prefixOnly) {
          EXPECT_TRUE(r.starts_with(c.result)) << r;
        } else {
          EXPECT_EQ(r, c.result);
        }
        EXPECT_EQ(r.find(kKey), std::string::npos);
        if (std::string(c.name) != "finished before any output") {
          EXPECT_EQ(done.Usage, TTokenUsage{});
        }
        EXPECT_EQ(h.Dm.FChatHistory, historyBefore);
      }
      EXPECT_EQ(GetRequestCount(kKey, kModel), 1);
      EXPECT_EQ(h.Server.Requests().size(), c.reachesServer ? 1u : 0u) << "no retry";
    }
    EXPECT_TRUE(ThreadsBackTo(threadsBefore)) << ThreadCount() << " threads, " << threadsBefore << " before";
    // Under AddressSanitizer the resident size holds the allocator's regions and their
    // shadow, which grow by tens of megabytes at the first case to take a new path (42-49 MB
    // here, after the purge, whatever that case left); the leak checker judges what was
    // left there, at the end of the run.
    if constexpr (!tarvok::test::kAddressSanitizer)
      EXPECT_LT(ResidentKb() - residentBefore, 32 * 1024) << "kB resident left behind";
  }
}

TEST(RequestBytes, TheServerReceivesExactlyTheDocumentedBody) {
  TRequestHarness h(false);
  h.Dm.Temperature = 0;
  h.Dm.TopK = 1;
  h.Dm.TopP = 1;
  h.Dm.GenerateContent(kKey, kModel, h.TextParts("Hi"), true, h.Recorder(), false);
  ASSERT_TRUE(h.WaitForCompletions(1));
  h.Dm.Temperature = 0.2;
  h.Dm.GenerateContent(kKey, kModel, h.TextParts("a\r\n\xD0\xB1\xF0\x9F\x98\x80"), false, h.Recorder(), false);
  ASSERT_TRUE(h.WaitForCompletions(2));

  const auto requests = h.Server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Body, std::string(R"({"contents":[{"role":"user","parts":[{"text":"Hi"}]}],"generationConfig":{"temperature":0.0,"topK":1,"topP":1.0,"maxOutputTokens":500000,"stopSequences":[]},)") +
                                  kSafety + R"(,"tools":[{"googleSearch":{}}]})");
  EXPECT_EQ(requests[1].Body, std::string(R"({"contents":[{"role":"user","parts":[{"text":"a\r\n\u0431\uD83D\uDE00"}]}],"generationConfig":{"temperature":0.2,"topK":1,"topP":1.0,"maxOutputTokens":500000,"stopSequences":[]},)") +
                                  kSafety + "}");
}

// The body goes out as it is made, yet the server receives exactly the body made whole,
// announced by its length as before (no chunks, no "Expect").
TEST_P(Transport, TheServerReceivesTheBodyMadeWhole) {
  for (const auto& sample : tarvok::test::SampleHistories()) {
    SCOPED_TRACE(sample.Name);
    TRequestHarness h(GetParam());
    h.Dm.FChatHistory = sample.History;
    TChatHistory sent = sample.History;
    sent.push_back(tarvok::test::SampleTurn("user", h.TextParts("Next")));
    const std::string expected = BuildChatBody(sent, h.Dm.Settings(), true);
    h.Dm.GenerateContent(kKey, kModel, h.TextParts("Next"), true, h.Recorder(), false);
    ASSERT_TRUE(h.WaitForCompletions(1));
    EXPECT_FALSE(h.Completions[0].Failed) << h.Completions[0].Result.substr(0, 300);
    const auto requests = h.Server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Body.size(), expected.size());
    EXPECT_TRUE(requests[0].Body == expected);
    EXPECT_EQ(requests[0].Header("Content-Length"), std::to_string(expected.size()));
    EXPECT_EQ(requests[0].Header("Transfer-Encoding"), "");
    EXPECT_EQ(requests[0].Header("Expect"), "");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/json");
  }
}

// The worker reads its own snapshot while it sends: the chat replaced or emptied on the
// main thread meanwhile (another chat opened) changes nothing in the body.
TEST(RequestBytes, TheHistoryChangedWhileSendingLeavesTheBodyAsItWas) {
  TRequestHarness h(false);
  TContentParts files;
  for (unsigned i = 0; i < 8; ++i) files.push_back(tarvok::test::SampleData("image/png", tarvok::test::RandomBase64(4'000'000, i)));
  h.Dm.FChatHistory = {tarvok::test::SampleTurn("user", files), tarvok::test::SampleTurn("model", h.TextParts("Seen"))};
  TChatHistory sent = h.Dm.FChatHistory;
  sent.push_back(tarvok::test::SampleTurn("user", h.TextParts("Next")));
  const std::string expected = BuildChatBody(sent, h.Dm.Settings(), false);
  files.clear();
  h.Dm.GenerateContent(kKey, kModel, h.TextParts("Next"), false, h.Recorder(), true);
  h.Dm.FChatHistory = {tarvok::test::SampleTurn("user", {tarvok::test::SampleData("image/png", "QUJD")})};
  h.Dm.FChatHistory.clear();
  ASSERT_TRUE(h.WaitForCompletions(1));
  const auto requests = h.Server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].Body == expected);
}

namespace {

// Takes one connection, reads the first bytes of the request and then reads no more,
// holding the connection open: a large upload stalls with the socket's buffers full.
class TStopReadingServer {
 public:
  TStopReadingServer() {
    FListen = ListenOnLoopback(Port);
    FThread = std::thread([this] {
      FConnection = ::accept(FListen, nullptr, nullptr);
      if (FConnection < 0) return;
      char buffer[4096];
      std::size_t got = 0;
      while (got < 65536) {
        const ssize_t n = ::recv(FConnection, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
      }
      Reading = false;
    });
  }
  ~TStopReadingServer() {
    ::shutdown(FListen, SHUT_RDWR);
    FThread.join();
    if (FConnection >= 0) ::close(FConnection);
    ::close(FListen);
  }
  int Port = 0;
  std::atomic<bool> Reading{true};

 private:
  int FListen = -1;
  int FConnection = -1;
  std::thread FThread;
};

}  // namespace

// A body of tens of megabytes that the server stops taking: a stop ends the request at
// once, and without a stop the read time-out does.
TEST(RequestBytes, AnUploadTheServerStopsTakingEndsByStopOrTimeOut) {
  struct {
    const char* name;
    bool stop;
    std::string result;
  } cases[] = {
      {"stopped", true, texts::kStoppedResult},
      {"read time-out", false, texts::kExceptionPrefix + std::string("TTimeoutError - ")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TRequestHarness h(false);
    TStopReadingServer server;
    h.Dm.GeminiApiUrlBase = UrlPattern(false, server.Port);
    h.Dm.TimeOut1 = 1;
    TRequestOptions options;
    options.Stop = std::make_shared<TStopToken>();
    h.Dm.GenerateContent(kKey, kModel, {tarvok::test::SampleData("application/pdf", tarvok::test::RandomBase64(40'000'000, 1))},
                         false, h.Recorder(), true, options);
    ASSERT_TRUE(h.Loop.ProcessUntil([&] { return !server.Reading; }));
    if (c.stop) options.Stop->Stop();
    ASSERT_TRUE(h.WaitForCompletions(1));
    EXPECT_TRUE(h.Completions[0].Result.starts_with(c.result)) << h.Completions[0].Result;
    EXPECT_TRUE(h.Completions[0].Failed);
    EXPECT_EQ(h.Completions[0].Stopped, c.stop);
    EXPECT_TRUE(h.Dm.FChatHistory.empty());
  }
}

// A model name that looks like a path reaches the service as one segment, streamed or not.
TEST(RequestBytes, AModelNameStaysOneSegmentOfThePath) {
  for (const bool stream : {false, true}) {
    SCOPED_TRACE(stream ? "stream" : "whole");
    TRequestHarness h(false);
    TRequestOptions options;
    options.Stream = stream;
    h.Dm.GenerateContent(kKey, "../../../../n07?", h.TextParts("Hi"), false, h.Recorder(), false, options);
    ASSERT_TRUE(h.WaitForCompletions(1));
    const auto requests = h.Server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Path, stream ? "/v1beta/models/..%2F..%2F..%2F..%2Fn07%3F:streamGenerateContent"
                                       : "/v1beta/models/..%2F..%2F..%2F..%2Fn07%3F:generateContent");
    EXPECT_EQ(requests[0].Query, std::string("key=") + kKey + (stream ? "&alt=sse" : ""));
  }
}

TEST(RequestBytes, SettingsAreTakenWhenTheRequestStarts) {
  TRequestHarness h(false);
  h.Dm.GenerateContent(kKey, kModel, h.TextParts("Hi"), false, h.Recorder(), false);
  // Changed on the main thread while the worker has not yet built its body.
  h.Dm.Temperature = 0.9;
  h.Dm.MaxOutputTokens = 7;
  h.Dm.GeminiApiUrlBase = "http://127.0.0.1:1/%s:%s?key=";
  ASSERT_TRUE(h.WaitForCompletions(1));
  const auto requests = h.Server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].Body.find(R"("temperature":0.2,"topK":1,"topP":1.0,"maxOutputTokens":500000)"), std::string::npos);
}

TEST(RequestBytes, CountedBeforeSending) {
  TRequestHarness h(false);
  h.Server.Enqueue(Reply(200, emulator::ReadFixture("01-text-basic.json")));
  h.Dm.GenerateContent(kKey, kModel, h.TextParts("Hi"), false, h.Recorder(), true);
  ASSERT_TRUE(h.Loop.ProcessUntil([&] { return !h.Server.Requests().empty(); }));
  EXPECT_EQ(GetRequestCount(kKey, kModel), 1) << "the count is made before the request goes out";
  ASSERT_TRUE(h.WaitForCompletions(1));
  EXPECT_EQ(GetRequestCount(kKey, kModel), 1);
}

// A finished worker's thread serves the next request, but requests pending together each
// have a thread: none waits for another to be answered.
TEST(RequestWorkers, RequestsPendingTogetherGoOutTogether) {
  TRequestHarness h(false);
  h.Dm.GenerateContent(kKey, kModel, h.TextParts("Hi"), false, h.Recorder(), false);
  ASSERT_TRUE(h.WaitForCompletions(1));  // its thread now waits for the next request
  for (int i = 0; i < 3; ++i) {
    TScriptedReply held = Reply(200, emulator::ReadFixture("01-text-basic.json"));
    held.DelayMs = 1500;
    h.Server.Enqueue(held);
  }
  for (int i = 0; i < 3; ++i) h.Dm.GenerateContent(kKey, kModel, h.TextParts("Hi"), false, h.Recorder(), false);
  ASSERT_TRUE(h.Loop.ProcessUntil([&] { return h.Server.Requests().size() == 4; }));
  EXPECT_EQ(h.Completions.size(), 1u) << "a request waited for another's answer before it went out";
  ASSERT_TRUE(h.WaitForCompletions(4));
  for (const auto& c : h.Completions) EXPECT_FALSE(c.Failed) << c.Result;
}

// The quota and the wait a 429 names, from the details the service sends.
TEST(QuotaDetails, TheLineNamesWhatTheAnswerCarries) {
  const std::string quota = texts::kQuotaHead;
  const std::string retry = texts::kRetryHead;
  const std::string tail = texts::kRetryTail;
  const std::string quotaFailure = R"({"@type":"type.googleapis.com/google.rpc.QuotaFailure","violations":[{"quotaId":"PerDay"}]})";
  auto body = [](const std::string& ADetails) { return R"({"error":{"code":429,"details":[)" + ADetails + "]}}"; };
  const struct {
    const char* name;
    std::string body;
    std::string line;
  } cases[] = {
      {"recorded answer", emulator::ReadFixture("06-error-429-quota-details-raw.json"),
       quota + "GenerateContentInputTokensPerModelPerMinute-FreeTier. " + retry + "26" + tail},
      {"help only", emulator::ReadFixture("06-error-429-help-only-raw.json"), ""},
      {"no details", emulator::ReadFixture("06-error-429-no-details-raw.json"), ""},
      {"quota only", body(quotaFailure), quota + "PerDay."},
      {"a fraction of a second rounds up", body(R"({"@type":"type.googleapis.com/google.rpc.RetryInfo","retryDelay":"1.2s"})"), retry + "2" + tail},
      {"a delay that is no duration", body(R"({"@type":"type.googleapis.com/google.rpc.RetryInfo","retryDelay":"soon"})"), ""},
      {"violations empty", body(R"({"@type":"type.googleapis.com/google.rpc.QuotaFailure","violations":[]})"), ""},
      {"not JSON", "quota exceeded", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(QuotaDetailsLine(c.body), c.line) << c.name;
}

TEST(RedactApiKey, MasksEveryOccurrence) {
  EXPECT_EQ(RedactApiKey("a KEY123 b KEY123", "KEY123"), "a *** b ***");
  EXPECT_EQ(RedactApiKey("abc", ""), "abc");
}

namespace {

// nghttpd (Debian's nghttp2-server) on loopback: a real HTTP/2 server over TLS. It serves
// files from an empty folder, so a request for the API's path gets 404.
class TNghttpd {
 public:
  explicit TNghttpd(const std::filesystem::path& AFolder) {
    const emulator::TCertificateFiles certs = emulator::MakeTestCertificates(AFolder);
    CaCert = certs.CaCert.string();
    const std::filesystem::path docs = AFolder / "htdocs";
    std::filesystem::create_directories(docs);
    Port = test::FreeLoopbackPort();
    const std::string port = std::to_string(Port);
    FPid = ::fork();
    if (FPid == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      for (const char* exe : {"/usr/sbin/nghttpd", "nghttpd"})
        ::execlp(exe, "nghttpd", "-a", "127.0.0.1", "-d", docs.c_str(), port.c_str(), certs.ServerKey.c_str(),
                 certs.ServerCert.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~TNghttpd() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGTERM);
    ::waitpid(FPid, nullptr, 0);
  }
  // Waits until the server takes connections; false when it ended or never listened.
  bool WaitUntilListening() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (FPid <= 0 || ::waitpid(FPid, nullptr, WNOHANG) == FPid) return false;
      if (Connects()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  int Port = 0;
  std::string CaCert;

 private:
  bool Connects() const {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(Port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
  }
  pid_t FPid = -1;
};

}  // namespace

// HTTP/2 status lines carry no reason phrase; the error text still reads as over HTTP/1.1.
TEST(Http2, AnErrorStatusShowsTheStandardReasonPhrase) {
  TRequestHarness h(false);
  TNghttpd server(h.Dir.Path());
  ASSERT_TRUE(server.WaitUntilListening()) << "nghttpd (Debian package nghttp2-server, installed by scripts/deps.sh) did not start";
  h.Dm.GeminiApiUrlBase = "https://127.0.0.1:" + std::to_string(server.Port) + "/v1beta/models/%s:%s?key=";
  h.Dm.CaInfoFile = server.CaCert;
  h.Dm.GenerateContent(kKey, kModel, h.TextParts("Hi"), false, h.Recorder(), true);
  ASSERT_TRUE(h.WaitForCompletions(1));
  const std::string& r = h.Completions[0].Result;
  EXPECT_TRUE(r.starts_with(HttpError("HTTP/2 404 Not Found", 404, ""))) << r;
  EXPECT_TRUE(h.Completions[0].Failed);
  EXPECT_TRUE(h.Dm.FChatHistory.empty());
}

TEST(Http2, StatusLinesWithoutAReasonGetTheStandardOne) {
  struct {
    const char* line;
    long status;
    const char* shown;
  } cases[] = {
      {"HTTP/2 429", 429, "HTTP/2 429 Too Many Requests"},
      {"HTTP/3 503", 503, "HTTP/3 503 Service Unavailable"},
      {"HTTP/1.1 404 ", 404, "HTTP/1.1 404 Not Found"},
      {"HTTP/1.1 400 Bad Request", 400, "HTTP/1.1 400 Bad Request"},
      {"HTTP/1.1 429 Slow down", 429, "HTTP/1.1 429 Slow down"},
      {"HTTP/2 599", 599, "HTTP/2 599"},
  };
  for (const auto& c : cases) EXPECT_EQ(StatusLineWithReason(c.line, c.status), c.shown) << c.line;
}

namespace {

// Answers every request on a connection with a keep-alive answer and counts connections,
// requests and connections the client closed.
class TKeepAliveServer {
 public:
  TKeepAliveServer() {
    FListen = ListenOnLoopback(Port);
    FThread = std::thread([this] {
      for (;;) {
        const int s = ::accept(FListen, nullptr, nullptr);
        if (s < 0) return;
        {
          std::lock_guard lock(FLock);
          FConnection = s;
        }
        Accepted++;
        for (;;) {
          std::string in;
          char buffer[4096];
          while (in.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(s, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            in.append(buffer, static_cast<std::size_t>(n));
          }
          if (in.find("\r\n\r\n") == std::string::npos) break;  // the client closed it
          Requests++;
          const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n{}";
          (void)::send(s, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
        {
          std::lock_guard lock(FLock);
          ::close(s);
          FConnection = -1;
        }
        Closed++;
      }
    });
  }
  ~TKeepAliveServer() {
    ::shutdown(FListen, SHUT_RDWR);
    {
      std::lock_guard lock(FLock);
      if (FConnection >= 0) ::shutdown(FConnection, SHUT_RDWR);  // one the client still holds open
    }
    FThread.join();
    ::close(FListen);
  }
  bool WaitForClosed(int ACount) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Closed < ACount)
      if (std::chrono::steady_clock::now() > deadline) return false;
      else std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return true;
  }
  int Port = 0;
  std::atomic<int> Accepted{0}, Requests{0}, Closed{0};

 private:
  int FListen = -1;
  std::mutex FLock;
  int FConnection = -1;
  std::thread FThread;
};

}  // namespace

// Requests on one thread share what libcurl needs to run them, never a connection: each
// connects afresh and closes its connection when it ends, even when the server would keep
// it open.
TEST(RequestBytes, EveryRequestHasAConnectionOfItsOwnClosedWhenItEnds) {
  TKeepAliveServer server;
  THttpRequest request;
  request.Method = "GET";
  request.Url = "http://127.0.0.1:" + std::to_string(server.Port) + "/v1beta/files/x?key=k";
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(PerformHttp(request, {}).Status, 200) << i;
    EXPECT_TRUE(server.WaitForClosed(i)) << "request " << i << " left its connection open";
  }
  EXPECT_EQ(server.Accepted, 3);
  EXPECT_EQ(server.Requests, 3);
}
