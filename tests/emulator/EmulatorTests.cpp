// The emulator's scripted transport behaviour, seen through a real libcurl client.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>

#include "tests/emulator/CurlClient.h"
#include "tools/gemini-emulator/GeminiEmulator.h"

namespace tarvok::emulator {
namespace {

using test::CurlRequest;
using test::TCurlOptions;

class EmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override { FEmu.Start(); }
  std::string Url(const std::string& AModel = "gemini-2.5-flash", const std::string& AMethod = "generateContent",
                  const std::string& AKey = "k") const {
    char buf[512];
    std::snprintf(buf, sizeof buf, FEmu.UrlPattern().c_str(), AModel.c_str(), AMethod.c_str());
    return buf + AKey;
  }
  TGeminiEmulator FEmu;
};

TEST_F(EmulatorTest, ScriptedRepliesAreSentAsGivenAndInOrder) {
  struct {
    const char* Name;
    TScriptedReply Reply;
    const char* Method;
  } rows[] = {
      {"ok json", {200, R"({"candidates":[]})"}, "generateContent"},
      {"429 from the stream method", {429, R"({"error":{"code":429}})"}, "streamGenerateContent"},
      {"400 plain text", {400, "not json", "text/plain"}, "generateContent"},
      {"500 after a delay", {500, "{}", "application/json; charset=UTF-8", 50}, "generateContent"},
      {"200 empty body", {200, ""}, "generateContent"},
  };
  for (auto& row : rows) FEmu.Enqueue(row.Reply);
  // A count-tokens call in between must not take a scripted reply.
  EXPECT_EQ(CurlRequest(Url("m", "countTokens"), R"({"contents":[{"parts":[{"text":"a"}]}]})").Status, 200);
  for (auto& row : rows) {
    SCOPED_TRACE(row.Name);
    const auto r = CurlRequest(Url("m", row.Method), "{}");
    EXPECT_EQ(r.Code, CURLE_OK);
    EXPECT_EQ(r.Status, row.Reply.Status);
    EXPECT_EQ(r.Body, row.Reply.Body);
    EXPECT_EQ(r.ContentType, row.Reply.ContentType);
  }
  EXPECT_EQ(FEmu.QueuedReplies(), 0u);
}

TEST_F(EmulatorTest, RecordsExactBodyQueryAndHeaders) {
  const std::string body = std::string("{\"text\":\"\xD0\xB0\\r\\n\"}\r\n\0\xFF tail", 24);
  TCurlOptions options;
  options.Headers = {"x-goog-api-key: secret", "Content-Type: application/json"};
  const std::string url = FEmu.BaseUrl() + "/v1beta/models/gemini-2.5-flash:streamGenerateContent?alt=sse&x=%2F";
  ASSERT_EQ(CurlRequest(url, body, options).Code, CURLE_OK);
  ASSERT_TRUE(FEmu.WaitForRequests(1, std::chrono::seconds(10)));
  const auto requests = FEmu.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const TRecordedRequest& r = requests[0];
  EXPECT_EQ(r.Method, "POST");
  EXPECT_EQ(r.Path, "/v1beta/models/gemini-2.5-flash:streamGenerateContent");
  EXPECT_EQ(r.Query, "alt=sse&x=%2F");
  EXPECT_EQ(r.Body, body);
  EXPECT_EQ(r.Header("X-Goog-Api-Key"), "secret");
  EXPECT_EQ(r.Header("content-type"), "application/json");
  EXPECT_TRUE(r.Header("REMOTE_ADDR").empty());
}

TEST_F(EmulatorTest, SseEventsAreFramedLikeTheRecordedStream) {
  // Replaying the events of a recorded stream must give back its bytes exactly.
  const std::string recorded = ReadFixture("07-stream-text.sse");
  TScriptedReply reply;
  for (std::size_t start = 0; start < recorded.size();) {
    const std::size_t end = recorded.find("\r\n\r\n", start);
    ASSERT_NE(end, std::string::npos);
    reply.SseEvents.push_back(recorded.substr(start + 6, end - start - 6));  // without "data: "
    start = end + 4;
  }
  ASSERT_EQ(reply.SseEvents.size(), 3u);
  FEmu.Enqueue(reply);
  const auto r = CurlRequest(Url("m", "streamGenerateContent") + "&alt=sse", "{}");
  EXPECT_EQ(r.Code, CURLE_OK);
  EXPECT_EQ(r.Status, 200);
  EXPECT_EQ(r.ContentType, "text/event-stream");
  EXPECT_EQ(r.Body, recorded);
}

TEST_F(EmulatorTest, DroppedConnectionIsAnErrorForTheClient) {
  struct {
    const char* Name;
    TScriptedReply Reply;
    std::string Received;
  } rows[] = {
      {"mid body", {.Body = std::string(100, 'x'), .CloseAfterBytes = 10}, std::string(10, 'x')},
      {"right after the headers", {.Body = "{\"a\":1}", .CloseAfterBytes = 0}, ""},
      {"mid stream", {.CloseAfterBytes = 12, .SseEvents = {"{\"a\":1}", "{\"b\":2}"}}, "data: {\"a\":1"},
  };
  for (auto& row : rows) {
    SCOPED_TRACE(row.Name);
    FEmu.Enqueue(row.Reply);
    const auto r = CurlRequest(Url(), "{}");
    EXPECT_NE(r.Code, CURLE_OK);
    EXPECT_EQ(r.Body, row.Received);
  }
  // The server itself keeps serving.
  EXPECT_EQ(CurlRequest(Url(), R"({"contents":[{"parts":[{"text":"a"}]}]})").Status, 200);
}

TEST_F(EmulatorTest, StallOutlivesTheClientTimeoutAndDoesNotHoldUpStop) {
  struct {
    const char* Name;
    TScriptedReply Reply;
  } rows[] = {
      {"stall after headers", {.Body = "{}", .StallMs = 600000}},
      {"stall after part of the body", {.Body = "{\"long\":1}", .CloseAfterBytes = 3, .StallMs = 600000}},
      {"stall in a stream", {.StallMs = 600000, .SseEvents = {"{}"}}},
      {"delay before answering", {.Body = "{}", .DelayMs = 600000}},
  };
  TCurlOptions options;
  options.TimeoutMs = 300;
  for (auto& row : rows) {
    SCOPED_TRACE(row.Name);
    FEmu.Enqueue(row.Reply);
    EXPECT_EQ(CurlRequest(Url(), "{}", options).Code, CURLE_OPERATION_TIMEDOUT);
  }
  // Leave one handler stalled while stopping; the test's time-out catches a stop that waits it out.
  FEmu.Enqueue({.Body = "{}", .StallMs = 600000});
  std::thread client([this] { CurlRequest(Url(), "{}"); });
  ASSERT_TRUE(FEmu.WaitForRequests(std::size(rows) + 1, std::chrono::seconds(10)));
  FEmu.Stop();
  client.join();
}

TEST_F(EmulatorTest, LargeBodyArrivesWhole) {
  // Many write slices, each page marked with its number, so a lost or repeated slice shows.
  constexpr std::size_t kSize = 64u << 20, kPage = 4096;
  std::string body(kSize, '.');
  for (std::size_t i = 0; i < kSize; i += kPage) body[i] = static_cast<char>(i / kPage);
  FEmu.Enqueue({.Body = std::move(body), .ContentType = "application/octet-stream"});
  const auto r = CurlRequest(Url(), "{}");
  ASSERT_EQ(r.Code, CURLE_OK);
  ASSERT_EQ(r.Body.size(), kSize);
  for (std::size_t i = 0; i < kSize; i += kPage) {
    ASSERT_EQ(r.Body[i], static_cast<char>(i / kPage)) << "page at " << i;
    ASSERT_EQ(r.Body[i + 1], '.') << "page at " << i;
  }
}

// Resident memory of this process (Linux), in bytes.
std::size_t ResidentBytes() {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  std::size_t kb = 0;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmRSS: %zu kB", &kb) == 1) break;
  std::fclose(f);
  return kb * 1024;
}

// Benchmarks and the demo post hundreds of megabytes to a program that records every
// request without its body: what it does not record, it must not keep either.
TEST_F(EmulatorTest, ABodyNotRecordedIsNotKept) {
  FEmu.SetRecordBodies(false);
  constexpr std::size_t kSize = 40u << 20;
  constexpr int kPosts = 5;
  const std::string body(kSize, 'x');
  const std::size_t before = ResidentBytes();
  for (int i = 0; i < kPosts; ++i) ASSERT_EQ(CurlRequest(Url(), body).Code, CURLE_OK);
  ASSERT_EQ(FEmu.Requests().size(), static_cast<std::size_t>(kPosts));
  EXPECT_LT(ResidentBytes() - before, 2 * kSize) << "every body of " << kPosts << " posts kept";
}

TEST(EmulatorTls, ServesWithItsCaAndFailsWithoutIt) {
  auto owner = std::make_unique<TGeminiEmulator>(true);
  TGeminiEmulator& emu = *owner;
  emu.Start();
  ASSERT_EQ(emu.BaseUrl().rfind("https://127.0.0.1:", 0), 0u);
  const std::string url = emu.BaseUrl() + "/v1beta/models/m:generateContent?key=k";
  const std::string body = R"({"contents":[{"role":"user","parts":[{"text":"hi"}]}]})";

  TCurlOptions trusted;
  trusted.CaFile = emu.CaCertFile();
  const auto ok = CurlRequest(url, body, trusted);
  EXPECT_EQ(ok.Code, CURLE_OK);
  EXPECT_EQ(ok.Status, 200);

  const auto refused = CurlRequest(url, body);
  EXPECT_EQ(refused.Code, CURLE_PEER_FAILED_VERIFICATION) << curl_easy_strerror(refused.Code);
  EXPECT_EQ(emu.Requests().size(), 1u);

  // The temporary certificate folder goes with the emulator.
  const std::filesystem::path ca = emu.CaCertFile();
  ASSERT_TRUE(std::filesystem::exists(ca));
  owner.reset();
  EXPECT_FALSE(std::filesystem::exists(ca.parent_path()));
}

TEST(EmulatorProgram, PrintsItsUrlServesAndEndsOnSigterm) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    execl(GEMINI_EMULATOR_EXE, GEMINI_EMULATOR_EXE, "--print-port", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  // A failed assertion below must not leave the server running.
  std::unique_ptr<void, std::function<void(void*)>> reaper(reinterpret_cast<void*>(1), [pid](void*) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  });
  FILE* lines = fdopen(out[0], "r");
  char first[256] = {}, second[64] = {};
  ASSERT_TRUE(fgets(first, sizeof first, lines));
  ASSERT_TRUE(fgets(second, sizeof second, lines));
  std::string base(first);
  ASSERT_EQ(base.rfind("listening http://127.0.0.1:", 0), 0u) << base;
  base = base.substr(10, base.size() - 11);
  EXPECT_EQ(base, "http://127.0.0.1:" + std::to_string(std::atoi(second)));

  const auto r = CurlRequest(base + "/v1beta/models/gemini-2.5-flash:generateContent?key=k",
                             R"({"contents":[{"role":"user","parts":[{"text":"hi"}]}]})");
  EXPECT_EQ(r.Status, 200);
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  reaper.release();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  fclose(lines);
}

}  // namespace
}  // namespace tarvok::emulator
