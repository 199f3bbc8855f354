// The answer's thoughts, citation marks and sources as the page and the exports show them.
#include <gtest/gtest.h>

#include <string>

#include "view/AnswerExtras.h"
#include "view/ChatExport.h"
#include "view/MessageRender.h"

namespace tarvok {
namespace {

TGrounding TwoSources() {
  TGrounding g;
  g.Sources = {{"Погода", "https://weather.example/moscow"}, {"", "javascript:alert(1)"}};
  g.Queries = {"погода в Москве & завтра"};
  return g;
}

TEST(AnswerExtrasRenderTest, CitationMarksFollowTheSupportedStretchesCountedInBytes) {
  const struct {
    const char* name;
    std::string text;
    std::vector<TGroundingSupport> supports;
    std::string html;  // the converted answer
  } cases[] = {
      {"after multi-byte letters", "Тепло. Сухо.", {{0, 11, {0}}},
       "<p>Тепло.<sup class=\"citation\"><a href=\"https://weather.example/moscow\">[1]</a></sup> Сухо.</p>\n"},
      {"two sources at one place, once each", "A. B.", {{0, 2, {0, 1}}, {0, 2, {1}}},
       "<p>A.<sup class=\"citation\"><a href=\"https://weather.example/moscow\">[1]</a>[2]</sup> B.</p>\n"},
      {"an end inside a letter moves past it", "Ёж", {{0, 1, {0}}},
       "<p>Ё<sup class=\"citation\"><a href=\"https://weather.example/moscow\">[1]</a></sup>ж</p>\n"},
      {"an address right before the mark stays whole", "See https://a.example/x", {{0, 23, {0}}},
       "<p>See <a href=\"https://a.example/x\">https://a.example/x</a><sup class=\"citation\"><a "
       "href=\"https://weather.example/moscow\">[1]</a></sup></p>\n"},
      {"inside code the mark is left out", "`x = 1` ok", {{0, 3, {0}}}, "<p><code>x = 1</code> ok</p>\n"},
      {"past the end, or naming no source, nothing", "Hi", {{0, 9, {0}}, {0, 2, {5}}}, "<p>Hi</p>\n"},
  };
  for (const auto& c : cases) {
    TGrounding g = TwoSources();
    g.Supports = c.supports;
    const std::string marked = InsertCitationStandIns(c.text, g);
    EXPECT_EQ(ReplaceCitationStandIns(MarkdownToHtml(marked), c.text, g), c.html) << c.name;
  }
}

TEST(AnswerExtrasRenderTest, TheBubbleFoldsTheThoughtsAboveAndListsTheSourcesBelow) {
  TAnswerExtras extras;
  extras.Thoughts = "**План**\n\nОтветить коротко.";
  extras.ThoughtsTokens = 120;
  extras.Grounding = TwoSources();
  const std::string html = RenderAnswerMessage("Ответ", "gemini-2.5-pro", 0, 7, "3", extras);
  const std::string plain = RenderModelMessage("Ответ", "gemini-2.5-pro", 0, 7, "3");
  const std::string content = "<div class=\"message-content\">";
  const std::string expected =
      plain.substr(0, plain.find(content) + content.size()) +
      "<details class=\"thoughts\"><summary>Мысли</summary><p><strong>План</strong></p>\n<p>Ответить коротко.</p>\n"
      "</details><p>Ответ</p>\n"
      "<div class=\"sources\"><strong>Источники</strong><ol>"
      "<li><a href=\"https://weather.example/moscow\">Погода</a> <span class=\"source-host\">(weather.example)</span></li>"
      "<li>javascript:alert(1)</li></ol>"
      "<div class=\"search-queries\">Поисковые запросы: <a href=\"https://www.google.com/search?q="
      "%D0%BF%D0%BE%D0%B3%D0%BE%D0%B4%D0%B0+%D0%B2+%D0%9C%D0%BE%D1%81%D0%BA%D0%B2%D0%B5+%26+"
      "%D0%B7%D0%B0%D0%B2%D1%82%D1%80%D0%B0\">погода в Москве &amp; завтра</a></div></div>"
      "<div class=\"message-footer\">Время: 3с | Токены: 7 | Мысли: 120</div></div></div>";
  EXPECT_EQ(html, expected);
  EXPECT_EQ(RenderAnswerMessage("Ответ", "gemini-2.5-pro", 0, 7, "3", {}), plain) << "no extras, the same bubble";

  TAnswerExtras onlyCount;
  onlyCount.ThoughtsTokens = 5;
  EXPECT_NE(RenderAnswerMessage("x", "", 0, -1, "", onlyCount).find("<div class=\"message-footer\">Мысли: 5</div>"),
            std::string::npos);
}

TEST(AnswerExtrasRenderTest, AReopenedTurnAndTheExportsShowThemToo) {
  THistoryItem item;
  item.Role = "model";
  item.Parts.push_back(TContentPart{TPartType::ptText, "Ответ", {}, {}, {}});
  item.Thoughts = "Думаю.";
  item.Grounding = TwoSources();
  const std::string bubble = RenderHistoryItem(item);
  EXPECT_NE(bubble.find("<summary>Мысли</summary><p>Думаю.</p>"), std::string::npos);
  EXPECT_NE(bubble.find("<strong>Источники</strong>"), std::string::npos);
  EXPECT_NE(ChatToHtml({item}, "t").find("<summary>Мысли</summary>"), std::string::npos);

  const std::string md = ChatToMarkdown({item}, "p").Text;
  EXPECT_NE(md.find("<details><summary>Мысли</summary>\n\nДумаю.\n\n</details>\n\nОтвет\n\n**Источники**\n\n"
                    "1. [Погода](<https://weather.example/moscow>) (weather\\.example)\n2. javascript\\:alert&#40;1\\)\n"),
            std::string::npos)
      << md;
}

TEST(AnswerExtrasRenderTest, OnlyWebAddressesBecomeLinks) {
  for (const char* uri : {"https://a.example/x", "HTTP://A.example"}) EXPECT_TRUE(IsWebLink(uri)) << uri;
  for (const char* uri : {"javascript:alert(1)", "file:///etc/passwd", "https://", "https://a b", "https://a\"b", "data:x"})
    EXPECT_FALSE(IsWebLink(uri)) << uri;
  EXPECT_EQ(UrlHost("https://user@Sub.Example.com:8080/p?q"), "sub.example.com");
}

}  // namespace
}  // namespace tarvok
