// A chat written out as Markdown (pictures beside it) or as one page without scripts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/DateTime.h"
#include "view/ChatExport.h"

namespace tarvok {
namespace {

const TDateTime kTime = EncodeDateTime({2025, 3, 14, 9, 30, 15, 0});

TContentPart Text(const std::string& AText) { return {TPartType::ptText, AText, {}, {}, {}}; }
TContentPart Data(const std::string& AMime, const std::string& ABase64, const std::string& AFile = {}) {
  return {TPartType::ptInlineData, {}, AMime, ABase64, AFile};
}
THistoryItem Turn(const std::string& ARole, TContentParts AParts, TDateTime ATime = kTime,
                  const std::string& AModel = {}) {
  THistoryItem item;
  item.Role = ARole;
  item.Parts = std::move(AParts);
  item.Timestamp = ATime;
  item.ModelName = AModel;
  item.TokenCount = 7;
  return item;
}

TEST(ChatExport, MarkdownHeadingsTextAndPicturesBesideTheFile) {
  struct {
    const char* Name;
    TChatHistory History;
    std::string Text;
    std::vector<std::string> PictureNames;
  } cases[] = {
      {"a text exchange: role, model and time in the headings, the answer's Markdown as it came",
       {Turn("user", {Text("Привет?")}), Turn("model", {Text("**Да**\n\n```\nx\n```")}, kTime, "gemini-2.5-flash")},
       "## 👤 Пользователь — 09:30:15 - 14.03.2025\n\nПривет?\n\n"
       "## 🤖 Gemini-2.5-flash — 09:30:15 - 14.03.2025\n\n**Да**\n\n```\nx\n```\n\n",
       {}},
      {"no time and no model name: the heading says Gemini and nothing more",
       {Turn("model", {Text("ok")}, 0)},
       "## 🤖 Gemini\n\nok\n\n",
       {}},
      {"an image answer and an attached picture become numbered files; other files are listed",
       {Turn("user", {Text("see"), Data("image/jpeg", "AAAA", "/home/u/a b.jpg"), Data("application/pdf", "AAAA", "/x/doc.pdf")}),
        Turn("model", {Data("image/png", "iVBO")}, kTime, "")},
       "## 👤 Пользователь — 09:30:15 - 14.03.2025\n\nsee\n\n![my chat_01.jpg](<my chat_01.jpg>)\n\n"
       "Прикрепленные файлы:\n\n- doc.pdf\n\n"
       "## 🤖 Gemini (Image) — 09:30:15 - 14.03.2025\n\n![my chat_02.png](<my chat_02.png>)\n\n",
       {"my chat_01.jpg", "my chat_02.png"}},
      {"an odd MIME subtype never reaches the file name; other roles are left out",
       {Turn("model", {Data("image/../x", "AAAA")}, 0, "m"), Turn("system", {Text("hidden")})},
       "## 🤖 M\n\n![my chat_01.bin](<my chat_01.bin>)\n\n",
       {"my chat_01.bin"}},
  };
  for (const auto& c : cases) {
    const TMarkdownExport md = ChatToMarkdown(c.History, "my chat");
    EXPECT_EQ(md.Text, c.Text) << c.Name;
    ASSERT_EQ(md.Pictures.size(), c.PictureNames.size()) << c.Name;
    for (std::size_t i = 0; i < md.Pictures.size(); ++i) EXPECT_EQ(md.Pictures[i].FileName, c.PictureNames[i]) << c.Name;
  }
  const auto md = ChatToMarkdown(cases[2].History, "my chat");
  EXPECT_EQ(md.Pictures[1].MimeType, "image/png");
  EXPECT_EQ(md.Pictures[1].Base64Data, "iVBO");
}

TEST(ChatExport, HtmlIsThePageAsShownWithPicturesInlineAndNoScript) {
  const TChatHistory history = {
      Turn("user", {Text("<script>alert(1)</script> & co")}),
      Turn("model", {Text("Код:\n\n```js\nalert(2)\n```\n\n<script>alert(3)</script><img src=x onerror=alert(4)>")},
           kTime, "gemini-2.5-pro"),
      Turn("model", {Data("image/png", "iVBORw0KGgo=")}),
  };
  const std::string html = ChatToHtml(history, "Мой <чат>");
  for (const char* absent : {"<script", "onclick", "onerror", "copyCode", "downloadCode"})
    EXPECT_EQ(html.find(absent), std::string::npos) << absent;
  for (const char* present :
       {"<!DOCTYPE html>", ".message-wrapper", "<title>Мой &lt;чат&gt;</title>",
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src data:; "
        "style-src 'unsafe-inline'; font-src data:\">",
        "&lt;script&gt;alert(1)&lt;/script&gt; & co", "🤖 Gemini-2.5-pro", "alert(2)", "code-block-container",
        "src=\"data:image/png;base64,iVBORw0KGgo=\"", "09:30:15 - 14.03.2025"})
    EXPECT_NE(html.find(present), std::string::npos) << present;
  EXPECT_LT(html.find("user-message"), html.find("model-message")) << "turns keep their order";
  EXPECT_EQ(html.substr(html.size() - 20), "</div></body></html>");
}

// Opening the page tells nobody what the chat is about: a picture on a remote address (the
// address may carry the chat's words) is a link, and the page's policy loads nothing else.
TEST(ChatExport, HtmlLoadsNothingFromElsewhere) {
  const TChatHistory history = {
      Turn("model", {Text("See ![x](https://tracker.example/p.png?q=secret) and ![](//cdn.example/a.gif)\n\n"
                          "![inline](data:image/png;base64,iVBORw0KGgo=) with $x_1 + y_1$")}),
  };
  const std::string html = ChatToHtml(history, "t");
  EXPECT_EQ(html.find("<img src=\"https:"), std::string::npos) << html;
  EXPECT_EQ(html.find("<img src=\"//"), std::string::npos) << html;
  EXPECT_NE(html.find("<a href=\"https://tracker.example/p.png?q=secret\">x</a>"), std::string::npos);
  EXPECT_NE(html.find("<a href=\"//cdn.example/a.gif\">//cdn.example/a.gif</a>"), std::string::npos);
  EXPECT_NE(html.find("<img src=\"data:image/png;base64,iVBORw0KGgo=\" alt=\"inline\" />"), std::string::npos);
  EXPECT_NE(html.find(std::string("content=\"") + std::string(kExportPolicy) + "\""), std::string::npos);
  EXPECT_NE(html.find("<span class=\"math inline\">\\(x_1 + y_1\\)</span>"), std::string::npos)
      << "formulas are kept as the chat pane keeps them";
}

// An answer that carried thoughts or sources goes through the same converter.
TEST(ChatExport, AnAnswerWithThoughtsLoadsNothingFromElsewhereEither) {
  THistoryItem answer = Turn("model", {Text("See ![x](https://tracker.example/p.png?q=secret)")});
  answer.Thoughts = "Thinking about ![y](https://tracker.example/t.png)";
  const std::string html = ChatToHtml({answer}, "t");
  EXPECT_EQ(html.find("<img src=\"https:"), std::string::npos) << html;
  EXPECT_NE(html.find("<a href=\"https://tracker.example/p.png?q=secret\">x</a>"), std::string::npos) << html;
}

TEST(ChatExport, MarkdownPictureLinksSurviveOddNamesAndNeverTakeAnExistingFile) {
  const TChatHistory history = {Turn("model", {Data("image/png", "iVBO")}, 0), Turn("model", {Data("image/jpeg", "AAAA")}, 0)};
  // A link target a viewer reads as it was written: '#' is no fragment, '%' no escape.
  const TMarkdownExport odd = ChatToMarkdown(history, "C# 100% [v2]?");
  ASSERT_EQ(odd.Pictures.size(), 2u);
  EXPECT_EQ(odd.Pictures[0].FileName, "C# 100% [v2]?_01.png");
  EXPECT_NE(odd.Text.find("![C# 100% \\[v2\\]?_01.png](<C%23 100%25 [v2]%3F_01.png>)"), std::string::npos) << odd.Text;

  // Names already beside the export are skipped, never replaced.
  const std::vector<std::string> existing = {"my chat_01.png", "my chat_03.jpg"};
  const TMarkdownExport free = ChatToMarkdown(history, "my chat", [&](const std::string& AName) {
    return std::find(existing.begin(), existing.end(), AName) != existing.end();
  });
  ASSERT_EQ(free.Pictures.size(), 2u);
  EXPECT_EQ(free.Pictures[0].FileName, "my chat_02.png");
  EXPECT_EQ(free.Pictures[1].FileName, "my chat_04.jpg");
  EXPECT_NE(free.Text.find("(<my chat_02.png>)"), std::string::npos);
  EXPECT_NE(free.Text.find("(<my chat_04.jpg>)"), std::string::npos);
}

}  // namespace
}  // namespace tarvok
