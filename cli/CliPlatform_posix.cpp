// POSIX side of the CLI backend: the shell command line, the scripts, and running them
// in a terminal window when there is a display.
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "cli/CliEnvironment.h"
#include "cli/CliRequest.h"
#include "cli/CliSetup.h"
#include "cli/ConsoleRunner.h"
#include "cli/PrivateFiles.h"
#include "core/Files.h"
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

// Some terminals hand the window to a running server and return at once, so the script's
// end is its marker; the terminal's process is reaped as well. Both within the limit.
std::string RunScriptAndWaitPosix(const std::filesystem::path& AScript, const std::filesystem::path& ADone,
                                  int ALimitSeconds) {
  const std::string terminal = FindTerminal();
  std::vector<std::string> args;
  if (!terminal.empty()) args = {terminal, "-e", "/bin/sh", PathToUtf8(AScript)};
  else args = {"/bin/sh", PathToUtf8(AScript)};  // no display: run it quietly, nobody can answer
  pid_t pid = 0;
  if (const int error = Spawn(args, terminal.empty(), pid); error != 0)
    return SystemErrorMessage(static_cast<unsigned long>(error));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(ALimitSeconds);
  bool ended = false;
  for (;;) {
    if (!ended) {
      int status;
      const pid_t waited = ::waitpid(pid, &status, WNOHANG);
      ended = waited == pid || (waited < 0 && errno != EINTR);  // ECHILD: reaped by the system
    }
    std::error_code ec;
    if (ended && (ADone.empty() || std::filesystem::exists(ADone, ec))) return "";
    if (std::chrono::steady_clock::now() >= deadline) {
      WriteLog("Script did not finish in time: " + PathToUtf8(AScript));
      if (!ended) std::thread([pid] {
          int status;
          while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
          }
        }).detach();
      return "";
    }
    ::poll(nullptr, 0, 50);
  }
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
  std::string path = AppendToSearchPath(EnvText("PATH"), existing);
  // A Node.js the setup put into the user's prefix replaces the system's older one.
  if (!home.empty() && IsExecutable(home + "/.local/bin/node")) path = PrependToSearchPath(path, home + "/.local/bin");
  ::setenv("PATH", path.c_str(), 1);
}

[[noreturn]] void FailFile(const std::string& AWhat, const std::string& APath, int AError) {
  throw TFileError(AWhat + " " + APath + ": " + SystemErrorMessage(static_cast<unsigned long>(AError)));
}

// A real folder (not a link) of this user that nobody else can enter.
bool IsPrivateFolderOfOurs(const std::string& APath) {
  struct stat st {};
  return ::lstat(APath.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}

// Makes APath with owner-only rights, or takes the existing one when it is a real folder
// of ours (closing it to others when it was open).
void EnsurePrivateFolder(const std::string& APath) {
  if (::mkdir(APath.c_str(), 0700) == 0) return;
  if (errno != EEXIST) FailFile("cannot create", APath, errno);
  struct stat st {};
  if (::lstat(APath.c_str(), &st) != 0) FailFile("cannot examine", APath, errno);
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
    throw TFileError("refusing " + APath + ": not a folder of this user");
  if ((st.st_mode & 077) != 0 && ::chmod(APath.c_str(), 0700) != 0) FailFile("cannot make private", APath, errno);
}

std::string HomeFolder() {
  std::string home = EnvText("HOME");
  if (home.empty())
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir) home = pw->pw_dir;
  return home;
}

}  // namespace

std::filesystem::path UserPrivateFolder() {
  const std::string runtime = EnvText("XDG_RUNTIME_DIR");
  if (!runtime.empty() && runtime.front() == '/' && IsPrivateFolderOfOurs(runtime)) {
    const std::string folder = runtime + "/tarvok";
    EnsurePrivateFolder(folder);
    return folder;
  }
  const std::string home = HomeFolder();
  if (home.empty() || home.front() != '/') throw TFileError("no home folder for the private files");
  const std::string cache = home + "/.cache";
  if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) FailFile("cannot create", cache, errno);
  const std::string folder = cache + "/tarvok";
  EnsurePrivateFolder(folder);
  return folder;
}

std::filesystem::path MakePrivateFolder(const std::filesystem::path& AParent, const std::string& APrefix) {
  std::string name = PathToUtf8(AParent / (APrefix + "XXXXXX"));
  if (::mkdtemp(name.data()) == nullptr) FailFile("cannot create a folder in", PathToUtf8(AParent), errno);
  return PathFromUtf8(name);
}

void WritePrivateFile(const std::filesystem::path& APath, std::string_view AFirst, std::string_view ASecond) {
  const std::string path = PathToUtf8(APath);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) FailFile("cannot create", path, errno);
  for (std::string_view part : {AFirst, ASecond}) {
    while (!part.empty()) {
      const ssize_t written = ::write(fd, part.data(), part.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        const int error = written < 0 ? errno : EIO;
        ::close(fd);
        FailFile("cannot write", path, error);
      }
      part.remove_prefix(static_cast<std::size_t>(written));
    }
  }
  if (::close(fd) != 0) FailFile("cannot write", path, errno);
}

std::string ExtractFileNamePart(std::string_view AFileName) { return ExtractFileNamePartPosix(AFileName); }

std::string MakeCliCommandLine(const std::string& AModelName, bool AUseGoogleSearch, const std::string& APromptFile,
                               std::string& AError) {
  return MakeCliCommandLinePosix(AModelName, AUseGoogleSearch, APromptFile, AError);
}

std::vector<std::string> CheckScriptLines(const std::string& ALogPath, const std::string& ADone) {
  return CheckScriptLinesPosix(ALogPath, ADone);
}
std::vector<std::string> SetupScriptLines(const std::string& ADone) { return SetupScriptLinesPosix(ADone); }
std::vector<std::string> UpdateScriptLines(const std::string& ADone) { return UpdateScriptLinesPosix(ADone); }
std::vector<std::string> UninstallScriptLines(const std::string& ADone) { return UninstallScriptLinesPosix(ADone); }
std::string ScriptBytes(const std::vector<std::string>& ALines) { return PosixScriptBytes(ALines); }
std::string ScriptExtension() { return ".sh"; }

TCliSystem DefaultCliSystem() {
  TCliSystem system;
  system.ProgramDir = ProgramDir();
  system.UserProfile = PathFromUtf8(EnvText("HOME"));
  system.RunScriptAndWait = RunScriptAndWaitPosix;
  system.RefreshPath = RefreshPathPosix;
  system.OpenAuthConsole = OpenAuthConsolePosix;
  return system;
}

}  // namespace tarvok
