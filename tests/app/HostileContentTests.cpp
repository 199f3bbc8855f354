// Hostile content in the real window and the real browser engine, delivered every way it
// can reach the chat page: an answer from the service (whole, streamed, and its error
// text), a stored chat opened from the list (its text, file names, MIME types, model name
// and duration), the names of attached files (in the bubble and in the notice about an
// empty one), and the MIME type of a picture answer. Each vector tries to run
// script, to reach a loopback server and to make the window act (the save-code command,
// any dialog, an opening by the system's programs); for every route the figure is zero
// of each. A control run puts the vectors into the page as raw markup and shows that the
// sensors see the live ones, so that a zero means something.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QCheckBox>
#include <QListWidget>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <filesystem>
#include <iostream>
#include <memory>

#include "app/AttachmentsPanel.h"
#include "app/QtText.h"
#include "app/UiTexts.h"
#include "app/WebChatPage.h"
#include "core/JsonWriter.h"
#include "tests/app/support/LoopbackSensors.h"
#include "tests/app/support/WindowFixture.h"
#include "view/MessageRender.h"

namespace tarvok {
namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 30000;
// What every vector runs when it gets loose: a message to the top document, which the
// sensor counts. It reaches the top from any frame, whatever its origin.
const std::string R = "top.postMessage(1,'*')";
const std::string kSaveCommand = "COMMAND:SAVE_CODE:1";

std::string B64(const std::string& AText) { return QByteArray::fromStdString(AText).toBase64().toStdString(); }

struct TVector {
  std::string Name;
  std::string Text;
  // Put into the page as raw markup (with every element clicked, hovered and focused),
  // it trips a sensor; the others need a sink that takes them as something else
  // (a script string, Markdown, an attribute) or are refused even raw.
  bool Live;
};

// U is the loopback server's address without the trailing slash.
std::vector<TVector> HostileVectors(const std::string& U) {
  const std::string svgScript = "<svg xmlns=\"http://www.w3.org/2000/svg\" onload=\"" + R + "\"></svg>";
  const std::string htmlScript = "<script>" + R + "</script>";
  return {
      // Elements and event handlers.
      {"script element", htmlScript, false},
      {"img onerror", "<img src=x onerror=\"" + R + "\">", true},
      {"IMG ONERROR in mixed case, unquoted", "<IMG SRC=x OnError=" + R + ">", true},
      {"svg onload", "<svg onload=\"" + R + "\"></svg>", false},
      {"script inside svg", "<svg><script>" + R + "</script></svg>", false},
      {"svg animate onbegin", "<svg><animate onbegin=\"" + R + "\" attributeName=\"x\" dur=\"1s\"/></svg>", true},
      {"svg link to javascript:", "<svg><a xlink:href=\"javascript:" + R + "\"><text x=\"20\" y=\"20\">x</text></a></svg>", true},
      {"svg foreignObject", "<svg><foreignObject><img src=x onerror=\"" + R + "\"></foreignObject></svg>", true},
      {"mathml mglyph style", "<math><mtext><table><mglyph><style><img src=x onerror=\"" + R + "\">", false},
      {"mathml href", "<math href=\"javascript:" + R + "\"><mi>x</mi></math>", false},
      {"details ontoggle", "<details open ontoggle=\"" + R + "\"><summary>s</summary></details>", true},
      {"input onfocus", "<input autofocus onfocus=\"" + R + "\">", false},
      {"video source onerror", "<video><source src=x onerror=\"" + R + "\"></video>", true},
      {"body onload", "<body onload=\"" + R + "\">", false},
      {"div onmouseover", "<div onmouseover=\"" + R + "\">hover</div>", true},
      {"image map area to javascript:", "<img usemap=\"#m\" src=x><map name=\"m\"><area shape=\"default\" href=\"javascript:" + R + "\"></map>", true},
      {"script reaching for the host's channel",
       "<img src=x onerror=\"try { new QWebChannel(qt.webChannelTransport, function (c) { c.objects.host.openLink('" + U +
           "/bridge'); }); } catch (e) {} " + R + "\">",
       true},
      {"a href javascript:", "<a href=\"javascript:" + R + "\">x</a>", false},
      {"form button formaction javascript:", "<form><button formaction=\"javascript:" + R + "\">go</button></form>", true},
      {"form posting to loopback", "<form action=\"" + U + "/form\" method=\"post\"><button>go</button></form>", false},
      // Frames, objects, embeds.
      {"iframe srcdoc", "<iframe srcdoc=\"" + htmlScript + "\"></iframe>", true},
      {"iframe javascript: src", "<iframe src=\"javascript:" + R + "\"></iframe>", true},
      {"iframe to loopback", "<iframe src=\"" + U + "/frame\"></iframe>", false},
      {"iframe data: html", "<iframe src=\"data:text/html;base64," + B64(htmlScript) + "\"></iframe>", false},
      {"object to loopback", "<object data=\"" + U + "/object\"></object>", false},
      {"embed svg data:", "<embed src=\"data:image/svg+xml;base64," + B64(svgScript) + "\">", false},
      {"embed to loopback", "<embed src=\"" + U + "/embed\">", false},
      // Document-level elements.
      {"title element with the save command", "<title>" + kSaveCommand + "</title>", true},
      {"svg title with the save command", "<svg><title>" + kSaveCommand + "</title></svg>", false},
      {"base href", "<base href=\"" + U + "/\"><img src=\"rel.png\">", true},
      {"meta refresh to loopback", "<meta http-equiv=\"refresh\" content=\"0;url=" + U + "/refresh\">", false},
      {"meta refresh to about:blank", "<meta http-equiv=\"refresh\" content=\"0;url=about:blank\">", true},
      {"meta refresh to javascript:", "<meta http-equiv=\"refresh\" content=\"0;url=javascript:" + R + "\">", false},
      // Remote resources.
      {"link stylesheet", "<link rel=\"stylesheet\" href=\"" + U + "/css\">", true},
      {"style @import", "<style>@import url(" + U + "/import);</style>", true},
      {"style attribute url()", "<div style=\"background-image:url(" + U + "/bg)\">x</div>", true},
      {"css url() with escapes", "<div style=\"background:u\\72l(" + U + "/escaped)\">x</div>", true},
      {"img srcset", "<img srcset=\"" + U + "/srcset 1x\">", true},
      {"picture source srcset", "<picture><source srcset=\"" + U + "/picture\"><img src=x></picture>", true},
      {"video poster", "<video poster=\"" + U + "/poster\"></video>", true},
      {"audio autoplay", "<audio autoplay src=\"" + U + "/audio\"></audio>", true},
      {"remote img", "<img src=\"" + U + "/img.png\">", true},
      // Broken and nested markup.
      {"textarea breakout", "</textarea><img src=x onerror=\"" + R + "\">", true},
      {"unclosed tag at the end", "<img src=x onerror=\"" + R + "\"", false},
      {"script split by a nested tag", "<scr<script>ipt>" + R + "</script>", false},
      {"comment breakout", "<!--<img src=\"--><img src=x onerror=\"" + R + "\">-->", true},
      {"noscript title breakout", "<noscript><p title=\"</noscript><img src=x onerror=" + R + ">\"></noscript>", true},
      {"xmp", "<xmp><img src=x onerror=\"" + R + "\"></xmp>", false},
      {"closing the bubble", "</p></div></div><img src=x onerror=\"" + R + "\">", true},
      {"closing the code block", "</code></pre></div><img src=x onerror=\"" + R + "\">", true},
      {"markup block in lines", "<div>\n<img src=x onerror=\"" + R + "\">\n</div>", true},
      // Entity tricks.
      {"double-escaped markup", "&lt;img src=x onerror=" + R + "&gt;", false},
      {"numeric entities", "&#60;img src=x onerror=" + R + "&#62;", false},
      {"entities inside a handler", "<img src=x onerror=\"&#116;op.postMessage(1,&#39;*&#39;)\">", true},
      // Strings of the script the host runs to append and replace bubbles.
      {"double-quote breakout", "\");" + R + ";(\"", false},
      {"single-quote breakout", "');" + R + ";('", false},
      {"backslash breakout", "\\\");" + R + ";//", false},
      {"script end tag", "</script><script>" + R + "</script>", false},
      {"line separators", "\xE2\x80\xA8\");" + R + ";//\xE2\x80\xA9", false},
      {"hex escapes", "\\x3cimg src=x onerror=" + R + "\\x3e", false},
      {"trailing backslash", "x\\", false},
      // Links and pictures in Markdown, in every spelling of the scheme.
      {"md javascript: link", "[a](javascript:" + R + ")", false},
      {"md JaVaScRiPt: link", "[a](JaVaScRiPt:" + R + ")", false},
      {"md entity-spelled scheme", "[a](&#106;avascript:" + R + ")", false},
      {"md tab entity in the scheme", "[a](java&#x09;script:" + R + ")", false},
      {"md tab in the scheme", "[a](<java\tscript:" + R + ">)", false},
      {"md newline entity in the scheme", "[a](java&#10;script:" + R + ")", false},
      {"md leading space entity", "[a](&#32;javascript:" + R + ")", false},
      {"md leading control character", "[a](<\x01javascript:" + R + ">)", false},
      {"md percent-encoded scheme", "[a](%6Aavascript:" + R + ")", false},
      {"md colon entity", "[a](javascript&colon;" + R + ")", false},
      {"md vbscript:", "[a](vbscript:msgbox(1))", false},
      {"md VBScript: entity", "[a](&#86;BScript:msgbox(1))", false},
      {"md data: html link", "[a](data:text/html;base64," + B64(htmlScript) + ")", false},
      {"md data: svg picture", "![a](data:image/svg+xml;base64," + B64(svgScript) + ")", false},
      {"md reference link", "[a][r]\n\n[r]: javascript:" + R, false},
      {"md autolink", "<javascript:" + R + ">", false},
      {"md remote picture", "![x](" + U + "/md.png)", false},
      {"md remote picture with title", "![x](" + U + "/md2.png \"t\")", false},
      {"md link to loopback", "[x](" + U + "/clicked)", false},
      {"md file: link", "[x](file:///etc/passwd)", false},
      {"md link setting the title", "[" + kSaveCommand + "](javascript:document.title='" + kSaveCommand + "')", false},
      {"md code fence breakout", "```\n</code></pre><img src=x onerror=\"" + R + "\">\n```", true},
      // What the page decorates: formulas (typeset with links and pictures refused), code
      // coloured by the language its fence names, diagrams.
      {"formula with \\href to javascript:", "$\\href{javascript:" + R + "}{x}$ and $$\\href{" + U + "/href}{y}$$", false},
      {"formula with \\url", "\\(\\url{javascript:" + R + "}\\) \\[\\url{" + U + "/url}\\]", false},
      {"formula with a picture and raw html", "$\\includegraphics{" + U + "/tex.png}$ $\\htmlStyle{background:url(" + U +
           "/style)}{z}$ $\\htmlData{x=1}{w}$", false},
      {"formula too big", "$$\\rule{99999em}{99999em}\\def\\a{\\a\\a}\\a$$", false},
      {"markup in a code block's language name", "```\"><img src=x onerror=\"" + R + "\">\nint x = 1;\n```", false},
      {"markup in a coloured code block", "```html\n<img src=x onerror=\"" + R + "\"><script>" + R + "</script>\n```", false},
      {"diagram with a click callback", "```mermaid\ngraph TD\n  A[a] --> B[b]\n  click A call eval(\"" + R +
           "\")\n  click B \"javascript:" + R + "\"\n```", false},
      // The page's one command as plain text.
      {"save command as text", kSaveCommand, false},
      {"save command as a heading", "# " + kSaveCommand, false},
  };
}

// The sensor, in the page's own world from the start of every document: it counts the
// messages any loose script sends to the top document.
// Each one also shows in the address's fragment, which the host hears even when a vector
// has replaced the document (and the count in it) since.
constexpr const char* kSensor =
    "window.__pwned = 0; window.addEventListener('message', function () {"
    " window.__pwned++; location.hash = 'PWNED' + window.__pwned; });";

// Hovers, focuses and clicks every element of the chat as a script can (untrusted events),
// except the save buttons, whose command is the one thing the page may ask of the window.
constexpr const char* kInteract =
    "(function () { var n = 0;"
    " document.querySelectorAll('#chat-container *').forEach(function (el) {"
    "  if (el.closest('.download-btn')) return;"
    "  try { el.dispatchEvent(new MouseEvent('mouseover', {bubbles: true})); } catch (e) {}"
    "  try { if (el.focus) el.focus(); } catch (e) {}"
    "  try { el.dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true, view: window})); } catch (e) {}"
    "  n++; });"
    " return n; })()";

void InstallSensor(WebChatPage& APage) {
  QWebEngineScript sensor;
  sensor.setName(QStringLiteral("hostile-sensor"));
  sensor.setInjectionPoint(QWebEngineScript::DocumentCreation);
  sensor.setWorldId(QWebEngineScript::MainWorld);
  sensor.setRunsOnSubFrames(false);
  sensor.setSourceCode(QString::fromLatin1(kSensor));
  APage.WebPage()->scripts().insert(sensor);
}

QVariant Eval(WebChatPage& APage, const std::string& AScript) {
  bool done = false;
  QVariant value;
  APage.EvaluateScript(AScript, [&](const QVariant& AValue) {
    value = AValue;
    done = true;
  });
  if (!QTest::qWaitFor([&] { return done; }, kWaitMs)) ADD_FAILURE() << "the page did not answer: " << AScript;
  return value;
}

std::string JsonString(const std::string& AText) {
  std::string out = "\"";
  AppendJsonEscaped(out, AText);
  return out + "\"";
}

// The text as the page's text nodes hold it: the HTML parser makes every line end a line feed.
QString AsParsed(std::string AText) {
  std::string out;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] == '\r') {
      out += '\n';
      if (i + 1 < AText.size() && AText[i + 1] == '\n') ++i;
    } else {
      out += AText[i];
    }
  }
  return Q(out);
}

class HostileContentTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Vectors = HostileVectors(Server.Url(""));
  }

  void OpenRealWindow() {
    auto page = std::make_unique<WebChatPage>();
    Web = page.get();
    InstallSensor(*Web);
    QObject::connect(Web->WebPage(), &QWebEnginePage::titleChanged, Web->WebPage(),
                     [this](const QString& ATitle) { Titles.push_back(ATitle); });
    QObject::connect(Web->WebPage(), &QWebEnginePage::urlChanged, Web->WebPage(), [this](const QUrl& AUrl) {
      if (AUrl.fragment().startsWith(QStringLiteral("PWNED"))) ++Executions;
    });
    OpenWindowWith(std::move(page));
  }

  QVariant Eval(const std::string& AScript) { return tarvok::Eval(*Web, AScript); }
  int Count(const std::string& ASelector) {
    return Eval("document.querySelectorAll('" + ASelector + "').length").toInt();
  }

  // Interacts with everything shown, then appends a picture of our own on the loopback
  // server, last in the page: once its refusal has been reported, every earlier request
  // has met the same fate.
  void Settle() {
    Eval(kInteract);
    Web->AppendChatHtml("<img id=\"sentinel\" src=\"" + Server.Url("/sentinel") + "\" onerror=\"this.dataset.done=1\">");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Eval("String(!!document.querySelector('#sentinel[data-done]'))").toString() == "true"; }, kWaitMs));
  }

  // The figure of one route: nothing ran, nothing reached the server, the window did
  // nothing on the page's behalf, and the chat is still there.
  void ExpectNothingGotLoose(const std::string& ARoute) {
    const int executions = std::max(Executions, Eval("window.__pwned").toInt());
    int commands = 0;
    for (const QString& title : Titles)
      if (title.contains(QStringLiteral("COMMAND"), Qt::CaseInsensitive)) ++commands;
    const std::size_t dialogs = Dialogs.Messages.size() + Dialogs.Errors.size() + Dialogs.Questions.size() +
                                Dialogs.InputPrompts.size() + Dialogs.OpenFileCalls.size();
    std::cout << "[ figure   ] " << ARoute << ": " << Vectors.size() << " vectors; executions " << executions
              << ", requests " << Server.Hits() << ", save dialogs " << Dialogs.SaveFileCalls.size()
              << ", other dialogs " << dialogs << ", openings " << Links.Urls.size() << ", title commands "
              << commands << "\n";
    EXPECT_EQ(Eval("typeof window.__pwned").toString(), "number") << ARoute << ": the sensor is not in the page";
    EXPECT_EQ(executions, 0) << ARoute;
    EXPECT_EQ(Server.Hits(), 0) << ARoute;
    EXPECT_EQ(Dialogs.SaveFileCalls.size(), 0u) << ARoute;
    EXPECT_EQ(dialogs, 0u) << ARoute << (Dialogs.Messages.empty() ? "" : ": " + S(Dialogs.Messages.front()));
    EXPECT_TRUE(Links.Urls.empty()) << ARoute << ": " << S(Links.Urls.front().toString());
    EXPECT_EQ(commands, 0) << ARoute;
    EXPECT_EQ(Count("#chat-container"), 1) << ARoute;
  }

  CountingServer Server;
  LinkRecorder Links{{"http", "https", "mailto", "file", "ftp", "javascript", "vbscript", "data", "about"}};
  std::vector<TVector> Vectors;
  WebChatPage* Web = nullptr;
  std::vector<QString> Titles;
  int Executions = 0;
};

