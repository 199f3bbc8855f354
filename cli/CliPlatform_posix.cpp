// POSIX side of the CLI backend: the shell command line, the scripts, and running them
// in a terminal window when there is a display.
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <system_error>
#include <thread>

#include "cli/CliEnvironment.h"
#include "cli/CliRequest.h"
#include "cli/CliSetup.h"
#include "cli/CliTexts.h"
#include "cli/ConsoleRunner.h"
#include "cli/PrivateFiles.h"
#include "core/ChildEnvironment.h"
#include "core/Files.h"
#include "core/Platform.h"
#include "core/Text.h"


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
  for (const char* name : {"x-terminal-emulator", "xterm"}) {
    const std::string found = ProgramForChild(name);
    if (found.find('/') != std::string::npos) return found;
  }
  return "";
}

// Starts the program; with ANullInput its standard input is /dev/null, with AOutput its
// standard output and error go to that file. Returns 0 or errno.
int Spawn(const std::vector<std::string>& AArgs, bool ANullInput, pid_t& APid, const std::string& AOutput = {}) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (ANullInput) posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (!AOutput.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, AOutput.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  std::vector<std::string> args = AArgs;
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string program = ProgramForChild(args.front());
  std::vector<std::string> entries = ChildEnvironmentEntries();
  const int error = ::posix_spawn(&APid, program.c_str(), &actions, nullptr, argv.data(), EnvironmentArray(entries).data());
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

// The last non-empty line a failed terminal printed (such as "cannot open display"), short.
std::string LastLine(const std::filesystem::path& AFile) {
  std::string text = ReadWholeFile(AFile).value_or("");
  if (text.size() > 4096) text.erase(0, text.size() - 4096);
  std::string last;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line = Trim(std::string_view(text).substr(start, end - start));
    if (!line.empty()) last = std::string(line);
    start = end + 1;
  }
  if (last.size() > 300) last = last.substr(0, 300);
  return DecodeConsoleOutput(last);
}

