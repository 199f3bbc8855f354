#include "app/WebChatPage.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QWebChannel>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <atomic>
#include <mutex>

#include "app/RichLibraries.h"
#include "core/Platform.h"
#include "view/PageTemplate.h"

namespace tarvok {

namespace {

// Runs in a world of its own that the page cannot touch, before the page's handlers.
// Links never navigate the document: a click on a link is stopped here, and only a click
// the user made (a trusted event, which no script can forge) on a web or mail link is
// handed to the host, through a channel that exists in this world alone. So a script that
// sets location or clicks a link itself opens nothing.
// It also remembers the code under the save button just pressed: the page's own copy to
// the clipboard reaches the window later than the title that asks for the save, so the
// host puts this text on the clipboard first.
constexpr const char* kPageGuard =
    "(function () {"
    " var host = null, waiting = [], connecting = false;"
    " function withHost(f) {"
    "  if (host) { f(host); return; }"
    "  if (typeof qt === 'undefined' || !qt.webChannelTransport) return;"
    "  waiting.push(f);"
    "  if (connecting) return;"
    "  connecting = true;"
    "  new QWebChannel(qt.webChannelTransport, function (c) {"
    "   host = c.objects.host; var w = waiting; waiting = []; w.forEach(function (g) { g(host); });"
    "  });"
    " }"
    " window.addEventListener('click', function (e) {"
    "  var t = e.target && e.target.closest ? e.target : null;"
    "  var a = t ? t.closest('a[href]') : null;"
    "  if (a) {"
    "   e.preventDefault();"
    "   var url = a.href;"
    "   if (e.isTrusted && (a.protocol === 'http:' || a.protocol === 'https:' || a.protocol === 'mailto:'))"
    "    withHost(function (h) { h.openLink(url); });"
    "  }"
    "  var act = t ? t.closest('.bubble-action') : null;"
    "  if (act) {"
    "   e.preventDefault();"
    "   var w = act.closest('.message-wrapper');"
    "   var turn = w ? parseInt(w.getAttribute('data-turn'), 10) : NaN;"
    "   var what = act.getAttribute('data-action');"
    "   if (e.isTrusted && turn >= 0) withHost(function (h) { h.bubbleAction(what, turn); });"
    "   return;"
    "  }"
    "  var b = t ? t.closest('.download-btn') : null;"
    "  if (!b) return;"
    "  var box = b.parentNode ? b.parentNode.parentNode : null;"
    "  var pre = box ? box.getElementsByTagName('pre')[0] : null;"
    "  window.savedCode = pre ? pre.innerText : null;"
    " }, true);"
    "})();";

// Turned off for the page's engine before it starts: no script, not even an injected one,
// may reach the network, and WebRTC would send STUN packets to any address it is given.
// The flag covers UDP only; TURN over TCP or TLS still connects, so the scripts below take
// peer connections out of the page altogether.
constexpr const char* kEngineFlags[] = {"--force-webrtc-ip-handling-policy=disable_non_proxied_udp"};

// Runs before anything else in every document of every frame, in each world: a peer
// connection is the one way left for script in the page to open a socket to an address of
// its choosing (STUN and TURN over UDP, TCP or TLS), and the chat never needs one. Every
// WebRTC interface goes, so that none can hand the constructor back.
constexpr const char* kStripPeerConnections =
    "var apply = Reflect.apply, ownNames = Object.getOwnPropertyNames, test = RegExp.prototype.test,"
    " peer = /^(webkit)?RTC/;"
    "function strip(w) {"
    " var own; try { own = ownNames(w); } catch (e) { return; }"
    " for (var i = 0; i < own.length; ++i)"
    "  if (apply(test, peer, [own[i]])) { try { delete w[own[i]]; } catch (e) {} }"
    "}";

// In the page's own world more is needed: a frame the page makes starts with an empty
// document of its own origin that no injected script reaches, so its interfaces are taken
// away by this frame as soon as any call that can add a frame returns, before the page
// gets the frame in hand (and the same is arranged inside that frame).
constexpr const char* kGuardFrames =
    "var describe = Object.getOwnPropertyDescriptor, define = Object.defineProperty,"
    " has = WeakSet.prototype.has, add = WeakSet.prototype.add, seen = new WeakSet(), home = window;"
    "function guardFrames(w) {"
    " var n = 0; try { n = w.length; } catch (e) { return; }"
    " for (var i = 0; i < n; ++i) { var c = null; try { c = w[i]; } catch (e) {} if (c) guard(c); }"
    "}"
    "function guard(w) {"
    " var d; try { d = w.document; } catch (e) { return; }"  // another origin runs its own copy
    " if (!d) return;"
    " if (!apply(has, seen, [d])) { apply(add, seen, [d]); strip(w); hookRealm(w); }"
    " guardFrames(w);"
    "}"
    "function wrap(proto, name, kind) {"
    " var desc; try { desc = describe(proto, name); } catch (e) { return; }"
    " if (!desc || !desc.configurable) return;"
    " var f = desc[kind]; if (typeof f !== 'function') return;"
    " desc[kind] = function () { try { return apply(f, this, arguments); } finally { guardFrames(home); } };"
    " try { define(proto, name, desc); } catch (e) {}"
    "}"
    "function hookRealm(w) {"
    " var calls = {Node: ['appendChild', 'insertBefore', 'replaceChild'],"
    "  Element: ['append', 'prepend', 'before', 'after', 'replaceWith', 'replaceChildren', 'insertAdjacentElement',"
    "   'insertAdjacentHTML', 'setHTML'],"
    "  CharacterData: ['before', 'after', 'replaceWith'], DocumentType: ['before', 'after', 'replaceWith'],"
    "  DocumentFragment: ['append', 'prepend', 'replaceChildren'],"
    "  Document: ['append', 'prepend', 'replaceChildren', 'write', 'writeln', 'execCommand', 'open'],"
    "  Range: ['insertNode', 'surroundContents'],"
    "  HTMLIFrameElement: ['getSVGDocument'], HTMLFrameElement: ['getSVGDocument'],"
    "  HTMLObjectElement: ['getSVGDocument'], HTMLEmbedElement: ['getSVGDocument']};"
    " var sets = {Element: ['innerHTML', 'outerHTML'], ShadowRoot: ['innerHTML'], Document: ['body']};"
    " var gets = {HTMLIFrameElement: ['contentWindow', 'contentDocument'],"
    "  HTMLFrameElement: ['contentWindow', 'contentDocument'], HTMLObjectElement: ['contentWindow', 'contentDocument']};"
    " function each(table, kind) {"
    "  for (var type in table) {"
    "   var c; try { c = w[type]; } catch (e) {}"
    "   if (c && c.prototype) for (var i = 0; i < table[type].length; ++i) wrap(c.prototype, table[type][i], kind);"
    "  }"
    " }"
    " each(calls, 'value'); each(sets, 'set'); each(gets, 'get');"
    "}"
    "guard(window);";

bool IsOutsideLink(const QUrl& AUrl) {
  const QString scheme = AUrl.scheme();
  return scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("mailto");
}

bool IsInertScheme(const QUrl& AUrl) {
  const QString scheme = AUrl.scheme();
  return scheme == QLatin1String("data") || scheme == QLatin1String("about");
}

}  // namespace

// Refuses every request of the page but data:, about: and the one local file allowed
// (the help page): answers may carry images on remote addresses, and loading them would
// tell a stranger what is being discussed.
class TRequestBlocker : public QWebEngineUrlRequestInterceptor {
 public:
  using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;

