#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/CoreTexts.h"
#include "core/GeminiDM.h"
#include "core/LoopMainThread.h"

using namespace tarvok;

namespace {

TChatHistory TurnsOf(std::initializer_list<int> tokens) {
  TChatHistory h;
  for (int t : tokens) {
    THistoryItem item;
    item.Role = h.size() % 2 ? "model" : "user";
    item.TokenCount = t;
    h.push_back(item);
  }
  return h;
}

std::vector<int> TokensOf(const TChatHistory& h) {
  std::vector<int> out;
  for (const auto& item : h) out.push_back(item.TokenCount);
  return out;
}

TContentParts TextOf(std::size_t characters) {
  TContentPart p;
  p.Text = std::string(characters, 'x');
  return {p};
}

}  // namespace

TEST(TGeminiDM, StartValues) {
  TLoopMainThread loop;
  TGeminiDM dm(loop);
  dm.MaxContextTokens = 5;
  dm.TimeOut1 = 480;
  dm.FChatHistory = TurnsOf({1});
  dm.DataModuleCreate();
  EXPECT_TRUE(dm.FChatHistory.empty());
  EXPECT_EQ(dm.FActualHistoryTokens, 0);
  EXPECT_EQ(dm.MaxInputTextLength, 30020);
  EXPECT_EQ(dm.MaxFilesPerRequest, 16);
  EXPECT_EQ(dm.MaxContextTokens, 124000);
  EXPECT_EQ(dm.Temperature, 0.2);
  EXPECT_EQ(dm.TopK, 1);
  EXPECT_EQ(dm.TopP, 1.0);
  EXPECT_EQ(dm.MaxOutputTokens, 500000);
  EXPECT_TRUE(dm.GeminiApiUrlBase.starts_with("https://"));
  EXPECT_TRUE(dm.GeminiApiUrlBase.ends_with("/v1beta/models/%s:%s?key="));
  EXPECT_EQ(dm.MethodGenerate, "generateContent");
  EXPECT_EQ(dm.TimeOut1, 0);

  dm.ChatHistory() = TurnsOf({3, 4});
  dm.ActualHistoryTokens() = 7;
  dm.ClearHistory();
  EXPECT_TRUE(dm.ChatHistory().empty());
  EXPECT_EQ(dm.ActualHistoryTokens(), 0);
}

TEST(TGeminiDM, TrimKeepsTheNewestRunThatFits) {
  struct {
    const char* name;
    std::initializer_list<int> history;
    std::size_t newPartsCharacters;  // 3.5 characters a token
    int budget;
    std::vector<int> sent;
    bool leftOut;
  } cases[] = {
      {"walk stops at the first turn that does not fit", {50, 10, 40}, 105, 100, {10, 40}, true},
      {"a turn that exactly fills the budget is sent", {50, 10, 40}, 105, 80, {10, 40}, true},
      {"everything fits", {50, 10, 40}, 105, 130, {50, 10, 40}, false},
      {"newest turn too big: older small turns stay out", {1, 1, 500}, 105, 100, {}, true},
      {"new parts alone over budget", {1}, 350, 50, {}, true},
      {"empty history", {}, 105, 100, {}, false},
  };
  for (const auto& c : cases) {
    TChatHistory sent = TurnsOf({99});  // emptied first
    EXPECT_EQ(TGeminiDM::TrimHistoryToTokenLimit(TurnsOf(c.history), TextOf(c.newPartsCharacters), c.budget, sent), c.leftOut)
        << c.name;
    EXPECT_EQ(TokensOf(sent), c.sent) << c.name;
  }
}

TEST(TGeminiDM, SnapshotsShareAttachmentData) {
  TContentPart big;
  big.PartType = TPartType::ptInlineData;
  big.MimeType = "video/mp4";
  big.Base64Data = TSharedText(std::string(8 << 20, 'A'));
  TChatHistory history = TurnsOf({1, 2});
  history[0].Parts = {big};
  TChatHistory sent;
  TGeminiDM::TrimHistoryToTokenLimit(history, {}, 100, sent);
  const TChatHistory snapshot = history;
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(sent[0].Parts[0].Base64Data.SharesWith(history[0].Parts[0].Base64Data));
  EXPECT_TRUE(snapshot[0].Parts[0].Base64Data.SharesWith(history[0].Parts[0].Base64Data));
  history[0].Parts[0].Base64Data = TSharedText("changed");
  history.push_back(THistoryItem{});
  EXPECT_EQ(snapshot.size(), 2u);
  EXPECT_EQ(snapshot[0].Parts[0].Base64Data.size(), 8u << 20) << "a snapshot is a value";
}

