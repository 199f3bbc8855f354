#include "app/QtMainThread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <exception>

namespace tarvok {

namespace {
const QEvent::Type kStepEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}  // namespace

// Runs one waiting step per announcing event, so that a step which opens a dialog lets
// the next ones run in the dialog's loop exactly as queued calls would.
class TQtMainThread::TReceiver : public QObject {
 public:
  explicit TReceiver(std::shared_ptr<TState> AState) : FState(std::move(AState)) {}

  bool event(QEvent* AEvent) override {
    std::function<void()> step;
    {
      // Taken before the event is even looked at: the worker made it before queueing.
      std::lock_guard lock(FState->Lock);
      if (AEvent->type() != kStepEvent) return QObject::event(AEvent);
      if (FState->Closed || FState->Pending.empty()) return true;
      step = std::move(FState->Pending.front());
      FState->Pending.pop_front();
    }
    step();
    return true;
  }

 private:
  std::shared_ptr<TState> FState;
};

TQtMainThread::TQtMainThread()
    : FState(std::make_shared<TState>()),
      FReceiver(std::make_unique<TReceiver>(FState)),
      FAnnouncement(std::make_unique<QEvent>(kStepEvent)) {}

TQtMainThread::~TQtMainThread() { Close(); }

void TQtMainThread::Close() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard lock(FState->Lock);
    FState->Closed = true;
    dropped.swap(FState->Pending);
  }
  FState->Done.notify_all();
  // The dropped steps are destroyed here, unrun and outside the lock.
}

bool TQtMainThread::Closed() const {
  std::lock_guard lock(FState->Lock);
  return FState->Closed;
}

void TQtMainThread::Post(std::function<void()> AStep) {
  // The announcing event is made inside Qt, as a copy of one made on the main thread: an
  // application-wide event filter reads it before the receiver takes the lock, so it
  // carries nothing this thread wrote.
  QEvent* event = FAnnouncement->clone();
  {
    std::lock_guard lock(FState->Lock);
    if (FState->Closed) {
      delete event;
      return;  // dropped here, unrun (destroyed with AStep when this returns)
    }
    FState->Pending.push_back(std::move(AStep));
  }
  QCoreApplication::postEvent(FReceiver.get(), event);
}

void TQtMainThread::Synchronize(const std::function<void()>& AStep) {
  if (QThread::currentThread() == FReceiver->thread()) {
    if (!Closed()) AStep();
    return;
  }
  struct TTask {
    bool Finished = false;
    std::exception_ptr Error;
  };
  auto task = std::make_shared<TTask>();
  auto state = FState;
  // The step is referenced, not copied: the worker waits below until it has run or
  // until Close(), and after Close() the waiting step is dropped unrun.
  const std::function<void()>* step = &AStep;
  Post([state, task, step] {
    try {
      (*step)();
    } catch (...) {
      task->Error = std::current_exception();
    }
    {
      std::lock_guard lock(state->Lock);
      task->Finished = true;
    }
    state->Done.notify_all();
  });
  std::unique_lock lock(state->Lock);
  state->Done.wait(lock, [&] { return task->Finished || state->Closed; });
  if (task->Finished && task->Error) {
    lock.unlock();
    std::rethrow_exception(task->Error);
  }
}

void TQtMainThread::Queue(std::function<void()> AStep) {
  if (QThread::currentThread() == FReceiver->thread()) {
    if (!Closed()) {
      try {
        AStep();
      } catch (...) {
      }
    }
    return;
  }
  Post([step = std::move(AStep)] {
    try {
      step();
    } catch (...) {
    }
  });
}

}  // namespace tarvok
