#include "core/LoopMainThread.h"

#include <vector>

namespace tarvok {

TLoopMainThread::TLoopMainThread() : FOwner(std::this_thread::get_id()) {}

TLoopMainThread::~TLoopMainThread() {
  std::vector<TTask*> queued;
  {
    std::unique_lock lock(FLock);
    FClosed = true;
    for (TTask* task : FQueue) {
      if (task->Queued) queued.push_back(task);
      else task->Dropped = true;
    }
    FQueue.clear();
    FFinished.notify_all();
    // A worker whose step has just run may not have woken yet: the lock and the condition
    // must outlive its wait.
    FFinished.wait(lock, [&] { return FInside == 0; });
  }
  // A worker that queued a step before the close may still be telling the loop of it.
  while (FTelling.load(std::memory_order_acquire) != 0) std::this_thread::yield();
  // Destroyed without the lock: a queued step may own a worker that ends here.
  for (TTask* task : queued) delete task;
}

void TLoopMainThread::Queue(std::function<void()> AStep) {
  if (std::this_thread::get_id() == FOwner) {
    try {
      AStep();
    } catch (...) {
    }
    return;
  }
  auto* task = new TTask{nullptr, false, false, nullptr, std::move(AStep), true};
  task->Step = &task->Owned;
  {
    std::lock_guard lock(FLock);
    if (!FClosed) {
      FQueue.push_back(task);
      task = nullptr;
      // Once the lock is free the loop may run the step and be destroyed: it waits for this
      // count before it goes. Told without the lock, the loop does not wake only to wait for it.
      FTelling.fetch_add(1, std::memory_order_relaxed);
    }
  }
  if (task) {
    delete task;  // closed: dropped unrun
    return;
  }
  FPosted.notify_all();
  FTelling.fetch_sub(1, std::memory_order_release);
}

void TLoopMainThread::Synchronize(const std::function<void()>& AStep) {
  if (std::this_thread::get_id() == FOwner) {
    AStep();
    return;
  }
  TTask task{&AStep, false, false, nullptr, {}, false};
  std::unique_lock lock(FLock);
  if (FClosed) return;
  FQueue.push_back(&task);
  ++FInside;  // the loop is not destroyed until this worker is out again
  // Woken with the lock free, the loop does not wake only to wait for it.
  lock.unlock();
  FPosted.notify_all();
  lock.lock();
  FFinished.wait(lock, [&] { return task.Done || task.Dropped; });
  if (--FInside == 0) FFinished.notify_all();
  lock.unlock();
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
    if (task->Queued) {
      try {
        (*task->Step)();
      } catch (...) {
      }
      delete task;
      continue;
    }
    try {
      (*task->Step)();
    } catch (...) {
      task->Error = std::current_exception();
    }
    {
      std::lock_guard lock(FLock);
      task->Done = true;
    }
    FFinished.notify_all();
  }
}

}  // namespace tarvok
