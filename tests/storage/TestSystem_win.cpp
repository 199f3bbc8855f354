#include <windows.h>

#include "TestFolder.h"

namespace tarvok::test {

bool RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace tarvok::test
