#pragma once
// The one place that performs an HTTP request to the service: time-outs, the stop token,
// proxy and TLS settings, progress, and the failure texts. Workers decide what to ask;
// every call (generate, stream, upload, file state) goes through PerformHttp.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/StopToken.h"
#include "core/WireFormat.h"

namespace tarvok {

// The size of libcurl's upload buffer, the pieces in which a large request body is made as it is sent.
inline constexpr std::size_t kRequestBodyPieceBytes = 512 * 1024;

// How every request is carried; taken from the service's settings when a worker starts.
struct TTransportOptions {
  long ConnectTimeoutMs = 10000;
  // The longest silence once the request is on its way (0 or less: 60 s).
  std::int32_t ReadTimeoutSeconds = 0;
  // CA certificates for TLS; empty means the system's store.
  std::string CaInfoFile;
  // A proxy address as libcurl takes it ("http://host:port", "socks5h://host:port").
  // Empty leaves libcurl's default: the proxy environment variables, else none.
  std::string Proxy;
};

// A request body read piece by piece as it goes out; its length is known before the first byte.
class THttpBody {
 public:
  virtual ~THttpBody() = default;
  virtual std::uint64_t Size() const = 0;
  // The next bytes into ADest, at most AMax; 0 only at the end.
  virtual std::size_t Read(char* ADest, std::size_t AMax) = 0;
  // Back to byte AOffset, so that a transfer that starts over reads it again; false when it cannot.
  virtual bool Seek(std::uint64_t AOffset) = 0;
};

// A body made whole in memory.
class TStringBody : public THttpBody {
 public:
  explicit TStringBody(std::string AText) : FText(std::move(AText)) {}
  std::uint64_t Size() const override { return FText.size(); }
  std::size_t Read(char* ADest, std::size_t AMax) override;
  bool Seek(std::uint64_t AOffset) override;

 private:
  std::string FText;
  std::size_t FAt = 0;
};

// A chat or image body as WireFormat makes it, read in place.
class TRequestBody : public THttpBody {
 public:
  explicit TRequestBody(TRequestBodySource& ASource) : FSource(ASource) {}
  std::uint64_t Size() const override { return FSource.Size(); }
  std::size_t Read(char* ADest, std::size_t AMax) override { return FSource.Read(ADest, AMax); }
  bool Seek(std::uint64_t AOffset) override;

 private:
  TRequestBodySource& FSource;
};

struct THttpRequest {
  std::string Method = "POST";  // "POST" or "GET"
  std::string Url;
  // "Name: value" lines besides those the transport adds itself.
  std::vector<std::string> Headers;
  // The content type of a body; a POST without a body sends none.
  std::string ContentType = "application/json";
  THttpBody* Body = nullptr;
  TStopToken* Stop = nullptr;
  // A success status's body goes here as it arrives instead of being collected; raising
  // from it ends the request with that error.
  std::function<void(std::string_view ABytes)> OnBody;
  // Runs between the transfer's waits on the requesting thread; true asks for the next wait
  // to be short (something is waiting to be handed on).
  std::function<bool()> OnTick;
  // Bytes of the body sent so far, and its size; called between waits.
  std::function<void(std::uint64_t ASent, std::uint64_t ATotal)> OnProgress;
};

struct THttpResponse {
  long Status = 0;
  std::string StatusLine;
  // The final response's headers as received (name without its colon, value trimmed).
  std::vector<std::pair<std::string, std::string>> Headers;
  // Collected unless OnBody took it; with SIMDJSON_PADDING spare capacity for in-place parsing.
  std::string Body;

  // A header by case-insensitive name; empty when absent.
  std::string Header(std::string_view AName) const;
};

// A status outside the success range; carries what the failure text needs.
struct THttpStatusError {
  long Status;
  std::string StatusLine;
  std::string Body;
};

// The user stopped the request.
struct TStoppedError {};

// Performs one request on the calling thread. A success status returns the response; an
// error status raises THttpStatusError, a stop TStoppedError, anything else (no connection,
// TLS, a time-out, no memory) TRequestError with the type name the result text shows.
THttpResponse PerformHttp(const THttpRequest& ARequest, const TTransportOptions& AOptions);

// The result text of an error status: "Ошибка HTTP: ..." with the status line, the code and
// the body's message (else the whole body); a 429 begins with the rate-limit marker and,
// when the answer names them, adds the quota and the wait before a retry.
std::string HttpErrorText(const THttpStatusError& AError);

// The status line as the error text shows it: HTTP/2 and later send none but protocol and
// code ("HTTP/2 429"), so the standard reason phrase of the code is added when missing.
std::string StatusLineWithReason(std::string_view AStatusLine, long AStatus);

// The result text with every occurrence of the API key masked (libcurl messages and
// error bodies can carry the request address).
std::string RedactApiKey(std::string AText, const std::string& AApiKey);

// "Квота: <quotaId>. Повторить можно через <N> с." from a 429 body's details, or empty
// when it names neither.
std::string QuotaDetailsLine(std::string_view ABody);
// That line of a 429's result text, or empty when it has none.
std::string QuotaDetailsLineOfResult(std::string_view AResult);

}  // namespace tarvok
