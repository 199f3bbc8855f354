#include "core/RequestThread.h"

#include <curl/curl.h>
#include <simdjson.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/ApiKeyStats.h"
#include "core/CoreTexts.h"
#include "core/StreamReader.h"
#include "core/Text.h"
#include "core/WireFormat.h"

namespace tarvok {
namespace {

std::atomic<int> GActiveWorkers{0};
std::once_flag GCurlInit;

// The threads workers run on. A thread whose worker has finished waits a moment for the
// next request before it ends: starting a fresh thread for every request cost as much as
// a whole small request on a busy machine. Each worker still has a thread to itself. A
// request goes to the thread that became free last, and only that thread is woken: a
// wake shared by every waiting thread would also rouse the ones that find nothing to do.
class TWorkerThreads {
 public:
  // Never destroyed: detached threads wait on it while the process ends.
  static TWorkerThreads& Instance() {
    static TWorkerThreads* threads = new TWorkerThreads;
    return *threads;
  }

  // Runs AJob on a waiting thread or a new one; raises std::system_error when no thread
  // can be made (AJob then has not run and will not).
  void Run(std::function<void()> AJob) {
    std::unique_lock lock(FLock);
    if (FWaiting.empty()) {
      lock.unlock();
      std::thread([this, job = std::move(AJob)]() mutable { Serve(std::move(job)); }).detach();
      return;
    }
    TWaiting* taker = FWaiting.back();
    FWaiting.pop_back();
    taker->Job = std::move(AJob);
    lock.unlock();
    taker->Wake.notify_one();
  }

  // Ends the waiting threads; returns once none waits any more.
  void ReleaseIdle() {
    std::unique_lock lock(FLock);
    for (TWaiting* waiting : FWaiting) {
      waiting->Release = true;
      waiting->Wake.notify_one();
    }
    FWaiting.clear();
    FGone.wait(lock, [&] { return FIdle == 0; });
  }

 private:
  static constexpr std::chrono::milliseconds kLinger{200};

  // A thread waiting for its next job; it lives on that thread's stack.
  struct TWaiting {
    std::condition_variable Wake;
    std::function<void()> Job;
    bool Release = false;
  };

  void Serve(std::function<void()> AJob) {
    for (;;) {
      AJob();
      AJob = nullptr;  // the worker's state goes before the thread is offered again
      std::unique_lock lock(FLock);
      TWaiting me;
      FWaiting.push_back(&me);
      ++FIdle;
      me.Wake.wait_for(lock, kLinger, [&] { return me.Job || me.Release; });
      --FIdle;
      if (!me.Job) {
        // Timed out or released: nobody can hand this thread a job any more.
        std::erase(FWaiting, &me);
        FGone.notify_all();
        return;
      }
      AJob = std::move(me.Job);
    }
  }

