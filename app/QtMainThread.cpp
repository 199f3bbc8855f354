#include "app/QtMainThread.h"

#include <QCoreApplication>
#include <QThread>
#include <exception>

namespace tarvok {

TQtMainThread::TQtMainThread() : FState(std::make_shared<TState>()), FReceiver(std::make_unique<QObject>()) {}

TQtMainThread::~TQtMainThread() { Close(); }

void TQtMainThread::Close() {
  {
    std::lock_guard lock(FState->Lock);
    FState->Closed = true;
  }
  FState->Done.notify_all();
}

bool TQtMainThread::Closed() const {
  std::lock_guard lock(FState->Lock);
  return FState->Closed;
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
  {
    std::lock_guard lock(state->Lock);
    if (state->Closed) return;
  }
  // The step is referenced, not copied: the worker waits below until it has run or
  // until Close(), and after Close() the queued call never touches it.
  const std::function<void()>* step = &AStep;
  QMetaObject::invokeMethod(
      FReceiver.get(),
      [state, task, step] {
        {
          std::lock_guard lock(state->Lock);
          if (state->Closed) return;
        }
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
      },
      Qt::QueuedConnection);
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
  if (Closed()) return;  // dropped here, unrun
  // A step still queued when Close() runs is destroyed when its event is, unrun.
  auto step = std::make_shared<std::function<void()>>(std::move(AStep));
  QMetaObject::invokeMethod(
      FReceiver.get(),
      [state = FState, step] {
        {
          std::lock_guard lock(state->Lock);
          if (state->Closed) return;
        }
        try {
          (*step)();
        } catch (...) {
        }
      },
      Qt::QueuedConnection);
}

}  // namespace tarvok
