// The chat page in the real browser engine, offscreen: appends, page scripts, the
// save-code round trip through the clipboard, and hostile content that must neither
// run script nor reach the network.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <QWebEnginePage>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <atomic>
#include <filesystem>
#include <thread>

#include "app/ChatView.h"
#include "app/WebChatPage.h"
#include "core/Files.h"
#include "tests/app/support/LoopbackSensors.h"
#include "tests/app/support/TestDialogs.h"
#include "view/MessageRender.h"
#include "view/StreamRender.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;

const std::string kTokens = "Токены: ";
const std::string kErrorText = " (Ошибка отправки)";
const std::string kCopied = "Скопировано!";

constexpr int kWaitMs = 30000;

class ChatPageTest : public ::testing::Test {
 protected:
  void SetUp() override { FView.AttachTitleHandler(); }

  // The script's value, run after everything queued before it.
  QVariant Eval(const std::string& AScript) {
    bool done = false;
    QVariant value;
    FPage.EvaluateScript(AScript, [&](const QVariant& AValue) {
      value = AValue;
      done = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return done; }, kWaitMs)) << AScript;
    return value;
  }
  QString EvalText(const std::string& AScript) { return Eval(AScript).toString(); }
  QString Title() { return FPage.WebPage()->title(); }

  // A real mouse click, as the user makes it, on the middle of the first element ASelector finds.
  void UserClick(const std::string& ASelector) {
    QWidget* view = FPage.Widget();
    if (!view->isVisible()) {
      view->resize(900, 700);
      view->show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(view));
    }
    const QVariantList at = Eval("var r = document.querySelector('" + ASelector +
                                 "').getBoundingClientRect(); [Math.round(r.left + r.width / 2), Math.round(r.top + r.height / 2)]")
                                .toList();
    ASSERT_EQ(at.size(), 2) << ASelector;
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->focusProxy() != nullptr; }, kWaitMs));
    QTest::mouseClick(view->focusProxy(), Qt::LeftButton, {}, QPoint(at[0].toInt(), at[1].toInt()));
  }

  LinkRecorder FLinks;
  WebChatPage FPage;
  TestDialogs FDialogs;
  TChatView FView{FPage, FDialogs};
};

TEST_F(ChatPageTest, TwoAppendsAfterResetLeaveTheTemplateOnceAndBothFragments) {
  FPage.AppendChatHtml("<p>old</p>");
  FPage.ResetChatView();
  EXPECT_EQ(EvalText("String(document.getElementById('chat-container'))"), "null");  // blank until the next append
  FPage.AppendChatHtml("<p id=\"a\">A</p>");
  FPage.AppendChatHtml("<p id=\"b\">B &amp; b</p>");
  EXPECT_EQ(EvalText("document.getElementById('chat-container').innerHTML"), "<p id=\"a\">A</p><p id=\"b\">B &amp; b</p>");
  EXPECT_EQ(EvalText("document.querySelectorAll('#chat-container').length + ',' + document.getElementsByTagName('style')"
                     ".length + ',' + document.body.children.length + ',' + typeof copyCode + typeof downloadCode + "
                     "typeof autoScrollToBottom"),
            "1,1,1,functionfunctionfunction");
  EXPECT_TRUE(FPage.IsIdle());
}

