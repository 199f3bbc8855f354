#pragma once
// What goes over the wire to generateContent and how the answer comes back: the
// request URL, the chat and image bodies, and the reading of a response body.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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

// GeminiApiUrlBase with the model name (percent-encoded as one path segment) and the
// method put in for its two %s, then the key. A pattern that asks for more than two values raises TRequestError.
std::string BuildRequestUrl(const TGeminiSettings& ASettings, std::string_view AModelName, std::string_view AApiKey);

// The compact ASCII body of a chat turn; built in one pass into one pre-sized buffer.
std::string BuildChatBody(const TChatHistory& AHistory, const TGeminiSettings& ASettings, bool AUseGoogleSearch);
// The body of an image request: the prompt alone, no generation parameters, no tools.
std::string BuildImageBody(std::string_view APrompt);

// A request body handed to the transport piece by piece, byte for byte the body built
// whole. For a chat turn the framing and the texts are written at once (they are small);
// the attachments' Base64, hundreds of megabytes, is escaped straight into the reader's
// buffer as it is read, so the body is never whole in memory and sending overlaps making it.
// It reads the history's attachment data in place: that data must outlive it.
class TRequestBodySource {
 public:
  explicit TRequestBodySource(std::string AWholeBody);
  TRequestBodySource(const TChatHistory& AHistory, const TGeminiSettings& ASettings, bool AUseGoogleSearch);

  // The body's length in bytes, known before the first byte is read.
  std::size_t Size() const { return FSize; }
  // Writes the next bytes into ADest, at most AMax; 0 only at the end of the body.
  std::size_t Read(char* ADest, std::size_t AMax);
  // Goes to byte AOffset (at most Size()), so that the body is read again from there.
  void Seek(std::size_t AOffset);
  std::size_t Offset() const { return FOffset; }

 private:
  // A run of FText up to TextEnd, then Base64 to be escaped as it is read (may be empty).
  struct TPiece {
    std::size_t TextEnd = 0;
    std::string_view Base64;
  };
  std::string FText;
  std::vector<TPiece> FPieces;
  std::size_t FSize = 0;
  // Where the next byte comes from.
  std::size_t FPiece = 0;
  std::size_t FTextAt = 0;
  std::size_t FBase64At = 0;
  bool FInBase64 = false;
  bool FPendingSlash = false;  // the last read ended between the two bytes of "\/"
  std::size_t FOffset = 0;
};

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
