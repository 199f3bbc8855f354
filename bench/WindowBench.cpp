// What the window costs a user: the context-token label with 16 attachments (big JPEG and
// PNG pictures, PDFs, text files) beside reading the picture headers and the text files
// alone; and, as whole processes timed by scripts/bench, the start-up with a chat folder
// until the window is shown and its page ready ("WindowBench --startup DIR") beside a bare
// Qt WebEngine window showing an empty page ("WindowBench --bare-page").
//
// TARVOK_BENCH_DATA names the folder for the generated attachments (else the temporary folder).
#include <benchmark/benchmark.h>
#include <stb/stb_image.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QImage>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QWebEngineView>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>

#include "BigHistory.h"
#include "NoDialogs.h"
#include "app/Dialogs.h"
#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "app/QtMainThread.h"
#include "app/WebChatPage.h"
#include "cli/ConsoleRunner.h"
#include "core/Files.h"
#include "core/GeminiDM.h"
#include "core/LoopMainThread.h"

namespace tarvok::bench {
namespace {

namespace fs = std::filesystem;

void PrepareEngine() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  if (!flags.contains("--no-sandbox")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + " --no-sandbox --disable-gpu");
}

QApplication& App() {
  static int argc = 1;
  static char name[] = "WindowBench";
  static char* argv[] = {name, nullptr};
  PrepareEngine();
  static QApplication app(argc, argv);
  return app;
}

fs::path DataDir() {
  const char* data = std::getenv("TARVOK_BENCH_DATA");
  return data && *data ? PathFromUtf8(data) : TempDir();
}

bool IsPicture(const std::string& APath) { return APath.ends_with(".jpg") || APath.ends_with(".png"); }
bool IsText(const std::string& APath) { return APath.ends_with(".txt") || APath.ends_with(".cpp"); }

// Four of each kind, made once and kept: photographs of 24 megapixels as JPEG and PNG,
// PDFs of 20 MB, and text files of 256 KB in Russian and code.
std::vector<std::string> Attachments() {
  const fs::path dir = DataDir() / "tarvok-window-bench-attachments";
  std::vector<std::string> files;
  for (int i = 0; i < 4; ++i)
    for (const char* name : {"photo_%d.jpg", "scan_%d.png", "report_%d.pdf", "notes_%d.txt"}) {
      char buf[64];
      std::snprintf(buf, sizeof buf, name, i);
      files.push_back(PathToUtf8(dir / buf));
    }
  if (fs::exists(dir / "ready")) return files;
  fs::remove_all(dir);
  fs::create_directories(dir);
  QImage picture(6000, 4000, QImage::Format_RGB32);
  QPainter painter(&picture);
  painter.fillRect(picture.rect(), QLinearGradient(0, 0, 6000, 4000));
  for (int k = 0; k < 2000; ++k) painter.fillRect((k * 7919) % 6000, (k * 104729) % 4000, 60, 40, QColor::fromRgb(k * 2654435761u));
  painter.end();
  std::string text;
  while (text.size() < 256 * 1024) text += "Привет! Это заметки к проекту: int main() { return 0; } — и ещё строка.\r\n";
  for (const std::string& f : files) {
    if (f.ends_with(".jpg")) picture.save(QString::fromStdString(f), "JPEG", 90);
    else if (f.ends_with(".png")) picture.save(QString::fromStdString(f), "PNG", 1);
    else if (f.ends_with(".pdf")) WriteFileAtomic(PathFromUtf8(f), "%PDF-1.7\n" + RandomBytes(20'000'000, 7));
    else WriteFileAtomic(PathFromUtf8(f), text);
  }
  WriteFileAtomic(dir / "ready", "");
  return files;
}

void BM_UpdateContextTokensLabel(benchmark::State& AState) {
  App();
  const std::vector<std::string> files = Attachments();
  TScratchDir dir("tarvok-window-bench");
  SetProgramDir(dir.Path());
  TLoopMainThread loop;
  TGeminiDM dm(loop);
  NoDialogs dialogs;
  TForm1 form(dm, dialogs, std::make_unique<WebChatPage>());
  form.memoPrompt->setPlainText(QStringLiteral("Сравни эти файлы"));
  form.FlbFiles1 = files;
  for (auto _ : AState) form.UpdateContextTokensLabel();
  SetProgramDir({});
}
BENCHMARK(BM_UpdateContextTokensLabel)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference: the picture headers read by the decoder and the text files read whole.
void BM_ReadHeadersAndTexts(benchmark::State& AState) {
  const std::vector<std::string> files = Attachments();
  for (auto _ : AState) {
    std::size_t seen = 0;
    for (const std::string& f : files) {
      if (IsPicture(f)) {
        int w = 0, h = 0, c = 0;
        if (stbi_info(f.c_str(), &w, &h, &c)) seen += static_cast<std::size_t>(w);
      } else if (IsText(f)) {
        std::ifstream in(f, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        seen += text.size();
      }
    }
    benchmark::DoNotOptimize(seen);
  }
}
BENCHMARK(BM_ReadHeadersAndTexts)->Unit(benchmark::kMillisecond)->UseRealTime();

bool WaitFor(const std::function<bool()>& ACondition) {
  const QDeadlineTimer deadline(120000);
  while (!ACondition() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  return ACondition();
}

// The program's own start-up, as main() does it, in the program folder ADir. Leaves the
// process at once when the window is shown and its page ready: the time is the process's.
int Startup(const char* ADir) {
  ResetChildSignal();
  PrepareEngine();
  int argc = 1;
  char name[] = "WindowBench";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  SetProgramDir(PathFromUtf8(ADir));
  std::error_code ec;
  fs::current_path(PathFromUtf8(ADir), ec);
  auto* mainThread = new TQtMainThread;
  TQtDialogs dialogs;
  TGeminiDM dm(*mainThread);
  auto page = std::make_unique<WebChatPage>();
  WebChatPage* pagePtr = page.get();
  TForm1 form(dm, dialogs, std::move(page));
  form.show();
  const bool ready = WaitFor([&] { return form.isVisible() && form.ListBox2->count() > 0 && pagePtr->IsIdle(); });
  std::printf("%s chats %d\n", ready ? "ready" : "not ready", form.ListBox2->count() - 1);
  std::fflush(stdout);
  std::_Exit(ready ? 0 : 1);
}

int BarePage() {
  PrepareEngine();
  int argc = 1;
  char name[] = "WindowBench";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  QWebEngineView view;
  bool loaded = false;
  QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
  view.setHtml(QStringLiteral("<!DOCTYPE html><html><body></body></html>"));
  view.show();
  const bool ready = WaitFor([&] { return loaded && view.isVisible(); });
  std::printf("%s\n", ready ? "ready" : "not ready");
  std::fflush(stdout);
  std::_Exit(ready ? 0 : 1);
}

}  // namespace
}  // namespace tarvok::bench

int main(int argc, char** argv) {
  if (argc == 3 && std::string_view(argv[1]) == "--startup") return tarvok::bench::Startup(argv[2]);
  if (argc == 2 && std::string_view(argv[1]) == "--bare-page") return tarvok::bench::BarePage();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // The browser engine's threads do not outlive a static QApplication gracefully; the
  // results are written, so the process ends here.
  std::fflush(stdout);
  std::_Exit(0);
}
