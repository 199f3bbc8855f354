#pragma once
// The one way a worker thread reaches the main thread: run a step there and wait.

#include <functional>

namespace tarvok {

class TMainThread {
 public:
  virtual ~TMainThread() = default;
  // Runs AStep on the main thread and returns when it has finished. Called on the main
  // thread itself, it runs the step at once.
  virtual void Synchronize(const std::function<void()>& AStep) = 0;
};

}  // namespace tarvok
