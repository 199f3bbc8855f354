#include "view/StreamRender.h"

#include "view/MessageRender.h"
#include "view/PageTemplate.h"

namespace tarvok {

std::string WithBubbleId(std::string_view ABubbleHtml, std::string_view AId) {
  std::string html(ABubbleHtml);
  if (html.starts_with("<div")) html.insert(4, " id=\"" + EscapeHtml(AId) + "\"");
  return html;
}

std::string WithStoppedNote(std::string_view ABubbleHtml) {
  std::string html(ABubbleHtml);
  constexpr std::string_view kFooter = "<div class=\"message-footer\">";
  // The model bubble ends with its footer (when it has one), then the content and wrapper ends.
  constexpr std::string_view kEnd = "</div></div>";
  if (!html.ends_with(kEnd)) return html;
  const std::size_t end = html.size() - kEnd.size();
  const std::size_t footer = html.rfind(kFooter);
  if (footer != std::string::npos && html.compare(end - 6, 6, "</div>") == 0 && footer + kFooter.size() <= end - 6 &&
      html.find("<div", footer + kFooter.size()) == std::string::npos)
    html.insert(end - 6, std::string(" | ") + kStoppedNote);
  else
    html.insert(end, std::string(kFooter) + kStoppedNote + "</div>");
  return html;
}

std::string ReplaceBubbleScript(std::string_view AId, std::string_view AHtml) {
  if (AId.empty()) return {};
  return "(function(){var h=\"" + JsStringBody(AHtml) + "\",el=document.getElementById(\"" + JsStringBody(AId) +
         "\");if(el){el.outerHTML=h;}else{var c=document.getElementById(\"chat-container\");"
         "if(c)c.insertAdjacentHTML(\"beforeend\",h);}})();";
}

std::string ReplaceBubbleKeepingThoughtsScript(std::string_view AId, std::string_view AHtml) {
  if (AId.empty()) return {};
  // The finished bubble has no id: the new element is found by its place.
  return "(function(){var h=\"" + JsStringBody(AHtml) + "\",el=document.getElementById(\"" + JsStringBody(AId) +
         "\");if(el){var d=el.querySelector(\"details.thoughts\"),o=d&&d.open,p=el.parentNode,"
         "b=el.previousElementSibling;el.outerHTML=h;if(o){var n=b?b.nextElementSibling:p.firstElementChild,"
         "e=n&&n.querySelector(\"details.thoughts\");if(e)e.open=true;}}else{"
         "var c=document.getElementById(\"chat-container\");if(c)c.insertAdjacentHTML(\"beforeend\",h);}})();";
}

}  // namespace tarvok
