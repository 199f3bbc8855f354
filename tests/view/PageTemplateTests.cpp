// The page template's frame and the scripts the window runs in it.
#include <gtest/gtest.h>

#include <string>

#include "view/PageTemplate.h"

namespace tarvok {
namespace {

const std::string kTokens = "Токены: ";
const std::string kErrorText = " (Ошибка отправки)";
const std::string kFolderRule = ".attachments ul { margin: 5px 0 0 0; padding-left: 20px; list-style-type: \"📁\"; }";

TEST(PageTemplateTest, OneEmptyContainerAfterTheHead) {
  const std::string& html = BaseHtmlTemplate();
  EXPECT_EQ(html.rfind("<!DOCTYPE html><html lang=\"ru\"><head><meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\">"
                       "<meta charset=\"UTF-8\"><style>body { font-family: Segoe UI, sans-serif;", 0),
            0u);
  EXPECT_TRUE(html.ends_with("}</script></head><body><div id=\"chat-container\"></div></body></html>")) << html;
  EXPECT_EQ(html.find("\n"), std::string::npos);
  EXPECT_NE(html.find(kFolderRule), std::string::npos);
  for (const char* fn : {"function copyCode(btn)", "function downloadCode(btn)", "function autoScrollToBottom()"})
    EXPECT_NE(html.find(fn), std::string::npos) << fn;
}

TEST(PageTemplateTest, SaveCommandRecognisedInAnyCase) {
  const struct {
    const char* Title;
    bool Expected;
  } cases[] = {
      {"COMMAND:SAVE_CODE:0.123", true},
      {"command:save_code:0.5", true},
      {"COMMAND:SAVE_CODE:", true},
      {"about:blank", false},
      {" COMMAND:SAVE_CODE:1", false},
      {"COMMAND:SAVE_COD", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSaveCodeCommand(c.Title), c.Expected) << c.Title;
}

TEST(PageScriptsTest, TokenFooterScript) {
  EXPECT_EQ(UpdateMessageTokensScript("msg_1", 42),
            "var footer = document.getElementById(\"footer_msg_1\"); if (footer) { footer.innerHTML = \"" + kTokens +
                "42\"; } else { var msg = document.getElementById(\"msg_1\"); if (msg) { var fdiv = "
                "document.createElement(\"div\"); fdiv.className = \"message-footer\"; fdiv.id = \"footer_msg_1\"; "
                "fdiv.innerHTML = \"" + kTokens + "42\"; var content = msg.getElementsByClassName(\"message-content\")[0]; "
                "if (content) content.appendChild(fdiv); } }");
  EXPECT_EQ(UpdateMessageTokensScript("", 42), "");
  // An id can never end the script's string literal.
  EXPECT_NE(UpdateMessageTokensScript("a\"); alert(1); (\"", 1).find("a\\\"); alert(1); (\\\""), std::string::npos);
}

TEST(PageScriptsTest, SendErrorScript) {
  EXPECT_EQ(MarkMessageSendErrorScript("msg_1"),
            "var el = document.getElementById(\"msg_1\");if (el) {  el.style.border = \"2px solid #D32F2F\";"
            "  var header = el.querySelector(\".message-header\");  if (header) {"
            "    var errorSpan = document.createElement(\"span\");    errorSpan.innerText = \"" + kErrorText + "\";"
            "    errorSpan.style.color = \"#D32F2F\";    errorSpan.style.fontWeight = \"bold\";"
            "    errorSpan.style.marginLeft = \"10px\";    header.appendChild(errorSpan);  }}");
  EXPECT_EQ(MarkMessageSendErrorScript(""), "");
}

TEST(PageScriptsTest, JsStringBodyEscapes) {
  EXPECT_EQ(JsStringBody("a\"b'c\\d\ne\rf\t<\x01>\xE2\x80\xA8z"), "a\\\"b\\'c\\\\d\\ne\\rf\\t\\x3c\\x01\\x3e\\u2028z");
  EXPECT_EQ(JsStringBody(kTokens), kTokens);
}

}  // namespace
}  // namespace tarvok
