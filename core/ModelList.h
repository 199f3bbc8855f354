#pragma once
// The service's model list: GET {API root}/models, page after page, kept to the models
// that generate content, with their token limits.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/GeminiDM.h"
#include "core/StopToken.h"

namespace tarvok {

struct TModelInfo {
  std::string Name;  // without "models/"
  std::int32_t InputTokenLimit = 0;
  std::int32_t OutputTokenLimit = 0;
  friend bool operator==(const TModelInfo&, const TModelInfo&) = default;
};

// The address of one page: {API root}/models?key=K&pageSize=1000, and &pageToken=T after
// the first page. The key and the token are encoded as query values.
std::string ModelListUrl(std::string_view AUrlPattern, std::string_view AApiKey, std::string_view APageToken);

// One page's models whose supportedGenerationMethods hold "generateContent", in the
// service's order, and the next page's token (empty on the last page). False when the
// body is no JSON object; odd entries are skipped.
bool ReadModelListPage(const std::string& ABody, std::vector<TModelInfo>& AModels, std::string& ANextPageToken);

struct TModelListResult {
  std::vector<TModelInfo> Models;
  // The failure as a request's failure reads ("Ошибка HTTP: ...", "Исключение: ..."); empty on success.
  std::string Error;
};

// Fetches every page on a worker thread, through the one transport, with the service's
// address, time-out, proxy and TLS settings copied now. ACompletion runs once on the main
// thread (not at all when the main thread has gone). AStop, when given, ends the fetch early.
void FetchModelList(TGeminiDM& AService, const std::string& AApiKey, TStopTokenPtr AStop,
                    std::function<void(const TModelListResult& AResult)> ACompletion);

}  // namespace tarvok
