#include "core/WireFormat.h"

#include <simdjson.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/ApiAddress.h"
#include "core/CoreTexts.h"
#include "core/GeminiDM.h"
#include "core/JsonWriter.h"
#include "core/Text.h"

namespace tarvok {
namespace {

constexpr const char* kSafetyCategories[] = {
    "HARM_CATEGORY_HARASSMENT",
    "HARM_CATEGORY_HATE_SPEECH",
    "HARM_CATEGORY_SEXUALLY_EXPLICIT",
    "HARM_CATEGORY_DANGEROUS_CONTENT",
};

void WriteSafetySettings(TJsonWriter& w) {
  w.Key("safetySettings").BeginArray();
  for (const char* category : kSafetyCategories)
    w.BeginObject().Key("category").String(category).Key("threshold").String("BLOCK_NONE").EndObject();
  w.EndArray();
}

// Room for the escaped form: Base64 grows only by its '/' (about one in 64 characters),
// text at most threefold for letters outside ASCII; a rare overflow merely reallocates.
std::size_t EstimateBodySize(const TChatHistory& history) {
  std::size_t size = 1024;
  for (const THistoryItem& item : history) {
    size += 48 + item.Role.size();
    for (const TContentPart& part : item.Parts) {
      if (part.PartType == TPartType::ptText) size += 16 + part.Text.size() * 3;
      else size += 64 + part.MimeType.size() * 3 + part.Base64Data.size() + part.Base64Data.size() / 16;
    }
  }
  return size;
}

[[noreturn]] void Unreadable(const char* what) {
  throw TRequestError("TResponseFormatError", std::string("the member \"") + what + "\" of the answer cannot be read");
}

std::int32_t ReadCount(simdjson::dom::object usage, const char* name) {
  simdjson::dom::element e;
  if (usage.at_key(name).get(e) != simdjson::SUCCESS) return 0;
  switch (e.type()) {
    case simdjson::dom::element_type::NULL_VALUE: return 0;
    case simdjson::dom::element_type::INT64: {
      const std::int64_t v = e.get_int64().value_unsafe();
      if (v > std::numeric_limits<std::int32_t>::max() || v < std::numeric_limits<std::int32_t>::min()) Unreadable(name);
      return static_cast<std::int32_t>(v);
    }
    case simdjson::dom::element_type::UINT64: Unreadable(name);
    case simdjson::dom::element_type::DOUBLE: {
      const double v = e.get_double().value_unsafe();
      if (!(v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max())) Unreadable(name);
      return static_cast<std::int32_t>(v);
    }
    default: Unreadable(name);
  }
}

// A string member: absent or null gives AFallback; any other kind is unreadable.
std::string_view ReadOptionalString(simdjson::dom::object obj, const char* name, std::string_view AFallback,
                                    bool& APresent) {
  APresent = false;
  simdjson::dom::element e;
  if (obj.at_key(name).get(e) != simdjson::SUCCESS) return AFallback;
  if (e.is_null()) return AFallback;
  std::string_view s;
  if (e.get_string().get(s) != simdjson::SUCCESS) Unreadable(name);
  APresent = true;
  return s;
}

std::string_view StringMember(simdjson::dom::object obj, const char* name) {
  std::string_view s;
  if (obj.at_key(name).get_string().get(s) != simdjson::SUCCESS) return {};
  return s;
}

// The picture of a part: the request spelling first, then the one the service writes.
bool FindInlineData(simdjson::dom::object part, simdjson::dom::object& AData, bool& ACamelCase) {
  if (part.at_key("inline_data").get_object().get(AData) == simdjson::SUCCESS) { ACamelCase = false; return true; }
  if (part.at_key("inlineData").get_object().get(AData) == simdjson::SUCCESS) { ACamelCase = true; return true; }
  return false;
}

std::string ImageResultFrom(simdjson::dom::object data, bool camelCase) {
  bool present = false;
  std::string_view mime = ReadOptionalString(data, camelCase ? "mimeType" : "mime_type", {}, present);
  if (!present) mime = ReadOptionalString(data, camelCase ? "mime_type" : "mimeType", "image/png", present);
  const std::string_view base64 = ReadOptionalString(data, "data", {}, present);
  return MakeImageResultText(mime, base64);
}

std::string_view ErrorMessageOf(simdjson::dom::element doc) {
  std::string_view message;
  if (doc["error"]["message"].get_string().get(message) != simdjson::SUCCESS) return {};
  return message;
}

bool IsThought(simdjson::dom::object part) {
  bool thought = false;
  return part.at_key("thought").get_bool().get(thought) == simdjson::SUCCESS && thought;
}

// A whole number of a member, or 0 when it is missing, of another kind or out of range.
std::int64_t LenientInt(simdjson::dom::object AObject, const char* AName) {
  std::int64_t v = 0;
  if (AObject.at_key(AName).get_int64().get(v) == simdjson::SUCCESS) return v;
  double d = 0;
  if (AObject.at_key(AName).get_double().get(d) == simdjson::SUCCESS && d >= 0 && d < 9.0e15) return static_cast<std::int64_t>(d);
  return 0;
}

// groundingMetadata: sources (web pages, or retrieved documents), supports, search queries.
// The service leaves out members that are zero or empty, so a missing start is 0.
void ReadGrounding(simdjson::dom::object ACandidate, TGrounding& AGrounding) {
  simdjson::dom::object meta;
  if (ACandidate.at_key("groundingMetadata").get_object().get(meta) != simdjson::SUCCESS) return;
  simdjson::dom::array array;
  if (meta.at_key("groundingChunks").get_array().get(array) == simdjson::SUCCESS) {
    for (simdjson::dom::element chunk : array) {
      simdjson::dom::object source;
      if (chunk["web"].get_object().get(source) != simdjson::SUCCESS &&
          chunk["retrievedContext"].get_object().get(source) != simdjson::SUCCESS) {
        AGrounding.Sources.push_back({});  // keeps the numbering of the supports
        continue;
      }
      AGrounding.Sources.push_back({std::string(StringMember(source, "title")), std::string(StringMember(source, "uri"))});
    }
  }
  if (meta.at_key("groundingSupports").get_array().get(array) == simdjson::SUCCESS) {
    for (simdjson::dom::element item : array) {
      simdjson::dom::object support, segment;
      if (item.get_object().get(support) != simdjson::SUCCESS) continue;
      TGroundingSupport s;
      if (support.at_key("segment").get_object().get(segment) == simdjson::SUCCESS) {
        s.StartIndex = LenientInt(segment, "startIndex");
        s.EndIndex = LenientInt(segment, "endIndex");
      }
      simdjson::dom::array indices;
      if (support.at_key("groundingChunkIndices").get_array().get(indices) == simdjson::SUCCESS)
        for (simdjson::dom::element index : indices) {
          std::int64_t i = 0;
          if (index.get_int64().get(i) == simdjson::SUCCESS && i >= 0 && i < 1000000) s.Sources.push_back(static_cast<std::int32_t>(i));
        }
      if (s.EndIndex > s.StartIndex && !s.Sources.empty()) AGrounding.Supports.push_back(std::move(s));
    }
  }
  if (meta.at_key("webSearchQueries").get_array().get(array) == simdjson::SUCCESS) {
    for (simdjson::dom::element query : array) {
      std::string_view q;
      if (query.get_string().get(q) == simdjson::SUCCESS && !q.empty()) AGrounding.Queries.emplace_back(q);
    }
  }
}

// True when the candidate gave no answer and AResult says why.
bool ReadCandidate(simdjson::dom::element first, std::string& AResult, TAnswerExtras* AExtras) {
  simdjson::dom::object candidate;
  if (first.get_object().get(candidate) != simdjson::SUCCESS)
    throw TRequestError("TResponseFormatError", "the first candidate of the answer is not an object");
  simdjson::dom::array parts;
  bool gotPicture = false;
  std::string gathered;
  simdjson::dom::object content;
  if (candidate.at_key("content").get_object().get(content) == simdjson::SUCCESS &&
      content.at_key("parts").get_array().get(parts) == simdjson::SUCCESS) {
    for (simdjson::dom::element item : parts) {
      simdjson::dom::object part;
      if (item.get_object().get(part) != simdjson::SUCCESS) continue;
      // Reasoning (a summary or a sketch picture) is not the answer; its text goes beside it.
      if (IsThought(part)) {
        std::string_view thought;
        if (AExtras && part.at_key("text").get_string().get(thought) == simdjson::SUCCESS) AExtras->Thoughts += thought;
        continue;
      }
      simdjson::dom::object data;
      bool camelCase = false;
      if (FindInlineData(part, data, camelCase)) {
        AResult = ImageResultFrom(data, camelCase);
        gotPicture = true;
        break;
      }
      std::string_view text;
      if (part.at_key("text").get_string().get(text) == simdjson::SUCCESS) gathered += text;
    }
  }
  if (AExtras) ReadGrounding(candidate, AExtras->Grounding);
  if (gotPicture) return false;
  AResult = std::move(gathered);
  if (!AResult.empty()) return false;
  // Stopped before any output: a blank answer recorded as a success would lose the prompt.
  const std::string_view reason = StringMember(candidate, "finishReason");
  if (reason.empty() || reason == "STOP") return false;
  AResult = std::string(texts::kNoAnswerHead) + std::string(reason) + texts::kNoAnswerTail;
  return true;
}

}  // namespace

std::string BuildRequestUrl(const TGeminiSettings& ASettings, std::string_view AModelName, std::string_view AApiKey) {
  const std::string_view pattern = ASettings.GeminiApiUrlBase;
  // The model name is one path segment, whatever it holds: "../x?" must not reach another address.
  const std::string model = EncodePathSegment(AModelName);
  const std::string_view values[] = {model, ASettings.MethodGenerate};
  std::string url;
  url.reserve(pattern.size() + model.size() + ASettings.MethodGenerate.size() + AApiKey.size());
  std::size_t next = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      if (pattern[i + 1] == '%') { url += '%'; ++i; continue; }
      if (pattern[i + 1] == 's') {
        if (next >= 2) throw TRequestError("TFormatError", "the request address pattern asks for more than two values");
        url += values[next++];
        ++i;
        continue;
      }
    }
    url += pattern[i];
  }
  url += AApiKey;
  return url;
}

