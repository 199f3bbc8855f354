// A long session in one window with the real browser engine: a thousand answers by the
// REST API, streamed answers, answers through a stand-in CLI, and a long stored chat opened
// again and again from the chat list. Memory and threads come back to where they were,
// and every request completes exactly once, leaving no open file or CLI folder behind.
#include <QCheckBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <malloc.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "app/QtText.h"
#include "app/WebChatPage.h"
#include "cli/CliTexts.h"
#include "core/DateTime.h"
#include "core/JsonWriter.h"
#include "core/RequestThread.h"
#include "storage/ChatFile.h"
#include "tests/app/support/StandInCli.h"
#include "tests/app/support/WindowFixture.h"
#include "tests/cli/CliTestSupportPosix.h"
#include "tests/sanitizers/Sanitizers.h"

namespace tarvok {
namespace {

#if defined(TARVOK_TEST_ASAN) || defined(TARVOK_TEST_TSAN)
// AddressSanitizer holds freed memory back on purpose, and ThreadSanitizer's shadow and
// history of accesses grow with the run (+22 % over the session here), so memory is not
// judged there and a tenth of the session is enough for the rest.
constexpr bool kMeasuresMemory = false;
constexpr int kScale = 10;
#else
constexpr bool kMeasuresMemory = true;
constexpr int kScale = 1;
#endif

// The counts of a run; each can be changed in the environment (a longer soak, a quick try).
int Count(const char* AName, int ADefault) {
  const char* value = std::getenv(AName);
  return value && *value ? std::atoi(value) : ADefault / kScale;
}

long ResidentKb(const std::string& AProcess) {
  std::ifstream status("/proc/" + AProcess + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  return 0;  // gone meanwhile
}

// This process and every process below it: the browser engine's renderer and helpers.
long TreeResidentKb() {
  std::multimap<int, int> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const auto nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos) continue;
    std::istringstream rest(line.substr(nameEnd + 1));
    char state = 0;
    int parent = 0;
    if (rest >> state >> parent) children.emplace(parent, std::stoi(name));
  }
  long total = 0;
  std::vector<int> todo{static_cast<int>(::getpid())};
  while (!todo.empty()) {
    const int pid = todo.back();
    todo.pop_back();
    total += ResidentKb(std::to_string(pid));
    const auto [from, to] = children.equal_range(pid);
    for (auto it = from; it != to; ++it) todo.push_back(it->second);
  }
  return total;
}

int Entries(const std::filesystem::path& AFolder) {
  std::error_code ec;
  return static_cast<int>(std::distance(std::filesystem::directory_iterator(AFolder, ec), {}));
}

int ThreadCount() { return Entries("/proc/self/task"); }

struct TFigures {
  long Rss = 0, TreeRss = 0;
  int Threads = 0;
  int Files = 0;  // open file descriptors: sockets, pipes of CLI runs, files
};

double Change(double ABefore, double AAfter) { return ABefore > 0 ? (AAfter - ABefore) * 100.0 / ABefore : 0; }

// Every answer of the run begins with its request's number, "ANS<number>.".
std::string AnswerMark(int ANumber) {
  char mark[16];
  std::snprintf(mark, sizeof mark, "ANS%05d.", ANumber);
  return mark;
}

// The real chat page, counting per request the finished answer bubbles that reach it.
class TCountingPage : public IChatPage {
 public:
  explicit TCountingPage(std::size_t ARequests) : Finished(ARequests, 0) {}

  void EnsureBaseHtmlLoaded() override { Web.EnsureBaseHtmlLoaded(); }
  void ResetChatView() override { Web.ResetChatView(); }
  void AppendChatHtml(const std::string& AHtml) override {
    Note(AHtml);
    Web.AppendChatHtml(AHtml);
  }
  void ExecutePageScript(const std::string& AScript) override {
    Note(AScript);
    Web.ExecutePageScript(AScript);
  }
  void ScrollChatBy(int ADeltaY) override { Web.ScrollChatBy(ADeltaY); }
  void ScrollChatToBottom() override { Web.ScrollChatToBottom(); }
  void SetTitleChangedHandler(std::function<void(const QString&)> AHandler) override {
    Web.SetTitleChangedHandler(std::move(AHandler));
  }
  void SetPageLostHandler(std::function<void()> AHandler) override { Web.SetPageLostHandler(std::move(AHandler)); }
  void ShowLocalFile(const QString& AFilePath) override { Web.ShowLocalFile(AFilePath); }
  QString CurrentUrl() const override { return Web.CurrentUrl(); }
  QWidget* Widget() override { return Web.Widget(); }

