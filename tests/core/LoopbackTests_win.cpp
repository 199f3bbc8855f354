// The core's requests from Windows (curl with Schannel, Winsock) over loopback to the
// emulator, which runs as a Linux program beside Wine: scripts/test-windows starts it and
// passes its address in TARVOK_EMULATOR_URL.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "TempDir.h"
#include "core/GeminiDM.h"
#include "core/LoopMainThread.h"
#include "core/Platform.h"
#include "core/RequestThread.h"

namespace tarvok {
namespace {

TEST(WindowsLoopback, ARequestReachesTheEmulatorAndTheAnswerComesBack) {
  const char* base = std::getenv("TARVOK_EMULATOR_URL");
  if (!base || !*base) GTEST_SKIP() << "TARVOK_EMULATOR_URL is not set: no emulator to talk to";
  test::TTempDir dir;
  SetProgramDir(dir.Path());
  TLoopMainThread loop;
  TGeminiDM dm{loop};
  dm.GeminiApiUrlBase = std::string(base) + "/v1beta/models/%s:%s?key=";
  std::string result;
  TTokenUsage usage;
  bool done = false, failed = true;
  TContentPart prompt;
  prompt.Text = "Привет из Windows";
  dm.GenerateContent("TESTKEY-WINDOWS", "gemini-2.5-flash", {prompt}, false,
                     MakeCallback([&](const std::string& AResult, const TTokenUsage& AUsage, const TResultFlags& AFlags) {
                       result = AResult;
                       usage = AUsage;
                       failed = AFlags.Failed;
                       done = true;
                     }),
                     true);
  ASSERT_TRUE(loop.ProcessUntil([&] { return done && TGeminiRequestThread::ActiveCount() == 0; }));
  EXPECT_FALSE(failed) << result;
  EXPECT_NE(result.find("Привет из Windows"), std::string::npos) << result;
  EXPECT_GT(usage.PromptTokens, 0) << result;
  ASSERT_EQ(dm.FChatHistory.size(), 2u);
  EXPECT_EQ(dm.FChatHistory[1].Role, "model");
  SetProgramDir({});
}

}  // namespace
}  // namespace tarvok
