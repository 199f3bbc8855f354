#include <windows.h>

#include <map>
#include <optional>
#include <string>

#include "core/ProxyEnvironment.h"

namespace tarvok {
namespace {

std::wstring Wide(const std::string& AText) {
  if (AText.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), out.data(), size);
  return out;
}

}  // namespace

void SetProxyEnvironment(const std::string& AProxy) {
  // Windows names are not case-sensitive: one of each.
  static const wchar_t* const kNames[] = {L"HTTPS_PROXY", L"HTTP_PROXY", L"ALL_PROXY"};
  static std::map<std::wstring, std::optional<std::wstring>> original;
  // Nothing set by us yet: the environment is the user's own, left alone.
  static bool applied = false;
  if (AProxy.empty() && !applied) return;
  applied = !AProxy.empty();
  if (original.empty())
    for (const wchar_t* name : kNames) {
      wchar_t buffer[32767];
      const DWORD size = ::GetEnvironmentVariableW(name, buffer, 32767);
      original[name] = size > 0 ? std::optional<std::wstring>(std::wstring(buffer, size)) : std::nullopt;
    }
  const std::wstring proxy = Wide(AProxy);
  for (const wchar_t* name : kNames) {
    if (!AProxy.empty()) ::SetEnvironmentVariableW(name, proxy.c_str());
    else ::SetEnvironmentVariableW(name, original[name] ? original[name]->c_str() : nullptr);
  }
}

}  // namespace tarvok
