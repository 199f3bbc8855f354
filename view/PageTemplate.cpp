#include "view/PageTemplate.h"

#include <string>

#include "core/Text.h"

namespace tarvok {
namespace {

constexpr const char* kStyleRules[] = {
    "body { font-family: Segoe UI, sans-serif; line-height: 1.6; padding: 16px; color: #212121; background-color: #f5f5f5; font-size: 18px; }",
    ".message-wrapper { max-width: 90%; margin-bottom: 20px; padding: 12px 18px; border-radius: 18px; box-shadow: 0 1px 3px rgba(0,0,0,0.1); }",
    ".user-message { background-color: #e3f2fd; margin-left: auto; border-bottom-right-radius: 4px; }",
    ".model-message { background-color: #ffffff; margin-right: auto; border-bottom-left-radius: 4px; }",
    ".message-header { font-size: 0.9em; margin-bottom: 8px; color: #555; }",
    ".message-header strong { color: #0d47a1; }",
    ".model-message .message-header strong { color: #1565c0; }",
    ".message-header .timestamp { float: right; color: #777; }",
    ".message-content p { margin: 0 0 10px 0; }",
    ".message-content p:last-child { margin-bottom: 0; }",
    ".message-footer { font-size: 0.75em; color: #888; margin-top: 5px; text-align: right; border-top: 1px solid #eee; padding-top: 4px; }",
    ".attachments { margin-top: 10px; font-size: 0.9em; }",
    ".attachments ul { margin: 5px 0 0 0; padding-left: 20px; list-style-type: \"📁\"; }",
    ".attachments li { margin-bottom: 3px; }",
    ".code-block-container { position: relative; margin: 15px 0; }",
    ".code-header { background-color: #007ACC; color: #f5f5f5; padding: 5px 10px; border-top-left-radius: 8px; border-top-right-radius: 8px; font-family: Consolas, monospace; font-size: 0.85em; }",
    ".copy-btn { float: right; background-color: #555; color: white; border: none; padding: 3px 8px; border-radius: 5px; cursor: pointer; font-size: 0.9em; }",
    ".copy-btn:hover { background-color: #777; }",
    ".download-btn { float: right; background-color: #006400; color: white; border: none; padding: 3px 8px; border-radius: 5px; cursor: pointer; font-size: 0.9em; margin-right: 5px; }",
    ".download-btn:hover { background-color: #004d00; }",
    "pre { background-color: #ffffff; color: #2e8b57; padding: 15px; margin: 0; border: 1px solid #ddd; border-bottom-left-radius: 8px; border-bottom-right-radius: 8px; white-space: pre-wrap; word-wrap: break-word; font-family: Consolas, monospace; font-size: 0.95em; }",
    "code { font-family: inherit; }"
};

// copyCode and downloadCode find the code by walking from the button to its code-block
// container (header div, then container) and copy it through a hidden textarea.
constexpr const char* kScript =
    "function copyBlockCode(btn) {"
    " var box = btn.parentNode ? btn.parentNode.parentNode : null;"
    " var pre = box ? box.getElementsByTagName(\"pre\")[0] : null;"
    " if (!pre) return false;"
    " var ta = document.createElement(\"textarea\");"
    " ta.value = pre.innerText;"
    " ta.style.position = \"fixed\"; ta.style.opacity = \"0\";"
    " document.body.appendChild(ta); ta.focus(); ta.select();"
    " try { document.execCommand(\"copy\"); } catch (e) {}"
    " document.body.removeChild(ta);"
    " return true;"
    " }"
    " function copyCode(btn) {"
    " if (!copyBlockCode(btn)) return;"
    " var before = btn.innerText;"
    " btn.innerText = \"" "Скопировано!" "\";"
    " setTimeout(function () { btn.innerText = before; }, 2000);"
    " }"
    " function downloadCode(btn) {"
    " if (!copyBlockCode(btn)) return;"
    " document.title = \"COMMAND:SAVE_CODE:\" + Math.random();"
    " }"
    " function autoScrollToBottom() { window.scrollTo(0, document.body.scrollHeight); }";

std::string BuildTemplate() {
  std::string html =
      "<!DOCTYPE html><html lang=\"ru\"><head>"
      "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\"><meta charset=\"UTF-8\"><style>";
  for (const char* rule : kStyleRules) {
    html += rule;
    html += ' ';
  }
  html.pop_back();
  html += "</style><script>";
  html += kScript;
  html += "</script></head><body><div id=\"chat-container\"></div></body></html>";
  return html;
}

// Fills the placeholders in order: %s takes the next text, %d the number.
std::string FillPlaceholders(std::string_view APattern, std::string_view AText, int ANumber) {
  std::string out;
  const std::string number = std::to_string(ANumber);
  for (std::size_t i = 0; i < APattern.size(); ++i) {
    if (APattern[i] == '%' && i + 1 < APattern.size() && (APattern[i + 1] == 's' || APattern[i + 1] == 'd')) {
      out += APattern[i + 1] == 's' ? AText : std::string_view(number);
      ++i;
    } else {
      out += APattern[i];
    }
  }
  return out;
}

}  // namespace

const std::string& BaseHtmlTemplate() {
  static const std::string kTemplate = BuildTemplate();
  return kTemplate;
}

bool IsSaveCodeCommand(std::string_view ATitle) { return StartsWithNoCase(ATitle, kSaveCodeCommand); }

std::string JsStringBody(std::string_view AText) {
  std::string out;
  out.reserve(AText.size() + AText.size() / 8);
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(AText[i]);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\'': out += "\\'"; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '<': out += "\\x3c"; break;
      case '>': out += "\\x3e"; break;
      default:
        if (c < 0x20) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else if (c == 0xE2 && i + 2 < AText.size() && static_cast<unsigned char>(AText[i + 1]) == 0x80 &&
                   (static_cast<unsigned char>(AText[i + 2]) == 0xA8 || static_cast<unsigned char>(AText[i + 2]) == 0xA9)) {
          // U+2028 and U+2029 end a line inside older script engines' string literals.
          out += static_cast<unsigned char>(AText[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
          i += 2;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string UpdateMessageTokensScript(std::string_view AMessageId, int ATokenCount) {
  if (AMessageId.empty()) return {};
  return FillPlaceholders("var footer = document.getElementById(\"footer_%s\"); if (footer) { footer.innerHTML = \"Токены: %d\"; } else { var msg = document.getElementById(\"%s\"); if (msg) { var fdiv = document.createElement(\"div\"); fdiv.className = \"message-footer\"; fdiv.id = \"footer_%s\"; fdiv.innerHTML = \"Токены: %d\"; var content = msg.getElementsByClassName(\"message-content\")[0]; if (content) content.appendChild(fdiv); } }", JsStringBody(AMessageId), ATokenCount);
}

std::string MarkMessageSendErrorScript(std::string_view AMessageId) {
  if (AMessageId.empty()) return {};
  std::string script = "var el = document.getElementById(\"";
  script += JsStringBody(AMessageId);
  script += "\");"
      "if (el) {"
      "  el.style.border = \"2px solid #D32F2F\";"
      "  var header = el.querySelector(\".message-header\");"
      "  if (header) {"
      "    var errorSpan = document.createElement(\"span\");"
      "    errorSpan.innerText = \" (Ошибка отправки)\";"
      "    errorSpan.style.color = \"#D32F2F\";"
      "    errorSpan.style.fontWeight = \"bold\";"
      "    errorSpan.style.marginLeft = \"10px\";"
      "    header.appendChild(errorSpan);"
      "  }"
      "}";
  return script;
}

}  // namespace tarvok