TEST_F(HostileContentTest, AnswersFromTheServiceWholeStreamedAndRefusals) {
  UseEmulator();
  OpenRealWindow();
  for (const TVector& v : Vectors) {
    Emulator.Enqueue(TextReply(v.Text, 3, 4));
    SendAndWait(Q(v.Text));
  }
  Form().chkStreamAnswers->setChecked(true);
  for (const TVector& v : Vectors) {
    // Cut inside the vector, so that the first piece is shown as a half-open bubble.
    std::size_t cut = v.Text.size() / 2;
    while (cut > 0 && (static_cast<unsigned char>(v.Text[cut]) & 0xC0) == 0x80) --cut;
    Emulator.Enqueue(emulator::StreamedTextReply({v.Text.substr(0, cut), v.Text.substr(cut)}, 3, 4));
    SendAndWait(QStringLiteral("streamed"));
  }
  // The service's own error text, shown in the failure bubble.
  Form().chkStreamAnswers->setChecked(false);
  for (const TVector& v : Vectors) {
    emulator::TScriptedReply refusal;
    refusal.Status = 400;
    refusal.Body = "{\"error\":{\"code\":400,\"message\":" + JsonString(v.Text) + ",\"status\":\"INVALID_ARGUMENT\"}}";
    Emulator.Enqueue(refusal);
    SendAndWait(QStringLiteral("refused"));
    ASSERT_EQ(Dialogs.Messages.size(), 1u) << v.Name;
    EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgSendRestored);
    Dialogs.Messages.clear();
  }
  // Every bubble decorated, not only those in view, before the sensors are read.
  EXPECT_TRUE(Eval("window.tarvokRich.decorateAll()").toBool());
  Settle();
  ExpectNothingGotLoose("answers, whole, streamed and refusals");
  EXPECT_EQ(Emulator.Requests().size(), 3 * Vectors.size());
  // Every send left its two bubbles: no vector swallowed the ones after it.
  EXPECT_EQ(Count("#chat-container > .message-wrapper.user-message"), static_cast<int>(3 * Vectors.size()));
  EXPECT_EQ(Count("#chat-container > .message-wrapper.model-message"), static_cast<int>(3 * Vectors.size()));
  // The formulas were put through the typesetter, not merely left as text.
  EXPECT_GT(Count(".math .katex"), 0);
  EXPECT_GT(Count("pre code.hljs"), 0);
}

