#include "core/FileUpload.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>

#include "core/ApiAddress.h"
#include "core/DateTime.h"
#include "core/JsonWriter.h"
#include "core/Platform.h"
#include "core/Text.h"

namespace tarvok {
namespace {

// Waits AFor, or less when the request is stopped (then raises TStoppedError).
void WaitOrStop(TStopToken* AStop, std::chrono::milliseconds AFor) {
  if (!AStop) return;
  std::mutex lock;
  std::condition_variable woken;
  const int wake = AStop->AddWake([&] {
    std::lock_guard guard(lock);
    woken.notify_all();
  });
  {
    std::unique_lock guard(lock);
    woken.wait_for(guard, AFor, [&] { return AStop->IsStopped(); });
  }
  AStop->RemoveWake(wake);
  if (AStop->IsStopped()) throw TStoppedError{};
}

struct TFileState {
  std::string Name, Uri, State, Expires;
};

// The file object of an answer: the upload's {"file":{...}} or the state's {...}.
TFileState ReadFileState(const std::string& ABody) {
  simdjson::dom::parser parser;
  const simdjson::padded_string padded(MakeValidUtf8(ABody));
  simdjson::dom::element doc;
  simdjson::dom::object file;
  if (parser.parse(padded).get(doc) != simdjson::SUCCESS || !doc.is_object())
    throw TRequestError("TUploadError", "the service's answer about the file is not JSON");
  if (doc["file"].get_object().get(file) != simdjson::SUCCESS && doc.get_object().get(file) != simdjson::SUCCESS)
    throw TRequestError("TUploadError", "the service's answer names no file");
  TFileState state;
  auto text = [&](const char* AName, std::string& AOut) {
    std::string_view value;
    if (file[AName].get_string().get(value) == simdjson::SUCCESS) AOut = std::string(value);
  };
  text("name", state.Name);
  text("uri", state.Uri);
  text("state", state.State);
  text("expirationTime", state.Expires);
  if (state.Name.empty() || state.Uri.empty())
    throw TRequestError("TUploadError", "the service's answer names no file");
  return state;
}

std::string DisplayNameOf(const TContentPart& APart) {
  if (APart.FileName.empty()) return "attachment";
  const std::string name = PathToUtf8(PathFromUtf8(APart.FileName).filename());
  return name.empty() ? std::string("attachment") : name;
}

}  // namespace

std::uint64_t DecodedBase64Size(std::string_view ABase64) {
  std::size_t n = ABase64.size();
  while (n > 0 && ABase64[n - 1] == '=') --n;
  return static_cast<std::uint64_t>(n) / 4 * 3 + (n % 4 == 0 ? 0 : n % 4 - 1);
}

std::size_t TBase64Body::Read(char* ADest, std::size_t AMax) {
  // The digits' values by character (-1: not a digit), looked up without a branch.
  static const std::array<std::int8_t, 256> kDigits = [] {
    std::array<std::int8_t, 256> t{};
    for (int c = 0; c < 256; ++c) t[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(Base64DigitValue(static_cast<unsigned char>(c)));
    return t;
  }();
  std::size_t written = 0;
  const std::uint64_t lastGroup = FSize == 0 ? 0 : (FSize - 1) / 3;
  // Byte by byte until AUntil bytes are written: the group that holds the next byte decoded
  // whole; in the last group "=" and the missing end of unpadded data read as zero bits.
  auto careful = [&](std::size_t AUntil) {
    while (written < AUntil && FAt < FSize) {
      const std::size_t at = static_cast<std::size_t>(FAt / 3 * 4);
      const bool last = FAt / 3 == lastGroup;
      std::uint32_t bits = 0;
      for (std::size_t i = at; i < at + 4; ++i) {
        const char c = i < FBase64.size() ? FBase64[i] : '=';
        const int v = c == '=' && last ? 0 : kDigits[static_cast<unsigned char>(c)];
        if (v < 0) throw TRequestError("TUploadError", "the attachment's data is not Base64");
        bits = (bits << 6) | static_cast<std::uint32_t>(v);
      }
      for (std::uint64_t k = FAt % 3; k < 3 && written < AUntil && FAt < FSize; ++k, ++FAt)
        ADest[written++] = static_cast<char>(bits >> (16 - 8 * k));
    }
  };
  // libcurl's buffer is no multiple of three: a read that begins inside a group finishes it first.
  if (FAt % 3 != 0) careful(std::min<std::size_t>(AMax, static_cast<std::size_t>(3 - FAt % 3)));
  // Then whole groups straight into the buffer, four digits to three bytes, so a file of
  // hundreds of megabytes is decoded at the pace libcurl sends it. Every group but the
  // last is four digits; the last, which may hold "=", goes the careful way.
  if (FAt % 3 == 0) {
    std::uint64_t group = FAt / 3;
    const auto* in = reinterpret_cast<const unsigned char*>(FBase64.data()) + group * 4;
    while (written + 3 <= AMax && group < lastGroup) {
      const int a = kDigits[in[0]], b = kDigits[in[1]], c = kDigits[in[2]], d = kDigits[in[3]];
      if ((a | b | c | d) < 0) throw TRequestError("TUploadError", "the attachment's data is not Base64");
      const auto bits = static_cast<std::uint32_t>(a << 18 | b << 12 | c << 6 | d);
      ADest[written] = static_cast<char>(bits >> 16);
      ADest[written + 1] = static_cast<char>(bits >> 8);
      ADest[written + 2] = static_cast<char>(bits);
      written += 3;
      in += 4;
      ++group;
    }
    FAt = group * 3;
  }
  careful(AMax);
  return written;
}

bool TBase64Body::Seek(std::uint64_t AOffset) {
  if (AOffset > FSize) return false;
  FAt = AOffset;
  return true;
}

std::optional<std::chrono::system_clock::time_point> ParseRfc3339(std::string_view AText) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  auto digits = [&](std::size_t AAt, std::size_t ACount, int& AOut) {
    if (AAt + ACount > AText.size()) return false;
    AOut = 0;
    for (std::size_t i = AAt; i < AAt + ACount; ++i) {
      if (AText[i] < '0' || AText[i] > '9') return false;
      AOut = AOut * 10 + (AText[i] - '0');
    }
    return true;
  };
  if (!digits(0, 4, y) || AText.size() < 20 || AText[4] != '-' || !digits(5, 2, mo) || AText[7] != '-' ||
      !digits(8, 2, d) || (AText[10] != 'T' && AText[10] != 't') || !digits(11, 2, h) || AText[13] != ':' ||
      !digits(14, 2, mi) || AText[16] != ':' || !digits(17, 2, s) || mo < 1 || mo > 12 || d < 1 || d > 31)
    return std::nullopt;
  std::size_t at = 19;
  if (at < AText.size() && AText[at] == '.') {
    ++at;
    while (at < AText.size() && AText[at] >= '0' && AText[at] <= '9') ++at;
  }
  long long offsetSeconds = 0;
  if (at < AText.size() && (AText[at] == 'Z' || AText[at] == 'z')) {
    ++at;
  } else if (at < AText.size() && (AText[at] == '+' || AText[at] == '-')) {
    int oh = 0, om = 0;
    if (!digits(at + 1, 2, oh) || at + 3 >= AText.size() || AText[at + 3] != ':' || !digits(at + 4, 2, om))
      return std::nullopt;
    offsetSeconds = (AText[at] == '+' ? 1 : -1) * (oh * 3600LL + om * 60LL);
    at += 6;
  } else {
    return std::nullopt;
  }
  if (at != AText.size()) return std::nullopt;
  const long long seconds = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400LL +
                            h * 3600LL + mi * 60LL + s - offsetSeconds;
  return std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
}

TUploadedFile UploadAttachment(const TContentPart& APart, const TUploadContext& AContext) {
  const std::string name = DisplayNameOf(APart);
  const std::uint64_t size = DecodedBase64Size(APart.Base64Data.view());
  if (size > kMaxUploadBytes) throw TRequestError("TFileTooLarge", "the file " + name + " is larger than 2 GB");

  // The upload's start: what is coming, and where to send it.
  std::string announce;
  TJsonWriter w(announce);
  w.BeginObject().Key("file").BeginObject().Key("display_name").String(name).EndObject().EndObject();
  TStringBody announceBody(std::move(announce));
  THttpRequest start;
  start.Url = UploadRootOf(AContext.UrlPattern) + "/files?key=" + AContext.ApiKey;
  start.Headers = {"X-Goog-Upload-Protocol: resumable", "X-Goog-Upload-Command: start",
                   "X-Goog-Upload-Header-Content-Length: " + std::to_string(size),
                   "X-Goog-Upload-Header-Content-Type: " + APart.MimeType};
  start.Body = &announceBody;
  start.Stop = AContext.Stop;
  const std::string uploadUrl = PerformHttp(start, AContext.Transport).Header("X-Goog-Upload-URL");
  if (uploadUrl.empty()) throw TRequestError("TUploadError", "the service gave no address for the upload");

  // The bytes, decoded from the stored Base64 as they go.
  TBase64Body bytes(APart.Base64Data.view());
  THttpRequest put;
  put.Url = uploadUrl;
  put.ContentType.clear();
  put.Headers = {"X-Goog-Upload-Command: upload, finalize", "X-Goog-Upload-Offset: 0"};
  put.Body = &bytes;
  put.Stop = AContext.Stop;
  if (AContext.OnProgress) {
    put.OnProgress = [&](std::uint64_t ASent, std::uint64_t ATotal) {
      AContext.OnProgress(name, static_cast<int>(ATotal == 0 ? 100 : ASent * 100 / ATotal));
    };
  }
  TFileState state = ReadFileState(PerformHttp(put, AContext.Transport).Body);

  // The service may take a while over a video; it is looked at until it is ready.
  const auto startedAt = std::chrono::steady_clock::now();
  std::chrono::milliseconds gap = AContext.FirstLookGap;
  bool firstLook = true;
  while (state.State != "ACTIVE") {
    if (state.State == "FAILED") throw TRequestError("TUploadError", "the service could not process the file " + name);
    if (std::chrono::steady_clock::now() - startedAt > AContext.ProcessingLimit)
      throw TRequestError("TTimeoutError", "the service did not finish processing the file " + name);
    if (!firstLook) {
      WaitOrStop(AContext.Stop, gap);
      gap = std::min(gap * 2, AContext.LongestLookGap);
    }
    firstLook = false;
    THttpRequest look;
    look.Method = "GET";
    look.Url = ApiRootOf(AContext.UrlPattern) + "/" + state.Name + "?key=" + AContext.ApiKey;
    look.Stop = AContext.Stop;
    state = ReadFileState(PerformHttp(look, AContext.Transport).Body);
  }
  return {APart.Base64Data, state.Uri, state.Expires};
}

TFilePartsPlan PrepareFileParts(TChatHistory& AHistory, const TUploadContext& AContext, bool AReuploadReused,
                                std::chrono::system_clock::time_point ANow) {
  struct TCandidate {
    TContentPart* Part;
    bool Must;
  };
  TFilePartsPlan plan;
  std::vector<TCandidate> candidates;
  std::uint64_t inlineBytes = 0;
  for (THistoryItem& item : AHistory) {
    for (TContentPart& part : item.Parts) {
      if (part.PartType != TPartType::ptInlineData || part.Base64Data.empty()) continue;
      bool must = DecodedBase64Size(part.Base64Data.view()) > kInlineDataLimit;
      if (!part.FileUri.empty()) {
        const auto expires = ParseRfc3339(part.FileExpires);
        if (!AReuploadReused && expires && *expires - ANow >= std::chrono::hours(1)) {
          ++plan.Reused;
          continue;
        }
        // Gone or about to go: sent again from the stored data.
        part.FileUri.clear();
        part.FileExpires.clear();
        must = true;
      }
      candidates.push_back({&part, must});
      if (!must) inlineBytes += part.Base64Data.size();
    }
  }
  // The largest first, until what stays inline fits.
  std::stable_sort(candidates.begin(), candidates.end(), [](const TCandidate& A, const TCandidate& B) {
    return A.Part->Base64Data.size() > B.Part->Base64Data.size();
  });
  for (TCandidate& c : candidates) {
    if (c.Must || inlineBytes <= kInlineDataLimit) continue;
    c.Must = true;
    inlineBytes -= c.Part->Base64Data.size();
  }
  for (const TCandidate& c : candidates) {
    if (!c.Must) continue;
    TUploadedFile file = UploadAttachment(*c.Part, AContext);
    c.Part->FileUri = file.Uri;
    c.Part->FileExpires = file.Expires;
    plan.Uploaded.push_back(std::move(file));
  }
  return plan;
}

}  // namespace tarvok
