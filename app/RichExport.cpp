#include "app/RichExport.h"

#include <QEventLoop>
#include <QTimer>
#include <QVariant>

#include "app/RichLibraries.h"
#include "app/WebChatPage.h"

namespace tarvok {
namespace {

constexpr std::string_view kContainer = "<div id=\"chat-container\">";
constexpr std::string_view kPageEnd = "</div></body></html>";
constexpr int kDecorateTimeoutMs = 60000;

// Everything in the container, decorated, without buttons (they need a script the exported
// page does not have).
constexpr const char* kDecoratedBubbles =
    "(function(){var c=document.getElementById('chat-container');if(!c||!window.tarvokRich)return null;"
    "tarvokRich.decorateAll();var copy=c.cloneNode(true);"
    "copy.querySelectorAll('button,script').forEach(function(b){b.remove();});return copy.innerHTML;})()";

}  // namespace

std::string WithDecoratedAnswers(const std::string& APage) {
  std::string page = APage;
  const std::size_t open = page.find(kContainer);
  const std::size_t close = page.rfind(kPageEnd);
  if (open == std::string::npos || close == std::string::npos || close < open + kContainer.size()) return page;
  const std::size_t from = open + kContainer.size();

  QString decorated;
  {
    WebChatPage engine;
    engine.AppendChatHtml(page.substr(from, close - from));
    QEventLoop loop;
    bool finished = false;
    engine.EvaluateScript(kDecoratedBubbles, [&](const QVariant& AValue) {
      if (AValue.typeId() == QMetaType::QString) decorated = AValue.toString();
      finished = true;
      loop.quit();
    });
    QTimer::singleShot(kDecorateTimeoutMs, &loop, &QEventLoop::quit);
    if (!finished) loop.exec();
  }
  if (!decorated.isNull()) page.replace(from, close - from, decorated.toStdString());

  const std::size_t head = page.find("</head>");
  if (head != std::string::npos) page.insert(head, "<style>" + RichPageStyle().toStdString() + "</style>");
  return page;
}

}  // namespace tarvok
