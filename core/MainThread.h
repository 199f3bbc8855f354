#pragma once
// How a worker thread reaches the main thread: run a step there and wait, or hand a
// step over without waiting.

#include <functional>

namespace tarvok {

class TMainThread {
 public:
  virtual ~TMainThread() = default;
  // Runs AStep on the main thread and returns when it has finished. Called on the main
  // thread itself, it runs the step at once.
  virtual void Synchronize(const std::function<void()>& AStep) = 0;
  // Hands AStep to the main thread and returns at once; steps run in the order they were
  // handed over, Synchronize's among them. A step the main thread will not run any more
  // (it has closed) is destroyed unrun. Called on the main thread itself, it runs at once.
  // An exception raised by the step is dropped: nobody waits to hear it.
  virtual void Queue(std::function<void()> AStep) = 0;
};

}  // namespace tarvok
