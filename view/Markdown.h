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

// A fresh converter for each call. Code blocks come out as "<pre><code...>...</code></pre>".
// Raises TMarkdownError when the converter cannot be built or fails.
std::string MarkdownToHtml(std::string_view AMarkdown);

using TMarkdownConverter = std::function<std::string(std::string_view)>;

}  // namespace tarvok
