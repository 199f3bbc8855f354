// A model turn's thoughts and sources in the chat file: after the turn's other members,
// read back whole, and what cannot be read of them costs nothing else.
#include <gtest/gtest.h>

#include <string>

#include "storage/ChatFile.h"

namespace tarvok {
namespace {

THistoryItem Answer() {
  THistoryItem item;
  item.Role = "model";
  item.Parts.push_back(TContentPart{TPartType::ptText, "Тепло.", {}, {}, {}});
  item.TokenCount = 3;
  item.ModelName = "gemini-2.5-pro";
  item.Duration = "4";
  return item;
}

TEST(ChatFileExtrasTest, ThoughtsAndSourcesFollowTheTurnsOtherMembersAndComeBackWhole) {
  THistoryItem item = Answer();
  const std::string plain = ChatFileContent({item});
  item.Thoughts = "**План**\n\"кратко\"";
  item.ThoughtsTokens = 120;
  item.Grounding.Sources = {{"Погода", "https://weather.example/a"}, {"", ""}};
  item.Grounding.Supports = {{0, 11, {0, 1}}};
  item.Grounding.Queries = {"погода"};
  const std::string text = ChatFileContent({item});
  const std::string tail =
      ",\"thoughts\":\"**\\u041F\\u043B\\u0430\\u043D**\\n\\\"\\u043A\\u0440\\u0430\\u0442\\u043A\\u043E\\\"\","
      "\"thoughts_token_count\":120,\"grounding\":{\"sources\":[{\"title\":\"\\u041F\\u043E\\u0433\\u043E\\u0434\\u0430\","
      "\"uri\":\"https:\\/\\/weather.example\\/a\"},{\"title\":\"\",\"uri\":\"\"}],\"supports\":[{\"start_index\":0,"
      "\"end_index\":11,\"sources\":[0,1]}],\"queries\":[\"\\u043F\\u043E\\u0433\\u043E\\u0434\\u0430\"]}}]}";
  EXPECT_EQ(text, plain.substr(0, plain.size() - 3) + tail) << "new members after \"duration\"; the rest as before";

  TChatHistory back;
  std::int32_t tokens = 0;
  ParseChatFileText(text, back, tokens);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0], item);
}

TEST(ChatFileExtrasTest, OddExtrasAreLeftOutAndTheTurnStays) {
  const std::string text =
      "{\"contents\":[{\"role\":\"model\",\"parts\":[{\"text\":\"A\"}],\"token_count\":2,\"thoughts\":7,"
      "\"thoughts_token_count\":\"x\",\"grounding\":{\"sources\":[{\"title\":1}],\"supports\":[{\"end_index\":-3,"
      "\"sources\":[\"a\",2]}],\"queries\":[null,\"q\"]}},{\"role\":\"user\",\"parts\":[{\"text\":\"B\"}],\"grounding\":[]}]}";
  TChatHistory back;
  std::int32_t tokens = 0;
  ParseChatFileText(text, back, tokens);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].Parts[0].Text, "A");
  EXPECT_EQ(back[0].TokenCount, 2);
  EXPECT_TRUE(back[0].Thoughts.empty());
  EXPECT_EQ(back[0].ThoughtsTokens, 0);
  EXPECT_EQ(back[0].Grounding.Sources, (std::vector<TGroundingSource>{{"", ""}}));
  EXPECT_EQ(back[0].Grounding.Supports, (std::vector<TGroundingSupport>{{0, 0, {2}}}));
  EXPECT_EQ(back[0].Grounding.Queries, std::vector<std::string>{"q"});
  EXPECT_EQ(back[1].Parts[0].Text, "B") << "the next turn is read as ever";
  EXPECT_TRUE(back[1].Grounding.empty());
}

}  // namespace
}  // namespace tarvok
