#include "view/AnswerExtras.h"

#include <algorithm>
#include <map>
#include <vector>

#include "view/Markdown.h"
#include "view/MessageRender.h"

namespace tarvok {
namespace {

std::string LowerAscii(std::string_view AText) {
  std::string out(AText);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// A stand-in is "<", U+E000, the mark's number, U+E001, ">". The "<" makes the converter
// end an autolink before it (a mark after an address must not join the address) and,
// followed by no tag, comes out as "&lt;".
constexpr std::string_view kOpen = "\xEE\x80\x80";   // U+E000
constexpr std::string_view kClose = "\xEE\x80\x81";  // U+E001
constexpr std::string_view kHtmlOpen = "&lt;\xEE\x80\x80";
constexpr std::string_view kHtmlClose = "\xEE\x80\x81&gt;";

struct TMark {
  std::size_t At = 0;
  std::vector<std::int32_t> Sources;  // in the order the supports name them, once each
};

// The marks in the order of their places in the text.
std::vector<TMark> CitationMarks(std::string_view AText, const TGrounding& AGrounding) {
  std::map<std::size_t, std::vector<std::int32_t>> at;
  for (const TGroundingSupport& support : AGrounding.Supports) {
    if (support.EndIndex <= 0 || support.EndIndex > static_cast<std::int64_t>(AText.size())) continue;
    auto end = static_cast<std::size_t>(support.EndIndex);
    while (end < AText.size() && (static_cast<unsigned char>(AText[end]) & 0xC0) == 0x80) ++end;
    auto& sources = at[end];
    for (std::int32_t source : support.Sources) {
      if (source < 0 || static_cast<std::size_t>(source) >= AGrounding.Sources.size()) continue;
      if (std::find(sources.begin(), sources.end(), source) == sources.end()) sources.push_back(source);
    }
  }
  std::vector<TMark> marks;
  for (auto& [place, sources] : at)
    if (!sources.empty()) marks.push_back({place, std::move(sources)});
  return marks;
}

std::string MarkHtml(const TMark& AMark, const TGrounding& AGrounding) {
  std::string html = "<sup class=\"citation\">";
  for (std::int32_t source : AMark.Sources) {
    const std::string number = "[" + std::to_string(source + 1) + "]";
    const std::string& uri = AGrounding.Sources[static_cast<std::size_t>(source)].Uri;
    if (IsWebLink(uri)) html += "<a href=\"" + EscapeHtml(uri) + "\">" + number + "</a>";
    else html += number;
  }
  return html + "</sup>";
}

bool StartsTag(std::string_view AHtml, std::size_t AAt, std::string_view ATag) {
  if (AHtml.compare(AAt, ATag.size(), ATag) != 0) return false;
  const std::size_t next = AAt + ATag.size();
  return next < AHtml.size() && (AHtml[next] == '>' || AHtml[next] == ' ');
}

std::string SourceTitle(const TGroundingSource& ASource) {
  if (!ASource.Title.empty()) return ASource.Title;
  const std::string host = UrlHost(ASource.Uri);
  return host.empty() ? ASource.Uri : host;
}

// The host when it says more than the title does.
std::string HostNote(const TGroundingSource& ASource) {
  const std::string host = UrlHost(ASource.Uri);
  if (host.empty() || host == LowerAscii(SourceTitle(ASource))) return {};
  return host;
}

}  // namespace

std::string RenderThoughtsBlock(std::string_view AThoughts, const TMarkdownConverter& AConvert) {
  if (AThoughts.empty()) return {};
  std::string body;
  try {
    body = WrapCodeBlocks(AConvert ? AConvert(AThoughts) : MarkdownToHtml(AThoughts));
  } catch (const std::exception&) {
    body = "<pre>" + EscapeHtml(AThoughts) + "</pre>";
  }
  return std::string("<details class=\"thoughts\"><summary>") + kThoughtsSummary + "</summary>" + body + "</details>";
}

std::string InsertCitationStandIns(std::string_view AText, const TGrounding& AGrounding) {
  const std::vector<TMark> marks = CitationMarks(AText, AGrounding);
  if (marks.empty()) return std::string(AText);
  std::string out;
  out.reserve(AText.size() + marks.size() * 16);
  std::size_t from = 0;
  for (std::size_t k = 0; k < marks.size(); ++k) {
    out.append(AText.substr(from, marks[k].At - from));
    out += "<";
    out += kOpen;
    out += std::to_string(k);
    out += kClose;
    out += ">";
    from = marks[k].At;
  }
  out.append(AText.substr(from));
  return out;
}

std::string ReplaceCitationStandIns(std::string_view AHtml, std::string_view AText, const TGrounding& AGrounding) {
  const std::vector<TMark> marks = CitationMarks(AText, AGrounding);
  if (marks.empty()) return std::string(AHtml);
  std::string out;
  out.reserve(AHtml.size() + marks.size() * 96);
  int inCode = 0;
  bool inTag = false;
  for (std::size_t i = 0; i < AHtml.size();) {
    if (AHtml.compare(i, kHtmlOpen.size(), kHtmlOpen) == 0) {
      const std::size_t digits = i + kHtmlOpen.size();
      std::size_t end = digits;
      while (end < AHtml.size() && AHtml[end] >= '0' && AHtml[end] <= '9' && end - digits < 9) ++end;
      if (end > digits && AHtml.compare(end, kHtmlClose.size(), kHtmlClose) == 0) {
        const std::size_t k = std::stoul(std::string(AHtml.substr(digits, end - digits)));
        if (k < marks.size()) {
          if (inCode == 0 && !inTag) out += MarkHtml(marks[k], AGrounding);
          i = end + kHtmlClose.size();
          continue;
        }
      }
    }
    const char c = AHtml[i];
    if (c == '<') {
      inTag = true;
      if (StartsTag(AHtml, i, "<code")) ++inCode;
      else if (StartsTag(AHtml, i, "</code") && inCode > 0) --inCode;
    } else if (c == '>') {
      inTag = false;
    }
    out += c;
    ++i;
  }
  return out;
}

std::string RenderSourcesBlock(const TGrounding& AGrounding) {
  if (AGrounding.Sources.empty() && AGrounding.Queries.empty()) return {};
  std::string html = "<div class=\"sources\">";
  if (!AGrounding.Sources.empty()) {
    html += std::string("<strong>") + kSourcesTitle + "</strong><ol>";
    for (const TGroundingSource& source : AGrounding.Sources) {
      const std::string title = EscapeHtml(SourceTitle(source));
      html += "<li>";
      if (IsWebLink(source.Uri)) html += "<a href=\"" + EscapeHtml(source.Uri) + "\">" + title + "</a>";
      else html += title;
      const std::string host = HostNote(source);
      if (!host.empty()) html += " <span class=\"source-host\">(" + EscapeHtml(host) + ")</span>";
      html += "</li>";
    }
    html += "</ol>";
  }
  if (!AGrounding.Queries.empty()) {
    html += std::string("<div class=\"search-queries\">") + kSearchQueriesTitle;
    for (std::size_t i = 0; i < AGrounding.Queries.size(); ++i) {
      html += i == 0 ? " " : ", ";
      html += "<a href=\"" + EscapeHtml(GoogleSearchUrl(AGrounding.Queries[i])) + "\">" +
              EscapeHtml(AGrounding.Queries[i]) + "</a>";
    }
    html += "</div>";
  }
  return html + "</div>";
}

std::string SourcesMarkdown(const TGrounding& AGrounding) {
  std::string md;
  if (!AGrounding.Sources.empty()) {
    md += std::string("**") + kSourcesTitle + "**\n\n";
    for (std::size_t i = 0; i < AGrounding.Sources.size(); ++i) {
      const TGroundingSource& source = AGrounding.Sources[i];
      md += std::to_string(i + 1) + ". ";
      const std::string title = MarkdownLiteral(SourceTitle(source));
      if (IsWebLink(source.Uri)) md += "[" + title + "](<" + source.Uri + ">)";
      else md += title;
      const std::string host = HostNote(source);
      if (!host.empty()) md += " (" + MarkdownLiteral(host) + ")";
      md += "\n";
    }
    md += "\n";
  }
  if (!AGrounding.Queries.empty()) {
    md += kSearchQueriesTitle;
    for (std::size_t i = 0; i < AGrounding.Queries.size(); ++i)
      md += (i == 0 ? " [" : ", [") + MarkdownLiteral(AGrounding.Queries[i]) + "](<" +
            GoogleSearchUrl(AGrounding.Queries[i]) + ">)";
    md += "\n\n";
  }
  return md;
}

std::string GoogleSearchUrl(std::string_view AQuery) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "https://www.google.com/search?q=";
  for (const char ch : AQuery) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == '~') {
      url += ch;
    } else if (c == ' ') {
      url += '+';
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

bool IsWebLink(std::string_view AUri) {
  const std::string lower = LowerAscii(AUri.substr(0, 8));
  if (!lower.starts_with("http://") && !lower.starts_with("https://")) return false;
  for (const char c : AUri)
    if (static_cast<unsigned char>(c) <= 0x20 || c == '"' || c == '<' || c == '>' || c == '\\' || c == 0x7F) return false;
  return !UrlHost(AUri).empty();
}

std::string UrlHost(std::string_view AUri) {
  const std::string lower = LowerAscii(AUri.substr(0, 8));
  std::size_t start = 0;
  if (lower.starts_with("http://")) start = 7;
  else if (lower.starts_with("https://")) start = 8;
  else return {};
  std::string_view rest = AUri.substr(start);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
  if (rest.starts_with('[')) {
    const std::size_t close = rest.find(']');
    return close == std::string_view::npos ? std::string() : LowerAscii(rest.substr(0, close + 1));
  }
  return LowerAscii(rest.substr(0, rest.find(':')));
}

}  // namespace tarvok
