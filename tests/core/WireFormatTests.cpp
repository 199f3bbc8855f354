#include <gtest/gtest.h>
#include <simdjson.h>

#include <stdexcept>
#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>

#include "core/CoreTexts.h"
#include "core/GeminiDM.h"
#include "core/ApiAddress.h"
#include "core/WireFormat.h"
#include "SampleHistories.h"

using namespace tarvok;

namespace {

std::string ReadFixture(const std::string& name) {
  const std::string path = std::string(TARVOK_FIXTURES_DIR) + "/gemini-responses/" + name;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("fixture not found: " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TContentPart Text(std::string t) {
  TContentPart p;
  p.Text = std::move(t);
  return p;
}

THistoryItem Turn(std::string role, TContentParts parts) {
  THistoryItem item;
  item.Role = std::move(role);
  item.Parts = std::move(parts);
  item.TokenCount = 7;
  item.ModelName = "kept out";
  return item;
}

struct TImage {
  std::string MimeType, Base64;
};

// The picture carried by an image result text, read back as a receiver would.
std::optional<TImage> ParseImageResult(const std::string& r) {
  simdjson::dom::parser parser;
  simdjson::dom::object obj;
  if (parser.parse(r).get_object().get(obj) != simdjson::SUCCESS) return std::nullopt;
  std::string_view mime, data;
  if (obj["mime_type"].get_string().get(mime) || obj["base64_data"].get_string().get(data)) return std::nullopt;
  return TImage{std::string(mime), std::string(data)};
}

constexpr const char* kSafety =
    R"("safetySettings":[{"category":"HARM_CATEGORY_HARASSMENT","threshold":"BLOCK_NONE"},)"
    R"({"category":"HARM_CATEGORY_HATE_SPEECH","threshold":"BLOCK_NONE"},)"
    R"({"category":"HARM_CATEGORY_SEXUALLY_EXPLICIT","threshold":"BLOCK_NONE"},)"
    R"({"category":"HARM_CATEGORY_DANGEROUS_CONTENT","threshold":"BLOCK_NONE"}])";

}  // namespace

TEST(RequestBody, TheDocumentedExampleCharacterForCharacter) {
  TGeminiSettings s;
  s.Temperature = 0;
  s.TopK = 1;
  s.TopP = 1;
  s.MaxOutputTokens = 500000;
  const std::string body = BuildChatBody({Turn("user", {Text("Hi")})}, s, true);
  EXPECT_EQ(body, std::string(R"({"contents":[{"role":"user","parts":[{"text":"Hi"}]}],"generationConfig":{"temperature":0.0,"topK":1,"topP":1.0,"maxOutputTokens":500000,"stopSequences":[]},)") +
                      kSafety + R"(,"tools":[{"googleSearch":{}}]})");
}

TEST(RequestBody, TurnsPartsAndEscapingWithoutSearch) {
  TContentPart picture;
  picture.PartType = TPartType::ptInlineData;
  picture.MimeType = "image/png";
  picture.Base64Data = TSharedText("iVBO/w==");
  picture.FileName = "/home/u/secret-name.png";
  TContentPart textFile;
  textFile.PartType = TPartType::ptInlineData;
  textFile.MimeType = "text/plain";
  textFile.Base64Data = TSharedText("QQ==");
  textFile.Text = "decoded text stays home";
  textFile.FileName = "C:\\notes.txt";
  TGeminiSettings s;  // temperature 0.2, topK 1, topP 1.0
  const TChatHistory history = {
      Turn("user", {Text("a\r\n\xD0\xB0\"/\\\t\xF0\x9F\x98\x80"), picture, textFile}),
      Turn("model", {}),
      Turn("user", {Text("")}),
  };
  const std::string body = BuildChatBody(history, s, false);
  EXPECT_EQ(body,
            std::string(R"({"contents":[{"role":"user","parts":[{"text":"a\r\n\u0430\"\/\\\t\uD83D\uDE00"},)"
                        R"({"inline_data":{"mime_type":"image\/png","data":"iVBO\/w=="}},)"
                        R"({"inline_data":{"mime_type":"text\/plain","data":"QQ=="}}]},)"
                        R"({"role":"model","parts":[]},{"role":"user","parts":[{"text":""}]}],)"
                        R"("generationConfig":{"temperature":0.2,"topK":1,"topP":1.0,"maxOutputTokens":500000,"stopSequences":[]},)") +
                kSafety + "}");
}

