#pragma once
// A minimal libcurl client for talking to the emulator in tests.

#include <curl/curl.h>

#include <string>
#include <utility>
#include <vector>

namespace tarvok::emulator::test {

struct TCurlResult {
  CURLcode Code = CURLE_OK;
  long Status = 0;
  std::string ContentType;
  std::string Body;
};

struct TCurlOptions {
  std::string Method = "POST";
  std::vector<std::string> Headers;
  std::string CaFile;        // empty: the system's trust store
  long TimeoutMs = 30000;
};

inline TCurlResult CurlRequest(const std::string& AUrl, const std::string& ABody,
                               const TCurlOptions& AOptions = {}) {
  TCurlResult result;
  CURL* curl = curl_easy_init();
  curl_slist* headers = nullptr;
  for (const std::string& h : AOptions.Headers) headers = curl_slist_append(headers, h.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, AUrl.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, AOptions.TimeoutMs);
  if (AOptions.Method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, ABody.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ABody.size()));
  } else if (AOptions.Method != "GET") {
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, AOptions.Method.c_str());
  }
  if (headers) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  if (!AOptions.CaFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, AOptions.CaFile.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* AData, size_t, size_t ASize, void* ATarget) {
    static_cast<std::string*>(ATarget)->append(AData, ASize);
    return ASize;
  });
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.Body);
  result.Code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.Status);
  char* type = nullptr;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type) result.ContentType = type;
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return result;
}

}  // namespace tarvok::emulator::test
