#include <gtest/gtest.h>

#include "RequestHarness.h"
#include "core/CoreTexts.h"

using namespace tarvok;
using tarvok::test::TRequestHarness;

namespace {

constexpr const char* kKey = "TESTKEY-1234567890";

emulator::TScriptedReply Answer(std::string body, int status = 200) {
  emulator::TScriptedReply r;
  r.Status = status;
  r.Body = std::move(body);
  return r;
}

std::string TextAnswer(const std::string& text, int prompt, int candidates) {
  return R"({"candidates":[{"content":{"parts":[{"text":")" + text + R"("}]}}],"usageMetadata":{"promptTokenCount":)" +
         std::to_string(prompt) + R"(,"candidatesTokenCount":)" + std::to_string(candidates) + "}}";
}

THistoryItem Turn(const char* role, int tokens) {
  THistoryItem item;
  item.Role = role;
  item.TokenCount = tokens;
  return item;
}

}  // namespace

// History sent: turns estimated at 300 and 200, then the new turn of 50 (175 characters).
TEST(GenerateContent, PromptCountCorrectsTheUserTurn) {
  struct {
    int promptTokens, candidatesTokens;
    int userTurn, modelTurn;
  } cases[] = {
      {1000, 40, 500, 40},
      {400, 40, 50, 40},   // nothing left for the new turn: it keeps its estimate
      {0, 0, 50, 1},       // nothing reported: both turns keep their estimates
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.promptTokens);
    TRequestHarness h(false);
    h.Dm.FChatHistory = {Turn("user", 300), Turn("model", 200)};
    h.Server.Enqueue(Answer(TextAnswer("A", c.promptTokens, c.candidatesTokens)));
    h.Dm.GenerateContent(kKey, "m", h.TextParts(std::string(175, 'x')), false, h.Recorder(), true);
    ASSERT_EQ(h.Dm.FChatHistory.size(), 3u) << "the user turn is recorded at once";
    EXPECT_EQ(h.Dm.FActualHistoryTokens, 550);
    ASSERT_TRUE(h.WaitForCompletions(1));
    ASSERT_EQ(h.Dm.FChatHistory.size(), 4u);
    EXPECT_EQ(h.Dm.FChatHistory[2].TokenCount, c.userTurn);
    EXPECT_EQ(h.Dm.FChatHistory[3].TokenCount, c.modelTurn);
    EXPECT_EQ(h.Dm.FChatHistory[3].Role, "model");
    EXPECT_GT(h.Dm.FChatHistory[3].Timestamp, 0);
    EXPECT_EQ(h.Dm.FActualHistoryTokens, 500 + c.userTurn + c.modelTurn);
  }
}

TEST(GenerateContent, TrimmedHistoryIsWhatGoesOut) {
  TRequestHarness h(false);
  h.Dm.MaxContextTokens = 100;
  THistoryItem old = Turn("user", 80);  // 1 + 30 + 80 is over 100
  old.Parts.push_back({TPartType::ptText, "old", {}, {}, {}});
  THistoryItem recent = Turn("model", 30);
  recent.Parts.push_back({TPartType::ptText, "recent", {}, {}, {}});
  h.Dm.FChatHistory = {old, recent};
  h.Dm.GenerateContent(kKey, "m", h.TextParts("new"), false, h.Recorder(), true);
  ASSERT_TRUE(h.WaitForCompletions(1));
  const auto requests = h.Server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].Body.starts_with(
      R"({"contents":[{"role":"model","parts":[{"text":"recent"}]},{"role":"user","parts":[{"text":"new"}]}],)"))
      << requests[0].Body.substr(0, 120);
  EXPECT_EQ(h.Dm.FChatHistory.size(), 4u) << "the full history keeps the old turn";
}

TEST(GenerateContent, NotRecordedLeavesTheHistoryAlone) {
  TRequestHarness h(false);
  h.Dm.FChatHistory = {Turn("user", 3), Turn("model", 4)};
  h.Dm.FActualHistoryTokens = 7;
  const TChatHistory before = h.Dm.FChatHistory;
  h.Server.Enqueue(Answer(TextAnswer("Summary", 100, 20)));
  h.Dm.GenerateContent(kKey, "m", h.TextParts("Summarise"), false, h.Recorder(), false);
  EXPECT_EQ(h.Dm.FChatHistory, before);
  ASSERT_TRUE(h.WaitForCompletions(1));
  EXPECT_EQ(h.Dm.FChatHistory, before);
  EXPECT_EQ(h.Dm.FActualHistoryTokens, 7);
  EXPECT_EQ(h.Completions[0].Result, "Summary");
  EXPECT_EQ(h.Completions[0].Usage, (TTokenUsage{100, 20, 0}));
}

TEST(GenerateContent, AFailureRestoresTheHistoryAsItWas) {
  TRequestHarness h(false);
  h.Dm.FChatHistory = {Turn("user", 3), Turn("model", 4)};
  const TChatHistory before = h.Dm.FChatHistory;
  h.Server.Enqueue(Answer(R"({"error":{"message":"Internal"}})", 500));
  h.Dm.GenerateContent(kKey, "m", h.TextParts("Hi"), false, h.Recorder(), true);
  ASSERT_TRUE(h.WaitForCompletions(1));
  EXPECT_TRUE(h.Completions[0].Result.starts_with("Ошибка HTTP: ")) << h.Completions[0].Result;
  EXPECT_EQ(h.Dm.FChatHistory, before);
  EXPECT_EQ(h.Dm.FActualHistoryTokens, 7);
}

