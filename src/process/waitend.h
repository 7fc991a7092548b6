// The waits for another program to end, over seams for the process list, the
// clock and the box that asks the user to close it, so that every way out
// (the program ends, the deadline passes, a stop request comes) can be tested
// on any system. No wait here lasts beyond its deadline.
#pragma once
#include <cstdint>

enum class ProcessSearch { Found, NotFound, ListFailed };

// How a wait ended.
enum class WaitEnd { Ended, TimedOut, Stopped };

// A deadline ms milliseconds after now, held at the end of the clock's range.
inline uint64_t DeadlineAfter(uint64_t now, uint64_t ms) { return ms > UINT64_MAX - now ? UINT64_MAX : now + ms; }

class ProcessWaitEnv {
 public:
  virtual ~ProcessWaitEnv() = default;
  virtual void Pump(uint32_t ms) = 0;  // waits while window messages flow
  virtual uint64_t Tick() = 0;          // milliseconds
  // True once the waiting program was asked to stop; the wait then ends at once.
  virtual bool StopRequested() = 0;
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

// Returns once the program has ended (a list that cannot be read counts as
// "still running"), the deadline on env's clock has passed or a stop was
// requested, checking once a second.
WaitEnd WaitForProcessEndWith(ProcessWaitEnv& env, uint64_t deadline);

// The agent's "Issue a Message Box" shut-down: the user is asked to close the
// program until it has gone.
class AskToCloseEnv {
 public:
  virtual ~AskToCloseEnv() = default;
  virtual void Pump(uint32_t ms) = 0;
  virtual uint64_t Tick() = 0;
  virtual bool StopRequested() = 0;
  virtual bool Running() = 0;
  // Shows the request, closing it by itself after timeoutMs; false when the
  // box was closed without an answer or could not be shown at all.
  virtual bool Ask(uint64_t timeoutMs) = 0;
};

// Asks again after every answer while the program runs, at most once a
// second. Ended: the program has gone, or a box went unanswered (then it is
// not asked again); the caller's wait for the end follows in both cases.
// TimedOut at the deadline (the open box closes then), Stopped on a stop.
WaitEnd AskUntilClosed(AskToCloseEnv& env, uint64_t deadline);