  // The script's value once the page has run it, and so everything queued before it.
  QString Evaluate(const std::string& AScript) {
    QString value;
    bool done = false;
    Web.EvaluateScript(AScript, [&](const QVariant& AResult) {
      value = AResult.toString();
      done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 60000)) ADD_FAILURE() << "the page did not answer: " << AScript;
    return value;
  }

  WebChatPage Web;
  std::vector<int> Finished;  // by request number
  int Strays = 0;             // marks of no request sent

 private:
  void Note(const std::string& AHtml) {
    // A finished answer has its footer (time, tokens); the growing bubble of a stream has none.
    if (AHtml.find("model-message") == std::string::npos || AHtml.find("message-footer") == std::string::npos) return;
    for (auto at = AHtml.find("ANS"); at != std::string::npos; at = AHtml.find("ANS", at + 3)) {
      const int number = std::atoi(AHtml.c_str() + at + 3);
      if (number >= 0 && static_cast<std::size_t>(number) < Finished.size()) ++Finished[number];
      else ++Strays;
    }
  }
};

THistoryItem Turn(const std::string& ARole, const std::string& AText, int ANumber) {
  THistoryItem item;
  item.Role = ARole;
  item.Parts.push_back(TContentPart{TPartType::ptText, AText, {}, {}, {}});
  item.TokenCount = 40;
  item.Timestamp = EncodeDateTime({2025, 1, 1, 12, 0, 0, 0}) + ANumber / 86400.0;
  if (ARole == "model") {
    item.ModelName = "gemini-2.5-pro";
    item.Duration = "3";
  }
  return item;
}

enum class TRoute { Rest, Stream, Cli };

class EnduranceTest : public WindowTest {
 protected:
  static constexpr int kExchangesPerChat = 25;  // then a new chat, as a user starts one
  static constexpr int kLongChatTurns = 1000;

  EnduranceTest() : FPath(FBin.Path()) {
    test::MakeExecutable(FBin.Write("gemini", test::StandInCliScript(FRecord.Path().string())));
  }

  void WriteStoredChats() {
    TChatHistory longChat;
    for (int i = 0; i < kLongChatTurns; i += 2) {
      longChat.push_back(Turn("user", "Вопрос " + std::to_string(i) + ": как устроен *этот* шаг?", i));
      longChat.push_back(Turn("model",
                              "## Шаг " + std::to_string(i) +
                                  "\n\nОтвет с **выделением**, `кодом` и списком:\n\n- первое\n- второе\n\n"
                                  "```cpp\nint step = " + std::to_string(i) + ";\n```\n",
                              i + 1));
    }
    FLongChat = Path("chats/Long_2025-01-01_120000.json").string();
    FShortChat = Path("chats/Short_2025-02-01_120000.json").string();
    std::filesystem::create_directories(Path("chats"));
    WriteChatFile(FLongChat, longChat);
    WriteChatFile(FShortChat, {Turn("user", "Короткий вопрос", 0), Turn("model", "Короткий ответ", 1)});
  }

