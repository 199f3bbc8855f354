// Markdown to the HTML of an answer bubble, code blocks wrapped with their buttons: no
// crash and no raw markup from the answer in the page.
#include "fuzz/FuzzSupport.h"
#include "view/Markdown.h"
#include "view/MathMarkdown.h"
#include "view/MessageRender.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  using namespace tarvok;
  const std::string_view text = fuzz::AsText(AData, ASize);
  try {
    const std::string html = WrapCodeBlocks(MarkdownToHtml(text));
    for (const char* raw : {"<script", "<iframe", "<object", "<embed", "href=\"javascript:"})
      TARVOK_FUZZ_CHECK(html.find(raw) == std::string::npos);
  } catch (const TMarkdownError&) {
  }
  // Formulas are set aside and put back: every placeholder comes back, none leaks, and
  // the TeX stays text (no markup of the answer's own).
  try {
    const TProtectedMath math = ProtectMath(text);
    if (math.Spans.empty()) TARVOK_FUZZ_CHECK(math.Text == text);
    const std::string html = RestoreMath(MarkdownToHtml(math.Text), math);
    if (!math.Spans.empty()) TARVOK_FUZZ_CHECK(html.find(math.Placeholder) == std::string::npos);
    for (const char* raw : {"<script", "<iframe", "<object", "<embed", "href=\"javascript:"})
      TARVOK_FUZZ_CHECK(html.find(raw) == std::string::npos);
  } catch (const TMarkdownError&) {
  }
  RenderModelMessage(text, "gemini-2.5-flash", 45000.5, 12, "75");
  return 0;
}
