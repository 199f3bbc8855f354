// A console program for the runner's tests, run one step after another from its
// arguments:
//   out TEXT     writes TEXT to standard output      err TEXT   the same to standard error
//   bytes HEX    writes raw bytes (hex pairs)        fill N C   writes N times the character C
//   sleep MS     sleeps                              forever    writes "tick\n" without end
//   cat          copies standard input to output until it ends
//   spawn FILE   starts a copy of itself that sleeps for good, writes its process id to FILE
//   handle HEX   writes "leaked" to a handle value of the parent's, which arrives only when inherited
//   exit N       ends with exit code N
// Copied as node.exe or gemini.exe it answers "-v" or "--version" like those programs.
// Run as "cli RECORD ARGS..." (from a gemini.cmd) it stands in for the CLI's answer: it writes
// into the folder RECORD its arguments (one a line), its standard input, its folder, the
// variable GEMINI_CLI_TRUST_WORKSPACE and a copy of the files in its folder; with a file
// "block" there it starts a child that sleeps, writes "pids" (its own and the child's) and
// waits for good; else it prints the file "output".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

void Write(DWORD AStream, const std::string& AText) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(AStream), AText.data(), static_cast<DWORD>(AText.size()), &written, nullptr);
}

std::string Narrow(const wchar_t* AText) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, AText, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) ::WideCharToMultiByte(CP_UTF8, 0, AText, -1, out.data(), size, nullptr, nullptr);
  return out;
}

bool WriteFileBytes(const std::wstring& APath, const std::string& ABytes) {
  std::FILE* f = ::_wfopen(APath.c_str(), L"wb");
  if (!f) return false;
  std::fwrite(ABytes.data(), 1, ABytes.size(), f);
  std::fclose(f);
  return true;
}

std::string ReadFileBytes(const std::wstring& APath) {
  std::string bytes;
  if (std::FILE* f = ::_wfopen(APath.c_str(), L"rb")) {
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, got);
    std::fclose(f);
  }
  return bytes;
}

DWORD StartSleeper(const wchar_t* ASelf) {
  std::wstring command = L"\"" + std::wstring(ASelf) + L"\" sleep 1000000";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return 0;
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return info.dwProcessId;
}

int StandInCli(const wchar_t* ASelf, int AArgc, wchar_t** AArgv) {
  const std::wstring record = AArgv[2];
  std::string args;
  for (int i = 3; i < AArgc; ++i) args += Narrow(AArgv[i]) + "\n";
  WriteFileBytes(record + L"\\args", args);
  std::string input;
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0)
    input.append(buffer, got);
  WriteFileBytes(record + L"\\stdin", input);
  wchar_t cwd[MAX_PATH];
  const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, cwd);
  WriteFileBytes(record + L"\\cwd", Narrow(std::wstring(cwd, length).c_str()));
  wchar_t trust[64] = L"";
  ::GetEnvironmentVariableW(L"GEMINI_CLI_TRUST_WORKSPACE", trust, 64);
  WriteFileBytes(record + L"\\trust", Narrow(trust));
  ::CreateDirectoryW((record + L"\\files").c_str(), nullptr);
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(L"*", &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        ::CopyFileW(found.cFileName, (record + L"\\files\\" + found.cFileName).c_str(), FALSE);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
  }
  if (::GetFileAttributesW((record + L"\\block").c_str()) != INVALID_FILE_ATTRIBUTES) {
    const DWORD child = StartSleeper(ASelf);
    const std::string pids = std::to_string(::GetCurrentProcessId()) + " " + std::to_string(child);
    WriteFileBytes(record + L"\\pids.part", pids);
    ::MoveFileW((record + L"\\pids.part").c_str(), (record + L"\\pids").c_str());
    ::Sleep(INFINITE);
  }
  Write(STD_OUTPUT_HANDLE, ReadFileBytes(record + L"\\output"));
  return 0;
}

int StandIn(const std::wstring& AName, int AArgc, wchar_t** AArgv) {
  if (AName == L"node" && AArgc > 1 && std::wcscmp(AArgv[1], L"-v") == 0) Write(STD_OUTPUT_HANDLE, "v22.12.0\r\n");
  if (AName == L"gemini" && AArgc > 1 && std::wcscmp(AArgv[1], L"--version") == 0) Write(STD_OUTPUT_HANDLE, "0.1.18\r\n");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring name = self;
  name = name.substr(name.find_last_of(L"\\/") + 1);
  name = name.substr(0, name.find_last_of(L'.'));
  if (name == L"node" || name == L"gemini") return StandIn(name, argc, argv);
  if (argc > 2 && std::wcscmp(argv[1], L"cli") == 0) return StandInCli(self, argc, argv);

  for (int i = 1; i < argc; ++i) {
    const std::wstring step = argv[i];
    const std::string arg = i + 1 < argc ? Narrow(argv[i + 1]) : "";
    if (step == L"out") {
      Write(STD_OUTPUT_HANDLE, arg), ++i;
    } else if (step == L"err") {
      Write(STD_ERROR_HANDLE, arg), ++i;
    } else if (step == L"bytes") {
      std::string bytes;
      for (std::size_t k = 0; k + 1 < arg.size(); k += 2)
        bytes += static_cast<char>(std::strtoul(arg.substr(k, 2).c_str(), nullptr, 16));
      Write(STD_OUTPUT_HANDLE, bytes), ++i;
    } else if (step == L"fill") {
      const std::string c = i + 2 < argc ? Narrow(argv[i + 2]) : "x";
      Write(STD_OUTPUT_HANDLE, std::string(std::strtoul(arg.c_str(), nullptr, 10), c.empty() ? 'x' : c[0]));
      i += 2;
    } else if (step == L"sleep") {
      ::Sleep(std::strtoul(arg.c_str(), nullptr, 10)), ++i;
    } else if (step == L"forever") {
      for (;;) Write(STD_OUTPUT_HANDLE, "tick\n");
    } else if (step == L"cat") {
      char buffer[4096];
      DWORD got = 0;
      while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) && got > 0)
        Write(STD_OUTPUT_HANDLE, std::string(buffer, got));
    } else if (step == L"spawn") {
      std::wstring command = L"\"" + std::wstring(self) + L"\" sleep 1000000";
      STARTUPINFOW startup{};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION info{};
      if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        if (std::FILE* f = ::_wfopen(argv[i + 1], L"wb")) {
          std::fprintf(f, "%lu", info.dwProcessId);
          std::fclose(f);
        }
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
      }
      ++i;
    } else if (step == L"handle") {
      const auto value = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::strtoull(arg.c_str(), nullptr, 16)));
      DWORD written = 0;
      ::WriteFile(value, "leaked", 6, &written, nullptr);
      ++i;
    } else if (step == L"exit") {
      return static_cast<int>(std::strtol(arg.c_str(), nullptr, 10));
    }
  }
  return 0;
}
