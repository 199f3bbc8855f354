#include "core/ModelList.h"

#include <simdjson.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "core/ApiAddress.h"
#include "core/CoreTexts.h"
#include "core/HttpTransport.h"
#include "core/WorkerThreads.h"

namespace tarvok {
namespace {

// A service that keeps answering with a next page would otherwise keep the worker forever.
constexpr int kMaxPages = 200;

std::int32_t Limit(simdjson::dom::object AModel, const char* AName) {
  std::int64_t v = 0;
  if (AModel.at_key(AName).get_int64().get(v) != simdjson::SUCCESS || v < 0) return 0;
  return static_cast<std::int32_t>(std::min<std::int64_t>(v, std::numeric_limits<std::int32_t>::max()));
}

TModelListResult FetchAll(const TGeminiSettings& ASettings, const std::string& AApiKey, TStopToken* AStop) {
  TModelListResult result;
  TTransportOptions transport;
  transport.ReadTimeoutSeconds = ASettings.TimeOut1;
  transport.CaInfoFile = ASettings.CaInfoFile;
  transport.Proxy = ASettings.Proxy;
  std::string token;
  std::vector<std::string> seen;
  try {
    for (int page = 0; page < kMaxPages; ++page) {
      THttpRequest request;
      request.Method = "GET";
      request.Url = ModelListUrl(ASettings.GeminiApiUrlBase, AApiKey, token);
      request.ContentType.clear();
      request.Stop = AStop;
      const THttpResponse response = PerformHttp(request, transport);
      std::string next;
      if (!ReadModelListPage(response.Body, result.Models, next)) {
        result.Error = texts::kEmptyAnswer;
        break;
      }
      if (next.empty() || std::find(seen.begin(), seen.end(), next) != seen.end()) break;
      seen.push_back(next);
      token = std::move(next);
    }
  } catch (const TStoppedError&) {
    result.Error = texts::kStoppedResult;
  } catch (const THttpStatusError& e) {
    result.Error = HttpErrorText(e);
  } catch (const TRequestError& e) {
    result.Error = std::string(texts::kExceptionPrefix) + e.TypeName() + " - " + e.what();
  } catch (const std::exception& e) {
    result.Error = std::string(texts::kExceptionPrefix) + "TError - " + e.what();
  }
  if (!result.Error.empty()) {
    result.Models.clear();
    result.Error = RedactApiKey(std::move(result.Error), AApiKey);
  }
  return result;
}

}  // namespace

std::string ModelListUrl(std::string_view AUrlPattern, std::string_view AApiKey, std::string_view APageToken) {
  std::string url = ApiRootOf(AUrlPattern) + "/models?key=" + EncodeQueryValue(AApiKey) + "&pageSize=1000";
  if (!APageToken.empty()) url += "&pageToken=" + EncodeQueryValue(APageToken);
  return url;
}

bool ReadModelListPage(const std::string& ABody, std::vector<TModelInfo>& AModels, std::string& ANextPageToken) {
  ANextPageToken.clear();
  simdjson::dom::parser parser;
  simdjson::dom::object root;
  if (parser.parse(ABody).get_object().get(root) != simdjson::SUCCESS) return false;
  simdjson::dom::array models;
  if (root.at_key("models").get_array().get(models) == simdjson::SUCCESS) {
    for (simdjson::dom::element item : models) {
      simdjson::dom::object model;
      std::string_view name;
      simdjson::dom::array methods;
      if (item.get_object().get(model) != simdjson::SUCCESS || model.at_key("name").get_string().get(name) != simdjson::SUCCESS ||
          model.at_key("supportedGenerationMethods").get_array().get(methods) != simdjson::SUCCESS)
        continue;
      const bool generates = std::any_of(methods.begin(), methods.end(), [](simdjson::dom::element AMethod) {
        std::string_view m;
        return AMethod.get_string().get(m) == simdjson::SUCCESS && m == "generateContent";
      });
      if (name.starts_with("models/")) name.remove_prefix(7);
      if (!generates || name.empty()) continue;
      AModels.push_back({std::string(name), Limit(model, "inputTokenLimit"), Limit(model, "outputTokenLimit")});
    }
  }
  std::string_view next;
  if (root.at_key("nextPageToken").get_string().get(next) == simdjson::SUCCESS) ANextPageToken = std::string(next);
  return true;
}

void FetchModelList(TGeminiDM& AService, const std::string& AApiKey, TStopTokenPtr AStop,
                    std::function<void(const TModelListResult& AResult)> ACompletion) {
  TMainThread& main = AService.MainThread();
  auto completion = std::make_shared<std::function<void(const TModelListResult&)>>(std::move(ACompletion));
  auto job = [settings = AService.Settings(), key = AApiKey, stop = std::move(AStop), &main, completion] {
    auto result = std::make_shared<TModelListResult>(FetchAll(settings, key, stop.get()));
    try {
      main.Queue([result, completion] { (*completion)(*result); });
    } catch (...) {
      // No memory to hand it over: nothing more can be told.
    }
  };
  try {
    TWorkerThreads::Instance().Run(std::move(job));
  } catch (const std::exception&) {
    TModelListResult failed;
    failed.Error = std::string(texts::kExceptionPrefix) + "TThreadError - a worker thread could not be started";
    (*completion)(failed);
  }
}

}  // namespace tarvok
