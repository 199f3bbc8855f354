#include "core/StreamReader.h"

#include <simdjson.h>

#include "core/CoreTexts.h"
#include "core/Text.h"
#include "core/WireFormat.h"

namespace tarvok {
namespace {

std::string_view StringMember(simdjson::dom::object AObject, const char* AName) {
  std::string_view s;
  if (AObject.at_key(AName).get_string().get(s) != simdjson::SUCCESS) return {};
  return s;
}

// Whether the candidate's answer is a picture: a part with inline data that is not a thought,
// which the whole-answer reader turns into the picture's result text.
bool HasPicture(simdjson::dom::object ACandidate) {
  simdjson::dom::array parts;
  if (ACandidate["content"]["parts"].get_array().get(parts) != simdjson::SUCCESS) return false;
  for (simdjson::dom::element item : parts) {
    simdjson::dom::object part;
    if (item.get_object().get(part) != simdjson::SUCCESS) continue;
    bool thought = false;
    if (part.at_key("thought").get_bool().get(thought) == simdjson::SUCCESS && thought) continue;
    simdjson::dom::object data;
    if (part.at_key("inline_data").get_object().get(data) == simdjson::SUCCESS ||
        part.at_key("inlineData").get_object().get(data) == simdjson::SUCCESS)
      return true;
  }
  return false;
}

}  // namespace

void TSseReader::Feed(std::string_view ABytes, const std::function<void(std::string_view)>& AOnEvent) {
  for (const char c : ABytes) {
    if (FAfterCr) {
      FAfterCr = false;
      if (c == '\n') continue;  // the LF of a CR LF
    }
    if (c == '\r' || c == '\n') {
      FAfterCr = c == '\r';
      EndLine(AOnEvent);
    } else {
      FLine += c;
    }
  }
}

void TSseReader::EndLine(const std::function<void(std::string_view)>& AOnEvent) {
  if (FLine.empty()) {
    if (FHasData) {
      const std::string data = std::move(FData);
      FData.clear();
      FHasData = false;
      AOnEvent(data);
    }
    return;
  }
  const std::string_view line = FLine;
  const std::size_t colon = line.find(':');
  const std::string_view field = line.substr(0, colon);
  if (colon != 0 && field == "data") {
    std::string_view value = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
    if (value.starts_with(' ')) value.remove_prefix(1);
    if (FHasData) FData += '\n';
    FData += value;
    FHasData = true;
  }
  FLine.clear();
}

bool TStreamAnswer::AddEvent(std::string_view AData) {
  simdjson::dom::parser parser;
  simdjson::dom::element doc;
  // Read as a whole answer is: stray bytes and lone surrogate escapes become U+FFFD rather
  // than losing the event.
  std::string text(AData);
  const bool validUtf8 = simdjson::validate_utf8(text.data(), text.size());
  if (!validUtf8 || parser.parse(text).get(doc) != simdjson::SUCCESS) {
    text = MakeValidUtf8(AData);
    const bool repaired = RepairLoneSurrogateEscapes(text.data(), text.size());
    if ((validUtf8 && !repaired) || parser.parse(text).get(doc) != simdjson::SUCCESS) return false;
  }
  simdjson::dom::object root;
  if (doc.get_object().get(root) != simdjson::SUCCESS) return false;

  // The whole-answer reader gives the counts, the event's text or picture, and its error.
  std::string result;
  TTokenUsage usage;
  TAnswerExtras extras;
  const bool madeFailure = ReadResponseBody(text, result, usage, &extras);
  simdjson::dom::object usageObject;
  if (root.at_key("usageMetadata").get_object().get(usageObject) == simdjson::SUCCESS) {
    FUsage = usage;
    FExtras.ThoughtsTokens = extras.ThoughtsTokens;
  }
  FExtras.Thoughts += extras.Thoughts;
  if (!extras.Grounding.empty()) FExtras.Grounding = std::move(extras.Grounding);

  simdjson::dom::array candidates;
  simdjson::dom::object first;
  if (root.at_key("candidates").get_array().get(candidates) == simdjson::SUCCESS &&
      candidates.at(0).get_object().get(first) == simdjson::SUCCESS) {
    FSawCandidates = true;
    const std::string_view reason = StringMember(first, "finishReason");
    if (!reason.empty()) FFinishReason = std::string(reason);
    // A stop reason without text comes back as a failure text; only the model's output
    // counts, whatever words it uses.
    if (madeFailure) result.clear();
    if (HasPicture(first)) FPicture = std::move(result);
    else FText += result;
    return true;
  }
  std::string_view message;
  if (doc["error"]["message"].get_string().get(message) == simdjson::SUCCESS && !message.empty())
    FErrorMessage = std::string(message);
  simdjson::dom::object feedback;
  if (root.at_key("promptFeedback").get_object().get(feedback) == simdjson::SUCCESS) {
    const std::string_view block = StringMember(feedback, "blockReason");
    if (!block.empty()) FBlockReason = std::string(block);
  }
  return true;
}

bool TStreamAnswer::FinalFailed() const {
  // An error event ends the answer unfinished, whatever came before it.
  if (!FErrorMessage.empty()) return true;
  if (!FPicture.empty() || !FText.empty()) return false;
  if (!FBlockReason.empty() || !FSawCandidates) return true;
  return !FFinishReason.empty() && FFinishReason != "STOP";
}

std::string TStreamAnswer::FinalResult() const {
  if (!FErrorMessage.empty()) return texts::kErrorPrefix + FErrorMessage;
  if (!FPicture.empty()) return FPicture;
  if (!FText.empty()) return FText;
  if (!FBlockReason.empty()) return std::string(texts::kBlockedHead) + FBlockReason + texts::kBlockedTail;
  if (!FSawCandidates) return texts::kEmptyAnswer;
  if (!FFinishReason.empty() && FFinishReason != "STOP")
    return std::string(texts::kNoAnswerHead) + FFinishReason + texts::kNoAnswerTail;
  return {};
}

}  // namespace tarvok
