#pragma once
// Stopping a pending request. The main thread calls Stop(); the worker checks the token in
// its waits (libcurl's transfer callback, the console runner's process wait) and ends its
// work early; whether the stop or the answer came first, its completion's flags say. A
// worker that sleeps in a wait registers a wake function so that a stop is
// seen at once, not at the wait's next time-out.

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace tarvok {

class TStopToken {
 public:
  void Stop() {
    FStopped = true;
    std::lock_guard lock(FLock);
    for (const auto& [id, wake] : FWakes) wake();
  }
  bool IsStopped() const { return FStopped.load(); }

  // The wake of the worker's one transfer or process wait; null removes it. Called from
  // Stop() on the stopping thread; the worker clears it before what it wakes goes away.
  void SetWake(std::function<void()> AWake) {
    RemoveWake(0);
    if (AWake) Add(0, std::move(AWake));
  }
  // A further wake for a wait inside that one (a hand-off to the main thread); the id
  // removes it again.
  int AddWake(std::function<void()> AWake) {
    const int id = ++FLastId;
    Add(id, std::move(AWake));
    return id;
  }
  void RemoveWake(int AId) {
    std::lock_guard lock(FLock);
    FWakes.erase(AId);
  }

 private:
  void Add(int AId, std::function<void()> AWake) {
    std::lock_guard lock(FLock);
    auto& wake = FWakes[AId] = std::move(AWake);
    if (FStopped) wake();
  }

  std::atomic<bool> FStopped{false};
  std::atomic<int> FLastId{0};
  std::mutex FLock;
  std::map<int, std::function<void()>> FWakes;
};
using TStopTokenPtr = std::shared_ptr<TStopToken>;

}  // namespace tarvok