  void interceptRequest(QWebEngineUrlRequestInfo& AInfo) override {
    const QUrl url = AInfo.requestUrl();
    if (IsInertScheme(url) || IsAllowedFile(url) || url.scheme() == QLatin1String(kRichScheme)) return;
    ++FBlocked;
    AInfo.block(true);
  }

  void AllowFile(const QUrl& AUrl) {
    std::lock_guard lock(FLock);
    FAllowedFile = AUrl.adjusted(QUrl::RemoveFragment | QUrl::RemoveQuery);
  }
  bool IsAllowedFile(const QUrl& AUrl) {
    std::lock_guard lock(FLock);
    return AUrl.isLocalFile() && !FAllowedFile.isEmpty() &&
           AUrl.adjusted(QUrl::RemoveFragment | QUrl::RemoveQuery) == FAllowedFile;
  }
  int Blocked() const { return FBlocked.load(); }

 private:
  std::mutex FLock;
  QUrl FAllowedFile;
  std::atomic<int> FBlocked{0};
};

namespace {

// The page cannot navigate itself anywhere but to what the host loads. What the engine
// calls a link click may be a script's doing (location = ...), so it opens nothing here:
// the user's own clicks reach TLinkOpener through the page guard.
class TChatWebEnginePage : public QWebEnginePage {
 public:
  TChatWebEnginePage(QWebEngineProfile* AProfile, TRequestBlocker* ABlocker)
      : QWebEnginePage(AProfile, nullptr), FBlocker(ABlocker) {}