namespace {

// The chat body's one layout; AData writes each attachment's "data" value.
template <class TWriteData>
void WriteChatBody(TJsonWriter& w, const TChatHistory& AHistory, const TGeminiSettings& ASettings,
                   bool AUseGoogleSearch, bool AIncludeThoughts, TWriteData AData) {
  w.BeginObject().Key("contents").BeginArray();
  for (const THistoryItem& item : AHistory) {
    w.BeginObject().Key("role").String(item.Role).Key("parts").BeginArray();
    for (const TContentPart& part : item.Parts) {
      w.BeginObject();
      if (part.PartType == TPartType::ptText) {
        w.Key("text").String(part.Text);
      } else if (!part.FileUri.empty()) {
        w.Key("file_data").BeginObject().Key("mime_type").String(part.MimeType).Key("file_uri").String(part.FileUri).EndObject();
      } else {
        w.Key("inline_data").BeginObject().Key("mime_type").String(part.MimeType).Key("data");
        AData(part.Base64Data.view());
        w.EndObject();
      }
      w.EndObject();
    }
    w.EndArray().EndObject();
  }
  w.EndArray();
  w.Key("generationConfig").BeginObject()
      .Key("temperature").Double(ASettings.Temperature)
      .Key("topK").Int(ASettings.TopK)
      .Key("topP").Double(ASettings.TopP)
      .Key("maxOutputTokens").Int(ASettings.MaxOutputTokens)
      .Key("stopSequences").BeginArray().EndArray();
  if (AIncludeThoughts) w.Key("thinkingConfig").BeginObject().Key("includeThoughts").Bool(true).EndObject();
  w.EndObject();
  WriteSafetySettings(w);
  if (AUseGoogleSearch) w.Key("tools").BeginArray().BeginObject().Key("googleSearch").BeginObject().EndObject().EndObject().EndArray();
  w.EndObject();
}

}  // namespace

