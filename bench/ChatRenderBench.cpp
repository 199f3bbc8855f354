// Rebuilding a stored chat: the bubbles' HTML alone, and the whole rebuild in the real
// browser engine (offscreen). Both should grow linearly with the number of turns.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDeadlineTimer>

#include "app/ChatView.h"
#include "app/WebChatPage.h"
#include "view/MessageRender.h"

namespace tarvok {
namespace {

TChatHistory MakeChat(int ATurns) {
  TChatHistory history;
  for (int i = 0; i < ATurns; ++i) {
    history.push_back({"user", {{TPartType::ptText, "Question " + std::to_string(i) + " about a < b\r\nand more", "", {}, ""}},
                       12, 45000.5, "", ""});
    history.push_back({"model",
                       {{TPartType::ptText,
                         "An **answer** with a list:\n\n- one\n- two\n\n```cpp\nint f(int x) { return x * " +
                             std::to_string(i) + "; }\n```\n\n| a | b |\n|---|---|\n| 1 | 2 |\n",
                         "", {}, ""}},
                       80, 45000.5, "gemini-2.5-pro", "7"});
  }
  return history;
}

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

class NoDialogs : public Dialogs {
 public:
  void ShowMessage(const QString&) override {}
  void ShowError(const QString&) override {}
  bool AskYesNo(const QString&, const QString&, Icon) override { return false; }
  bool InputQuery(const QString&, const QString&, QString&) override { return false; }
  QStringList OpenFiles(const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFile(const QString&, const QString&, const QString&, const QString&, const QString&) override { return {}; }
};

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

void BM_RebuildChatInEngine(benchmark::State& AState) {
  App();
  const TChatHistory history = MakeChat(static_cast<int>(AState.range(0)));
  WebChatPage page;
  NoDialogs dialogs;
  TChatView view(page, dialogs);
  for (auto _ : AState) {
    view.ResetChatView();
    view.RenderChatHistory(history);
    bool done = false;
    page.EvaluateScript("document.querySelectorAll('.message-wrapper').length", [&](const QVariant& AValue) {
      done = AValue.toInt() == static_cast<int>(history.size());
    });
    const QDeadlineTimer deadline(600000);
    while (!done && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (!done) AState.SkipWithError("the page did not finish");
  }
  AState.SetComplexityN(AState.range(0));
}
BENCHMARK(BM_RebuildChatInEngine)->RangeMultiplier(2)->Range(250, 1000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tarvok
