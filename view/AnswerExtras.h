#pragma once
// What an answer shows beside its own text: the model's thought summary, folded above
// it, and for a grounded answer the citation marks in the text and the numbered sources
// and search queries under it. Only links to http(s) addresses are made; every link opens
// like any other link of the page, by a click.

#include <string>
#include <string_view>

#include "core/Types.h"
#include "view/Markdown.h"

namespace tarvok {

inline constexpr const char* kThoughtsSummary = "Мысли";
inline constexpr const char* kSourcesTitle = "Источники";
inline constexpr const char* kSearchQueriesTitle = "Поисковые запросы:";

// <details class="thoughts"> with the summary "Мысли" and the thoughts as Markdown; empty
// for empty thoughts. Collapsed unless the page opens it. AConvert, when set, replaces the
// Markdown converter (the HTML export turns remote pictures into links with it).
std::string RenderThoughtsBlock(std::string_view AThoughts, const TMarkdownConverter& AConvert = {});

// The answer's Markdown with a stand-in for a citation mark after every stretch a support
// ties to a source (at its end offset, in bytes of the text, moved forward to a whole
// character). The stand-ins are private-use characters that the converter passes through.
std::string InsertCitationStandIns(std::string_view AText, const TGrounding& AGrounding);
// The converted HTML with each stand-in replaced by its marks, "[n]" links to the sources;
// a stand-in inside code is dropped (the code stays as the model wrote it).
std::string ReplaceCitationStandIns(std::string_view AHtml, std::string_view AText, const TGrounding& AGrounding);

// The "Источники" list (title and host of each source, numbered from 1) and the search
// queries as links to a Google search; empty when there is nothing to list.
std::string RenderSourcesBlock(const TGrounding& AGrounding);

// The same for a Markdown export: a numbered list of links, then the queries.
std::string SourcesMarkdown(const TGrounding& AGrounding);

// "https://www.google.com/search?q=" and the query, percent-encoded.
std::string GoogleSearchUrl(std::string_view AQuery);
// The host of an http(s) address ("example.com" of "https://example.com:8080/a"), lower-cased;
// empty for anything else.
std::string UrlHost(std::string_view AUri);
// Whether the address may become a link: http or https with a host.
bool IsWebLink(std::string_view AUri);

}  // namespace tarvok
