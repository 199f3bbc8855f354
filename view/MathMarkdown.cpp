#include "view/MathMarkdown.h"

#include "view/Markdown.h"
#include "view/MessageRender.h"

namespace tarvok {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct TLine {
  std::size_t Begin;
  std::size_t End;  // the line feed (or the text's end)
};

std::vector<TLine> SplitLines(std::string_view AText) {
  std::vector<TLine> lines;
  std::size_t at = 0;
  while (at <= AText.size()) {
    const std::size_t end = AText.find('\n', at);
    if (end == std::string_view::npos) {
      lines.push_back({at, AText.size()});
      break;
    }
    lines.push_back({at, end});
    at = end + 1;
  }
  return lines;
}

bool IsBlank(std::string_view ALine) {
  for (const char c : ALine)
    if (!IsSpace(c)) return false;
  return true;
}

// The line without its indentation and block-quote marks.
std::string_view BlockStart(std::string_view ALine) {
  std::size_t i = 0;
  while (i < ALine.size() && (ALine[i] == ' ' || ALine[i] == '\t' || ALine[i] == '>')) ++i;
  return ALine.substr(i);
}

bool IsIndented(std::string_view ALine) { return ALine.starts_with("    ") || ALine.starts_with("\t"); }

bool IsListItem(std::string_view ALine) {
  std::string_view s = BlockStart(ALine);
  if (s.size() >= 2 && (s[0] == '-' || s[0] == '*' || s[0] == '+') && (s[1] == ' ' || s[1] == '\t')) return true;
  std::size_t digits = 0;
  while (digits < s.size() && digits < 9 && IsDigit(s[digits])) ++digits;
  return digits > 0 && digits + 1 < s.size() && (s[digits] == '.' || s[digits] == ')') &&
         (s[digits + 1] == ' ' || s[digits + 1] == '\t');
}

// The fence a line opens ("```", "~~~~", ...) or empty. Fences are recognised at any
// indentation: taking too much for code only leaves a formula untypeset.
std::string_view FenceOf(std::string_view ALine) {
  const std::string_view s = BlockStart(ALine);
  if (s.empty() || (s[0] != '`' && s[0] != '~')) return {};
  std::size_t n = 0;
  while (n < s.size() && s[n] == s[0]) ++n;
  if (n < 3) return {};
  if (s[0] == '`' && s.substr(n).find('`') != std::string_view::npos) return {};  // an inline code span
  return s.substr(0, n);
}

bool ClosesFence(std::string_view ALine, std::string_view AFence) {
  const std::string_view s = BlockStart(ALine);
  std::size_t n = 0;
  while (n < s.size() && s[n] == AFence[0]) ++n;
  return n >= AFence.size() && IsBlank(s.substr(n));
}

// Marks the lines that belong to fenced or indented code blocks.
std::vector<bool> CodeLines(std::string_view AText, const std::vector<TLine>& ALines) {
  std::vector<bool> code(ALines.size(), false);
  std::string_view fence;
  bool prevBlank = true, prevCode = false, inList = false;
  for (std::size_t k = 0; k < ALines.size(); ++k) {
    const std::string_view line = AText.substr(ALines[k].Begin, ALines[k].End - ALines[k].Begin);
    if (!fence.empty()) {
      code[k] = true;
      if (ClosesFence(line, fence)) fence = {};
      prevBlank = false;
      continue;
    }
    const bool blank = IsBlank(line);
    if (!blank && !(fence = FenceOf(line)).empty()) {
      code[k] = true;
      prevBlank = false;
      prevCode = false;
      continue;
    }
    if (blank) {
      prevBlank = true;
      continue;  // a blank line between indented code lines stays with them, harmlessly
    }
    if (IsListItem(line)) inList = true;
    else if (!IsIndented(line)) inList = false;
    code[k] = !inList && IsIndented(line) && (prevBlank || prevCode);
    prevCode = code[k];
    prevBlank = false;
  }
  return code;
}

class TScanner {
 public:
  TScanner(std::string_view AText, TProtectedMath& AOut) : FText(AText), FOut(AOut) {}

