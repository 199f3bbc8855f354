// The real Gemini CLI answering a chat turn through GenerateContentCLI, against the
// Gemini API emulator on 127.0.0.1. scripts/prepare-test-tools installs the CLI.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>

#include "CliTestSupportPosix.h"
#include "cli/CliRequest.h"
#include "core/ApiKeyStats.h"
#include "core/GeminiDM.h"
#include "core/LoopMainThread.h"
#include "tools/gemini-emulator/GeminiEmulator.h"

namespace tarvok {
namespace {

using test::TTempDir;

using test::TScopedEnv;

const std::filesystem::path kToolsBin = std::filesystem::path(TARVOK_NPM_TOOLS_DIR) / "bin";

TEST(RealGeminiCli, AnswersAChatTurnThroughTheEmulator) {
  if (!std::filesystem::exists(kToolsBin / "gemini"))
    GTEST_SKIP() << "\n*** SKIPPED: the real Gemini CLI is not installed in " << kToolsBin.parent_path().string()
                 << ".\n*** scripts/prepare-test-tools installs it with npm; the npm registry was probably not "
                    "reachable (see its warning).";

  emulator::TGeminiEmulator emu;
  emu.Start();
  emulator::TScriptedReply reply;
  reply.SseEvents = {
      R"({"candidates":[{"content":{"parts":[{"text":"\u041f\u0440\u0438\u0432\u0435\u0442, "}],"role":"model"},"index":0}],"usageMetadata":{"promptTokenCount":11,"totalTokenCount":11},"modelVersion":"gemini-2.5-flash"})",
      R"({"candidates":[{"content":{"parts":[{"text":"world!"}],"role":"model"},"finishReason":"STOP","index":0}],"usageMetadata":{"promptTokenCount":11,"candidatesTokenCount":3,"totalTokenCount":14},"modelVersion":"gemini-2.5-flash"})"};
  emu.Enqueue(reply);

  // A private HOME that selects API-key sign-in and turns off everything that would call
  // out (updates, usage statistics, telemetry); any other address goes to a dead local proxy.
  TTempDir home, program;
  home.Write(".gemini/settings.json",
             R"({"security":{"auth":{"selectedType":"gemini-api-key"}},)"
             R"("general":{"enableAutoUpdate":false,"enableAutoUpdateNotification":false},)"
             R"("privacy":{"usageStatisticsEnabled":false},"telemetry":{"enabled":false}})");
  TScopedEnv envHome("HOME", home.Path().string());
  TScopedEnv envKey("GEMINI_API_KEY", "tarvok-test-key");
  TScopedEnv envBase("GOOGLE_GEMINI_BASE_URL", emu.BaseUrl());
  TScopedEnv envProxy("HTTPS_PROXY", "http://127.0.0.1:9");
  TScopedEnv envProxy2("HTTP_PROXY", "http://127.0.0.1:9");
  TScopedEnv envNoProxy("NO_PROXY", "127.0.0.1,localhost");
  test::TPathPrefix path(kToolsBin);
  SetProgramDir(program.Path());

  TLoopMainThread mainThread;
  TGeminiDM dm(mainThread);
  dm.TimeOut1 = 240;
  TContentPart part;
  part.Text = "Hello from Tarvok";
  std::atomic<bool> done = false;
  std::string result;
  TTokenUsage usage;
  GenerateContentCLI(dm, kGeminiCliKey, "gemini-2.5-flash", {part}, false,
                     MakeCallback([&](const std::string& R, const TTokenUsage& U, const TResultFlags&) {
                       result = R;
                       usage = U;
                       done = true;
                     }),
                     true);
  ASSERT_TRUE(mainThread.ProcessUntil([&] { return done.load(); }, std::chrono::seconds(280)));
  SetProgramDir({});

  EXPECT_EQ(result, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, world!");
  EXPECT_EQ(usage, (TTokenUsage{11, 3, 14})) << usage.PromptTokens << "," << usage.CandidatesTokens << ","
                                              << usage.TotalTokens;
  ASSERT_EQ(dm.FChatHistory.size(), 2u);
  EXPECT_EQ(dm.FChatHistory[0].Parts[0].Text, "Hello from Tarvok");
  EXPECT_EQ(dm.FChatHistory[1].Parts[0].Text, result);
  EXPECT_EQ(dm.FChatHistory[1].TokenCount, 3);
  SetProgramDir(program.Path());
  EXPECT_EQ(GetRequestCount(kGeminiCliKey, "gemini-2.5-flash"), 1);
  SetProgramDir({});

  const auto requests = emu.Requests();
  ASSERT_FALSE(requests.empty());
  bool sawPrompt = false;
  for (const auto& r : requests) {
    EXPECT_EQ(r.Header("x-goog-api-key"), "tarvok-test-key") << r.Path;
    if (r.Path.find("gemini-2.5-flash:streamGenerateContent") != std::string::npos &&
        r.Body.find("User: Hello from Tarvok") != std::string::npos)
      sawPrompt = true;
  }
  EXPECT_TRUE(sawPrompt) << "the prompt file did not reach the model";
}

}  // namespace
}  // namespace tarvok
