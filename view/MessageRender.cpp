#include "view/MessageRender.h"

#include "view/MathMarkdown.h"

#include <simdjson.h>

#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/DateTime.h"
#include "core/Platform.h"
#include "core/Text.h"
#include "view/AnswerExtras.h"

namespace tarvok {
namespace {

constexpr std::string_view kCodeBlockHeader = "<div class=\"code-block-container\">  <div class=\"code-header\">    code    <button class=\"copy-btn\" onclick=\"copyCode(this)\">Копировать</button>    <button class=\"download-btn\" onclick=\"downloadCode(this)\">Скачать</button>  </div>";
constexpr std::string_view kTokensLabel = "Токены: ";
constexpr std::string_view kImageRefused = "Изображение не показано: недопустимые данные.";
// Latest day a TDateTime can name here (9999-12-31); later values are not dates.
constexpr TDateTime kLastDay = 2958465.99999;

std::string TimestampSpan(TDateTime ATimestamp) {
  const std::string time = FormatMessageTimestamp(ATimestamp);
  if (time.empty()) return {};
  return "<span class=\"timestamp\">" + time + "</span>";
}

bool IsMimeTokenChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '!' || c == '#' ||
         c == '$' || c == '-' || c == '^' || c == '_' || c == '.' || c == '+';
}

bool IsBase64Text(std::string_view AData) {
  for (char c : AData) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
                    c == '/' || c == '=' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

// The image payload's two strings, when AText is exactly such a JSON object.
bool ParseImagePayload(std::string_view AText, std::string& AMimeType, std::string& ABase64) {
  const std::string_view trimmed = Trim(AText);
  if (trimmed.empty() || trimmed.front() != '{') return false;
  simdjson::dom::parser parser;
  const simdjson::padded_string padded(trimmed);
  simdjson::dom::element root;
  if (parser.parse(padded).get(root) != simdjson::SUCCESS) return false;
  simdjson::dom::object object;
  if (root.get_object().get(object) != simdjson::SUCCESS) return false;
  std::string_view mime, data;
  // Without a string "base64_data" there is no picture to show; the text is shown as written.
  if (object["mime_type"].get_string().get(mime) != simdjson::SUCCESS) return false;
  if (object["base64_data"].get_string().get(data) != simdjson::SUCCESS) return false;
  AMimeType.assign(mime);
  ABase64.assign(data);
  return true;
}

// A decimal number with '.' or ',' as separator, nothing else around it but blanks.
bool ReadSeconds(std::string_view AText, double& AValue) {
  std::string text(Trim(AText));
  for (char& c : text)
    if (c == ',') c = '.';
  if (text.empty() || text.find_first_of("iInN") != std::string::npos) return false;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, AValue, std::chars_format::general);
  return ec == std::errc() && ptr == end && std::isfinite(AValue);
}

}  // namespace

std::string MakeMessageId(TDateTime ATime) { return "msg_" + FormatDateTime("yyyymmddhhnnsszzz", ATime); }

std::string FormatMessageTimestamp(TDateTime ATime) {
  if (!(ATime > 0) || !(ATime <= kLastDay)) return {};
  return FormatDateTime("hh:nn:ss - dd.mm.yyyy", ATime);
}

std::string FormatDurationText(std::string_view ADuration) {
  double seconds = 0;
  if (ReadSeconds(ADuration, seconds) && seconds >= 60 && seconds < 9.0e18) {
    const long long whole = static_cast<long long>(seconds);
    return std::to_string(whole / 60) + "мин " + std::to_string(whole % 60) + "с";
  }
  return std::string(ADuration) + "с";
}

std::string DisplayModelName(std::string_view AModelName) {
  if (AModelName.empty()) return "Gemini";
  std::string name(AModelName);
  if (name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 'a' + 'A');
  return name;
}

std::string EscapeHtml(std::string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (char c : AText) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string EscapeUserText(std::string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n') { out += "<br>"; ++i; }
    else out += c;
  }
  return out;
}

std::string StripBidiControls(std::string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size(); ++i) {
    if (i + 2 < AText.size() && static_cast<unsigned char>(AText[i]) == 0xE2) {
      const auto second = static_cast<unsigned char>(AText[i + 1]);
      const auto third = static_cast<unsigned char>(AText[i + 2]);
      if ((second == 0x80 && third >= 0xAA && third <= 0xAE) || (second == 0x81 && third >= 0xA6 && third <= 0xA9)) {
        i += 2;
        continue;
      }
    }
    out += AText[i];
  }
  return out;
}

std::string FileNameOfPath(std::string_view APath, std::string_view ASeparators) {
  const std::size_t cut = APath.find_last_of(ASeparators);
  return std::string(cut == std::string_view::npos ? APath : APath.substr(cut + 1));
}

