#include <cstdlib>
#include <map>
#include <optional>

#include "core/ProxyEnvironment.h"

namespace tarvok {

void SetProxyEnvironment(const std::string& AProxy) {
  static const char* const kNames[] = {"HTTPS_PROXY", "HTTP_PROXY", "ALL_PROXY", "https_proxy", "http_proxy", "all_proxy"};
  // The values the process started with, taken before the first change.
  static std::map<std::string, std::optional<std::string>> original;
  // Nothing set by us yet: the environment is the user's own, left alone.
  static bool applied = false;
  if (AProxy.empty() && !applied) return;
  applied = !AProxy.empty();
  if (original.empty())
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      original[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
  for (const char* name : kNames) {
    if (!AProxy.empty()) ::setenv(name, AProxy.c_str(), 1);
    else if (original[name]) ::setenv(name, original[name]->c_str(), 1);
    else ::unsetenv(name);
  }
}

}  // namespace tarvok
