// The event-stream framing and the answer gathered from a stream's events.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/CoreTexts.h"
#include "core/StreamReader.h"
#include "core/WireFormat.h"
#include "tools/gemini-emulator/GeminiEmulator.h"

using namespace tarvok;

namespace {

// Feeds AStream in reads of AStep bytes (0: all at once) and returns the events.
std::vector<std::string> Events(const std::string& AStream, std::size_t AStep, bool* AInside = nullptr) {
  TSseReader reader;
  std::vector<std::string> events;
  const std::size_t step = AStep == 0 ? AStream.size() : AStep;
  for (std::size_t at = 0; at < AStream.size(); at += step)
    reader.Feed(std::string_view(AStream).substr(at, step), [&](std::string_view e) { events.emplace_back(e); });
  if (AInside) *AInside = reader.InsideEvent();
  return events;
}

TEST(SseReaderTest, SplitsEventsWhateverTheReadsAndLineEnds) {
  const struct {
    const char* name;
    std::string stream;
    std::vector<std::string> events;
    bool inside;
  } cases[] = {
      {"CR LF", "data: {\"a\":1}\r\n\r\ndata: {\"b\":2}\r\n\r\n", {"{\"a\":1}", "{\"b\":2}"}, false},
      {"LF", "data: x\n\ndata: y\n\n", {"x", "y"}, false},
      {"lone CR", "data: x\r\rdata: y\r\r", {"x", "y"}, false},
      {"no space after the colon", "data:x\n\n", {"x"}, false},
      {"two data lines joined by LF", "data: a\ndata: b\n\n", {"a\nb"}, false},
      {"comments, other fields and empty events skipped", ": keep-alive\n\nevent: x\nid: 7\ndata: y\n\n\n\n", {"y"}, false},
      {"a cut inside an event", "data: x\r\n\r\ndata: {\"cut", {"x"}, true},
      {"a cut after the data line, before the empty line", "data: x\r\n", {}, true},
  };
  for (const auto& c : cases) {
    for (std::size_t step : {std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(7)}) {
      bool inside = false;
      EXPECT_EQ(Events(c.stream, step, &inside), c.events) << c.name << ", reads of " << step;
      EXPECT_EQ(inside, c.inside) << c.name << ", reads of " << step;
    }
  }
}

// A stream read whole and event by event gives the answer its events make.
TStreamAnswer Gather(const std::string& AStream) {
  TStreamAnswer answer;
  for (const std::string& e : Events(AStream, 5)) answer.AddEvent(e);
  return answer;
}

std::string Sse(std::initializer_list<std::string> AEvents) {
  std::string s;
  for (const std::string& e : AEvents) s += "data: " + e + "\r\n\r\n";
  return s;
}

TEST(StreamAnswerTest, RecordedStreamsGiveTheirTextAndTheLastCounts) {
  const struct {
    const char* fixture;
    std::string textStart;
    TTokenUsage usage;
  } cases[] = {
      {"07-stream-text.sse", "The capital of France is Paris.\n", {13, 8, 21}},
      // Four thought events come first; none of their text is the answer.
      {"07-stream-thought-parts.sse", "", {}},
      {"07-stream-gemini3-empty-final-part.sse", "", {}},
  };
  for (const auto& c : cases) {
    const TStreamAnswer a = Gather(emulator::ReadFixture(c.fixture));
    EXPECT_FALSE(a.FinalFailed()) << c.fixture;
    EXPECT_EQ(a.FinalResult(), a.Text()) << c.fixture;
    EXPECT_FALSE(a.Text().empty()) << c.fixture;
    if (!c.textStart.empty()) {
      EXPECT_EQ(a.Text(), c.textStart) << c.fixture;
    }
    if (c.usage.TotalTokens) {
      EXPECT_EQ(a.Usage(), c.usage) << c.fixture;
    }
    EXPECT_EQ(a.Text().find("Clarifying User Goals"), std::string::npos) << c.fixture;
  }
}

TEST(StreamAnswerTest, TheEndOfAStreamGivesTheSameResultAsTheWholeAnswer) {
  const std::string blocked = std::string(texts::kBlockedHead) + "PROHIBITED_CONTENT" + texts::kBlockedTail;
  const struct {
    const char* name;
    std::string stream;
    std::string result;
    bool failed;
  } cases[] = {
      {"a blocked prompt: one event without candidates",
       Sse({R"({"promptFeedback":{"blockReason":"PROHIBITED_CONTENT"},"usageMetadata":{"promptTokenCount":9,"totalTokenCount":9}})"}),
       blocked, true},
      {"a stop reason without any text",
       Sse({R"({"candidates":[{"content":{"parts":[]},"finishReason":"SAFETY"}]})"}),
       std::string(texts::kNoAnswerHead) + "SAFETY" + texts::kNoAnswerTail, true},
      {"text, then a stop reason: the text is the answer",
       Sse({R"({"candidates":[{"content":{"parts":[{"text":"Par"}]}}]})",
            R"({"candidates":[{"content":{"parts":[{"text":"tial"}]},"finishReason":"MAX_TOKENS"}]})"}),
       "Partial", false},
      {"an error event after text", Sse({R"({"candidates":[{"content":{"parts":[{"text":"Half"}]}}]})",
                                         R"({"error":{"code":503,"message":"overloaded"}})"}),
       std::string(texts::kErrorPrefix) + "overloaded", true},
      {"no events at all", "", texts::kEmptyAnswer, true},
      {"events that are not JSON are skipped", Sse({"[DONE]", R"({"candidates":[{"content":{"parts":[{"text":"A"}]}}]})"}),
       "A", false},
      {"a lone surrogate escape reads as U+FFFD, not as a lost event",
       Sse({R"({"candidates":[{"content":{"parts":[{"text":"a\ud83d"}]}}]})", R"({"candidates":[{"content":{"parts":[{"text":"b"}]}}]})"}),
       "a\xEF\xBF\xBD" "b", false},
      {"text worded like the no-answer failure is the model's text",
       Sse({(std::string(R"({"candidates":[{"content":{"parts":[{"text":")") + texts::kNoAnswerHead + R"(X)."}]}}]})")}),
       texts::kNoAnswerHead + std::string("X)."), false},
      {"text that begins like a picture's result text is text",
       Sse({R"({"candidates":[{"content":{"parts":[{"text":"{\"mime_type\":\"image/png\"}"}]}}]})",
            R"({"candidates":[{"content":{"parts":[{"text":" is JSON"}]}}]})"}),
       R"({"mime_type":"image/png"} is JSON)", false},
  };
  for (const auto& c : cases) {
    const TStreamAnswer a = Gather(c.stream);
    EXPECT_EQ(a.FinalResult(), c.result) << c.name;
    EXPECT_EQ(a.FinalFailed(), c.failed) << c.name;
  }
}

TEST(StreamAnswerTest, APictureInAnEventIsTheAnswerAndAWrongKindOfCountRaises) {
  const TStreamAnswer picture = Gather(Sse({R"({"candidates":[{"content":{"parts":[{"text":"Here"}]}}]})",
                                            R"({"candidates":[{"content":{"parts":[{"inlineData":{"mimeType":"image/png","data":"QUJD"}}]}}]})"}));
  EXPECT_EQ(picture.FinalResult(), MakeImageResultText("image/png", "QUJD"));

  TStreamAnswer wrong;
  EXPECT_THROW(wrong.AddEvent(R"({"usageMetadata":{"promptTokenCount":{}}})"), TRequestError);
}

}  // namespace
