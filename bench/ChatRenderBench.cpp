// Rebuilding a stored chat: the bubbles' HTML alone (it should grow linearly with the
// number of turns), and opening a 1,000-turn chat in the real browser engine (offscreen)
// until the page holds every bubble, beside the reference: the same final document loaded
// as one page in the same engine. And opening a chat whose answers each hold a code block
// and formulas until the bubbles in view are decorated, beside the same chat with the
// decoration off.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QWebEnginePage>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "BigHistory.h"
#include "LongChat.h"
#include "NoDialogs.h"
#include "app/ChatView.h"
#include "app/WebChatPage.h"
#include "core/Files.h"
#include "view/MessageRender.h"

namespace tarvok {
namespace {

TChatHistory MakeChat(int ATurns) { return bench::MakeLongChat(ATurns); }

void BM_RenderHistoryHtml(benchmark::State& AState) {
  const TChatHistory history = MakeChat(static_cast<int>(AState.range(0)));
  for (auto _ : AState) {
    std::size_t bytes = 0;
    for (const THistoryItem& item : history) bytes += RenderHistoryItem(item).size();
    benchmark::DoNotOptimize(bytes);
  }
  AState.SetComplexityN(AState.range(0));
}
BENCHMARK(BM_RenderHistoryHtml)->RangeMultiplier(2)->Range(250, 2000)->Complexity(benchmark::oN);

QApplication& App() {
  static int argc = 1;
  static char name[] = "ChatRenderBench";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  if (!flags.contains("--no-sandbox")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + " --no-sandbox --disable-gpu");
  static QApplication app(argc, argv);
  return app;
}

constexpr int kEngineTurns = 1000;
const char kCountBubbles[] = "document.querySelectorAll('.message-wrapper').length";

bool WaitFor(const bool& ADone) {
  const QDeadlineTimer deadline(600000);
  while (!ADone && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  return ADone;
}

// Rebuilds the chat in APage and waits until every bubble is in the document.
bool Rebuild(WebChatPage& APage, TChatView& AView, const TChatHistory& AHistory) {
  AView.ResetChatView();
  AView.RenderChatHistory(AHistory);
  bool done = false;
  APage.EvaluateScript(kCountBubbles, [&](const QVariant& AValue) { done = AValue.toInt() == static_cast<int>(AHistory.size()); });
  return WaitFor(done);
}

void BM_RebuildChatInEngine(benchmark::State& AState) {
  App();
  const TChatHistory history = MakeChat(kEngineTurns);
  WebChatPage page;
  NoDialogs dialogs;
  TChatView view(page, dialogs);
  for (auto _ : AState)
    if (!Rebuild(page, view, history)) AState.SkipWithError("the page did not finish");
}
BENCHMARK(BM_RebuildChatInEngine)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference: the document the rebuild ends with, loaded as one page into a page
// like the program's.
void BM_LoadFinalHtmlInEngine(benchmark::State& AState) {
  App();
  const TChatHistory history = MakeChat(kEngineTurns);
  QString html;
  {
    WebChatPage page;
    NoDialogs dialogs;
    TChatView view(page, dialogs);
    bool done = false;
    if (Rebuild(page, view, history))
      page.EvaluateScript("document.documentElement.outerHTML", [&](const QVariant& AValue) {
        html = "<!DOCTYPE html>" + AValue.toString();
        done = true;
      });
    if (!WaitFor(done)) {
      AState.SkipWithError("the page did not finish");
      return;
    }
  }
  // From a file: setHtml takes no more than 2 MB once encoded, which the 1,000-turn chat's
  // document (1.65 MB) exceeds, and an over-long one loads as an empty page.
  bench::TScratchDir dir("tarvok-render-bench");
  const std::filesystem::path file = dir.Path() / "chat.html";
  WriteFileAtomic(file, html.toStdString());
  const QString path = QString::fromStdString(PathToUtf8(file));
  WebChatPage chatPage;  // the same profile, settings and request blocking as the program's page
  for (auto _ : AState) {
    chatPage.ShowLocalFile(path);
    bool done = false;
    chatPage.EvaluateScript(kCountBubbles, [&](const QVariant& AValue) { done = AValue.toInt() == static_cast<int>(history.size()); });
    if (!WaitFor(done)) {
      AState.SkipWithError("the page did not load");
      break;
    }
    // The next pass starts from an empty page, off the clock.
    AState.PauseTiming();
    chatPage.ResetChatView();
    bool blank = false;
    chatPage.EvaluateScript("1", [&](const QVariant&) { blank = true; });
    WaitFor(blank);
    AState.ResumeTiming();
  }
}
BENCHMARK(BM_LoadFinalHtmlInEngine)->Unit(benchmark::kMillisecond)->UseRealTime();


TChatHistory MakeRichChat(int ATurns) {
  TChatHistory history;
  for (int i = 0; i < ATurns; ++i) {
    history.push_back({"user", {{TPartType::ptText, "How fast is sort " + std::to_string(i) + "?", "", {}, ""}}, 12,
                       45000.5, "", ""});
    history.push_back({"model",
                       {{TPartType::ptText,
                         "It takes $O(n \\log n)$ comparisons on average:\n\n$$C(n) \\approx 2n \\ln n + " +
                             std::to_string(i) + "$$\n\n```cpp\nint f(int x) {\n  // scaled\n  return x * " +
                             std::to_string(i) + " + 42;\n}\n```\n",
                         "", {}, ""}},
                       80, 45000.5, "gemini-2.5-pro", "7"});
  }
  return history;
}

// The chat in a shown pane (the decoration waits for bubbles to come into view), from a
// reset until every bubble is in the page and a frame has been drawn with them (what the
// reader sees) and, with the decoration on, none in view waits to be decorated.
void OpenRichChat(benchmark::State& AState, bool ADecorated) {
  App();
  // After a view has been shown, the engine's teardown from the static QApplication at
  // exit crashes; the results are written by then, so the program ends before it.
  static const bool kQuickExit = [] {
    std::atexit([] {
      std::fflush(nullptr);
      std::_Exit(0);
    });
    return true;
  }();
  (void)kQuickExit;
  const TChatHistory history = MakeRichChat(kEngineTurns);
  WebChatPage page;
  page.SetRichAnswers(ADecorated);
  page.Widget()->resize(1000, 800);
  page.Widget()->show();
  NoDialogs dialogs;
  TChatView view(page, dialogs);
  // Asks for a frame once every bubble is in; true once one has been drawn since.
  const std::string settled =
      "(function(){if (" + std::string(kCountBubbles) + " !== " + std::to_string(history.size()) + ") return false;"
      "if (window.__framed === undefined) { window.__framed = false;"
      " requestAnimationFrame(function () { setTimeout(function () { window.__framed = true; }, 0); }); }"
      "return window.__framed" +
      (ADecorated ? std::string(" && !!window.tarvokRich && tarvokRich.visibleWaiting() === 0 && "
                                "document.querySelectorAll('.math .katex').length > 0")
                  : std::string()) +
      ";})()";
  for (auto _ : AState) {
    view.ResetChatView();
    view.RenderChatHistory(history);
    bool done = false;
    const QDeadlineTimer deadline(600000);
    while (!done && !deadline.hasExpired()) {
      bool answered = false;
      page.EvaluateScript(settled, [&](const QVariant& AValue) {
        done = AValue.toBool();
        answered = true;
      });
      WaitFor(answered);
    }
    if (!done) AState.SkipWithError("the page did not finish");
  }
}
void BM_OpenRichChatDecorated(benchmark::State& AState) { OpenRichChat(AState, true); }
void BM_OpenRichChatPlain(benchmark::State& AState) { OpenRichChat(AState, false); }
BENCHMARK(BM_OpenRichChatDecorated)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenRichChatPlain)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tarvok
