// The wait for another program to end, over a seam for the process list and
// the clock, so that a list that cannot be read and a process id taken over
// by another program can be tested on any system.
#pragma once
#include <cstdint>

enum class ProcessSearch { Found, NotFound, ListFailed };

class ProcessWaitEnv {
 public:
  virtual ~ProcessWaitEnv() = default;
  virtual void Pump(uint32_t ms) = 0;  // waits while window messages flow
  virtual uint64_t Tick() = 0;          // milliseconds
  // True on the 95 family, whose snapshot names every process by path.
  virtual bool SnapshotFamily() = 0;
  // Looks for the program; `pid` is set when it was found.
  virtual ProcessSearch Search(uint32_t& pid) = 0;
  // Keeps the process open, so that its id cannot pass to another process;
  // false when it cannot be opened.
  virtual bool Hold(uint32_t pid) = 0;
  virtual bool HeldEnded() = 0;
  // Found while the list holds pid and pid still runs the program; NotFound
  // when it has gone or its id now belongs to another program.
  virtual ProcessSearch StillListed(uint32_t pid) = 0;
};

// Returns once the program has ended, checking once a second; a list that
// cannot be read counts as "still running". timeLimitMs <= 0: no limit.
void WaitForProcessEndWith(ProcessWaitEnv& env, int timeLimitMs);
