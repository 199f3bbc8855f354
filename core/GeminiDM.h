#pragma once
// The generation service: owns the conversation and its token total, the request
// settings, and the two entry points that start a request on a worker thread.

#include <cstdint>
#include <functional>
#include <string>

#include "core/MainThread.h"
#include "core/StopToken.h"
#include "core/TokenEstimate.h"
#include "core/Types.h"

namespace tarvok {

// The settings a worker reads; copied when the worker is created, so a change on the
// main thread meanwhile can never tear a value the worker is reading.
struct TGeminiSettings {
  std::string GeminiApiUrlBase;
  std::string MethodGenerate;
  std::int32_t TimeOut1 = 0;
  double Temperature = 0.2;
  std::int32_t TopK = 1;
  double TopP = 1.0;
  std::int32_t MaxOutputTokens = 500000;
  // CA certificates for TLS; empty means the system's store.
  std::string CaInfoFile;
  // The proxy for every call to the service; empty leaves libcurl's default (the
  // environment's proxy variables).
  std::string Proxy;
};

// How one request runs besides its content. The defaults are a plain request.
struct TRequestOptions {
  // Stop() ends the request early; its completion still runs once. May be null.
  TStopTokenPtr Stop;
  // A chat turn through streamGenerateContent (alt=sse); OnPartial then receives the
  // answer gathered so far, on the main thread, at most about ten times a second.
  bool Stream = false;
  std::function<void(const std::string& AText)> OnPartial;
};

inline constexpr const char* kDefaultGeminiApiUrlBase =
    "https://generativelanguage.googleapis.com/v1beta/models/%s:%s?key=";

class TGeminiDM {
 public:
  // AMainThread carries worker steps to the main thread; it must outlive every request.
  explicit TGeminiDM(TMainThread& AMainThread);

  TChatHistory FChatHistory;
  std::int32_t FActualHistoryTokens = 0;
  std::int32_t MaxInputTextLength = 30020;
  std::int32_t MaxFilesPerRequest = 16;
  std::int32_t MaxContextTokens = 124000;
  double Temperature = 0.2;
  std::int32_t TopK = 1;
  double TopP = 1.0;
  std::int32_t MaxOutputTokens = 500000;
  std::string GeminiApiUrlBase = kDefaultGeminiApiUrlBase;
  std::string MethodGenerate = "generateContent";
  std::int32_t TimeOut1 = 0;
  // CA certificates for TLS (a test or local server); empty means the system's store.
  std::string CaInfoFile;
  // The proxy for every call; empty leaves libcurl's default.
  std::string Proxy;

  TChatHistory& ChatHistory() { return FChatHistory; }
  std::int32_t& ActualHistoryTokens() { return FActualHistoryTokens; }
  TMainThread& MainThread() { return FMainThread; }

  // The creation handler: applies the start values.
  void DataModuleCreate();
  void ClearHistory();
  TGeminiSettings Settings() const;

  static int CountTokens(const TContentParts& AParts) { return tarvok::CountTokens(AParts); }
  static int CountTokensForHistory(const TChatHistory& AHistory) { return tarvok::CountTokensForHistory(AHistory); }
  static bool TrimHistoryToTokenLimit(const TChatHistory& AFullHistory, const TContentParts& ANewUserParts,
                                      int AMaxTokens, TChatHistory& ASentHistory);

  void GenerateContent(const std::string& AApiKey, const std::string& AModelName, const TContentParts& AParts,
                       bool AUseGoogleSearch, TStringCallback ACallback, bool AAddToHistory,
                       const TRequestOptions& AOptions = {});
  void GenerateImage(const std::string& AApiKey, const std::string& AModelName, const std::string& APrompt,
                     TStringCallback ACallback, const TRequestOptions& AOptions = {});

 private:
  TMainThread& FMainThread;
};

// Result texts that mean a failed request (compared from the start, ignoring case).
bool IsRestFailureResult(std::string_view AResult);  // "ОШИБКА:", "Ошибка", "Исключение", "ERROR_CODE_429_FINAL:"

}  // namespace tarvok