  std::mutex FLock;
  std::condition_variable FGone;    // a waiting thread ended
  std::vector<TWaiting*> FWaiting;  // the most recently freed last
  std::size_t FIdle = 0;            // threads between offering themselves and leaving
};

constexpr long kConnectTimeoutMs = 10000;
// libcurl sends a body given whole in the same write as the headers below 64 kB.
constexpr std::size_t kWholeBodyBytes = 60 * 1024;
constexpr std::size_t kMaxReserve = 512u << 20;  // a hostile Content-Length must not reserve gigabytes

struct THttpResponse {
  long Status = 0;
  std::string StatusLine;
  std::string Body;
};

// A status outside the success range; carries what the failure text needs.
struct THttpStatusError {
  long Status;
  std::string StatusLine;
  std::string Body;
};

// The user stopped the request; what arrived of a streamed answer stays in the sink.
struct TStoppedError {};

// A streamed answer as it arrives, read event by event on the worker.
struct TStreamSink {
  TSseReader Reader;
  TStreamAnswer Answer;
  bool Active = false;   // the status was a success: the body is events, not an error text
  bool Checked = false;  // Active was decided at the first body bytes
  bool Changed = false;  // text grew since it was last handed on
};

struct TTransfer {
  THttpResponse* Response = nullptr;
  TRequestBodySource* Body = nullptr;
  CURL* Handle = nullptr;
  bool OutOfMemory = false;
  TStopToken* Stop = nullptr;
  bool Stopped = false;
  TStreamSink* Stream = nullptr;
  std::exception_ptr StreamError;
  // Read time-out: the longest silence allowed once the request is on its way.
  std::chrono::steady_clock::duration IdleLimit{};
  std::chrono::steady_clock::time_point LastActivity = std::chrono::steady_clock::now();
  curl_off_t LastDown = -1, LastUp = -1;
  bool TimedOut = false;
};

// libcurl's own low-speed check averages over several seconds, so a read time-out of one
// second would fire after six; the silence is measured here instead.
int OnProgress(void* user, curl_off_t, curl_off_t downNow, curl_off_t, curl_off_t upNow) {
  auto* t = static_cast<TTransfer*>(user);
  if (t->Stop && t->Stop->IsStopped()) {
    t->Stopped = true;
    return 1;
  }
  const auto now = std::chrono::steady_clock::now();
  curl_off_t sending = 0;
  curl_easy_getinfo(t->Handle, CURLINFO_PRETRANSFER_TIME_T, &sending);
  // Connecting (the TLS handshake included) is bounded by the connect time-out.
  if (sending == 0 || downNow != t->LastDown || upNow != t->LastUp) {
    t->LastDown = downNow;
    t->LastUp = upNow;
    t->LastActivity = now;
    return 0;
  }
  if (now - t->LastActivity < t->IdleLimit) return 0;
  t->TimedOut = true;
  return 1;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<TTransfer*>(user);
  const std::size_t n = size * count;
  if (TStreamSink* sink = t->Stream) {
    if (!sink->Checked) {
      long status = 0;
      curl_easy_getinfo(t->Handle, CURLINFO_RESPONSE_CODE, &status);
      sink->Active = status >= 200 && status <= 299;
      sink->Checked = true;
    }
    if (sink->Active) {
      try {
        sink->Reader.Feed(std::string_view(data, n), [sink](std::string_view AEvent) {
          const std::size_t before = sink->Answer.Text().size() + sink->Answer.Extras().Thoughts.size();
          sink->Answer.AddEvent(AEvent);
          if (sink->Answer.Text().size() + sink->Answer.Extras().Thoughts.size() != before) sink->Changed = true;
        });
      } catch (...) {
        t->StreamError = std::current_exception();
        return 0;
      }
      return n;
    }
  }
  try {
    std::string& body = t->Response->Body;
    // Keep room for the JSON parser's padding so that it reads the buffer in place.
    if (body.capacity() < body.size() + n + simdjson::SIMDJSON_PADDING)
      body.reserve(std::max(body.capacity() * 2, body.size() + n + simdjson::SIMDJSON_PADDING));
    body.append(data, n);
  } catch (...) {
    t->OutOfMemory = true;
    return 0;  // makes libcurl stop with a write error
  }
  return n;
}

// libcurl asks for the body in pieces of its upload buffer's size; each is made in place.
std::size_t OnReadBody(char* ADest, std::size_t ASize, std::size_t ACount, void* AUser) {
  auto* t = static_cast<TTransfer*>(AUser);
  if (t->Stop && t->Stop->IsStopped()) {
    t->Stopped = true;
    return CURL_READFUNC_ABORT;
  }
  return t->Body->Read(ADest, ASize * ACount);
}

// A transfer that starts over (a retried stream, a fresh connection) reads the body again.
int OnSeekBody(void* AUser, curl_off_t AOffset, int AOrigin) {
  auto* t = static_cast<TTransfer*>(AUser);
  if (AOrigin != SEEK_SET || AOffset < 0 || static_cast<std::uint64_t>(AOffset) > t->Body->Size())
    return CURL_SEEKFUNC_CANTSEEK;
  t->Body->Seek(static_cast<std::size_t>(AOffset));
  return CURL_SEEKFUNC_OK;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* t = static_cast<TTransfer*>(user);
  const std::size_t n = size * count;
  try {
    const std::string_view line = Trim(std::string_view(data, n));
    // Every response of the exchange (an interim 100 Continue included) starts anew.
    if (line.starts_with("HTTP/")) {
      t->Response->StatusLine = std::string(line);
    } else if (line.size() > 15 && LowerCase(line.substr(0, 15)) == "content-length:") {
      std::uint64_t length = 0;
      for (char c : Trim(line.substr(15))) {
        if (c < '0' || c > '9') { length = 0; break; }
        length = length * 10 + static_cast<unsigned>(c - '0');
        if (length > kMaxReserve) break;
      }
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(length, kMaxReserve)) + simdjson::SIMDJSON_PADDING;
      if (t->Response->Body.capacity() < want) t->Response->Body.reserve(want);
    }
  } catch (...) {
    t->OutOfMemory = true;
    return 0;
  }
  return n;
}

struct TCurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct TSlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

struct TMultiDeleter {
  void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};

// Runs the transfer in a multi handle of its own, so that a stop wakes its wait at once;
// ATick runs between waits (it hands a streamed answer on).
CURLcode Perform(CURL* AHandle, TTransfer& ATransfer, const std::function<void()>& ATick) {
  std::unique_ptr<CURLM, TMultiDeleter> multi(curl_multi_init());
  if (!multi || curl_multi_add_handle(multi.get(), AHandle) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
  CURLM* m = multi.get();
  if (ATransfer.Stop) ATransfer.Stop->SetWake([m] { curl_multi_wakeup(m); });
  CURLcode result = CURLE_OK;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(m, &running) != CURLM_OK) {
      result = CURLE_RECV_ERROR;
      break;
    }
    bool done = false;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(m, &left)) {
      if (msg->msg == CURLMSG_DONE) {
        result = msg->data.result;
        done = true;
      }
    }
    if (done || running == 0) break;
    if (ATransfer.Stop && ATransfer.Stop->IsStopped()) {
      ATransfer.Stopped = true;
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    if (ATick) ATick();
    const bool handOnSoon = ATransfer.Stream && ATransfer.Stream->Changed;
    curl_multi_poll(m, nullptr, 0, handOnSoon ? 20 : 250, nullptr);
  }
  // After this no stop can reach the multi handle any more.
  if (ATransfer.Stop) ATransfer.Stop->SetWake(nullptr);
  curl_multi_remove_handle(m, AHandle);
  return result;
}

