#include <gtest/gtest.h>

#include "view/MessageRender.h"
#include "view/StreamRender.h"

using namespace tarvok;

namespace {

TEST(StreamRenderTest, TheStoppedNoteEndsTheFooterOrMakesOne) {
  const struct {
    const char* name;
    int tokens;
    const char* duration;
    std::string footer, stoppedFooter;
  } cases[] = {
      {"time and tokens", 12, "75", "<div class=\"message-footer\">Время: 1мин 15с | Токены: 12</div>",
       "<div class=\"message-footer\">Время: 1мин 15с | Токены: 12 | Остановлено</div>"},
      {"time only", -1, "3", "<div class=\"message-footer\">Время: 3с</div>",
       "<div class=\"message-footer\">Время: 3с | Остановлено</div>"},
      {"no footer", -1, "", "", "<div class=\"message-footer\">Остановлено</div>"},
  };
  for (const auto& c : cases) {
    const std::string bubble = RenderModelMessage("Some *text*", "gemini-2.5-flash", 0, c.tokens, c.duration);
    const std::string tail = c.footer + "</div></div>";
    ASSERT_TRUE(bubble.ends_with(tail)) << c.name << ": " << bubble;
    EXPECT_EQ(WithStoppedNote(bubble), bubble.substr(0, bubble.size() - tail.size()) + c.stoppedFooter + "</div></div>")
        << c.name;
  }
}

TEST(StreamRenderTest, TheBubbleIdGoesOnTheOuterElementAndTheScriptCarriesTheHtmlSafely) {
  const std::string bubble = RenderModelMessage("a", "", 0, -1, "");
  EXPECT_EQ(WithBubbleId(bubble, "answer_1"), "<div id=\"answer_1\"" + bubble.substr(4));

  const std::string script = ReplaceBubbleScript("answer_1", "<p>\"x\"</p></script>");
  EXPECT_EQ(script, "(function(){var h=\"\\x3cp\\x3e\\\"x\\\"\\x3c/p\\x3e\\x3c/script\\x3e\","
                    "el=document.getElementById(\"answer_1\");if(el){el.outerHTML=h;}else{"
                    "var c=document.getElementById(\"chat-container\");if(c)c.insertAdjacentHTML(\"beforeend\",h);}})();");
  EXPECT_EQ(ReplaceBubbleScript("", "<p></p>"), "") << "no id, nothing to run";
}

}  // namespace
