// Windows runner: a hidden console child with both output streams in one pipe. The child
// runs in a job object, so that a time-out ends it together with everything it started.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <initializer_list>
#include <string>
#include <vector>

#include "cli/ConsoleRunner.h"
#include "cli/CliRuns.h"
#include "core/Text.h"

namespace tarvok {
namespace {

std::wstring Wide(const std::string& AUtf8) {
  const std::u16string text = Utf8ToUtf16(AUtf8);
  return std::wstring(text.begin(), text.end());
}

class THandle {
 public:
  THandle() = default;
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  ~THandle() { Close(); }
  HANDLE* Out() { return &FHandle; }
  HANDLE Get() const { return FHandle; }
  void Reset(HANDLE AHandle) {
    Close();
    FHandle = AHandle;
  }
  void Close() {
    if (FHandle && FHandle != INVALID_HANDLE_VALUE) ::CloseHandle(FHandle);
    FHandle = nullptr;
  }

 private:
  HANDLE FHandle = nullptr;
};

// The input goes out from a thread of its own, so a child that writes much before it has
// read all its input cannot block the runner.
struct TInputWriter {
  HANDLE Pipe = nullptr;
  const std::string* Input = nullptr;
  std::atomic<bool> Stop{false};
};

DWORD WINAPI WriteInput(LPVOID AParam) {
  auto* writer = static_cast<TInputWriter*>(AParam);
  const char* data = writer->Input->data();
  std::size_t left = writer->Input->size();
  while (left > 0 && !writer->Stop.load()) {
    DWORD written = 0;
    const DWORD chunk = left > 0x10000 ? 0x10000 : static_cast<DWORD>(left);
    if (!::WriteFile(writer->Pipe, data, chunk, &written, nullptr) || written == 0) break;
    data += written;
    left -= written;
  }
  ::CloseHandle(writer->Pipe);
  return 0;
}

// Ends a writer that may be blocked in WriteFile (a grandchild can hold the input open
// without reading). A cancel that comes before the thread has entered WriteFile does
// nothing, so it is repeated until the thread is gone.
void StopWriter(TInputWriter& AState, HANDLE AThread) {
  AState.Stop.store(true);
  do {
    ::CancelSynchronousIo(AThread);
  } while (::WaitForSingleObject(AThread, 20) == WAIT_TIMEOUT);
}

// Only the child's three standard handles are inherited: a plain inheriting start would
// also hand it every inheritable handle of the process, such as the pipes of another run
// on another thread, which then stay open as long as this child lives.
class THandleList {
 public:
  explicit THandleList(std::initializer_list<HANDLE> AHandles) : FHandles(AHandles) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    FBuffer.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(FBuffer.data());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    FInitialised = true;
    if (::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, FHandles.data(),
                                    FHandles.size() * sizeof(HANDLE), nullptr, nullptr))
      FList = list;
  }
  ~THandleList() {
    if (FInitialised) ::DeleteProcThreadAttributeList(reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(FBuffer.data()));
  }
  THandleList(const THandleList&) = delete;
  THandleList& operator=(const THandleList&) = delete;
  LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return FList; }

 private:
  std::vector<HANDLE> FHandles;
  std::vector<unsigned char> FBuffer;
  LPPROC_THREAD_ATTRIBUTE_LIST FList = nullptr;
  bool FInitialised = false;
};

}  // namespace

void ResetChildSignal() {}

std::string SystemErrorMessage(unsigned long ACode) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(ACode), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::string text;
  if (length > 0 && buffer) text = Utf16ToUtf8(std::u16string(buffer, buffer + length));
  if (buffer) ::LocalFree(buffer);
  return TrimSystemMessage(text);
}

