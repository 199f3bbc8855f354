#pragma once
// The proxy setting: "scheme://[user[:password]@]host[:port]" with the schemes libcurl and
// the Gemini CLI both take (http, https, socks5, socks5h). Its password is a secret: every
// text the user or a log may see shows it masked.

#include <string>
#include <string_view>

namespace tarvok {

struct TProxyAddress {
  std::string Scheme;  // lower case
  std::string User;
  std::string Password;
  std::string Host;
  int Port = 0;  // 0: the scheme's usual port
};

// False, with the reason in Russian in AError, for anything but such an address.
bool ParseProxyUrl(std::string_view AUrl, TProxyAddress* AOut, std::string* AError);
// The address with its password shown as "***" (as the API key is); anything that does not
// parse is shown as "***" whole, since it may be a password typed into the wrong place.
std::string MaskedProxyUrl(std::string_view AUrl);
// AText with the proxy's password (as written, and percent-decoded) masked.
std::string RedactProxyPassword(std::string AText, std::string_view AProxyUrl);

}  // namespace tarvok