 protected:
  bool acceptNavigationRequest(const QUrl& AUrl, NavigationType AType, bool AIsMainFrame) override {
    if (AType == NavigationTypeLinkClicked || !AIsMainFrame) return false;
    return IsInertScheme(AUrl) || FBlocker->IsAllowedFile(AUrl);
  }

 private:
  TRequestBlocker* FBlocker;
};

}  // namespace

// Web and mail links the user clicked go to the system's programs; the bubbles' buttons the
// user clicked go to the window.
class TLinkOpener : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;
  Q_INVOKABLE void openLink(const QString& AUrl) {
    const QUrl url(AUrl);
    if (IsOutsideLink(url)) QDesktopServices::openUrl(url);
  }
  Q_INVOKABLE void bubbleAction(const QString& AAction, int ATurn) {
    // Not from inside the channel's call: the action may open a dialog or load the page.
    QMetaObject::invokeMethod(this, [this, AAction, ATurn] { if (BubbleAction) BubbleAction(AAction, ATurn); },
                              Qt::QueuedConnection);
  }
  std::function<void(const QString&, int)> BubbleAction;
};

void WebChatPage::PrepareBrowserEngine() {
  QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  for (const char* flag : kEngineFlags)
    if (!flags.contains(flag)) flags += QByteArray(" ") + flag;
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.trimmed());
  RegisterRichScheme();
}

