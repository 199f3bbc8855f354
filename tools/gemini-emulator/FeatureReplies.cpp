#include "tools/gemini-emulator/FeatureReplies.h"

#include <algorithm>

#include "tools/gemini-emulator/DefaultReplies.h"

namespace tarvok::emulator {
namespace {

using simdjson::dom::element;

bool BoolAt(element AObject, std::string_view ACamel, std::string_view ASnake) {
  bool value = false;
  if (AObject[ACamel].get_bool().get(value) == simdjson::SUCCESS) return value;
  return AObject[ASnake].get_bool().get(value) == simdjson::SUCCESS && value;
}

bool WantsThoughts(element ARequest) {
  element config, thinking;
  if (ARequest["generationConfig"].get(config) != simdjson::SUCCESS &&
      ARequest["generation_config"].get(config) != simdjson::SUCCESS)
    return false;
  if (config["thinkingConfig"].get(thinking) != simdjson::SUCCESS &&
      config["thinking_config"].get(thinking) != simdjson::SUCCESS)
    return false;
  return BoolAt(thinking, "includeThoughts", "include_thoughts");
}

bool WantsSearch(element ARequest) {
  simdjson::dom::array tools;
  if (ARequest["tools"].get_array().get(tools) != simdjson::SUCCESS) return false;
  for (element tool : tools) {
    element unused;
    if (tool["googleSearch"].get(unused) == simdjson::SUCCESS || tool["google_search"].get(unused) == simdjson::SUCCESS)
      return true;
  }
  return false;
}

std::string Cut(std::string_view AText, std::size_t ALimit) {
  if (AText.size() <= ALimit) return std::string(AText);
  std::size_t end = ALimit;
  while (end > 0 && (static_cast<unsigned char>(AText[end]) & 0xC0) == 0x80) --end;
  return std::string(AText.substr(0, end));
}

// Lines of plain prose in the answer (no heading, quote, list, code or blank line), as
// [start, end) byte ranges: the stretches the sources "support".
std::vector<std::pair<std::size_t, std::size_t>> ProseLines(std::string_view AText) {
  std::vector<std::pair<std::size_t, std::size_t>> lines;
  bool inCode = false;
  std::size_t start = 0;
  while (start < AText.size()) {
    std::size_t end = AText.find('\n', start);
    if (end == std::string_view::npos) end = AText.size();
    const std::string_view line = AText.substr(start, end - start);
    if (line.starts_with("```")) inCode = !inCode;
    else if (!inCode && !line.empty() && std::string_view("#>-*`|").find(line[0]) == std::string_view::npos)
      lines.emplace_back(start, end);
    start = end + 1;
  }
  return lines;
}

struct TModel {
  const char* Name;
  const char* DisplayName;
  long long InputLimit, OutputLimit;
  bool Generates;
};

// In the order the service lists them; one cannot generate content (it only embeds).
constexpr TModel kModels[] = {
    {"gemini-2.5-pro", "Gemini 2.5 Pro", 1048576, 65536, true},
    {"gemini-2.5-flash", "Gemini 2.5 Flash", 1048576, 65536, true},
    {"gemini-embedding-001", "Gemini Embedding 001", 2048, 1, false},
    {"gemini-2.5-flash-lite", "Gemini 2.5 Flash-Lite", 1048576, 65536, true},
    {"gemini-2.5-flash-image", "Gemini 2.5 Flash Image", 32768, 32768, true},
    {"gemini-3-pro-preview", "Gemini 3 Pro Preview", 1048576, 65536, true},
    {"gemma-3-27b-it", "Gemma 3 27B", 131072, 8192, true},
};

}  // namespace

TAnswerAddOns MakeAnswerAddOns(element ARequest, std::string_view ALastUserText, std::string_view AAnswerText) {
  TAnswerAddOns addOns;
  addOns.AnswerText = std::string(AAnswerText);
  if (WantsThoughts(ARequest)) {
    const std::string asked = Cut(ALastUserText, 120);
    addOns.Thoughts = "**Разбор запроса**\n\nПользователь пишет: «" + asked +
                      "». Эмулятор не думает по-настоящему, но показывает, как выглядит сводка рассуждений.\n\n"
                      "**План ответа**\n\nПовторить запрос, посчитать части сообщения и приложить пример кода.\n\n";
    addOns.ThoughtsTokens = 64 + static_cast<long long>(asked.size() / 4);
  }
  if (WantsSearch(ARequest)) {
    addOns.Grounded = true;
    addOns.Query = Cut(ALastUserText, 80);
    if (addOns.Query.empty()) addOns.Query = "эмулятор";
  }
  return addOns;
}

std::vector<std::string> ThoughtPieces(std::string_view AThoughts) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  // A heading and its paragraph go together: cut at every second blank line.
  int blank = 0;
  for (std::size_t at = AThoughts.find("\n\n"); at != std::string_view::npos; at = AThoughts.find("\n\n", at + 2)) {
    if (++blank % 2 == 0) {
      pieces.emplace_back(AThoughts.substr(start, at + 2 - start));
      start = at + 2;
    }
  }
  if (start < AThoughts.size()) pieces.emplace_back(AThoughts.substr(start));
  return pieces;
}