// A large script (a batch of a chat's bubbles) is waited for before the next command, so
// the page is idle only once it has run; a renderer lost while one runs does not leave the
// queue waiting for it, and the page works again after.
TEST_F(ChatPageTest, ALargeScriptIsWaitedForAndARendererLostMeanwhileStallsNothing) {
  FPage.AppendChatHtml("<p>x</p>");
  ASSERT_EQ(EvalText("document.getElementById('chat-container').innerHTML"), "<p>x</p>");
  // Over the size that is waited for, by a comment; it runs for half a second.
  const std::string padding = "/*" + std::string(64 << 10, 'p') + "*/";
  const auto busyScript = [&](int AMs) {
    return padding + "(function(){var t=Date.now()+" + std::to_string(AMs) +
           ";while(Date.now()<t);window.endedAt=Date.now();})();";
  };
  qint64 idleAt = 0;
  const QMetaObject::Connection idle =
      QObject::connect(&FPage, &WebChatPage::Idle, [&] { if (!idleAt) idleAt = QDateTime::currentMSecsSinceEpoch(); });
  FPage.ExecutePageScript(busyScript(500));
  EXPECT_FALSE(FPage.IsIdle());
  ASSERT_TRUE(QTest::qWaitFor([&] { return FPage.IsIdle(); }, kWaitMs));
  QObject::disconnect(idle);
  const qint64 endedAt = Eval("window.endedAt").toLongLong();
  ASSERT_GT(endedAt, 0);
  EXPECT_GE(idleAt, endedAt) << "idle before the script had run";

  // The renderer ends while a large script runs, with more waiting behind it.
  const qint64 renderer = FPage.WebPage()->renderProcessPid();
  ASSERT_GT(renderer, 0);
  FPage.ExecutePageScript(busyScript(20000));
  FPage.AppendChatHtml("<p>queued</p>");
  QTest::qWait(300);
  ASSERT_EQ(::kill(static_cast<pid_t>(renderer), SIGKILL), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return FPage.WebPage()->renderProcessPid() != renderer && FPage.IsIdle(); }, kWaitMs));
  FPage.AppendChatHtml("<p id=\"after\">after</p>");
  EXPECT_EQ(EvalText("document.getElementById('after').textContent"), "after");
}

// The growing bubble is replaced by id as the answer arrives; the page ends exactly as
// the page that got the whole answer at once.
TEST_F(ChatPageTest, AStreamedBubbleEndsAsTheWholeAnswerAppendedAtOnce) {
  const std::string whole = RenderModelMessage("# T\n\nFirst, then **more**.\n\n```\ncode\n```", "gemini-2.5-flash", 45000.5, 7, "3");
  FPage.AppendChatHtml("<p>before</p>");
  FPage.AppendChatHtml(whole);
  FPage.AppendChatHtml("<p>after</p>");
  const QString expected = EvalText("document.getElementById('chat-container').innerHTML");

  FPage.ResetChatView();
  FPage.AppendChatHtml("<p>before</p>");
  FPage.AppendChatHtml(WithBubbleId(RenderModelMessage("# T\n\nFir", "gemini-2.5-flash", 45000.5, -1, ""), "answer_1"));
  FPage.ExecutePageScript(ReplaceBubbleScript(
      "answer_1", WithBubbleId(RenderModelMessage("# T\n\nFirst, then **mo", "gemini-2.5-flash", 45000.5, -1, ""), "answer_1")));
  EXPECT_EQ(EvalText("String(document.getElementById('answer_1').textContent.indexOf('First, then **mo') > 0)"), "true");
  FPage.ExecutePageScript(ReplaceBubbleScript("answer_1", whole));
  FPage.AppendChatHtml("<p>after</p>");
  EXPECT_EQ(EvalText("document.getElementById('chat-container').innerHTML"), expected);

  // A page rebuilt from the history in the meantime has no growing bubble: the answer is
  // appended where it would have been.
  FPage.ResetChatView();
  FPage.AppendChatHtml("<p>before</p>");
  FPage.ExecutePageScript(ReplaceBubbleScript("answer_2", whole));
  FPage.AppendChatHtml("<p>after</p>");
  EXPECT_EQ(EvalText("document.getElementById('chat-container').innerHTML"), expected);
}

TEST_F(ChatPageTest, TokenFooterAndErrorMark) {
  const std::string withFooter = FView.AddUserMessage("one", {}, 5);
  FView.AddModelMessage("answer", "gemini", -1, "");
  const std::string without = "msg_other";
  FPage.AppendChatHtml("<div id=\"msg_other\" class=\"message-wrapper user-message\"><div class=\"message-header\">"
                       "<strong>u</strong></div><div class=\"message-content\"><p>two</p></div></div>");
  const QString before = EvalText("document.getElementById('chat-container').innerHTML");

  FView.UpdateMessageTokens("msg_nobody", 9);
  EXPECT_EQ(EvalText("document.getElementById('chat-container').innerHTML"), before);

  FView.UpdateMessageTokens(withFooter, 42);
  FView.UpdateMessageTokens(without, 7);
  EXPECT_EQ(EvalText("document.getElementById('footer_" + withFooter + "').textContent"),
            QString::fromStdString(kTokens + "42"));
  EXPECT_EQ(EvalText("var f = document.querySelector('#msg_other .message-content').lastElementChild;"
                     "f.id + '|' + f.className + '|' + f.textContent"),
            QString::fromStdString("footer_msg_other|message-footer|" + kTokens + "7"));

  FView.MarkMessageSendError(withFooter);
  FView.MarkMessageSendError(withFooter);
  EXPECT_EQ(EvalText("var el = document.getElementById('" + withFooter + "');"
                     "el.style.border + '|' + el.querySelectorAll('.message-header span[style]').length + '|' +"
                     "el.querySelector('.message-header').lastChild.textContent"),
            QString::fromStdString("2px solid rgb(211, 47, 47)|2|" + kErrorText));
}

