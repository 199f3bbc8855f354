#include "core/ProxyAddress.h"

#include <cctype>

namespace tarvok {
namespace {

std::string Lower(std::string_view AText) {
  std::string out(AText);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string PercentDecoded(std::string_view AText) {
  std::string out;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    if (AText[i] == '%' && i + 2 < AText.size() && std::isxdigit(static_cast<unsigned char>(AText[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(AText[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(AText.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += AText[i];
    }
  }
  return out;
}

void ReplaceAll(std::string& AText, const std::string& AWhat) {
  if (AWhat.empty()) return;
  for (std::size_t at = AText.find(AWhat); at != std::string::npos; at = AText.find(AWhat, at + 3))
    AText.replace(at, AWhat.size(), "***");
}

bool Fail(std::string* AError, const char* AText) {
  if (AError) *AError = AText;
  return false;
}

}  // namespace

bool ParseProxyUrl(std::string_view AUrl, TProxyAddress* AOut, std::string* AError) {
  TProxyAddress a;
  const auto sep = AUrl.find("://");
  if (sep == std::string_view::npos)
    return Fail(AError, "адрес должен начинаться с http://, https://, socks5:// или socks5h://");
  a.Scheme = Lower(AUrl.substr(0, sep));
  if (a.Scheme != "http" && a.Scheme != "https" && a.Scheme != "socks5" && a.Scheme != "socks5h")
    return Fail(AError, "адрес должен начинаться с http://, https://, socks5:// или socks5h://");
  std::string_view rest = AUrl.substr(sep + 3);
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find_first_of("/?# \t") != std::string_view::npos)
    return Fail(AError, "нужны только узел и порт, без пути");
  const auto at = rest.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view credentials = rest.substr(0, at);
    const auto colon = credentials.find(':');
    a.User = PercentDecoded(credentials.substr(0, colon));
    if (colon != std::string_view::npos) a.Password = PercentDecoded(credentials.substr(colon + 1));
    if (a.User.empty()) return Fail(AError, "перед @ нужно имя пользователя");
    rest = rest.substr(at + 1);
  }
  std::string_view host = rest;
  if (!host.empty() && host.front() == '[') {
    const auto close = host.find(']');
    if (close == std::string_view::npos) return Fail(AError, "не закрыта скобка адреса IPv6");
    a.Host = std::string(host.substr(0, close + 1));
    host = host.substr(close + 1);
    if (!host.empty() && host.front() != ':') return Fail(AError, "после адреса IPv6 может стоять только порт");
  } else {
    const auto colon = host.rfind(':');
    a.Host = std::string(host.substr(0, colon));
    host = colon == std::string_view::npos ? std::string_view() : host.substr(colon);
  }
  if (a.Host.empty()) return Fail(AError, "не указан узел");
  if (!host.empty()) {
    const std::string_view port = host.substr(1);
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos ||
        std::stoi(std::string(port)) < 1 || std::stoi(std::string(port)) > 65535)
      return Fail(AError, "порт должен быть числом от 1 до 65535");
    a.Port = std::stoi(std::string(port));
  }
  if (AOut) *AOut = std::move(a);
  return true;
}

std::string MaskedProxyUrl(std::string_view AUrl) {
  TProxyAddress a;
  if (!ParseProxyUrl(AUrl, &a, nullptr)) return "***";
  std::string out = a.Scheme + "://";
  if (!a.User.empty()) out += a.User + (a.Password.empty() ? "" : ":***") + "@";
  out += a.Host;
  if (a.Port > 0) out += ":" + std::to_string(a.Port);
  return out;
}

std::string RedactProxyPassword(std::string AText, std::string_view AProxyUrl) {
  TProxyAddress a;
  if (!ParseProxyUrl(AProxyUrl, &a, nullptr) || a.Password.empty()) return AText;
  const auto at = AProxyUrl.rfind('@');
  const std::string_view credentials = AProxyUrl.substr(AProxyUrl.find("://") + 3, at - AProxyUrl.find("://") - 3);
  ReplaceAll(AText, std::string(credentials.substr(credentials.find(':') + 1)));
  ReplaceAll(AText, a.Password);
  return AText;
}

}  // namespace tarvok
