#pragma once
// Worker steps on the Qt main thread. A step is queued to the main event loop and the
// worker waits for it (or, handed over, does not); once Close() has run, every waiting or later step is dropped,
// so a request that outlives the window neither hangs nor reaches freed objects.

#include <QEvent>
#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "core/MainThread.h"

namespace tarvok {

class TQtMainThread : public TMainThread {
 public:
  // Constructed on the main thread. Workers keep a reference, so the object must live
  // as long as any worker can: the program keeps one for its whole run.
  TQtMainThread();
  ~TQtMainThread() override;

  void Synchronize(const std::function<void()>& AStep) override;
  void Queue(std::function<void()> AStep) override;
  // Main thread only: from now on steps are dropped and waiting workers are released.
  void Close();
  bool Closed() const;

 private:
  // Steps wait here, in order, under the lock; each is announced by one event to the
  // receiver. The step itself never travels inside Qt's event: Qt's own queue is locked
  // where a thread checker cannot see it, while this lock orders everything a worker
  // wrote before queueing a step before the step's run, for the checker as for the CPU.
  struct TState {
    mutable std::mutex Lock;
    std::condition_variable Done;
    bool Closed = false;
    std::deque<std::function<void()>> Pending;
  };
  class TReceiver;
  void Post(std::function<void()> AStep);
  std::shared_ptr<TState> FState;
  std::unique_ptr<QObject> FReceiver;
  std::unique_ptr<QEvent> FAnnouncement;  // made here, copied for each step
};

}  // namespace tarvok