TEST(RequestBody, ImageRequestIsThePromptAlone) {
  EXPECT_EQ(BuildImageBody("a \xD0\xBA\xD0\xBE\xD1\x82"),
            std::string(R"({"contents":[{"role":"user","parts":[{"text":"a \u043A\u043E\u0442"}]}],"generationConfig":{},)") + kSafety + "}");
}

TEST(RequestUrl, PatternTakesModelAndMethodThenTheKey) {
  TGeminiSettings s;
  s.GeminiApiUrlBase = kDefaultGeminiApiUrlBase;
  s.MethodGenerate = "generateContent";
  EXPECT_EQ(BuildRequestUrl(s, "gemini-2.5-flash", "K 1"),
            std::string(kDefaultGeminiApiUrlBase).substr(0, std::string(kDefaultGeminiApiUrlBase).find("%s")) +
                "gemini-2.5-flash:generateContent?key=K 1");
  s.GeminiApiUrlBase = "http://127.0.0.1:9/100%%/%s/%s?k=";
  EXPECT_EQ(BuildRequestUrl(s, "m", "k"), "http://127.0.0.1:9/100%/m/generateContent?k=k");
  s.GeminiApiUrlBase = "%s%s%s";
  EXPECT_THROW(BuildRequestUrl(s, "m", "k"), TRequestError);
}

// A model name is one path segment of the address, whatever it holds.
TEST(RequestUrl, TheModelNameCannotChangeTheAddress) {
  TGeminiSettings s;
  s.GeminiApiUrlBase = "https://host/v1beta/models/%s:%s?key=";
  s.MethodGenerate = "generateContent";
  const struct {
    const char* model;
    const char* url;
  } cases[] = {
      {"gemini-2.5-flash", "https://host/v1beta/models/gemini-2.5-flash:generateContent?key=k"},
      {"../../../../n07?", "https://host/v1beta/models/..%2F..%2F..%2F..%2Fn07%3F:generateContent?key=k"},
      {"m#frag", "https://host/v1beta/models/m%23frag:generateContent?key=k"},
      {"50%", "https://host/v1beta/models/50%25:generateContent?key=k"},
      {"a b\\c", "https://host/v1beta/models/a%20b%5Cc:generateContent?key=k"},
      {"..", "https://host/v1beta/models/%2E%2E:generateContent?key=k"},
      {"\xD0\xBC", "https://host/v1beta/models/%D0%BC:generateContent?key=k"},
  };
  for (const auto& c : cases) EXPECT_EQ(BuildRequestUrl(s, c.model, "k"), c.url) << c.model;
}

TEST(ApiAddress, RootsComeFromTheAddressPattern) {
  const struct {
    const char* pattern;
    const char* apiRoot;
    const char* uploadRoot;
  } cases[] = {
      {kDefaultGeminiApiUrlBase, "https://generativelanguage.googleapis.com/v1beta",
       "https://generativelanguage.googleapis.com/upload/v1beta"},
      {"http://127.0.0.1:8080/relay/v1beta/models/%s:%s?key=", "http://127.0.0.1:8080/relay/v1beta",
       "http://127.0.0.1:8080/upload/relay/v1beta"},
      {"http://127.0.0.1:9/v1/%s:%s?key=", "http://127.0.0.1:9/v1", "http://127.0.0.1:9/upload/v1"},
      {"http://127.0.0.1:9/%s:%s?key=", "http://127.0.0.1:9", "http://127.0.0.1:9/upload"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ApiRootOf(c.pattern), c.apiRoot) << c.pattern;
    EXPECT_EQ(UploadRootOf(c.pattern), c.uploadRoot) << c.pattern;
  }
}

TEST(ImageResultText, CompactEscapedTwoMembers) {
  EXPECT_EQ(MakeImageResultText("image/jpeg", "QU/JD"), R"({"mime_type":"image\/jpeg","base64_data":"QU\/JD"})");
}

