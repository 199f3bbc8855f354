// Answers decorated by the page in the real browser engine, offscreen: code in colour,
// formulas typeset, tables drawn, all from the program's own files and none of it able
// to run what an answer holds.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWidget>
#include <algorithm>
#include <memory>
#include <string>

#include "app/ChatView.h"
#include "app/QtText.h"
#include "app/RichExport.h"
#include "app/RichLibraries.h"
#include "app/WebChatPage.h"
#include "storage/ChatFile.h"
#include "tests/app/support/RichAnswerProbe.h"
#include "tests/app/support/TestDialogs.h"
#include "tests/app/support/WindowFixture.h"
#include "view/ChatExport.h"
#include "view/MessageRender.h"
#include "view/StreamRender.h"

namespace tarvok {
namespace {

class RichAnswerTest : public ::testing::Test {
 protected:
  // Bubbles are decorated as they come into view, so the pane is shown.
  void SetUp() override {
    FPage.Widget()->resize(1000, 800);
    FPage.Widget()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(FPage.Widget()));
  }
  QVariant Eval(const std::string& AScript) { return EvalInPage(FPage, AScript); }

  WebChatPage FPage;
  TestDialogs FDialogs;
  TChatView FView{FPage, FDialogs};
};

TEST_F(RichAnswerTest, TheSortingAnswerShowsColouredCodeTypesetFormulasAndADrawnTable) {
  FView.AddModelMessage(kRichSampleAnswer, "gemini-2.5-pro", 10, "3");
  ExpectRichSampleShown(FPage, ".model-message");
  EXPECT_EQ(FPage.BlockedRequestCount(), 0);
}

TEST_F(RichAnswerTest, AFormulaThatDoesNotParseShowsItsSourceMarked) {
  FView.AddModelMessage("Bad: $\\frac{1}{$ and good: $x^2$", "gemini", -1, "");
  ASSERT_TRUE(QTest::qWaitFor([&] { return Eval("document.querySelectorAll('.katex, .math-error').length").toInt() == 2; },
                              kRichWaitMs));
  EXPECT_EQ(Eval("document.querySelector('.math-error').textContent").toString(), "\\(\\frac{1}{\\)");
  EXPECT_EQ(Eval("document.querySelectorAll('.math .katex').length").toInt(), 1);
}

// A diagram is drawn above its code, which folds away with its buttons; a click callback
// in it does nothing, and a diagram that does not parse stays a code block.
TEST_F(RichAnswerTest, ADiagramIsDrawnWithItsSourceFoldedAndABadOneStaysCode) {
  FPage.EnsureBaseHtmlLoaded();
  Eval("window.pwn = function () { document.title = 'pwned'; }; 0");
  FView.AddModelMessage(
      "```mermaid\ngraph TD\n  A[Начало] --> B[Конец]\n  click A pwn\n  click B \"javascript:pwn()\"\n```\n\n"
      "```mermaid\ngraph TD\n  A -->\n```",
      "gemini", -1, "");
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return Eval("!!window.tarvokRich && tarvokRich.diagramsPending() === 0 && "
                    "document.querySelectorAll('.diagram svg').length === 1").toBool();
      },
      kRichWaitMs));
  const QString drawn = Eval("document.querySelector('.diagram svg').textContent").toString();
  EXPECT_TRUE(drawn.contains(QStringLiteral("Начало")) && drawn.contains(QStringLiteral("Конец"))) << S(drawn);
  // No handler, script or script address is left in it (the strict level keeps a bare <a> around a clickable node).
  EXPECT_EQ(Eval("Array.from(document.querySelectorAll('.diagram *')).filter(function(e){return e.tagName.toLowerCase()"
                 "==='script'||Array.from(e.attributes).some(function(a){return /^on/i.test(a.name)||"
                 "/javascript:|pwn/i.test(a.value);});}).length")
                .toInt(),
            0);
  EXPECT_EQ(Eval("document.querySelectorAll('details.diagram-source > .code-block-container pre').length").toInt(), 1);
  EXPECT_EQ(Eval("document.querySelector('details.diagram-source > summary').textContent").toString(),
            QStringLiteral("Исходный текст диаграммы"));
  EXPECT_EQ(Eval("document.querySelectorAll('.code-block-container').length").toInt(), 2) << "the bad one is still code";
  Eval("document.querySelectorAll('.diagram *').forEach(function(e){e.dispatchEvent(new MouseEvent('click',{bubbles:true}));}); 0");
  EXPECT_EQ(Eval("document.querySelectorAll('.diagram').length + ',' + document.title").toString(), "1,");
  EXPECT_EQ(FPage.BlockedRequestCount(), 0);
}

