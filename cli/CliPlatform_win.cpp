// Windows side of the CLI backend: cmd.exe command line, batch scripts shown in their own
// console windows, the registry's Path values.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdlib>
#include <algorithm>
#include <cwchar>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

#include "cli/CliEnvironment.h"
#include "cli/CliRequest.h"
#include "cli/CliSetup.h"
#include "cli/ConsoleRunner.h"
#include "cli/PrivateFiles.h"
#include "core/Files.h"
#include "core/Platform.h"
#include "core/Text.h"

namespace tarvok {
namespace {

std::wstring Wide(const std::string& AUtf8) {
  const std::u16string text = Utf8ToUtf16(AUtf8);
  return std::wstring(text.begin(), text.end());
}
std::string Narrow(const std::wstring& AText) { return Utf16ToUtf8(std::u16string(AText.begin(), AText.end())); }

// The console that runs a batch file ends with it, so the process is the whole wait.
std::string RunScriptAndWaitWindows(const std::filesystem::path& AScript, const std::filesystem::path& /*ADone*/,
                                    int /*ALimitSeconds*/) {
  const std::wstring file = AScript.wstring();
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExW(&info)) return SystemErrorMessage(::GetLastError());
  if (info.hProcess) {
    ::WaitForSingleObject(info.hProcess, INFINITE);
    ::CloseHandle(info.hProcess);
  }
  return "";
}

// nullopt when the key does not open; "" when it has no Path value. A Path that is not a
// string value raises, which ends the setup task.
std::optional<std::string> ReadRegistryPath(HKEY ARoot, const wchar_t* AKey) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(ARoot, AKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  std::string result;
  DWORD type = 0, size = 0;
  LSTATUS status = ::RegQueryValueExW(key, L"Path", nullptr, &type, nullptr, &size);
  if (status == ERROR_SUCCESS) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      ::RegCloseKey(key);
      throw std::runtime_error("Path is not a string value");
    }
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    status = ::RegQueryValueExW(key, L"Path", nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    if (status == ERROR_SUCCESS) {
      value.resize(wcsnlen(value.c_str(), value.size()));  // raw text: %...% stays unexpanded
      result = Narrow(value);
    }
  }
  ::RegCloseKey(key);
  return result;
}

void RefreshPathFromRegistry() {
  const auto machine =
      ReadRegistryPath(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");
  const auto user = ReadRegistryPath(HKEY_CURRENT_USER, L"Environment");
  if (const auto merged = MergeRegistryPath(machine, user)) ::SetEnvironmentVariableW(L"PATH", Wide(*merged).c_str());
}

void OpenAuthConsoleWindows() {
  const std::wstring parameters = Wide(AuthConsoleParametersWindows());
  ::ShellExecuteW(nullptr, L"open", L"cmd.exe", parameters.c_str(), nullptr, SW_SHOWNORMAL);
}

}  // namespace

namespace {

// The current user's security identifier as text ("S-1-5-21-..."), "" when unknown.
std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return L"";
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size ? size : 1);
  std::wstring result;
  if (::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    wchar_t* text = nullptr;
    if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
      result = text;
      ::LocalFree(text);
    }
  }
  ::CloseHandle(token);
  return result;
}

// Owner-only rights, handed down to everything made inside, not widened by the parent's.
struct TPrivateSecurity {
  SECURITY_ATTRIBUTES Attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
  TPrivateSecurity() {
    const std::wstring sid = CurrentUserSid();
    if (sid.empty()) return;
    const std::wstring sddl = L"D:P(A;OICI;FA;;;" + sid + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
      Attributes.lpSecurityDescriptor = descriptor;
  }
  ~TPrivateSecurity() {
    if (Attributes.lpSecurityDescriptor) ::LocalFree(Attributes.lpSecurityDescriptor);
  }
  TPrivateSecurity(const TPrivateSecurity&) = delete;
  TPrivateSecurity& operator=(const TPrivateSecurity&) = delete;
};

// ERROR_DISK_QUOTA_EXCEEDED, which this toolchain's headers lack.
constexpr DWORD kDiskQuotaExceeded = 1295;

bool IsNoSpace(DWORD AError) {
  return AError == ERROR_DISK_FULL || AError == ERROR_HANDLE_DISK_FULL || AError == kDiskQuotaExceeded;
}

}  // namespace

// %TEMP% is the user's own on Windows; the folder itself gets owner-only rights as well.
std::filesystem::path UserPrivateFolder(std::uintmax_t /*ANeedBytes*/) { return UserDiskPrivateFolder(); }

std::filesystem::path UserDiskPrivateFolder() {
  const std::filesystem::path folder = TempDir() / "tarvok";
  TPrivateSecurity security;
  if (::CreateDirectoryW(folder.c_str(), &security.Attributes)) return folder;
  const DWORD error = ::GetLastError();
  if (error != ERROR_ALREADY_EXISTS)
    throw TFileError("cannot create " + PathToUtf8(folder) + ": " + SystemErrorMessage(error));
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    throw TFileError("refusing " + PathToUtf8(folder) + ": not a folder of this user");
  return folder;
}

