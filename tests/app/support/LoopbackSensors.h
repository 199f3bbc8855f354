#pragma once
// What content in the chat page could reach if it got loose: a loopback HTTP server that
// counts every request, and a recorder for what the window hands to the system's programs.

#include <QDesktopServices>
#include <QObject>
#include <QUrl>
#include <httplib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tarvok {

// A loopback server that counts every request reaching it, whatever its method.
class CountingServer {
 public:
  CountingServer() {
    const auto count = [this](const httplib::Request&, httplib::Response& ARes) {
      ++FHits;
      ARes.set_content("x", "image/png");
    };
    FServer.Get(".*", count);
    FServer.Post(".*", count);
    FServer.Put(".*", count);
    FServer.Options(".*", count);
    FPort = FServer.bind_to_any_port("127.0.0.1");
    FThread = std::thread([this] { FServer.listen_after_bind(); });
    while (!FServer.is_running()) std::this_thread::yield();
  }
  ~CountingServer() {
    FServer.stop();
    FThread.join();
  }
  std::string Url(const std::string& APath) const { return "http://127.0.0.1:" + std::to_string(FPort) + APath; }
  int Hits() const { return FHits.load(); }

 private:
  httplib::Server FServer;
  std::thread FThread;
  int FPort = 0;
  std::atomic<int> FHits{0};
};

// Records what the window hands to the system's programs for the schemes it is given;
// while it lives, nothing of those schemes reaches a real browser.
class LinkRecorder : public QObject {
  Q_OBJECT
 public:
  explicit LinkRecorder(std::vector<const char*> ASchemes = {"http", "https", "mailto"}) : FSchemes(std::move(ASchemes)) {
    for (const char* scheme : FSchemes) QDesktopServices::setUrlHandler(scheme, this, "Open");
  }
  ~LinkRecorder() override {
    for (const char* scheme : FSchemes) QDesktopServices::unsetUrlHandler(scheme);
  }
  std::vector<QUrl> Urls;
 public slots:
  void Open(const QUrl& AUrl) { Urls.push_back(AUrl); }

 private:
  std::vector<const char*> FSchemes;
};

}  // namespace tarvok
