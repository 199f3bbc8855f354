#pragma once
// One generate-content request over HTTPS on a thread of its own. The worker counts
// the request and hands the result back on the main thread, calls its completion
// exactly once, and frees itself; the creator does not keep it.

#include <chrono>
#include <string>

#include "core/GeminiDM.h"
#include "core/HttpTransport.h"
#include "core/Types.h"

namespace tarvok {

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
  // Stops every request still on its way (a closing window) and waits at most ALimit until
  // none is on its way any more. Their completions still go to the main thread, which may
  // drop them. False when some were still going at the limit.
  static bool StopAll(std::chrono::milliseconds ALimit);

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
  // Hands the answer so far to the main thread and waits until the page has taken it, or
  // until a stop: a closing window waits for the worker, never the reverse.
  void HandOnPartial(const std::string& AText);

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

}  // namespace tarvok
