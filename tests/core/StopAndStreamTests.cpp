// Stopping a REST request and streaming its answer, against the emulator on loopback.
#include <gtest/gtest.h>

#include <chrono>

#include "RequestHarness.h"
#include "core/CoreTexts.h"
#include "core/StopToken.h"

using namespace tarvok;
using tarvok::emulator::StreamedTextReply;
using tarvok::emulator::TScriptedReply;
using tarvok::emulator::WholeTextReply;
using tarvok::test::TRequestHarness;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kKey = "TESTKEY-1234567890";
constexpr const char* kModel = "gemini-2.5-flash";
const std::vector<std::string> kPieces = {"# Title\n\nFirst ", "part, ", "second **part**."};

struct TStreamRun {
  TRequestHarness H{false};
  TStopTokenPtr Stop = std::make_shared<TStopToken>();
  std::vector<std::string> Partials;

  void Send(bool AStream, bool AAddToHistory = true) {
    TRequestOptions options;
    options.Stop = Stop;
    options.Stream = AStream;
    options.OnPartial = [this](const std::string& AText) { Partials.push_back(AText); };
    H.Dm.GenerateContent(kKey, kModel, H.TextParts("Hi"), false, H.Recorder(), AAddToHistory, options);
  }
  // Stops once the condition holds on the main thread; returns how long the completion took after it.
  Clock::duration StopWhen(const std::function<bool()>& ACondition) {
    EXPECT_TRUE(H.Loop.ProcessUntil(ACondition));
    const auto pressed = Clock::now();
    Stop->Stop();
    EXPECT_TRUE(H.Loop.ProcessUntil([&] { return !H.Completions.empty(); }));
    const auto took = Clock::now() - pressed;
    EXPECT_TRUE(H.WaitForCompletions(1));
    return took;
  }
};

// A generous bound: the stop must not wait for the held answer or a time-out.
constexpr auto kStopBound = std::chrono::seconds(2);

TEST(StopTest, AStopBeforeTheAnswerFailsAtOnceRestoresTheHistoryAndKeepsTheCount) {
  TStreamRun r;
  TScriptedReply held;
  held.DelayMs = 60000;
  held.Body = "{}";
  r.H.Server.Enqueue(held);
  r.H.Dm.TimeOut1 = 300;
  r.Send(false);
  const auto took = r.StopWhen([&] { return r.H.Server.Requests().size() == 1; });

  EXPECT_LT(took, kStopBound);
  ASSERT_EQ(r.H.Completions.size(), 1u);
  EXPECT_EQ(r.H.Completions[0].Result, texts::kStoppedResult);
  EXPECT_EQ(r.H.Completions[0].Usage, TTokenUsage{});
  EXPECT_TRUE(r.H.Completions[0].OnMainThread);
  EXPECT_TRUE(r.H.Completions[0].Stopped);
  EXPECT_TRUE(r.H.Completions[0].Failed);
  EXPECT_TRUE(r.H.Dm.FChatHistory.empty()) << "the user turn is taken back out";
  EXPECT_EQ(GetRequestCount(kKey, kModel), 1) << "the request was sent";
  EXPECT_EQ(TGeminiRequestThread::ActiveCount(), 0);
}

TEST(StopTest, AStopAfterTheAnswerChangesNothing) {
  TStreamRun r;
  r.H.Server.Enqueue(WholeTextReply(kPieces, 5, 7));
  r.Send(false);
  ASSERT_TRUE(r.H.WaitForCompletions(1));
  r.Stop->Stop();
  r.H.Loop.ProcessUntil([] { return false; }, std::chrono::milliseconds(50));
  ASSERT_EQ(r.H.Completions.size(), 1u);
  EXPECT_EQ(r.H.Completions[0].Result, "# Title\n\nFirst part, second **part**.");
  EXPECT_FALSE(r.H.Completions[0].Stopped);
  EXPECT_EQ(r.H.Dm.FChatHistory.size(), 2u);
}

