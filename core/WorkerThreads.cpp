#include "core/WorkerThreads.h"

#include <algorithm>
#include <thread>

namespace tarvok {

TWorkerThreads& TWorkerThreads::Instance() {
  static TWorkerThreads* threads = new TWorkerThreads;
  return *threads;
}

TWorkerThreads::TWorkerThreads(std::chrono::milliseconds ALinger) : FLinger(ALinger) {}

void TWorkerThreads::Run(std::function<void()> AJob, std::function<void()> AHandOver) {
  std::unique_lock lock(FLock);
  if (FWaiting.empty()) {
    lock.unlock();
    std::thread([this, job = std::move(AJob), handOver = std::move(AHandOver)]() mutable {
      Serve(std::move(job), std::move(handOver));
    }).detach();
    return;
  }
  // Held here until woken: the waiter may time out, find its job and end its wait first.
  const std::shared_ptr<TWaiting> taker = std::move(FWaiting.back());
  FWaiting.pop_back();
  taker->Job = std::move(AJob);
  taker->HandOver = std::move(AHandOver);
  const std::function<void()> hook = FHandOverHook;
  lock.unlock();
  if (hook) hook();
  taker->Wake.notify_one();
}

void TWorkerThreads::ReleaseIdle() {
  std::unique_lock lock(FLock);
  for (const auto& waiting : FWaiting) {
    waiting->Release = true;
    waiting->Wake.notify_one();
  }
  FWaiting.clear();
  FChanged.wait(lock, [&] { return FIdle == 0; });
}

bool TWorkerThreads::WaitForIdle(std::size_t ACount, std::chrono::milliseconds ALimit) {
  std::unique_lock lock(FLock);
  return FChanged.wait_for(lock, ALimit, [&] {
    return static_cast<std::size_t>(std::count_if(FWaiting.begin(), FWaiting.end(),
                                                  [](const auto& W) { return !W->HandingOver; })) >= ACount;
  });
}

void TWorkerThreads::SetHandOverHook(std::function<void()> AHook) {
  std::lock_guard lock(FLock);
  FHandOverHook = std::move(AHook);
}

void TWorkerThreads::Serve(std::function<void()> AJob, std::function<void()> AHandOver) {
  for (;;) {
    AJob();
    AJob = nullptr;  // the job's state goes before the thread is offered again
    std::unique_lock lock(FLock);
    const auto me = std::make_shared<TWaiting>();
    FWaiting.push_back(me);
    ++FIdle;
    if (AHandOver) {
      // Offered first, so that a next job handed out in answer comes to this thread, which
      // then finds it without going to sleep.
      me->HandingOver = true;
      lock.unlock();
      AHandOver();
      AHandOver = nullptr;
      lock.lock();
      me->HandingOver = false;
    }
    FChanged.notify_all();
    me->Wake.wait_for(lock, FLinger, [&] { return me->Job || me->Release; });
    --FIdle;
    FChanged.notify_all();
    if (!me->Job) {
      // Timed out or released: nobody can hand this thread a job any more.
      std::erase(FWaiting, me);
      return;
    }
    AJob = std::move(me->Job);
    AHandOver = std::move(me->HandOver);
  }
}

}  // namespace tarvok
