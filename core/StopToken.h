#pragma once
// Stopping a pending request. The main thread calls Stop(); the worker checks the token in
// its waits (libcurl's transfer callback, the console runner's process wait) and ends its
// work early; whether the stop or the answer came first, its completion's flags say. A
// worker that sleeps in a wait registers a wake function so that a stop is
// seen at once, not at the wait's next time-out.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace tarvok {

class TStopToken {
 public:
  void Stop() {
    FStopped = true;
    std::lock_guard lock(FLock);
    if (FWake) FWake();
  }
  bool IsStopped() const { return FStopped.load(); }

  // Called from Stop() on the stopping thread; the worker clears it before what it wakes goes away.
  void SetWake(std::function<void()> AWake) {
    std::lock_guard lock(FLock);
    FWake = std::move(AWake);
    if (FWake && FStopped) FWake();
  }

 private:
  std::atomic<bool> FStopped{false};
  std::mutex FLock;
  std::function<void()> FWake;
};
using TStopTokenPtr = std::shared_ptr<TStopToken>;

}  // namespace tarvok