  // Sends the next request on the route as the user does and waits for its answer.
  void SendOne(TRoute ARoute) {
    const int number = FNext++;
    const std::string answer = AnswerMark(number) + " Ответ с **выделением** и списком:\n\n- один\n- два\n";
    switch (ARoute) {
      case TRoute::Rest:
        Emulator.Enqueue(TextReply(answer, 12, 5));
        break;
      case TRoute::Stream:
        Emulator.Enqueue(emulator::StreamedTextReply({answer.substr(0, 20), answer.substr(20)}, 12, 5));
        break;
      case TRoute::Cli: {
        std::string quoted;
        AppendJsonEscaped(quoted, answer);
        FRecord.Write("output", "{\"response\":\"" + quoted + "\",\"stats\":{\"tokens\":{\"prompt\":12,\"candidates\":5,\"total\":17}}}");
        break;
      }
    }
    if (ARoute != TRoute::Cli) ++FToEmulator;
    Form().memoPrompt->setPlainText(QString::fromStdString("Q" + std::to_string(number)));
    QTest::keyClick(Form().memoPrompt, Qt::Key_Return, Qt::ControlModifier);
    ASSERT_TRUE(WaitForIdle()) << "request " << number;
    const auto& history = Dm().FChatHistory;
    ASSERT_EQ(history.size(), 2u * (FInChat + 1)) << "request " << number << ": one user and one model turn";
    ASSERT_EQ(history.back().Parts.at(0).Text, answer) << "request " << number;
    if (++FInChat == kExchangesPerChat) NewChat();
  }

  // The page shows each exchange of the chat once; then a new chat, by its button.
  void NewChat() {
    EXPECT_EQ(FPage->Evaluate("String(document.querySelectorAll('.model-message').length)").toInt(), FInChat);
    EXPECT_EQ(Emulator.Requests().size(), FToEmulator) << "each request reached the service once";
    Emulator.ClearRequests();
    FToEmulator = 0;
    FInChat = 0;
    QTest::mouseClick(Form().btnNewChat, Qt::LeftButton);
    ASSERT_TRUE(Dm().FChatHistory.empty());
  }

  void Requests(TRoute ARoute, int ACount) {
    Form().chkStreamAnswers->setChecked(ARoute == TRoute::Stream);
    if ((ARoute == TRoute::Cli) != Form().GeminiCliCheckBox->isChecked()) {
      Form().GeminiCliCheckBox->setChecked(ARoute == TRoute::Cli);
      if (ARoute == TRoute::Cli) {
        ASSERT_EQ(Status(), clitexts::kStatusFastStart);
      }
    }
    for (int i = 0; i < ACount && !HasFatalFailure(); ++i) SendOne(ARoute);
    if (FInChat > 0 && !HasFatalFailure()) NewChat();
  }

  // Opens the long chat and the short one in turn by clicking them in the chat list.
  void Switches(int ACount) {
    for (int i = 0; i < ACount; ++i) {
      const bool toLong = i % 2 == 0;
      const auto found = Form().ListBox2->findItems(toLong ? "Long" : "Short", Qt::MatchExactly);
      ASSERT_EQ(found.size(), 1);
      Form().ListBox2->scrollToItem(found.first());
      QTest::mouseClick(Form().ListBox2->viewport(), Qt::LeftButton, {},
                        Form().ListBox2->visualItemRect(found.first()).center());
      ASSERT_EQ(Form().FCurrentChatFile, toLong ? FLongChat : FShortChat) << "switch " << i;
      ASSERT_EQ(FPage->Evaluate("String(document.querySelectorAll('.message-wrapper').length)").toInt(),
                toLong ? kLongChatTurns : 2)
          << "switch " << i;
    }
    QTest::mouseClick(Form().btnNewChat, Qt::LeftButton);
  }

  // Waits until the run's requests, threads and page work are over, lets the event loop
  // turn a few times for what the engine frees later, and gives freed heap back.
  TFigures Settle(int AThreadsAtMost) {
    EXPECT_TRUE(WaitFor([] { return TGeminiRequestThread::ActiveCount() == 0; }));
    FPage->Evaluate("1");
    WaitFor([&] { return ThreadCount() <= AThreadsAtMost; }, 20000);
    for (int i = 0; i < 5; ++i) QTest::qWait(200);
    ::malloc_trim(0);
    return {ResidentKb("self"), TreeResidentKb(), ThreadCount(), Entries("/proc/self/fd")};
  }

