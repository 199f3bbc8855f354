#include "view/PageTemplate.h"

#include <string>
#include <vector>

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

// Buttons under each bubble, added by the page itself (the bubble's own HTML stays as rendered):
// "Копировать ответ" on every model bubble, "Повторить ответ" on the last one and "Изменить
// вопрос" on the question before it. The window tells which stored turn a bubble shows
// (data-turn); a click is taken by the page guard, which passes only the user's own clicks on.
constexpr const char* kBubbleActionRules[] = {
    ".bubble-actions { text-align: right; margin-top: 6px; }",
    ".bubble-action { background-color: transparent; color: #666; border: 1px solid #ccc; border-radius: 5px; padding: 0 7px; margin-left: 4px; cursor: pointer; font-size: 0.8em; }",
    ".bubble-action:hover { background-color: #eee; color: #212121; }",
    ".bubble-action.answer-again-btn, .bubble-action.edit-question-btn { display: none; }",
    ".last-exchange .bubble-action.answer-again-btn, .last-exchange .bubble-action.edit-question-btn { display: inline-block; }"
};

constexpr const char* kBubbleActionScript =
    " function addBubbleActions(w) {"
    " if (!w.hasAttribute(\"data-turn\")) return;"
    " for (var i = 0; i < w.children.length; i++) if (w.children[i].className === \"bubble-actions\") return;"
    " var model = w.classList.contains(\"model-message\");"
    " var defs = model ? [[\"copy\", \"answer-copy-btn\", \"Копировать ответ\", \"⧉\"],"
    " [\"again\", \"answer-again-btn\", \"Повторить ответ\", \"↻\"]]"
    " : [[\"edit\", \"edit-question-btn\", \"Изменить вопрос\", \"✎\"]];"
    " if (w.getAttribute(\"data-kind\") === \"image\") defs.shift();"
    " var bar = document.createElement(\"div\"); bar.className = \"bubble-actions\";"
    " defs.forEach(function (d) {"
    " var b = document.createElement(\"button\"); b.type = \"button\";"
    " b.className = \"bubble-action \" + d[1]; b.setAttribute(\"data-action\", d[0]);"
    " b.title = d[2]; b.textContent = d[3]; bar.appendChild(b);"
    " });"
    " w.appendChild(bar);"
    " }"
    " function decorateBubbles() {"
    " var c = document.getElementById(\"chat-container\"); if (!c) return;"
    " var tagged = c.querySelectorAll(\".message-wrapper[data-turn]\");"
    " var last = null, lastTurn = -1;"
    " for (var i = 0; i < tagged.length; i++) {"
    " addBubbleActions(tagged[i]); tagged[i].classList.remove(\"last-exchange\");"
    " var t = parseInt(tagged[i].getAttribute(\"data-turn\"), 10);"
    " if (t > lastTurn) { lastTurn = t; last = tagged[i]; }"
    " }"
    " if (!last || !last.classList.contains(\"model-message\")) return;"
    " last.classList.add(\"last-exchange\");"
    " var q = c.querySelector(\".user-message[data-turn=\\\"\" + (lastTurn - 1) + \"\\\"]\");"
    " if (q) q.classList.add(\"last-exchange\");"
    " }";

std::string BuildTemplate() {
  std::string html =
      "<!DOCTYPE html><html lang=\"ru\"><head>"
      "<meta http-equiv=\"X-UA-Compatible\" content=\"IE=edge\"><meta charset=\"UTF-8\"><style>";
  for (const char* rule : kStyleRules) {
    html += rule;
    html += ' ';
  }
  for (const char* rule : kBubbleActionRules) {
    html += rule;
    html += ' ';
  }
  html.pop_back();
  html += "</style><script>";
  html += kScript;
  html += kBubbleActionScript;
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

// --- the stored turns the bubbles show, for the per-bubble buttons ---

std::string TagShownTurnsScript(const std::vector<TShownTurn>& ATurns) {
  std::string turns, images;
  for (const TShownTurn& t : ATurns) {
    turns += (turns.empty() ? "" : ",") + std::to_string(t.Turn);
    images += images.empty() ? "" : ",";
    images += t.Image ? "1" : "0";
  }
  return "(function(){var c=document.getElementById(\"chat-container\");if(!c)return;"
         "var w=c.querySelectorAll(\".message-wrapper\");var t=[" + turns + "],k=[" + images + "];"
         "for(var i=0;i<w.length&&i<t.length;i++){w[i].setAttribute(\"data-turn\",t[i]);"
         "if(k[i])w[i].setAttribute(\"data-kind\",\"image\");}"
         "if(typeof decorateBubbles===\"function\")decorateBubbles();})();";
}

std::string TagExchangeScript(std::string_view AUserId, int AUserTurn, int AModelTurn, bool AImage) {
  return "(function(){var c=document.getElementById(\"chat-container\");if(!c)return;"
         "var u=document.getElementById(\"" + JsStringBody(AUserId) + "\");"
         "if(u)u.setAttribute(\"data-turn\"," + std::to_string(AUserTurn) + ");"
         "var m=c.querySelectorAll(\".model-message\");m=m[m.length-1];"
         "if(m){m.setAttribute(\"data-turn\"," + std::to_string(AModelTurn) + ");" +
         (AImage ? "m.setAttribute(\"data-kind\",\"image\");" : "") +
         "}if(typeof decorateBubbles===\"function\")decorateBubbles();})();";
}

std::string RemoveBubblesFromTurnScript(int ATurn) {
  return "(function(){var c=document.getElementById(\"chat-container\");if(!c)return;"
         "var b=c.querySelector(\".message-wrapper[data-turn=\\\"" + std::to_string(ATurn) + "\\\"]\");"
         "while(b){var n=b.nextElementSibling;c.removeChild(b);b=n;}"
         "if(typeof decorateBubbles===\"function\")decorateBubbles();})();";
}

}  // namespace tarvok