std::string FileNameOfPath(std::string_view APath) { return FileNameOfPath(APath, PathSeparatorChars()); }

bool IsShownPictureType(std::string_view AMimeType) {
  std::string type(AMimeType);
  for (char& c : type)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const std::string_view shown : {"image/png", "image/jpeg", "image/gif", "image/webp", "image/bmp"})
    if (type == shown) return true;
  return false;
}

bool LooksLikeMimeType(std::string_view AMimeType) {
  const std::size_t slash = AMimeType.find('/');
  if (slash == std::string_view::npos || slash == 0 || slash + 1 == AMimeType.size()) return false;
  for (std::size_t i = 0; i < AMimeType.size(); ++i)
    if (i != slash && !IsMimeTokenChar(AMimeType[i])) return false;
  return true;
}

std::string WrapCodeBlocks(std::string_view AHtml) {
  std::string html(AHtml);
  std::size_t i = html.find("<pre>");
  while (i != std::string::npos) {
    const std::size_t close = html.find("</pre>", i);
    if (close == std::string::npos) break;
    const std::size_t blockEnd = close + 6;
    std::string wrapped;
    wrapped.reserve(kCodeBlockHeader.size() + (blockEnd - i) + 6);
    wrapped += kCodeBlockHeader;
    wrapped.append(html, i, blockEnd - i);
    wrapped += "</div>";
    html.replace(i, blockEnd - i, wrapped);
    i = html.find("<pre>", i + wrapped.size());
  }
  return html;
}

std::string RenderUserMessage(std::string_view AText, const std::vector<std::string>& AFiles, TDateTime ATimestamp,
                              std::string_view AMessageId, int ATokenCount) {
  std::vector<std::string> names;
  names.reserve(AFiles.size());
  for (const std::string& file : AFiles) names.push_back(FileNameOfPath(file));
  return RenderUserMessageNames(AText, names, ATimestamp, AMessageId, ATokenCount);
}

std::string RenderUserMessageNames(std::string_view AText, const std::vector<std::string>& ANames,
                                   TDateTime ATimestamp, std::string_view AMessageId, int ATokenCount) {
  std::string attachments;
  if (!ANames.empty()) {
    attachments = "<div class=\"attachments\"><strong>Прикрепленные файлы:</strong><ul>";
    for (const std::string& name : ANames) attachments += "<li>" + EscapeHtml(StripBidiControls(name)) + "</li>";
    attachments += "</ul></div>";
  }
  const std::string id = EscapeHtml(AMessageId);
  std::string html = "<div";
  if (!id.empty()) html += " id=\"" + id + "\"";
  html += " class=\"message-wrapper user-message\">  <div class=\"message-header\">    <strong>👤 Пользователь</strong>";
  html += TimestampSpan(ATimestamp);
  html += "  </div>  <div class=\"message-content\">    <p>";
  html += EscapeUserText(AText);
  html += "</p>";
  html += attachments;
  if (ATokenCount >= 0)
    html += "<div class=\"message-footer\" id=\"footer_" + id + "\">" + std::string(kTokensLabel) +
            std::to_string(ATokenCount) + "</div>";
  html += "  </div></div>";
  return html;
}

namespace {

std::string ModelBubble(std::string_view AText, std::string_view AModelName, TDateTime ATimestamp, int ATokenCount,
                        std::string_view ADuration, const TMarkdownConverter& AConvert, const TAnswerExtras* AExtras) {
  std::string mimeType, base64;
  if (ParseImagePayload(AText, mimeType, base64)) return RenderImageMessage(mimeType, base64, ATimestamp);

  const bool cited = AExtras && !AExtras->Grounding.Supports.empty();
  std::string converted;
  try {
    if (cited) {
      const std::string marked = InsertCitationStandIns(AText, AExtras->Grounding);
      converted = ReplaceCitationStandIns(AConvert ? AConvert(marked) : AnswerToHtml(marked), AText, AExtras->Grounding);
    } else {
      converted = AConvert ? AConvert(AText) : AnswerToHtml(AText);
    }
  } catch (const std::exception& e) {
    // The answer is kept, shown as text: it is the model's, not ours to run.
    converted = std::string("<h3>Ошибка конвертации Markdown:</h3><pre>") + EscapeHtml(e.what()) + "</pre><hr>" + EscapeHtml(AText);
  }

  std::string html = "<div class=\"message-wrapper model-message\">  <div class=\"message-header\">    <strong>🤖 ";
  html += EscapeHtml(DisplayModelName(AModelName));
  html += "</strong>";
  html += TimestampSpan(ATimestamp);
  html += "  </div>  <div class=\"message-content\">";
  if (AExtras) html += RenderThoughtsBlock(AExtras->Thoughts, AConvert);
  html += WrapCodeBlocks(converted);
  if (AExtras) html += RenderSourcesBlock(AExtras->Grounding);
  const int thoughtsTokens = AExtras ? AExtras->ThoughtsTokens : 0;
  if (ATokenCount >= 0 || !ADuration.empty() || thoughtsTokens > 0) {
    html += "<div class=\"message-footer\">";
    if (!ADuration.empty()) html += std::string("Время: ") + EscapeHtml(FormatDurationText(ADuration));
    if (!ADuration.empty() && ATokenCount >= 0) html += " | ";
    if (ATokenCount >= 0) html += std::string(kTokensLabel) + std::to_string(ATokenCount);
    if (thoughtsTokens > 0) {
      if (!ADuration.empty() || ATokenCount >= 0) html += " | ";
      html += std::string(kThoughtsSummary) + ": " + std::to_string(thoughtsTokens);
    }
    html += "</div>";
  }
  html += "</div></div>";
  return html;
}

}  // namespace

