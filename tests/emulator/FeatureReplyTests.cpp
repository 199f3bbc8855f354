// The emulator's thoughts, sources and model list: there when asked for, absent otherwise.
#include <gtest/gtest.h>

#include <string>

#include "tools/gemini-emulator/DefaultReplies.h"

namespace tarvok::emulator {
namespace {

TScriptedReply Generate(const std::string& ABody) {
  TRecordedRequest request;
  request.Method = "POST";
  request.Path = "/v1beta/models/gemini-2.5-flash:generateContent";
  request.Query = "key=k";
  request.Body = ABody;
  return MakeDefaultReply(request, request.Path);
}

TScriptedReply List(const std::string& AQuery) {
  TRecordedRequest request;
  request.Method = "GET";
  request.Path = "/v1beta/models";
  request.Query = AQuery;
  return MakeDefaultReply(request, request.Path);
}

TEST(FeatureReplyTest, ThoughtsAndSourcesOnlyWhenTheRequestAsksForThem) {
  const std::string turn = R"({"contents":[{"role":"user","parts":[{"text":"Hi"}]}])";
  const struct {
    const char* name;
    std::string body;
    bool thoughts, sources;
  } cases[] = {
      {"plain", turn + "}", false, false},
      {"thoughts", turn + R"(,"generationConfig":{"thinkingConfig":{"includeThoughts":true}}})", true, false},
      {"thoughts off", turn + R"(,"generationConfig":{"thinkingConfig":{"includeThoughts":false}}})", false, false},
      {"search", turn + R"(,"tools":[{"google_search":{}}]})", false, true},
  };
  for (const auto& c : cases) {
    const std::string answer = Generate(c.body).Body;
    EXPECT_EQ(answer.find("\"thought\": true") != std::string::npos, c.thoughts) << c.name;
    EXPECT_EQ(answer.find("thoughtsTokenCount") != std::string::npos, c.thoughts) << c.name;
    EXPECT_EQ(answer.find("groundingMetadata") != std::string::npos, c.sources) << c.name;
  }
}

TEST(FeatureReplyTest, TheModelListComesInPagesAndRefusesAnUnknownToken) {
  const std::string first = List("key=k&pageSize=1000").Body;
  EXPECT_NE(first.find("\"nextPageToken\": \"page-3\""), std::string::npos) << first;
  EXPECT_NE(List("key=k&pageSize=1").Body.find("\"nextPageToken\": \"page-1\""), std::string::npos);
  const std::string last = List("key=k&pageToken=page-6").Body;
  EXPECT_NE(last.find("models/gemma-3-27b-it"), std::string::npos);
  EXPECT_EQ(last.find("nextPageToken"), std::string::npos);
  EXPECT_EQ(List("key=k&pageToken=bogus").Status, 400);
  EXPECT_EQ(List("pageSize=5").Status, 403) << "no key, the service's refusal";
}

}  // namespace
}  // namespace tarvok::emulator
