#pragma once
// One generate-content request over HTTPS on a thread of its own. The worker counts
// the request and hands the result back on the main thread, calls its completion
// exactly once, and frees itself; the creator does not keep it.

#include <cstddef>
#include <string>
#include <string_view>

#include "core/GeminiDM.h"
#include "core/Types.h"

namespace tarvok {

// The size of libcurl's upload buffer, the pieces in which a request body is made as it is sent.
inline constexpr std::size_t kRequestBodyPieceBytes = 512 * 1024;

class TGeminiRequestThread {
 public:
  // A chat turn. The service's settings and main-thread link are copied now, so the
  // service may change its settings (or go away) while the request runs.
  static void Create(const std::string& AApiKey, const std::string& AModelName, TChatHistory AHistory,
                     bool AUseGoogleSearch, TGeminiDM& AGeminiDM, TStringCallback ACallback,
                     const TRequestOptions& AOptions = {});
  // An image: the prompt alone, never history or tools.
  static void CreateForImage(const std::string& AApiKey, const std::string& AModelName, const std::string& APrompt,
                             TGeminiDM& AGeminiDM, TStringCallback ACallback, const TRequestOptions& AOptions = {});

  // Workers not yet ended: running, or with a completion not yet run or dropped on the
  // main thread; each counts until its state is released. A shutdown or a test waits for 0.
  static int ActiveCount();
  // A finished worker's thread waits a moment for the next request; this ends the threads
  // waiting now (a test that keeps new threads from starting must not find one left over).
  static void ReleaseIdleThreads();

  ~TGeminiRequestThread();
  TGeminiRequestThread(const TGeminiRequestThread&) = delete;
  TGeminiRequestThread& operator=(const TGeminiRequestThread&) = delete;

 private:
  TGeminiRequestThread(const std::string& AApiKey, const std::string& AModelName, TGeminiDM& AGeminiDM,
                       TStringCallback ACallback, const TRequestOptions& AOptions);
  static void Start(TGeminiRequestThread* AWorker);
  void Execute();
  void RegisterRequest();
  void DeliverResult();

  // Counts the worker as active from its creation until its last member is gone (it is
  // the first member, so it goes last).
  struct TActive {
    TActive();
    ~TActive();
    TActive(const TActive&) = delete;
    TActive& operator=(const TActive&) = delete;
  };
  TActive FActive;
  std::string FApiKey;
  std::string FModelName;
  TChatHistory FHistory;
  std::string FPrompt;
  TStringCallback FCallback;
  TRequestType FRequestType = TRequestType::rtGenerateContent;
  std::string FResult;
  TTokenUsage FTokenUsage;
  TResultFlags FFlags;
  bool FUseGoogleSearch = false;
  TGeminiSettings FSettings;
  TMainThread& FMainThread;
  TRequestOptions FOptions;
};

// The status line as the error text shows it: HTTP/2 and later send none but protocol and
// code ("HTTP/2 429"), so the standard reason phrase of the code is added when missing.
std::string StatusLineWithReason(std::string_view AStatusLine, long AStatus);

// The result text with every occurrence of the API key masked (libcurl messages and
// error bodies can carry the request address).
std::string RedactApiKey(std::string AText, const std::string& AApiKey);

}  // namespace tarvok