TEST_F(ChatPageTest, DownloadButtonSavesTheCodeThroughTheDialog) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString target = dir.filePath("saved.py");
  const std::string code = "print(\"\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82\")\nx = 1 < 2\n";
  FView.AddModelMessage("Intro\n\n```python\n" + code + "```\n", "gemini", 3, "2");

  std::vector<QString> titles;
  FPage.SetTitleChangedHandler([&](const QString& ATitle) {
    if (ATitle.startsWith("COMMAND:SAVE_CODE:")) titles.push_back(ATitle);
    FView.WebBrowser1TitleChange(ATitle);
  });
  FDialogs.SaveFileAnswers.push_back([&](const TestDialogs::FileDialogCall&) {
    // A second press while the dialog is open reaches the window and is dropped.
    const std::size_t seen = titles.size();
    FPage.WebPage()->runJavaScript("document.querySelector('.download-btn').click();");
    EXPECT_TRUE(QTest::qWaitFor([&] { return titles.size() > seen; }, kWaitMs));
    return target;
  });
  FPage.ExecutePageScript("document.querySelector('.download-btn').click();");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !FDialogs.SaveFileCalls.empty() && !FView.FIsSaving; }, kWaitMs));

  ASSERT_EQ(titles.size(), 2u);
  EXPECT_NE(titles[0], titles[1]);
  EXPECT_EQ(FDialogs.SaveFileCalls.size(), 1u);
  EXPECT_EQ(ReadWholeFile(fs::path(target.toStdString())), std::string(kUtf8Bom) + code);

  // The copy button copies too and says so on itself.
  QGuiApplication::clipboard()->clear();
  EXPECT_EQ(EvalText("var b = document.querySelector('.copy-btn'); b.click(); b.innerText"), QString::fromStdString(kCopied));
  EXPECT_TRUE(QTest::qWaitFor([] { return !QGuiApplication::clipboard()->text().isEmpty(); }, kWaitMs));
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), code);
}

TEST_F(ChatPageTest, LinksTheUserClicksOpenOutsideAndThePageStays) {
  FView.AddModelMessage("[site](https://example.org/page) and www.example.com", "", -1, "");
  FPage.AppendChatHtml("<p id=\"still\">here</p>");
  UserClick("#chat-container a");
  ASSERT_TRUE(QTest::qWaitFor([&] { return FLinks.Urls.size() == 1; }, kWaitMs));
  UserClick("#chat-container a:nth-of-type(2)");
  ASSERT_TRUE(QTest::qWaitFor([&] { return FLinks.Urls.size() == 2; }, kWaitMs));
  EXPECT_EQ(FLinks.Urls[0].toString().toStdString(), "https://example.org/page");
  EXPECT_EQ(FLinks.Urls[1].toString().toStdString(), "http://www.example.com/");
  EXPECT_EQ(EvalText("document.getElementById('still').textContent").toStdString(), "here");
}

TEST_F(ChatPageTest, HelpPageShowsAndFragmentsWaitForTheNextReset) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString help = dir.filePath("AddKey.html");
  WriteFileAtomic(fs::path(help.toStdString()),
                  "<html><body><p id=\"help\">key help <a href=\"https://example.org/key\">here</a></p></body></html>");
  FView.AddModelMessage("before", "", -1, "");
  FView.ShowHelpPage(help, false);
  EXPECT_TRUE(FView.ShowsHelpPage());
  FPage.AppendChatHtml("<p>dropped</p>");
  EXPECT_EQ(EvalText("document.getElementById('help').textContent + '|' + String(document.getElementById('chat-container'))"),
            "key help here|null");
  EXPECT_EQ(FPage.BlockedRequestCount(), 0);
  // Its link opens outside when the user clicks it, as the chat's links do.
  UserClick("#help a");
  ASSERT_TRUE(QTest::qWaitFor([&] { return FLinks.Urls.size() == 1; }, kWaitMs));
  EXPECT_EQ(FLinks.Urls[0].toString().toStdString(), "https://example.org/key");
  FView.ResetChatView();
  EXPECT_FALSE(FView.ShowsHelpPage());
  FView.AddModelMessage("after", "", -1, "");
  EXPECT_EQ(EvalText("document.querySelector('#chat-container .message-content').textContent").toStdString(), "after\n");
}

