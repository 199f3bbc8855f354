#pragma once
// A live emulator on loopback, a service whose worker steps run on this thread, and a
// completion that records what it receives.

#include <gtest/gtest.h>

#include <thread>

#include "TempDir.h"
#include "core/ApiKeyStats.h"
#include "core/GeminiDM.h"
#include "core/LoopMainThread.h"
#include "core/Platform.h"
#include "core/RequestThread.h"
#include "tests/sanitizers/Sanitizers.h"
#include "tools/gemini-emulator/GeminiEmulator.h"

namespace tarvok::test {

struct TCompletion {
  std::string Result;
  TTokenUsage Usage;
  bool OnMainThread = false;
  bool Failed = false;
  bool Stopped = false;
};

class TRequestHarness {
 public:
  explicit TRequestHarness(bool ATls, bool AExpiredCertificate = false) : Server(ATls) {
    SetProgramDir(Dir.Path());
    Server.SetExpiredCertificate(AExpiredCertificate);
    Server.Start();
    Dm.GeminiApiUrlBase = Server.UrlPattern();
    if (ATls) Dm.CaInfoFile = Server.CaCertFile();
  }
  ~TRequestHarness() {
    // Workers must be gone before the loop that serves them.
    Loop.ProcessUntil([] { return TGeminiRequestThread::ActiveCount() == 0; });
    FlushRequestCounts();  // the counts reach their files before the folder goes
  }

  TStringCallback Recorder() {
    return MakeCallback([this](const std::string& r, const TTokenUsage& u, const TResultFlags& f) {
      Completions.push_back({r, u, std::this_thread::get_id() == FMainId, f.Failed, f.Stopped});
    });
  }
  // Runs worker steps until ACount completions have arrived and every worker has ended.
  bool WaitForCompletions(std::size_t ACount) {
    return Loop.ProcessUntil([&] { return Completions.size() >= ACount && TGeminiRequestThread::ActiveCount() == 0; },
                             kHangLimit);
  }
  TContentParts TextParts(const std::string& AText) const {
    TContentPart p;
    p.Text = AText;
    return {p};
  }

  TTempDir Dir;
  TLoopMainThread Loop;
  TGeminiDM Dm{Loop};
  emulator::TGeminiEmulator Server;
  std::vector<TCompletion> Completions;

 private:
  std::thread::id FMainId = std::this_thread::get_id();
};

}  // namespace tarvok::test
