#include "process/waitend.h"

WaitEnd WaitForProcessEndWith(ProcessWaitEnv& env, uint64_t deadline) {
  auto over = [&] { return env.Tick() >= deadline; };
  env.Pump(1000);
  if (env.StopRequested()) return WaitEnd::Stopped;
  uint32_t pid = 0;
  if (env.SnapshotFamily()) {
    for (;;) {
      env.Pump(1000);
      if (env.StopRequested()) return WaitEnd::Stopped;
      if (env.Search(pid) == ProcessSearch::NotFound) return WaitEnd::Ended;
      if (over()) return WaitEnd::TimedOut;
    }
  }
  ProcessSearch found = env.Search(pid);
  while (found == ProcessSearch::ListFailed) {
    if (over()) return WaitEnd::TimedOut;
    env.Pump(1000);
    if (env.StopRequested()) return WaitEnd::Stopped;
    found = env.Search(pid);
  }
  if (found == ProcessSearch::NotFound) return WaitEnd::Ended;
  // Follow the one process found; another start of the same file later on
  // does not keep the wait going.
  const bool held = env.Hold(pid);
  for (;;) {
    env.Pump(1000);
    if (env.StopRequested()) return WaitEnd::Stopped;
    // A program that ends in the last second counts as ended, not as late.
    if (held ? env.HeldEnded() : env.StillListed(pid) == ProcessSearch::NotFound) return WaitEnd::Ended;
    if (over()) return WaitEnd::TimedOut;
  }
}

WaitEnd AskUntilClosed(AskToCloseEnv& env, uint64_t deadline) {
  for (;;) {
    if (env.StopRequested()) return WaitEnd::Stopped;
    if (!env.Running()) return WaitEnd::Ended;
    const uint64_t now = env.Tick();
    if (now >= deadline) return WaitEnd::TimedOut;
    // A box that a pending quit (or anything else) closed unanswered is not
    // opened again: that loop would spin.
    if (!env.Ask(deadline - now)) return env.StopRequested() ? WaitEnd::Stopped : WaitEnd::Ended;
    // An OK pressed right after closing the program: give it time to go
    // before asking again.
    const uint64_t after = env.Tick();
    if (after < deadline) env.Pump(uint32_t(deadline - after < 1000 ? deadline - after : 1000));
  }
}