void WriteThoughtPart(TServiceJson& AOut, std::string_view AText) {
  AOut.BeginObject().Member("text", AText).Key("thought").Bool(true).EndObject();
}

void WriteGrounding(TServiceJson& AOut, const TAnswerAddOns& AAddOns, bool AFinal) {
  AOut.Key("groundingMetadata").BeginObject();
  if (!AFinal) {
    AOut.EndObject();
    return;
  }
  AOut.Key("searchEntryPoint").BeginObject()
      .Member("renderedContent", "<div class=\"container\"><a class=\"chip\" href=\"" +
                                     std::string("https://www.google.com/search?q=emulator") + "\">" + AAddOns.Query +
                                     "</a></div>\n")
      .EndObject();
  AOut.Key("groundingChunks").BeginArray();
  AOut.BeginObject().Key("web").BeginObject()
      .Member("uri", "https://example.com/emulator/source-1").Member("title", "example.com").EndObject().EndObject();
  AOut.BeginObject().Key("web").BeginObject()
      .Member("uri", "https://example.org/emulator/source-2").Member("title", "Справка эмулятора").EndObject().EndObject();
  AOut.EndArray();
  AOut.Key("groundingSupports").BeginArray();
  const auto lines = ProseLines(AAddOns.AnswerText);
  for (std::size_t i = 0; i < lines.size() && i < 2; ++i) {
    const auto [start, end] = lines[i];
    AOut.BeginObject().Key("segment").BeginObject();
    // The service leaves out a start of 0.
    if (start > 0) AOut.Member("startIndex", static_cast<long long>(start));
    AOut.Member("endIndex", static_cast<long long>(end))
        .Member("text", std::string_view(AAddOns.AnswerText).substr(start, end - start))
        .EndObject();
    AOut.Key("groundingChunkIndices").BeginArray().Number(static_cast<long long>(i)).EndArray();
    AOut.Key("confidenceScores").BeginArray().Raw("0.9").EndArray();
    AOut.EndObject();
  }
  AOut.EndArray();
  AOut.Key("webSearchQueries").BeginArray().String(AAddOns.Query).EndArray();
  AOut.EndObject();
}

std::optional<TScriptedReply> ModelListReply(const TRecordedRequest& ARequest, std::string_view ADecodedPath) {
  if (ARequest.Method != "GET") return std::nullopt;
  const std::size_t slash = ADecodedPath.find('/', 1);
  if (slash == std::string_view::npos || ADecodedPath.substr(slash) != "/models" ||
      ADecodedPath.substr(1, 2) != "v1")
    return std::nullopt;
  long long first = 0;
  if (const auto token = QueryParam(ARequest.Query, "pageToken"); token && !token->empty()) {
    const std::string_view t = *token;
    if (!t.starts_with("page-") || t.size() > 12 ||
        t.substr(5).find_first_not_of("0123456789") != std::string_view::npos || t.size() == 5) {
      TScriptedReply bad;
      bad.Status = 400;
      bad.Body = ServiceErrorBody(400, "Invalid page token.", "INVALID_ARGUMENT");
      return bad;
    }
    first = std::stoll(std::string(t.substr(5)));
  }
  long long size = 50;
  if (const auto asked = QueryParam(ARequest.Query, "pageSize"); asked && !asked->empty() && asked->size() < 9 &&
                                                                asked->find_first_not_of("0123456789") == std::string::npos)
    size = std::stoll(*asked);
  size = std::clamp<long long>(size, 1, kModelListPageMax);
  const long long count = static_cast<long long>(std::size(kModels));
  TServiceJson out;
  out.BeginObject().Key("models").BeginArray();
  for (long long i = first; i < count && i < first + size; ++i) {
    const TModel& m = kModels[i];
    out.BeginObject()
        .Member("name", std::string("models/") + m.Name)
        .Member("version", "001")
        .Member("displayName", m.DisplayName)
        .Member("inputTokenLimit", m.InputLimit)
        .Member("outputTokenLimit", m.OutputLimit);
    out.Key("supportedGenerationMethods").BeginArray();
    if (m.Generates) out.String("generateContent").String("countTokens");
    else out.String("embedContent").String("countTokens");
    out.EndArray().EndObject();
  }
  out.EndArray();
  if (first + size < count) out.Member("nextPageToken", "page-" + std::to_string(first + size));
  out.EndObject();
  TScriptedReply reply;
  reply.Body = out.Take() + "\n";
  return reply;
}

}  // namespace tarvok::emulator
