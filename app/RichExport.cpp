#include "app/RichExport.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <QVariant>
#include <algorithm>

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
    "var copy=c.cloneNode(true);"
    "copy.querySelectorAll('button,script').forEach(function(b){b.remove();});return copy.innerHTML;})()";

// Lets the engine work for AMs (events processed meanwhile).
void Pause(int AMs) {
  QEventLoop loop;
  QTimer::singleShot(AMs, &loop, &QEventLoop::quit);
  loop.exec();
}

// The script's value in AEngine, or an invalid value when it did not answer before ADeadline.
QVariant Evaluate(WebChatPage& AEngine, const char* AScript, const QDeadlineTimer& ADeadline) {
  QEventLoop loop;
  bool finished = false;
  QVariant value;
  AEngine.EvaluateScript(AScript, [&](const QVariant& AValue) {
    value = AValue;
    finished = true;
    loop.quit();
  });
  QTimer::singleShot(std::max<qint64>(0, ADeadline.remainingTime()), &loop, &QEventLoop::quit);
  if (!finished) loop.exec();
  return finished ? value : QVariant();
}

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
    const QDeadlineTimer deadline(kDecorateTimeoutMs);
    bool ready = Evaluate(engine, "!!window.tarvokRich && tarvokRich.decorateAll()", deadline).toBool();
    // Diagrams are drawn asynchronously: wait for the last one.
    while (ready && !deadline.hasExpired()) {
      const QVariant pending = Evaluate(engine, "tarvokRich.diagramsPending()", deadline);
      if (!pending.isValid()) ready = false;
      else if (pending.toInt() == 0) break;
      else Pause(50);
    }
    if (ready && !deadline.hasExpired()) {
      const QVariant value = Evaluate(engine, kDecoratedBubbles, deadline);
      if (value.typeId() == QMetaType::QString) decorated = value.toString();
    }
  }
  if (!decorated.isNull()) page.replace(from, close - from, decorated.toStdString());

  const std::size_t head = page.find("</head>");
  if (head != std::string::npos) page.insert(head, "<style>" + RichPageStyle().toStdString() + "</style>");
  return page;
}

}  // namespace tarvok
