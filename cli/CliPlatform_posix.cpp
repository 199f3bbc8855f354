// POSIX side of the CLI backend: the shell command line, the scripts, and running them
// in a terminal window when there is a display.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "cli/CliEnvironment.h"
#include "cli/CliRequest.h"
#include "cli/CliSetup.h"
#include "cli/ConsoleRunner.h"
#include "core/Platform.h"
#include "core/Text.h"

extern char** environ;

namespace tarvok {
namespace {

std::string EnvText(const char* AName) {
  const char* value = std::getenv(AName);
  return value ? value : "";
}

bool IsExecutable(const std::string& APath) { return ::access(APath.c_str(), X_OK) == 0; }

// A terminal program, when there is a display to show it on.
std::string FindTerminal() {
  if (EnvText("DISPLAY").empty() && EnvText("WAYLAND_DISPLAY").empty()) return "";
  const std::string path = EnvText("PATH");
  for (const char* name : {"x-terminal-emulator", "xterm"}) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = path.find(':', start);
      std::string dir = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
      const std::string candidate = (std::filesystem::path(dir.empty() ? std::string(".") : dir) / name).string();
      if (IsExecutable(candidate)) return candidate;
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  return "";
}

// Starts the program; with ANullInput its standard input is /dev/null. Returns 0 or errno.
int Spawn(const std::vector<std::string>& AArgs, bool ANullInput, pid_t& APid) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (ANullInput) posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> args = AArgs;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int error = ::posix_spawnp(&APid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

std::string RunScriptAndWaitPosix(const std::filesystem::path& AScript) {
  const std::string terminal = FindTerminal();
  std::vector<std::string> args;
  if (!terminal.empty()) args = {terminal, "-e", "/bin/sh", PathToUtf8(AScript)};
  else args = {"/bin/sh", PathToUtf8(AScript)};  // no display: run it quietly, nobody can answer
  pid_t pid = 0;
  if (const int error = Spawn(args, terminal.empty(), pid); error != 0)
    return SystemErrorMessage(static_cast<unsigned long>(error));
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return "";
}

void OpenAuthConsolePosix() {
  const std::string terminal = FindTerminal();
  if (terminal.empty()) {
    WriteLog("No display: the sign-in console cannot be shown.");
    return;
  }
  pid_t pid = 0;
  if (Spawn({terminal, "-e", "/bin/sh", "-c", AuthConsoleScriptPosix()}, false, pid) != 0) return;
  std::thread([pid] {
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

// npm's global prefix and the user's own one (where the setup installs when the global
// one is not writable) hold the new node, npm and gemini.
void RefreshPathPosix() {
  std::vector<std::string> folders;
  const std::string prefix = std::string(Trim(RunConsoleCommand("npm config get prefix", "", "", 60)));
  if (!prefix.empty() && prefix.front() == '/' && prefix.find('\n') == std::string::npos)
    folders.push_back(prefix + "/bin");
  const std::string home = EnvText("HOME");
  if (!home.empty()) folders.push_back(home + "/.local/bin");
  std::vector<std::string> existing;
  std::error_code ec;
  for (const auto& f : folders)
    if (std::filesystem::is_directory(f, ec)) existing.push_back(f);
  ::setenv("PATH", AppendToSearchPath(EnvText("PATH"), existing).c_str(), 1);
}

}  // namespace

std::string MakeCliCommandLine(const std::string& AModelName, bool AUseGoogleSearch, const std::string& APromptFile,
                               std::string& AError) {
  return MakeCliCommandLinePosix(AModelName, AUseGoogleSearch, APromptFile, AError);
}

std::vector<std::string> CheckScriptLines(const std::string& ALogPath) { return CheckScriptLinesPosix(ALogPath); }
std::vector<std::string> SetupScriptLines() { return SetupScriptLinesPosix(); }
std::vector<std::string> UpdateScriptLines() { return UpdateScriptLinesPosix(); }
std::vector<std::string> UninstallScriptLines() { return UninstallScriptLinesPosix(); }
std::string ScriptBytes(const std::vector<std::string>& ALines) { return PosixScriptBytes(ALines); }
std::string ScriptExtension() { return ".sh"; }

TCliSystem DefaultCliSystem() {
  TCliSystem system;
  system.ScriptDir = TempDir();
  system.ProgramDir = ProgramDir();
  system.UserProfile = PathFromUtf8(EnvText("HOME"));
  system.RunScriptAndWait = RunScriptAndWaitPosix;
  system.RefreshPath = RefreshPathPosix;
  system.OpenAuthConsole = OpenAuthConsolePosix;
  return system;
}

}  // namespace tarvok