TEST(GenerateContent, AnAnswerThatIsAPictureObjectIsStoredAsAPicture) {
  TRequestHarness h(false);
  h.Server.Enqueue(Answer(TextAnswer(R"({\"mime_type\":\"image/png\",\"base64_data\":\"QUJD\"})", 0, 0)));
  h.Dm.GenerateContent(kKey, "m", h.TextParts("Hi"), false, h.Recorder(), true);
  ASSERT_TRUE(h.WaitForCompletions(1));
  ASSERT_EQ(h.Dm.FChatHistory.size(), 2u);
  const TContentPart& part = h.Dm.FChatHistory[1].Parts.at(0);
  EXPECT_EQ(part.PartType, TPartType::ptInlineData);
  EXPECT_EQ(part.MimeType, "image/png");
  EXPECT_EQ(part.Base64Data, "QUJD");
  EXPECT_EQ(part.FileName, "");
}

TEST(GenerateImage, PromptAloneGoesOutAndThePictureComesBack) {
  TRequestHarness h(false);
  h.Dm.FChatHistory = {Turn("user", 3), Turn("model", 4)};
  h.Server.Enqueue(Answer(emulator::ReadFixture("03-image-text-inline-trimmed.json")));
  h.Dm.GenerateImage(kKey, "gemini-image", "a cat", h.Recorder());
  ASSERT_EQ(h.Dm.FChatHistory.size(), 3u);
  EXPECT_EQ(h.Dm.FChatHistory[2].Parts.at(0).Text, std::string("a cat") + texts::kImageRequestSuffix);
  ASSERT_TRUE(h.WaitForCompletions(1));

  const auto requests = h.Server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Path, "/v1beta/models/gemini-image:generateContent");
  EXPECT_TRUE(requests[0].Body.starts_with(R"({"contents":[{"role":"user","parts":[{"text":"a cat"}]}],"generationConfig":{},"safetySettings":[)"));
  EXPECT_EQ(requests[0].Body.find("tools"), std::string::npos);

  ASSERT_EQ(h.Dm.FChatHistory.size(), 4u);
  EXPECT_EQ(h.Dm.FChatHistory[2].TokenCount, 11) << "the prompt count, nothing subtracted";
  const THistoryItem& model = h.Dm.FChatHistory[3];
  EXPECT_EQ(model.TokenCount, 1378);
  ASSERT_EQ(model.Parts.size(), 1u);
  EXPECT_EQ(model.Parts[0].PartType, TPartType::ptInlineData);
  EXPECT_EQ(model.Parts[0].MimeType, "image/png");
  EXPECT_EQ(model.Parts[0].Base64Data.size(), 256u);
  EXPECT_EQ(h.Dm.FActualHistoryTokens, 3 + 4 + 11 + 1378);
}

TEST(GenerateImage, TextAnswerIsATextTurnAndAFailureIsUndone) {
  TRequestHarness h(false);
  h.Server.Enqueue(Answer(TextAnswer("Cannot draw that", 5, 4)));
  h.Dm.GenerateImage(kKey, "gemini-image", "x", h.Recorder());
  ASSERT_TRUE(h.WaitForCompletions(1));
  ASSERT_EQ(h.Dm.FChatHistory.size(), 2u);
  EXPECT_EQ(h.Dm.FChatHistory[1].Parts.at(0).PartType, TPartType::ptText);
  EXPECT_EQ(h.Dm.FChatHistory[1].Parts.at(0).Text, "Cannot draw that");

  const TChatHistory before = h.Dm.FChatHistory;
  h.Server.Enqueue(Answer(emulator::ReadFixture("03-image-no-image.json")));
  h.Dm.GenerateImage(kKey, "gemini-image", "y", h.Recorder());
  ASSERT_TRUE(h.WaitForCompletions(2));
  EXPECT_TRUE(h.Completions[1].Failed) << h.Completions[1].Result;
  EXPECT_EQ(h.Dm.FChatHistory, before);
  EXPECT_EQ(h.Dm.FActualHistoryTokens, CountTokensForHistory(before));
}

// Only the worker says what a failure is: an answer may begin with any word.
TEST(Completions, AnAnswerThatBeginsWithErrorIsStillTheAnswer) {
  const std::string answer = "Ошибка возникает, потому что…";
  for (const bool image : {false, true}) {
    SCOPED_TRACE(image ? "image" : "chat");
    TRequestHarness h(false);
    h.Server.Enqueue(Answer(TextAnswer(answer, 5, 4)));
    if (image) h.Dm.GenerateImage(kKey, "gemini-image", "x", h.Recorder());
    else h.Dm.GenerateContent(kKey, "m", h.TextParts("Why?"), false, h.Recorder(), true);
    ASSERT_TRUE(h.WaitForCompletions(1));
    EXPECT_FALSE(h.Completions[0].Failed);
    EXPECT_EQ(h.Completions[0].Result, answer);
    ASSERT_EQ(h.Dm.FChatHistory.size(), 2u);
    EXPECT_EQ(h.Dm.FChatHistory[1].Parts.at(0).Text, answer);
  }
}
