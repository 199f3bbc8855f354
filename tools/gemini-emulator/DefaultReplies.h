#pragma once
// What the emulator answers by itself when nothing is scripted: realistic answers of
// the generate, stream and count-tokens methods built from the request, and the
// service's error bodies for everything else.

#include <optional>
#include <string>
#include <string_view>

#include "tools/gemini-emulator/GeminiEmulator.h"

namespace tarvok::emulator {

// "/v1beta/models/gemini-2.5-flash:generateContent" -> {"v1beta", "gemini-2.5-flash", "generateContent"}.
struct TApiCall {
  std::string Version, Model, Method;
};
std::optional<TApiCall> ParseApiPath(std::string_view ADecodedPath);

// The value of a query parameter (raw, not decoded); nullopt when absent.
std::optional<std::string> QueryParam(std::string_view AQuery, std::string_view AName);

// Whether a request carries a non-empty key, in the query or the x-goog-api-key header.
bool HasApiKey(const TRecordedRequest& ARequest);

// Whether scripted replies answer this request (generate and stream calls).
bool IsGenerateCall(const TRecordedRequest& ARequest, std::string_view ADecodedPath);

TScriptedReply MakeDefaultReply(const TRecordedRequest& ARequest, std::string_view ADecodedPath);

// The service's error body: {"error": {"code", "message", "status"}} in its layout.
std::string ServiceErrorBody(int ACode, std::string_view AMessage, std::string_view AStatus);

// A prompt holding this gets the service's 429 for a spent quota, with its details.
inline constexpr std::string_view kQuotaDemoPrompt = "покажи 429";

// A small real PNG whose colours follow ASeed.
std::string MakeDemoPng(std::string_view ASeed);

std::string Base64Encode(std::string_view ABytes);

}  // namespace tarvok::emulator
