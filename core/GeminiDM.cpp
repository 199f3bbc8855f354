#include "core/GeminiDM.h"

#include <simdjson.h>

#include "core/CoreTexts.h"
#include "core/DateTime.h"
#include "core/RequestThread.h"
#include "core/Text.h"

namespace tarvok {
namespace {

// The model's turn made from a result text: a picture when the text is a JSON object
// with a "mime_type" member, the text itself otherwise.
TContentPart ModelPartFrom(const std::string& AResult) {
  const std::string_view trimmed = Trim(AResult);
  if (trimmed.starts_with('{')) {
    simdjson::dom::parser parser;
    simdjson::dom::object obj;
    if (parser.parse(AResult).get_object().get(obj) == simdjson::SUCCESS) {
      simdjson::dom::element mime;
      if (obj.at_key("mime_type").get(mime) == simdjson::SUCCESS) {
        TContentPart part;
        part.PartType = TPartType::ptInlineData;
        std::string_view s;
        if (mime.get_string().get(s) == simdjson::SUCCESS) part.MimeType = std::string(s);
        if (obj.at_key("base64_data").get_string().get(s) == simdjson::SUCCESS) part.Base64Data = TSharedText(s);
        return part;
      }
    }
  }
  TContentPart part;
  part.Text = AResult;
  return part;
}

THistoryItem ModelItemFrom(const std::string& AResult, const TTokenUsage& AUsage) {
  THistoryItem item;
  item.Role = "model";
  item.Parts.push_back(ModelPartFrom(AResult));
  item.Timestamp = Now();
  item.TokenCount = AUsage.CandidatesTokens > 0 ? AUsage.CandidatesTokens : CountTokens(item.Parts);
  return item;
}

}  // namespace

bool IsRestFailureResult(std::string_view AResult) {
  for (const char* prefix : {texts::kFailErrorUpper, texts::kFailError, texts::kFailException, texts::kRateLimitMarker})
    if (StartsWithNoCase(AResult, prefix)) return true;
  return false;
}

TGeminiDM::TGeminiDM(TMainThread& AMainThread) : FMainThread(AMainThread) { DataModuleCreate(); }

void TGeminiDM::DataModuleCreate() {
  FChatHistory.clear();
  FActualHistoryTokens = 0;
  MaxInputTextLength = 30020;
  MaxFilesPerRequest = 16;
  MaxContextTokens = 124000;
  Temperature = 0.2;
  TopK = 1;
  TopP = 1.0;
  MaxOutputTokens = 500000;
  GeminiApiUrlBase = kDefaultGeminiApiUrlBase;
  MethodGenerate = "generateContent";
  TimeOut1 = 0;
}

void TGeminiDM::ClearHistory() {
  FChatHistory.clear();
  FActualHistoryTokens = 0;
}

TGeminiSettings TGeminiDM::Settings() const {
  TGeminiSettings s;
  s.GeminiApiUrlBase = GeminiApiUrlBase;
  s.MethodGenerate = MethodGenerate;
  s.TimeOut1 = TimeOut1;
  s.Temperature = Temperature;
  s.TopK = TopK;
  s.TopP = TopP;
  s.MaxOutputTokens = MaxOutputTokens;
  s.CaInfoFile = CaInfoFile;
  s.Proxy = Proxy;
  return s;
}

bool TGeminiDM::TrimHistoryToTokenLimit(const TChatHistory& AFullHistory, const TContentParts& ANewUserParts,
                                        int AMaxTokens, TChatHistory& ASentHistory) {
  ASentHistory.clear();
  long long used = CountTokens(ANewUserParts);
  std::size_t first = AFullHistory.size();
  bool leftOut = false;
  while (first > 0) {
    const THistoryItem& item = AFullHistory[first - 1];
    if (used + item.TokenCount > AMaxTokens) { leftOut = true; break; }
    used += item.TokenCount;
    --first;
  }
  // The kept run is copied in one go, oldest first; the parts' data is shared, not copied.
  ASentHistory.assign(AFullHistory.begin() + static_cast<std::ptrdiff_t>(first), AFullHistory.end());
  return leftOut;
}

void TGeminiDM::GenerateContent(const std::string& AApiKey, const std::string& AModelName, const TContentParts& AParts,
                                bool AUseGoogleSearch, TStringCallback ACallback, bool AAddToHistory,
                                const TRequestOptions& AOptions) {
  THistoryItem userItem;
  userItem.Role = "user";
  userItem.Parts = AParts;
  userItem.Timestamp = Now();
  userItem.TokenCount = CountTokens(AParts);

  TChatHistory historyToSend;
  TrimHistoryToTokenLimit(FChatHistory, AParts, MaxContextTokens, historyToSend);
  // What the completion needs of the history sent: the estimates of the turns before the new one.
  long long earlierEstimates = 0;
  for (const THistoryItem& item : historyToSend) earlierEstimates += item.TokenCount;
  historyToSend.push_back(userItem);

  TChatHistory fullHistoryBeforeRequest;
  if (AAddToHistory) {
    fullHistoryBeforeRequest = FChatHistory;
    FChatHistory.push_back(std::move(userItem));
    FActualHistoryTokens = CountTokensForHistory(FChatHistory);
  }

  auto completion = MakeCallback([this, ACallback, AAddToHistory, earlierEstimates,
                                  snapshot = std::move(fullHistoryBeforeRequest)](
                                     const std::string& R, const TTokenUsage& U, const TResultFlags& AFlags) {
    if (AAddToHistory) {
      if (AFlags.Failed) {
        FChatHistory = snapshot;
      } else {
        FChatHistory.push_back(ModelItemFrom(R, U));
        if (U.PromptTokens > 0) {
          const long long d = U.PromptTokens - earlierEstimates;
          if (FChatHistory.size() >= 2 && d > 0) FChatHistory[FChatHistory.size() - 2].TokenCount = static_cast<std::int32_t>(d);
        }
      }
      FActualHistoryTokens = CountTokensForHistory(FChatHistory);
    }
    if (ACallback && *ACallback) (*ACallback)(R, U, AFlags);
  });
  TGeminiRequestThread::Create(AApiKey, AModelName, std::move(historyToSend), AUseGoogleSearch, *this,
                               std::move(completion), AOptions);
}

void TGeminiDM::GenerateImage(const std::string& AApiKey, const std::string& AModelName, const std::string& APrompt,
                              TStringCallback ACallback, const TRequestOptions& AOptions) {
  THistoryItem userItem;
  userItem.Role = "user";
  TContentPart part;
  part.Text = APrompt + texts::kImageRequestSuffix;
  userItem.Parts.push_back(std::move(part));
  userItem.Timestamp = Now();
  userItem.TokenCount = CountTokens(userItem.Parts);

  TChatHistory fullHistoryBeforeRequest = FChatHistory;
  FChatHistory.push_back(std::move(userItem));
  FActualHistoryTokens = CountTokensForHistory(FChatHistory);

  auto completion = MakeCallback([this, ACallback, snapshot = std::move(fullHistoryBeforeRequest)](
                                     const std::string& R, const TTokenUsage& U, const TResultFlags& AFlags) {
    if (AFlags.Failed) {
      FChatHistory = snapshot;
    } else {
      FChatHistory.push_back(ModelItemFrom(R, U));
      // Nothing but the prompt was sent, so the reported prompt count is the turn's own.
      if (U.PromptTokens > 0 && FChatHistory.size() >= 2) FChatHistory[FChatHistory.size() - 2].TokenCount = U.PromptTokens;
    }
    FActualHistoryTokens = CountTokensForHistory(FChatHistory);
    if (ACallback && *ACallback) (*ACallback)(R, U, AFlags);
  });
  TRequestOptions options;
  options.Stop = AOptions.Stop;  // a picture is never streamed
  TGeminiRequestThread::CreateForImage(AApiKey, AModelName, APrompt, *this, std::move(completion), options);
}

}  // namespace tarvok
