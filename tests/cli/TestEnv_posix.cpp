#include <cstdlib>

#include "CliTestSupport.h"

namespace tarvok::test {

std::string GetEnvVar(const std::string& AName) {
  const char* value = std::getenv(AName.c_str());
  return value ? value : "";
}
void SetEnvVar(const std::string& AName, const std::string& AValue) { ::setenv(AName.c_str(), AValue.c_str(), 1); }
char PathListSeparator() { return ':'; }

}  // namespace tarvok::test
