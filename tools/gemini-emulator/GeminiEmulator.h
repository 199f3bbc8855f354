#pragma once
// A Gemini REST API emulator on 127.0.0.1 for tests, benchmarks and the demo.
// Tests script its answers one by one and read back exactly what it received;
// with nothing scripted it answers like the real service, echoing the request.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarvok::emulator {

struct TScriptedReply {
  int Status = 200;
  std::string Body;                         // sent exactly as given
  std::string ContentType = "application/json; charset=UTF-8";
  int DelayMs = 0;                          // wait before answering at all
  long long CloseAfterBytes = -1;           // >= 0: send only this many body bytes, then drop the connection
  int StallMs = 0;                          // after the headers (and CloseAfterBytes bytes if set) stall this long, sending nothing
  int TrickleMs = 0;                        // > 0: the body goes out one byte at a time, this long before each
  std::vector<std::string> SseEvents;       // non-empty: answer text/event-stream, each event as "data: <event>\r\n\r\n"
  int EventGapMs = 0;                       // SseEvents: the wait before each event after the first
  std::function<void(std::size_t AEvent)> OnEventSent;  // SseEvents: called on a server thread once an event is written
  bool EndAtCut = false;                    // SseEvents with CloseAfterBytes: end the stream properly there (its last chunk
                                            // goes out) instead of dropping the connection
  std::vector<std::pair<std::string, std::string>> Headers;  // extra response headers
};

struct TRecordedRequest {
  std::string Method, Path, Query;          // Query without '?', exactly as received (e.g. "key=abc" or "alt=sse")
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;                         // exact bytes

  // The value of a header by case-insensitive name; empty when absent.
  std::string Header(const std::string& AName) const;
};

class TGeminiEmulator {
 public:
  explicit TGeminiEmulator(bool ATls = false);
  ~TGeminiEmulator();                       // stops; a stalled handler does not block the stop for long
  TGeminiEmulator(const TGeminiEmulator&) = delete;
  TGeminiEmulator& operator=(const TGeminiEmulator&) = delete;

  void Start();                             // 127.0.0.1, free port, serves on its own threads; returns when listening
  void Start(int APort);                    // a given port; 0 picks a free one. Throws std::runtime_error when it cannot listen
  void Stop();
  int Port() const;
  std::string BaseUrl() const;              // "http://127.0.0.1:<port>" or "https://127.0.0.1:<port>"
  std::string UrlPattern() const;           // BaseUrl() + "/v1beta/models/%s:%s?key="
  std::string CaCertFile() const;           // TLS: PEM CA certificate that signed the server's certificate (for CURLOPT_CAINFO)
  void Enqueue(TScriptedReply AReply);      // next answers in order, for generateContent and streamGenerateContent alike
  void ClearQueue();
  std::size_t QueuedReplies() const;
  std::vector<TRecordedRequest> Requests() const;
  void ClearRequests();
  bool WaitForRequests(std::size_t ACount, std::chrono::milliseconds ATimeout) const;  // condition variable, no polling sleeps
  // Called on a server thread with each request once it is recorded; set it before Start().
  void SetRequestObserver(std::function<void(const TRecordedRequest&)> AObserver);
  // Off: requests are still recorded, without their bodies, and uploaded files without
  // their bytes (a long-running demo, benchmarks).
  void SetRecordBodies(bool ARecord);
  // TLS: serve a certificate whose validity ended yesterday; set it before Start().
  void SetExpiredCertificate(bool AExpired);
  // A wait before every answer the emulator makes up itself (the demo shows a request running).
  void SetDefaultDelay(std::chrono::milliseconds ADelay);
  // The wait between the events of a streamed answer the emulator makes up itself.
  void SetDefaultEventGap(std::chrono::milliseconds AGap);

  // Files API (resumable upload to /upload/v1beta/files, state at /v1beta/files/ID): a new
  // file answers PROCESSING to this many looks before ACTIVE (1 unless set), or FAILED after
  // them when set to fail; it expires after the lifetime (48 h unless set).
  void SetFileProcessingLooks(int ALooks);
  void SetFileProcessingFails(bool AFails);
  void SetFileLifetime(std::chrono::seconds ALifetime);
  // Inline data of one generate call above this many Base64 bytes gets the service's 400
  // "Request payload size exceeds the limit: N bytes." (0, the default: no limit).
  void SetInlineDataLimit(std::size_t ABytes);
  // Forgets every file, as the service does after their expiry: a call naming one gets 404.
  void ExpireFiles();
  std::size_t FileCount() const;
  std::string FileBytes(const std::string& AName) const;  // by name ("files/...")

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

// A streamed text answer as the service sends it: one event per piece, the last with
// finishReason STOP and the full usage; AGapMs between the events.
TScriptedReply StreamedTextReply(const std::vector<std::string>& APieces, int APromptTokens, int ACandidatesTokens,
                                 int AGapMs = 0);
// The same answer unstreamed: one body whose text is all the pieces.
TScriptedReply WholeTextReply(const std::vector<std::string>& APieces, int APromptTokens, int ACandidatesTokens);

// A file of the recorded answers (fixtures/gemini-responses) by name. The folder comes
// from SetFixturesDir, else the TARVOK_FIXTURES_DIR environment variable, else the
// TARVOK_FIXTURES_DIR the build defined; any of them may name the fixtures folder or
// its gemini-responses subfolder. Throws std::runtime_error when the file is missing.
std::string ReadFixture(const std::string& AName);
void SetFixturesDir(const std::string& ADir);

}  // namespace tarvok::emulator