TEST_F(HostileContentTest, AStoredChatOpenedFromTheList) {
  // Each vector as a user's text, a file's MIME type and name, an answer with the vector
  // as text, model name and duration, and a picture answer whose MIME type it is, both as
  // stored inline data and as the picture payload text.
  std::string turns;
  const auto turn = [&](const std::string& ABody) { turns += (turns.empty() ? "" : ",") + ABody; };
  for (const TVector& v : Vectors) {
    const std::string text = JsonString(v.Text);
    turn("{\"role\":\"user\",\"parts\":[{\"text\":" + text + "},{\"inline_data\":{\"mime_type\":" + text +
         ",\"data\":\"eA==\"}},{\"inline_data\":{\"mime_type\":\"text/plain\",\"data\":\"eA==\"},\"file_name\":" +
         JsonString("C:\\Users\\u\\" + v.Text) + "}],\"token_count\":3,\"timestamp\":\"2025-01-01T12:00:00.000Z\"}");
    turn("{\"role\":\"model\",\"parts\":[{\"text\":" + text + "}],\"token_count\":4,\"timestamp\":" + text +
         ",\"model_name\":" + text + ",\"duration\":" + text + "}");
    turn("{\"role\":\"model\",\"parts\":[{\"inline_data\":{\"mime_type\":" + text + ",\"data\":\"iVBORw0KGgo=\"}}]}");
    turn("{\"role\":\"model\",\"parts\":[{\"text\":" +
         JsonString("{\"mime_type\":" + text + ",\"base64_data\":\"iVBORw0KGgo=\"}") + "}]}");
  }
  turn("{\"role\":\"model\",\"parts\":[{\"text\":\"the last turn\"}]}");
  WriteText("chats/Hostile_2025-01-01_120000.json", "{\"contents\":[" + turns + "]}");

  OpenRealWindow();
  QListWidget* chats = Form().ListBox2;
  int row = -1;
  for (int i = 0; i < chats->count(); ++i)
    if (chats->item(i)->text() == QStringLiteral("Hostile")) row = i;
  ASSERT_GE(row, 0);
  chats->setCurrentRow(row);
  ASSERT_EQ(Dm().FChatHistory.size(), 4 * Vectors.size() + 1);
  Settle();
  ExpectNothingGotLoose("stored chat: text, MIME types, file names, model name, duration");

  EXPECT_EQ(Count("#chat-container > .message-wrapper"), static_cast<int>(4 * Vectors.size() + 1));
  EXPECT_TRUE(Eval("Array.from(document.querySelectorAll('#chat-container > .message-wrapper')).pop()"
                   ".querySelector('.message-content').textContent")
                  .toString()
                  .startsWith("the last turn"));
  // The names of the files are shown exactly as written: text, never markup.
  const QVariantList shown = Eval("Array.prototype.map.call(document.querySelectorAll('.user-message .attachments li'),"
                                  " function (li) { return li.textContent; })")
                                 .toList();
  ASSERT_EQ(shown.size(), static_cast<qsizetype>(2 * Vectors.size()));
  for (std::size_t i = 0; i < Vectors.size(); ++i) {
    EXPECT_EQ(shown[2 * i].toString(), AsParsed(StripBidiControls(Vectors[i].Text))) << Vectors[i].Name;
    EXPECT_EQ(shown[2 * i + 1].toString(), AsParsed(StripBidiControls(FileNameOfPath("C:\\Users\\u\\" + Vectors[i].Text))))
        << Vectors[i].Name;
  }
}