std::string RenderModelMessage(std::string_view AText, std::string_view AModelName, TDateTime ATimestamp,
                               int ATokenCount, std::string_view ADuration, const TMarkdownConverter& AConvert) {
  return ModelBubble(AText, AModelName, ATimestamp, ATokenCount, ADuration, AConvert, nullptr);
}

std::string RenderAnswerMessage(std::string_view AText, std::string_view AModelName, TDateTime ATimestamp,
                                int ATokenCount, std::string_view ADuration, const TAnswerExtras& AExtras,
                                const TMarkdownConverter& AConvert) {
  return ModelBubble(AText, AModelName, ATimestamp, ATokenCount, ADuration, AConvert, AExtras.empty() ? nullptr : &AExtras);
}

std::string RenderImageMessage(std::string_view AMimeType, std::string_view ABase64Data, TDateTime ATimestamp) {
  std::string html = "<div class=\"message-wrapper model-message\">  <div class=\"message-header\">    <strong>🤖 Gemini (Image)</strong>";
  html += TimestampSpan(ATimestamp);
  html += "  </div>  <div class=\"message-content\">";
  // Anything else would let a crafted chat file break out of the src attribute, or show a
  // document (HTML, SVG) or nothing at all where a picture was expected.
  if (IsShownPictureType(AMimeType) && !ABase64Data.empty() && IsBase64Text(ABase64Data)) {
    html.reserve(html.size() + ABase64Data.size() + AMimeType.size() + 160);
    html += "    <img src=\"data:";
    html += AMimeType;
    html += ";base64,";
    html += ABase64Data;
    html += "\" alt=\"Generated Image\" style=\"max-width:100%; height:auto; border-radius: 8px;\">";
  } else {
    // An empty bubble would look like a picture still on its way.
    html += "<p>" + EscapeHtml(kImageRefused) + "</p>";
  }
  html += "  </div></div>";
  return html;
}

std::string RenderHistoryItem(const THistoryItem& AItem, std::string_view AMessageId, const TMarkdownConverter& AConvert) {
  if (AItem.Role == "user") {
    std::string text;
    std::vector<std::string> names;
    for (const TContentPart& part : AItem.Parts) {
      if (part.PartType == TPartType::ptText) text += part.Text;
      else names.push_back(part.FileName.empty() ? part.MimeType : FileNameOfPath(part.FileName));
    }
    return RenderUserMessageNames(text, names, AItem.Timestamp, AMessageId, AItem.TokenCount);
  }
  if (AItem.Role == "model") {
    if (!AItem.Parts.empty() && AItem.Parts.front().PartType == TPartType::ptInlineData) {
      // Same bubble as rendering the {"mime_type","base64_data"} payload, without copying the data twice.
      const TContentPart& image = AItem.Parts.front();
      return RenderImageMessage(image.MimeType, image.Base64Data.view(), AItem.Timestamp);
    }
    const std::string_view text = AItem.Parts.empty() ? std::string_view() : std::string_view(AItem.Parts.front().Text);
    if (AItem.Thoughts.empty() && AItem.ThoughtsTokens == 0 && AItem.Grounding.empty())
      return RenderModelMessage(text, AItem.ModelName, AItem.Timestamp, AItem.TokenCount, AItem.Duration, AConvert);
    TAnswerExtras extras;
    extras.Thoughts = AItem.Thoughts;
    extras.ThoughtsTokens = AItem.ThoughtsTokens;
    extras.Grounding = AItem.Grounding;
    return RenderAnswerMessage(text, AItem.ModelName, AItem.Timestamp, AItem.TokenCount, AItem.Duration, extras, AConvert);
  }
  return {};
}

}  // namespace tarvok
