// The threads request workers run on: a finished thread serves the next job, and a thread
// woken late never touches a waiter that has gone.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "core/WorkerThreads.h"

using namespace tarvok;

namespace {

struct TSignal {
  std::mutex Lock;
  std::condition_variable Changed;
  int Count = 0;
  void Add() {
    // Told with the lock held: once the count is seen, the test may end and the signal go.
    std::lock_guard lock(Lock);
    ++Count;
    Changed.notify_all();
  }
  bool WaitFor(int ACount) {
    std::unique_lock lock(Lock);
    return Changed.wait_for(lock, std::chrono::seconds(30), [&] { return Count >= ACount; });
  }
};

}  // namespace

// The hand-over is held between giving a waiting thread its job and waking it: the thread's
// wait runs out meanwhile, it finds the job, runs it and waits anew. The late wake must
// reach a waiter that is still alive (a sanitizer build sees it otherwise).
TEST(WorkerThreads, AWakeAfterTheWaiterFoundItsJobTouchesNothingGone) {
  // Never destroyed, since threads may still linger on it when the test ends; held by a static
  // so that the leak checker sees it as reachable.
  static TWorkerThreads* const pool = new TWorkerThreads(std::chrono::milliseconds(1000));
  TSignal ran;
  pool->Run([&] { ran.Add(); });
  ASSERT_TRUE(ran.WaitFor(1));
  ASSERT_TRUE(pool->WaitForIdle(1, std::chrono::seconds(30)));

  std::atomic<bool> waitedOut{false};
  pool->SetHandOverHook([&] {
    // The job is the thread's already; it runs it once its wait runs out, then offers itself again.
    waitedOut = ran.WaitFor(2) && pool->WaitForIdle(1, std::chrono::seconds(30));
  });
  pool->Run([&] { ran.Add(); });
  pool->SetHandOverHook(nullptr);
  EXPECT_TRUE(waitedOut);
  EXPECT_EQ(ran.Count, 2);

  // The pool still serves: the same thread takes the next job.
  pool->Run([&] { ran.Add(); });
  EXPECT_TRUE(ran.WaitFor(3));
  pool->ReleaseIdle();
}

// A job's hand-over runs once its thread is offered again, so that a next job handed out in
// answer (a completion that sends the next request at once) goes to that thread, awake,
// rather than waking another. Meanwhile it is not yet counted as waiting.
TEST(WorkerThreads, AJobHandedOutFromTheHandOverGoesToTheThreadHandingOver) {
  static TWorkerThreads* const pool = new TWorkerThreads(std::chrono::milliseconds(5000));
  // Two threads made and left waiting: two jobs that each wait for the other to start.
  TSignal started;
  pool->Run([&] {
    started.Add();
    started.WaitFor(2);
  });
  pool->Run([&] {
    started.Add();
    started.WaitFor(2);
  });
  ASSERT_TRUE(started.WaitFor(2));
  ASSERT_TRUE(pool->WaitForIdle(2, std::chrono::seconds(30)));

  std::thread::id first, second, handingOver;
  bool twoWaitedDuringHandOver = true, oneWaitedDuringHandOver = false;
  TSignal ran;
  pool->Run([&] { first = std::this_thread::get_id(); },
            [&] {
              handingOver = std::this_thread::get_id();
              twoWaitedDuringHandOver = pool->WaitForIdle(2, std::chrono::milliseconds(100));
              oneWaitedDuringHandOver = pool->WaitForIdle(1, std::chrono::seconds(30));
              pool->Run([&] {
                second = std::this_thread::get_id();
                ran.Add();
              });
            });
  ASSERT_TRUE(ran.WaitFor(1));
  EXPECT_EQ(handingOver, first);
  EXPECT_EQ(second, first);
  EXPECT_FALSE(twoWaitedDuringHandOver);
  EXPECT_TRUE(oneWaitedDuringHandOver);
  ASSERT_TRUE(pool->WaitForIdle(2, std::chrono::seconds(30)));
  pool->ReleaseIdle();
}