  // Copies AText[ABegin, AEnd) (one paragraph: no blank line inside) to the output with
  // its formulas replaced.
  void Paragraph(std::size_t ABegin, std::size_t AEnd) {
    std::size_t i = ABegin;
    while (i < AEnd) {
      const char c = FText[i];
      if (c == '\\' && i + 1 < AEnd) {
        const char d = FText[i + 1];
        if (d == '(' || d == '[') {
          const std::size_t close = FText.substr(0, AEnd).find(d == '(' ? "\\)" : "\\]", i + 2);
          if (close != std::string_view::npos && Emit(i, i + 2, close, close + 2, d == '[')) {
            i = close + 2;
            continue;
          }
        }
        FOut.Text.append(FText.substr(i, 2));
        i += 2;
        continue;
      }
      if (c == '`') {
        i = CodeSpan(i, AEnd);
        continue;
      }
      if (c == '$') {
        i = Dollar(i, AEnd);
        continue;
      }
      FOut.Text += c;
      ++i;
    }
  }

  void Copy(std::size_t ABegin, std::size_t AEnd) { FOut.Text.append(FText.substr(ABegin, AEnd - ABegin)); }

 private:
  std::size_t RunLength(std::size_t AAt, std::size_t AEnd, char AChar) const {
    std::size_t n = 0;
    while (AAt + n < AEnd && FText[AAt + n] == AChar) ++n;
    return n;
  }

  // A code span is copied whole; a backtick run without its closing run is plain text.
  std::size_t CodeSpan(std::size_t AAt, std::size_t AEnd) {
    const std::size_t n = RunLength(AAt, AEnd, '`');
    for (std::size_t j = AAt + n; j < AEnd;) {
      if (FText[j] != '`') {
        ++j;
        continue;
      }
      const std::size_t m = RunLength(j, AEnd, '`');
      if (m == n) {
        Copy(AAt, j + m);
        return j + m;
      }
      j += m;
    }
    Copy(AAt, AAt + n);
    return AAt + n;
  }

  std::size_t Dollar(std::size_t AAt, std::size_t AEnd) {
    if (AAt + 1 < AEnd && FText[AAt + 1] == '$') {
      for (std::size_t j = AAt + 2; j + 1 < AEnd; ++j) {
        if (FText[j] == '\\') {
          ++j;
          continue;
        }
        if (FText[j] == '$' && FText[j + 1] == '$') {
          if (Emit(AAt, AAt + 2, j, j + 2, true)) return j + 2;
          break;
        }
      }
      Copy(AAt, AAt + 2);
      return AAt + 2;
    }
    if (AAt + 1 < AEnd && !IsSpace(FText[AAt + 1])) {
      for (std::size_t j = AAt + 1; j < AEnd; ++j) {
        if (FText[j] == '\\') {
          ++j;
          continue;
        }
        if (FText[j] != '$') continue;
        if (IsSpace(FText[j - 1]) || (j + 1 < AEnd && IsDigit(FText[j + 1]))) continue;
        if (Emit(AAt, AAt + 1, j, j + 1, false)) return j + 1;
        break;
      }
    }
    FOut.Text += '$';
    return AAt + 1;
  }

  // The formula from AOpen to AEnd (its TeX between ATexBegin and ATexEnd); false when
  // there is nothing but spaces to typeset.
  bool Emit(std::size_t AOpen, std::size_t ATexBegin, std::size_t ATexEnd, std::size_t AEnd, bool ADisplay) {
    std::string_view tex = FText.substr(ATexBegin, ATexEnd - ATexBegin);
    while (!tex.empty() && IsSpace(tex.front())) tex.remove_prefix(1);
    while (!tex.empty() && IsSpace(tex.back())) tex.remove_suffix(1);
    if (tex.empty()) return false;
    FOut.Text += FOut.Placeholder + std::to_string(FOut.Spans.size()) + "x";
    FOut.Spans.push_back({std::string(FText.substr(AOpen, AEnd - AOpen)), std::string(tex), ADisplay});
    return true;
  }

