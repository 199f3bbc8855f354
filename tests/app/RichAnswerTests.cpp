// Answers decorated by the page in the real browser engine, offscreen: code in colour,
// formulas typeset, tables drawn, all from the program's own files and none of it able
// to run what an answer holds.
#include <gtest/gtest.h>

#include <QTest>
#include <QWebEnginePage>
#include <string>

#include "app/ChatView.h"
#include "app/WebChatPage.h"
#include "tests/app/support/RichAnswerProbe.h"
#include "tests/app/support/TestDialogs.h"
#include "view/MessageRender.h"
#include "view/StreamRender.h"

namespace tarvok {
namespace {

class RichAnswerTest : public ::testing::Test {
 protected:
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

}  // namespace
}  // namespace tarvok
