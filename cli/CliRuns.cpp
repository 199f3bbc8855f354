// The registry of CLI runs still going.
#include "cli/CliRuns.h"

#include <algorithm>

namespace tarvok {
namespace {

void Remove(std::vector<TStopTokenPtr>& AList, const TStopTokenPtr& AToken) {
  AList.erase(std::remove(AList.begin(), AList.end(), AToken), AList.end());
}

}  // namespace

TCliRuns& TCliRuns::Instance() {
  static TCliRuns runs;
  return runs;
}

TStopTokenPtr TCliRuns::NewToken() {
  auto token = std::make_shared<TStopToken>();
  std::lock_guard lock(FLock);
  FPending.push_back(token);
  return token;
}

bool TCliRuns::Enter(const TStopTokenPtr& AToken) {
  std::lock_guard lock(FLock);
  Remove(FPending, AToken);
  if (AToken->IsStopped()) return false;
  FRunning.push_back(AToken);
  return true;
}

void TCliRuns::Leave(const TStopTokenPtr& AToken) {
  {
    std::lock_guard lock(FLock);
    Remove(FPending, AToken);
    Remove(FRunning, AToken);
  }
  FLeft.notify_all();
}

bool TCliRuns::StopAll(std::chrono::milliseconds ALimit) {
  std::unique_lock lock(FLock);
  for (const auto& token : FPending) token->Stop();
  for (const auto& token : FRunning) token->Stop();
  FPending.clear();
  return FLeft.wait_for(lock, ALimit, [this] { return FRunning.empty(); });
}

}  // namespace tarvok
