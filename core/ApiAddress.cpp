#include "core/ApiAddress.h"

namespace tarvok {
namespace {

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

void AppendEncoded(std::string& AOut, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  AOut += '%';
  AOut += kHex[c >> 4];
  AOut += kHex[c & 15];
}

}  // namespace

std::string ApiRootOf(std::string_view AUrlPattern) {
  const std::size_t models = AUrlPattern.find("/models/");
  if (models != std::string_view::npos) return std::string(AUrlPattern.substr(0, models));
  const std::size_t placeholder = AUrlPattern.find('%');
  const std::string_view head = AUrlPattern.substr(0, placeholder);
  const std::size_t slash = head.rfind('/');
  const std::size_t scheme = head.find("://");
  // Never the "//" of the scheme: a pattern without a path has the bare host as its root.
  if (slash == std::string_view::npos || (scheme != std::string_view::npos && slash <= scheme + 2))
    return std::string(head);
  return std::string(head.substr(0, slash));
}

std::string UploadRootOf(std::string_view AUrlPattern) {
  const std::string root = ApiRootOf(AUrlPattern);
  const std::size_t scheme = root.find("://");
  const std::size_t pathAt = root.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  if (pathAt == std::string::npos) return root + "/upload";
  return root.substr(0, pathAt) + "/upload" + root.substr(pathAt);
}

std::string EncodePathSegment(std::string_view AText) {
  std::string out;
  out.reserve(AText.size());
  const bool dotsOnly = !AText.empty() && AText.find_first_not_of('.') == std::string_view::npos && AText.size() <= 2;
  for (const char ch : AText) {
    const auto c = static_cast<unsigned char>(ch);
    if (Unreserved(c) && !(dotsOnly && c == '.')) out += ch;
    else AppendEncoded(out, c);
  }
  return out;
}

std::string EncodeQueryValue(std::string_view AText) {
  std::string out;
  out.reserve(AText.size());
  for (const char ch : AText) {
    const auto c = static_cast<unsigned char>(ch);
    if (Unreserved(c)) out += ch;
    else AppendEncoded(out, c);
  }
  return out;
}

}  // namespace tarvok
