// What the running program holds in memory, as whole processes: the proportional set size
// (PSS, from /proc/PID/smaps_rollup) of a process and every process under it, the browser
// engine's zygote, renderer and GPU processes included. Two modes, timed by scripts/bench:
//
//   MemoryBench --program DIR PAGE   the program's start-up in the program folder DIR (its
//       chats/ listed), then the stored 1,000-turn chat opened from the chat list until the
//       page holds every bubble; prints "pss_bytes N" and writes the final page's HTML to
//       PAGE (and the chat pane's size to PAGE.size) for the reference.
//   MemoryBench --bare PAGE          a bare Qt WebEngine window of the chat pane's size
//       showing PAGE; prints "pss_bytes N" measured the same way.
//
// Both wait the same settling time after the page is ready, then measure; the processes
// of each side are listed on stderr. Linux only (/proc).
#include <sys/types.h>
#include <unistd.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QListWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "LongChat.h"
#include "app/ChatLibrary.h"
#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "app/QtMainThread.h"
#include "app/WebChatPage.h"
#include "cli/ConsoleRunner.h"
#include "core/Files.h"
#include "core/GeminiDM.h"
#include "core/Platform.h"
#include "storage/ChatFile.h"

namespace tarvok::bench {
namespace {

namespace fs = std::filesystem;

constexpr int kTurns = 1000;
const char kLongChatName[] = "chat_1000turns_2025-01-02_120000.json";
const char kCountBubbles[] = "document.querySelectorAll('.message-wrapper').length";

void PrepareEngine() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  if (!flags.contains("--no-sandbox")) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags + " --no-sandbox --disable-gpu");
}

bool WaitFor(const std::function<bool()>& ACondition, int AMs = 120000) {
  const QDeadlineTimer deadline(AMs);
  while (!ACondition() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  return ACondition();
}

// The engine keeps working for a while after a load (layout, the first paints, the
// script heap): both sides let it run the same time before they are measured.
void Settle() {
  const QDeadlineTimer deadline(1500);
  while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

std::string ReadSmall(const fs::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The PSS in bytes of the process APid and of every process under it, walking the process
// tree by the parents /proc names; each one is listed on AListing with its anonymous and
// file-backed shares.
std::uint64_t TreePss(pid_t APid, std::string& AListing) {
  std::multimap<pid_t, pid_t> children;
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0]))) continue;
    const std::string stat = ReadSmall(it->path() / "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    long parent = 0;
    if (rest >> state >> parent) children.emplace(static_cast<pid_t>(parent), static_cast<pid_t>(std::stol(name)));
  }
  std::uint64_t total = 0;
  std::vector<pid_t> todo{APid};
  while (!todo.empty()) {
    const pid_t pid = todo.back();
    todo.pop_back();
    const fs::path dir = "/proc/" + std::to_string(pid);
    std::istringstream rollup(ReadSmall(dir / "smaps_rollup"));
    std::uint64_t kb = 0, anonKb = 0, fileKb = 0;
    for (std::string line; std::getline(rollup, line);) {
      if (line.rfind("Pss:", 0) == 0) kb = std::strtoull(line.c_str() + 4, nullptr, 10);
      if (line.rfind("Pss_Anon:", 0) == 0) anonKb = std::strtoull(line.c_str() + 9, nullptr, 10);
      if (line.rfind("Pss_File:", 0) == 0) fileKb = std::strtoull(line.c_str() + 9, nullptr, 10);
    }
    total += kb * 1024;
    std::string cmd = ReadSmall(dir / "cmdline");
    for (char& c : cmd)
      if (c == '\0') c = ' ';
    AListing += std::to_string(pid) + " " + std::to_string(kb / 1024) + " MB (anonymous " + std::to_string(anonKb / 1024) +
                ", files " + std::to_string(fileKb / 1024) + ")  " + cmd.substr(0, 160) + "\n";
    for (auto [it, end] = children.equal_range(pid); it != end; ++it) todo.push_back(it->second);
  }
  return total;
}

void Report(const char* ASide) {
  std::string listing;
  const std::uint64_t pss = TreePss(::getpid(), listing);
  std::fprintf(stderr, "%s processes (pid, PSS, command):\n%s", ASide, listing.c_str());
  std::printf("pss_bytes %llu\n", static_cast<unsigned long long>(pss));
  std::fflush(stdout);
  std::fflush(stderr);
}

