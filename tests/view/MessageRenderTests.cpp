// Exact HTML of the bubbles: the page's style sheet and scripts depend on every class
// name and nesting here, and stored chats may carry hostile text.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/Platform.h"
#include "view/Markdown.h"
#include "view/MessageRender.h"

namespace tarvok {
namespace {

// Texts of the page, as the product shows them.
const std::string kUserName = "👤 Пользователь";
const std::string kRobot = "🤖 ";
const std::string kTokens = "Токены: ";
const std::string kTimeLabel = "Время: ";
const std::string kMin = "мин ";
const std::string kSec = "с";
const std::string kAttachHead = "<div class=\"attachments\"><strong>Прикрепленные файлы:</strong><ul>";
const std::string kCodeHeader = "<div class=\"code-block-container\">  <div class=\"code-header\">    code    <button class=\"copy-btn\" onclick=\"copyCode(this)\">Копировать</button>    <button class=\"download-btn\" onclick=\"downloadCode(this)\">Скачать</button>  </div>";
const std::string kMdError = "<h3>Ошибка конвертации Markdown:</h3><pre>";
const std::string kImageRefused = "Изображение не показано: недопустимые данные.";
const std::string kImageHead = "<div class=\"message-wrapper model-message\">  <div class=\"message-header\">    <strong>🤖 Gemini (Image)</strong>";
const std::string kCyrillicModel = "ошибка-1";

const TDateTime kTime = EncodeDateTime({2025, 3, 14, 9, 30, 15, 123});
const std::string kSpan = "<span class=\"timestamp\">09:30:15 - 14.03.2025</span>";

std::string UserHead(const std::string& AIdAttr, const std::string& ASpan) {
  return "<div" + AIdAttr + " class=\"message-wrapper user-message\">  <div class=\"message-header\">    <strong>" +
         kUserName + "</strong>" + ASpan + "  </div>  <div class=\"message-content\">    <p>";
}
std::string ModelHead(const std::string& AName, const std::string& ASpan) {
  return "<div class=\"message-wrapper model-message\">  <div class=\"message-header\">    <strong>" + kRobot +
         AName + "</strong>" + ASpan + "  </div>  <div class=\"message-content\">";
}

TEST(MessageFormatsTest, IdAndTimestamp) {
  EXPECT_EQ(MakeMessageId(kTime), "msg_20250314093015123");
  EXPECT_EQ(MakeMessageId(EncodeDateTime({2024, 1, 2, 3, 4, 5, 6})), "msg_20240102030405006");
  EXPECT_EQ(FormatMessageTimestamp(kTime), "09:30:15 - 14.03.2025");
  EXPECT_EQ(FormatMessageTimestamp(EncodeDateTime({2025, 12, 31, 23, 59, 59, 0})), "23:59:59 - 31.12.2025");
  // Zero, negative and values that are no date (a hostile chat file) show no time.
  for (double bad : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300})
    EXPECT_EQ(FormatMessageTimestamp(bad), "") << bad;
}

TEST(MessageFormatsTest, DurationText) {
  const struct {
    const char* Duration;
    std::string Expected;
  } cases[] = {
      {"37", "37" + kSec},
      {"59", "59" + kSec},
      {"60", "1" + kMin + "0" + kSec},
      {"75", "1" + kMin + "15" + kSec},
      {"125.9", "2" + kMin + "5" + kSec},
      {"125,9", "2" + kMin + "5" + kSec},
      {"3600", "60" + kMin + "0" + kSec},
      {"-70", "-70" + kSec},
      {"abc", "abc" + kSec},
      {"75x", "75x" + kSec},
      {"inf", "inf" + kSec},
      {"1e400", "1e400" + kSec},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDurationText(c.Duration), c.Expected) << "duration " << c.Duration;
}

TEST(UserBubbleTest, ExactHtml) {
  const struct {
    const char* Name;
    std::string Text;
    std::vector<std::string> Files;
    TDateTime Timestamp;
    std::string Id;
    int Tokens;
    std::string Expected;
  } cases[] = {
      {"escaping: only < > and CR LF; & and a bare LF stay",
       "a<b>\r\nc & \"d\"\ne", {}, 0, "", -1,
       UserHead("", "") + "a&lt;b&gt;<br>c & \"d\"\ne</p>  </div></div>"},
      {"live message: id, time, file names without folders, footer",
       "hi", {"/home/u/docs/report.pdf", "/home/u/pic.png"}, kTime, "msg_20250314093015123", 5,
       UserHead(" id=\"msg_20250314093015123\"", kSpan) + "hi</p>" + kAttachHead +
           "<li>report.pdf</li><li>pic.png</li></ul></div>"
           "<div class=\"message-footer\" id=\"footer_msg_20250314093015123\">" + kTokens + "5</div>  </div></div>"},
      {"rebuilt turn: no id, footer id is footer_", "x", {}, kTime, "", 0,
       UserHead("", kSpan) + "x</p><div class=\"message-footer\" id=\"footer_\">" + kTokens + "0</div>  </div></div>"},
      {"negative count other than -1: no footer", "x", {}, 0, "msg_1", -2,
       UserHead(" id=\"msg_1\"", "") + "x</p>  </div></div>"},
      {"hostile file name is shown as text",
       "x", {"/a/<img src=x onerror=\"alert(1)\">&'.png"}, 0, "", -1,
       UserHead("", "") + "x</p>" + kAttachHead +
           "<li>&lt;img src=x onerror=&quot;alert(1)&quot;&gt;&amp;&#39;.png</li></ul></div>  </div></div>"},
      {"bidirectional controls leave file names, the text keeps them",
       "a\u202Eb", {"/d/invoice\u202Efdp.txt", "/d/\u202A\u202B\u202C\u202Dx\u2066\u2067\u2068\u2069.png\u200F"}, 0, "", -1,
       UserHead("", "") + "a\u202Eb</p>" + kAttachHead + "<li>invoicefdp.txt</li><li>x.png\u200F</li></ul></div>  </div></div>"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RenderUserMessage(c.Text, c.Files, c.Timestamp, c.Id, c.Tokens), c.Expected) << c.Name;
}

TEST(UserBubbleTest, FileNamesAreCutAtThisSystemsSeparatorsOnly) {
  const struct {
    std::string Path, Posix, Windows;
  } cases[] = {
      {"/home/u/f06.png\\>.txt", "f06.png\\>.txt", ">.txt"},
      {"C:\\Users\\u\\pic.png", "C:\\Users\\u\\pic.png", "pic.png"},
      {"D:pic.png", "D:pic.png", "pic.png"},
      {"a/b\\c/d.txt", "d.txt", "d.txt"},
      {"plain.txt", "plain.txt", "plain.txt"},
      {"dir/", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileNameOfPath(c.Path, "/"), c.Posix) << c.Path;
    EXPECT_EQ(FileNameOfPath(c.Path, "\\/:"), c.Windows) << c.Path;
  }
  // The bubble lists the name the way this system reads it: on POSIX a backslash is part of it.
  const bool backslashSeparates = PathSeparatorChars().find('\\') != std::string_view::npos;
  const std::string html = RenderUserMessage("x", {"/home/u/f06.png\\x.txt"}, 0, "", -1);
  EXPECT_NE(html.find(backslashSeparates ? "<li>x.txt</li>" : "<li>f06.png\\x.txt</li>"), std::string::npos) << html;
}

TEST(ModelBubbleTest, HeaderAndFooter) {
  const struct {
    const char* Name;
    std::string Model;
    int Tokens;
    std::string Duration;
    std::string ExpectedName;
    std::string ExpectedFooter;
  } cases[] = {
      {"no count, no duration: no footer", "gemini-2.5-flash", -1, "", "Gemini-2.5-flash", ""},
      {"count 0", "", 0, "", "Gemini", "<div class=\"message-footer\">" + kTokens + "0</div>"},
      {"count and minutes", "gemini-2.5-pro", 12, "75", "Gemini-2.5-pro",
       "<div class=\"message-footer\">" + kTimeLabel + "1" + kMin + "15" + kSec + " | " + kTokens + "12</div>"},
      {"duration only", "Gemini", -1, "59", "Gemini",
       "<div class=\"message-footer\">" + kTimeLabel + "59" + kSec + "</div>"},
      {"digit first: unchanged", "2.5-pro", -1, "", "2.5-pro", ""},
      {"non-Latin first: unchanged", kCyrillicModel, -1, "", kCyrillicModel, ""},
      {"hostile model name and duration are escaped", "<script>x</script>", -1, "<b>",
       "&lt;script&gt;x&lt;/script&gt;", "<div class=\"message-footer\">" + kTimeLabel + "&lt;b&gt;" + kSec + "</div>"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(RenderModelMessage("Hello", c.Model, kTime, c.Tokens, c.Duration),
              ModelHead(c.ExpectedName, kSpan) + "<p>Hello</p>\n" + c.ExpectedFooter + "</div></div>")
        << c.Name;
}

TEST(ModelBubbleTest, CodeBlocksGetTheirToolbar) {
  const std::string html = RenderModelMessage("```cpp\nint a;\n```\n\ntext `inline`\n\n    indented\n", "", 0, -1, "");
  EXPECT_EQ(html, ModelHead("Gemini", "") + kCodeHeader + "<pre><code class=\"language-cpp\">int a;\n</code></pre></div>\n" +
                      "<p>text <code>inline</code></p>\n" + kCodeHeader + "<pre><code>indented\n</code></pre></div>\n" +
                      "</div></div>");
}

TEST(ModelBubbleTest, WrapCodeBlocks) {
  const struct {
    const char* Name;
    std::string Html;
    std::string Expected;
  } cases[] = {
      {"no block", "<p>x</p>", "<p>x</p>"},
      {"two blocks", "<pre>a</pre>mid<pre>b</pre>",
       kCodeHeader + "<pre>a</pre></div>mid" + kCodeHeader + "<pre>b</pre></div>"},
      {"unclosed pre is left alone from there on", "<pre>a</pre><pre>never closed",
       kCodeHeader + "<pre>a</pre></div><pre>never closed"},
      {"pre with attributes is not a block", "<pre class=\"x\">a</pre>", "<pre class=\"x\">a</pre>"},
  };
  for (const auto& c : cases) EXPECT_EQ(WrapCodeBlocks(c.Html), c.Expected) << c.Name;
}

TEST(ModelBubbleTest, ConverterFailureKeepsTheAnswerAsText) {
  const TMarkdownConverter failing = [](std::string_view) -> std::string { throw TMarkdownError("bad <input>"); };
  EXPECT_EQ(RenderModelMessage("**a** <script>x</script>", "", 0, -1, "", failing),
            ModelHead("Gemini", "") + kMdError.substr(0, kMdError.size() - 5) + kCodeHeader +
                "<pre>bad &lt;input&gt;</pre></div><hr>**a** &lt;script&gt;x&lt;/script&gt;</div></div>");
}

TEST(ImageBubbleTest, PayloadAndStoredTurns) {
  const std::string expected = kImageHead + kSpan +
                               "  </div>  <div class=\"message-content\">    <img src=\"data:image/png;base64,iVBO+/w==\" "
                               "alt=\"Generated Image\" style=\"max-width:100%; height:auto; border-radius: 8px;\">"
                               "  </div></div>";
  EXPECT_EQ(RenderImageMessage("image/png", "iVBO+/w==", kTime), expected);
  // A text answer that is exactly the payload becomes the picture, without name or footer.
  EXPECT_EQ(RenderModelMessage(" {\"mime_type\":\"image/png\",\"base64_data\":\"iVBO+\\/w==\"} ", "gemini", kTime, 7, "3"),
            expected);

  THistoryItem stored{"model", {{TPartType::ptInlineData, "", "image/png", TSharedText("iVBO+/w=="), ""}}, 9, kTime,
                      "gemini-img", "12"};
  EXPECT_EQ(RenderHistoryItem(stored), expected);
}

TEST(ImageBubbleTest, RasterTypesShowInAnyLetterCase) {
  for (const char* mime : {"image/png", "image/jpeg", "image/gif", "image/webp", "image/bmp", "IMAGE/PNG", "Image/Jpeg"}) {
    const std::string html = RenderImageMessage(mime, "AAAA", 0);
    EXPECT_NE(html.find(std::string("<img src=\"data:") + mime + ";base64,AAAA\""), std::string::npos) << mime;
    EXPECT_EQ(html.find(kImageRefused), std::string::npos) << mime;
  }
}

TEST(ImageBubbleTest, PayloadLookalikesStayText) {
  const struct {
    const char* Name;
    std::string Text;
  } cases[] = {
      {"no base64_data", "{\"mime_type\":\"image/png\"}"},
      {"base64_data not a string", "{\"mime_type\":\"image/png\",\"base64_data\":5}"},
      {"an array", "[{\"mime_type\":\"image/png\",\"base64_data\":\"AA==\"}]"},
      {"broken JSON", "{\"mime_type\":\"image/png\",\"base64_data\":\"AA==\""},
  };
  for (const auto& c : cases) {
    const std::string html = RenderModelMessage(c.Text, "", 0, -1, "");
    EXPECT_EQ(html.find("<img"), std::string::npos) << c.Name;
    EXPECT_NE(html.find("mime_type"), std::string::npos) << c.Name;
  }
}

TEST(ImageBubbleTest, HostileMimeOrDataShowsANoticeInsteadOfThePicture) {
  const struct {
    const char* Name;
    std::string Mime;
    std::string Data;
  } cases[] = {
      {"quote in MIME type", "image/png\" onerror=\"alert(1)", "AA=="},
      {"no slash", "png", "AA=="},
      {"script MIME type with markup", "text/html;<script>", "AA=="},
      {"quote in data", "image/png", "AA==\" onerror=\"alert(1)"},
      {"markup in data", "image/png", "<svg onload=alert(1)>"},
      {"no data", "image/png", ""},
      // Not a raster picture: a document or nothing at all would show where a picture was expected.
      {"HTML", "text/html", "PGI+eDwvYj4="},
      {"SVG", "image/svg+xml", "PHN2Zz48L3N2Zz4="},
      {"PDF", "application/pdf", "JVBERg=="},
      {"an image type the page cannot show", "image/heic", "AAAA"},
      {"a prefix of a shown type", "image/pn", "AAAA"},
  };
  for (const auto& c : cases) {
    const std::string html = RenderImageMessage(c.Mime, c.Data, 0);
    EXPECT_EQ(html, kImageHead + "  </div>  <div class=\"message-content\"><p>" + kImageRefused + "</p>  </div></div>")
        << c.Name;
  }
}

TEST(MarkdownTest, SafeConversionWithExtensions) {
  const struct {
    const char* Name;
    std::string Markdown;
    std::string MustContain;
    std::string MustNotContain;
  } cases[] = {
      {"table", "| a | b |\n|---|---|\n| 1 | 2 |\n", "<td>1</td>", "|"},
      {"strikethrough", "~~gone~~", "<del>gone</del>", "~~"},
      {"autolink", "see www.example.com now", "<a href=\"http://www.example.com\">", ""},
      {"raw script omitted", "<script>alert(1)</script>", "", "<script"},
      {"raw handler omitted", "<img src=x onerror=alert(1)>", "", "onerror"},
      {"inline raw HTML omitted", "a <b onclick=\"x()\">b</b>", "", "onclick"},
      {"javascript: link emptied", "[x](javascript:alert(1))", "<a href=\"\">x</a>", "javascript"},
      {"vbscript: link emptied", "[x](vbscript:msgbox)", "<a href=\"\">x</a>", "vbscript"},
      {"file: link emptied", "[x](file:///etc/passwd)", "<a href=\"\">x</a>", "passwd"},
      {"fence info becomes a class only", "```js\nx\n```", "<pre><code class=\"language-js\">x\n</code></pre>", "<pre "},
  };
  for (const auto& c : cases) {
    const std::string html = MarkdownToHtml(c.Markdown);
    EXPECT_NE(html.find(c.MustContain), std::string::npos) << c.Name << ": " << html;
    if (!c.MustNotContain.empty()) {
      EXPECT_EQ(html.find(c.MustNotContain), std::string::npos) << c.Name << ": " << html;
    }
  }
}

// An opener of raw HTML whose end never comes would take the rest of the answer with it
// (and the safe setting drops raw HTML): it shows as text, and what follows is Markdown.
TEST(MarkdownTest, AnOpenerWithoutItsEndShowsAsTextAndTheRestStays) {
  const struct {
    const char* Name;
    std::string Markdown;
    std::string Html;
  } cases[] = {
      {"comment opener", "a\n\n<!-- note\n\n**rest**\n\n- item\n",
       "<p>a</p>\n<p>&lt;!-- note</p>\n<p><strong>rest</strong></p>\n<ul>\n<li>item</li>\n</ul>\n"},
      {"after a few spaces, with CR LF", "  <!-- x\r\n\r\n*y*", "<p>&lt;!-- x</p>\n<p><em>y</em></p>\n"},
      {"interrupting a paragraph", "text\n<!-- x\n\n*y*", "<p>text\n&lt;!-- x</p>\n<p><em>y</em></p>\n"},
      {"in a quote", "> <!-- q\n> more\n\nafter", "<blockquote>\n<p>&lt;!-- q\nmore</p>\n</blockquote>\n<p>after</p>\n"},
      {"in a list item", "- <!-- li\n  x\n\n*after*", "<ul>\n<li>&lt;!-- li\nx</li>\n</ul>\n<p><em>after</em></p>\n"},
      {"one after another", "<!--\n<!--\n*z*", "<p>&lt;!--\n&lt;!--\n<em>z</em></p>\n"},
      {"pre opener", "<pre>\ncode\n\n*after*", "<p>&lt;pre&gt;\ncode</p>\n<p><em>after</em></p>\n"},
      {"processing instruction", "<?php echo 1;\n\n*after*", "<p>&lt;?php echo 1;</p>\n<p><em>after</em></p>\n"},
      {"after a NUL", std::string("a\0b\n<!-- n\n\n*c*", 15),
       "<p>a\xEF\xBF\xBD" "b\n&lt;!-- n</p>\n<p><em>c</em></p>\n"},
      // Unchanged: a closed comment or block is raw HTML as before, and code is code.
      {"closed comment", "<!-- gone -->\n\n*b*", "<!-- raw HTML omitted -->\n<p><em>b</em></p>\n"},
      {"closed over lines", "<!-- a\nb -->\n*b*", "<!-- raw HTML omitted -->\n<p><em>b</em></p>\n"},
      {"closed pre", "<pre>\nx\n</pre>\n\n*b*", "<!-- raw HTML omitted -->\n<p><em>b</em></p>\n"},
      {"inside a code fence", "```\n<!-- c\n```\n\n*b*", "<pre><code>&lt;!-- c\n</code></pre>\n<p><em>b</em></p>\n"},
      {"inline, not a block", "see <!-- this\n\n*b*", "<p>see &lt;!-- this</p>\n<p><em>b</em></p>\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(MarkdownToHtml(c.Markdown), c.Html) << c.Name;

  // Thousands of openers: nothing is lost, and it does not take long to find out.
  std::string many;
  for (int i = 0; i < 5000; ++i) many += "<!--\n";
  const std::string html = MarkdownToHtml(many + "last words");
  EXPECT_NE(html.find("last words"), std::string::npos);
  EXPECT_EQ(html.find("raw HTML omitted"), std::string::npos);

  // The bubble of a live, streamed or reopened answer is made from this conversion.
  const std::string bubble = RenderModelMessage("Intro\n\n<!-- draft\n\n## Part two\n\nbody", "m", 0, -1, "");
  EXPECT_NE(bubble.find("<h2>Part two</h2>\n<p>body</p>"), std::string::npos) << bubble;
}

TEST(MarkdownTest, RemotePicturesBecomeLinksOnlyWhenAsked) {
  const struct {
    const char* Name;
    std::string Markdown;
    std::string Html;
  } cases[] = {
      {"remote picture with words", "![x](https://tracker.example/p.png?q=secret)",
       "<p><a href=\"https://tracker.example/p.png?q=secret\">x</a></p>\n"},
      {"no words: the address is the link's text, the title stays", "![](http://e.example/x.png \"t\")",
       "<p><a href=\"http://e.example/x.png\" title=\"t\">http://e.example/x.png</a></p>\n"},
      {"relative address", "![*a*](p.png)", "<p><a href=\"p.png\"><em>a</em></a></p>\n"},
      {"a picture inside a link", "[![x](https://e.example/p.png)](https://e.example)",
       "<p><a href=\"https://e.example\"><a href=\"https://e.example/p.png\">x</a></a></p>\n"},
      {"a data: picture stays", "![d](data:image/png;base64,AAAA)",
       "<p><img src=\"data:image/png;base64,AAAA\" alt=\"d\" /></p>\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MarkdownToHtml(c.Markdown, TMarkdownOptions{.RemotePicturesAsLinks = true}), c.Html) << c.Name;
    EXPECT_NE(MarkdownToHtml(c.Markdown).find("<img"), std::string::npos) << c.Name << ": the chat pane keeps its pictures";
  }
}

TEST(HistoryItemTest, StoredTurns) {
  THistoryItem user{"user",
                    {{TPartType::ptText, "a<", "", {}, ""},
                     {TPartType::ptInlineData, "", "application/pdf", TSharedText("AA=="), "/docs/z.pdf"},
                     {TPartType::ptText, "b", "", {}, ""},
                     {TPartType::ptInlineData, "", "image/png", TSharedText("AA=="), ""}},
                    3, kTime, "", ""};
  EXPECT_EQ(RenderHistoryItem(user), UserHead("", kSpan) + "a&lt;b</p>" + kAttachHead +
                                         "<li>z.pdf</li><li>image/png</li></ul></div>"
                                         "<div class=\"message-footer\" id=\"footer_\">" + kTokens + "3</div>  </div></div>");

  THistoryItem model{"model", {{TPartType::ptText, "*hi*", "", {}, ""}, {TPartType::ptText, "ignored", "", {}, ""}},
                     4, kTime, "gemini-x", "61"};
  EXPECT_EQ(RenderHistoryItem(model), ModelHead("Gemini-x", kSpan) + "<p><em>hi</em></p>\n<div class=\"message-footer\">" +
                                          kTimeLabel + "1" + kMin + "1" + kSec + " | " + kTokens + "4</div></div></div>");

  THistoryItem empty{"model", {}, -1, 0, "", ""};
  EXPECT_EQ(RenderHistoryItem(empty), ModelHead("Gemini", "") + "</div></div>");

  for (const char* role : {"system", "User", ""}) {
    THistoryItem other{role, {{TPartType::ptText, "x", "", {}, ""}}, 1, kTime, "", ""};
    EXPECT_EQ(RenderHistoryItem(other), "") << "role '" << role << "'";
  }
}

}  // namespace
}  // namespace tarvok
