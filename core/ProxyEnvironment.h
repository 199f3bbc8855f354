#pragma once
// A proxy the user set reaches the programs Tarvok starts (the Gemini CLI) as the usual
// proxy variables; with the setting empty, the variables are what the process started with.

#include <string>

namespace tarvok {

// Sets HTTPS_PROXY, HTTP_PROXY and ALL_PROXY (and their lower-case forms) to AProxy, or puts
// back their values from before the first call when AProxy is empty, for the programs started
// from then on (Tarvok's own environment is left as it is). Main thread only.
void SetProxyEnvironment(const std::string& AProxy);

}  // namespace tarvok