// One POST with its own handle. The body is made as it goes out, straight into libcurl's
// upload buffer; its length is known in advance, so it goes with a Content-Length as a
// body made whole would.
THttpResponse Post(const std::string& AUrl, TRequestBodySource& ABody, const TGeminiSettings& ASettings,
                   TStopToken* AStop = nullptr, TStreamSink* AStream = nullptr,
                   const std::function<void()>& ATick = {}) {
  std::unique_ptr<CURL, TCurlDeleter> curl(curl_easy_init());
  if (!curl) throw TRequestError("TTransportError", "libcurl could not create a handle");
  THttpResponse response;
  TTransfer transfer;
  transfer.Response = &response;
  transfer.Body = &ABody;
  transfer.Handle = curl.get();
  transfer.Stop = AStop;
  transfer.Stream = AStream;
  char errors[CURL_ERROR_SIZE] = {};
  std::unique_ptr<curl_slist, TSlistDeleter> headers(curl_slist_append(nullptr, "Content-Type: application/json"));
  // Without this libcurl waits for "100 Continue" before sending a large body.
  headers.reset(curl_slist_append(headers.release(), "Expect:"));
  const long readTimeoutSeconds = ASettings.TimeOut1 > 0 ? ASettings.TimeOut1 : 60;

  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, AUrl.c_str());
  curl_easy_setopt(c, CURLOPT_POST, 1L);
  std::string smallBody;
  if (ABody.Size() <= kWholeBodyBytes) {
    // A small body goes out whole with the headers, in one write to the socket: read
    // piece by piece it would follow them in a write of its own, and the server would
    // wake twice for one request.
    smallBody.resize(ABody.Size());
    std::size_t at = 0;
    while (at < smallBody.size()) {
      const std::size_t n = ABody.Read(smallBody.data() + at, smallBody.size() - at);
      if (n == 0) break;
      at += n;
    }
    smallBody.resize(at);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(smallBody.size()));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, smallBody.data());
  } else {
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ABody.Size()));
    curl_easy_setopt(c, CURLOPT_READFUNCTION, OnReadBody);
    curl_easy_setopt(c, CURLOPT_READDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_SEEKFUNCTION, OnSeekBody);
    curl_easy_setopt(c, CURLOPT_SEEKDATA, &transfer);
    // Fewer, larger writes to the socket for a body of hundreds of megabytes (libcurl's default is 64 kB).
    curl_easy_setopt(c, CURLOPT_UPLOAD_BUFFERSIZE, static_cast<long>(kRequestBodyPieceBytes));
  }
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_USERAGENT, "Tarvok/2.0");
  curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  // The read time-out bounds silence, not the whole answer: a long answer that keeps
  // arriving is never cut, a server that stops sending (before or after its headers) is.
  transfer.IdleLimit = std::chrono::seconds(readTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
  // A backstop, and it makes libcurl look at a silent connection every second.
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, readTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errors);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
  if (!ASettings.CaInfoFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, ASettings.CaInfoFile.c_str());
  else curl_easy_setopt(c, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));  // Windows' own store

  const CURLcode code = Perform(c, transfer, ATick);
  if (transfer.Stopped) throw TStoppedError{};
  if (transfer.StreamError) std::rethrow_exception(transfer.StreamError);
  if (code != CURLE_OK) {
    if (transfer.OutOfMemory) throw TRequestError("TOutOfMemory", "the answer does not fit in memory");
    curl_off_t sending = 0;
    curl_easy_getinfo(c, CURLINFO_PRETRANSFER_TIME_T, &sending);
    if (transfer.TimedOut || (code == CURLE_OPERATION_TIMEDOUT && sending > 0))
      throw TRequestError("TTimeoutError", "the server sent nothing for " + std::to_string(readTimeoutSeconds) + " s");
    std::string message = curl_easy_strerror(code);
    if (errors[0] != '\0' && message != errors) message += std::string(": ") + Trim(errors).data();
    throw TRequestError("TTransportError", message);
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.Status);
  if (response.Status < 200 || response.Status > 299)
    throw THttpStatusError{response.Status, std::move(response.StatusLine), std::move(response.Body)};
  if (AStream && AStream->Reader.InsideEvent())
    throw TRequestError("TTransportError", "the answer stream ended inside an event");
  return response;
}