TEST_F(ChatPageTest, HostileContentRunsNoScriptAndLoadsNothing) {
  CountingServer server;
  const std::string run = "window.__pwned=1";
  const std::string img = "<img src=x onerror=\"" + run + "\">";
  const struct {
    const char* Name;
    std::function<void()> Render;
    bool TriesNetwork;
  } cases[] = {
      {"script element in an answer", [&] { FView.AddModelMessage("<script>" + run + "</script>", "", -1, ""); }, false},
      {"onerror attribute in an answer", [&] { FView.AddModelMessage("text " + img, "", -1, ""); }, false},
      {"javascript: link in an answer", [&] { FView.AddModelMessage("[go](javascript:" + run + ")", "", -1, ""); }, false},
      {"links that stay in the document", [&] { FView.AddModelMessage("[a](about:blank) [b](#top) [c]()", "", -1, ""); }, false},
      {"iframe in an answer", [&] { FView.AddModelMessage("<iframe src=\"" + server.Url("/frame") + "\"></iframe>", "", -1, ""); }, false},
      {"remote image in an answer", [&] { FView.AddModelMessage("![leak](" + server.Url("/leak.png?q=secret") + ")", "", -1, ""); }, true},
      {"remote autolink image text", [&] { FView.AddModelMessage("<" + server.Url("/auto") + ">", "", -1, ""); }, false},
      {"markup in the user's text", [&] { FView.AddUserMessage("<script>" + run + "</script>" + img, {}, 1); }, false},
      {"markup in a file name", [&] { FView.AddUserMessage("x", {"C:\\d\\" + img + ".png"}, 1); }, false},
      {"markup in the model name and duration", [&] { FView.AddModelMessage("x", img, 1, img); }, false},
      {"markup in a stored chat",
       [&] {
         FView.RenderChatHistory({
             {"user", {{TPartType::ptInlineData, "", "image/png", TSharedText("AA=="), "/d/" + img}}, 1, 0, "", ""},
             {"user", {{TPartType::ptInlineData, "", img, TSharedText("AA=="), ""}}, 1, 0, "", ""},
             {"model", {{TPartType::ptInlineData, "", "image/png\" onerror=\"" + run, TSharedText("AA=="), ""}}, 1, 0, "", ""},
             {"model", {{TPartType::ptInlineData, "", "image/png", TSharedText("AA==\" onerror=\"" + run), ""}}, 1, 0, "", ""},
             {"model", {{TPartType::ptText, "{\"mime_type\":\"x/y\\\" onerror=\\\"" + run + "\",\"base64_data\":\"AA==\"}", "", {}, ""}}, 1, 0, img, ""},
         });
       },
       false},
  };
  for (const auto& c : cases) {
    FPage.ResetChatView();
    const int blockedBefore = FPage.BlockedRequestCount();
    c.Render();
    Eval("document.querySelectorAll('#chat-container a').forEach(function (a) { a.click(); }); 0");
    // A live handler of ours, last in the page: once it has run, any earlier one would have too.
    FPage.AppendChatHtml("<img src=\"" + server.Url("/sentinel") + "\" onerror=\"window.__sentinel=1\">");
    EXPECT_TRUE(QTest::qWaitFor([&] { return Eval("window.__sentinel === 1").toBool(); }, kWaitMs)) << c.Name;
    if (c.TriesNetwork) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return FPage.BlockedRequestCount() >= blockedBefore + 2; }, kWaitMs)) << c.Name;
    }
    EXPECT_EQ(EvalText("String(window.__pwned) + '|' + document.title.indexOf('COMMAND')"), "undefined|-1") << c.Name;
    EXPECT_EQ(EvalText("String(document.getElementById('chat-container') !== null)"), "true") << c.Name;
    EXPECT_EQ(server.Hits(), 0) << c.Name;
  }
  EXPECT_TRUE(FLinks.Urls.empty() || FLinks.Urls.back().host() == "127.0.0.1");
}

