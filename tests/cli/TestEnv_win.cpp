#include <windows.h>

#include "CliTestSupport.h"
#include "core/Text.h"

namespace tarvok::test {
namespace {

std::wstring Wide(const std::string& AUtf8) {
  const std::u16string text = Utf8ToUtf16(AUtf8);
  return std::wstring(text.begin(), text.end());
}

}  // namespace

// The process's own environment block: what CreateProcessW hands to children.
std::string GetEnvVar(const std::string& AName) {
  const std::wstring name = Wide(AName);
  const DWORD size = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (size == 0) return "";
  std::wstring value(size, L'\0');
  value.resize(::GetEnvironmentVariableW(name.c_str(), value.data(), size));
  return Utf16ToUtf8(std::u16string(value.begin(), value.end()));
}
void SetEnvVar(const std::string& AName, const std::string& AValue) {
  ::SetEnvironmentVariableW(Wide(AName).c_str(), Wide(AValue).c_str());
}
char PathListSeparator() { return ';'; }

}  // namespace tarvok::test
