#include "view/Markdown.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <cstdlib>
#include <memory>
#include <mutex>

namespace tarvok {
namespace {

constexpr const char* kExtensions[] = {"table", "strikethrough", "autolink", "tagfilter"};

struct TParserDeleter {
  void operator()(cmark_parser* AParser) const { cmark_parser_free(AParser); }
};
struct TNodeDeleter {
  void operator()(cmark_node* ANode) const { cmark_node_free(ANode); }
};

}  // namespace

std::string MarkdownToHtml(std::string_view AMarkdown) {
  static std::once_flag registered;
  std::call_once(registered, [] { cmark_gfm_core_extensions_ensure_registered(); });

  // CMARK_OPT_DEFAULT is the safe setting: raw HTML omitted, dangerous URLs emptied.
  const int options = CMARK_OPT_DEFAULT;
  std::unique_ptr<cmark_parser, TParserDeleter> parser(cmark_parser_new(options));
  if (!parser) throw TMarkdownError("cannot create the Markdown parser");
  for (const char* name : kExtensions) {
    cmark_syntax_extension* extension = cmark_find_syntax_extension(name);
    if (!extension || !cmark_parser_attach_syntax_extension(parser.get(), extension))
      throw TMarkdownError(std::string("Markdown extension not available: ") + name);
  }
  cmark_parser_feed(parser.get(), AMarkdown.data(), AMarkdown.size());
  std::unique_ptr<cmark_node, TNodeDeleter> document(cmark_parser_finish(parser.get()));
  if (!document) throw TMarkdownError("the Markdown parser failed");

  char* html = cmark_render_html(document.get(), options, cmark_parser_get_syntax_extensions(parser.get()));
  if (!html) throw TMarkdownError("the HTML renderer failed");
  std::string result(html);
  cmark_get_default_mem_allocator()->free(html);
  return result;
}

std::string MarkdownLiteral(std::string_view AText) {
  std::string out;
  out.reserve(AText.size() + AText.size() / 4);
  for (const char c : AText) {
    if (c == '\r' || c == '\n') {
      out += ' ';
      continue;
    }
    // "\(" and "\[" would open a formula: these two go as entities, which read the same.
    if (c == '(' || c == '[') {
      out += c == '(' ? "&#40;" : "&#91;";
      continue;
    }
    if ((c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') || (c >= '{' && c <= '~')) out += '\\';
    out += c;
  }
  return out;
}

}  // namespace tarvok
