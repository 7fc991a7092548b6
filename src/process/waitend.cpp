#include "process/waitend.h"

namespace {
bool LimitPassed(ProcessWaitEnv& env, uint64_t start, int limitMs) {
  return limitMs >= 1 && env.Tick() - start > uint64_t(limitMs);
}
}  // namespace

void WaitForProcessEndWith(ProcessWaitEnv& env, int timeLimitMs) {
  const uint64_t start = env.Tick();
  env.Pump(1000);
  uint32_t pid = 0;
  if (env.SnapshotFamily()) {
    do {
      env.Pump(1000);
    } while (!LimitPassed(env, start, timeLimitMs) && env.Search(pid) != ProcessSearch::NotFound);
    return;
  }
  ProcessSearch found = env.Search(pid);
  while (found == ProcessSearch::ListFailed) {
    if (LimitPassed(env, start, timeLimitMs)) return;
    env.Pump(1000);
    found = env.Search(pid);
  }
  if (found == ProcessSearch::NotFound) return;
  // Follow the one process found; another start of the same file later on
  // does not keep the wait going.
  const bool held = env.Hold(pid);
  for (;;) {
    env.Pump(1000);
    if (LimitPassed(env, start, timeLimitMs)) return;
    if (held ? env.HeldEnded() : env.StillListed(pid) == ProcessSearch::NotFound) return;
  }
}
