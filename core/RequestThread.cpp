#include "core/RequestThread.h"

#include "core/ProxyAddress.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/ApiKeyStats.h"
#include "core/CoreTexts.h"
#include "core/StreamReader.h"
#include "core/Text.h"
#include "core/WireFormat.h"
#include "core/WorkerThreads.h"

namespace tarvok {
namespace {

std::atomic<int> GActiveWorkers{0};

// The stop tokens of the requests on their way, from their creation until their
// transfer has ended, so that a closing window can stop them all and wait for them.
class TOnTheirWay {
 public:
  static TOnTheirWay& Instance() {
    static TOnTheirWay* registry = new TOnTheirWay;  // workers may outlive static destruction
    return *registry;
  }
  void Enter(const TStopTokenPtr& AToken) {
    std::lock_guard lock(FLock);
    FTokens.push_back(AToken);
  }
  void Leave(const TStopTokenPtr& AToken) {
    {
      std::lock_guard lock(FLock);
      // One entry: a token may serve more than one request.
      const auto at = std::find(FTokens.begin(), FTokens.end(), AToken);
      if (at != FTokens.end()) FTokens.erase(at);
    }
    FLeft.notify_all();
  }
  bool StopAll(std::chrono::milliseconds ALimit) {
    std::unique_lock lock(FLock);
    for (const auto& token : FTokens) token->Stop();
    return FLeft.wait_for(lock, ALimit, [this] { return FTokens.empty(); });
  }

