#include "core/LoopMainThread.h"

namespace tarvok {

TLoopMainThread::TLoopMainThread() : FOwner(std::this_thread::get_id()) {}

TLoopMainThread::~TLoopMainThread() {
  std::lock_guard lock(FLock);
  FClosed = true;
  for (TTask* task : FQueue) task->Dropped = true;
  FQueue.clear();
  FFinished.notify_all();
}

void TLoopMainThread::Synchronize(const std::function<void()>& AStep) {
  if (std::this_thread::get_id() == FOwner) {
    AStep();
    return;
  }
  TTask task{&AStep, false, false, nullptr};
  std::unique_lock lock(FLock);
  if (FClosed) return;
  FQueue.push_back(&task);
  FPosted.notify_all();
  FFinished.wait(lock, [&] { return task.Done || task.Dropped; });
  if (task.Error) std::rethrow_exception(task.Error);
}

bool TLoopMainThread::ProcessUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout) {
  const auto deadline = std::chrono::steady_clock::now() + ATimeout;
  for (;;) {
    if (APredicate()) return true;
    TTask* task = nullptr;
    {
      std::unique_lock lock(FLock);
      if (FQueue.empty()) {
        if (std::chrono::steady_clock::now() >= deadline) return APredicate();
        // Wakes for a posted step; the short slice re-checks predicates on other threads' state.
        FPosted.wait_for(lock, std::chrono::milliseconds(5));
        continue;
      }
      task = FQueue.front();
      FQueue.pop_front();
    }
    try {
      (*task->Step)();
    } catch (...) {
      task->Error = std::current_exception();
    }
    std::lock_guard lock(FLock);
    task->Done = true;
    FFinished.notify_all();
  }
}

}  // namespace tarvok