std::string HttpErrorText(const THttpStatusError& AError) {
  const std::string message = ExtractErrorMessage(AError.Body);
  const std::string_view format = texts::kHttpErrorFormat;
  const std::string values[] = {StatusLineWithReason(AError.StatusLine, AError.Status), std::to_string(AError.Status),
                                message.empty() ? AError.Body : message};
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && (format[i + 1] == 's' || format[i + 1] == 'd') && next < 3) {
      out += values[next++];
      ++i;
    } else {
      out += format[i];
    }
  }
  if (AError.Status == 429) out.insert(0, texts::kRateLimitMarker);
  return out;
}

const char* StandardReasonPhrase(long AStatus) {
  switch (AStatus) {
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 402: return "Payment Required";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 406: return "Not Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 412: return "Precondition Failed";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 416: return "Range Not Satisfiable";
    case 417: return "Expectation Failed";
    case 421: return "Misdirected Request";
    case 422: return "Unprocessable Content";
    case 425: return "Too Early";
    case 426: return "Upgrade Required";
    case 428: return "Precondition Required";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 451: return "Unavailable For Legal Reasons";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    case 505: return "HTTP Version Not Supported";
    case 511: return "Network Authentication Required";
    case 300: return "Multiple Choices";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    default: return nullptr;
  }
}

}  // namespace

std::string StatusLineWithReason(std::string_view AStatusLine, long AStatus) {
  std::string line(Trim(AStatusLine));
  // "HTTP/2 429": protocol and code only (HTTP/2 and later carry no reason phrase).
  const std::size_t space = line.find(' ');
  const bool hasReason = space != std::string::npos && line.find(' ', space + 1) != std::string::npos;
  const char* reason = StandardReasonPhrase(AStatus);
  if (hasReason || reason == nullptr || line.empty()) return line;
  return line + " " + reason;
}

