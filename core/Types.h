#pragma once
// Conversation types shared by every layer. They are values: a copy is never
// affected by later changes to the original. Attachment data can be hundreds of
// megabytes, so it is held in TSharedText, whose copies share one immutable buffer.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvok {

// Days since 1899-12-30 00:00 local time; the fraction is the time of day.
using TDateTime = double;

// An immutable, shared string: copying costs a reference count, not the bytes.
class TSharedText {
 public:
  TSharedText() = default;
  TSharedText(std::string AText)  // NOLINT(google-explicit-constructor): a value like a string
      : FData(AText.empty() ? nullptr : std::make_shared<const std::string>(std::move(AText))) {}
  TSharedText(const char* AText) : TSharedText(std::string(AText)) {}
  TSharedText(std::string_view AText) : TSharedText(std::string(AText)) {}

  const std::string& str() const { return FData ? *FData : Empty(); }
  std::string_view view() const { return str(); }
  operator const std::string&() const { return str(); }  // NOLINT
  bool empty() const { return !FData || FData->empty(); }
  std::size_t size() const { return FData ? FData->size() : 0; }
  // True when both values share the same buffer (used to prove that snapshots do not copy).
  bool SharesWith(const TSharedText& AOther) const { return FData && FData == AOther.FData; }

  friend bool operator==(const TSharedText& A, const TSharedText& B) { return A.view() == B.view(); }
  friend bool operator==(const TSharedText& A, std::string_view B) { return A.view() == B; }
  friend bool operator==(const TSharedText& A, const char* B) { return A.view() == std::string_view(B); }

 private:
  static const std::string& Empty() {
    static const std::string kEmpty;
    return kEmpty;
  }
  std::shared_ptr<const std::string> FData;
};

enum class TPartType : std::uint8_t { ptText = 0, ptInlineData = 1 };
enum class TRequestType : std::uint8_t { rtGenerateContent = 0, rtGenerateImage = 1 };

struct TContentPart {
  TPartType PartType = TPartType::ptText;
  std::string Text;        // ptText: the text; inline text attachment: decoded file text (never sent)
  std::string MimeType;    // ptInlineData only
  TSharedText Base64Data;  // ptInlineData only: standard Base64, no line breaks
  std::string FileName;    // full path of an attached file; empty otherwise
  // An attachment the service holds through its Files API: the file's uri there and when
  // the service forgets it (RFC 3339, UTC). Empty while it goes inline.
  std::string FileUri = {};
  std::string FileExpires = {};

  friend bool operator==(const TContentPart&, const TContentPart&) = default;
};
using TContentParts = std::vector<TContentPart>;

// One web page a grounded answer drew on.
struct TGroundingSource {
  std::string Title;
  std::string Uri;
  friend bool operator==(const TGroundingSource&, const TGroundingSource&) = default;
};

// A stretch of the answer and the sources it rests on. The offsets count bytes of the
// answer's UTF-8 text, the end excluded, as the service gives them.
struct TGroundingSupport {
  std::int64_t StartIndex = 0;
  std::int64_t EndIndex = 0;
  std::vector<std::int32_t> Sources;  // indices into TGrounding::Sources
  friend bool operator==(const TGroundingSupport&, const TGroundingSupport&) = default;
};

// What a grounded answer (web search) rests on: its sources, which stretches of the text
// each supports, and the search queries the service ran.
struct TGrounding {
  std::vector<TGroundingSource> Sources;
  std::vector<TGroundingSupport> Supports;
  std::vector<std::string> Queries;
  bool empty() const { return Sources.empty() && Supports.empty() && Queries.empty(); }
  friend bool operator==(const TGrounding&, const TGrounding&) = default;
};

struct THistoryItem {
  std::string Role;  // "user" or "model"
  TContentParts Parts;
  std::int32_t TokenCount = 0;
  TDateTime Timestamp = 0;
  std::string ModelName;
  std::string Duration;
  // A model turn's thought summary (Markdown) and the tokens the thinking cost; shown and
  // stored, never sent back to the service.
  std::string Thoughts{};
  std::int32_t ThoughtsTokens = 0;
  // A grounded answer's sources; shown and stored, never sent back.
  TGrounding Grounding{};

  friend bool operator==(const THistoryItem&, const THistoryItem&) = default;
};
using TChatHistory = std::vector<THistoryItem>;

struct TTokenUsage {
  std::int32_t PromptTokens = 0;
  std::int32_t CandidatesTokens = 0;
  std::int32_t TotalTokens = 0;
  friend bool operator==(const TTokenUsage&, const TTokenUsage&) = default;
};

// What the code that made a result says about it, beside the text. Receivers decide by
// this, never by the text's first word: a genuine answer may begin with "Ошибка".
// What an answer carried beside its text.
struct TAnswerExtras {
  std::string Thoughts;            // the thought parts' text, joined
  std::int32_t ThoughtsTokens = 0;  // usageMetadata.thoughtsTokenCount
  TGrounding Grounding;
  bool empty() const { return Thoughts.empty() && ThoughtsTokens == 0 && Grounding.empty(); }
};

struct TResultFlags {
  bool Failed = false;
  // The user stopped the request: a failure without any answer, or what had arrived of a
  // streamed answer (then not a failure).
  bool Stopped = false;
  // Thoughts, their token count and sources of a successful answer; empty otherwise.
  TAnswerExtras Extras{};
};

// Completion of a request; always invoked on the main thread. std::function holds its
// captured state by value, and workers hold it through a shared_ptr so the state lives
// until the last holder lets go.
using TCompletionFn = std::function<void(const std::string& AResult, const TTokenUsage& AUsage, const TResultFlags& AFlags)>;
using TStringCallback = std::shared_ptr<const TCompletionFn>;

inline TStringCallback MakeCallback(TCompletionFn AFn) { return std::make_shared<const TCompletionFn>(std::move(AFn)); }

}  // namespace tarvok
