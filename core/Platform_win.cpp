#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <iterator>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "core/Platform.h"

namespace tarvok {
namespace {

std::mutex GDirLock;
std::filesystem::path GProgramDir;

std::wstring Widen(std::string_view text, UINT codePage, DWORD flags) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring out(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(codePage, flags, text.data(), size, out.data(), needed);
  return out;
}

std::string Narrow(std::wstring_view text, UINT codePage) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  // The legacy page takes '?' for what it cannot hold; UTF-8 holds everything.
  const char* fallback = codePage == CP_UTF8 ? nullptr : "?";
  const int needed = WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, fallback, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), size, out.data(), needed, fallback, nullptr);
  return out;
}

std::filesystem::path ModuleDir() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::filesystem::current_path();
    if (length < buffer.size()) return std::filesystem::path(std::wstring(buffer.data(), length)).parent_path();
    buffer.resize(buffer.size() * 2);  // the path was cut: try a larger buffer
  }
}

}  // namespace

std::filesystem::path ProgramDir() {
  std::lock_guard lock(GDirLock);
  if (GProgramDir.empty()) GProgramDir = ModuleDir();
  return GProgramDir;
}

void SetProgramDir(const std::filesystem::path& ADir) {
  std::lock_guard lock(GDirLock);
  GProgramDir = ADir;
}

std::filesystem::path TempDir() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD length = GetTempPathW(static_cast<DWORD>(std::size(buffer)), buffer);
  if (length == 0 || length > std::size(buffer)) {
    std::error_code ec;
    auto p = std::filesystem::temp_directory_path(ec);
    return ec ? std::filesystem::path(L"C:\\Windows\\Temp") : p;
  }
  // TMP often holds 8.3 names (C:\Users\IVANOV~1\...); scripts and logs show the long form.
  std::vector<wchar_t> full(32768);
  const DWORD fullLength = GetLongPathNameW(buffer, full.data(), static_cast<DWORD>(full.size()));
  if (fullLength > 0 && fullLength < full.size()) return std::filesystem::path(std::wstring(full.data(), fullLength));
  return std::filesystem::path(std::wstring(buffer, length));
}

std::string DecodeLegacyCodePage(std::string_view ABytes) { return Narrow(Widen(ABytes, CP_ACP, 0), CP_UTF8); }

std::string EncodeLegacyCodePage(std::string_view AUtf8) { return Narrow(Widen(AUtf8, CP_UTF8, 0), CP_ACP); }

std::filesystem::path PathFromUtf8(std::string_view AUtf8) { return std::filesystem::path(Widen(AUtf8, CP_UTF8, 0)); }

std::string PathToUtf8(const std::filesystem::path& APath) { return Narrow(APath.native(), CP_UTF8); }

std::string_view PathSeparatorChars() { return "\\/:"; }

void MoveFileOver(const std::filesystem::path& ATemp, const std::filesystem::path& ATarget, std::error_code& AError) {
  AError.clear();
  const DWORD attributes = GetFileAttributesW(ATarget.c_str());
  const bool replace = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  const BOOL ok = replace ? ReplaceFileW(ATarget.c_str(), ATemp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                          : MoveFileExW(ATemp.c_str(), ATarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) AError = std::error_code(static_cast<int>(GetLastError()), std::system_category());
}

unsigned long long TickCountMs() { return static_cast<unsigned long long>(GetTickCount64()); }

unsigned long long CurrentThreadIdNumber() { return static_cast<unsigned long long>(GetCurrentThreadId()); }

unsigned long long CurrentProcessIdNumber() { return static_cast<unsigned long long>(GetCurrentProcessId()); }

bool ProcessIsRunning(unsigned long long APid) {
  if (APid == 0 || APid > 0xFFFFFFFFull) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(APid));
  if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
  DWORD code = 0;
  const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return running;
}

std::filesystem::path UserDataRoot() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (!local || !*local) return {};
  std::filesystem::path root(local);
  return root.is_absolute() ? root : std::filesystem::path();
}

bool LocalTimeOf(std::time_t AWhen, std::tm& ALocal) { return localtime_s(&ALocal, &AWhen) == 0; }

std::FILE* OpenFileForReading(const std::string& AUtf8Path) { return _wfopen(PathFromUtf8(AUtf8Path).c_str(), L"rb"); }

std::FILE* CreateNewPrivateFile(const std::filesystem::path& APath) {
  int fd = -1;
  if (_wsopen_s(&fd, APath.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYNO,
                _S_IREAD | _S_IWRITE) != 0)
    return nullptr;
  std::FILE* f = _wfdopen(fd, L"wb");
  if (!f) _close(fd);
  return f;
}

bool FlushFileToDisk(std::FILE* AFile) { return _commit(_fileno(AFile)) == 0; }

void StartFileWriteBack(std::FILE*, std::uint64_t, std::uint64_t) {}

void AdviseLargePages(void*, std::size_t) {}

void ReturnFreeMemory() {}

}  // namespace tarvok
