#include "view/Markdown.h"

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace tarvok {
namespace {

constexpr const char* kExtensions[] = {"table", "strikethrough", "autolink", "tagfilter"};
// CMARK_OPT_DEFAULT is the safe setting: raw HTML omitted, dangerous URLs emptied.
constexpr int kOptions = CMARK_OPT_DEFAULT;
// Each round can reveal a further unclosed opener in text the previous one had swallowed;
// beyond this many rounds the rest is shown as plain text rather than parsed again.
constexpr int kMaxReparses = 16;

struct TParserDeleter {
  void operator()(cmark_parser* AParser) const { cmark_parser_free(AParser); }
};
struct TNodeDeleter {
  void operator()(cmark_node* ANode) const { cmark_node_free(ANode); }
};

struct TParsed {
  std::unique_ptr<cmark_parser, TParserDeleter> Parser;
  std::unique_ptr<cmark_node, TNodeDeleter> Document;
};

TParsed Parse(std::string_view AMarkdown) {
  TParsed parsed;
  parsed.Parser.reset(cmark_parser_new(kOptions));
  if (!parsed.Parser) throw TMarkdownError("cannot create the Markdown parser");
  for (const char* name : kExtensions) {
    cmark_syntax_extension* extension = cmark_find_syntax_extension(name);
    if (!extension || !cmark_parser_attach_syntax_extension(parsed.Parser.get(), extension))
      throw TMarkdownError(std::string("Markdown extension not available: ") + name);
  }
  cmark_parser_feed(parsed.Parser.get(), AMarkdown.data(), AMarkdown.size());
  parsed.Document.reset(cmark_parser_finish(parsed.Parser.get()));
  if (!parsed.Document) throw TMarkdownError("the Markdown parser failed");
  return parsed;
}

std::vector<cmark_node*> NodesOfType(cmark_node* ARoot, cmark_node_type AType) {
  std::vector<cmark_node*> nodes;
  cmark_iter* iter = cmark_iter_new(ARoot);
  for (cmark_event_type ev; (ev = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
    cmark_node* node = cmark_iter_get_node(iter);
    if (ev == CMARK_EVENT_ENTER && cmark_node_get_type(node) == AType) nodes.push_back(node);
  }
  cmark_iter_free(iter);
  return nodes;
}

bool StartsWithNoCase(std::string_view AText, std::string_view APrefix) {
  if (AText.size() < APrefix.size()) return false;
  for (std::size_t i = 0; i < APrefix.size(); ++i) {
    char c = AText[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != APrefix[i]) return false;
  }
  return true;
}

bool ContainsNoCase(std::string_view AText, std::string_view ALowerNeedle) {
  for (std::size_t i = 0; i + ALowerNeedle.size() <= AText.size(); ++i)
    if (StartsWithNoCase(AText.substr(i), ALowerNeedle)) return true;
  return false;
}

// A raw-HTML block whose opener waits for an end marker (a comment, <?, <!X, CDATA,
// <script>, <pre>, <style>, <textarea>) and never saw it: the converter then took everything
// up to the end of its container as that block, and the safe setting drops it whole.
bool IsUnclosedHtmlBlock(cmark_node* ANode) {
  const char* literal = cmark_node_get_literal(ANode);
  std::string_view text = literal ? std::string_view(literal) : std::string_view();
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (text.starts_with("<!--")) return text.find("-->") == std::string_view::npos;
  if (text.starts_with("<?")) return text.find("?>") == std::string_view::npos;
  if (text.starts_with("<![CDATA[")) return text.find("]]>") == std::string_view::npos;
  if (text.size() > 2 && text.starts_with("<!") &&
      ((text[2] >= 'a' && text[2] <= 'z') || (text[2] >= 'A' && text[2] <= 'Z')))
    return text.find('>') == std::string_view::npos;
  for (const std::string_view tag : {"script", "pre", "style", "textarea"}) {
    if (!StartsWithNoCase(text.substr(1), tag) || text.front() != '<') continue;
    const std::string_view after = text.substr(1 + tag.size());
    if (!after.empty() && after.front() != ' ' && after.front() != '\t' && after.front() != '>' &&
        after.front() != '\n' && after.front() != '\r')
      continue;
    return !ContainsNoCase(text, "</" + std::string(tag) + ">");
  }
  return false;
}

// Where each line starts, split as the converter splits them (LF, CR LF or a lone CR).
std::vector<std::size_t> LineStarts(std::string_view AText) {
  std::vector<std::size_t> starts{0};
  for (std::size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n') ++i;
    if (AText[i] == '\n' || AText[i] == '\r') starts.push_back(i + 1);
  }
  return starts;
}

// The converter reads a NUL as U+FFFD; the same text with that done keeps its columns in step.
std::string WithoutNul(std::string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (const char c : AText) {
    if (c == '\0') out += "\xEF\xBF\xBD";
    else out += c;
  }
  return out;
}

// Puts a backslash before the '<' that opened each unclosed block, so that it reads as text
// and what followed it is Markdown again. False when a position does not hold such a '<'.
bool EscapeOpeners(std::string& AText, const std::vector<cmark_node*>& ABlocks) {
  const std::vector<std::size_t> lines = LineStarts(AText);
  std::vector<std::size_t> at;
  for (cmark_node* block : ABlocks) {
    const int line = cmark_node_get_start_line(block);
    const int column = cmark_node_get_start_column(block);
    if (line < 1 || static_cast<std::size_t>(line) > lines.size() || column < 1) return false;
    std::size_t offset = lines[line - 1] + static_cast<std::size_t>(column - 1);
    // The block's column is where its line starts after the container's markers; the
    // opener itself may follow a few spaces.
    while (offset < AText.size() && AText[offset] == ' ') ++offset;
    if (offset >= AText.size() || AText[offset] != '<') return false;
    at.push_back(offset);
  }
  std::sort(at.begin(), at.end());
  at.erase(std::unique(at.begin(), at.end()), at.end());
  for (auto it = at.rbegin(); it != at.rend(); ++it) AText.insert(*it, 1, '\\');
  return true;
}

// The last resort: the block's text as a plain paragraph, nothing dropped.
void ShowAsText(cmark_node* ABlock) {
  cmark_mem* mem = cmark_get_default_mem_allocator();
  cmark_node* paragraph = cmark_node_new_with_mem(CMARK_NODE_PARAGRAPH, mem);
  cmark_node* text = cmark_node_new_with_mem(CMARK_NODE_TEXT, mem);
  const char* literal = cmark_node_get_literal(ABlock);
  cmark_node_set_literal(text, literal ? literal : "");
  cmark_node_append_child(paragraph, text);
  cmark_node_replace(ABlock, paragraph);
  cmark_node_free(ABlock);
}

bool IsDataUrl(const char* AUrl) { return AUrl && StartsWithNoCase(AUrl, "data:"); }

// A picture on another address becomes a link to it: opening the page loads nothing.
void RemotePicturesAsLinks(cmark_node* ARoot) {
  cmark_mem* mem = cmark_get_default_mem_allocator();
  for (cmark_node* image : NodesOfType(ARoot, CMARK_NODE_IMAGE)) {
    const char* url = cmark_node_get_url(image);
    if (IsDataUrl(url)) continue;
    cmark_node* link = cmark_node_new_with_mem(CMARK_NODE_LINK, mem);
    cmark_node_set_url(link, url ? url : "");
    const char* title = cmark_node_get_title(image);
    if (title && *title) cmark_node_set_title(link, title);
    while (cmark_node* child = cmark_node_first_child(image)) {
      cmark_node_unlink(child);
      cmark_node_append_child(link, child);
    }
    if (!cmark_node_first_child(link)) {  // no words to click on: the address itself
      cmark_node* text = cmark_node_new_with_mem(CMARK_NODE_TEXT, mem);
      cmark_node_set_literal(text, url ? url : "");
      cmark_node_append_child(link, text);
    }
    cmark_node_replace(image, link);
    cmark_node_free(image);
  }
}

std::vector<cmark_node*> UnclosedHtmlBlocks(cmark_node* ARoot) {
  std::vector<cmark_node*> blocks = NodesOfType(ARoot, CMARK_NODE_HTML_BLOCK);
  std::erase_if(blocks, [](cmark_node* ANode) { return !IsUnclosedHtmlBlock(ANode); });
  return blocks;
}

}  // namespace

std::string MarkdownToHtml(std::string_view AMarkdown, const TMarkdownOptions& AOptions) {
  static std::once_flag registered;
  std::call_once(registered, [] { cmark_gfm_core_extensions_ensure_registered(); });

  TParsed parsed = Parse(AMarkdown);
  std::string source;  // the answer with its openers escaped, once one needs it
  for (int round = 0; round < kMaxReparses; ++round) {
    const std::vector<cmark_node*> unclosed = UnclosedHtmlBlocks(parsed.Document.get());
    if (unclosed.empty()) break;
    if (round == 0) source = WithoutNul(AMarkdown);
    if (!EscapeOpeners(source, unclosed)) break;
    parsed = Parse(source);
  }
  for (cmark_node* block : UnclosedHtmlBlocks(parsed.Document.get())) ShowAsText(block);
  if (AOptions.RemotePicturesAsLinks) RemotePicturesAsLinks(parsed.Document.get());

  char* html = cmark_render_html(parsed.Document.get(), kOptions, cmark_parser_get_syntax_extensions(parsed.Parser.get()));
  if (!html) throw TMarkdownError("the HTML renderer failed");
  std::string result(html);
  cmark_get_default_mem_allocator()->free(html);
  return result;
}

std::string MarkdownToHtml(std::string_view AMarkdown) { return MarkdownToHtml(AMarkdown, TMarkdownOptions{}); }

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
