#include "tools/gemini-emulator/DefaultReplies.h"

#include <openssl/evp.h>

#include <simdjson.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <vector>

#include "tools/gemini-emulator/FeatureReplies.h"
#include "tools/gemini-emulator/ServiceJson.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace tarvok::emulator {
namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

constexpr int kImageTokens = 258;       // what the service bills per attached picture
constexpr int kImageOutputTokens = 1290;
constexpr std::size_t kQuoteLimit = 600; // bytes of the user's text echoed back

// ---- request reading -------------------------------------------------------------

std::optional<element> Member(element AObject, std::string_view AName) {
  if (AObject.type() != element_type::OBJECT) return std::nullopt;
  element value;
  if (AObject[AName].get(value) != simdjson::SUCCESS) return std::nullopt;
  return value;
}

// The service accepts both spellings of request members.
std::optional<element> Member(element AObject, std::string_view ACamel, std::string_view ASnake) {
  if (auto v = Member(AObject, ACamel)) return v;
  return Member(AObject, ASnake);
}

std::string_view StringOf(const std::optional<element>& AValue) {
  std::string_view s;
  if (AValue && AValue->get_string().get(s) == simdjson::SUCCESS) return s;
  return {};
}

struct TRequestSummary {
  int Turns = 0;
  std::string LastUserText;
  int TextParts = 0;       // of the last user turn
  std::vector<std::string> Attachments;  // "mime (N bytes)" of the last user turn
  long long PromptTokens = 0;            // all turns
  int PromptImages = 0;
  bool WantsJson = false;
  std::optional<element> Schema;
};

long long EstimateTokens(std::string_view AText) {
  long long codePoints = 0;
  for (char c : AText)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++codePoints;
  return std::max<long long>(1, (codePoints + 3) / 4);
}

void ReadContents(element AContents, TRequestSummary& ASummary) {
  simdjson::dom::array turns;
  if (AContents.get_array().get(turns) != simdjson::SUCCESS) return;
  for (element turn : turns) {
    ++ASummary.Turns;
    const std::string_view role = StringOf(Member(turn, "role"));
    const bool user = role.empty() || role == "user";
    std::string text;
    int textParts = 0;
    std::vector<std::string> attachments;
    simdjson::dom::array parts;
    if (auto p = Member(turn, "parts"); p && p->get_array().get(parts) == simdjson::SUCCESS) {
      for (element part : parts) {
        if (auto t = Member(part, "text"); t && t->is_string()) {
          const std::string_view s = StringOf(t);
          ASummary.PromptTokens += EstimateTokens(s);
          ++textParts;
          // Callers put context first and the prompt last.
          if (!s.empty()) text = s;
        } else if (auto d = Member(part, "inlineData", "inline_data")) {
          const std::string_view mime = StringOf(Member(*d, "mimeType", "mime_type"));
          const std::string_view data = StringOf(Member(*d, "data"));
          attachments.push_back(std::string(mime.empty() ? "?" : mime) + ", " +
                                std::to_string(data.size() / 4 * 3) + " байт");
          ++ASummary.PromptImages;
        } else if (auto f = Member(part, "fileData", "file_data")) {
          attachments.push_back(std::string(StringOf(Member(*f, "mimeType", "mime_type"))) + ", " +
                                std::string(StringOf(Member(*f, "fileUri", "file_uri"))));
          ++ASummary.PromptImages;
        }
      }
    }
    if (user) {
      ASummary.LastUserText = std::move(text);
      ASummary.TextParts = textParts;
      ASummary.Attachments = std::move(attachments);
    }
  }
  ASummary.PromptTokens += static_cast<long long>(ASummary.PromptImages) * kImageTokens;
}

// ---- answer text -----------------------------------------------------------------

std::string CutUtf8(std::string_view AText, std::size_t ALimit) {
  if (AText.size() <= ALimit) return std::string(AText);
  std::size_t end = ALimit;
  while (end > 0 && (static_cast<unsigned char>(AText[end]) & 0xC0) == 0x80) --end;
  return std::string(AText.substr(0, end)) + "…";
}