// The growing bubble is decorated as it grows, and the last one is decorated as the bubble
// of an answer that came at once.
TEST_F(RichAnswerTest, AStreamedAnswerIsDecoratedAsItGrows) {
  const std::string whole = RenderModelMessage(kRichSampleAnswer, "gemini-2.5-pro", 45000.5, 7, "3");
  const std::string half(kRichSampleAnswer, std::string_view(kRichSampleAnswer).find("| Алгоритм"));
  FPage.AppendChatHtml(WithBubbleId(RenderModelMessage("Быстрая", "gemini-2.5-pro", 45000.5, -1, ""), "answer_1"));
  FPage.ExecutePageScript(
      ReplaceBubbleScript("answer_1", WithBubbleId(RenderModelMessage(half, "gemini-2.5-pro", 45000.5, -1, ""), "answer_1")));
  EXPECT_GE(Eval(std::string(kDistinctCodeColours)).toInt(), 3);
  FPage.ExecutePageScript(ReplaceBubbleScript("answer_1", whole));
  ExpectRichSampleShown(FPage, ".model-message");
  const QString streamed = Eval("document.querySelector('.model-message').innerHTML").toString();

  FPage.ResetChatView();
  FPage.AppendChatHtml(whole);
  ExpectRichSampleShown(FPage, ".model-message");
  EXPECT_EQ(Eval("document.querySelector('.model-message').innerHTML").toString(), streamed);
}


// The exported page shows the answer as the pane does, with no script and nothing to load.
TEST_F(RichAnswerTest, TheExportedPageIsDecoratedAndSelfContained) {
  THistoryItem question, answer;
  question.Role = "user";
  question.Parts.push_back({TPartType::ptText, "Сортировка?", {}, {}, {}});
  answer.Role = "model";
  answer.Parts.push_back({TPartType::ptText, kRichSampleAnswer, {}, {}, {}});
  const std::string html = WithDecoratedAnswers(ChatToHtml({question, answer}, "chat"));
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find(std::string(kRichScheme) + ":"), std::string::npos);
  EXPECT_EQ(html.find("url(fonts/"), std::string::npos);
  EXPECT_NE(html.find("url(data:font/woff2;base64,"), std::string::npos);
  EXPECT_EQ(html.find("<button"), std::string::npos);

  // Shown as a file would be: the page's own scripts stay off, the decoration is already there.
  FPage.WebPage()->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
  bool loaded = false;
  QObject::connect(FPage.WebPage(), &QWebEnginePage::loadFinished, [&](bool) { loaded = true; });
  FPage.WebPage()->setHtml(QString::fromStdString(html), QUrl(QStringLiteral("about:blank")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, kRichWaitMs));
  FPage.WebPage()->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, true);
  ExpectRichSampleShown(FPage, ".model-message");
  EXPECT_EQ(FPage.BlockedRequestCount(), 0);
}

class RichWindowTest : public WindowTest {};

// Sent, streamed and reopened: each time the answer shows decorated, and the chat file keeps
// the Markdown as it came.
TEST_F(RichWindowTest, AStreamedAnswerAndTheReopenedChatShowItDecoratedAndTheFileKeepsTheMarkdown) {
  UseEmulator();
  auto page = std::make_unique<WebChatPage>();
  WebChatPage& web = *page;
  OpenWindowWith(std::move(page));
  const std::string answer = kRichSampleAnswer;
  std::vector<std::string> pieces;
  for (std::size_t at = 0; at < answer.size();) {
    std::size_t end = std::min(answer.size(), at + 60);
    while (end < answer.size() && (static_cast<unsigned char>(answer[end]) & 0xC0) == 0x80) ++end;  // whole characters
    pieces.push_back(answer.substr(at, end - at));
    at = end;
  }
  Form().chkStreamAnswers->setChecked(true);
  Emulator.Enqueue(emulator::StreamedTextReply(pieces, 12, 40, 30));
  SendAndWait("Как быстро сортирует quicksort?");
  ExpectRichSampleShown(web, ".model-message");

  TChatHistory stored;
  std::int32_t tokens = 0;
  ASSERT_FALSE(Form().FCurrentChatFile.empty());
  ASSERT_TRUE(ReadChatFile(Form().FCurrentChatFile, stored, tokens));
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[1].Parts.at(0).Text, answer);

  QTest::mouseClick(Form().btnNewChat, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return EvalInPage(web, "document.querySelectorAll('.model-message').length").toInt() == 0; },
                              kRichWaitMs));
  ASSERT_GE(Form().ListBox2->count(), 2);
  Form().ListBox2->setCurrentRow(Form().ListBox2->count() - 1);
  ExpectRichSampleShown(web, ".model-message");
  EXPECT_EQ(web.BlockedRequestCount(), 0);
}

}  // namespace
}  // namespace tarvok
