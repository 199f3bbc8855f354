#pragma once
// The threads request workers run on. A thread whose job has finished waits a moment for
// the next one before it ends: starting a fresh thread for every request cost as much as
// a whole small request on a busy machine. Each job still has a thread to itself. A job
// goes to the thread that became free last, and only that thread is woken: a wake shared
// by every waiting thread would also rouse the ones that find nothing to do.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace tarvok {

class TWorkerThreads {
 public:
  // The pool of the request workers. Never destroyed: detached threads wait on it while
  // the process ends.
  static TWorkerThreads& Instance();

  explicit TWorkerThreads(std::chrono::milliseconds ALinger = std::chrono::milliseconds(200));
  TWorkerThreads(const TWorkerThreads&) = delete;
  TWorkerThreads& operator=(const TWorkerThreads&) = delete;

  // Runs AJob on a waiting thread or a new one, then AHandOver on the same thread once it
  // is offered for the next job again; raises std::system_error when no thread can be made
  // (neither has run then, nor will). AHandOver is where a job tells another thread it is
  // done: when that thread answers with the next job at once, it finds this thread free
  // and running instead of waking one that has slept.
  void Run(std::function<void()> AJob, std::function<void()> AHandOver = {});
  // Ends the waiting threads; returns once none waits any more.
  void ReleaseIdle();
  // Waits until at least ACount threads wait for a job, their hand-overs done; false when
  // ALimit passed first.
  bool WaitForIdle(std::size_t ACount, std::chrono::milliseconds ALimit);

  // Runs between handing a job to a waiting thread and waking it (tests force the
  // interleavings of that gap with it).
  void SetHandOverHook(std::function<void()> AHook);

 private:
  // A thread waiting for its next job. Shared with the thread that hands it one, which may
  // still wake it after the waiter has found its job and gone on.
  struct TWaiting {
    std::condition_variable Wake;
    std::function<void()> Job;
    std::function<void()> HandOver;
    bool Release = false;
    bool HandingOver = false;  // offered, still running the last job's hand-over
  };

  void Serve(std::function<void()> AJob, std::function<void()> AHandOver);

  const std::chrono::milliseconds FLinger;
  std::mutex FLock;
  std::condition_variable FChanged;  // a thread began or ended waiting
  std::vector<std::shared_ptr<TWaiting>> FWaiting;  // the most recently freed last
  std::size_t FIdle = 0;  // threads between offering themselves and leaving
  std::function<void()> FHandOverHook;
};

}  // namespace tarvok