std::string QuoteMarkdown(std::string_view AText) {
  if (AText.empty()) return "> *(пустой текст)*\n";
  std::string out;
  const std::string cut = CutUtf8(AText, kQuoteLimit);
  std::size_t start = 0;
  while (start <= cut.size()) {
    std::size_t end = cut.find('\n', start);
    if (end == std::string::npos) end = cut.size();
    std::string_view line(cut.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out += "> ";
    out += line;
    out += "\n";
    start = end + 1;
  }
  return out;
}

std::string ChatAnswerText(std::string_view AModel, const TRequestSummary& ASummary) {
  std::string s = "### Ответ эмулятора\n\nМодель `" + std::string(AModel) + "` получила сообщение:\n\n";
  s += QuoteMarkdown(ASummary.LastUserText);
  s += "\n- ходов в разговоре: **" + std::to_string(ASummary.Turns) + "**\n";
  s += "- частей в последнем сообщении: **" +
       std::to_string(ASummary.TextParts + static_cast<int>(ASummary.Attachments.size())) +
       "** (текстовых: " + std::to_string(ASummary.TextParts) +
       ", вложений: " + std::to_string(ASummary.Attachments.size()) + ")\n";
  for (const std::string& a : ASummary.Attachments) s += "  - вложение: `" + a + "`\n";
  s += "\nПример кода:\n\n```cpp\n// Эмулятор ничего не придумывает, он только повторяет запрос.\n"
       "int main() {\n  return 0;\n}\n```\n";
  // What the pane can show: a second language, a table, formulas inline and displayed.
  s += "\nТо же на Python:\n\n```python\ndef main() -> int:\n    \"\"\"Эмулятор только повторяет запрос.\"\"\"\n"
       "    return 0\n```\n";
  s += "\n| Сортировка | В среднем | Худший случай |\n|---|---|---|\n"
       "| Быстрая | $O(n \\log n)$ | $O(n^2)$ |\n| Слиянием | $O(n \\log n)$ | $O(n \\log n)$ |\n";
  s += "\nЧисло сравнений быстрой сортировки в среднем:\n\n$$C(n) \\approx 2n \\ln n$$\n";
  return s;
}

// A value that satisfies a response schema, for callers that ask for JSON output.
void SchemaInstance(element ASchema, TServiceJson& AOut, int ADepth) {
  if (ADepth > 12 || ASchema.type() != element_type::OBJECT) {
    AOut.Raw("null");
    return;
  }
  simdjson::dom::array choices;
  if (auto e = Member(ASchema, "enum"); e && e->get_array().get(choices) == simdjson::SUCCESS &&
                                        choices.size() > 0) {
    AOut.Raw(simdjson::minify(choices.at(0).value()));
    return;
  }
  for (std::string_view alt : {"anyOf", "oneOf", "allOf"}) {
    if (auto a = Member(ASchema, alt); a && a->get_array().get(choices) == simdjson::SUCCESS &&
                                       choices.size() > 0) {
      SchemaInstance(choices.at(0).value(), AOut, ADepth + 1);
      return;
    }
  }
  std::string type(StringOf(Member(ASchema, "type")));
  std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::tolower(c); });
  auto props = Member(ASchema, "properties");
  if (type == "object" || (type.empty() && props)) {
    AOut.BeginObject();
    simdjson::dom::object fields;
    if (props && props->get_object().get(fields) == simdjson::SUCCESS)
      for (auto field : fields) {
        AOut.Key(field.key);
        SchemaInstance(field.value, AOut, ADepth + 1);
      }
    AOut.EndObject();
  } else if (type == "array") {
    AOut.BeginArray();
    uint64_t count = 1;
    if (auto m = Member(ASchema, "minItems"); m && m->get_uint64().get(count) == simdjson::SUCCESS)
      count = std::clamp<uint64_t>(count, 1, 64);
    if (auto items = Member(ASchema, "items"))
      for (uint64_t i = 0; i < count; ++i) SchemaInstance(*items, AOut, ADepth + 1);
    AOut.EndArray();
  } else if (type == "string") {
    std::string text = "эмулятор";
    uint64_t minLength = 0;
    if (auto m = Member(ASchema, "minLength"); m && m->get_uint64().get(minLength) == simdjson::SUCCESS)
      while (text.size() < minLength && text.size() < 4096) text += " эмулятор";
    AOut.String(text);
  } else if (type == "integer" || type == "number") {
    // The smallest allowed whole number; 1 when unbounded, since callers often
    // read scores and counts that start at 1 without saying so in the schema.
    double low = 1;
    if (auto m = Member(ASchema, "minimum"); m && m->get_double().get(low) == simdjson::SUCCESS) {
      low = std::ceil(low);
      bool exclusive = false;
      if (auto e = Member(ASchema, "exclusiveMinimum"); e && e->get_bool().get(exclusive) == simdjson::SUCCESS &&
                                                       exclusive)
        low += 1;
    }
    if (auto m = Member(ASchema, "exclusiveMinimum"); m && m->is_number()) low = std::floor(double(*m)) + 1;
    if (auto m = Member(ASchema, "maximum"); m && m->is_number()) low = std::min(low, std::floor(double(*m)));
    AOut.Number(static_cast<long long>(low));
  } else if (type == "boolean") {
    AOut.Bool(false);
  } else {
    AOut.Raw("null");
  }
}

