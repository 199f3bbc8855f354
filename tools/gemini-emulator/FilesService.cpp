#include "tools/gemini-emulator/FilesService.h"

#include <simdjson.h>

#include <ctime>

#include "tools/gemini-emulator/DefaultReplies.h"
#include "tools/gemini-emulator/ServiceJson.h"

namespace tarvok::emulator {
namespace {

constexpr std::string_view kUploadPath = "/upload/v1beta/files";
constexpr std::string_view kFilesPath = "/v1beta/files/";

TScriptedReply ErrorReply(int ACode, std::string_view AMessage, std::string_view AStatus) {
  TScriptedReply reply;
  reply.Status = ACode;
  reply.Body = ServiceErrorBody(ACode, AMessage, AStatus);
  return reply;
}

std::string Rfc3339(std::chrono::system_clock::time_point AWhen) {
  const std::time_t t = std::chrono::system_clock::to_time_t(AWhen);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000000Z", &utc);
  return text;
}

// Every file_data part's uri of a generate call, and the inline data's size.
void ReadParts(simdjson::dom::element ADoc, std::vector<std::string>& AUris, std::size_t& AInline) {
  simdjson::dom::array contents;
  if (ADoc["contents"].get_array().get(contents) != simdjson::SUCCESS) return;
  for (simdjson::dom::element content : contents) {
    simdjson::dom::array parts;
    if (content["parts"].get_array().get(parts) != simdjson::SUCCESS) continue;
    for (simdjson::dom::element part : parts) {
      simdjson::dom::object data;
      std::string_view text;
      if (part["file_data"].get_object().get(data) == simdjson::SUCCESS ||
          part["fileData"].get_object().get(data) == simdjson::SUCCESS) {
        if (data["file_uri"].get_string().get(text) == simdjson::SUCCESS ||
            data["fileUri"].get_string().get(text) == simdjson::SUCCESS)
          AUris.emplace_back(text);
      } else if (part["inline_data"].get_object().get(data) == simdjson::SUCCESS ||
                 part["inlineData"].get_object().get(data) == simdjson::SUCCESS) {
        if (data["data"].get_string().get(text) == simdjson::SUCCESS) AInline += text.size();
      }
    }
  }
}

}  // namespace

std::optional<TScriptedReply> TFilesService::Handle(const TRecordedRequest& ARequest, std::string_view ADecodedPath,
                                                    const std::string& ABaseUrl) {
  const bool upload = ADecodedPath == kUploadPath;
  const bool look = ADecodedPath.starts_with(kFilesPath) && ARequest.Method == "GET";
  if (!upload && !look) return std::nullopt;
  const auto uploadId = QueryParam(ARequest.Query, "upload_id");
  if (!HasApiKey(ARequest) && !uploadId)
    return ErrorReply(403, "Method doesn't allow unregistered callers (callers without established identity). "
                           "Please use API key or other form of API consumer identity to call this API.",
                      "PERMISSION_DENIED");
  std::lock_guard lock(FLock);
  if (look) {
    const std::string name = "files/" + std::string(ADecodedPath.substr(kFilesPath.size()));
    const auto file = FFiles.find(name);
    if (file == FFiles.end() || file->second.Expires <= std::chrono::system_clock::now())
      return ErrorReply(404, "File " + name.substr(6) + " is not found.", "NOT_FOUND");
    if (file->second.LooksLeft > 0) --file->second.LooksLeft;
    TScriptedReply reply;
    reply.Body = FileJson(file->second);
    return reply;
  }
  if (ARequest.Method != "POST") return ErrorReply(405, "Method not allowed.", "INVALID_ARGUMENT");
  const std::string command = ARequest.Header("X-Goog-Upload-Command");
  if (!uploadId) {
    if (ARequest.Header("X-Goog-Upload-Protocol") != "resumable" || command != "start")
      return ErrorReply(400, "Upload protocol or command missing.", "INVALID_ARGUMENT");
    TUpload next;
    next.MimeType = ARequest.Header("X-Goog-Upload-Header-Content-Type");
    try {
      next.Length = std::stoull(ARequest.Header("X-Goog-Upload-Header-Content-Length"));
    } catch (...) {
      return ErrorReply(400, "X-Goog-Upload-Header-Content-Length is missing.", "INVALID_ARGUMENT");
    }
    simdjson::dom::parser parser;
    std::string_view display;
    if (parser.parse(ARequest.Body)["file"]["display_name"].get_string().get(display) == simdjson::SUCCESS)
      next.DisplayName = std::string(display);
    const std::string id = "upload-" + std::to_string(++FNextId);
    FUploads[id] = next;
    TScriptedReply reply;
    reply.Body = "";
    reply.Headers = {{"X-Goog-Upload-Status", "active"},
                     {"X-Goog-Upload-URL", ABaseUrl + std::string(kUploadPath) + "?upload_id=" + id + "&upload_protocol=resumable"},
                     {"X-Goog-Upload-Chunk-Granularity", "8388608"}};
    return reply;
  }
  const auto pending = FUploads.find(*uploadId);
  if (pending == FUploads.end()) return ErrorReply(404, "Upload " + *uploadId + " is not found.", "NOT_FOUND");
  if (command != "upload, finalize" || ARequest.Header("X-Goog-Upload-Offset") != "0")
    return ErrorReply(400, "Only a whole upload at offset 0 is taken.", "INVALID_ARGUMENT");
  if (ARequest.Body.size() != pending->second.Length)
    return ErrorReply(400, "The upload's size differs from the size announced.", "INVALID_ARGUMENT");
  TFile file;
  const std::string id = "f" + std::to_string(++FNextId) + "x" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 100000);
  file.Name = "files/" + id;
  file.DisplayName = pending->second.DisplayName;
  file.MimeType = pending->second.MimeType;
  file.Uri = ABaseUrl + std::string(kFilesPath) + id;
  file.Size = ARequest.Body.size();
  if (FKeepBytes) file.Bytes = ARequest.Body;
  file.Expires = std::chrono::system_clock::now() + FLifetime;
  file.LooksLeft = FProcessingLooks;
  file.Failed = FFailProcessing;
  FUploads.erase(pending);
  TScriptedReply reply;
  reply.Headers = {{"X-Goog-Upload-Status", "final"}};
  reply.Body = "{\n  \"file\": " + FileJson(file) + "}\n";
  FFiles[file.Name] = std::move(file);
  return reply;
}