TEST(IsRestFailureResult, FourBeginningsIgnoringCase) {
  struct {
    std::string result;
    bool failure;
  } cases[] = {
      {texts::kFailErrorUpper + std::string(" x"), true},
      {texts::kFailError, true},
      {texts::kEmptyAnswer, true},
      {std::string(texts::kExceptionPrefix) + "TTransportError - x", true},
      {"ERROR_CODE_429_FINAL:" + std::string(texts::kHttpErrorFormat), true},
      {"error_code_429_final: lower case", true},
      {"ERROR: the CLI's word is no REST failure", false},
      {"", false},
      {"  " + std::string(texts::kFailError), false},
      {"Hello", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsRestFailureResult(c.result), c.failure) << c.result;
  // Upper-case Cyrillic of the other spellings too.
  EXPECT_TRUE(IsRestFailureResult("\xD0\x98\xD0\xA1\xD0\x9A\xD0\x9B\xD0\xAE\xD0\xA7\xD0\x95\xD0\x9D\xD0\x98\xD0\x95"));
}

TEST(TLoopMainThread, StepsRunOnTheOwningThreadAndErrorsComeBack) {
  TLoopMainThread loop;
  const auto owner = std::this_thread::get_id();
  bool ranHere = false;
  loop.Synchronize([&] { ranHere = std::this_thread::get_id() == owner; });
  EXPECT_TRUE(ranHere) << "on the owning thread a step runs at once";

  std::atomic<int> stage{0};
  std::thread::id ranOn;
  bool rethrown = false;
  std::thread worker([&] {
    loop.Synchronize([&] { ranOn = std::this_thread::get_id(); });
    try {
      loop.Synchronize([] { throw std::runtime_error("step failed"); });
    } catch (const std::runtime_error&) {
      rethrown = true;
    }
    stage = 1;
  });
  EXPECT_TRUE(loop.ProcessUntil([&] { return stage == 1; }));
  worker.join();
  EXPECT_EQ(ranOn, owner);
  EXPECT_TRUE(rethrown);
}

// A handed-over step runs on the owning thread in its place among waited-for steps; the
// worker does not wait for it, its error goes nowhere, and a step the loop never ran is
// destroyed with the loop (what it owns is released).
TEST(TLoopMainThread, HandedOverStepsKeepTheirPlaceAndAreReleasedWhenNeverRun) {
  auto loop = std::make_unique<TLoopMainThread>();
  const auto owner = std::this_thread::get_id();
  std::vector<std::string> order;
  std::thread::id queuedOn;
  std::atomic<bool> workerDone = false;
  std::thread worker([&] {
    loop->Queue([&] {
      queuedOn = std::this_thread::get_id();
      order.push_back("queued 1");
    });
    loop->Queue([] { throw std::runtime_error("nobody hears this"); });
    loop->Synchronize([&] { order.push_back("waited"); });
    loop->Queue([&] { order.push_back("queued 2"); });
    workerDone = true;
  });
  EXPECT_TRUE(loop->ProcessUntil([&] { return workerDone && order.size() == 3; }));
  worker.join();
  EXPECT_EQ(order, (std::vector<std::string>{"queued 1", "waited", "queued 2"}));
  EXPECT_EQ(queuedOn, owner);

  // Never run: released when the loop goes, not run.
  auto owned = std::make_shared<int>(7);
  std::weak_ptr<int> watch = owned;
  bool ran = false;
  std::thread late([&, owned = std::move(owned)]() mutable {
    loop->Queue([&ran, keep = std::move(owned)] { ran = true; });
  });
  late.join();
  EXPECT_FALSE(watch.expired()) << "the step holds what it owns until it runs or goes";
  loop.reset();
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(ran);
}

// A worker whose step has run still uses the loop's lock on its way out of Synchronize,
// and the test that made the loop may end at once. Destroying the loop must wait for it:
// before, the thread checker saw the lock and condition destroyed beneath the waking
// worker (and a normal build freed memory still in use).
TEST(TLoopMainThread, DestroyedRightAfterAStepOutlivesItsWorker) {
  for (int round = 0; round < 50; ++round) {
    auto loop = std::make_unique<TLoopMainThread>();
    std::atomic<bool> ran = false, queued = false;
    std::thread worker([&] {
      loop->Synchronize([&] { ran = true; });
      loop->Queue([&] { queued = true; });
    });
    ASSERT_TRUE(loop->ProcessUntil([&] { return ran && queued; })) << round;
    loop.reset();
    worker.join();
  }
}