  // Runs each part in turn; returns the seconds each took.
  std::array<double, 4> Run(int ARest, int AStream, int ACli, int ASwitches) {
    std::array<double, 4> seconds{};
    const std::function<void()> parts[] = {[&] { Requests(TRoute::Rest, ARest); },
                                           [&] { Requests(TRoute::Stream, AStream); },
                                           [&] { Requests(TRoute::Cli, ACli); }, [&] { Switches(ASwitches); }};
    for (std::size_t i = 0; i < seconds.size() && !HasFatalFailure(); ++i) {
      const auto started = std::chrono::steady_clock::now();
      parts[i]();
      seconds[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    }
    return seconds;
  }

  test::TPrivateHome FHome;
  test::TTempDir FBin, FRecord;
  test::TPathPrefix FPath;
  TCountingPage* FPage = nullptr;
  std::string FLongChat, FShortChat;
  int FNext = 0;
  int FInChat = 0;
  std::size_t FToEmulator = 0;
};

TEST_F(EnduranceTest, ALongSessionLeavesMemoryAndThreadsAsItFoundThemAndCompletesEachRequestOnce) {
  const int rest = Count("TARVOK_ENDURANCE_REST", 1000);
  const int stream = Count("TARVOK_ENDURANCE_STREAM", 100);
  const int cli = Count("TARVOK_ENDURANCE_CLI", 100);
  const int switches = Count("TARVOK_ENDURANCE_SWITCHES", 200);
  // Enough of each to bring the engine, the heap and the thread pools to their working size.
  const int warmRest = 30, warmStream = 10, warmCli = 10, warmSwitches = 10;

  UseEmulator();
  WriteText("auth_confirmed.flag", "1");
  WriteStoredChats();
  auto page = std::make_unique<TCountingPage>(warmRest + warmStream + warmCli + rest + stream + cli);
  FPage = page.get();
  OpenWindowWith(std::move(page));

  Run(warmRest, warmStream, warmCli, warmSwitches);
  if (HasFatalFailure()) return;
  const TFigures before = Settle(1 << 20);

  const auto seconds = Run(rest, stream, cli, switches);
  if (HasFatalFailure()) return;
  const TFigures after = Settle(before.Threads + before.Threads / 10);

  int once = 0;
  for (std::size_t i = 0; i < FPage->Finished.size(); ++i) {
    EXPECT_EQ(FPage->Finished[i], 1) << "request " << i << " completed that many times";
    once += FPage->Finished[i] == 1 ? 1 : 0;
  }
  EXPECT_EQ(FPage->Strays, 0);
  EXPECT_TRUE(Dialogs.Messages.empty()) << S(Dialogs.Messages.front());
  EXPECT_TRUE(Dialogs.Errors.empty()) << S(Dialogs.Errors.front());
  EXPECT_EQ(Entries(FHome.Runtime() / "tarvok"), 0) << "a CLI run left its folder behind";

  std::printf(
      "[endurance] rest=%d stream=%d cli=%d switches=%d (after a warm-up of %d/%d/%d/%d) completed-once=%d/%zu "
      "rss=%ldkB->%ldkB (%+.1f%%) rss-with-engine=%ldkB->%ldkB (%+.1f%%) threads=%d->%d open-files=%d->%d "
      "elapsed=%.1fs (rest %.1fs, stream %.1fs, cli %.1fs, switches %.1fs)\n",
      rest, stream, cli, switches, warmRest, warmStream, warmCli, warmSwitches, once, FPage->Finished.size(),
      before.Rss, after.Rss, Change(before.Rss, after.Rss), before.TreeRss, after.TreeRss,
      Change(before.TreeRss, after.TreeRss), before.Threads, after.Threads, before.Files, after.Files,
      seconds[0] + seconds[1] + seconds[2] + seconds[3], seconds[0], seconds[1], seconds[2], seconds[3]);
  std::fflush(stdout);

  EXPECT_LE(after.Threads, before.Threads + before.Threads / 10);
  EXPECT_LE(after.Files, before.Files + before.Files / 10);
  if (kMeasuresMemory) {
    EXPECT_LE(after.Rss, before.Rss + before.Rss / 10);
  }
}

}  // namespace
}  // namespace tarvok