// ---- answer bodies ---------------------------------------------------------------

std::string NewResponseId() {
  static std::atomic<std::uint64_t> counter{0x5eed1234abcdULL};
  std::uint64_t x = counter.fetch_add(0x9E3779B97F4A7C15ULL) * 0xBF58476D1CE4E5B9ULL;
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string id;
  for (int i = 0; i < 22; ++i) {
    id += kAlphabet[x & 63];
    x = (x >> 6) | (x << 58);
    x ^= x * 0x94D049BB133111EBULL;
  }
  return id;
}

struct TAnswer {
  std::string Text;     // may be empty for a picture-only answer
  std::string PngBase64;
  long long PromptTokens = 0;
};

struct TUsage {
  long long Prompt = 0, Candidates = 0, ImageCandidates = 0;
  long long Thoughts = 0;  // written only when the request asked for thoughts
};

void WriteUsage(TServiceJson& AOut, const TUsage& AUsage, bool AFinal) {
  AOut.Key("usageMetadata").BeginObject();
  AOut.Member("promptTokenCount", AUsage.Prompt);
  if (AFinal || AUsage.Candidates > 0) AOut.Member("candidatesTokenCount", AUsage.Candidates);
  AOut.Member("totalTokenCount", AUsage.Prompt + AUsage.Candidates + AUsage.Thoughts);
  AOut.Key("promptTokensDetails").BeginArray().BeginObject()
      .Member("modality", "TEXT").Member("tokenCount", AUsage.Prompt).EndObject().EndArray();
  if (AUsage.Thoughts > 0) AOut.Member("thoughtsTokenCount", AUsage.Thoughts);
  if (AUsage.ImageCandidates > 0) {
    AOut.Key("candidatesTokensDetails").BeginArray()
        .BeginObject().Member("modality", "TEXT").Member("tokenCount", AUsage.Candidates - AUsage.ImageCandidates).EndObject()
        .BeginObject().Member("modality", "IMAGE").Member("tokenCount", AUsage.ImageCandidates).EndObject()
        .EndArray();
  }
  AOut.EndObject();
}

// One answer object: the whole answer, or one stream event holding a piece of it.
// AThoughts, when given, goes first as a thought part (alone in a stream's thought event);
// AAddOns adds the grounding of a searched answer.
std::string AnswerObject(bool AOneLine, std::string_view AText, std::string_view APng, bool AFinal,
                         const TUsage& AUsage, std::string_view AModel, std::string_view AResponseId,
                         const TAnswerAddOns* AAddOns = nullptr, std::string_view AThoughts = {}) {
  TServiceJson out(AOneLine);
  out.BeginObject().Key("candidates").BeginArray().BeginObject();
  out.Key("content").BeginObject().Key("parts").BeginArray();
  if (!AThoughts.empty()) WriteThoughtPart(out, AThoughts);
  if ((!AText.empty() || APng.empty()) && !(AText.empty() && !AThoughts.empty()))
    out.BeginObject().Member("text", AText).EndObject();
  if (!APng.empty()) {
    out.BeginObject().Key("inlineData").BeginObject()
        .Member("mimeType", "image/png").Member("data", APng).EndObject().EndObject();
  }
  out.EndArray().Member("role", "model").EndObject();
  if (AFinal) out.Member("finishReason", "STOP");
  if (AAddOns && AAddOns->Grounded) WriteGrounding(out, *AAddOns, AFinal);
  out.Member("index", 0).EndObject().EndArray();
  WriteUsage(out, AUsage, AFinal);
  out.Member("modelVersion", AModel).Member("responseId", AResponseId).EndObject();
  return out.Take();
}

