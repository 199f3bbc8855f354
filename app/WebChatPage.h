#pragma once
// The chat pane on Qt WebEngine. Operations form a queue applied in order: while a
// document loads, later ones wait for loadFinished instead of spinning an event loop.
// The page never reaches the network: its profile blocks every request but data: and
// about: (and the help page), and clicked links open in the system browser.

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariant>
#include <deque>
#include <functional>

#include "app/ChatPage.h"

class QWebEngineView;
class QWebEnginePage;
class QWebEngineProfile;

namespace tarvok {

class TRequestBlocker;
class TLinkOpener;

class WebChatPage : public QObject, public IChatPage {
  Q_OBJECT
 public:
  // Sets the engine's start options (WebRTC off); they count only before the engine
  // first starts, so main() calls this before anything else. The constructor calls it too.
  static void PrepareBrowserEngine();
  explicit WebChatPage(QObject* AParent = nullptr);
  ~WebChatPage() override;

  void EnsureBaseHtmlLoaded() override;
  void ResetChatView() override;
  void AppendChatHtml(const std::string& AHtml) override;
  void ExecutePageScript(const std::string& AScript) override;
  void ScrollChatBy(int ADeltaY) override;
  void ScrollChatToBottom() override;
  void SetTitleChangedHandler(std::function<void(const QString& ATitle)> AHandler) override;
  void SetPageLostHandler(std::function<void()> AHandler) override { FPageLostHandler = std::move(AHandler); }
  void ShowLocalFile(const QString& AFilePath) override;
  QString CurrentUrl() const override { return FUrl; }
  void SetBubbleActionHandler(std::function<void(const QString&, int)> AHandler) override;
  void DecoratePage(const std::string& AScript) override { RunScript(AScript); }
  void FindText(const QString& AText, bool ABackward, std::function<void(int AActive, int ATotal)> AResult) override;
  QWidget* Widget() override;

  // Runs a script in its turn and hands its result back (for callers that need a value).
  void EvaluateScript(const std::string& AScript, std::function<void(const QVariant&)> AResult);
  QWebEnginePage* WebPage() const;
  // Requests the profile refused so far.
  int BlockedRequestCount() const;
  // Answers decorated by the page (formulas, code colours); on unless turned off before the
  // template loads (to measure what the decoration costs).
  void SetRichAnswers(bool AOn) { FRichAnswers = AOn; }
  // Nothing queued, no document loading and no large script running.
  bool IsIdle() const { return !FLoading && FQueue.empty(); }

 signals:
  void Idle();

 private:
  // Scripts of this size and more are waited for before the next command runs.
  static constexpr std::size_t kAwaitedScriptBytes = 32u << 10;
  // A command returns true when it started loading a document or a script it waits for.
  void Enqueue(std::function<bool()> ACommand);
  void Drain();
  void RunScript(const std::string& AScript);
  // The renderer ended: nothing queued can reach the old document, and no loadFinished
  // will come for it. Starts over from the blank page and lets the owner refill it.
  void RecoverFromLostRenderer();

  QWebEngineProfile* FProfile = nullptr;
  TRequestBlocker* FBlocker = nullptr;
  TLinkOpener* FHost = nullptr;
  QWebEnginePage* FPage = nullptr;
  QPointer<QWebEngineView> FView;
  std::deque<std::function<bool()>> FQueue;
  bool FLoading = false;
  // Counts lost renderers and the page's end: a script of the old document is not waited for.
  unsigned FGeneration = 0;
  bool FDraining = false;
  // As of the last queued command: the template is (or will be) in the document.
  bool FBaseHtmlLoaded = false;
  bool FRichAnswers = true;
  // A script of a megabyte or more was queued: the heap is trimmed once the queue is empty.
  bool FRanLargeScript = false;
  QString FUrl = QStringLiteral("about:blank");
  std::function<void(const QString&)> FTitleHandler;
  std::function<void()> FPageLostHandler;
};

}  // namespace tarvok