// Evaluates AScript in APage until it answers, then hands back its value.
QVariant Evaluate(WebChatPage& APage, const std::string& AScript) {
  QVariant value;
  bool answered = false;
  APage.EvaluateScript(AScript, [&](const QVariant& AValue) {
    value = AValue;
    answered = true;
  });
  WaitFor([&] { return answered; });
  return value;
}

int Program(const char* ADir, const char* APage) {
  ResetChildSignal();
  PrepareEngine();
  const fs::path dir = PathFromUtf8(ADir);
  const std::string pageFile = PathToUtf8(fs::absolute(PathFromUtf8(APage)));  // before the move to DIR
  const fs::path chat = dir / "chats" / kLongChatName;
  if (!fs::exists(chat)) WriteChatFile(PathToUtf8(chat), MakeLongChat(kTurns));
  int argc = 1;
  char name[] = "MemoryBench";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  SetProgramDir(dir);
  std::error_code ec;
  fs::current_path(dir, ec);
  auto* mainThread = new TQtMainThread;
  TQtDialogs dialogs;
  TGeminiDM dm(*mainThread);
  auto page = std::make_unique<WebChatPage>();
  WebChatPage* pagePtr = page.get();
  TForm1 form(dm, dialogs, std::move(page));
  form.show();
  bool ready = WaitFor([&] { return form.isVisible() && form.ListBox2->count() > 0 && pagePtr->IsIdle(); });
  const int chats = form.ListBox2->count() - 1;
  // As the user opens it: a click on its entry in the chat list.
  int row = -1;
  for (int i = 0; i < form.ListBox2->count() && row < 0; ++i)
    if (PathFromUtf8(TChatLibrary::EntryPath(form.ListBox2, i)).filename() == kLongChatName) row = i;
  if (ready && row >= 0) {
    form.ListBox2->setCurrentRow(row);
    const int bubbles = 2 * kTurns;
    ready = WaitFor([&] { return pagePtr->IsIdle() && Evaluate(*pagePtr, kCountBubbles).toInt() == bubbles; });
  } else {
    ready = false;
  }
  Settle();
  if (ready) Report("Tarvok");
  // The reference shows what the page ended with, in a window of the chat pane's size.
  const QString html = "<!DOCTYPE html>" + Evaluate(*pagePtr, "document.documentElement.outerHTML").toString();
  WriteFileAtomic(PathFromUtf8(pageFile), html.toStdString());
  const QSize size = pagePtr->Widget()->size();
  WriteFileAtomic(PathFromUtf8(pageFile + ".size"),
                  std::to_string(size.width()) + " " + std::to_string(size.height()) + "\n");
  std::printf("%s chats %d, chat row %d\n", ready ? "ready" : "not ready", chats, row);
  std::fflush(stdout);
  std::_Exit(ready ? 0 : 1);
}

int Bare(const char* APage) {
  PrepareEngine();
  int argc = 1;
  char name[] = "MemoryBench";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  int width = 0, height = 0;
  std::istringstream(ReadSmall(PathFromUtf8(std::string(APage) + ".size"))) >> width >> height;
  QWebEngineView view;
  if (width > 0 && height > 0) view.resize(width, height);
  bool loaded = false;
  QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) { loaded = true; });
  // From its file: setHtml takes no more than 2 MB once encoded, which the page exceeds.
  view.load(QUrl::fromLocalFile(QString::fromStdString(PathToUtf8(fs::absolute(PathFromUtf8(APage))))));
  view.show();
  bool ready = WaitFor([&] { return loaded && view.isVisible(); });
  if (ready) {
    bool counted = false;
    view.page()->runJavaScript(kCountBubbles, [&](const QVariant& AValue) {
      ready = AValue.toInt() == 2 * kTurns;
      counted = true;
    });
    WaitFor([&] { return counted; });
    ready = ready && counted;
  }
  Settle();
  if (ready) Report("bare");
  std::printf("%s\n", ready ? "ready" : "not ready");
  std::fflush(stdout);
  std::_Exit(ready ? 0 : 1);
}

}  // namespace
}  // namespace tarvok::bench

int main(int argc, char** argv) {
  if (argc == 4 && std::string_view(argv[1]) == "--program") return tarvok::bench::Program(argv[2], argv[3]);
  if (argc == 3 && std::string_view(argv[1]) == "--bare") return tarvok::bench::Bare(argv[2]);
  std::fprintf(stderr, "usage: MemoryBench --program DIR PAGE | --bare PAGE\n");
  return 2;
}
