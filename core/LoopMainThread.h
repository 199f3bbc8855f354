#pragma once
// A main thread without a window toolkit, for tests of every layer: the thread that
// creates it runs the steps that workers post, inside ProcessUntil.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "core/MainThread.h"

namespace tarvok {

class TLoopMainThread : public TMainThread {
 public:
  TLoopMainThread();
  // Steps still waiting are dropped and their workers released; returns once no worker
  // is inside Synchronize any more.
  ~TLoopMainThread() override;

  // Posts the step and waits until ProcessUntil has run it; on the owning thread it
  // runs at once. An exception raised by the step is raised again here.
  void Synchronize(const std::function<void()>& AStep) override;
  void Queue(std::function<void()> AStep) override;

  // Runs posted steps until APredicate holds or ATimeout passes (a safety net against a
  // hang, not a measurement); returns whether APredicate holds. The predicate may look
  // at state other threads change: it is checked again after every step and at least
  // every few milliseconds.
  bool ProcessUntil(const std::function<bool()>& APredicate,
                    std::chrono::milliseconds ATimeout = std::chrono::seconds(60));

 private:
  struct TTask {
    const std::function<void()>* Step;  // a waiting worker's step, or Owned
    bool Done = false;
    bool Dropped = false;
    std::exception_ptr Error;
    std::function<void()> Owned;  // a queued step: the task is the loop's to delete
    bool Queued = false;
  };
  std::thread::id FOwner;
  std::mutex FLock;
  std::condition_variable FPosted;    // a step arrived
  std::condition_variable FFinished;  // a step was run or dropped, or a worker left Synchronize
  std::deque<TTask*> FQueue;
  bool FClosed = false;
  int FInside = 0;  // workers in Synchronize: a released one still uses the lock on its way out
  std::atomic<int> FTelling{0};  // workers between queueing a step and telling the loop of it
};

}  // namespace tarvok
