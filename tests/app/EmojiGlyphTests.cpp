// The message headers' 👤 and 🤖 drawn by the real browser engine: a colour emoji font
// must give them a real glyph, not the grey box of a missing one.
#include <gtest/gtest.h>

#include <QTest>

#include "app/WebChatPage.h"
#include "core/DateTime.h"
#include "view/MessageRender.h"

namespace tarvok {
namespace {

// Draws the text in the header's own font and counts the coloured pixels: a colour
// emoji has many; a missing-glyph box or a monochrome fallback has none.
std::string ColouredPixelsScript(const char* ASelector, const char* AText) {
  return std::string("(function(){ var h = document.querySelector('") + ASelector +
         "'); var c = document.createElement('canvas'); c.width = 96; c.height = 96;"
         " var x = c.getContext('2d'); x.font = '64px ' + getComputedStyle(h).fontFamily;"
         " x.textBaseline = 'top'; x.fillStyle = '#000'; x.fillText('" + AText + "', 8, 8);"
         " var d = x.getImageData(0, 0, 96, 96).data, n = 0;"
         " for (var i = 0; i < d.length; i += 4)"
         "   if (d[i + 3] > 0 && (Math.abs(d[i] - d[i + 1]) > 40 || Math.abs(d[i + 1] - d[i + 2]) > 40)) n++;"
         " return n; })()";
}

TEST(EmojiGlyph, TheHeadersRobotAndPersonAreColourGlyphs) {
  WebChatPage page;
  page.AppendChatHtml(RenderUserMessage("q", {}, Now(), "msg_1", -1));
  page.AppendChatHtml(RenderModelMessage("a", "gemini-2.5-flash", Now(), 1, ""));
  struct {
    const char* Selector;
    const char* Text;
    bool Coloured;
  } cases[] = {
      {".model-message .message-header strong", "🤖", true},
      {".user-message .message-header strong", "👤", true},
      // The measure itself: a code point no font has is never coloured.
      {".model-message .message-header strong", "\\uE0FF", false},
  };
  for (const auto& c : cases) {
    bool done = false;
    int coloured = -1;
    page.EvaluateScript(ColouredPixelsScript(c.Selector, c.Text), [&](const QVariant& AValue) {
      coloured = AValue.toInt();
      done = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 30000)) << c.Text;
    if (c.Coloured) {
      EXPECT_GT(coloured, 200) << c.Text << ": install fonts-noto-color-emoji";
    } else {
      EXPECT_EQ(coloured, 0) << c.Text;
    }
  }
}

}  // namespace
}  // namespace tarvok