TEST_F(ChatPageTest, ScriptMadeNavigationsOpenNothing) {
  CountingServer server;
  FView.AddModelMessage("[clicked](" + server.Url("/clicked") + ")", "", -1, "");
  const std::string scripts[] = {
      "location = '" + server.Url("/location") + "'; 0",
      "location.href = '" + server.Url("/href") + "'; 0",
      "document.querySelector('#chat-container a').click(); 0",
      "var a = document.createElement('a'); a.href = '" + server.Url("/made") + "'; document.body.appendChild(a); a.click(); 0",
      "window.open('" + server.Url("/open") + "'); 0",
  };
  for (const std::string& script : scripts) Eval(script);
  // The user's own click comes after them all and is the one thing opened.
  UserClick("#chat-container a");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !FLinks.Urls.empty(); }, kWaitMs));
  EXPECT_EQ(FLinks.Urls.front().path().toStdString(), "/clicked");
  EXPECT_EQ(FLinks.Urls.size(), 1u);
  EXPECT_EQ(EvalText("String(document.getElementById('chat-container') !== null)"), "true");
  EXPECT_EQ(server.Hits(), 0);
}

// A UDP socket on loopback that counts the datagrams reaching it.
class UdpCounter {
 public:
  UdpCounter() {
    FSocket = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FSocket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &size);
    FPort = ntohs(address.sin_port);
    timeval tick{0, 100000};  // lets the reader see the stop flag
    ::setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    FThread = std::thread([this] {
      char buffer[2048];
      while (!FStop)
        if (::recv(FSocket, buffer, sizeof buffer, 0) >= 0) ++FPackets;
    });
  }
  ~UdpCounter() {
    FStop = true;
    FThread.join();
    ::close(FSocket);
  }
  int Port() const { return FPort; }
  int Packets() const { return FPackets.load(); }

 private:
  int FSocket = -1;
  int FPort = 0;
  std::atomic<bool> FStop{false};
  std::atomic<int> FPackets{0};
  std::thread FThread;
};

TEST_F(ChatPageTest, WebRtcSendsNothingEvenToAStunServerTheScriptNames) {
  UdpCounter stun;
  ASSERT_GT(stun.Port(), 0);
  FPage.AppendChatHtml("<p>x</p>");
  const std::string port = std::to_string(stun.Port());
  Eval("window.__gathering = 'none';"
       "try {"
       " var pc = new RTCPeerConnection({iceServers: [{urls: 'stun:127.0.0.1:" + port + "'}]});"
       " pc.onicegatheringstatechange = function () { window.__gathering = pc.iceGatheringState; };"
       " pc.createDataChannel('d');"
       " pc.createOffer().then(function (o) { return pc.setLocalDescription(o); })"
       "   .catch(function (e) { window.__gathering = 'refused'; });"
       " window.__pc = pc;"
       "} catch (e) { window.__gathering = 'refused'; } 0");
  // Either the gathering ends (with nothing sent) or a packet tells the fault at once.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const QString state = EvalText("window.__gathering");
        return stun.Packets() > 0 || state == "complete" || state == "refused";
      },
      kWaitMs));
  EXPECT_EQ(stun.Packets(), 0) << EvalText("window.__gathering").toStdString();
}

