// Portable half of the process search: the window-scoring analyser that picks
// a process's main top-level window, and the rule that matches a running
// process against a sought executable path or name.
#pragma once
#include <cstdint>
#include <string>

// Facts about one listed window that the scoring needs; the Win32 layer
// reads them from the system, tests make them up.
struct WindowFacts {
  uintptr_t rootOwner = 0;  // last window of the owner chain, 0 without owner
  bool titled = false;      // window text not empty
  bool visible = false;
};
using WindowFactsFn = WindowFacts (*)(uintptr_t window, void* context);

// Collects the top-level windows of one process and scores them: a window
// earns 4 points for every listed window whose root owner it is, 2 for a
// title and 1 for being visible. The best-scored window is the main window.
class TAnalizer {
 public:
  static constexpr int kMaxWindows = 2001;

  explicit TAnalizer(uint32_t processId = 0);

  // Appends a window in enumeration order. Windows beyond the limit are
  // ignored (false), so a process flooding the desktop cannot overrun the list.
  bool Add(uintptr_t window);
  void Score(WindowFactsFn facts, void* context);
  // Highest score, earliest window on ties; 0 when every score is 0.
  uintptr_t Best() const;

  uint32_t ProcessId() const { return processId_; }
  void SetProcessId(uint32_t pid) { processId_ = pid; }
  int Count() const { return count_; }
  uintptr_t Window(int i) const { return windows_[i]; }
  uint16_t ScoreOf(int i) const { return scores_[i]; }

 private:
  uintptr_t windows_[kMaxWindows];
  uint16_t scores_[kMaxWindows];
  int32_t count_;
  uint32_t processId_;
};

// Windows that the system's input methods create in every program with a
// window ("IME", "MSCTFIME UI"). They are hidden and titled, so they would
// outscore a hidden untitled main window, yet they never handle the
// program's messages: the search leaves them out.
bool IsInputMethodWindowClass(const std::string& className);

// Stands in for a short (8.3) form that could not be formed; "*" never
// occurs in a real path, so it equals nothing a process can have.
extern const char* const kNoShortForm;   // "*XX*"
// Stands in for the bare file name when only full paths may match.
extern const char* const kNoBareName;    // "*X*"

// The sought name N prepared once per search.
struct SoughtProcess {
  std::string name;       // N itself
  std::string shortName;  // short form of N, or kNoShortForm
  bool fullPathOnly = false;
  bool valid = false;     // false: N can match no process (empty, or holds wildcards)
};
// shortForm: the platform's short form of N, empty when it could not be formed.
SoughtProcess MakeSoughtProcess(const std::string& name, const std::string& shortForm, bool fullPathOnly);
// True when the process's full path, its bare file name (unless full-path-only)
// or the short form of its full path equals the sought one, trimmed and
// ignoring case. procShort is empty when the short form could not be formed.
bool ProcessMatches(const SoughtProcess& sought, const std::string& procFullPath, const std::string& procBareName,
                    const std::string& procShort);
