#pragma once
// Maths in answers. Models write formulas in TeX between dollars or \( \) and \[ \];
// Markdown would eat their backslashes, underscores and pipes, so the formulas are set
// aside before conversion and put back afterwards as spans the page typesets:
//   <span class="math inline">\(TeX\)</span>   <span class="math display">\[TeX\]</span>
// with the TeX escaped as text. An answer without maths converts exactly as before.
//
// Single dollars follow the usual rule of Markdown-with-TeX writers: an opening "$" has a
// non-space right after it, a closing "$" a non-space right before it and no digit right
// after it, so "$5 and $10" stays text. "\$" is a dollar, never a delimiter. Nothing in a
// code span or a code block is maths, and no formula runs across a blank line.

#include <string>
#include <string_view>
#include <vector>

#include "view/Markdown.h"

namespace tarvok {

struct TMathSpan {
  std::string Source;  // as written, delimiters included
  std::string Tex;     // between the delimiters
  bool Display = false;
};

struct TProtectedMath {
  std::string Text;              // AMarkdown with every formula replaced by a placeholder word
  std::string Placeholder;       // the placeholders are Placeholder + index + "x"
  std::vector<TMathSpan> Spans;  // empty: the answer holds no maths
};

TProtectedMath ProtectMath(std::string_view AMarkdown);
// AHtml (the conversion of AProtected.Text) with the placeholders replaced by the math
// spans; inside a tag (a link's address or title) by the formula's escaped source.
std::string RestoreMath(std::string_view AHtml, const TProtectedMath& AProtected);

// Markdown to HTML with the formulas kept; exactly MarkdownToHtml for an answer without any.
std::string AnswerToHtml(std::string_view AMarkdown);
std::string AnswerToHtml(std::string_view AMarkdown, const TMarkdownOptions& AOptions);

}  // namespace tarvok
