// Thought summaries and search sources on the wire: the body that asks for thoughts, the
// reading of thoughts and grounding from recorded answers, whole and streamed, the
// refusal that is retried, and the model list's pages.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "core/GeminiDM.h"
#include "core/ModelList.h"
#include "core/StreamReader.h"
#include "core/WireFormat.h"

using namespace tarvok;

namespace {

std::string Fixture(const std::string& AName) {
  std::ifstream in(std::string(TARVOK_FIXTURES_DIR) + "/gemini-responses/" + AName, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  EXPECT_FALSE(text.str().empty()) << AName;
  return text.str();
}

// The events of a recorded stream read as the worker reads them.
TStreamAnswer ReadStream(const std::string& AName) {
  TSseReader reader;
  TStreamAnswer answer;
  reader.Feed(Fixture(AName), [&](std::string_view AEvent) { answer.AddEvent(AEvent); });
  return answer;
}

TChatHistory OneTurn() {
  THistoryItem item;
  item.Role = "user";
  item.Parts.push_back(TContentPart{TPartType::ptText, "Hi", {}, {}, {}});
  return {item};
}

TEST(AnswerExtrasWireTest, AskingForThoughtsEndsTheGenerationConfigAndChangesNothingElse) {
  TGeminiSettings s;
  const std::string plain = BuildChatBody(OneTurn(), s, true);
  const std::string thinking = BuildChatBody(OneTurn(), s, true, true);
  std::string expected = plain;
  expected.insert(expected.find("\"stopSequences\":[]") + 18, ",\"thinkingConfig\":{\"includeThoughts\":true}");
  EXPECT_EQ(thinking, expected);

  // The body made as it is sent is the same, byte for byte.
  TRequestBodySource source(OneTurn(), s, true, true);
  std::string streamed(source.Size(), '\0');
  streamed.resize(source.Read(streamed.data(), streamed.size()));
  EXPECT_EQ(streamed, thinking);
}

TEST(AnswerExtrasWireTest, ThoughtPartsGoBesideTheAnswerWithTheirTokenCount) {
  std::string result;
  TTokenUsage usage;
  TAnswerExtras extras;
  EXPECT_FALSE(ReadResponseBody(Fixture("02-thought-part.json"), result, usage, &extras));
  EXPECT_EQ(extras.Thoughts.rfind("**A Safe Street-Crossing Guide: My Thought Process**", 0), 0u);
  EXPECT_EQ(result.find("My Thought Process"), std::string::npos) << "the thoughts are not the answer";
  EXPECT_FALSE(result.empty());
  EXPECT_EQ(extras.ThoughtsTokens, 1001);
  EXPECT_EQ(usage, (TTokenUsage{29, 736, 1766})) << "the three counts as before";

  // Without a place for them, the answer reads exactly as before.
  std::string plain;
  TTokenUsage plainUsage;
  ReadResponseBody(Fixture("02-thought-part.json"), plain, plainUsage);
  EXPECT_EQ(plain, result);

  const TStreamAnswer stream = ReadStream("07-stream-thought-parts.sse");
  EXPECT_EQ(stream.Extras().Thoughts.rfind("**Clarifying User Goals**", 0), 0u);
  EXPECT_NE(stream.Extras().Thoughts.find("**Crafting Safe Instructions**"), std::string::npos) << "all four, in order";
  EXPECT_EQ(stream.Text().find("Clarifying"), std::string::npos);
  EXPECT_GT(stream.Extras().ThoughtsTokens, 0);
}

TEST(AnswerExtrasWireTest, GroundingGivesSourcesSupportsAndQueries) {
  std::string result;
  TTokenUsage usage;
  TAnswerExtras extras;
  ReadResponseBody(Fixture("05-grounded-google-search.json"), result, usage, &extras);
  const TGrounding& g = extras.Grounding;
  ASSERT_EQ(g.Sources.size(), 3u);
  EXPECT_EQ(g.Sources[1].Title, "weather.gov");
  EXPECT_EQ(g.Sources[1].Uri.rfind("https://vertexaisearch.cloud.google.com/grounding-api-redirect/", 0), 0u);
  ASSERT_EQ(g.Supports.size(), 6u);
  EXPECT_EQ(g.Supports[0], (TGroundingSupport{55, 216, {0}}));
  // The offsets count bytes of the UTF-8 text: the first support ends right after "69°F.".
  EXPECT_EQ(result.substr(216 - 4, 4), "\xC2\xB0" "F.");
  EXPECT_EQ(g.Queries, std::vector<std::string>{"weather in San Francisco today"});

  // Streamed: empty grounding in every event but the last, which carries it all.
  const TStreamAnswer stream = ReadStream("07-stream-grounded-google-search.sse");
  EXPECT_FALSE(stream.Extras().Grounding.Sources.empty());
  EXPECT_FALSE(stream.Extras().Grounding.Supports.empty());
  for (const TGroundingSupport& s : stream.Extras().Grounding.Supports)
    EXPECT_LE(s.EndIndex, static_cast<std::int64_t>(stream.Text().size()));

  // Odd members are skipped, never the answer.
  const std::string odd = R"({"candidates":[{"content":{"parts":[{"text":"A"}]},"groundingMetadata":{"groundingChunks":[7,{"web":{"title":"t"}}],"groundingSupports":[{"segment":{"endIndex":"x"},"groundingChunkIndices":[0]},{"segment":{"endIndex":1},"groundingChunkIndices":[-1,1]}],"webSearchQueries":[3,"q"]}}]})";
  TAnswerExtras oddExtras;
  std::string oddResult;
  EXPECT_FALSE(ReadResponseBody(odd, oddResult, usage, &oddExtras));
  EXPECT_EQ(oddResult, "A");
  EXPECT_EQ(oddExtras.Grounding.Sources.size(), 2u) << "a source that is no object keeps its number";
  EXPECT_EQ(oddExtras.Grounding.Supports, (std::vector<TGroundingSupport>{{0, 1, {1}}}));
  EXPECT_EQ(oddExtras.Grounding.Queries, std::vector<std::string>{"q"});
}

TEST(AnswerExtrasWireTest, OnlyA400ThatSpeaksOfThinkingIsARefusalOfThoughts) {
  const struct {
    long status;
    const char* message;
    bool refusal;
  } cases[] = {
      {400, "Thinking is not supported by this model.", true},
      {400, "Unable to submit request because thinking_config is not supported.", true},
      {400, "API key not valid. Please pass a valid API key.", false},
      {500, "Thinking failed.", false},
      {429, "Thinking quota exceeded", false},
  };
  for (const auto& c : cases) {
    const std::string body = std::string("{\"error\":{\"code\":") + std::to_string(c.status) + ",\"message\":\"" +
                             c.message + "\"}}";
    EXPECT_EQ(IsThinkingRefusal(c.status, body), c.refusal) << c.message;
  }
  EXPECT_FALSE(IsThinkingRefusal(400, "thinking, but no JSON")) << "the message is read from the error object";
}

TEST(AnswerExtrasWireTest, AModelListPageKeepsTheGeneratingModelsInOrder) {
  std::vector<TModelInfo> models;
  std::string next;
  ASSERT_TRUE(ReadModelListPage(
      R"({"models":[{"name":"models/a","inputTokenLimit":10,"outputTokenLimit":2,"supportedGenerationMethods":["generateContent"]},)"
      R"({"name":"models/embed","supportedGenerationMethods":["embedContent"]},)"
      R"({"name":"models/b","supportedGenerationMethods":["countTokens","generateContent"]},)"
      R"({"name":"models/c"},7,{"supportedGenerationMethods":["generateContent"]}],"nextPageToken":"T2"})",
      models, next));
  EXPECT_EQ(models, (std::vector<TModelInfo>{{"a", 10, 2}, {"b", 0, 0}}));
  EXPECT_EQ(next, "T2");
  EXPECT_FALSE(ReadModelListPage("<html>proxy</html>", models, next));

  EXPECT_EQ(ModelListUrl("https://relay.example/v1beta/models/%s:%s?key=", "k/y", ""),
            "https://relay.example/v1beta/models?key=k%2Fy&pageSize=1000");
  EXPECT_EQ(ModelListUrl(kDefaultGeminiApiUrlBase, "k", "a b&c"),
            "https://generativelanguage.googleapis.com/v1beta/models?key=k&pageSize=1000&pageToken=a%20b%26c");
}

}  // namespace