// Script loose in the page (or in a frame it makes) can build no peer connection at all:
// TURN over TCP and TLS would otherwise open a connection to any address it names, which
// no engine flag stops. Loopback listeners see every attempt; the reason the attempt was
// refused is checked too, so that a broken test script cannot pass for a refusal.
TEST_F(ChatPageTest, NoPeerConnectionFromThePageOrItsFramesOverUdpTcpOrTls) {
  QTcpServer tcp;
  ASSERT_TRUE(tcp.listen(QHostAddress::LocalHost));
  QUdpSocket udp;
  ASSERT_TRUE(udp.bind(QHostAddress::LocalHost, 0));
  int tcpConnections = 0, udpDatagrams = 0;
  QObject::connect(&tcp, &QTcpServer::newConnection, [&] {
    while (QTcpSocket* socket = tcp.nextPendingConnection()) {
      ++tcpConnections;
      socket->deleteLater();
    }
  });
  QObject::connect(&udp, &QUdpSocket::readyRead, [&] {
    while (udp.hasPendingDatagrams()) {
      udp.receiveDatagram();
      ++udpDatagrams;
    }
  });
  const std::string tcpPort = std::to_string(tcp.serverPort()), udpPort = std::to_string(udp.localPort());
  const struct {
    const char* Name;
    std::string Server;
  } servers[] = {
      {"STUN over UDP", "{urls: 'stun:127.0.0.1:" + udpPort + "'}"},
      {"TURN over UDP", "{urls: 'turn:127.0.0.1:" + udpPort + "?transport=udp', username: 'u', credential: 'p'}"},
      {"TURN over TCP", "{urls: 'turn:127.0.0.1:" + tcpPort + "?transport=tcp', username: 'u', credential: 'p'}"},
      {"TURN over TLS", "{urls: 'turns:127.0.0.1:" + tcpPort + "?transport=tcp', username: 'u', credential: 'p'}"},
  };
  // Where the script finds its constructor (each hands a window to go): the page itself,
  // its prefixed name, frames the page makes (their first, empty document, reached every
  // way there is), and a frame's own document once it has loaded.
  const struct {
    const char* Name;
    std::string Find;
  } places[] = {
      {"page", "go(window);"},
      {"page, prefixed name", "go({RTCPeerConnection: window.webkitRTCPeerConnection});"},
      {"new empty frame", "var f = document.createElement('iframe'); document.body.appendChild(f); go(f.contentWindow);"},
      {"frame reached by its index", "var f = document.createElement('iframe'); f.src = 'http://127.0.0.1:9/';"
                                     " document.body.appendChild(f); go(window[window.length - 1]);"},
      {"frame running a javascript: address", "window.__go = go; var f = document.createElement('iframe');"
                                              " f.src = 'javascript:parent.__go(window)'; document.body.appendChild(f);"},
      {"frame made inside a new frame",
       "var f = document.createElement('iframe'); document.body.appendChild(f); var d = f.contentWindow.document;"
       " var g = d.createElement('iframe'); d.body.appendChild(g); go(g.contentWindow);"},
      {"frame added as markup", "document.body.insertAdjacentHTML('beforeend', '<iframe></iframe>'); go(window[window.length - 1]);"},
      {"frame with a document of its own",
       "var f = document.createElement('iframe'); f.srcdoc = '<p>x</p>';"
       " f.onload = function () { go(f.contentWindow); }; document.body.appendChild(f);"},
  };
  FPage.AppendChatHtml("<p>x</p>");
  for (const auto& place : places) {
    for (const auto& server : servers) {
      const std::string row = std::string(place.Name) + ", " + server.Name;
      Eval("window.__rtc = 'none';"
           "(function () {"
           " function go(w) {"
           "  try {"
           "   var pc = new w.RTCPeerConnection({iceServers: [" + server.Server + "]});"
           "   pc.onicegatheringstatechange = function () { window.__rtc = pc.iceGatheringState; };"
           "   pc.createDataChannel('d');"
           "   pc.createOffer().then(function (o) { return pc.setLocalDescription(o); })"
           "     .catch(function (e) { window.__rtc = 'refused: ' + e.message; });"
           "   window.__pcs = (window.__pcs || []).concat([pc]);"
           "  } catch (e) { window.__rtc = 'refused: ' + e.message; }"
           " }"
           " " + place.Find +
           "})(); 0");
      ASSERT_TRUE(QTest::qWaitFor(
          [&] {
            const QString state = EvalText("window.__rtc");
            return tcpConnections > 0 || udpDatagrams > 0 || state == "complete" || state.startsWith("refused");
          },
          kWaitMs))
          << row;
      const QString state = EvalText("window.__rtc");
      EXPECT_EQ(tcpConnections, 0) << row << ": " << state.toStdString();
      EXPECT_EQ(udpDatagrams, 0) << row << ": " << state.toStdString();
      EXPECT_TRUE(state.startsWith("refused") && state.contains("RTCPeerConnection")) << row << ": " << state.toStdString();
      tcpConnections = udpDatagrams = 0;
    }
  }
}

}  // namespace
}  // namespace tarvok