std::string RedactApiKey(std::string AText, const std::string& AApiKey) {
  // Shorter texts are no real key, and masking them would garble the message.
  if (AApiKey.size() < 4) return AText;
  for (std::size_t at = AText.find(AApiKey); at != std::string::npos; at = AText.find(AApiKey, at + 3))
    AText.replace(at, AApiKey.size(), "***");
  return AText;
}

int TGeminiRequestThread::ActiveCount() { return GActiveWorkers.load(); }

TGeminiRequestThread::TActive::TActive() { ++GActiveWorkers; }
TGeminiRequestThread::TActive::~TActive() { --GActiveWorkers; }

void TGeminiRequestThread::ReleaseIdleThreads() { TWorkerThreads::Instance().ReleaseIdle(); }

TGeminiRequestThread::TGeminiRequestThread(const std::string& AApiKey, const std::string& AModelName,
                                           TGeminiDM& AGeminiDM, TStringCallback ACallback,
                                           const TRequestOptions& AOptions)
    : FActive(),
      FApiKey(AApiKey),
      FModelName(AModelName),
      FCallback(std::move(ACallback)),
      FSettings(AGeminiDM.Settings()),
      FMainThread(AGeminiDM.MainThread()),
      FOptions(AOptions) {}

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
  std::call_once(GCurlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  std::unique_ptr<TGeminiRequestThread> owned(AWorker);
  try {
    TWorkerThreads::Instance().Run([worker = owned.get()] {
      std::shared_ptr<TGeminiRequestThread> self(worker);
      self->Execute();
      // The completion goes to the main thread with the worker, and this thread is free
      // at once: waiting for the completion to run would cost two more thread switches a
      // request. The worker ends after its completion has run or been dropped.
      TMainThread& main = self->FMainThread;
      try {
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
  try {
    TGeminiSettings settings = FSettings;
    if (stream) settings.MethodGenerate = "streamGenerateContent";
    const std::string url = BuildRequestUrl(settings, FModelName, FApiKey) + (stream ? "&alt=sse" : "");
    // Reads the attachments of FHistory, the worker's own snapshot, in place.
    const bool thoughts = FOptions.IncludeThoughts && FRequestType == TRequestType::rtGenerateContent;
    TRequestBodySource body = FRequestType == TRequestType::rtGenerateImage
                                  ? TRequestBodySource(BuildImageBody(FPrompt))
                                  : TRequestBodySource(FHistory, FSettings, FUseGoogleSearch, thoughts);
    // The answer so far goes to the main thread as one text, the first piece at once and
    // then at most every 100 ms; the worker waits while the page takes it.
    std::chrono::steady_clock::time_point lastHandOn{};
    auto handOn = [&] {
      if (!sink.Changed || !FOptions.OnPartial) return;
      const auto now = std::chrono::steady_clock::now();
      if (lastHandOn != std::chrono::steady_clock::time_point{} && now - lastHandOn < std::chrono::milliseconds(100)) return;
      sink.Changed = false;
      lastHandOn = now;
      const std::string text = sink.Answer.Text();
      const std::string thinking = sink.Answer.Extras().Thoughts;
      FMainThread.Synchronize([&] {
        if (FOptions.OnPartialThoughts) FOptions.OnPartialThoughts(thinking);
        FOptions.OnPartial(text);
      });
    };
    auto post = [&] {
      return Post(url, body, FSettings, FOptions.Stop.get(), stream ? &sink : nullptr,
                  stream ? std::function<void()>(handOn) : std::function<void()>());
    };
    THttpResponse response;
    try {
      response = post();
    } catch (const THttpStatusError& e) {
      // A model that cannot think aloud refuses the request; it is asked once more as if
      // the thoughts had never been asked for.
      if (!thoughts || !IsThinkingRefusal(e.Status, e.Body)) throw;
      body = TRequestBodySource(FHistory, FSettings, FUseGoogleSearch, false);
      sink = TStreamSink{};
      response = post();
    }
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
  if (FFlags.Failed) FResult = RedactApiKey(std::move(FResult), FApiKey);
  // What was sent goes here, on this thread, not with the completion on the main thread.
  FHistory = {};
  FPrompt = {};
}

}  // namespace tarvok