WebChatPage::WebChatPage(QObject* AParent) : QObject(AParent) {
  // Once more here for a caller that did not: it counts until the engine's first start.
  PrepareBrowserEngine();
  FProfile = new QWebEngineProfile(this);  // off the record: nothing kept on disk
  FBlocker = new TRequestBlocker(this);
  FProfile->setUrlRequestInterceptor(FBlocker);
  InstallRichScheme(FProfile);
  FPage = new TChatWebEnginePage(FProfile, FBlocker);

  QWebEngineSettings* settings = FPage->settings();
  settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, true);  // the copy buttons
  settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
  settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
  settings->setAttribute(QWebEngineSettings::DnsPrefetchEnabled, false);
  settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
  settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
  settings->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
  // No camera, microphone, screen or location for anything the page runs.
  connect(FPage, &QWebEnginePage::featurePermissionRequested, FPage,
          [page = FPage](const QUrl& AOrigin, QWebEnginePage::Feature AFeature) {
            page->setFeaturePermission(AOrigin, AFeature, QWebEnginePage::PermissionDeniedByUser);
          });

  connect(FPage, &QWebEnginePage::loadFinished, this, [this](bool) {
    FLoading = false;
    Drain();
  });
  // Not from inside the engine's signal: the recovery loads a new document.
  connect(FPage, &QWebEnginePage::renderProcessTerminated, this, [this] {
    QMetaObject::invokeMethod(this, [this] { RecoverFromLostRenderer(); }, Qt::QueuedConnection);
  });
  // The channel lives in the guard's world only: the page's own scripts cannot reach it.
  auto* channel = new QWebChannel(this);
  FHost = new TLinkOpener(channel);
  channel->registerObject(QStringLiteral("host"), FHost);
  FPage->setWebChannel(channel, QWebEngineScript::ApplicationWorld);
  QFile channelScript(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
  channelScript.open(QIODevice::ReadOnly);
  QWebEngineScript capture;
  capture.setName(QStringLiteral("page-guard"));
  capture.setInjectionPoint(QWebEngineScript::DocumentCreation);
  capture.setWorldId(QWebEngineScript::ApplicationWorld);
  capture.setRunsOnSubFrames(false);
  capture.setSourceCode(QString::fromUtf8(channelScript.readAll()) + QString::fromLatin1(kPageGuard));
  FPage->scripts().insert(capture);
  // Only the guard runs in the application's world, so the interfaces just go there.
  const QString strip = QString::fromLatin1(kStripPeerConnections);
  const struct {
    QWebEngineScript::ScriptWorldId World;
    QString Source;
  } noPeers[] = {{QWebEngineScript::MainWorld, strip + QString::fromLatin1(kGuardFrames)},
                 {QWebEngineScript::ApplicationWorld, strip + QStringLiteral("strip(window);")}};
  for (const auto& entry : noPeers) {
    QWebEngineScript script;
    script.setName(QStringLiteral("no-peer-connections"));
    script.setInjectionPoint(QWebEngineScript::DocumentCreation);
    script.setWorldId(entry.World);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(QStringLiteral("(function () {") + entry.Source + QStringLiteral("})();"));
    FPage->scripts().insert(script);
  }

  connect(FPage, &QWebEnginePage::titleChanged, this, [this](const QString& ATitle) {
    if (!IsSaveCodeCommand(ATitle.toStdString())) {
      if (FTitleHandler) FTitleHandler(ATitle);
      return;
    }
    FPage->runJavaScript(QStringLiteral("window.savedCode === undefined ? null : window.savedCode"),
                         QWebEngineScript::ApplicationWorld, [this, ATitle](const QVariant& ACode) {
                           if (ACode.typeId() == QMetaType::QString) QGuiApplication::clipboard()->setText(ACode.toString());
                           // Not from inside the engine's callback: the handler opens a modal dialog,
                           // and the engine delivers no further results until the callback returns.
                           QMetaObject::invokeMethod(
                               this, [this, ATitle] { if (FTitleHandler) FTitleHandler(ATitle); }, Qt::QueuedConnection);
                         });
  });

  FView = new QWebEngineView();
  FView->setPage(FPage);
  FView->setContextMenuPolicy(Qt::NoContextMenu);
}

WebChatPage::~WebChatPage() {
  // A page deleted calls back every script still running; nothing may run after.
  ++FGeneration;
  FQueue.clear();
  // The page must go before its profile, and the view before the page.
  delete FView.data();
  delete FPage;
}

QWidget* WebChatPage::Widget() { return FView.data(); }
QWebEnginePage* WebChatPage::WebPage() const { return FPage; }
int WebChatPage::BlockedRequestCount() const { return FBlocker->Blocked(); }

void WebChatPage::SetTitleChangedHandler(std::function<void(const QString&)> AHandler) {
  FTitleHandler = std::move(AHandler);
}

void WebChatPage::Enqueue(std::function<bool()> ACommand) {
  FQueue.push_back(std::move(ACommand));
  Drain();
}

void WebChatPage::Drain() {
  if (FDraining) return;
  FDraining = true;
  while (!FLoading && !FQueue.empty()) {
    std::function<bool()> command = std::move(FQueue.front());
    FQueue.pop_front();
    // Set before the command runs: a load may report its end before the call returns.
    FLoading = true;
    if (!command()) FLoading = false;
  }
  FDraining = false;
  if (!IsIdle()) return;
  // A chat opened or rebuilt goes to the page as scripts of megabytes, made and copied
  // here; once they have run, their memory goes back to the system rather than stay in
  // the heap of a window that may show a short chat next.
  if (FRanLargeScript) {
    FRanLargeScript = false;
    ReturnFreeMemory();
  }
  emit Idle();
}