std::string BuildChatBody(const TChatHistory& AHistory, const TGeminiSettings& ASettings, bool AUseGoogleSearch,
                          bool AIncludeThoughts) {
  std::string body;
  body.reserve(EstimateBodySize(AHistory));
  TJsonWriter w(body);
  WriteChatBody(w, AHistory, ASettings, AUseGoogleSearch, AIncludeThoughts, [&w](std::string_view AData) { w.Base64String(AData); });
  return body;
}

TRequestBodySource::TRequestBodySource(std::string AWholeBody) : FText(std::move(AWholeBody)), FSize(FText.size()) {
  FPieces.push_back({FText.size(), {}});
}

TRequestBodySource::TRequestBodySource(const TChatHistory& AHistory, const TGeminiSettings& ASettings,
                                       bool AUseGoogleSearch, bool AIncludeThoughts) {
  std::size_t texts = 1024;
  for (const THistoryItem& item : AHistory) {
    texts += 48 + item.Role.size();
    for (const TContentPart& part : item.Parts) texts += 64 + (part.Text.size() + part.MimeType.size()) * 3;
  }
  FText.reserve(texts);
  TJsonWriter w(FText);
  std::size_t base64Size = 0;
  WriteChatBody(w, AHistory, ASettings, AUseGoogleSearch, AIncludeThoughts, [&](std::string_view AData) {
    std::size_t escaped = 0;
    if (!EscapedBase64Size(AData, escaped)) {
      // Not Base64 (a foreign chat file, rare): escaped in full and held among the texts.
      w.Base64String(AData);
      return;
    }
    // An empty string marks the place; the data goes between its quotes.
    w.String("");
    FPieces.push_back({FText.size() - 1, AData});
    base64Size += escaped;
  });
  FPieces.push_back({FText.size(), {}});
  FSize = FText.size() + base64Size;
}

