#pragma once
// The emulator's answers to what a request asks for beyond a plain answer: a thought
// summary when generationConfig.thinkingConfig.includeThoughts is true, sources
// (groundingMetadata) when the google_search tool is on, and the model list
// (GET /v1beta/models, paged).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <simdjson.h>

#include "tools/gemini-emulator/GeminiEmulator.h"
#include "tools/gemini-emulator/ServiceJson.h"

namespace tarvok::emulator {

// The most models one page of the list holds, whatever pageSize asks: small, so that a
// client's paging is always used.
inline constexpr int kModelListPageMax = 3;

struct TAnswerAddOns {
  std::string Thoughts;  // non-empty: the request asked for thoughts
  long long ThoughtsTokens = 0;
  bool Grounded = false;  // the request searched the web
  std::string Query;
  std::string AnswerText;  // the text the grounding's offsets count in
};

// What ARequest (a parsed generate body) asks for beyond the answer AAnswerText.
TAnswerAddOns MakeAnswerAddOns(simdjson::dom::element ARequest, std::string_view ALastUserText,
                               std::string_view AAnswerText);

// The thought summary split into the pieces a stream sends, one paragraph each.
std::vector<std::string> ThoughtPieces(std::string_view AThoughts);
// One part {"text": ..., "thought": true}.
void WriteThoughtPart(TServiceJson& AOut, std::string_view AText);
// The candidate's "groundingMetadata" member: sources, supports at byte offsets of the
// answer text, the search query and a search entry point. AFinal false writes the empty
// object the service sends in the events before the last.
void WriteGrounding(TServiceJson& AOut, const TAnswerAddOns& AAddOns, bool AFinal);

// GET {version}/models: the models one page at a time, following pageToken; nullopt for
// any other request.
std::optional<TScriptedReply> ModelListReply(const TRecordedRequest& ARequest, std::string_view ADecodedPath);

}  // namespace tarvok::emulator