// Inline data that is not clean Base64 (a foreign chat file, a server's picture) is escaped in full.
TEST(InlineData, DataThatIsNotBase64CannotSpliceJson) {
  const std::string hostile = R"("}},{"text":"INJECTED\)" "\n\xD0\xB0";
  TContentPart part;
  part.PartType = TPartType::ptInlineData;
  part.MimeType = "image/png";
  part.Base64Data = TSharedText(hostile);
  const std::string body = BuildChatBody({Turn("user", {part})}, TGeminiSettings{}, false);
  simdjson::dom::parser parser;
  simdjson::dom::element doc;
  ASSERT_EQ(parser.parse(body).get(doc), simdjson::SUCCESS) << body;
  simdjson::dom::array parts;
  ASSERT_EQ(doc["contents"].at(0)["parts"].get_array().get(parts), simdjson::SUCCESS);
  EXPECT_EQ(parts.size(), 1u) << "no part added";
  std::string_view data;
  ASSERT_EQ(parts.at(0)["inline_data"]["data"].get_string().get(data), simdjson::SUCCESS);
  EXPECT_EQ(data, hostile);

  const auto image = ParseImageResult(MakeImageResultText("image/png", hostile));
  ASSERT_TRUE(image.has_value()) << "the image result text stays valid JSON";
  EXPECT_EQ(image->Base64, hostile);
}

// The body handed out piece by piece is the body made whole, byte for byte, whatever the
// pieces' size: a piece may end inside a text, between the two bytes of an escaped '/', or
// right at an attachment's edge. Going back to any offset reads the same bytes again.
TEST(RequestBodySource, AnyPiecesMakeTheWholeBody) {
  bool search = false;
  for (const auto& sample : tarvok::test::SampleHistories()) {
    SCOPED_TRACE(sample.Name);
    TGeminiSettings settings;
    search = !search;
    const std::string whole = BuildChatBody(sample.History, settings, search);
    TRequestBodySource source(sample.History, settings, search);
    ASSERT_EQ(source.Size(), whole.size());
    const bool big = whole.size() > (8u << 20);
    std::vector<std::size_t> pieceSizes = {3, 48, 49, 4096, 512 * 1024};
    if (!big) pieceSizes.insert(pieceSizes.end(), {1, 2, 47, whole.size() + 1});
    std::string buffer;
    for (const std::size_t piece : pieceSizes) {
      source.Seek(0);
      std::string streamed;
      buffer.resize(piece);
      while (const std::size_t n = source.Read(buffer.data(), piece)) {
        ASSERT_LE(n, piece);
        streamed.append(buffer, 0, n);
        if (streamed.size() < whole.size()) {
          ASSERT_EQ(n, piece) << "a short piece before the end";
        }
      }
      ASSERT_EQ(streamed.size(), whole.size()) << "pieces of " << piece;
      ASSERT_TRUE(streamed == whole) << "pieces of " << piece << ", first difference at "
                                     << std::mismatch(streamed.begin(), streamed.end(), whole.begin()).first - streamed.begin();
      EXPECT_EQ(source.Read(buffer.data(), piece), 0u) << "nothing after the end";
    }

    std::vector<std::size_t> offsets = {0, 1, whole.size() / 3, whole.size() - 1, whole.size()};
    std::vector<std::size_t> escapedSlashes;
    for (std::size_t at = whole.find("\\/"); at != std::string::npos; at = whole.find("\\/", at + 2)) escapedSlashes.push_back(at);
    for (std::size_t i = 0; i < escapedSlashes.size(); i += escapedSlashes.size() / 8 + 1)
      offsets.push_back(escapedSlashes[i] + 1);  // between the backslash and its slash
    buffer.resize(65536);
    for (const std::size_t offset : offsets) {
      source.Seek(whole.size() / 2);
      (void)source.Read(buffer.data(), 1000);
      source.Seek(offset);
      EXPECT_EQ(source.Offset(), offset);
      std::string rest;
      while (const std::size_t n = source.Read(buffer.data(), buffer.size())) rest.append(buffer, 0, n);
      EXPECT_TRUE(rest == std::string_view(whole).substr(offset)) << "from offset " << offset;
    }
  }
}

