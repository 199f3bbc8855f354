#pragma once
// From the moment a command locks the window for a request until the request is handed to
// its worker, an error (a save that fails, a worker that cannot start) would leave the
// window locked for good. The guard undoes the lock when it goes out of scope before
// HandedOver(): unlocked, the elapsed time stopped, and the command's own undo run.

#include <functional>
#include <utility>

#include "app/MainWindow.h"

namespace tarvok {

class TRequestStartGuard {
 public:
  explicit TRequestStartGuard(TForm1& AForm, std::function<void()> AUndo = {}) : F(AForm), FUndo(std::move(AUndo)) {}
  ~TRequestStartGuard() {
    try {
      Abort();
    } catch (...) {
      // Unwinding already: the error on its way is the one the user sees.
    }
  }
  TRequestStartGuard(const TRequestStartGuard&) = delete;
  TRequestStartGuard& operator=(const TRequestStartGuard&) = delete;

  // The completion unlocks from here on.
  void HandedOver() { FDone = true; }
  // Gives the window back now; nothing is left for the destructor.
  void Abort() {
    if (FDone) return;
    FDone = true;
    F.SetRequestPending(false);
    F.StopElapsedTime();
    if (FUndo) FUndo();
  }

 private:
  TForm1& F;
  std::function<void()> FUndo;
  bool FDone = false;
};

}  // namespace tarvok
