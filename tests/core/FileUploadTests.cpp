// Big attachments through the Files API, against the emulator on loopback: the resumable
// upload, the state looks, the reference in the body, reuse, expiry, a forgotten file,
// a failed one and a stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "RequestHarness.h"
#include "SampleHistories.h"
#include "core/CoreTexts.h"
#include "core/FileUpload.h"
#include "core/WireFormat.h"

using namespace tarvok;
using tarvok::test::TRequestHarness;

namespace {

constexpr const char* kKey = "TESTKEY-1234567890";
constexpr const char* kModel = "gemini-2.5-flash";

std::string Base64Of(std::string_view ABytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((ABytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < ABytes.size(); i += 3) {
    std::uint32_t v = static_cast<unsigned char>(ABytes[i]) << 16;
    if (i + 1 < ABytes.size()) v |= static_cast<unsigned char>(ABytes[i + 1]) << 8;
    if (i + 2 < ABytes.size()) v |= static_cast<unsigned char>(ABytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < ABytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < ABytes.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

// Base64 as the body carries it: the slash escaped.
std::string AsSent(std::string AText) {
  for (std::size_t at = 0; (at = AText.find('/', at)) != std::string::npos; at += 2) AText.insert(at, "\\");
  return AText;
}

std::string RandomBytes(std::size_t ASize, unsigned ASeed) {
  std::mt19937 rng(ASeed);
  std::string bytes(ASize, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

TContentPart Attachment(const std::string& ABytes, const std::string& AName) {
  TContentPart part = tarvok::test::SampleData("video/mp4", Base64Of(ABytes));
  part.FileName = "/home/u/" + AName;
  return part;
}

std::vector<std::string> Calls(const TRequestHarness& AHarness) {
  std::vector<std::string> calls;
  for (const auto& r : AHarness.Server.Requests()) calls.push_back(r.Method + " " + r.Path);
  return calls;
}

}  // namespace

TEST(Base64Body, DecodesAsItIsReadInPiecesOfAnySize) {
  for (const std::size_t size : {0u, 1u, 2u, 3u, 4u, 5u, 64u, 1000u, 70001u}) {
    const std::string bytes = RandomBytes(size, static_cast<unsigned>(size));
    const std::string base64 = Base64Of(bytes);
    EXPECT_EQ(DecodedBase64Size(base64), size);
    for (const std::size_t piece : {1u, 2u, 7u, 4096u}) {
      TBase64Body body(base64);
      std::string out;
      char buffer[4096];
      while (const std::size_t n = body.Read(buffer, piece)) out.append(buffer, n);
      EXPECT_TRUE(out == bytes) << size << " bytes in pieces of " << piece;
      if (size > 3) {
        ASSERT_TRUE(body.Seek(size - 3));
        EXPECT_EQ(body.Read(buffer, sizeof buffer), 3u);
        EXPECT_EQ(std::string(buffer, 3), bytes.substr(size - 3));
      }
    }
  }
}

// A stored attachment whose data is damaged fails its upload rather than sending other bytes.
TEST(Base64Body, RefusesDataThatIsNotBase64) {
  for (const char* bad : {"QU*DREVG", "QUJDRE*G", "QUJD\nREVG", "QU=DREVG"}) {
    for (const std::size_t piece : {1u, 16u}) {
      TBase64Body body(bad);
      char buffer[16];
      EXPECT_THROW(while (body.Read(buffer, piece)) {}, TRequestError) << bad << " in pieces of " << piece;
    }
  }
}

TEST(Rfc3339, ReadsTheServiceTimes) {
  using namespace std::chrono;
  const auto at = [](long long ASeconds) { return system_clock::time_point(seconds(ASeconds)); };
  EXPECT_EQ(ParseRfc3339("1970-01-01T00:00:00Z"), at(0));
  EXPECT_EQ(ParseRfc3339("2026-12-13T03:50:00.123456Z"), at(1797133800));
  EXPECT_EQ(ParseRfc3339("2026-12-13T05:50:00+02:00"), at(1797133800));
  for (const char* bad : {"", "2026-12-13", "2026-12-13T03:50:00", "2026-13-13T03:50:00Z", "2026-12-13T03:50:00Zx"})
    EXPECT_FALSE(ParseRfc3339(bad)) << bad;
}

// An attachment above the inline limit goes up, is looked at until it is ready, and the
// turn refers to it in a body of a few kilobytes; the next turn reuses the uri.
TEST(FilesApi, ABigAttachmentGoesUpOnceAndIsReferredToByUri) {
  TRequestHarness h(false);
  h.Dm.UseFilesApi = true;
  const std::string bytes = RandomBytes(kInlineDataLimit + 1, 7);
  h.Dm.GenerateContent(kKey, kModel, {h.TextParts("Watch")[0], Attachment(bytes, "clip.mp4")}, false, h.Recorder(), true);
  ASSERT_TRUE(h.WaitForCompletions(1));
  ASSERT_FALSE(h.Completions[0].Failed) << h.Completions[0].Result;
  const auto requests = h.Server.Requests();
  ASSERT_EQ(Calls(h), (std::vector<std::string>{"POST /upload/v1beta/files", "POST /upload/v1beta/files",
                                                "GET /v1beta/files/" + requests[2].Path.substr(14),
                                                "POST /v1beta/models/gemini-2.5-flash:generateContent"}));
  const auto& start = requests[0];
  EXPECT_EQ(start.Query, std::string("key=") + kKey);
  EXPECT_EQ(start.Header("X-Goog-Upload-Protocol"), "resumable");
  EXPECT_EQ(start.Header("X-Goog-Upload-Command"), "start");
  EXPECT_EQ(start.Header("X-Goog-Upload-Header-Content-Length"), std::to_string(bytes.size()));
  EXPECT_EQ(start.Header("X-Goog-Upload-Header-Content-Type"), "video/mp4");
  EXPECT_EQ(start.Body, R"({"file":{"display_name":"clip.mp4"}})");
  EXPECT_EQ(requests[1].Header("X-Goog-Upload-Command"), "upload, finalize");
  EXPECT_EQ(requests[1].Header("X-Goog-Upload-Offset"), "0");
  EXPECT_EQ(requests[1].Header("Content-Type"), "") << "the file's bytes are no form";
  EXPECT_TRUE(requests[1].Body == bytes) << "the bytes decoded from the stored Base64";
  const std::string uri = h.Server.BaseUrl() + "/v1beta/files/" + requests[2].Path.substr(14);
  const std::string escapedUri = AsSent(uri);
  const std::string& body = requests[3].Body;
  EXPECT_LT(body.size(), 4096u);
  EXPECT_NE(body.find(R"({"file_data":{"mime_type":"video\/mp4","file_uri":")" + escapedUri + "\"}}"), std::string::npos) << body;
  EXPECT_EQ(body.find("inline_data"), std::string::npos);
  // The history keeps the data and, beside it, where the service holds it.
  ASSERT_EQ(h.Dm.FChatHistory.size(), 2u);
  const TContentPart& kept = h.Dm.FChatHistory[0].Parts[1];
  EXPECT_EQ(kept.FileUri, uri);
  EXPECT_TRUE(ParseRfc3339(kept.FileExpires));
  EXPECT_EQ(kept.Base64Data.size(), Base64Of(bytes).size());

  h.Server.ClearRequests();
  h.Dm.GenerateContent(kKey, kModel, h.TextParts("And now?"), false, h.Recorder(), true);
  ASSERT_TRUE(h.WaitForCompletions(2));
  EXPECT_FALSE(h.Completions[1].Failed) << h.Completions[1].Result;
  EXPECT_EQ(Calls(h), std::vector<std::string>{"POST /v1beta/models/gemini-2.5-flash:generateContent"}) << "no second upload";
  EXPECT_NE(h.Server.Requests()[0].Body.find(escapedUri), std::string::npos);
  EXPECT_EQ(h.Server.FileCount(), 1u);
}

// Small attachments whose Base64 passes the limit together: the largest goes up until the rest fits.
TEST(FilesApi, TheLargestAttachmentsGoUpUntilTheRestFitsInline) {
  TRequestHarness h(false);
  h.Dm.UseFilesApi = true;
  h.Server.SetInlineDataLimit(kInlineDataLimit);
  const std::string large = RandomBytes(9'000'000, 1), small = RandomBytes(7'000'000, 2), tiny = RandomBytes(10, 3);
  h.Dm.GenerateContent(kKey, kModel, {Attachment(small, "small.mp4"), Attachment(large, "large.mp4"), Attachment(tiny, "tiny.mp4")},
                       false, h.Recorder(), false);
  ASSERT_TRUE(h.WaitForCompletions(1));
  EXPECT_FALSE(h.Completions[0].Failed) << h.Completions[0].Result;
  const auto requests = h.Server.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_TRUE(requests[1].Body == large);
  const std::string& body = requests[3].Body;
  EXPECT_NE(body.find(AsSent(Base64Of(small))), std::string::npos);
  EXPECT_NE(body.find(AsSent(Base64Of(tiny))), std::string::npos);
  EXPECT_EQ(body.find(AsSent(Base64Of(large).substr(0, 1000))), std::string::npos);
}

// With every attachment small enough, the body is byte for byte the one made without the Files API.
TEST(FilesApi, UnusedItChangesNoByte) {
  TRequestHarness h(false);
  h.Dm.UseFilesApi = true;
  const TContentParts parts = {h.TextParts("Look")[0], Attachment(RandomBytes(300000, 4), "small.mp4")};
  TChatHistory sent = {tarvok::test::SampleTurn("user", parts)};
  h.Dm.GenerateContent(kKey, kModel, parts, false, h.Recorder(), false);
  ASSERT_TRUE(h.WaitForCompletions(1));
  ASSERT_EQ(h.Server.Requests().size(), 1u);
  EXPECT_TRUE(h.Server.Requests()[0].Body == BuildChatBody(sent, h.Dm.Settings(), false));
}

// A uri with less than an hour left is not trusted, and a file the service no longer knows
// (404) is sent again once; a file the service could not process fails the request.
TEST(FilesApi, ExpiryForgottenFilesAndFailures) {
  const std::string bytes = RandomBytes(kInlineDataLimit + 10, 9);
  enum class TCase { kExpiresSoon, kForgotten, kFailed };
  for (const TCase c : {TCase::kExpiresSoon, TCase::kForgotten, TCase::kFailed}) {
    SCOPED_TRACE(static_cast<int>(c));
    TRequestHarness h(false);
    h.Dm.UseFilesApi = true;
    if (c == TCase::kExpiresSoon) h.Server.SetFileLifetime(std::chrono::minutes(50));
    if (c == TCase::kFailed) h.Server.SetFileProcessingFails(true);
    h.Dm.GenerateContent(kKey, kModel, {Attachment(bytes, "clip.mp4")}, false, h.Recorder(), true);
    ASSERT_TRUE(h.WaitForCompletions(1));
    if (c == TCase::kFailed) {
      EXPECT_TRUE(h.Completions[0].Failed);
      EXPECT_EQ(h.Completions[0].Result, std::string(texts::kExceptionPrefix) + "TUploadError - the service could not process the file clip.mp4");
      EXPECT_TRUE(h.Dm.FChatHistory.empty());
      EXPECT_EQ(Calls(h).back().substr(0, 18), "GET /v1beta/files/") << "no generate call";
      continue;
    }
    ASSERT_FALSE(h.Completions[0].Failed) << h.Completions[0].Result;
    if (c == TCase::kForgotten) h.Server.ExpireFiles();
    h.Server.ClearRequests();
    h.Dm.GenerateContent(kKey, kModel, h.TextParts("Again"), false, h.Recorder(), true);
    ASSERT_TRUE(h.WaitForCompletions(2));
    EXPECT_FALSE(h.Completions[1].Failed) << h.Completions[1].Result;
    std::vector<std::string> expected = {"POST /upload/v1beta/files", "POST /upload/v1beta/files", "GET", "POST /v1beta/models/gemini-2.5-flash:generateContent"};
    if (c == TCase::kForgotten) expected.insert(expected.begin(), "POST /v1beta/models/gemini-2.5-flash:generateContent");
    auto calls = Calls(h);
    for (auto& call : calls)
      if (call.starts_with("GET")) call = "GET";
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(h.Server.Requests().back().Body.find("inline_data"), std::string::npos);
    EXPECT_EQ(h.Dm.FChatHistory.size(), 4u);
  }
}

// A stop while the service is still processing the file ends the request at once.
TEST(FilesApi, AStopWhileTheFileIsProcessedEndsTheRequest) {
  TRequestHarness h(false);
  h.Dm.UseFilesApi = true;
  h.Server.SetFileProcessingLooks(1000000);
  TRequestOptions options;
  options.Stop = std::make_shared<TStopToken>();
  std::vector<int> percents;
  options.OnUploadProgress = [&](const std::string& AName, int APercent) {
    EXPECT_EQ(AName, "clip.mp4");
    percents.push_back(APercent);
  };
  h.Dm.GenerateContent(kKey, kModel, {Attachment(RandomBytes(kInlineDataLimit + 1, 5), "clip.mp4")}, false, h.Recorder(), true,
                       options);
  ASSERT_TRUE(h.Loop.ProcessUntil([&] {
    const auto calls = Calls(h);
    return calls.size() >= 4 && calls.back().starts_with("GET");
  }));
  options.Stop->Stop();
  ASSERT_TRUE(h.WaitForCompletions(1));
  EXPECT_TRUE(h.Completions[0].Failed);
  EXPECT_TRUE(h.Completions[0].Stopped);
  EXPECT_EQ(h.Completions[0].Result, texts::kStoppedResult);
  EXPECT_TRUE(h.Dm.FChatHistory.empty());
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
}

// The emulator answers an oversized inline request as the service does.
TEST(FilesApi, WithoutItAnOversizedInlineRequestGetsTheServicesRefusal) {
  TRequestHarness h(false);
  h.Server.SetInlineDataLimit(kInlineDataLimit);
  h.Dm.GenerateContent(kKey, kModel, {Attachment(RandomBytes(kInlineDataLimit, 6), "clip.mp4")}, false, h.Recorder(), false);
  ASSERT_TRUE(h.WaitForCompletions(1));
  EXPECT_TRUE(h.Completions[0].Failed);
  EXPECT_NE(h.Completions[0].Result.find("(Код: 400)\r\nОтвет: Request payload size exceeds the limit: 20971520 bytes."),
            std::string::npos)
      << h.Completions[0].Result;
}
