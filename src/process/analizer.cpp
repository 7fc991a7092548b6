#include "process/analizer.h"

#include "paths/utils.h"

const char* const kNoShortForm = "*XX*";
const char* const kNoBareName = "*X*";

TAnalizer::TAnalizer(uint32_t processId) : windows_{}, scores_{}, count_(0), processId_(processId) {}

bool TAnalizer::Add(uintptr_t window) {
  if (count_ >= kMaxWindows) return false;
  windows_[count_] = window;
  scores_[count_] = 0;
  ++count_;
  return true;
}

void TAnalizer::Score(WindowFactsFn facts, void* context) {
  // Facts are read once per window: the owner pass and the title pass both
  // need them, and reading a window's text is a system call.
  static_assert(kMaxWindows * 4 + 3 <= 0xFFFF, "scores must fit 16 bits");
  for (int i = 0; i < count_; ++i) scores_[i] = 0;
  bool titled[kMaxWindows];
  bool visible[kMaxWindows];
  for (int i = 0; i < count_; ++i) {
    WindowFacts f = facts(windows_[i], context);
    titled[i] = f.titled;
    visible[i] = f.visible;
    if (f.rootOwner == 0) continue;
    // A root owner earns a point per window of the process it owns.
    for (int j = 0; j < count_; ++j)
      if (windows_[j] == f.rootOwner) ++scores_[j];
  }
  for (int i = 0; i < count_; ++i) {
    unsigned s = scores_[i] * 4u;
    if (titled[i]) s += 2;
    if (visible[i]) s += 1;
    scores_[i] = static_cast<uint16_t>(s);
  }
}

uintptr_t TAnalizer::Best() const {
  int best = -1;
  unsigned bestScore = 0;
  for (int i = 0; i < count_; ++i) {
    if (scores_[i] > bestScore) {
      bestScore = scores_[i];
      best = i;
    }
  }
  return best < 0 ? 0 : windows_[best];
}

bool IsInputMethodWindowClass(const std::string& className) {
  return SameText(className, "IME") || SameText(className, "MSCTFIME UI");
}

SoughtProcess MakeSoughtProcess(const std::string& name, const std::string& shortForm, bool fullPathOnly) {
  SoughtProcess s;
  s.name = name;
  s.fullPathOnly = fullPathOnly;
  s.shortName = Trim(shortForm).empty() ? std::string(kNoShortForm) : shortForm;
  // An empty name would equal the empty names of processes that could not be
  // read, and a wildcard could equal a sentinel: neither may match anything.
  std::string t = Trim(name);
  s.valid = !t.empty() && t.find_first_of("*?") == std::string::npos;
  return s;
}

bool ProcessMatches(const SoughtProcess& sought, const std::string& procFullPath, const std::string& procBareName,
                    const std::string& procShort) {
  if (!sought.valid) return false;
  if (!Trim(procFullPath).empty() && SameTextTrim(procFullPath, sought.name)) return true;
  const std::string bare = sought.fullPathOnly ? std::string(kNoBareName) : procBareName;
  if (!Trim(bare).empty() && SameTextTrim(bare, sought.name)) return true;
  const std::string procShortForm = Trim(procShort).empty() ? std::string() : procShort;
  return !procShortForm.empty() && SameTextTrim(procShortForm, sought.shortName);
}
