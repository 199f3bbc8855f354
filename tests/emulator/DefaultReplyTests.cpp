// What the emulator answers by itself, read the way the client reads answers.

#include <gtest/gtest.h>
#include <simdjson.h>

#include <string>
#include <vector>

#include "core/HttpTransport.h"
#include "tests/emulator/CurlClient.h"
#include "tools/gemini-emulator/GeminiEmulator.h"

namespace tarvok::emulator {
namespace {

using test::CurlRequest;
using test::TCurlOptions;

// The members the client reads from one answer object.
struct TAnswerRead {
  std::string Text;
  std::string InlineMime, InlineData;
  std::string FinishReason;
  int64_t Prompt = -1, Candidates = -1, Total = -1;
};

TAnswerRead ReadAnswer(const std::string& AJson) {
  TAnswerRead a;
  simdjson::dom::parser parser;
  simdjson::dom::element doc = parser.parse(AJson);  // throws on malformed JSON, failing the test
  for (simdjson::dom::element part : doc["candidates"].at(0)["content"]["parts"].get_array()) {
    std::string_view text;
    if (part["text"].get(text) == simdjson::SUCCESS) a.Text += text;
    simdjson::dom::object data;
    if (part["inlineData"].get(data) == simdjson::SUCCESS) {
      a.InlineMime = std::string_view(data["mimeType"]);
      a.InlineData = std::string_view(data["data"]);
    }
  }
  std::string_view finish;
  if (doc["candidates"].at(0)["finishReason"].get(finish) == simdjson::SUCCESS) a.FinishReason = finish;
  simdjson::dom::object usage;
  if (doc["usageMetadata"].get(usage) == simdjson::SUCCESS) {
    a.Prompt = int64_t(usage["promptTokenCount"]);
    a.Total = int64_t(usage["totalTokenCount"]);
    int64_t c;
    if (usage["candidatesTokenCount"].get(c) == simdjson::SUCCESS) a.Candidates = c;
  }
  return a;
}

std::vector<std::string> SsePayloads(const std::string& ABody) {
  std::vector<std::string> events;
  for (std::size_t start = 0; start < ABody.size();) {
    const std::size_t end = ABody.find("\r\n\r\n", start);
    if (end == std::string::npos || ABody.compare(start, 6, "data: ") != 0) {
      ADD_FAILURE() << "bad SSE framing at " << start;
      break;
    }
    events.push_back(ABody.substr(start + 6, end - start - 6));
    start = end + 4;
  }
  return events;
}

std::string ErrorMessage(const std::string& ABody, int64_t AExpectedCode) {
  simdjson::dom::parser parser;
  simdjson::dom::element doc = parser.parse(ABody);
  EXPECT_EQ(int64_t(doc["error"]["code"]), AExpectedCode);
  return std::string(std::string_view(doc["error"]["message"]));
}

class DefaultReplyTest : public ::testing::Test {
 protected:
  void SetUp() override { FEmu.Start(); }
  std::string Url(const std::string& AModelAndMethod, const std::string& AQuery = "key=k") const {
    return FEmu.BaseUrl() + "/v1beta/models/" + AModelAndMethod + "?" + AQuery;
  }
  TGeminiEmulator FEmu;
};

// A chat whose last turn holds context, then Cyrillic text with a line break, and a picture,
// written as the client writes it (ASCII with \u escapes, snake_case inline data).
const std::string kChat =
    R"({"contents":[{"role":"user","parts":[{"text":"first"}]},{"role":"model","parts":[{"text":"ok"}]},)"
    R"({"role":"user","parts":[{"text":"some context"},{"text":"\u041f\u0440\u0438\u0432\u0435\u0442\r\nline two"},)"
    R"({"inline_data":{"mime_type":"image/png","data":"iVBORw0KGgo="}}]}],)"
    R"("generationConfig":{"temperature":1.0,"topK":40,"topP":0.95,"maxOutputTokens":8192,"stopSequences":[]}})";

TEST_F(DefaultReplyTest, ChatAnswerEchoesTheLastTurnWithUsage) {
  const auto r = CurlRequest(Url("gemini-2.5-flash:generateContent"), kChat);
  ASSERT_EQ(r.Status, 200);
  EXPECT_EQ(r.ContentType, "application/json; charset=UTF-8");
  const TAnswerRead a = ReadAnswer(r.Body);
  EXPECT_NE(a.Text.find("> Привет\n> line two\n"), std::string::npos) << a.Text;
  EXPECT_EQ(a.Text.find("first"), std::string::npos) << "quotes an older turn";
  EXPECT_EQ(a.Text.find("context"), std::string::npos) << "quotes more than the prompt";
  EXPECT_NE(a.Text.find("вложений: 1"), std::string::npos) << a.Text;
  EXPECT_NE(a.Text.find("image/png"), std::string::npos) << a.Text;
  EXPECT_NE(a.Text.find("\n```cpp\n"), std::string::npos) << a.Text;
  // The demo shows what the pane draws: code in two languages, a table, formulas inline and displayed.
  for (const char* shown : {"\n```python\n", "\n|---|---|---|\n", "$O(n \\log n)$", "\n$$C(n) \\approx 2n \\ln n$$\n"})
    EXPECT_NE(a.Text.find(shown), std::string::npos) << shown;
  EXPECT_EQ(a.FinishReason, "STOP");
  EXPECT_GT(a.Prompt, 0);
  EXPECT_GT(a.Candidates, 0);
  EXPECT_EQ(a.Total, a.Prompt + a.Candidates);
}

TEST_F(DefaultReplyTest, StreamCarriesTheSameAnswerInSeveralEvents) {
  const TAnswerRead whole = ReadAnswer(CurlRequest(Url("gemini-2.5-flash:generateContent"), kChat).Body);

  const auto r = CurlRequest(Url("gemini-2.5-flash:streamGenerateContent", "alt=sse&key=k"), kChat);
  ASSERT_EQ(r.Status, 200);
  EXPECT_EQ(r.ContentType, "text/event-stream");
  const auto events = SsePayloads(r.Body);
  ASSERT_GE(events.size(), 2u);
  std::string text;
  for (std::size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE("event " + std::to_string(i));
    const TAnswerRead a = ReadAnswer(events[i]);
    EXPECT_FALSE(a.Text.empty());
    text += a.Text;
    EXPECT_EQ(a.FinishReason, i + 1 == events.size() ? "STOP" : "");
    EXPECT_GT(a.Prompt, 0);
    if (i + 1 == events.size()) {
      EXPECT_EQ(a.Candidates, whole.Candidates);
      EXPECT_EQ(a.Total, whole.Total);
    }
  }
  EXPECT_EQ(text, whole.Text);

  // Without alt=sse the same objects come as one JSON array.
  const auto array = CurlRequest(Url("gemini-2.5-flash:streamGenerateContent"), kChat);
  simdjson::dom::parser parser;
  simdjson::dom::array elements = parser.parse(array.Body).get_array();
  EXPECT_EQ(elements.size(), events.size());
}

TEST_F(DefaultReplyTest, ImageModelAnswersWithAPng) {
  const std::string prompt = R"({"contents":[{"role":"user","parts":[{"text":"a cat"}]}],"generationConfig":{}})";
  for (const char* method : {"generateContent", "streamGenerateContent"}) {
    SCOPED_TRACE(method);
    const auto r = CurlRequest(Url(std::string("gemini-2.5-flash-image:") + method, "alt=sse&key=k"), prompt);
    ASSERT_EQ(r.Status, 200);
    const auto events = std::string(method) == "generateContent" ? std::vector<std::string>{r.Body} : SsePayloads(r.Body);
    ASSERT_FALSE(events.empty());
    const TAnswerRead a = ReadAnswer(events.back());
    EXPECT_EQ(a.InlineMime, "image/png");
    // "\x89PNG\r\n\x1a\n" then the IHDR chunk, in Base64.
    EXPECT_EQ(a.InlineData.rfind("iVBORw0KGgoAAAANSUhEUg", 0), 0u) << a.InlineData.substr(0, 40);
    EXPECT_EQ(a.InlineData.size() % 4, 0u);
    EXPECT_EQ(a.FinishReason, "STOP");
  }
}

TEST_F(DefaultReplyTest, JsonOutputFollowsTheRequestedSchema) {
  const std::string request =
      R"({"contents":[{"role":"user","parts":[{"text":"who speaks next?"}]}],"generationConfig":{)"
      R"("responseMimeType":"application/json","responseJsonSchema":{"type":"object","properties":{)"
      R"("reasoning":{"type":"string"},"next_speaker":{"type":"string","enum":["user","model"]},)"
      R"("steps":{"type":"array","items":{"type":"integer"}},"score":{"type":"integer","minimum":5,"maximum":100}},)"
      R"("required":["reasoning","next_speaker"]}}})";
  const auto r = CurlRequest(Url("gemini-2.5-flash:generateContent"), request);
  ASSERT_EQ(r.Status, 200);
  const std::string text = ReadAnswer(r.Body).Text;
  simdjson::dom::parser parser;
  simdjson::dom::element value;
  ASSERT_EQ(parser.parse(text).get(value), simdjson::SUCCESS) << text;
  EXPECT_EQ(std::string_view(value["next_speaker"]), "user") << text;
  EXPECT_TRUE(value["reasoning"].is_string()) << text;
  EXPECT_TRUE(value["steps"].is_array()) << text;
  EXPECT_EQ(int64_t(value["score"]), 5) << text;
}

TEST_F(DefaultReplyTest, CountTokensAndErrors) {
  const auto count = CurlRequest(Url("gemini-2.5-flash:countTokens"), kChat);
  ASSERT_EQ(count.Status, 200);
  simdjson::dom::parser parser;
  EXPECT_GT(int64_t(parser.parse(count.Body)["totalTokens"]), 0);

  struct {
    const char* Name;
    std::string Path, Query, Body;
    std::vector<std::string> Headers;
    int Status;
  } rows[] = {
      {"no key", "gemini-2.5-flash:generateContent", "", kChat, {}, 403},
      {"empty key", "gemini-2.5-flash:streamGenerateContent", "alt=sse&key=", kChat, {}, 403},
      {"key in a header", "gemini-2.5-flash:streamGenerateContent", "alt=sse", kChat, {"x-goog-api-key: k"}, 200},
      {"not JSON", "gemini-2.5-flash:generateContent", "key=k", "{\"contents\":[", {}, 400},
      {"no contents", "gemini-2.5-flash:generateContent", "key=k", "{}", {}, 400},
      {"unknown method", "gemini-2.5-flash:embedContent", "key=k", kChat, {}, 404},
  };
  for (auto& row : rows) {
    SCOPED_TRACE(row.Name);
    TCurlOptions options;
    options.Headers = row.Headers;
    const auto r = CurlRequest(Url(row.Path, row.Query), row.Body, options);
    EXPECT_EQ(r.Status, row.Status);
    if (row.Status != 200) {
      EXPECT_FALSE(ErrorMessage(r.Body, row.Status).empty()) << r.Body;
    }
  }
  TCurlOptions get;
  get.Method = "GET";
  const auto unknown = CurlRequest(FEmu.BaseUrl() + "/elsewhere?key=k", "", get);
  EXPECT_EQ(unknown.Status, 404);
  EXPECT_FALSE(ErrorMessage(unknown.Body, 404).empty());
  EXPECT_EQ(FEmu.Requests().size(), std::size(rows) + 2);
}

TEST_F(DefaultReplyTest, APromptAskingForASpentQuotaGetsTheServicesAnswerWithItsDetails) {
  const std::string body = R"({"contents":[{"role":"user","parts":[{"text":"\u043f\u043e\u043a\u0430\u0436\u0438 429"}]}]})";
  for (const char* method : {"generateContent", "streamGenerateContent"}) {
    SCOPED_TRACE(method);
    const auto r = CurlRequest(Url(std::string("gemini-2.5-flash:") + method), body);
    EXPECT_EQ(r.Status, 429);
    const std::string one = r.Body.starts_with("[") ? r.Body.substr(1, r.Body.rfind(']') - 1) : r.Body;
    EXPECT_FALSE(ErrorMessage(one, 429).empty());
    EXPECT_EQ(QuotaDetailsLine(one),
              "Квота: GenerateRequestsPerMinutePerProjectPerModel-FreeTier. Повторить можно через 27 с.");
  }
}

}  // namespace
}  // namespace tarvok::emulator
