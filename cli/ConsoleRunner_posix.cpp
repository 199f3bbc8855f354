// POSIX runner: the program is started directly (no shell) in a process group of its own,
// so that a time-out ends it together with everything it started.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "cli/ConsoleRunner.h"
#include "core/ChildEnvironment.h"
#include "cli/CliRuns.h"


namespace tarvok {
namespace {

class TFd {
 public:
  TFd() = default;
  explicit TFd(int AFd) : FFd(AFd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() { Close(); }
  int get() const { return FFd; }
  void Reset(int AFd) {
    Close();
    FFd = AFd;
  }
  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }

 private:
  int FFd = -1;
};

// Writes without letting a closed reader raise SIGPIPE in this process.
ssize_t WriteNoSigPipe(int AFd, const char* AData, std::size_t ASize) {
  sigset_t pipeSet, oldSet;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);
  ssize_t written = ::write(AFd, AData, ASize);
  const int err = errno;
  if (written < 0 && err == EPIPE) {
    const timespec zero{0, 0};
    while (sigtimedwait(&pipeSet, nullptr, &zero) > 0) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
  errno = err;
  return written;
}

bool Readable(int AFd, int AWaitMs) {
  pollfd p{AFd, POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, AWaitMs);
  } while (r < 0 && errno == EINTR);
  return r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

// A descriptor that becomes readable when the child ends (Linux 5.3 and later), so the
// runner wakes the moment it exits instead of at its next look; -1 where there is none.
int OpenExitWatch(pid_t APid) {
#if defined(__linux__) && defined(SYS_pidfd_open)
  return static_cast<int>(::syscall(SYS_pidfd_open, APid, 0));
#else
  (void)APid;
  return -1;
#endif
}

// Sleeps until output arrives (AOutput, or -1 when it is closed), the child ends (AExit,
// or -1), a stop wakes it (AStopWake, or -1) or AWaitMs pass.
void WaitForOutputOrExit(int AOutput, int AExit, int AStopWake, int AWaitMs) {
  pollfd p[3];
  nfds_t n = 0;
  if (AOutput >= 0) p[n++] = {AOutput, POLLIN, 0};
  if (AExit >= 0) p[n++] = {AExit, POLLIN, 0};
  if (AStopWake >= 0) p[n++] = {AStopWake, POLLIN, 0};
  while (::poll(n > 0 ? p : nullptr, n, AWaitMs) < 0 && errno == EINTR) {
  }
}

void EndGroup(pid_t APid) {
  ::kill(-APid, SIGKILL);
  ::kill(APid, SIGKILL);
  int status;
  while (::waitpid(APid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

void ResetChildSignal() {
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  ::sigaction(SIGCHLD, &defaults, nullptr);
}

std::string SystemErrorMessage(unsigned long ACode) {
  return TrimSystemMessage(std::error_code(static_cast<int>(ACode), std::generic_category()).message());
}

std::string RunConsoleCommand(const std::string& ACommand, const std::string& AInput, const std::string& AWorkDir,
                              int ATimeoutSeconds, TStopToken* AStop) {
  if (AStop && AStop->IsStopped()) return "";
  std::vector<std::string> args;
  if (!SplitCommandLine(ACommand, args) || args.empty())
    return "Error creating process: " + SystemErrorMessage(args.empty() ? ENOENT : EINVAL);

  // Pipe ends are close-on-exec: the child gets only its dup2'd standard handles, so it
  // sees the end of its input once the runner closes its end.
  int outPipe[2], inPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return "";
  TFd outRead(outPipe[0]), outWrite(outPipe[1]);
  if (::pipe2(inPipe, O_CLOEXEC) != 0) return "";
  TFd inRead(inPipe[0]), inWrite(inPipe[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inRead.get(), 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite.get(), 1);
  posix_spawn_file_actions_adddup2(&actions, outWrite.get(), 2);
  if (!AWorkDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, AWorkDir.c_str());
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Handles other threads opened without close-on-exec stay out of the child as well.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t noSignals, defaults;
  sigemptyset(&noSignals);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &noSignals);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  // The program is found, and started, with the environment a started program gets.
  const std::string program = ProgramForChild(args.front());
  std::vector<std::string> entries = ChildEnvironmentEntries();
  const int spawnError = ::posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), EnvironmentArray(entries).data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  outWrite.Close();
  inRead.Close();
  if (spawnError != 0) return "Error creating process: " + SystemErrorMessage(spawnError);

  // The input goes out in pieces between reads, so a child that answers before it has read
  // everything cannot block the runner.
  std::size_t inputDone = 0;
  if (AInput.empty())
    inWrite.Close();
  else
    ::fcntl(inWrite.get(), F_SETFL, ::fcntl(inWrite.get(), F_GETFL) | O_NONBLOCK);

  const TFd exitWatch(OpenExitWatch(pid));
  // A stop writes a byte here, so the wait below ends at once; the wake goes before the pipe.
  TFd stopRead, stopWrite;
  int stopPipe[2];
  if (AStop && ::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    stopRead.Reset(stopPipe[0]);
    stopWrite.Reset(stopPipe[1]);
    AStop->SetWake([fd = stopWrite.get()] {
      const char byte = 1;
      [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    });
  }
  struct TClearWake {
    TStopToken* Stop;
    ~TClearWake() {
      if (Stop) Stop->SetWake(nullptr);
    }
  } clearWake{stopRead.get() >= 0 ? AStop : nullptr};
  const int limit = ATimeoutSeconds <= 0 ? kDefaultConsoleTimeoutSeconds : ATimeoutSeconds;
  const auto start = std::chrono::steady_clock::now();
  std::string store;
  char buffer[4096];
  bool outputClosed = false;
  bool reaped = false;

  for (;;) {
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(static_cast<long long>(limit) * 1000)) {
      EndGroup(pid);
      return "ERROR: Process timed out after " + std::to_string(limit) + " seconds.";
    }
    if (AStop && AStop->IsStopped()) {
      EndGroup(pid);
      return "";
    }
    if (inWrite.get() >= 0) {
      const ssize_t w = WriteNoSigPipe(inWrite.get(), AInput.data() + inputDone, AInput.size() - inputDone);
      if (w > 0) inputDone += static_cast<std::size_t>(w);
      if (inputDone == AInput.size() || (w < 0 && errno != EAGAIN && errno != EINTR)) inWrite.Close();
    }
    if (!outputClosed && Readable(outRead.get(), 0)) {
      const ssize_t got = ::read(outRead.get(), buffer, sizeof buffer);
      if (got < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        EndGroup(pid);  // nobody listens any more
        reaped = true;
        break;
      }
      if (got == 0)
        outputClosed = true;
      else
        store.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    int status;
    const pid_t waited = ::waitpid(pid, &status, WNOHANG);
    // ECHILD: SIGCHLD is ignored (inherited from a parent), so the system reaped the child
    // itself the moment it ended.
    if (waited == pid || (waited < 0 && errno == ECHILD)) {
      reaped = true;
      while (!outputClosed && Readable(outRead.get(), 0)) {
        const ssize_t got = ::read(outRead.get(), buffer, sizeof buffer);
        if (got <= 0) break;
        store.append(buffer, static_cast<std::size_t>(got));
      }
      // What it left running in its group has lost its purpose. The group's id is not
      // reused while any member lives, so this reaches only what the child started.
      ::kill(-pid, SIGKILL);
      break;
    }
    // Nothing waits: sleep until output arrives, the child ends, a stop comes or 50 ms
    // pass (the time limit is looked at in between).
    WaitForOutputOrExit(outputClosed ? -1 : outRead.get(), exitWatch.get(), stopRead.get(), 50);
  }
  if (!reaped) EndGroup(pid);
  return DecodeConsoleOutput(store);
}

}  // namespace tarvok