std::string RunConsoleCommand(const std::string& ACommand, const std::string& AInput, const std::string& AWorkDir,
                              int ATimeoutSeconds, TStopToken* AStop) {
  if (AStop && AStop->IsStopped()) return "";
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  THandle outRead, outWrite, inRead, inWrite;
  if (!::CreatePipe(outRead.Out(), outWrite.Out(), &inherit, 0)) return "";
  if (!::CreatePipe(inRead.Out(), inWrite.Out(), &inherit, 0)) return "";
  // The runner's own ends stay out of the child: it sees the end of its input when the
  // runner closes its end.
  ::SetHandleInformation(outRead.Get(), HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(inWrite.Get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdInput = inRead.Get();
  startup.StartupInfo.hStdOutput = outWrite.Get();
  startup.StartupInfo.hStdError = outWrite.Get();
  const THandleList inherited{inRead.Get(), outWrite.Get()};
  startup.lpAttributeList = inherited.Get();

  std::wstring commandLine = Wide(ACommand);  // CreateProcessW may write into it
  commandLine.push_back(L'\0');
  const std::wstring workDir = Wide(AWorkDir);
  THandle job;
  job.Reset(::CreateJobObjectW(nullptr, nullptr));
  if (job.Get()) {
    // When this program ends, however it ends, the job's handle closes and the CLI and
    // everything it started end with it.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }

  // Started suspended so that it is in the job before it can start anything itself.
  PROCESS_INFORMATION info{};
  const DWORD flags = CREATE_SUSPENDED | (startup.lpAttributeList ? EXTENDED_STARTUPINFO_PRESENT : 0);
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, flags, nullptr,
                        AWorkDir.empty() ? nullptr : workDir.c_str(), &startup.StartupInfo, &info)) {
    const DWORD error = ::GetLastError();
    return "Error creating process: " + SystemErrorMessage(error);
  }
  if (job.Get()) ::AssignProcessToJobObject(job.Get(), info.hProcess);
  ::ResumeThread(info.hThread);
  ::CloseHandle(info.hThread);
  THandle process;
  process.Reset(info.hProcess);
  outWrite.Close();
  inRead.Close();

  TInputWriter writerState;
  writerState.Input = &AInput;
  THandle writer;
  if (!AInput.empty()) {
    writerState.Pipe = inWrite.Get();
    *inWrite.Out() = nullptr;  // the writer thread closes it
    writer.Reset(::CreateThread(nullptr, 0, WriteInput, &writerState, 0, nullptr));
    if (!writer.Get()) ::CloseHandle(writerState.Pipe);
  } else {
    inWrite.Close();
  }

  // A stop sets this event, so the wait below ends at once; the wake is cleared before the event goes.
  THandle stopEvent;
  if (AStop) {
    stopEvent.Reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (stopEvent.Get()) AStop->SetWake([event = stopEvent.Get()] { ::SetEvent(event); });
  }
  struct TClearWake {
    TStopToken* Stop;
    ~TClearWake() {
      if (Stop) Stop->SetWake(nullptr);
    }
  } clearWake{stopEvent.Get() ? AStop : nullptr};

  const int limit = ATimeoutSeconds <= 0 ? kDefaultConsoleTimeoutSeconds : ATimeoutSeconds;
  const ULONGLONG start = ::GetTickCount64();
  std::string store;
  char buffer[4096];
  bool timedOut = false;
  bool stopped = false;
  for (;;) {
    stopped = AStop && AStop->IsStopped();
    if (stopped || ::GetTickCount64() - start > static_cast<ULONGLONG>(limit) * 1000) {
      if (job.Get()) ::TerminateJobObject(job.Get(), 1);
      ::TerminateProcess(process.Get(), 1);
      timedOut = !stopped;
      break;
    }
    DWORD waiting = 0;
    if (::PeekNamedPipe(outRead.Get(), nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
      DWORD got = 0;
      if (!::ReadFile(outRead.Get(), buffer, sizeof buffer, &got, nullptr)) break;
      store.append(buffer, got);
      continue;
    }
    const HANDLE waits[2] = {process.Get(), stopEvent.Get()};
    const DWORD woke = ::WaitForMultipleObjects(stopEvent.Get() ? 2 : 1, waits, FALSE, 50);
    if (woke == WAIT_OBJECT_0 + 1) continue;  // the stop: handled at the top of the loop
    if (woke == WAIT_OBJECT_0) {
      for (;;) {
        waiting = 0;
        if (!::PeekNamedPipe(outRead.Get(), nullptr, 0, nullptr, &waiting, nullptr) || waiting == 0) break;
        DWORD got = 0;
        if (!::ReadFile(outRead.Get(), buffer, sizeof buffer, &got, nullptr) || got == 0) break;
        store.append(buffer, got);
      }
      break;
    }
  }
  // What the child left running (or the child itself, after a failed read) has lost its
  // purpose: the job ends it all.
  if (job.Get()) ::TerminateJobObject(job.Get(), 1);
  ::TerminateProcess(process.Get(), 1);
  if (writer.Get()) StopWriter(writerState, writer.Get());
  if (stopped) return "";
  if (timedOut) return "ERROR: Process timed out after " + std::to_string(limit) + " seconds.";
  return DecodeConsoleOutput(store);
}

}  // namespace tarvok