// Splits at line ends near the thirds of the text, never inside a UTF-8 sequence.
std::vector<std::string> SplitForStream(const std::string& AText) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (int i = 1; i < 3 && start < AText.size(); ++i) {
    std::size_t target = AText.size() * i / 3;
    if (target <= start) continue;
    std::size_t cut = AText.find('\n', target);
    if (cut == std::string::npos || cut + 1 >= AText.size()) {
      cut = target;
      while (cut > start && (static_cast<unsigned char>(AText[cut]) & 0xC0) == 0x80) --cut;
    } else {
      ++cut;
    }
    if (cut <= start) continue;
    pieces.push_back(AText.substr(start, cut - start));
    start = cut;
  }
  if (start < AText.size() || pieces.empty()) pieces.push_back(AText.substr(start));
  return pieces;
}

TScriptedReply Json(int AStatus, std::string ABody) {
  TScriptedReply r;
  r.Status = AStatus;
  r.Body = std::move(ABody);
  return r;
}

TScriptedReply Error(int ACode, std::string_view AMessage, std::string_view AStatus, bool AArrayForm) {
  std::string body = ServiceErrorBody(ACode, AMessage, AStatus);
  if (AArrayForm) body = "[" + body.substr(0, body.size() - 1) + "\n]";
  return Json(ACode, std::move(body));
}

// The service's answer to a request over a quota, with the details it names: which quota
// ran out and when to try again (the shape of a recorded answer).
TScriptedReply QuotaExceeded(std::string_view AModel, bool AArrayForm) {
  TServiceJson out;
  out.BeginObject().Key("error").BeginObject()
      .Member("code", 429)
      .Member("message", "You exceeded your current quota, please check your plan and billing details.")
      .Member("status", "RESOURCE_EXHAUSTED")
      .Key("details").BeginArray()
      .BeginObject().Member("@type", "type.googleapis.com/google.rpc.QuotaFailure")
      .Key("violations").BeginArray().BeginObject()
      .Member("quotaMetric", "generativelanguage.googleapis.com/generate_content_free_tier_requests")
      .Member("quotaId", "GenerateRequestsPerMinutePerProjectPerModel-FreeTier")
      .Key("quotaDimensions").BeginObject().Member("location", "global").Member("model", AModel).EndObject()
      .Member("quotaValue", "10")
      .EndObject().EndArray().EndObject()
      .BeginObject().Member("@type", "type.googleapis.com/google.rpc.RetryInfo").Member("retryDelay", "26.5s").EndObject()
      .EndArray()
      .EndObject().EndObject();
  std::string body = out.Take() + "\n";
  if (AArrayForm) body = "[" + body.substr(0, body.size() - 1) + "\n]";
  return Json(429, std::move(body));
}