std::size_t TRequestBodySource::Read(char* ADest, std::size_t AMax) {
  std::size_t n = 0;
  if (FPendingSlash && AMax > 0) {
    ADest[n++] = '/';
    FPendingSlash = false;
  }
  while (n < AMax && FPiece < FPieces.size()) {
    const TPiece& piece = FPieces[FPiece];
    if (!FInBase64) {
      const std::size_t k = std::min(piece.TextEnd - FTextAt, AMax - n);
      std::memcpy(ADest + n, FText.data() + FTextAt, k);
      FTextAt += k;
      n += k;
      if (FTextAt < piece.TextEnd) break;
      FInBase64 = true;
      FBase64At = 0;
    }
    n += CopyEscapedBase64(piece.Base64, FBase64At, ADest + n, AMax - n);
    if (FBase64At == piece.Base64.size()) {
      FInBase64 = false;
      ++FPiece;
      continue;
    }
    if (n < AMax) {  // one byte of room and a '/' next: its backslash now, the slash next time
      ADest[n++] = '\\';
      ++FBase64At;
      FPendingSlash = true;
    }
    break;
  }
  FOffset += n;
  return n;
}

void TRequestBodySource::Seek(std::size_t AOffset) {
  FPiece = 0;
  FTextAt = 0;
  FBase64At = 0;
  FInBase64 = false;
  FPendingSlash = false;
  FOffset = 0;
  // Only a retried transfer comes here, almost always for the start: reading up to the
  // offset is simple and costs no more than the bytes it passes.
  char scratch[16 * 1024];
  while (FOffset < AOffset && FOffset < FSize) Read(scratch, std::min(sizeof scratch, AOffset - FOffset));
}

std::string BuildImageBody(std::string_view APrompt) {
  std::string body;
  body.reserve(512 + APrompt.size() * 3);
  TJsonWriter w(body);
  w.BeginObject().Key("contents").BeginArray().BeginObject().Key("role").String("user").Key("parts").BeginArray()
      .BeginObject().Key("text").String(APrompt).EndObject().EndArray().EndObject().EndArray();
  w.Key("generationConfig").BeginObject().EndObject();
  WriteSafetySettings(w);
  w.EndObject();
  return body;
}

std::string MakeImageResultText(std::string_view AMimeType, std::string_view ABase64Data) {
  std::string out;
  out.reserve(40 + AMimeType.size() * 3 + ABase64Data.size() + ABase64Data.size() / 16);
  TJsonWriter w(out);
  w.BeginObject().Key("mime_type").String(AMimeType).Key("base64_data").Base64String(ABase64Data).EndObject();
  return out;
}