  std::string_view FText;
  TProtectedMath& FOut;
};

// A word no answer holds: Markdown passes it through as plain text wherever it stands.
std::string PlaceholderFor(std::string_view AText) {
  std::string word = "tvkmath";
  while (AText.find(word) != std::string_view::npos) word += 'q';
  return word;
}

}  // namespace

TProtectedMath ProtectMath(std::string_view AMarkdown) {
  TProtectedMath out;
  // Cheap way out for the common answer without any delimiter at all.
  if (AMarkdown.find('$') == std::string_view::npos && AMarkdown.find("\\(") == std::string_view::npos &&
      AMarkdown.find("\\[") == std::string_view::npos) {
    out.Text = AMarkdown;
    return out;
  }
  out.Placeholder = PlaceholderFor(AMarkdown);
  out.Text.reserve(AMarkdown.size());
  const std::vector<TLine> lines = SplitLines(AMarkdown);
  const std::vector<bool> code = CodeLines(AMarkdown, lines);
  TScanner scanner(AMarkdown, out);
  std::size_t k = 0;
  while (k < lines.size()) {
    const std::string_view line = AMarkdown.substr(lines[k].Begin, lines[k].End - lines[k].Begin);
    if (code[k] || IsBlank(line)) {
      scanner.Copy(lines[k].Begin, lines[k].End);
    } else {
      // A paragraph: the following lines up to a blank or code line.
      std::size_t last = k;
      while (last + 1 < lines.size() && !code[last + 1] &&
             !IsBlank(AMarkdown.substr(lines[last + 1].Begin, lines[last + 1].End - lines[last + 1].Begin)))
        ++last;
      scanner.Paragraph(lines[k].Begin, lines[last].End);
      k = last;
    }
    if (lines[k].End < AMarkdown.size()) out.Text += '\n';
    ++k;
  }
  if (out.Spans.empty()) out.Text = AMarkdown;
  return out;
}

std::string RestoreMath(std::string_view AHtml, const TProtectedMath& AProtected) {
  if (AProtected.Spans.empty()) return std::string(AHtml);
  const std::string_view word = AProtected.Placeholder;
  std::string out;
  out.reserve(AHtml.size() + AHtml.size() / 4);
  bool inTag = false;
  for (std::size_t i = 0; i < AHtml.size();) {
    const char c = AHtml[i];
    if (c == '<') inTag = true;
    else if (c == '>') inTag = false;
    if (c == word[0] && AHtml.substr(i, word.size()) == word) {
      std::size_t j = i + word.size(), index = 0;
      while (j < AHtml.size() && IsDigit(AHtml[j]) && j - i - word.size() < 9) index = index * 10 + (AHtml[j++] - '0');
      if (j > i + word.size() && j < AHtml.size() && AHtml[j] == 'x' && index < AProtected.Spans.size()) {
        const TMathSpan& span = AProtected.Spans[index];
        if (inTag) {
          out += EscapeHtml(span.Source);
        } else {
          out += span.Display ? "<span class=\"math display\">\\[" : "<span class=\"math inline\">\\(";
          out += EscapeHtml(span.Tex);
          out += span.Display ? "\\]</span>" : "\\)</span>";
        }
        i = j + 1;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

std::string AnswerToHtml(std::string_view AMarkdown, const TMarkdownOptions& AOptions) {
  const TProtectedMath math = ProtectMath(AMarkdown);
  if (math.Spans.empty()) return MarkdownToHtml(AMarkdown, AOptions);
  return RestoreMath(MarkdownToHtml(math.Text, AOptions), math);
}

std::string AnswerToHtml(std::string_view AMarkdown) { return AnswerToHtml(AMarkdown, TMarkdownOptions{}); }

}  // namespace tarvok
