#include "core/HttpTransport.h"

#include "core/ProxyAddress.h"

#include <curl/curl.h>
#include <simdjson.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>

#include "core/CoreTexts.h"
#include "core/Text.h"

namespace tarvok {
namespace {

std::once_flag GCurlInit;

// libcurl sends a body given whole in the same write as the headers below 64 kB.
constexpr std::size_t kWholeBodyBytes = 60 * 1024;
constexpr std::size_t kMaxReserve = 512u << 20;  // a hostile Content-Length must not reserve gigabytes

struct TTransfer {
  const THttpRequest* Request = nullptr;
  THttpResponse* Response = nullptr;
  CURL* Handle = nullptr;
  bool OutOfMemory = false;
  bool Stopped = false;
  // The body of a success status goes to the request's OnBody; decided at its first bytes.
  bool BodyChecked = false;
  bool BodyToSink = false;
  std::exception_ptr SinkError;
  // Read time-out: the longest silence allowed once the request is on its way.
  std::chrono::steady_clock::duration IdleLimit{};
  std::chrono::steady_clock::time_point LastActivity = std::chrono::steady_clock::now();
  curl_off_t LastDown = -1, LastUp = -1;
  bool TimedOut = false;
};

// libcurl's own low-speed check averages over several seconds, so a read time-out of one
// second would fire after six; the silence is measured here instead.
int OnXferInfo(void* AUser, curl_off_t, curl_off_t ADownNow, curl_off_t AUpTotal, curl_off_t AUpNow) {
  auto* t = static_cast<TTransfer*>(AUser);
  TStopToken* stop = t->Request->Stop;
  if (stop && stop->IsStopped()) {
    t->Stopped = true;
    return 1;
  }
  const auto now = std::chrono::steady_clock::now();
  curl_off_t sending = 0;
  curl_easy_getinfo(t->Handle, CURLINFO_PRETRANSFER_TIME_T, &sending);
  // Connecting (the TLS handshake included) is bounded by the connect time-out.
  if (sending == 0 || ADownNow != t->LastDown || AUpNow != t->LastUp) {
    if (AUpNow != t->LastUp && t->Request->OnProgress && AUpTotal > 0) {
      try {
        t->Request->OnProgress(static_cast<std::uint64_t>(AUpNow), static_cast<std::uint64_t>(AUpTotal));
      } catch (...) {
        t->SinkError = std::current_exception();
        return 1;
      }
    }
    t->LastDown = ADownNow;
    t->LastUp = AUpNow;
    t->LastActivity = now;
    return 0;
  }
  if (now - t->LastActivity < t->IdleLimit) return 0;
  t->TimedOut = true;
  return 1;
}

std::size_t OnBody(char* AData, std::size_t ASize, std::size_t ACount, void* AUser) {
  auto* t = static_cast<TTransfer*>(AUser);
  const std::size_t n = ASize * ACount;
  if (t->Request->OnBody) {
    if (!t->BodyChecked) {
      long status = 0;
      curl_easy_getinfo(t->Handle, CURLINFO_RESPONSE_CODE, &status);
      t->BodyToSink = status >= 200 && status <= 299;
      t->BodyChecked = true;
    }
    if (t->BodyToSink) {
      try {
        t->Request->OnBody(std::string_view(AData, n));
      } catch (...) {
        t->SinkError = std::current_exception();
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
    body.append(AData, n);
  } catch (...) {
    t->OutOfMemory = true;
    return 0;  // makes libcurl stop with a write error
  }
  return n;
}

// libcurl asks for the body in pieces of its upload buffer's size; each is made in place.
std::size_t OnReadBody(char* ADest, std::size_t ASize, std::size_t ACount, void* AUser) {
  auto* t = static_cast<TTransfer*>(AUser);
  if (t->Request->Stop && t->Request->Stop->IsStopped()) {
    t->Stopped = true;
    return CURL_READFUNC_ABORT;
  }
  try {
    return t->Request->Body->Read(ADest, ASize * ACount);
  } catch (...) {
    t->SinkError = std::current_exception();
    return CURL_READFUNC_ABORT;
  }
}

// A transfer that starts over (a retried stream, a fresh connection) reads the body again.
int OnSeekBody(void* AUser, curl_off_t AOffset, int AOrigin) {
  auto* t = static_cast<TTransfer*>(AUser);
  THttpBody* body = t->Request->Body;
  if (AOrigin != SEEK_SET || AOffset < 0 || static_cast<std::uint64_t>(AOffset) > body->Size())
    return CURL_SEEKFUNC_CANTSEEK;
  return body->Seek(static_cast<std::uint64_t>(AOffset)) ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_CANTSEEK;
}

std::size_t OnHeader(char* AData, std::size_t ASize, std::size_t ACount, void* AUser) {
  auto* t = static_cast<TTransfer*>(AUser);
  const std::size_t n = ASize * ACount;
  try {
    const std::string_view line = Trim(std::string_view(AData, n));
    // Every response of the exchange (an interim 100 Continue included) starts anew.
    if (line.starts_with("HTTP/")) {
      t->Response->StatusLine = std::string(line);
      t->Response->Headers.clear();
      return n;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return n;
    const std::string name(Trim(line.substr(0, colon)));
    const std::string_view value = Trim(line.substr(colon + 1));
    t->Response->Headers.emplace_back(name, std::string(value));
    if (LowerCase(name) == "content-length" && !t->Request->OnBody) {
      std::uint64_t length = 0;
      for (char c : value) {
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

// The multi handle of this thread, kept from one of its transfers to the next: making one
// (with the socket pair that wakes it) and ending it cost as much work as a small
// request's own. It runs one transfer at a time, and no connection outlives its transfer
// (CURLOPT_FORBID_REUSE), so every request connects afresh as with a handle of its own.
struct TThreadMulti {
  std::unique_ptr<CURLM, TMultiDeleter> Multi;
  bool Busy = false;  // a transfer runs in it (one made from inside it gets a handle of its own)
};

// Runs the transfer in this thread's multi handle, so that a stop wakes its wait at once;
// the request's OnTick runs between waits.
CURLcode RunTransfer(CURL* AHandle, TTransfer& ATransfer) {
  thread_local TThreadMulti kept;
  std::unique_ptr<CURLM, TMultiDeleter> own;
  std::unique_ptr<CURLM, TMultiDeleter>& multi = kept.Busy ? own : kept.Multi;
  struct TBusy {
    bool& Flag;
    const bool Was;
    ~TBusy() { Flag = Was; }
  } busy{kept.Busy, kept.Busy};
  kept.Busy = true;
  if (!multi) multi.reset(curl_multi_init());
  if (!multi || curl_multi_add_handle(multi.get(), AHandle) != CURLM_OK) {
    multi.reset();  // made afresh by the next transfer
    return CURLE_OUT_OF_MEMORY;
  }
  CURLM* m = multi.get();
  TStopToken* stop = ATransfer.Request->Stop;
  const std::function<bool()>& tick = ATransfer.Request->OnTick;
  if (stop) stop->SetWake([m] { curl_multi_wakeup(m); });
  CURLcode result = CURLE_OK;
  bool broken = false;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(m, &running) != CURLM_OK) {
      broken = true;
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
    if (stop && stop->IsStopped()) {
      ATransfer.Stopped = true;
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    bool soon = false;
    if (tick) {
      try {
        soon = tick();
      } catch (...) {
        ATransfer.SinkError = std::current_exception();
        result = CURLE_ABORTED_BY_CALLBACK;
        break;
      }
    }
    curl_multi_poll(m, nullptr, 0, soon ? 20 : 250, nullptr);
  }
  // After this no stop can reach the multi handle any more.
  if (stop) stop->SetWake(nullptr);
  // A handle in a state of its own is not kept: the next transfer makes a new one.
  if (curl_multi_remove_handle(m, AHandle) != CURLM_OK || broken) multi.reset();
  return result;
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

std::size_t TStringBody::Read(char* ADest, std::size_t AMax) {
  const std::size_t n = std::min(AMax, FText.size() - FAt);
  std::copy_n(FText.data() + FAt, n, ADest);
  FAt += n;
  return n;
}

bool TStringBody::Seek(std::uint64_t AOffset) {
  if (AOffset > FText.size()) return false;
  FAt = static_cast<std::size_t>(AOffset);
  return true;
}

bool TRequestBody::Seek(std::uint64_t AOffset) {
  if (AOffset > FSource.Size()) return false;
  FSource.Seek(static_cast<std::size_t>(AOffset));
  return true;
}

std::string THttpResponse::Header(std::string_view AName) const {
  const std::string want = LowerCase(AName);
  for (const auto& [name, value] : Headers)
    if (LowerCase(name) == want) return value;
  return {};
}

THttpResponse PerformHttp(const THttpRequest& ARequest, const TTransportOptions& AOptions) {
  std::call_once(GCurlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  std::unique_ptr<CURL, TCurlDeleter> curl(curl_easy_init());
  if (!curl) throw TRequestError("TTransportError", "libcurl could not create a handle");
  THttpResponse response;
  TTransfer transfer;
  transfer.Request = &ARequest;
  transfer.Response = &response;
  transfer.Handle = curl.get();
  char errors[CURL_ERROR_SIZE] = {};
  const bool post = ARequest.Method == "POST";
  std::unique_ptr<curl_slist, TSlistDeleter> headers;
  auto addHeader = [&headers](const std::string& ALine) {
    curl_slist* grown = curl_slist_append(headers.get(), ALine.c_str());
    if (!grown) throw std::bad_alloc();
    headers.release();
    headers.reset(grown);
  };
  if (post && ARequest.Body && !ARequest.ContentType.empty()) addHeader("Content-Type: " + ARequest.ContentType);
  // A body of no stated type (a file's bytes) would otherwise go out labelled as a form.
  else if (post && ARequest.Body) addHeader("Content-Type:");
  // Without this libcurl waits for "100 Continue" before sending a large body.
  if (post) addHeader("Expect:");
  for (const std::string& line : ARequest.Headers) addHeader(line);
  const long readTimeoutSeconds = AOptions.ReadTimeoutSeconds > 0 ? AOptions.ReadTimeoutSeconds : 60;

  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, ARequest.Url.c_str());
  std::string smallBody;
  if (!post) {
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  } else if (!ARequest.Body) {
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, "");
  } else if (ARequest.Body->Size() <= kWholeBodyBytes) {
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    // A small body goes out whole with the headers, in one write to the socket: read
    // piece by piece it would follow them in a write of its own, and the server would
    // wake twice for one request.
    smallBody.resize(static_cast<std::size_t>(ARequest.Body->Size()));
    std::size_t at = 0;
    while (at < smallBody.size()) {
      const std::size_t n = ARequest.Body->Read(smallBody.data() + at, smallBody.size() - at);
      if (n == 0) break;
      at += n;
    }
    smallBody.resize(at);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(smallBody.size()));
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, smallBody.data());
  } else {
    // Made as it goes out, straight into libcurl's upload buffer; its length is known in
    // advance, so it goes with a Content-Length as a body made whole would.
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ARequest.Body->Size()));
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
  // Closed when the transfer ends, not kept in the thread's multi handle for a next one.
  curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
  if (AOptions.Proxy.empty()) {
    curl_easy_setopt(c, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
  } else {
    // A proxy the user named carries every call, to a local relay too (NO_PROXY of the
    // environment included).
    curl_easy_setopt(c, CURLOPT_PROXY, AOptions.Proxy.c_str());
    curl_easy_setopt(c, CURLOPT_NOPROXY, "");
  }
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, AOptions.ConnectTimeoutMs);
  // The read time-out bounds silence, not the whole answer: a long answer that keeps
  // arriving is never cut, a server that stops sending (before or after its headers) is.
  transfer.IdleLimit = std::chrono::seconds(readTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnXferInfo);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
  // A backstop, and it makes libcurl look at a silent connection every second.
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, readTimeoutSeconds);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errors);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
  if (!AOptions.CaInfoFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, AOptions.CaInfoFile.c_str());
  else curl_easy_setopt(c, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));  // Windows' own store

  const CURLcode code = RunTransfer(c, transfer);
  if (transfer.Stopped) throw TStoppedError{};
  if (transfer.SinkError) std::rethrow_exception(transfer.SinkError);
  if (code != CURLE_OK) {
    if (transfer.OutOfMemory) throw TRequestError("TOutOfMemory", "the answer does not fit in memory");
    curl_off_t sending = 0;
    curl_easy_getinfo(c, CURLINFO_PRETRANSFER_TIME_T, &sending);
    if (transfer.TimedOut || (code == CURLE_OPERATION_TIMEDOUT && sending > 0))
      throw TRequestError("TTimeoutError", "the server sent nothing for " + std::to_string(readTimeoutSeconds) + " s");
    std::string message = curl_easy_strerror(code);
    if (errors[0] != '\0' && message != errors) message += std::string(": ") + Trim(errors).data();
    // With a proxy set, a failed transfer may be the proxy's doing: it is named (without
    // its password), so the user knows which setting to look at.
    if (!AOptions.Proxy.empty())
      message = RedactProxyPassword(message, AOptions.Proxy) + " (прокси " + MaskedProxyUrl(AOptions.Proxy) + ")";
    throw TRequestError("TTransportError", message);
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.Status);
  if (response.Status < 200 || response.Status > 299)
    throw THttpStatusError{response.Status, std::move(response.StatusLine), std::move(response.Body)};
  return response;
}

std::string QuotaDetailsLine(std::string_view ABody) {
  if (Trim(ABody).empty()) return {};
  try {
    simdjson::dom::parser parser;
    const simdjson::padded_string padded(MakeValidUtf8(ABody));
    simdjson::dom::array details;
    if (parser.parse(padded)["error"]["details"].get_array().get(details) != simdjson::SUCCESS) return {};
    std::string_view quotaId, retryDelay;
    for (simdjson::dom::element detail : details) {
      std::string_view type;
      if (detail["@type"].get_string().get(type) != simdjson::SUCCESS) continue;
      if (type.ends_with("google.rpc.QuotaFailure") && quotaId.empty()) {
        simdjson::dom::element first;
        if (detail["violations"].at(0).get(first) == simdjson::SUCCESS &&
            first["quotaId"].get_string().get(quotaId) != simdjson::SUCCESS)
          quotaId = {};
      } else if (type.ends_with("google.rpc.RetryInfo") && retryDelay.empty()) {
        if (detail["retryDelay"].get_string().get(retryDelay) != simdjson::SUCCESS) retryDelay = {};
      }
    }
    // A protobuf Duration: decimal seconds with an "s" ("26s", "0.5s"), shown in whole seconds up.
    long long seconds = -1;
    if (retryDelay.ends_with('s')) {
      const std::string number(retryDelay.substr(0, retryDelay.size() - 1));
      char* end = nullptr;
      const double value = std::strtod(number.c_str(), &end);
      if (!number.empty() && end == number.c_str() + number.size() && value >= 0 && value < 1e9)
        seconds = static_cast<long long>(std::ceil(value));
    }
    std::string line;
    if (!quotaId.empty()) line = std::string(texts::kQuotaHead) + std::string(quotaId) + ".";
    if (seconds >= 0) {
      if (!line.empty()) line += ' ';
      line += std::string(texts::kRetryHead) + std::to_string(seconds) + texts::kRetryTail;
    }
    return line;
  } catch (...) {
    return {};
  }
}

std::string QuotaDetailsLineOfResult(std::string_view AResult) {
  if (!StartsWithNoCase(AResult, texts::kRateLimitMarker)) return {};
  const std::size_t lineAt = AResult.rfind("\r\n");
  if (lineAt == std::string_view::npos) return {};
  const std::string_view line = AResult.substr(lineAt + 2);
  if (!line.starts_with(texts::kQuotaHead) && !line.starts_with(texts::kRetryHead)) return {};
  return std::string(line);
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
  if (AError.Status == 429) {
    out.insert(0, texts::kRateLimitMarker);
    const std::string quota = QuotaDetailsLine(AError.Body);
    if (!quota.empty()) out += "\r\n" + quota;
  }
  return out;
}

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

}  // namespace tarvok
