#pragma once
// What goes over the wire to generateContent and how the answer comes back: the
// request URL, the chat and image bodies, and the reading of a response body.

#include <stdexcept>
#include <string>
#include <string_view>

#include "core/Types.h"

namespace tarvok {

struct TGeminiSettings;

// A failure that ends a request through the worker's exception path; TypeName is
// what the result text shows after "Исключение: ".
class TRequestError : public std::runtime_error {
 public:
  TRequestError(std::string ATypeName, const std::string& AMessage)
      : std::runtime_error(AMessage), FTypeName(std::move(ATypeName)) {}
  const std::string& TypeName() const { return FTypeName; }

 private:
  std::string FTypeName;
};

// GeminiApiUrlBase with the model name and the method put in for its two %s, then the
// key. Nothing is escaped. A pattern that asks for more than two values raises TRequestError.
std::string BuildRequestUrl(const TGeminiSettings& ASettings, std::string_view AModelName, std::string_view AApiKey);

// The compact ASCII body of a chat turn; built in one pass into one pre-sized buffer.
std::string BuildChatBody(const TChatHistory& AHistory, const TGeminiSettings& ASettings, bool AUseGoogleSearch);
// The body of an image request: the prompt alone, no generation parameters, no tools.
std::string BuildImageBody(std::string_view APrompt);

// {"mime_type":...,"base64_data":...}, written as the request body is.
std::string MakeImageResultText(std::string_view AMimeType, std::string_view ABase64Data);

// Reads a body that came with a success status into the result text and the counts.
// A body that is not a JSON object leaves both untouched. A first candidate that is
// not an object, or a member of the wrong kind, raises TRequestError; the counts read
// before that stay set. For padding-free parsing, give ABody SIMDJSON_PADDING spare capacity.
// Returns true when the result is a failure text made here (no candidate, a refusal, an
// answer stopped before any output), false for the model's own answer, however it begins.
bool ReadResponseBody(const std::string& ABody, std::string& AResult, TTokenUsage& AUsage);
// Whether ABody reads as a JSON object, as ReadResponseBody reads it.
bool IsJsonObjectBody(const std::string& ABody);

// "error"."message" of a body when it is a non-empty string; empty otherwise.
std::string ExtractErrorMessage(std::string_view ABody);

}  // namespace tarvok
