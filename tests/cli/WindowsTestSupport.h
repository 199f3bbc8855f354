#pragma once
// Helpers of the Windows-only CLI tests.
#include <windows.h>

#include <filesystem>
#include <string>

#include "core/Platform.h"

namespace tarvok::test {

// Where the test child program (TestChild_win.cpp) lies: beside the test program.
inline std::filesystem::path TestChildPath() {
  wchar_t self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  return std::filesystem::path(std::wstring(self, length)).parent_path() / TARVOK_TEST_CHILD;
}

// The child's command line start: its full path in quotes.
inline std::string TestChild() { return "\"" + PathToUtf8(TestChildPath()) + "\""; }

// Wine differs from Windows in a few places the tests know of.
inline bool RunningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace tarvok::test