TEST(StreamTest, AStreamedAnswerEndsExactlyAsTheSameAnswerUnstreamed) {
  TStreamRun whole, streamed;
  whole.H.Server.Enqueue(WholeTextReply(kPieces, 5, 7));
  whole.Send(false);
  ASSERT_TRUE(whole.H.WaitForCompletions(1));
  streamed.H.Server.Enqueue(StreamedTextReply(kPieces, 5, 7, 150));
  streamed.Send(true);
  ASSERT_TRUE(streamed.H.WaitForCompletions(1));

  ASSERT_EQ(streamed.H.Completions.size(), 1u);
  EXPECT_EQ(streamed.H.Completions[0].Result, whole.H.Completions[0].Result);
  EXPECT_EQ(streamed.H.Completions[0].Usage, whole.H.Completions[0].Usage);
  auto withoutTimes = [](TChatHistory h) {
    for (auto& item : h) item.Timestamp = 0;
    return h;
  };
  EXPECT_EQ(withoutTimes(streamed.H.Dm.FChatHistory), withoutTimes(whole.H.Dm.FChatHistory));
  // Events 150 ms apart are each handed on, growing; the last may come with the completion only.
  ASSERT_GE(streamed.Partials.size(), 2u);
  EXPECT_EQ(streamed.Partials[0], kPieces[0]);
  EXPECT_EQ(streamed.Partials[1], kPieces[0] + kPieces[1]);
  EXPECT_LE(streamed.Partials.size(), 3u);
  EXPECT_EQ(streamed.Partials.back().substr(0, 12), kPieces[0].substr(0, 12));

  const auto plain = whole.H.Server.Requests().at(0), events = streamed.H.Server.Requests().at(0);
  EXPECT_EQ(events.Path, "/v1beta/models/gemini-2.5-flash:streamGenerateContent");
  EXPECT_EQ(events.Query, std::string("key=") + kKey + "&alt=sse");
  EXPECT_EQ(events.Body, plain.Body) << "the same body";
  EXPECT_EQ(plain.Path, "/v1beta/models/gemini-2.5-flash:generateContent");
}

TEST(StreamTest, PiecesFasterThanTenASecondAreHandedOnTogether) {
  TStreamRun r;
  std::vector<std::string> pieces(40, "word ");
  r.H.Server.Enqueue(StreamedTextReply(pieces, 5, 40, 10));
  const auto start = Clock::now();
  r.Send(true);
  ASSERT_TRUE(r.H.WaitForCompletions(1));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  // One hand-on at once, then at most one per 100 ms; the completion carries the whole text.
  EXPECT_LE(r.Partials.size(), static_cast<std::size_t>(took.count() / 100 + 2)) << took.count() << " ms";
  EXPECT_GE(r.Partials.size(), 1u);
  EXPECT_EQ(r.H.Completions[0].Result.size(), 40u * 5u);
}

TEST(StreamTest, AStopMidStreamKeepsWhatArrivedAsTheAnswer) {
  TStreamRun r;
  r.H.Server.Enqueue(StreamedTextReply(kPieces, 5, 7, 60000));
  r.Send(true);
  const auto took = r.StopWhen([&] { return !r.Partials.empty(); });
  EXPECT_LT(took, kStopBound);
  ASSERT_EQ(r.H.Completions.size(), 1u);
  EXPECT_EQ(r.H.Completions[0].Result, kPieces[0]);
  EXPECT_EQ(r.H.Completions[0].Usage.PromptTokens, 5) << "the counts of the last event that arrived";
  EXPECT_TRUE(r.H.Completions[0].Stopped);
  EXPECT_FALSE(r.H.Completions[0].Failed) << "what arrived is the answer";
  ASSERT_EQ(r.H.Dm.FChatHistory.size(), 2u);
  EXPECT_EQ(r.H.Dm.FChatHistory[1].Parts[0].Text, kPieces[0]);
}

TEST(StreamTest, FailuresOfAStream) {
  TScriptedReply cut = StreamedTextReply(kPieces, 5, 7);
  cut.CloseAfterBytes = static_cast<long long>(("data: " + cut.SseEvents[0] + "\r\n\r\ndata: {\"cand").size());
  cut.StallMs = 300;  // the first piece is handed on before the connection drops
  TScriptedReply rateLimited;
  rateLimited.Status = 429;
  rateLimited.Body = R"({"error":{"code":429,"message":"Resource exhausted","status":"RESOURCE_EXHAUSTED"}})";
  TScriptedReply blocked;
  blocked.SseEvents = {R"({"promptFeedback":{"blockReason":"PROHIBITED_CONTENT"},"usageMetadata":{"promptTokenCount":9}})"};
  const struct {
    const char* name;
    TScriptedReply reply;
    std::string resultStart;
    std::size_t partials;
  } cases[] = {
      {"cut in the middle of an event", cut, texts::kExceptionPrefix + std::string("TTransportError - "), 1},
      {"429 before the stream", rateLimited, texts::kRateLimitMarker + std::string("Ошибка HTTP: HTTP/1.1 429"), 0},
      {"a blocked prompt", blocked, texts::kBlockedHead, 0},
  };
  for (const auto& c : cases) {
    TStreamRun r;
    r.H.Server.Enqueue(c.reply);
    r.Send(true);
    ASSERT_TRUE(r.H.WaitForCompletions(1)) << c.name;
    ASSERT_EQ(r.H.Completions.size(), 1u) << c.name;
    EXPECT_TRUE(r.H.Completions[0].Result.starts_with(c.resultStart)) << c.name << ": " << r.H.Completions[0].Result;
    EXPECT_EQ(r.Partials.size(), c.partials) << c.name;
    EXPECT_TRUE(r.H.Dm.FChatHistory.empty()) << c.name << ": nothing recorded";
    EXPECT_TRUE(r.H.Completions[0].Failed) << c.name;
    EXPECT_FALSE(r.H.Completions[0].Stopped) << c.name;
  }
}

}  // namespace