TEST_F(HostileContentTest, NamesOfAttachedFilesSent) {
  UseEmulator();
  OpenRealWindow();
  fs::create_directories(Path("files"));
  std::vector<std::string> paths;
  for (const TVector& v : Vectors) {
    // A name holds anything but '/' (here a look-alike) and NUL, within the system's 255 bytes;
    // the number keeps names that differ only in letter case apart (the panel takes one of them).
    std::string name = std::to_string(paths.size()) + " ";
    for (char c : v.Text) name += c == '/' ? std::string("\xE2\x88\x95") : std::string(1, c);
    if (name.size() > 240) name.resize(240);
    while (!name.empty() && (static_cast<unsigned char>(name.back()) & 0xC0) == 0x80) name.pop_back();
    if (!name.empty() && static_cast<unsigned char>(name.back()) >= 0xC0) name.pop_back();
    paths.push_back(MakeFile("files/" + name + ".txt", 3));
    ASSERT_TRUE(fs::exists(paths.back())) << v.Name;
  }
  const std::size_t perSend = static_cast<std::size_t>(Dm().MaxFilesPerRequest);
  std::size_t sends = 0;
  for (std::size_t from = 0; from < paths.size(); from += perSend, ++sends) {
    QStringList batch;
    for (std::size_t i = from; i < std::min(paths.size(), from + perSend); ++i) batch << Q(paths[i]);
    Form().Attachments().AddFiles(batch);
    ASSERT_EQ(Form().FlbFiles1.size(), static_cast<std::size_t>(batch.size()));
    Emulator.Enqueue(TextReply("ok", 3, 4));
    SendAndWait(QStringLiteral("files"));
    ASSERT_TRUE(Form().FlbFiles1.empty()) << "the send went out";
  }
  // An empty file cannot be sent: the notice that says so names it, with its folder.
  fs::create_directories(Path("empty"));
  QStringList notices;
  for (const std::string& full : paths) {
    const std::string path = (Path("empty") / fs::path(full).filename()).string();
    WriteText("empty/" + fs::path(full).filename().string(), "");
    Form().Attachments().AddFiles({Q(path)});
    SendAndWait(QStringLiteral("empty"));
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(S(Dialogs.Messages[0]), ui::kMsgSendRestored);
    Dialogs.Messages.clear();
    Form().Attachments().ClearInputs();
    notices << Q(ui::kErrFileEncode + path).simplified();
  }
  Settle();
  ExpectNothingGotLoose("names of attached files");
  const QVariantList shownNotices =
      Eval("Array.from(document.querySelectorAll('#chat-container > .model-message .message-content')).slice(-" +
           std::to_string(paths.size()) + ").map(function (c) { return c.textContent; })")
          .toList();
  ASSERT_EQ(shownNotices.size(), notices.size());
  for (qsizetype i = 0; i < notices.size(); ++i)
    EXPECT_EQ(S(shownNotices[i].toString().simplified()), S(notices[i])) << Vectors[i].Name;
  EXPECT_EQ(Count("#chat-container > .message-wrapper"), static_cast<int>(2 * sends + 2 * paths.size()));
  const QVariantList shown = Eval("Array.prototype.map.call(document.querySelectorAll('.user-message .attachments li'),"
                                  " function (li) { return li.textContent; })")
                                 .toList();
  // Listed in the bubbles of both rounds, the sent files' and the empty ones'.
  ASSERT_EQ(shown.size(), static_cast<qsizetype>(2 * paths.size()));
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const QString name = AsParsed(StripBidiControls(FileNameOfPath(paths[i])));
    EXPECT_EQ(shown[i].toString(), name) << Vectors[i].Name;
    EXPECT_EQ(shown[paths.size() + i].toString(), name) << Vectors[i].Name;
  }
}

