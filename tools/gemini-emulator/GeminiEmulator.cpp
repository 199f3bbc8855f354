#include "tools/gemini-emulator/GeminiEmulator.h"

#include <httplib.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tools/gemini-emulator/DefaultReplies.h"
#include "tools/gemini-emulator/FilesService.h"
#include "tools/gemini-emulator/ServiceJson.h"
#include "tools/gemini-emulator/TestCertificates.h"

namespace tarvok::emulator {
namespace {

constexpr const char* kJsonContentType = "application/json; charset=UTF-8";
constexpr std::size_t kWriteSlice = 256 * 1024;
// Enough workers that stalled answers in a test do not starve the next request.
constexpr std::size_t kWorkers = 16;

bool EqualsNoCase(std::string_view A, std::string_view B) {
  return A.size() == B.size() &&
         std::equal(A.begin(), A.end(), B.begin(), [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

}  // namespace

std::string TRecordedRequest::Header(const std::string& AName) const {
  for (const auto& [name, value] : Headers)
    if (EqualsNoCase(name, AName)) return value;
  return {};
}

struct TGeminiEmulator::TImpl {
  bool Tls = false;
  std::filesystem::path CertFolder;
  TCertificateFiles Certs;
  std::unique_ptr<httplib::Server> Server;
  std::thread ListenThread;
  int Port = 0;

  mutable std::mutex Mutex;
  mutable std::condition_variable Changed;  // requests recorded, listening started, stop requested
  bool Listening = false;
  bool Stopping = false;
  std::deque<TScriptedReply> Queue;
  std::vector<TRecordedRequest> Recorded;
  std::function<void(const TRecordedRequest&)> Observer;
  bool RecordBodies = true;
  int DefaultDelayMs = 0;
  int DefaultEventGapMs = 0;
  bool ExpiredCertificate = false;
  TFilesService Files;

  ~TImpl() {
    if (!CertFolder.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(CertFolder, ec);
    }
  }

  // Waits AMs unless Stop() comes first; false when stopping.
  bool Pause(int AMs) {
    std::unique_lock lock(Mutex);
    if (AMs > 0) Changed.wait_for(lock, std::chrono::milliseconds(AMs), [this] { return Stopping; });
    return !Stopping;
  }

  void MakeCertificates() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvok-emulator-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("emulator: cannot make a temporary folder");
    CertFolder = pattern;
    Certs = MakeTestCertificates(CertFolder, ExpiredCertificate);
  }

  void Handle(const httplib::Request& AReq, httplib::Response& ARes, std::string ABody) {
    TRecordedRequest rec;
    rec.Method = AReq.method;
    const std::size_t q = AReq.target.find('?');
    rec.Path = AReq.target.substr(0, q);
    if (q != std::string::npos) rec.Query = AReq.target.substr(q + 1);
    for (const auto& [name, value] : AReq.headers) {
      // httplib adds these itself; they were not sent.
      if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") continue;
      rec.Headers.emplace_back(name, value);
    }
    rec.Body = std::move(ABody);

    // The Files API, and what the service refuses before a generate call is answered.
    std::optional<TScriptedReply> reply =
        Files.Handle(rec, AReq.path, std::string(Tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(Port));
    if (!reply && IsGenerateCall(rec, AReq.path)) reply = Files.CheckGenerate(rec);
    if (!reply) {
      std::lock_guard lock(Mutex);
      if (!Queue.empty() && IsGenerateCall(rec, AReq.path)) {
        reply = std::move(Queue.front());
        Queue.pop_front();
      }
    }
    if (!reply) {
      reply = MakeDefaultReply(rec, AReq.path);
      std::lock_guard lock(Mutex);
      reply->DelayMs = DefaultDelayMs;
      reply->EventGapMs = DefaultEventGapMs;
    }
    if (Observer) Observer(rec);
    {
      std::lock_guard lock(Mutex);
      // Emptied by assignment, a string keeps its buffer: hundreds of megabytes an upload.
      if (!RecordBodies) std::string().swap(rec.Body);
      Recorded.push_back(std::move(rec));
    }
    Changed.notify_all();
    Serve(std::move(*reply), ARes);
  }

  void Serve(TScriptedReply AReply, httplib::Response& ARes) {
    if (!Pause(AReply.DelayMs)) return;
    ARes.status = AReply.Status;
    for (const auto& [name, value] : AReply.Headers) ARes.set_header(name, value);
    if (AReply.CloseAfterBytes >= 0) ARes.set_header("Connection", "close");

    if (!AReply.SseEvents.empty()) {
      ServeEvents(std::move(AReply), ARes);
      return;
    }
    auto body = std::make_shared<std::string>(std::move(AReply.Body));
    if (body->empty()) {
      Pause(AReply.StallMs);
      ARes.set_content("", AReply.ContentType);
      return;
    }
    const std::size_t limit = AReply.CloseAfterBytes >= 0
                                  ? std::min<std::size_t>(static_cast<std::size_t>(AReply.CloseAfterBytes), body->size())
                                  : body->size();
    const bool drop = AReply.CloseAfterBytes >= 0 && limit < body->size();
    const int stallMs = AReply.StallMs;
    const int trickleMs = AReply.TrickleMs;
    auto stalled = std::make_shared<bool>(false);
    ARes.set_content_provider(
        body->size(), AReply.ContentType,
        [this, body, limit, drop, stallMs, trickleMs, stalled](std::size_t AOffset, std::size_t, httplib::DataSink& ASink) {
          // Without a cut, the stall comes right after the headers.
          if (!drop && !*stalled && stallMs > 0) {
            *stalled = true;
            if (!Pause(stallMs)) return false;
          }
          if (AOffset >= limit) {
            if (stallMs > 0) Pause(stallMs);
            return false;  // closes the connection short of Content-Length
          }
          if (trickleMs > 0 && !Pause(trickleMs)) return false;
          const std::size_t n = trickleMs > 0 ? 1 : std::min(kWriteSlice, limit - AOffset);
          return ASink.write(body->data() + AOffset, n) && !IsStopping();
        });
  }

  void ServeEvents(TScriptedReply AReply, httplib::Response& ARes) {
    auto events = std::make_shared<std::vector<std::string>>();
    for (std::string& e : AReply.SseEvents) events->push_back("data: " + e + "\r\n\r\n");
    struct TState {
      std::size_t Event = 0, InEvent = 0, Sent = 0;
      bool Stalled = false;
    };
    auto state = std::make_shared<TState>();
    const long long closeAfter = AReply.CloseAfterBytes;
    const int stallMs = AReply.StallMs;
    const int gapMs = AReply.EventGapMs;
    const bool endAtCut = AReply.EndAtCut;
    auto onSent = std::make_shared<std::function<void(std::size_t)>>(std::move(AReply.OnEventSent));
    const std::string type = AReply.ContentType == kJsonContentType ? "text/event-stream" : AReply.ContentType;
    ARes.set_chunked_content_provider(
        type, [this, events, state, closeAfter, stallMs, gapMs, endAtCut, onSent](std::size_t, httplib::DataSink& ASink) {
          if (closeAfter < 0 && !state->Stalled && stallMs > 0) {
            state->Stalled = true;
            if (!Pause(stallMs)) return false;
          }
          // A cut at the very end still drops the connection before the stream's last chunk.
          if (closeAfter >= 0 && state->Sent >= static_cast<std::size_t>(closeAfter)) {
            if (stallMs > 0) Pause(stallMs);
            if (!endAtCut) return false;
            ASink.done();
            return true;
          }
          if (state->Event >= events->size()) {
            ASink.done();
            return true;
          }
          if (state->Event > 0 && state->InEvent == 0 && gapMs > 0 && !Pause(gapMs)) return false;
          const std::string& e = (*events)[state->Event];
          std::size_t n = e.size() - state->InEvent;
          if (closeAfter >= 0) n = std::min(n, static_cast<std::size_t>(closeAfter) - state->Sent);
          if (!ASink.write(e.data() + state->InEvent, n)) return false;
          state->Sent += n;
          state->InEvent += n;
          if (state->InEvent == e.size()) {
            if (*onSent) (*onSent)(state->Event);
            ++state->Event;
            state->InEvent = 0;
          }
          return !IsStopping();
        });
  }

  bool IsStopping() {
    std::lock_guard lock(Mutex);
    return Stopping;
  }
};

TGeminiEmulator::TGeminiEmulator(bool ATls) : FImpl(std::make_unique<TImpl>()) { FImpl->Tls = ATls; }

TGeminiEmulator::~TGeminiEmulator() { Stop(); }

void TGeminiEmulator::Start() { Start(0); }

void TGeminiEmulator::Start(int APort) {
  TImpl& d = *FImpl;
  if (d.Server) throw std::runtime_error("emulator: already started");
  if (d.Tls) {
    d.MakeCertificates();
    d.Server = std::make_unique<httplib::SSLServer>(d.Certs.ServerCert.c_str(), d.Certs.ServerKey.c_str());
  } else {
    d.Server = std::make_unique<httplib::Server>();
  }
  if (!d.Server->is_valid()) throw std::runtime_error("emulator: the server could not be set up");

  // The library calls this when its accept loop starts: from then on stop() takes effect.
  d.Server->new_task_queue = [&d] {
    {
      std::lock_guard lock(d.Mutex);
      d.Listening = true;
    }
    d.Changed.notify_all();
    return new httplib::ThreadPool(kWorkers);
  };
  // Idle kept-alive connections hold a worker until this runs out, which delays a stop.
  d.Server->set_keep_alive_timeout(1);

  auto plain = [&d](const httplib::Request& AReq, httplib::Response& ARes) { d.Handle(AReq, ARes, {}); };
  auto withBody = [&d](const httplib::Request& AReq, httplib::Response& ARes, const httplib::ContentReader& AReader) {
    std::string body;
    // Room for the whole body plus the padding the JSON parser needs, so neither
    // growing nor parsing copies a large request.
    const auto length = AReq.get_header_value<std::uint64_t>("Content-Length");
    if (length > 0 && length < (std::uint64_t(1) << 34)) body.reserve(length + 64);
    AReader([&body](const char* AData, std::size_t ASize) {
      body.append(AData, ASize);
      return true;
    });
    d.Handle(AReq, ARes, std::move(body));
  };
  const std::string any = ".*";
  d.Server->Get(any, plain);
  d.Server->Delete(any, plain);
  d.Server->Options(any, plain);
  d.Server->Post(any, withBody);
  d.Server->Put(any, withBody);
  d.Server->Patch(any, withBody);

  if (APort == 0) {
    d.Port = d.Server->bind_to_any_port("127.0.0.1");
  } else {
    d.Port = d.Server->bind_to_port("127.0.0.1", APort) ? APort : -1;
  }
  if (d.Port <= 0) {
    d.Server.reset();
    throw std::runtime_error("emulator: cannot listen on 127.0.0.1:" + std::to_string(APort));
  }
  d.ListenThread = std::thread([&d] {
    d.Server->listen_after_bind();
    std::lock_guard lock(d.Mutex);
    d.Listening = true;  // also when the loop failed to start, so Start does not wait forever
    d.Changed.notify_all();
  });
  std::unique_lock lock(d.Mutex);
  d.Changed.wait(lock, [&d] { return d.Listening; });
}

void TGeminiEmulator::Stop() {
  TImpl& d = *FImpl;
  {
    std::lock_guard lock(d.Mutex);
    d.Stopping = true;
  }
  d.Changed.notify_all();
  if (d.Server) d.Server->stop();
  if (d.ListenThread.joinable()) d.ListenThread.join();
}

void TGeminiEmulator::SetDefaultEventGap(std::chrono::milliseconds AGap) {
  std::lock_guard lock(FImpl->Mutex);
  FImpl->DefaultEventGapMs = static_cast<int>(AGap.count());
}

int TGeminiEmulator::Port() const { return FImpl->Port; }

std::string TGeminiEmulator::BaseUrl() const {
  return std::string(FImpl->Tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(FImpl->Port);
}

std::string TGeminiEmulator::UrlPattern() const { return BaseUrl() + "/v1beta/models/%s:%s?key="; }

std::string TGeminiEmulator::CaCertFile() const { return FImpl->Certs.CaCert.string(); }

void TGeminiEmulator::Enqueue(TScriptedReply AReply) {
  std::lock_guard lock(FImpl->Mutex);
  FImpl->Queue.push_back(std::move(AReply));
}

void TGeminiEmulator::ClearQueue() {
  std::lock_guard lock(FImpl->Mutex);
  FImpl->Queue.clear();
}

std::size_t TGeminiEmulator::QueuedReplies() const {
  std::lock_guard lock(FImpl->Mutex);
  return FImpl->Queue.size();
}

std::vector<TRecordedRequest> TGeminiEmulator::Requests() const {
  std::lock_guard lock(FImpl->Mutex);
  return FImpl->Recorded;
}

void TGeminiEmulator::ClearRequests() {
  std::lock_guard lock(FImpl->Mutex);
  FImpl->Recorded.clear();
}

bool TGeminiEmulator::WaitForRequests(std::size_t ACount, std::chrono::milliseconds ATimeout) const {
  std::unique_lock lock(FImpl->Mutex);
  return FImpl->Changed.wait_for(lock, ATimeout, [this, ACount] { return FImpl->Recorded.size() >= ACount; });
}

void TGeminiEmulator::SetRequestObserver(std::function<void(const TRecordedRequest&)> AObserver) {
  FImpl->Observer = std::move(AObserver);
}

void TGeminiEmulator::SetExpiredCertificate(bool AExpired) { FImpl->ExpiredCertificate = AExpired; }

void TGeminiEmulator::SetRecordBodies(bool ARecord) {
  std::lock_guard lock(FImpl->Mutex);
  FImpl->RecordBodies = ARecord;
  FImpl->Files.SetKeepBytes(ARecord);
}

void TGeminiEmulator::SetFileProcessingLooks(int ALooks) { FImpl->Files.SetProcessingLooks(ALooks); }
void TGeminiEmulator::SetFileProcessingFails(bool AFails) { FImpl->Files.SetFailProcessing(AFails); }
void TGeminiEmulator::SetFileLifetime(std::chrono::seconds ALifetime) { FImpl->Files.SetLifetime(ALifetime); }
void TGeminiEmulator::SetInlineDataLimit(std::size_t ABytes) { FImpl->Files.SetInlineDataLimit(ABytes); }
void TGeminiEmulator::ExpireFiles() { FImpl->Files.ExpireAll(); }
std::size_t TGeminiEmulator::FileCount() const { return FImpl->Files.FileCount(); }
std::string TGeminiEmulator::FileBytes(const std::string& AName) const { return FImpl->Files.FileBytes(AName); }

void TGeminiEmulator::SetDefaultDelay(std::chrono::milliseconds ADelay) {
  std::lock_guard lock(FImpl->Mutex);
  FImpl->DefaultDelayMs = static_cast<int>(ADelay.count());
}

// ---- scripted answers ------------------------------------------------------------

namespace {
std::string TextAnswerObject(bool AOneLine, std::string_view AText, bool AFinal, int APrompt, int ACandidates) {
  TServiceJson out(AOneLine);
  out.BeginObject().Key("candidates").BeginArray().BeginObject();
  out.Key("content").BeginObject().Key("parts").BeginArray().BeginObject().Member("text", AText).EndObject().EndArray();
  out.Member("role", "model").EndObject();
  if (AFinal) out.Member("finishReason", "STOP");
  out.Member("index", 0).EndObject().EndArray();
  out.Key("usageMetadata").BeginObject().Member("promptTokenCount", APrompt);
  if (AFinal) out.Member("candidatesTokenCount", ACandidates);
  out.Member("totalTokenCount", APrompt + (AFinal ? ACandidates : 0)).EndObject();
  out.Member("modelVersion", "gemini-2.5-flash").EndObject();
  return out.Take();
}
}  // namespace

TScriptedReply StreamedTextReply(const std::vector<std::string>& APieces, int APromptTokens, int ACandidatesTokens,
                                 int AGapMs) {
  TScriptedReply reply;
  reply.ContentType = "text/event-stream";
  reply.EventGapMs = AGapMs;
  for (std::size_t i = 0; i < APieces.size(); ++i)
    reply.SseEvents.push_back(
        TextAnswerObject(true, APieces[i], i + 1 == APieces.size(), APromptTokens, ACandidatesTokens));
  return reply;
}

TScriptedReply WholeTextReply(const std::vector<std::string>& APieces, int APromptTokens, int ACandidatesTokens) {
  std::string text;
  for (const std::string& piece : APieces) text += piece;
  TScriptedReply reply;
  reply.Body = TextAnswerObject(false, text, true, APromptTokens, ACandidatesTokens) + "\n";
  return reply;
}

// ---- fixtures --------------------------------------------------------------------

namespace {
std::mutex GFixturesMutex;
std::string GFixturesDir;
}  // namespace

void SetFixturesDir(const std::string& ADir) {
  std::lock_guard lock(GFixturesMutex);
  GFixturesDir = ADir;
}

std::string ReadFixture(const std::string& AName) {
  std::vector<std::filesystem::path> roots;
  {
    std::lock_guard lock(GFixturesMutex);
    if (!GFixturesDir.empty()) roots.emplace_back(GFixturesDir);
  }
  if (const char* env = std::getenv("TARVOK_FIXTURES_DIR"); env && *env) roots.emplace_back(env);
#ifdef TARVOK_FIXTURES_DIR
  roots.emplace_back(TARVOK_FIXTURES_DIR);
#endif
  std::string tried;
  for (const auto& root : roots) {
    for (const auto& path : {root / "gemini-responses" / AName, root / AName}) {
      std::ifstream in(path, std::ios::binary);
      if (!in) {
        tried += (tried.empty() ? "" : ", ") + path.string();
        continue;
      }
      std::ostringstream text;
      text << in.rdbuf();
      return text.str();
    }
  }
  throw std::runtime_error("fixture not found: " + AName + " (looked for " + (tried.empty() ? std::string("no folder set") : tried) + ")");
}

}  // namespace tarvok::emulator
