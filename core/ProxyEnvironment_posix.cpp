#include "core/ChildEnvironment.h"
#include "core/ProxyEnvironment.h"

namespace tarvok {

void SetProxyEnvironment(const std::string& AProxy) {
  static const char* const kNames[] = {"HTTPS_PROXY", "HTTP_PROXY", "ALL_PROXY", "https_proxy", "http_proxy", "all_proxy"};
  for (const char* name : kNames)
    SetChildVariable(name, AProxy.empty() ? std::nullopt : std::optional<std::string>(AProxy));
}

}  // namespace tarvok