TScriptedReply GenerateReply(const TApiCall& ACall, const TRecordedRequest& ARequest, bool AStream,
                             bool ASse) {
  simdjson::dom::parser parser;
  element doc;
  if (parser.parse(ARequest.Body).get(doc) != simdjson::SUCCESS || doc.type() != element_type::OBJECT)
    return Error(400, "Invalid JSON payload received. Unexpected token.", "INVALID_ARGUMENT", AStream && !ASse);
  TRequestSummary summary;
  auto contents = Member(doc, "contents");
  if (contents) ReadContents(*contents, summary);
  if (summary.Turns == 0)
    return Error(400, "* GenerateContentRequest.contents: contents is not specified\n", "INVALID_ARGUMENT",
                 AStream && !ASse);
  // The demo shows what a spent quota looks like when the prompt asks for it.
  if (summary.LastUserText.find(kQuotaDemoPrompt) != std::string::npos) return QuotaExceeded(ACall.Model, AStream && !ASse);
  if (auto config = Member(doc, "generationConfig", "generation_config")) {
    summary.WantsJson = StringOf(Member(*config, "responseMimeType", "response_mime_type")) == "application/json";
    summary.Schema = Member(*config, "responseJsonSchema", "response_json_schema");
    if (!summary.Schema) summary.Schema = Member(*config, "responseSchema", "response_schema");
  }

  TAnswer answer;
  TUsage usage;
  usage.Prompt = summary.PromptTokens;
  if (ACall.Model.find("image") != std::string::npos) {
    answer.Text = "Вот картинка по запросу «" + CutUtf8(summary.LastUserText, 200) + "».";
    answer.PngBase64 = Base64Encode(MakeDemoPng(summary.LastUserText));
    usage.ImageCandidates = kImageOutputTokens;
  } else if (summary.WantsJson) {
    TServiceJson json(true);
    if (summary.Schema) SchemaInstance(*summary.Schema, json, 0);
    else json.BeginObject().Member("text", CutUtf8(summary.LastUserText, kQuoteLimit)).EndObject();
    answer.Text = json.Take();
  } else {
    answer.Text = ChatAnswerText(ACall.Model, summary);
  }
  usage.Candidates = EstimateTokens(answer.Text) + usage.ImageCandidates;
  const std::string responseId = NewResponseId();
  const TAnswerAddOns addOns = MakeAnswerAddOns(doc, summary.LastUserText, answer.Text);
  usage.Thoughts = addOns.ThoughtsTokens;

  if (!AStream) {
    return Json(200, AnswerObject(false, answer.Text, answer.PngBase64, true, usage, ACall.Model, responseId,
                                  &addOns, addOns.Thoughts) + "\n");
  }

  std::vector<std::string> pieces = SplitForStream(answer.Text);
  std::vector<std::string> events;
  TUsage running = usage;
  running.Candidates = 0;
  running.ImageCandidates = 0;
  // The thoughts come first, a paragraph an event, as the service streams them.
  for (const std::string& thought : ThoughtPieces(addOns.Thoughts))
    events.push_back(AnswerObject(ASse, "", "", false, running, ACall.Model, responseId, &addOns, thought));
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const bool last = i + 1 == pieces.size();
    running.Candidates += EstimateTokens(pieces[i]);
    if (last) running = usage;
    const std::string_view png = last ? std::string_view(answer.PngBase64) : std::string_view();
    events.push_back(AnswerObject(ASse, pieces[i], png, last, running, ACall.Model, responseId, &addOns));
  }
  TScriptedReply reply;
  if (ASse) {
    reply.SseEvents = std::move(events);
    reply.ContentType = "text/event-stream";
  } else {
    // Without alt=sse the stream is one JSON array of the same objects.
    std::string body = "[";
    for (std::size_t i = 0; i < events.size(); ++i) body += (i ? "\n,\n" : "") + events[i];
    reply.Body = body + "\n]";
  }
  return reply;
}

TScriptedReply CountTokensReply(const TRecordedRequest& ARequest) {
  simdjson::dom::parser parser;
  element doc;
  if (parser.parse(ARequest.Body).get(doc) != simdjson::SUCCESS || doc.type() != element_type::OBJECT)
    return Error(400, "Invalid JSON payload received. Unexpected token.", "INVALID_ARGUMENT", false);
  TRequestSummary summary;
  auto contents = Member(doc, "contents");
  if (!contents) {
    if (auto inner = Member(doc, "generateContentRequest", "generate_content_request"))
      contents = Member(*inner, "contents");
  }
  if (contents) ReadContents(*contents, summary);
  TServiceJson out;
  out.BeginObject().Member("totalTokens", summary.PromptTokens);
  out.Key("promptTokensDetails").BeginArray().BeginObject()
      .Member("modality", "TEXT").Member("tokenCount", summary.PromptTokens).EndObject().EndArray();
  out.EndObject();
  return Json(200, out.Take() + "\n");
}

}  // namespace

std::optional<TApiCall> ParseApiPath(std::string_view ADecodedPath) {
  if (ADecodedPath.empty() || ADecodedPath[0] != '/') return std::nullopt;
  const std::size_t slash = ADecodedPath.find('/', 1);
  if (slash == std::string_view::npos) return std::nullopt;
  TApiCall call;
  call.Version = std::string(ADecodedPath.substr(1, slash - 1));
  if (call.Version.rfind("v1", 0) != 0) return std::nullopt;
  std::string_view rest = ADecodedPath.substr(slash + 1);
  constexpr std::string_view kModels = "models/";
  if (rest.substr(0, kModels.size()) != kModels) return std::nullopt;
  rest.remove_prefix(kModels.size());
  const std::size_t colon = rest.rfind(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 == rest.size()) return std::nullopt;
  call.Model = std::string(rest.substr(0, colon));
  call.Method = std::string(rest.substr(colon + 1));
  if (call.Model.find('/') != std::string::npos) return std::nullopt;
  return call;
}

