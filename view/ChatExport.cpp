#include "view/ChatExport.h"

#include <cstdio>

#include "view/AnswerExtras.h"
#include "view/MathMarkdown.h"
#include "view/MessageRender.h"
#include "view/PageTemplate.h"

namespace tarvok {
namespace {

constexpr std::string_view kCopyButton = "<button class=\"copy-btn\" onclick=\"copyCode(this)\">Копировать</button>";
constexpr std::string_view kSaveButton =
    "<button class=\"download-btn\" onclick=\"downloadCode(this)\">Скачать</button>";

void ReplaceAll(std::string& AText, std::string_view AWhat, std::string_view AWith) {
  for (std::size_t at = AText.find(AWhat); at != std::string::npos; at = AText.find(AWhat, at + AWith.size()))
    AText.replace(at, AWhat.size(), AWith);
}

// "png" from "image/png"; anything odd in the subtype becomes "bin".
std::string PictureExtension(std::string_view AMimeType) {
  const auto slash = AMimeType.find('/');
  std::string sub(slash == std::string_view::npos ? std::string_view() : AMimeType.substr(slash + 1));
  if (sub == "jpeg") return "jpg";
  if (sub == "svg+xml") return "svg";
  if (sub.empty() || sub.size() > 8) return "bin";
  for (char& c : sub) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return "bin";
  }
  return sub;
}

bool IsPicture(const TContentPart& APart) {
  return APart.PartType == TPartType::ptInlineData && APart.MimeType.rfind("image/", 0) == 0 &&
         APart.Base64Data.size() > 0;
}

std::string Heading(std::string_view AWho, TDateTime ATime) {
  std::string line = "## ";
  line += AWho;
  if (ATime > 0) {
    line += " \xE2\x80\x94 ";  // an em dash between the role and the time
    line += FormatMessageTimestamp(ATime);
  }
  return line + "\n\n";
}

// A file name as a link target in the pointy-bracket form, which keeps spaces and other
// characters as they are: only what a viewer would read as something else is encoded.
std::string LinkTarget(std::string_view AFileName) {
  std::string out;
  for (const char c : AFileName) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || c == '%' || c == '#' || c == '?' || c == '<' || c == '>' || c == '\\') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

// The name as a link's words: brackets and backslashes would end or change the link.
std::string LinkWords(std::string_view AFileName) {
  std::string out;
  for (const char c : AFileName) {
    if (c == '[' || c == ']' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

TMarkdownExport ChatToMarkdown(const TChatHistory& AHistory, std::string_view APictureBase, const TNameTaken& ATaken) {
  TMarkdownExport out;
  std::size_t number = 0;
  auto addPicture = [&](const TContentPart& APart) {
    std::string name;
    do {
      char suffix[32];
      std::snprintf(suffix, sizeof suffix, "_%02zu.", ++number);
      name = std::string(APictureBase) + suffix + PictureExtension(APart.MimeType);
    } while (ATaken && ATaken(name));
    TExportPicture picture{name, APart.MimeType, APart.Base64Data};
    out.Text += "![" + LinkWords(picture.FileName) + "](<" + LinkTarget(picture.FileName) + ">)\n\n";
    out.Pictures.push_back(std::move(picture));
  };
  for (const THistoryItem& item : AHistory) {
    if (item.Role == "user") {
      out.Text += Heading("👤 Пользователь", item.Timestamp);
      std::string text;
      std::vector<std::string> others;
      for (const TContentPart& part : item.Parts)
        if (part.PartType == TPartType::ptText) text += part.Text;
      if (!text.empty()) out.Text += text + "\n\n";
      for (const TContentPart& part : item.Parts) {
        if (part.PartType == TPartType::ptText) continue;
        if (IsPicture(part)) addPicture(part);
        else others.push_back(part.FileName.empty() ? part.MimeType : FileNameOfPath(part.FileName));
      }
      if (!others.empty()) {
        out.Text += "Прикрепленные файлы:\n\n";
        for (const auto& name : others) out.Text += "- " + name + "\n";
        out.Text += "\n";
      }
    } else if (item.Role == "model") {
      const bool image = !item.Parts.empty() && item.Parts.front().PartType == TPartType::ptInlineData;
      const std::string who =
          item.ModelName.empty() ? (image ? "Gemini (Image)" : "Gemini") : DisplayModelName(item.ModelName);
      out.Text += Heading("🤖 " + who, item.Timestamp);
      if (image) {
        if (IsPicture(item.Parts.front())) addPicture(item.Parts.front());
      } else {
        // Thoughts fold as on the page (the <details> element is kept by common Markdown viewers).
        if (!item.Thoughts.empty())
          out.Text += std::string("<details><summary>") + kThoughtsSummary + "</summary>\n\n" + item.Thoughts +
                      "\n\n</details>\n\n";
        if (!item.Parts.empty() && !item.Parts.front().Text.empty()) out.Text += item.Parts.front().Text + "\n\n";
        out.Text += SourcesMarkdown(item.Grounding);
      }
    }
  }
  return out;
}

std::string ChatToHtml(const TChatHistory& AHistory, std::string_view ATitle) {
  std::string page = BaseHtmlTemplate();
  const auto scriptStart = page.find("<script>");
  const auto scriptEnd = page.find("</script>");
  if (scriptStart != std::string::npos && scriptEnd != std::string::npos)
    page.erase(scriptStart, scriptEnd + std::string_view("</script>").size() - scriptStart);
  // Even a script or a remote address that slipped into a bubble would do nothing: the
  // page runs no script and loads nothing but what it holds.
  const std::string head = "<meta http-equiv=\"Content-Security-Policy\" content=\"" + std::string(kExportPolicy) +
                           "\"><title>" + EscapeHtml(ATitle) + "</title>";
  page.insert(page.find("</head>"), head);
  const TMarkdownConverter convert = [](std::string_view AText) {
    return AnswerToHtml(AText, TMarkdownOptions{.RemotePicturesAsLinks = true});
  };
  std::string bubbles;
  for (const THistoryItem& item : AHistory) bubbles += RenderHistoryItem(item, {}, convert);
  ReplaceAll(bubbles, kCopyButton, "");
  ReplaceAll(bubbles, kSaveButton, "");
  const std::string container = "<div id=\"chat-container\">";
  page.insert(page.find(container) + container.size(), bubbles);
  return page;
}

}  // namespace tarvok