 private:
  std::mutex FLock;
  std::condition_variable FLeft;
  std::vector<TStopTokenPtr> FTokens;
};

// A streamed answer as it arrives, read event by event on the worker.
struct TStreamSink {
  TSseReader Reader;
  TStreamAnswer Answer;
  bool Changed = false;  // text grew since it was last handed on
};

TTransportOptions TransportOptionsOf(const TGeminiSettings& ASettings) {
  TTransportOptions options;
  options.ReadTimeoutSeconds = ASettings.TimeOut1;
  options.CaInfoFile = ASettings.CaInfoFile;
  options.Proxy = ASettings.Proxy;
  return options;
}

}  // namespace

int TGeminiRequestThread::ActiveCount() { return GActiveWorkers.load(); }

TGeminiRequestThread::TActive::TActive() { ++GActiveWorkers; }
TGeminiRequestThread::TActive::~TActive() { --GActiveWorkers; }

void TGeminiRequestThread::ReleaseIdleThreads() { TWorkerThreads::Instance().ReleaseIdle(); }

bool TGeminiRequestThread::StopAll(std::chrono::milliseconds ALimit) { return TOnTheirWay::Instance().StopAll(ALimit); }

TGeminiRequestThread::TGeminiRequestThread(const std::string& AApiKey, const std::string& AModelName,
                                           TGeminiDM& AGeminiDM, TStringCallback ACallback,
                                           const TRequestOptions& AOptions)
    : FActive(),
      FApiKey(AApiKey),
      FModelName(AModelName),
      FCallback(std::move(ACallback)),
      FSettings(AGeminiDM.Settings()),
      FMainThread(AGeminiDM.MainThread()),
      FOptions(AOptions) {
  // Every request can be stopped, by its sender or by the window closing.
  if (!FOptions.Stop) FOptions.Stop = std::make_shared<TStopToken>();
}

TGeminiRequestThread::~TGeminiRequestThread() = default;

void TGeminiRequestThread::Create(const std::string& AApiKey, const std::string& AModelName, TChatHistory AHistory,
                                  bool AUseGoogleSearch, TGeminiDM& AGeminiDM, TStringCallback ACallback,
                                  const TRequestOptions& AOptions) {
  auto* worker = new TGeminiRequestThread(AApiKey, AModelName, AGeminiDM, std::move(ACallback), AOptions);
  worker->FHistory = std::move(AHistory);
  worker->FUseGoogleSearch = AUseGoogleSearch;
  worker->FRequestType = TRequestType::rtGenerateContent;
  Start(worker);
}

void TGeminiRequestThread::CreateForImage(const std::string& AApiKey, const std::string& AModelName,
                                          const std::string& APrompt, TGeminiDM& AGeminiDM, TStringCallback ACallback,
                                          const TRequestOptions& AOptions) {
  auto* worker = new TGeminiRequestThread(AApiKey, AModelName, AGeminiDM, std::move(ACallback), AOptions);
  worker->FOptions.Stream = false;
  worker->FPrompt = APrompt;
  worker->FUseGoogleSearch = false;
  worker->FRequestType = TRequestType::rtGenerateImage;
  Start(worker);
}

void TGeminiRequestThread::Start(TGeminiRequestThread* AWorker) {
  std::unique_ptr<TGeminiRequestThread> owned(AWorker);
  const TStopTokenPtr token = owned->FOptions.Stop;
  TOnTheirWay::Instance().Enter(token);
  try {
    TGeminiRequestThread* const worker = owned.get();
    TWorkerThreads::Instance().Run(
        [worker, token] {
          worker->Execute();
          TOnTheirWay::Instance().Leave(token);
        },
        // Handed over once this thread is free again, so that a next request sent from the
        // completion finds it awake.
        [worker] {
          // The completion goes to the main thread with the worker, and this thread is free
          // at once: waiting for the completion to run would cost two more thread switches a
          // request. The worker ends after its completion has run or been dropped.
          std::shared_ptr<TGeminiRequestThread> self(worker);
          TMainThread& main = self->FMainThread;
          try {
            // The uris go to the history before the completion reads it.
            if (!self->FUploaded.empty() && self->FOptions.OnUploaded)
              main.Queue([onUploaded = self->FOptions.OnUploaded, files = std::move(self->FUploaded)] {
                onUploaded(files);
              });
            main.Queue([self]() mutable {
              self->DeliverResult();
              self.reset();
            });
          } catch (...) {
            // No memory to hand it over: nothing more can be told; the worker ends here.
          }
        });
    owned.release();
  } catch (...) {
    TOnTheirWay::Instance().Leave(token);
    // No thread could be made: the completion still runs once, here on the main thread.
    owned->FResult = std::string(texts::kExceptionPrefix) + "TThreadError - a worker thread could not be started";
    owned->FFlags.Failed = true;
    owned->DeliverResult();
  }
}

void TGeminiRequestThread::RegisterRequest() { CountRequest(FApiKey, FModelName); }

void TGeminiRequestThread::DeliverResult() {
  if (FCallback && *FCallback) (*FCallback)(FResult, FTokenUsage, FFlags);
}

void TGeminiRequestThread::HandOnPartial(const std::string& AText, const std::string& AThoughts) {
  struct THandOff {
    std::mutex Lock;
    std::condition_variable Done;
    bool Taken = false;
  };
  // Set when the step has run or has been dropped unrun (the main thread closed).
  struct TTakenOnDestroy {
    std::shared_ptr<THandOff> HandOff;
    ~TTakenOnDestroy() {
      {
        std::lock_guard lock(HandOff->Lock);
        HandOff->Taken = true;
      }
      HandOff->Done.notify_all();
    }
  };
  auto handOff = std::make_shared<THandOff>();
  {
    auto taken = std::make_shared<TTakenOnDestroy>(TTakenOnDestroy{handOff});
    FMainThread.Queue([onPartial = FOptions.OnPartial, onThoughts = FOptions.OnPartialThoughts, AText, AThoughts,
                       taken = std::move(taken)]() mutable {
      if (onThoughts) onThoughts(AThoughts);
      onPartial(AText);
      taken.reset();
    });
  }
  TStopToken& stop = *FOptions.Stop;
  const int wake = stop.AddWake([handOff] {
    std::lock_guard lock(handOff->Lock);
    handOff->Done.notify_all();
  });
  {
    std::unique_lock lock(handOff->Lock);
    handOff->Done.wait(lock, [&] { return handOff->Taken || stop.IsStopped(); });
  }
  stop.RemoveWake(wake);
}

std::size_t TGeminiRequestThread::PrepareFiles(bool AReuploadReused) {
  if (!FSettings.UseFilesApi || FRequestType != TRequestType::rtGenerateContent) return 0;
  TUploadContext context;
  context.Transport = TransportOptionsOf(FSettings);
  context.UrlPattern = FSettings.GeminiApiUrlBase;
  context.ApiKey = FApiKey;
  context.Stop = FOptions.Stop.get();
  if (FOptions.OnUploadProgress) {
    // Handed on without waiting, when the share changes and at most five times a second.
    auto last = std::make_shared<std::pair<int, std::chrono::steady_clock::time_point>>(-1, std::chrono::steady_clock::time_point{});
    context.OnProgress = [this, last](const std::string& AName, int APercent) {
      const auto now = std::chrono::steady_clock::now();
      if (APercent == last->first || (APercent < 100 && now - last->second < std::chrono::milliseconds(200))) return;
      *last = {APercent, now};
      FMainThread.Queue([onProgress = FOptions.OnUploadProgress, AName, APercent] { onProgress(AName, APercent); });
    };
  }
  TFilePartsPlan plan = PrepareFileParts(FHistory, context, AReuploadReused);
  for (TUploadedFile& file : plan.Uploaded) FUploaded.push_back(std::move(file));
  return plan.Reused;
}

void TGeminiRequestThread::Execute() {
  FResult.clear();
  FTokenUsage = {};
  FFlags = {};
  std::string error;
  // Counted here, before anything goes out, under the counter's own lock: a step on the
  // main thread would hold the send up behind the window's work, and once the window has
  // closed it would be dropped while the request still went out.
  RegisterRequest();
  const bool stream = FOptions.Stream && FRequestType == TRequestType::rtGenerateContent;
  TStreamSink sink;
  // One exchange: the body as the history now is, the answer read into the result.
  auto send = [&] {
    TGeminiSettings settings = FSettings;
    if (stream) settings.MethodGenerate = "streamGenerateContent";
    THttpRequest request;
    request.Url = BuildRequestUrl(settings, FModelName, FApiKey) + (stream ? "&alt=sse" : "");
    request.Stop = FOptions.Stop.get();
    // Reads the attachments of FHistory, the worker's own snapshot, in place.
    const bool thoughts = FOptions.IncludeThoughts && FRequestType == TRequestType::rtGenerateContent;
    TRequestBodySource source = FRequestType == TRequestType::rtGenerateImage
                                    ? TRequestBodySource(BuildImageBody(FPrompt))
                                    : TRequestBodySource(FHistory, FSettings, FUseGoogleSearch, thoughts);
    TRequestBody body(source);
    request.Body = &body;
    if (stream) {
      request.OnBody = [&sink](std::string_view ABytes) {
        sink.Reader.Feed(ABytes, [&sink](std::string_view AEvent) {
          const std::size_t before = sink.Answer.Text().size() + sink.Answer.Extras().Thoughts.size();
          sink.Answer.AddEvent(AEvent);
          if (sink.Answer.Text().size() + sink.Answer.Extras().Thoughts.size() != before) sink.Changed = true;
        });
      };
      // The answer so far goes to the main thread as one text, the first piece at once and
      // then at most every 100 ms; the worker waits while the page takes it.
      std::chrono::steady_clock::time_point lastHandOn{};
      request.OnTick = [&, lastHandOn]() mutable {
        if (!sink.Changed || !FOptions.OnPartial) return false;
        const auto now = std::chrono::steady_clock::now();
        if (lastHandOn != std::chrono::steady_clock::time_point{} && now - lastHandOn < std::chrono::milliseconds(100))
          return true;
        sink.Changed = false;
        lastHandOn = now;
        HandOnPartial(sink.Answer.Text(), sink.Answer.Extras().Thoughts);
        return false;
      };
    }
    THttpResponse response;
    try {
      response = PerformHttp(request, TransportOptionsOf(FSettings));
    } catch (const THttpStatusError& e) {
      // A model that cannot think aloud refuses the request; it is asked once more as if
      // the thoughts had never been asked for.
      if (!thoughts || !IsThinkingRefusal(e.Status, e.Body)) throw;
      source = TRequestBodySource(FHistory, FSettings, FUseGoogleSearch, false);
      sink = TStreamSink{};
      response = PerformHttp(request, TransportOptionsOf(FSettings));
    }
    if (stream && sink.Reader.InsideEvent())
      throw TRequestError("TTransportError", "the answer stream ended inside an event");
    // The service's last event carries the stop reason: a stream that ends properly without
    // one was cut (by a proxy, say), and what came is not the whole answer. A refusal or an
    // error event has no stop reason and says so itself.
    if (stream && !sink.Answer.Finished() && !sink.Answer.FinalFailed())
      throw TRequestError("TTransportError", "the answer stream ended before the answer was finished");
    FResult.clear();
    if (stream) {
      FTokenUsage = sink.Answer.Usage();
      FResult = sink.Answer.FinalResult();
      FFlags.Failed = sink.Answer.FinalFailed();
      if (!FFlags.Failed) FFlags.Extras = sink.Answer.Extras();
    } else {
      FFlags.Failed = ReadResponseBody(response.Body, FResult, FTokenUsage, &FFlags.Extras);
      if (FFlags.Failed) FFlags.Extras = {};
      // A success status on a body that is no JSON object (a proxy's or a portal's page, a
      // cut answer) carries no answer: kept as an empty model turn it would pass for one.
      if (!FFlags.Failed && FResult.empty() && !IsJsonObjectBody(response.Body)) {
        FResult = texts::kEmptyAnswer;
        FFlags.Failed = true;
      }
    }
  };
  try {
    std::size_t reused = PrepareFiles(false);
    // A file the service no longer knows is sent again once, and the request with it.
    for (bool again = true; again;) {
      again = false;
      try {
        send();
      } catch (const THttpStatusError& e) {
        if (e.Status != 404 || reused == 0) throw;
        reused = 0;
        PrepareFiles(true);
        again = true;
      }
    }
  } catch (const TStoppedError&) {
    // What arrived of a streamed answer is the answer; with nothing yet the request failed.
    FFlags.Stopped = true;
    if (stream && !sink.Answer.Text().empty()) {
      FResult = sink.Answer.Text();
      FTokenUsage = sink.Answer.Usage();
      FFlags.Extras = sink.Answer.Extras();
    } else {
      FTokenUsage = {};
      error = texts::kStoppedResult;
    }
  } catch (const THttpStatusError& e) {
    FTokenUsage = {};
    error = HttpErrorText(e);
  } catch (const TRequestError& e) {
    // A stream that breaks off or goes silent after the service's last event lost nothing.
    if (stream && sink.Answer.Finished() && !sink.Reader.InsideEvent() &&
        (e.TypeName() == "TTransportError" || e.TypeName() == "TTimeoutError")) {
      FTokenUsage = sink.Answer.Usage();
      FResult = sink.Answer.FinalResult();
      FFlags.Failed = sink.Answer.FinalFailed();
      if (!FFlags.Failed) FFlags.Extras = sink.Answer.Extras();
    } else {
      error = std::string(texts::kExceptionPrefix) + e.TypeName() + " - " + e.what();
    }
  } catch (const std::bad_alloc&) {
    error = std::string(texts::kExceptionPrefix) + "TOutOfMemory - the request does not fit in memory";
  } catch (const std::exception& e) {
    error = std::string(texts::kExceptionPrefix) + "TError - " + e.what();
  } catch (...) {
    error = std::string(texts::kExceptionPrefix) + "TError - unknown error";
  }
  if (!error.empty()) {
    FResult = std::move(error);
    FFlags.Failed = true;
    FFlags.Extras = {};
  }
  if (FFlags.Failed) FResult = RedactProxyPassword(RedactApiKey(std::move(FResult), FApiKey), FSettings.Proxy);
  // What was sent goes here, on this thread, not with the completion on the main thread.
  FHistory = {};
  FPrompt = {};
}

}  // namespace tarvok