std::optional<std::string> QueryParam(std::string_view AQuery, std::string_view AName) {
  std::size_t start = 0;
  while (start <= AQuery.size()) {
    std::size_t end = AQuery.find('&', start);
    if (end == std::string_view::npos) end = AQuery.size();
    const std::string_view pair = AQuery.substr(start, end - start);
    const std::size_t eq = pair.find('=');
    if (pair.substr(0, eq) == AName)
      return std::string(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1));
    start = end + 1;
  }
  return std::nullopt;
}

bool HasApiKey(const TRecordedRequest& ARequest) {
  const auto key = QueryParam(ARequest.Query, "key");
  return (key && !key->empty()) || !ARequest.Header("x-goog-api-key").empty();
}

bool IsGenerateCall(const TRecordedRequest& ARequest, std::string_view ADecodedPath) {
  if (ARequest.Method != "POST") return false;
  const auto call = ParseApiPath(ADecodedPath);
  return call && (call->Method == "generateContent" || call->Method == "streamGenerateContent");
}

TScriptedReply MakeDefaultReply(const TRecordedRequest& ARequest, std::string_view ADecodedPath) {
  const auto call = ParseApiPath(ADecodedPath);
  const bool stream = call && call->Method == "streamGenerateContent";
  const bool sse = stream && QueryParam(ARequest.Query, "alt") == std::optional<std::string>("sse");
  if (!HasApiKey(ARequest)) {
    return Error(403,
                 "Method doesn't allow unregistered callers (callers without established identity). "
                 "Please use API key or other form of API consumer identity to call this API.",
                 "PERMISSION_DENIED", stream && !sse);
  }
  if (auto list = ModelListReply(ARequest, ADecodedPath)) return std::move(*list);
  if (call && ARequest.Method == "POST") {
    if (call->Method == "generateContent" || stream) return GenerateReply(*call, ARequest, stream, sse);
    if (call->Method == "countTokens") return CountTokensReply(ARequest);
  }
  if (call && (call->Method == "generateContent" || stream || call->Method == "countTokens"))
    return Error(404, "Method not found.", "NOT_FOUND", false);
  return Error(404,
               "Requested entity was not found: " + ARequest.Method + " " + std::string(ADecodedPath),
               "NOT_FOUND", false);
}

std::string ServiceErrorBody(int ACode, std::string_view AMessage, std::string_view AStatus) {
  TServiceJson out;
  out.BeginObject().Key("error").BeginObject()
      .Member("code", ACode).Member("message", AMessage).Member("status", AStatus)
      .EndObject().EndObject();
  return out.Take() + "\n";
}

std::string MakeDemoPng(std::string_view ASeed) {
  std::uint32_t h = 2166136261u;
  for (char c : ASeed) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  constexpr int kW = 96, kH = 64;
  std::vector<unsigned char> pixels(kW * kH * 3);
  const int r0 = h & 0xFF, g0 = (h >> 8) & 0xFF, b0 = (h >> 16) & 0xFF;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      unsigned char* p = &pixels[(y * kW + x) * 3];
      const int dx = x - kW / 2, dy = y - kH / 2;
      const bool disc = dx * dx + dy * dy < (kH / 3) * (kH / 3);
      p[0] = static_cast<unsigned char>(disc ? 255 - r0 : (r0 + x * 2) & 0xFF);
      p[1] = static_cast<unsigned char>(disc ? 255 - g0 : (g0 + y * 3) & 0xFF);
      p[2] = static_cast<unsigned char>(disc ? 255 - b0 : b0);
    }
  std::string png;
  stbi_write_png_to_func(
      [](void* AContext, void* AData, int ASize) {
        static_cast<std::string*>(AContext)->append(static_cast<const char*>(AData), ASize);
      },
      &png, kW, kH, 3, pixels.data(), kW * 3);
  return png;
}

std::string Base64Encode(std::string_view ABytes) {
  std::string out(4 * ((ABytes.size() + 2) / 3), '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(ABytes.data()),
                                static_cast<int>(ABytes.size()));
  out.resize(n);
  return out;
}

}  // namespace tarvok::emulator
