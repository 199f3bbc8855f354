#include "storage/Attachments.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>
#include <utility>

#include "core/Files.h"
#include "core/Platform.h"
#include "core/Text.h"
#include "core/TextAttachment.h"
#include "core/TokenEstimate.h"
#include "storage/Base64.h"

namespace tarvok {
namespace {

// Extension (lower case, dot included) to the MIME type the service accepts.
constexpr std::pair<std::string_view, std::string_view> kMimeTypes[] = {
    {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},
    {".png", "image/png"},
    {".webp", "image/webp"},
    {".heic", "image/heic"},
    {".heif", "image/heif"},
    {".wav", "audio/wav"},
    {".mp3", "audio/mp3"},
    {".aiff", "audio/aiff"},
    {".aac", "audio/aac"},
    {".ogg", "audio/ogg"},
    {".flac", "audio/flac"},
    {".mp4", "video/mp4"},
    {".mpeg", "video/mpeg"},
    {".mov", "video/mov"},
    {".avi", "video/avi"},
    {".x-flv", "video/x-flv"},
    {".mpg", "video/mpg"},
    {".webm", "video/webm"},
    {".wmv", "video/wmv"},
    {".3gpp", "video/3gpp"},
    {".txt", "text/plain"},
    {".json", "text/plain"},
    {".pas", "text/plain"},
    {".dfm", "text/plain"},
    {".log", "text/plain"},
    {".sh", "text/plain"},
    {".yaml", "text/plain"},
    {".yml", "text/plain"},
    {".toml", "text/plain"},
    {".ini", "text/plain"},
    {".env", "text/plain"},
    {".sql", "text/plain"},
    {".makefile", "text/plain"},
    {".cmake", "text/plain"},
    {".dockerfile", "text/plain"},
    {".dockerignore", "text/plain"},
    {".tf", "text/plain"},
    {".tfvars", "text/plain"},
    {".jsx", "text/plain"},
    {".vue", "text/plain"},
    {".svelte", "text/plain"},
    {".scss", "text/plain"},
    {".sass", "text/plain"},
    {".less", "text/plain"},
    {".pl", "text/plain"},
    {".lua", "text/plain"},
    {".vbs", "text/plain"},
    {".bas", "text/plain"},
    {".cob", "text/plain"},
    {".f90", "text/plain"},
    {".properties", "text/plain"},
    {".asciidoc", "text/plain"},
    {".adoc", "text/plain"},
    {".creole", "text/plain"},
    {".docbook", "text/plain"},
    {".rst", "text/plain"},
    {".tex", "text/plain"},
    {".conf", "text/plain"},
    {".cfg", "text/plain"},
    {".bash", "text/plain"},
    {".zsh", "text/plain"},
    {".ksh", "text/plain"},
    {".md", "text/markdown"},
    {".csv", "text/csv"},
    {".tsv", "text/tab-separated-values"},
    {".xml", "text/xml"},
    {".html", "text/html"},
    {".htm", "text/html"},
    {".css", "text/css"},
    {".js", "text/javascript"},
    {".ts", "text/x-typescript"},
    {".py", "text/x-python"},
    {".java", "text/x-java"},
    {".cpp", "text/x-c++src"},
    {".c", "text/x-csrc"},
    {".rb", "text/x-ruby"},
    {".php", "text/x-php"},
    {".rtf", "text/rtf"},
    {".pdf", "application/pdf"},
    {".docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {".xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {".pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
};

// A whole number of 3-byte groups.
constexpr std::size_t kFilePieceBytes = 3 * 1024 * 1024;

bool IsRegularFile(const std::string& name) {
  if (name.empty()) return false;
  // Folders, pipes and devices count as missing: opening a pipe would block the window.
  std::error_code ec;
  return std::filesystem::is_regular_file(PathFromUtf8(name), ec);
}

}  // namespace

std::string GetMimeTypeFromFileExt(std::string_view AFileName) {
  const std::size_t sep = AFileName.find_last_of("/\\");
  const std::string_view name = sep == std::string_view::npos ? AFileName : AFileName.substr(sep + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string ext(name.substr(dot));
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  for (const auto& [e, mime] : kMimeTypes)
    if (e == ext) return std::string(mime);
  return {};
}

bool IsTextMimeType(std::string_view AMimeType) {
  if (AMimeType.size() < 5) return false;
  std::string head(AMimeType.substr(0, 5));
  for (char& c : head)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return head == "text/";
}

std::string FileToBase64(const std::string& AFileName, std::string& ASanitizedText) {
  ASanitizedText.clear();
  if (!IsRegularFile(AFileName)) return {};
  if (IsTextMimeType(GetMimeTypeFromFileExt(AFileName))) {
    ASanitizedText = SanitizeTextFile(AFileName);
    return Base64Encode(ASanitizedText);
  }
  // Read and encoded piece by piece: a video of a gigabyte is then held once, as its
  // Base64, and never beside a whole copy of its bytes.
  std::ifstream in(PathFromUtf8(AFileName), std::ios::binary);
  if (!in) throw TFileError("Не удалось открыть файл " + AFileName);
  std::string out;
  try {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(PathFromUtf8(AFileName), ec);
    if (!ec) out.reserve(Base64EncodedLength(static_cast<std::size_t>(size)));
    std::string piece(kFilePieceBytes, '\0');
    while (in) {
      in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
      const auto got = static_cast<std::size_t>(in.gcount());
      // Every piece but the last is a whole number of 3-byte groups, so the pieces'
      // encodings join into the file's.
      if (got > 0) Base64EncodeAppend(out, std::string_view(piece.data(), got));
    }
  } catch (const std::bad_alloc&) {
    throw TFileError("Не удалось открыть файл " + AFileName);  // no memory for it: as unreadable
  }
  if (in.bad()) throw TFileError("Не удалось открыть файл " + AFileName);
  return out;
}

bool DeleteFileFromHistory(TChatHistory& AHistory, std::int32_t& ATokens, int AMessageIndex,
                           const std::string& AFileName) {
  if (AMessageIndex < 0 || static_cast<std::size_t>(AMessageIndex) >= AHistory.size()) return false;
  THistoryItem& item = AHistory[static_cast<std::size_t>(AMessageIndex)];
  TContentParts kept;
  kept.reserve(item.Parts.size());
  for (const TContentPart& part : item.Parts)
    if (part.PartType != TPartType::ptInlineData || part.FileName != AFileName) kept.push_back(part);
  if (kept.size() == item.Parts.size()) return false;
  const bool hasContent = std::any_of(kept.begin(), kept.end(), [](const TContentPart& p) {
    return p.PartType == TPartType::ptInlineData || !Trim(p.Text).empty();
  });
  if (hasContent) {
    item.Parts = std::move(kept);
    item.TokenCount = CountTokens(item.Parts);
  } else {
    AHistory.erase(AHistory.begin() + AMessageIndex);
  }
  ATokens = CountTokensForHistory(AHistory);
  return true;
}

bool DeleteFileFromHistory(TGeminiDM& AService, int AMessageIndex, const std::string& AFileName) {
  return DeleteFileFromHistory(AService.FChatHistory, AService.FActualHistoryTokens, AMessageIndex, AFileName);
}

}  // namespace tarvok