std::string TFilesService::FileJson(const TFile& AFile) const {
  const char* state = AFile.LooksLeft > 0 ? "PROCESSING" : AFile.Failed ? "FAILED" : "ACTIVE";
  TServiceJson out;
  out.BeginObject()
      .Member("name", AFile.Name)
      .Member("displayName", AFile.DisplayName)
      .Member("mimeType", AFile.MimeType)
      .Member("sizeBytes", std::to_string(AFile.Size))
      .Member("expirationTime", Rfc3339(AFile.Expires))
      .Member("uri", AFile.Uri)
      .Member("state", state)
      .EndObject();
  return out.Take() + "\n";
}

bool TFilesService::Known(const std::string& AUri) {
  for (const auto& [name, file] : FFiles)
    if (file.Uri == AUri) return file.Expires > std::chrono::system_clock::now() && !file.Failed && file.LooksLeft == 0;
  return false;
}

std::optional<TScriptedReply> TFilesService::CheckGenerate(const TRecordedRequest& ARequest) {
  {
    // Nothing to check before any upload or limit: a large body is not parsed twice.
    std::lock_guard lock(FLock);
    if (FNextId == 0 && FInlineLimit == 0) return std::nullopt;
  }
  simdjson::dom::parser parser;
  simdjson::dom::element doc;
  if (parser.parse(ARequest.Body).get(doc) != simdjson::SUCCESS) return std::nullopt;
  std::vector<std::string> uris;
  std::size_t inlineBytes = 0;
  ReadParts(doc, uris, inlineBytes);
  std::lock_guard lock(FLock);
  if (FInlineLimit > 0 && inlineBytes > FInlineLimit)
    return ErrorReply(400, "Request payload size exceeds the limit: " + std::to_string(FInlineLimit) + " bytes.",
                      "INVALID_ARGUMENT");
  for (const std::string& uri : uris)
    if (!Known(uri)) return ErrorReply(404, "File " + uri.substr(uri.rfind('/') + 1) + " is not found.", "NOT_FOUND");
  return std::nullopt;
}

void TFilesService::SetProcessingLooks(int ALooks) {
  std::lock_guard lock(FLock);
  FProcessingLooks = ALooks;
}

void TFilesService::SetFailProcessing(bool AFail) {
  std::lock_guard lock(FLock);
  FFailProcessing = AFail;
}

void TFilesService::SetLifetime(std::chrono::seconds ALifetime) {
  std::lock_guard lock(FLock);
  FLifetime = ALifetime;
}

void TFilesService::SetInlineDataLimit(std::size_t ABytes) {
  std::lock_guard lock(FLock);
  FInlineLimit = ABytes;
}

void TFilesService::SetKeepBytes(bool AKeep) {
  std::lock_guard lock(FLock);
  FKeepBytes = AKeep;
}

void TFilesService::ExpireAll() {
  std::lock_guard lock(FLock);
  FFiles.clear();
}

std::size_t TFilesService::FileCount() const {
  std::lock_guard lock(FLock);
  return FFiles.size();
}

std::string TFilesService::FileBytes(const std::string& AName) const {
  std::lock_guard lock(FLock);
  const auto file = FFiles.find(AName);
  return file == FFiles.end() ? std::string() : file->second.Bytes;
}

}  // namespace tarvok::emulator
