// The Windows side of the platform functions, against the real system calls.
#include <windows.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/Platform.h"

namespace tarvok {
namespace {

// Sets an environment variable of this process for the test's lifetime.
class TScopedEnv {
 public:
  TScopedEnv(const wchar_t* AName, const std::wstring& AValue) : FName(AName) {
    wchar_t old[32768];
    const DWORD size = ::GetEnvironmentVariableW(AName, old, 32768);
    if (size > 0 && size < 32768) FOld = std::wstring(old, size), FHad = true;
    ::SetEnvironmentVariableW(AName, AValue.c_str());
  }
  ~TScopedEnv() { ::SetEnvironmentVariableW(FName, FHad ? FOld.c_str() : nullptr); }

 private:
  const wchar_t* FName;
  std::wstring FOld;
  bool FHad = false;
};

TEST(WindowsPlatform, LegacyCodePageIsTheAnsiCodePage) {
  if (::GetACP() != 1251) GTEST_SKIP() << "needs a Russian system locale (ANSI code page 1251), not " << ::GetACP();
  EXPECT_EQ(DecodeLegacyCodePage("\xCF\xF0\xE8\xE2\xE5\xF2, \xB8\xEB\xEA\xE0 1"), "Привет, ёлка 1");
  EXPECT_EQ(EncodeLegacyCodePage("Привет, ёлка 1"), "\xCF\xF0\xE8\xE2\xE5\xF2, \xB8\xEB\xEA\xE0 1");
  EXPECT_EQ(EncodeLegacyCodePage("日本 ok"), "?? ok");
}

TEST(WindowsPlatform, TempDirIsInItsLongNameForm) {
  const std::filesystem::path base = TempDir();
  const std::filesystem::path longDir = base / ("tarvok long folder name " + std::to_string(std::random_device{}()));
  ASSERT_TRUE(std::filesystem::create_directory(longDir));
  wchar_t shortName[MAX_PATH];
  const DWORD length = ::GetShortPathNameW(longDir.c_str(), shortName, MAX_PATH);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
  ASSERT_NE(std::wstring(shortName), longDir.wstring()) << "no 8.3 name here to test with";
  {
    // GetTempPathW hands back TMP as it stands, short names and all.
    TScopedEnv tmp(L"TMP", shortName), temp(L"TEMP", shortName);
    EXPECT_EQ((TempDir() / "x").wstring(), (longDir / "x").wstring());
  }
  std::filesystem::remove(longDir);
}

}  // namespace
}  // namespace tarvok
