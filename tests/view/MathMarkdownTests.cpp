// Formulas set aside before Markdown and put back as spans the page typesets.
#include <gtest/gtest.h>

#include <string>

#include "view/Markdown.h"
#include "view/MathMarkdown.h"
#include "view/MessageRender.h"

namespace tarvok {
namespace {

std::string Inline(const std::string& ATex) { return "<span class=\"math inline\">\\(" + ATex + "\\)</span>"; }
std::string Display(const std::string& ATex) { return "<span class=\"math display\">\\[" + ATex + "\\]</span>"; }

TEST(MathMarkdownTest, FormulasSurviveMarkdown) {
  const struct {
    const char* Markdown;
    std::string Html;
  } cases[] = {
      {"Sort: $O(n \\log n)$.", "<p>Sort: " + Inline("O(n \\log n)") + ".</p>\n"},
      // Underscores and stars inside are TeX, not emphasis; pipes do not split a table cell.
      {"$a_1 * b_2 * c_3$", "<p>" + Inline("a_1 * b_2 * c_3") + "</p>\n"},
      {"| f | cost |\n|---|---|\n| sort | $O(|x|)$ |",
       "<table>\n<thead>\n<tr>\n<th>f</th>\n<th>cost</th>\n</tr>\n</thead>\n<tbody>\n<tr>\n<td>sort</td>\n<td>" +
           Inline("O(|x|)") + "</td>\n</tr>\n</tbody>\n</table>\n"},
      {"$$C(n) \\approx 2n \\ln n$$", "<p>" + Display("C(n) \\approx 2n \\ln n") + "</p>\n"},
      {"$$\nx^2\n$$", "<p>" + Display("x^2") + "</p>\n"},
      {"\\(a<b\\) and \\[\\frac{1}{2}\\]", "<p>" + Inline("a&lt;b") + " and " + Display("\\frac{1}{2}") + "</p>\n"},
      {"- item $x$\n\n    more $y$", "<ul>\n<li>\n<p>item " + Inline("x") + "</p>\n<p>more " + Inline("y") + "</p>\n</li>\n</ul>\n"},
      // A formula in a link's address comes back as its source, escaped, never as markup.
      {"[a](http://e/$x\"y$)", "<p><a href=\"http://e/$x&quot;y$\">a</a></p>\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(AnswerToHtml(c.Markdown), c.Html) << c.Markdown;
}

// Nothing here is maths: the HTML is exactly what Markdown alone makes of it.
TEST(MathMarkdownTest, TextWithoutFormulasConvertsAsBefore) {
  const char* cases[] = {
      "Книга стоит $5, а с доставкой $10.",
      "Run `echo $HOME` and `$x$`.",
      "```bash\necho $HOME $PATH\nx=$y$\n```\n",
      "Text\n\n    indented $code$ block\n",
      "A price of \\$5 and \\$x\\$.",
      "$ x$ and $x $ are not formulas",
      "$a\n\nb$ crosses a paragraph",
      "costs US$5 or US$10",
      "$$ $$ and \\( \\)",
      "plain text only",
      "Template tvkmath0x word",
  };
  for (const char* text : cases) {
    EXPECT_TRUE(ProtectMath(text).Spans.empty()) << text;
    EXPECT_EQ(AnswerToHtml(text), MarkdownToHtml(text)) << text;
  }
}

// A notice shows a file name as written, however much it looks like TeX.
TEST(MathMarkdownTest, ALiteralTextIsNeverAFormula) {
  const std::string name = "f (1,'*') [x] $y$ \\(z\\) \\[w\\] $$v$$.txt";
  EXPECT_EQ(AnswerToHtml(MarkdownLiteral(name)), "<p>f (1,'*') [x] $y$ \\(z\\) \\[w\\] $$v$$.txt</p>\n");
}

TEST(MathMarkdownTest, PlaceholderNeverMatchesTheAnswersOwnWords) {
  const std::string text = "tvkmath0x and tvkmathq0x, then $y$";
  const TProtectedMath math = ProtectMath(text);
  ASSERT_EQ(math.Spans.size(), 1u);
  EXPECT_EQ(text.find(math.Placeholder), std::string::npos);
  EXPECT_EQ(AnswerToHtml(text), "<p>tvkmath0x and tvkmathq0x, then " + Inline("y") + "</p>\n");
}

TEST(MathMarkdownTest, AnswerBubbleKeepsCodeAndFormulasApart) {
  const std::string answer =
      "Cost $O(n \\log n)$:\n\n```cpp\nint price = $5;\n```\n\nand `echo $HOME`, $$C(n) \\approx 2n \\ln n$$";
  const std::string html = RenderModelMessage(answer, "gemini-2.5-pro", 0, -1, "");
  EXPECT_NE(html.find(Inline("O(n \\log n)")), std::string::npos);
  EXPECT_NE(html.find(Display("C(n) \\approx 2n \\ln n")), std::string::npos);
  EXPECT_NE(html.find("<pre><code class=\"language-cpp\">int price = $5;\n</code></pre>"), std::string::npos);
  EXPECT_NE(html.find("<code>echo $HOME</code>"), std::string::npos);
}

}  // namespace
}  // namespace tarvok