TEST_F(HostileContentTest, PictureAnswersWithAHostileMimeType) {
  UseEmulator();
  WriteText("Models.txt", "gemini-2.5-flash-image\r\n");
  OpenRealWindow();
  for (const TVector& v : Vectors) {
    emulator::TScriptedReply picture;
    picture.Body = "{\"candidates\":[{\"content\":{\"parts\":[{\"inlineData\":{\"mimeType\":" + JsonString(v.Text) +
                   ",\"data\":\"iVBORw0KGgo=\"}}],\"role\":\"model\"},\"finishReason\":\"STOP\",\"index\":0}],"
                   "\"usageMetadata\":{\"promptTokenCount\":3,\"candidatesTokenCount\":4,\"totalTokenCount\":7}}";
    Emulator.Enqueue(picture);
    SendAndWait(QStringLiteral("draw"));
  }
  Settle();
  ExpectNothingGotLoose("picture answers' MIME type");
  EXPECT_EQ(Emulator.Requests().size(), Vectors.size());
  EXPECT_EQ(Count("#chat-container > .message-wrapper"), static_cast<int>(2 * Vectors.size()));
}

// The sensors see what they are there to see: each vector marked live, put into the page
// as raw markup with nothing in between, runs script, asks for the network, sets the
// title or replaces the chat. One page for all (a document load costs a second or two
// here): the chat is emptied after each vector, and the page loaded again only when a
// vector took it away.
TEST_F(HostileContentTest, LiveVectorsTripTheSensorsWhenPutInThePageRaw) {
  WebChatPage page;
  InstallSensor(page);
  int titleChanges = 0;
  QObject::connect(page.WebPage(), &QWebEnginePage::titleChanged, page.WebPage(), [&](const QString& ATitle) {
    if (ATitle.startsWith(QString::fromStdString(kSaveCommand))) ++titleChanges;
  });
  const std::string container = "document.getElementById('chat-container')";
  int live = 0;
  for (const TVector& v : Vectors) {
    if (!v.Live) continue;
    ++live;
    if (!tarvok::Eval(page, "!!" + container).toBool()) {
      page.ResetChatView();
      page.AppendChatHtml("<p>start</p>");
    }
    ASSERT_EQ(tarvok::Eval(page, "typeof window.__pwned").toString(), "number") << "the sensor is not in the page";
    const int executions = tarvok::Eval(page, "window.__pwned").toInt();
    const int blocked = page.BlockedRequestCount(), titles = titleChanges;
    page.AppendChatHtml(v.Text);
    tarvok::Eval(page, kInteract);
    const auto tripped = [&] {
      return tarvok::Eval(page, "window.__pwned > " + std::to_string(executions) + " || !" + container).toBool() ||
             page.BlockedRequestCount() > blocked || titleChanges > titles || Server.Hits() > 0;
    };
    EXPECT_TRUE(QTest::qWaitFor(tripped, 10000)) << v.Name;
    tarvok::Eval(page, "if (" + container + ") " + container + ".innerHTML = ''; 0");
  }
  std::cout << "[ figure   ] " << live << " of " << Vectors.size() << " vectors trip a sensor as raw markup\n";
  // Even running loose, script reaches nothing of the host's: the link channel lives in
  // another world, and a script's clicks open nothing.
  EXPECT_TRUE(Links.Urls.empty()) << S(Links.Urls.front().toString());
  EXPECT_EQ(Server.Hits(), 0);
}

}  // namespace
}  // namespace tarvok