void ReapInBackground(pid_t APid) {
  std::thread([APid] {
    int status;
    while (::waitpid(APid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

// A terminal that returned at once after handing the window to a server gets this long to
// start the script.
constexpr auto kTerminalHandOver = std::chrono::seconds(5);

// Some terminals hand the window to a running server and return at once, so the script's
// start and end are its markers; the terminal's process is reaped as well. A terminal that
// fails, or ends without the script ever starting, is an error at once.
std::string RunScriptAndWaitPosix(const std::filesystem::path& AScript, const std::filesystem::path& ADone,
                                  int ALimitSeconds) {
  const std::string terminal = FindTerminal();
  std::vector<std::string> args;
  if (!terminal.empty()) args = {terminal, "-e", "/bin/sh", PathToUtf8(AScript)};
  else args = {"/bin/sh", PathToUtf8(AScript)};  // no display: run it quietly, nobody can answer
  const std::filesystem::path output = AScript.parent_path() / "terminal_output.txt";
  pid_t pid = 0;
  if (const int error = Spawn(args, terminal.empty(), pid, terminal.empty() ? std::string() : PathToUtf8(output));
      error != 0)
    return SystemErrorMessage(static_cast<unsigned long>(error));
  const std::filesystem::path started =
      ADone.empty() ? std::filesystem::path() : PathFromUtf8(ScriptStartMarker(PathToUtf8(ADone)));
  const auto now = [] { return std::chrono::steady_clock::now(); };
  const auto deadline = now() + std::chrono::seconds(ALimitSeconds);
  std::optional<std::chrono::steady_clock::time_point> endedAt;
  for (;;) {
    if (!endedAt) {
      int status = 0;
      const pid_t waited = ::waitpid(pid, &status, WNOHANG);
      if (waited == pid || (waited < 0 && errno != EINTR)) {  // ECHILD: reaped by the system
        endedAt = now();
        if (!terminal.empty() && waited == pid && WIFSIGNALED(status))
          return clitexts::kTerminal + terminal + clitexts::kTerminalKilled + std::to_string(WTERMSIG(status));
        if (!terminal.empty() && waited == pid && WIFEXITED(status) && WEXITSTATUS(status) != 0) {
          const std::string said = LastLine(output);
          return clitexts::kTerminal + terminal + clitexts::kTerminalExitCode + std::to_string(WEXITSTATUS(status)) +
                 (said.empty() ? "" : ": " + said);
        }
      }
    }
    std::error_code ec;
    if (endedAt && (ADone.empty() || std::filesystem::exists(ADone, ec))) return "";
    if (endedAt && !started.empty() && !std::filesystem::exists(started, ec) && now() - *endedAt > kTerminalHandOver)
      return clitexts::kTerminal + terminal + clitexts::kTerminalNoScript;
    if (now() >= deadline) {
      WriteLog("Script did not finish in time: " + PathToUtf8(AScript));
      if (!endedAt) ReapInBackground(pid);
      return clitexts::kScriptTimedOut + std::to_string(ALimitSeconds) + clitexts::kScriptTimedOutTail;
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
  ReapInBackground(pid);
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
  std::string path = AppendToSearchPath(ChildVariable("PATH"), existing);
  // A Node.js the setup put into the user's prefix replaces the system's older one.
  if (!home.empty() && IsExecutable(home + "/.local/bin/node")) path = PrependToSearchPath(path, home + "/.local/bin");
  SetChildVariable("PATH", path);
}

[[noreturn]] void FailFile(const std::string& AWhat, const std::string& APath, int AError) {
  throw TFileError(AWhat + " " + APath + ": " + SystemErrorMessage(static_cast<unsigned long>(AError)));
}

bool IsNoSpace(int AError) { return AError == ENOSPC || AError == EDQUOT; }

[[noreturn]] void FailWrite(const std::string& APath, int AError) {
  throw TWriteError(PathFromUtf8(APath), SystemErrorMessage(static_cast<unsigned long>(AError)), IsNoSpace(AError));
}

// A real folder (not a link) of this user that nobody else can enter.
bool IsOwnPrivateFolder(const std::string& APath) {
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

namespace {

// The runtime folder's own "tarvok" folder path, when the runtime folder is usable.
std::string RuntimeBase() {
  const std::string runtime = EnvText("XDG_RUNTIME_DIR");
  if (!runtime.empty() && runtime.front() == '/' && IsOwnPrivateFolder(runtime)) return runtime;
  return "";
}

std::string DiskBase() {
  const std::string home = HomeFolder();
  if (home.empty() || home.front() != '/') return "";
  return home + "/.cache";
}

// What is left free there, as this user may use it.
std::uintmax_t FreeBytes(const std::string& AFolder) {
  struct statvfs fs {};
  if (::statvfs(AFolder.c_str(), &fs) != 0) return 0;
  return static_cast<std::uintmax_t>(fs.f_bavail) * fs.f_frsize;
}

// Room kept free in the runtime folder beside a run's files: file system blocks, and the
// other programs that keep their sockets and small files there.
constexpr std::uintmax_t kRuntimeReserve = 1u << 20;

}  // namespace

std::filesystem::path UserPrivateFolder(std::uintmax_t ANeedBytes) {
  const std::string runtime = RuntimeBase();
  if (!runtime.empty()) {
    const std::string folder = runtime + "/tarvok";
    if (ANeedBytes == 0 || FreeBytes(runtime) >= ANeedBytes + kRuntimeReserve) {
      EnsurePrivateFolder(folder);
      return folder;
    }
  }
  return UserDiskPrivateFolder();
}

std::filesystem::path UserDiskPrivateFolder() {
  const std::string cache = DiskBase();
  if (cache.empty()) throw TFileError("no home folder for the private files");
  if (::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) FailFile("cannot create", cache, errno);
  const std::string folder = cache + "/tarvok";
  EnsurePrivateFolder(folder);
  return folder;
}

std::vector<std::filesystem::path> ExistingUserPrivateFolders() {
  std::vector<std::filesystem::path> folders;
  for (const std::string& base : {RuntimeBase(), DiskBase()}) {
    if (base.empty()) continue;
    const std::string folder = base + "/tarvok";
    if (IsOwnPrivateFolder(folder)) folders.push_back(folder);
  }
  return folders;
}

bool IsPrivateFolderOfOurs(const std::filesystem::path& APath) { return IsOwnPrivateFolder(APath.string()); }


// A CLI outlives a program that crashed: it leads a process group of its own and works in
// its run folder. Such a group, of this user, is ended with the folder.
void EndRunsIn(const std::filesystem::path& AFolder) {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::canonical(AFolder, ec);
  if (ec) return;
  for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    struct stat st {};
    if (::stat(it->path().c_str(), &st) != 0 || st.st_uid != ::geteuid() || ::getpgid(pid) != pid) continue;
    std::error_code cwdError;
    const std::filesystem::path cwd = std::filesystem::read_symlink(it->path() / "cwd", cwdError);
    if (cwdError || cwd != folder) continue;
    if (pid != ::getpid() && pid != ::getpgrp()) ::kill(-pid, SIGKILL);
  }
}

std::filesystem::path MakePrivateFolder(const std::filesystem::path& AParent, const std::string& APrefix) {
  std::string name = PathToUtf8(AParent / (APrefix + "XXXXXX"));
  if (::mkdtemp(name.data()) == nullptr) {
    if (IsNoSpace(errno)) FailWrite(name, errno);
    FailFile("cannot create a folder in", PathToUtf8(AParent), errno);
  }
  return PathFromUtf8(name);
}

void WritePrivateFile(const std::filesystem::path& APath, std::string_view AFirst, std::string_view ASecond) {
  const std::string path = PathToUtf8(APath);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (IsNoSpace(errno)) FailWrite(path, errno);
    FailFile("cannot create", path, errno);
  }
  // A file that did not get all its bytes is of no use and takes the room others need.
  auto fail = [&](int AError) {
    ::close(fd);
    ::unlink(path.c_str());
    FailWrite(path, AError);
  };
  for (std::string_view part : {AFirst, ASecond}) {
    while (!part.empty()) {
      const ssize_t written = ::write(fd, part.data(), part.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) fail(written < 0 ? errno : EIO);
      part.remove_prefix(static_cast<std::size_t>(written));
    }
  }
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(path.c_str());
    FailWrite(path, error);
  }
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
