#pragma once
// Markdown to HTML: the one place that talks to cmark-gfm. CommonMark with tables,
// strikethrough, autolinks and the tag filter, in the library's safe default: raw HTML
// is omitted and javascript:/vbscript:/file: links are emptied.

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvok {

class TMarkdownError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TMarkdownOptions {
  // Pictures on a remote address become links to it (a page read elsewhere loads nothing).
  bool RemotePicturesAsLinks = false;
};

// A fresh converter for each call. Code blocks come out as "<pre><code...>...</code></pre>".
// An opener of raw HTML that waits for an end marker that never comes ("<!--" without
// "-->", "<pre" without "</pre>", ...) shows as text instead of taking the rest with it.
// Raises TMarkdownError when the converter cannot be built or fails.
std::string MarkdownToHtml(std::string_view AMarkdown);
std::string MarkdownToHtml(std::string_view AMarkdown, const TMarkdownOptions& AOptions);

// Markdown whose conversion shows AText as written: every ASCII punctuation character is
// escaped, so that a file name in a notice stays a name and never becomes a link, a picture,
// emphasis, markup or a formula. Line ends become spaces, as the page would show them anyway, so that
// no line of the text can start a block of its own.
std::string MarkdownLiteral(std::string_view AText);

using TMarkdownConverter = std::function<std::string(std::string_view)>;

}  // namespace tarvok