void WebChatPage::EnsureBaseHtmlLoaded() {
  if (FBaseHtmlLoaded) return;
  FBaseHtmlLoaded = true;
  FUrl = QStringLiteral("about:blank");
  Enqueue([this] {
    const std::string& page = BaseHtmlTemplate();
    FPage->setHtml(QString::fromStdString(FRichAnswers ? WithRichLibraries(page) : page), QUrl(QStringLiteral("about:blank")));
    return true;
  });
}

void WebChatPage::ResetChatView() {
  FBaseHtmlLoaded = false;
  FUrl = QStringLiteral("about:blank");
  Enqueue([this] {
    FPage->setUrl(QUrl(QStringLiteral("about:blank")));
    return true;
  });
}

void WebChatPage::RecoverFromLostRenderer() {
  ++FGeneration;
  FQueue.clear();
  FLoading = false;
  ResetChatView();
  if (FPageLostHandler) FPageLostHandler();
}

void WebChatPage::ShowLocalFile(const QString& AFilePath) {
  const QUrl url = QUrl::fromLocalFile(AFilePath);
  FUrl = url.toString();
  Enqueue([this, url] {
    FBlocker->AllowFile(url);
    FPage->setUrl(url);
    return true;
  });
}

void WebChatPage::RunScript(const std::string& AScript) {
  if (AScript.size() >= kLargeBufferBytes / 4) FRanLargeScript = true;
  if (AScript.size() < kAwaitedScriptBytes) {
    Enqueue([this, script = QString::fromStdString(AScript)] {
      FPage->runJavaScript(script);
      return false;
    });
    return;
  }
  // A large script (a chat's bubbles going in) is waited for before the next one goes: the
  // renderer then parses one batch at a time and reuses its memory for the next, instead of
  // holding every batch sent and its garbage at once.
  Enqueue([this, script = QString::fromStdString(AScript)] {
    FPage->runJavaScript(script, [this, generation = FGeneration](const QVariant&) {
      if (generation != FGeneration) return;  // the renderer was lost meanwhile
      FLoading = false;
      Drain();
    });
    return true;
  });
}

void WebChatPage::AppendChatHtml(const std::string& AHtml) {
  EnsureBaseHtmlLoaded();
  // Only the new fragment is parsed: the cost of an append does not grow with the chat.
  std::string script = "(function(){var c=document.getElementById(\"chat-container\");if(c)c.insertAdjacentHTML(\"beforeend\",\"";
  script += JsStringBody(AHtml);
  script += "\");})();";
  RunScript(script);
}

void WebChatPage::ExecutePageScript(const std::string& AScript) { RunScript(AScript); }

void WebChatPage::ScrollChatBy(int ADeltaY) {
  RunScript("if(document.getElementById(\"chat-container\"))window.scrollBy(0," + std::to_string(ADeltaY) + ");");
}

void WebChatPage::ScrollChatToBottom() {
  RunScript("(function(){var c=document.getElementById(\"chat-container\");if(c)window.scrollTo(0,c.scrollHeight);})();");
}

void WebChatPage::SetBubbleActionHandler(std::function<void(const QString&, int)> AHandler) {
  FHost->BubbleAction = std::move(AHandler);
}

void WebChatPage::FindText(const QString& AText, bool ABackward, std::function<void(int, int)> AResult) {
  const QWebEnginePage::FindFlags flags = ABackward ? QWebEnginePage::FindBackward : QWebEnginePage::FindFlags();
  FPage->findText(AText, flags, [AResult](const QWebEngineFindTextResult& AFound) {
    if (AResult) AResult(AFound.activeMatch(), AFound.numberOfMatches());
  });
}

void WebChatPage::EvaluateScript(const std::string& AScript, std::function<void(const QVariant&)> AResult) {
  Enqueue([this, script = QString::fromStdString(AScript), result = std::move(AResult)] {
    FPage->runJavaScript(script, [result](const QVariant& AValue) {
      if (result) result(AValue);
    });
    return false;
  });
}

}  // namespace tarvok

#include "WebChatPage.moc"