// Every recorded answer of the real service, read as a body that came with a success status.
TEST(ResponseReading, EveryRecordedAnswer) {
  enum class k { Text, Image, noanswer, blocked, error, none };
  struct {
    const char* file;
    k kind;
    std::string head;  // text: its start; image: the MIME type; otherwise the reason or message
    std::size_t size;  // text: bytes; image: Base64 characters
    std::string tail;  // text: its end; image: the start of the Base64 data
    TTokenUsage usage;
  } cases[] = {
      {"01-text-basic.json", k::Text, "OK.", 3, "OK.", {6, 2, 28}},
      {"01-text-thought-signature.json", k::Text, "OK", 2, "OK", {4, 1, 5}},
      {"02-multi-text-parts-grounded.json", k::Text, "\nThe first meaningful se", 212, " March 10th!", {32, 66, 4808}},
      {"02-multi-text-parts-three.json", k::Text, "1AM\n\nThe fruit in the im", 488, " brown skin.", {1263, 116, 1379}},
      {"02-thought-part.json", k::Text, "Crossing the street safe", 3019, "ing for you.", {29, 736, 1766}},
      {"03-image-no-image.json", k::noanswer, "NO_IMAGE", 0, "", {9, 0, 9}},
      {"03-image-redacted-by-source.json", k::Image, "image/jpeg", 41, "<redacted li", {10, 1392, 1402}},
      {"03-image-text-inline-full.json", k::Image, "image/png", 439352, "iVBORw0KGgoA", {263, 1309, 1572}},
      {"03-image-text-inline-trimmed.json", k::Image, "image/png", 256, "iVBORw0KGgoA", {11, 1378, 1389}},
      {"03-image-thought-signatures-trimmed.json", k::Image, "image/jpeg", 256, "/9j/4AAQSkZJ", {14, 1283, 1471}},
      {"04-blocked-prompt-model-armor-vertex.json", k::blocked, "MODEL_ARMOR", 0, "", {0, 0, 0}},
      {"04-blocked-prompt.json", k::blocked, "PROHIBITED_CONTENT", 0, "", {9, 0, 9}},
      {"04-finish-model-armor-no-content-vertex.json", k::noanswer, "MODEL_ARMOR", 0, "", {19, 6, 52}},
      {"04-max-tokens-no-parts.json", k::noanswer, "MAX_TOKENS", 0, "", {15, 0, 17}},
      {"04-max-tokens-with-text.json", k::Text, "The capital of France is", 24, "of France is", {15, 5, 20}},
      {"04-safety-empty-content-2.json", k::noanswer, "SAFETY", 0, "", {22, 0, 22}},
      {"04-safety-empty-content.json", k::noanswer, "SAFETY", 0, "", {14, 0, 14}},
      {"05-grounded-google-search.json", k::Text, "## Weather in San Franci", 816, "emperatures.", {17, 201, 550}},
      {"05-url-context-raw.json", k::Text, "Pydantic AI is a Python ", 131, "nerative AI.", {32, 41, 2515}},
      {"06-error-400-api-key-invalid-raw.json", k::error, "API key not valid. Please pass a valid API key.", 0, "", {}},
      {"06-error-400-api-key-invalid.json", k::error, "API key not valid. Please pass a valid API key.", 0, "", {}},
      {"06-error-400-bad-request-field-violation.json", k::error, "Invalid JSON payload received. Unknown name \"mediaResolution\" at 'contents[0].parts[1]': Cannot find field.", 0, "", {}},
      {"06-error-403-leaked-key-raw.json", k::error, "Your API key was reported as leaked. Please use another API key.", 0, "", {}},
      {"06-error-403-service-blocked-raw.json", k::error, "Requests to this API generativelanguage.googleapis.com method google.ai.generativelanguage.v1beta.GenerativeService.StreamGenerateContent are blocked.", 0, "", {}},
      {"06-error-404-model-not-found.json", k::error, "models/gemini-3.6-flahs is not found for API version v1beta, or is not supported for generateContent. Call ModelService.ListModels to see the list of available models and their supported methods.", 0, "", {}},
      {"06-error-429-help-only-raw.json", k::error, "You exceeded your current quota, please check your plan and billing details. For more information on this error, head to: https://ai.google.dev/gemini-api/docs/rate-limits. To monitor your current usage, head to: https://ai.dev/rate-limit. ", 0, "", {}},
      {"06-error-429-no-details-raw.json", k::error, "You exceeded your current quota, please check your plan and billing details. For more information on this error, head to: https://ai.google.dev/gemini-api/docs/rate-limits. To monitor your current usage, head to: https://ai.dev/rate-limit. ", 0, "", {}},
      {"06-error-429-quota-details-raw.json", k::error, "You exceeded your current quota, please check your plan and billing details. For more information on this error, head to: https://ai.google.dev/gemini-api/docs/rate-limits.", 0, "", {}},
      {"06-error-500-internal.json", k::error, "An internal error has occurred. Please retry or report in https://developers.generativeai.google/guide/troubleshooting", 0, "", {}},
      {"06-error-503-overloaded-array-stream.json", k::none, "", 0, "", {}},
      {"06-error-503-overloaded.json", k::error, "The model is overloaded. Please try again later.", 0, "", {}},
      {"07-stream-array-gemini15.json", k::none, "", 0, "", {}},
      {"07-stream-array-thought.json", k::none, "", 0, "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string body = ReadFixture(c.file);
    ASSERT_FALSE(body.empty());
    std::string r;
    TTokenUsage u;
    bool failed = false;
    ASSERT_NO_THROW(failed = ReadResponseBody(body, r, u));
    EXPECT_EQ(u, c.usage);
    EXPECT_EQ(failed, c.kind == k::noanswer || c.kind == k::blocked || c.kind == k::error);
    switch (c.kind) {
      case k::Text:
        EXPECT_EQ(r.size(), c.size);
        EXPECT_TRUE(r.starts_with(c.head)) << r.substr(0, 40);
        EXPECT_TRUE(r.ends_with(c.tail)) << r;
        break;
      case k::Image: {
        const auto image = ParseImageResult(r);
        ASSERT_TRUE(image.has_value()) << r.substr(0, 80);
        EXPECT_EQ(image->MimeType, c.head);
        EXPECT_EQ(image->Base64.size(), c.size);
        EXPECT_TRUE(image->Base64.starts_with(c.tail));
        break;
      }
      case k::noanswer:
        EXPECT_EQ(r, std::string(texts::kNoAnswerHead) + c.head + texts::kNoAnswerTail);
        break;
      case k::blocked:
        EXPECT_EQ(r, std::string(texts::kBlockedHead) + c.head + texts::kBlockedTail);
        break;
      case k::error:
        EXPECT_EQ(r, texts::kErrorPrefix + c.head);
        EXPECT_EQ(ExtractErrorMessage(body), c.head);
        break;
      case k::none:
        EXPECT_EQ(r, "");
        EXPECT_EQ(ExtractErrorMessage(body), "");
        break;
    }
  }
}

TEST(ResponseReading, PartsAndShapes) {
  struct {
    const char* name;
    std::string body;
    std::string result;  // an image result is compared as its text
  } cases[] = {
      {"texts joined without separator", R"({"candidates":[{"content":{"parts":[{"text":"Hello"},{"text":"World"}]}}]})", "HelloWorld"},
      {"text then picture drops the text", R"({"candidates":[{"content":{"parts":[{"text":"x"},{"inline_data":{"mime_type":"image/jpeg","data":"QUJD"}}]}}]})",
       R"({"mime_type":"image\/jpeg","base64_data":"QUJD"})"},
      {"picture first, later text unread", R"({"candidates":[{"content":{"parts":[{"inline_data":{"mime_type":"image/gif","data":"R0"}},{"text":"x"}]}}]})",
       R"({"mime_type":"image\/gif","base64_data":"R0"})"},
      {"picture without type is png", R"({"candidates":[{"content":{"parts":[{"inline_data":{"data":"QQ"}}]}}]})",
       R"({"mime_type":"image\/png","base64_data":"QQ"})"},
      {"null type and data", R"({"candidates":[{"content":{"parts":[{"inline_data":{"mime_type":null,"data":null}}]}}]})",
       R"({"mime_type":"image\/png","base64_data":""})"},
      {"camelCase as the service writes it", R"({"candidates":[{"content":{"parts":[{"inlineData":{"mimeType":"image/webp","data":"UklG"}}]}}]})",
       R"({"mime_type":"image\/webp","base64_data":"UklG"})"},
      {"snake_case wins over camelCase", R"({"candidates":[{"content":{"parts":[{"inlineData":{"mimeType":"image/a","data":"A"},"inline_data":{"mime_type":"image/b","data":"B"}}]}}]})",
       R"({"mime_type":"image\/b","base64_data":"B"})"},
      {"non-objects and non-string texts skipped", R"({"candidates":[{"content":{"parts":[1,"s",{"text":5},{"text":"ok"}]}}]})", "ok"},
      {"thought summaries are not the answer", R"({"candidates":[{"content":{"parts":[{"text":"thinking","thought":true},{"text":"answer"}]}}]})", "answer"},
      {"a thought picture is not the answer", R"({"candidates":[{"content":{"parts":[{"inlineData":{"mimeType":"image/png","data":"QQ"},"thought":true},{"text":"answer"}]}}]})", "answer"},
      {"a lone surrogate escape reads as U+FFFD", R"({"candidates":[{"content":{"parts":[{"text":"a\ud800b"}]}}]})", "a\xEF\xBF\xBD" "b"},
      {"empty parts, stopped normally", R"({"candidates":[{"content":{"parts":[]},"finishReason":"STOP"}]})", ""},
      {"empty parts, no reason", R"({"candidates":[{"content":{"parts":[]}}]})", ""},
      {"only an empty text, stopped normally", R"({"candidates":[{"content":{"parts":[{"text":""}]},"finishReason":"STOP"}]})", ""},
      {"parts of the wrong kind", R"({"candidates":[{"content":{"parts":{}}}]})", ""},
      {"empty candidates", R"({"candidates":[]})", texts::kEmptyAnswer},
      {"candidates not an array", R"({"candidates":{}})", texts::kEmptyAnswer},
      {"empty error message is no message", R"({"error":{"message":""}})", texts::kEmptyAnswer},
      {"error wins over a block reason", R"({"error":{"message":"Quota exceeded"},"promptFeedback":{"blockReason":"OTHER"}})",
       std::string(texts::kErrorPrefix) + "Quota exceeded"},
      {"empty body", "", ""},
      {"not JSON", "<html>busy</html>", ""},
      {"not an object", "[1,2]", ""},
      {"cut off", R"({"candidates":[{"content":{"parts":[{"text":"Hel)", ""},
      {"invalid UTF-8 is repaired, not refused", "{\"candidates\":[{\"content\":{\"parts\":[{\"text\":\"a\xFF\"}]}}]}", "a\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    std::string r;
    TTokenUsage u;
    ASSERT_NO_THROW(ReadResponseBody(c.body, r, u)) << c.name;
    EXPECT_EQ(r, c.result) << c.name;
  }
}

TEST(ResponseReading, UnreadableMembersEndTheRequestKeepingCountsReadSoFar) {
  struct {
    const char* name;
    std::string body;
    TTokenUsage usage;
  } cases[] = {
      {"count holding an object", R"({"usageMetadata":{"promptTokenCount":{}},"candidates":[]})", {}},
      {"count holding a string", R"({"usageMetadata":{"promptTokenCount":3,"candidatesTokenCount":"5"}})", {3, 0, 0}},
      {"first candidate not an object", R"({"usageMetadata":{"promptTokenCount":3,"candidatesTokenCount":4,"totalTokenCount":7},"candidates":[null]})", {3, 4, 7}},
      {"data holding an array", R"({"candidates":[{"content":{"parts":[{"inline_data":{"data":[]}}]}}]})", {}},
      {"mime type holding a number", R"({"candidates":[{"content":{"parts":[{"inlineData":{"mimeType":5}}]}}]})", {}},
  };
  for (const auto& c : cases) {
    std::string r;
    TTokenUsage u;
    EXPECT_THROW(ReadResponseBody(c.body, r, u), TRequestError) << c.name;
    EXPECT_EQ(u, c.usage) << c.name;
  }
  std::string r;
  TTokenUsage u;
  ReadResponseBody(R"({"usageMetadata":{"promptTokenCount":null,"totalTokenCount":9},"candidates":[{"content":{"parts":[{"text":"x"}]}}]})", r, u);
  EXPECT_EQ(u, (TTokenUsage{0, 0, 9})) << "null and missing counts are 0";
}

TEST(ExtractErrorMessage, OnlyANonEmptyErrorMessage) {
  struct {
    std::string body, message;
  } cases[] = {
      {"  \r\n ", ""},
      {R"({"error":{"message":"Resource exhausted"}})", "Resource exhausted"},
      {R"({"error":{"message":5}})", ""},
      {R"({"error":"flat"})", ""},
      {R"([{"error":{"message":"in an array"}}])", ""},
      {"Bad Request", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractErrorMessage(c.body), c.message) << c.body;
}
