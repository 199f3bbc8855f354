#pragma once
// Stopping CLI runs. Each run has a stop token that the console runner's wait checks
// between its passes: a stopped run ends its process group and its worker removes the
// working folder. The registry knows every run still going, so that closing the window
// ends them all and waits until nothing of theirs is left.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "core/StopToken.h"

namespace tarvok {

class TCliRuns {
 public:
  static TCliRuns& Instance();

  // A token for a request about to be sent; the registry knows it from now on.
  TStopTokenPtr NewToken();
  // The run is about to make its folder and start the CLI. False when its token was
  // stopped already: the run must then start nothing.
  bool Enter(const TStopTokenPtr& AToken);
  // The run has ended its process and removed its folder (or never entered).
  void Leave(const TStopTokenPtr& AToken);
  // Stops every run, those not entered yet included, and waits at most ALimit until
  // every entered run has left. False when some were still going at the limit.
  bool StopAll(std::chrono::milliseconds ALimit);

 private:
  std::mutex FLock;
  std::condition_variable FLeft;
  std::vector<TStopTokenPtr> FPending;  // handed out, not entered yet
  std::vector<TStopTokenPtr> FRunning;  // entered, not left yet
};

}  // namespace tarvok