std::vector<std::filesystem::path> ExistingUserPrivateFolders() {
  const std::filesystem::path folder = TempDir() / "tarvok";
  if (IsPrivateFolderOfOurs(folder)) return {folder};
  return {};
}

// A real folder (no junction or link) whose every allowing entry is the current user's (or
// the system's).
bool IsPrivateFolderOfOurs(const std::filesystem::path& APath) {
  const DWORD attributes = ::GetFileAttributesW(APath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return false;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(APath.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  bool ours = dacl != nullptr;  // no list at all lets everyone in
  const std::wstring user = CurrentUserSid();
  for (DWORD i = 0; ours && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!::GetAce(dacl, i, &ace)) {
      ours = false;
      break;
    }
    const auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
      ours = false;
      break;
    }
    wchar_t* sid = nullptr;
    // The system itself and the administrators can reach every file anyway; nobody else may.
    ours = ::ConvertSidToStringSidW(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, &sid) &&
           (user == sid || std::wcscmp(sid, L"S-1-5-18") == 0 || std::wcscmp(sid, L"S-1-5-32-544") == 0);
    if (sid) ::LocalFree(sid);
  }
  ::LocalFree(descriptor);
  return ours;
}


// A run's processes are in a job that ends them when the program's handle to it closes,
// crash included: none is left to end.
void EndRunsIn(const std::filesystem::path& /*AFolder*/) {}

std::filesystem::path MakePrivateFolder(const std::filesystem::path& AParent, const std::string& APrefix) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  TPrivateSecurity security;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = APrefix;
    for (int i = 0; i < 12; ++i) name += kChars[random() % (sizeof kChars - 1)];
    const std::filesystem::path folder = AParent / PathFromUtf8(name);
    if (::CreateDirectoryW(folder.c_str(), &security.Attributes)) return folder;
    const DWORD error = ::GetLastError();
    if (IsNoSpace(error)) throw TWriteError(folder, SystemErrorMessage(error), true);
    if (error != ERROR_ALREADY_EXISTS)
      throw TFileError("cannot create " + PathToUtf8(folder) + ": " + SystemErrorMessage(error));
  }
  throw TFileError("cannot create a folder in " + PathToUtf8(AParent));
}

void WritePrivateFile(const std::filesystem::path& APath, std::string_view AFirst, std::string_view ASecond) {
  HANDLE file = ::CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (IsNoSpace(error)) throw TWriteError(APath, SystemErrorMessage(error), true);
    throw TFileError("cannot create " + PathToUtf8(APath) + ": " + SystemErrorMessage(error));
  }
  bool ok = true;
  DWORD error = 0;
  for (std::string_view part : {AFirst, ASecond}) {
    while (ok && !part.empty()) {
      DWORD written = 0;
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(part.size(), 1u << 30));
      ok = ::WriteFile(file, part.data(), chunk, &written, nullptr) && written > 0;
      if (!ok) error = ::GetLastError();
      part.remove_prefix(written);
    }
  }
  if (!::CloseHandle(file) && ok) {
    ok = false;
    error = ::GetLastError();
  }
  if (!ok) {
    // A file that did not get all its bytes is of no use and takes the room others need.
    ::DeleteFileW(APath.c_str());
    throw TWriteError(APath, SystemErrorMessage(error ? error : ERROR_WRITE_FAULT), IsNoSpace(error));
  }
}

std::string ExtractFileNamePart(std::string_view AFileName) { return ExtractFileNamePartWindows(AFileName); }

std::string MakeCliCommandLine(const std::string& AModelName, bool AUseGoogleSearch, const std::string& APromptFile,
                               std::string& AError) {
  return MakeCliCommandLineWindows(AModelName, AUseGoogleSearch, APromptFile, AError);
}

// The batch files need no end marker: their console's process is waited for.
std::vector<std::string> CheckScriptLines(const std::string& ALogPath, const std::string& /*ADone*/) {
  return CheckScriptLinesWindows(ALogPath);
}
std::vector<std::string> SetupScriptLines(const std::string& /*ADone*/) { return SetupScriptLinesWindows(); }
std::vector<std::string> UpdateScriptLines(const std::string& /*ADone*/) { return UpdateScriptLinesWindows(); }
std::vector<std::string> UninstallScriptLines(const std::string& /*ADone*/) { return UninstallScriptLinesWindows(); }
std::string ScriptBytes(const std::vector<std::string>& ALines) { return WindowsScriptBytes(ALines); }
std::string ScriptExtension() { return ".bat"; }

TCliSystem DefaultCliSystem() {
  TCliSystem system;
  system.ProgramDir = ProgramDir();
  if (const wchar_t* profile = ::_wgetenv(L"USERPROFILE")) system.UserProfile = std::filesystem::path(profile);
  system.RunScriptAndWait = RunScriptAndWaitWindows;
  system.RefreshPath = RefreshPathFromRegistry;
  system.OpenAuthConsole = OpenAuthConsoleWindows;
  return system;
}

}  // namespace tarvok