namespace {

// The text is decoded as UTF-8 first: stray bytes and lone surrogate escapes become U+FFFD
// instead of failing the parse. The parser keeps its own copy of every string, so the
// repaired text may go at once.
bool ParseBody(const std::string& ABody, simdjson::dom::parser& AParser, simdjson::dom::element& ADoc) {
  const bool validUtf8 = simdjson::validate_utf8(ABody.data(), ABody.size());
  if (!validUtf8 || AParser.parse(ABody).get(ADoc) != simdjson::SUCCESS) {
    std::string text = MakeValidUtf8(ABody);
    const bool surrogates = RepairLoneSurrogateEscapes(text.data(), text.size());
    if ((validUtf8 && !surrogates) || AParser.parse(text).get(ADoc) != simdjson::SUCCESS) return false;
  }
  return true;
}

}  // namespace

bool IsJsonObjectBody(const std::string& ABody) {
  simdjson::dom::parser parser;
  simdjson::dom::element doc;
  return ParseBody(ABody, parser, doc) && doc.is_object();
}

bool ReadResponseBody(const std::string& ABody, std::string& AResult, TTokenUsage& AUsage, TAnswerExtras* AExtras) {
  // A text answer (and every streamed event) is read by a parser this thread keeps for
  // this function alone: a new one costs two allocations the size of the answer, as much
  // work as reading it. A larger answer, a picture, gets a parser of its own, so that no
  // thread keeps its memory afterwards.
  constexpr std::size_t kKeptParserBytes = 16 * 1024;
  thread_local simdjson::dom::parser kept;
  simdjson::dom::parser own;
  simdjson::dom::parser& parser = ABody.size() <= kKeptParserBytes ? kept : own;
  simdjson::dom::element doc;
  if (!ParseBody(ABody, parser, doc)) return false;
  simdjson::dom::object root;
  if (doc.get_object().get(root) != simdjson::SUCCESS) return false;

  simdjson::dom::object usage;
  if (root.at_key("usageMetadata").get_object().get(usage) == simdjson::SUCCESS) {
    AUsage.PromptTokens = ReadCount(usage, "promptTokenCount");
    AUsage.CandidatesTokens = ReadCount(usage, "candidatesTokenCount");
    AUsage.TotalTokens = ReadCount(usage, "totalTokenCount");
    if (AExtras) {
      const std::int64_t thoughts = LenientInt(usage, "thoughtsTokenCount");
      AExtras->ThoughtsTokens = thoughts > 0 && thoughts <= std::numeric_limits<std::int32_t>::max() ? static_cast<std::int32_t>(thoughts) : 0;
    }
  }

  simdjson::dom::array candidates;
  simdjson::dom::element first;
  if (root.at_key("candidates").get_array().get(candidates) == simdjson::SUCCESS && candidates.at(0).get(first) == simdjson::SUCCESS) {
    return ReadCandidate(first, AResult, AExtras);
  }

  const std::string_view message = ErrorMessageOf(doc);
  if (!message.empty()) {
    AResult = texts::kErrorPrefix + std::string(message);
    return true;
  }
  simdjson::dom::object feedback;
  std::string_view blockReason;
  if (root.at_key("promptFeedback").get_object().get(feedback) == simdjson::SUCCESS &&
      !(blockReason = StringMember(feedback, "blockReason")).empty()) {
    AResult = std::string(texts::kBlockedHead) + std::string(blockReason) + texts::kBlockedTail;
    return true;
  }
  AResult = texts::kEmptyAnswer;
  return true;
}

std::string ExtractErrorMessage(std::string_view ABody) {
  if (Trim(ABody).empty()) return {};
  try {
    simdjson::dom::parser parser;
    const simdjson::padded_string padded = simdjson::padded_string(MakeValidUtf8(ABody));
    simdjson::dom::element doc;
    if (parser.parse(padded).get(doc) != simdjson::SUCCESS) return {};
    return std::string(ErrorMessageOf(doc));
  } catch (...) {
    return {};
  }
}

bool IsThinkingRefusal(long AStatus, std::string_view ABody) {
  if (AStatus != 400) return false;
  const std::string message = LowerCase(ExtractErrorMessage(ABody));
  return message.find("think") != std::string::npos;
}

}  // namespace tarvok
