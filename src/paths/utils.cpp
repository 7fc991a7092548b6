#include "paths/utils.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <vector>

#include "paths/platform.h"
#include "paths/utf8.h"

// ---------------------------------------------------------------------------
// text helpers
// ---------------------------------------------------------------------------

static char UpChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
static char LowChar(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
// Blanks and control characters; bytes above 127 are text, not space.
static bool IsTrimmed(char c) { return uint8_t(c) <= ' '; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsTrimmed(s[b])) ++b;
  while (e > b && IsTrimmed(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string UpperCase(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = UpChar(c);
  return r;
}

std::string LowerCase(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = LowChar(c);
  return r;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpChar(a[i]) != UpChar(b[i])) return false;
  return true;
}

bool SameTextTrim(const std::string& a, const std::string& b) { return SameText(Trim(a), Trim(b)); }

// 0-based index of part in text from 'from' on, npos when absent or part empty.
static size_t FindAt(const std::string& part, const std::string& text, size_t from, bool ignoreCase) {
  if (part.empty() || part.size() > text.size()) return std::string::npos;
  for (size_t i = from; i + part.size() <= text.size(); ++i) {
    size_t k = 0;
    if (ignoreCase) {
      while (k < part.size() && UpChar(text[i + k]) == UpChar(part[k])) ++k;
    } else {
      while (k < part.size() && text[i + k] == part[k]) ++k;
    }
    if (k == part.size()) return i;
  }
  return std::string::npos;
}

std::string TextBefore(const std::string& text, const std::string& sep, const std::string& def) {
  size_t p = FindAt(sep, text, 0, false);
  return p == std::string::npos ? def : text.substr(0, p);
}

std::string TextAfter(const std::string& text, const std::string& sep, const std::string& def) {
  size_t p = FindAt(sep, text, 0, false);
  return p == std::string::npos ? def : text.substr(p + sep.size());
}

std::string StripQuotes(const std::string& text, char quote, bool force, bool single) {
  if (text.size() == 1 && text[0] == quote) return "";
  if (text.size() < 2) return text;
  if (!force && !(text.front() == quote && text.back() == quote)) return text;
  size_t b = 0, e = text.size();
  if (single) {
    if (text[b] == quote) ++b;
    if (e > b && text[e - 1] == quote) --e;
  } else {
    while (b < e && text[b] == quote) ++b;
    while (e > b && text[e - 1] == quote) --e;
  }
  return text.substr(b, e - b);
}

std::string TrimStripQuotes(const std::string& text) { return StripQuotes(Trim(text), '"', false, false); }

static std::string ReplaceImpl(const std::string& text, const std::string& find, const std::string& repl,
                               bool ignoreCase) {
  if (find.empty()) return text;
  std::string r;
  size_t from = 0;
  for (;;) {
    size_t p = FindAt(find, text, from, ignoreCase);
    if (p == std::string::npos) break;
    r.append(text, from, p - from);
    r += repl;
    from = p + find.size();
  }
  r.append(text, from, std::string::npos);
  return r;
}

std::string ReplaceText(const std::string& text, const std::string& find, const std::string& repl) {
  return ReplaceImpl(text, find, repl, false);
}

std::string ReplaceTextNoCase(const std::string& text, const std::string& find, const std::string& repl) {
  return ReplaceImpl(text, find, repl, true);
}

int PosText(const std::string& part, const std::string& text) {
  size_t p = FindAt(part, text, 0, false);
  return p == std::string::npos ? 0 : int(p + 1);
}

int PosNoCase(const std::string& part, const std::string& text) {
  size_t p = FindAt(part, text, 0, true);
  return p == std::string::npos ? 0 : int(p + 1);
}

int PosFrom(const std::string& part, const std::string& text, int start, bool ignoreCase) {
  if (start < 1) start = 1;
  if (size_t(start) > text.size()) return 0;
  size_t p = FindAt(part, text, size_t(start - 1), ignoreCase);
  return p == std::string::npos ? 0 : int(p + 1);
}

int LastPos(const std::string& part, const std::string& text) {
  if (part.empty() || part.size() > text.size()) return 0;
  size_t p = text.rfind(part);
  return p == std::string::npos ? 0 : int(p + 1);
}

int LastPosNoCaseFromEnd(const std::string& part, const std::string& text) {
  return PosNoCase(ReverseText(part), ReverseText(text));
}

bool StartsWith(const std::string& part, const std::string& text, bool ignoreCase) {
  if (part.size() > text.size()) return false;
  std::string head = text.substr(0, part.size());
  return ignoreCase ? SameText(head, part) : head == part;
}

bool EndsWith(const std::string& part, const std::string& text, bool ignoreCase) {
  if (part.size() > text.size()) return false;
  std::string tail = text.substr(text.size() - part.size());
  return ignoreCase ? SameText(tail, part) : tail == part;
}

std::string ReverseText(const std::string& s) { return std::string(s.rbegin(), s.rend()); }

std::string PadLeft(const std::string& s, int width, char ch) {
  if (width <= 0 || s.size() >= size_t(width)) return s;
  return std::string(size_t(width) - s.size(), ch) + s;
}

std::string ZeroPad(int64_t n, int width) {
  // The sign stays in front of the zeros ("-05", not "0-5").
  if (n < 0) {
    std::string r = PadLeft(IntToStr(n).substr(1), width - 1, '0');
    r.insert(r.begin(), '-');
    return r;
  }
  return PadLeft(IntToStr(n), width, '0');
}

std::string ReplaceChar(const std::string& s, char a, char b) {
  if (a == b) return s;
  std::string r = s;
  for (char& c : r)
    if (c == a) c = b;
  return r;
}

std::string BoolText(bool b) { return b ? "TRUE" : "FALSE"; }

uint64_t HexToInt(const std::string& text) {
  std::string t = UpperCase(Trim(text));
  size_t i = 0;
  if (t.size() >= 2 && t[0] == '0' && t[1] == 'X') i = 2;
  uint64_t v = 0;
  // Stops at the first character that is not a hexadecimal digit.
  for (; i < t.size(); ++i) {
    char c = t[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      break;
    v = (v << 4) | uint64_t(d);
  }
  return v;
}

bool TryStrToInt64(const std::string& text, int64_t& out) {
  std::string t = Trim(text);
  size_t i = 0;
  bool neg = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    neg = t[i] == '-';
    ++i;
  }
  if (i >= t.size()) return false;
  // Accumulate as a negative number so that INT64_MIN is representable.
  int64_t v = 0;
  const int64_t lim = INT64_MIN;
  for (; i < t.size(); ++i) {
    char c = t[i];
    if (c < '0' || c > '9') return false;
    int d = c - '0';
    if (v < (lim + d) / 10) return false;
    v = v * 10 - d;
  }
  if (!neg) {
    if (v == INT64_MIN) return false;
    v = -v;
  }
  out = v;
  return true;
}

int64_t StrToInt64Def(const std::string& text, int64_t def) {
  int64_t v;
  return TryStrToInt64(text, v) ? v : def;
}

std::string IntToStr(int64_t n) { return std::to_string(static_cast<long long>(n)); }

int64_t RandomRange(int64_t low, int64_t high) {
  if (low > high) std::swap(low, high);
  // Seeded once from the clocks and the process id; reseeding on every call
  // would repeat the same number for calls within one clock tick. SplitMix64:
  // these numbers only name folders and stand in for unreadable tokens.
  static uint64_t state =
      (uint64_t(std::time(nullptr)) << 20) ^ TickCount() ^ (uint64_t(CurrentProcessId()) << 40);
  state += 0x9E3779B97F4A7C15ull;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  uint64_t span = uint64_t(high) - uint64_t(low) + 1;  // 0: the whole 64-bit range
  return span == 0 ? int64_t(z) : int64_t(uint64_t(low) + z % span);
}

std::string FixedText(double value, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 9) decimals = 9;
  uint64_t scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  if (!(value > 0)) value = 0;  // also NaN
  double scaled = value * double(scale) + 0.5;
  if (scaled > 1.8e19) scaled = 1.8e19;  // stays within 64 bits
  uint64_t n = uint64_t(scaled);
  std::string text = std::to_string(n / scale);
  if (decimals > 0) {
    std::string frac = std::to_string(n % scale);
    text += "." + std::string(size_t(decimals) - frac.size(), '0') + frac;
  }
  return text;
}

std::string RandomRangeText(int64_t low, int64_t high) { return IntToStr(RandomRange(low, high)); }

// ---------------------------------------------------------------------------
// delimited lists
// ---------------------------------------------------------------------------

// Items that are closed by a separator; a trailing unclosed piece is not one.
static std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  if (list.empty()) return items;
  char sep = list[0];
  size_t start = 1;
  for (size_t i = 1; i < list.size(); ++i) {
    if (list[i] == sep) {
      items.push_back(list.substr(start, i - start));
      start = i + 1;
    }
  }
  return items;
}

int ListCount(const std::string& list) {
  if (list.empty() || list.front() != list.back()) return 0;
  int n = 0;
  for (size_t i = 1; i < list.size(); ++i)
    if (list[i] == list[0]) ++n;
  return n;
}

std::string ListItem(const std::string& list, int index, const std::string& def) {
  if (list.empty() || index < 0) return def;
  char sep = list[0];
  size_t p = 0;
  for (int i = 0; i < index; ++i) {
    p = list.find(sep, p + 1);
    if (p == std::string::npos) return def;
  }
  size_t q = list.find(sep, p + 1);
  if (q == std::string::npos || q == p + 1) return def;
  return list.substr(p + 1, q - p - 1);
}

int64_t ListItemInt(const std::string& list, int index, int64_t def) {
  return StrToInt64Def(ListItem(list, index, ""), def);
}

std::string SetListItem(const std::string& list, int index, const std::string& value) {
  if (index < 0) return list;
  std::vector<std::string> items = SplitList(list.empty() ? std::string("|") : list);
  if (size_t(index) >= items.size()) items.resize(size_t(index) + 1);
  items[size_t(index)] = value;
  static const char kSeps[] = {'|', '^', '!', '~', '@', '#', '$', '&', '*', char(0xFF)};
  char sep = '\0';
  for (char c : kSeps) {
    bool used = false;
    for (const std::string& it : items)
      if (it.find(c) != std::string::npos) {
        used = true;
        break;
      }
    if (!used) {
      sep = c;
      break;
    }
  }
  std::string r(1, sep);
  for (const std::string& it : items) {
    r += it;
    r += sep;
  }
  return r;
}

std::string ListValue(const std::string& list, const std::string& key, const std::string& def,
                      const std::string& defEmpty) {
  if (list.size() <= 2 || list.front() != list.back()) return def;
  const char s = list[0];
  std::string search = std::string(1, s) + key;
  if (key.empty() || key.back() != '=') search += '=';
  std::string work = ReplaceText(list, std::string(1, s) + " ", std::string(1, s));
  work = ReplaceText(work, " =", "=");
  size_t p = FindAt(search, work, 0, true);
  if (p == std::string::npos) return def;
  size_t from = p + search.size();
  size_t to = work.find(s, from);
  std::string v = work.substr(from, to == std::string::npos ? std::string::npos : to - from);
  return v.empty() ? defEmpty : v;
}

// ---------------------------------------------------------------------------
// command line
// ---------------------------------------------------------------------------

static std::string& RawCmd() {
  static std::string s;
  return s;
}
static std::string& ExePath() {
  static std::string s;
  return s;
}

void SetProcessCommandLine(const std::string& rawCommandLine, const std::string& exePath) {
  RawCmd() = rawCommandLine;
  ExePath() = exePath;
}

const std::string& RawCommandLine() { return RawCmd(); }
const std::string& OwnExePath() { return ExePath(); }

std::string CommandTailOf(const std::string& rawCommandLine, const std::string& exePath) {
  // The program's path can only stand at the start; an argument that happens
  // to name the same file (a volume, an origin) must never be cut out.
  std::string t = Trim(rawCommandLine);
  if (!exePath.empty()) {
    std::string quoted = "\"" + exePath + "\"";
    if (StartsWith(quoted, t, true)) return Trim(t.substr(quoted.size()));
    if (StartsWith(exePath, t, true) && (t.size() == exePath.size() || IsTrimmed(t[exePath.size()])))
      return Trim(t.substr(exePath.size()));
  }
  // The program was started under another spelling of its path (relative,
  // short name): drop the first argument instead, so the program name never
  // reaches the switches or a command line built from the tail. A switch
  // there is no program name (a command line that omits it): it stays.
  if (!t.empty() && t[0] == '/') return t;
  size_t i = 0;
  if (!t.empty() && t[0] == '"') {
    size_t q = t.find('"', 1);
    i = q == std::string::npos ? t.size() : q + 1;
  } else {
    while (i < t.size() && !IsTrimmed(t[i])) ++i;
  }
  return Trim(t.substr(i));
}

std::string SwitchValueIn(const std::string& tail, const std::string& sw) {
  size_t p = FindAt(sw, tail, 0, true);
  if (p == std::string::npos) return "";
  std::string r = tail.substr(p + sw.size());
  if (r.empty()) return "TRUE";
  if (r[0] == '"') {
    r.erase(0, 1);
    size_t q = r.find('"');
    if (q != std::string::npos) r.resize(q);
  } else {
    size_t b = r.find(' ');
    if (b != std::string::npos) r.resize(b);
    size_t s = r.find('/');
    if (s != std::string::npos) r.resize(s);
  }
  return Trim(r);
}

bool SwitchPresentIn(const std::string& tail, const std::string& sw) {
  return FindAt(sw, tail, 0, true) != std::string::npos;
}

int64_t SwitchIntIn(const std::string& tail, const std::string& sw, int64_t def) {
  return StrToInt64Def(SwitchValueIn(tail, sw), def);
}

std::string CommandTail() { return CommandTailOf(RawCommandLine(), OwnExePath()); }
std::string SwitchValue(const std::string& sw) { return SwitchValueIn(CommandTail(), sw); }
bool SwitchPresent(const std::string& sw) { return SwitchPresentIn(CommandTail(), sw); }
int64_t SwitchInt(const std::string& sw, int64_t def) { return SwitchIntIn(CommandTail(), sw, def); }

// ---------------------------------------------------------------------------
// paths
// ---------------------------------------------------------------------------

// True when the last character is a real backslash, not the trail byte of a
// double-byte character. Only a path from an 8-bit source can hold one: in
// UTF-8 no byte of a longer character is a backslash.
static bool EndsWithBackslash(const std::string& p) {
  if (p.empty() || p.back() != '\\') return false;
  return p.size() < 2 || !IsLeadByte(uint8_t(p[p.size() - 2])) || IsValidUtf8(p);
}

std::string QuoteIfBlank(const std::string& path) {
  if (path.find(' ') == std::string::npos) return path;
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') return path;
  return "\"" + path + "\"";
}

std::string NormalizeDirSlash(const std::string& path, bool add) {
  // An empty folder stays empty: "\" would silently mean the drive's root.
  if (path.empty()) return path;
  std::string r = path;
  if (r.size() > 2 && EndsWithBackslash(r)) r.pop_back();
  // Never double a backslash that is still there ("\" would become "\\").
  if (add && !EndsWithBackslash(r)) r += '\\';
  return r;
}

std::string RemoveTrailingBackslash(const std::string& path) {
  if (path == "\\") return "";
  if (path.size() >= 2 && EndsWithBackslash(path)) return path.substr(0, path.size() - 1);
  return path;
}

std::string CollapseDoubleSlashes(const std::string& text, bool removeTrailing) {
  if (text.size() <= 2) return text;
  std::string t = text;
  const size_t n = t.size();
  const bool framed = t.front() == t.back();
  const char d = t.front();
  const bool eightBit = !IsValidUtf8(t);
  // 1-based j: the pair stands at j and j+1; erasing at j leaves j-1 and
  // everything before it in place, so walking downwards is safe.
  for (size_t j = n - 2; j >= 3; --j) {
    if (t[j - 1] != '\\' || t[j] != '\\') continue;
    char before = t[j - 2];
    if (eightBit && IsLeadByte(uint8_t(before))) continue;
    if (framed && before == d) continue;
    t.erase(j - 1, 1);
  }
  // A pair at positions 2 and 3 always goes, unless it is the text's last pair.
  if (t.size() > 3 && t[1] == '\\' && t[2] == '\\') t.erase(1, 1);
  if (removeTrailing) t = RemoveTrailingBackslash(t);
  return t;
}

static size_t LastSlash(const std::string& path) { return path.find_last_of("\\/"); }

std::string ExtractFileName(const std::string& path) {
  size_t p = path.find_last_of("\\/:");
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractFileDir(const std::string& path) {
  size_t p = path.find_last_of("\\/:");
  if (p == std::string::npos) return "";
  if (path[p] == ':') return path.substr(0, p + 1);  // "C:name" lives in "C:"
  return path.substr(0, p);
}

std::string ExtractFileExt(const std::string& path) {
  size_t dot = path.rfind('.');
  if (dot == std::string::npos) return "";
  size_t sl = path.find_last_of("\\/:");
  if (sl != std::string::npos && sl > dot) return "";
  return path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  std::string e = ExtractFileExt(path);
  return path.substr(0, path.size() - e.size()) + ext;
}

std::string OwnFolder(bool trailingSlash) {
  const std::string& exe = OwnExePath();
  size_t p = LastSlash(exe);
  if (p == std::string::npos) return "";
  return NormalizeDirSlash(exe.substr(0, p + 1), trailingSlash);
}

// ---------------------------------------------------------------------------
// registry paths
// ---------------------------------------------------------------------------

uint32_t RegRootKey(const std::string& name) {
  static const struct {
    const char* name;
    const char* abbr;
    uint32_t key;
  } kRoots[] = {
      {"HKEY_CLASSES_ROOT", "HKCR", 0x80000000u},  {"HKEY_CURRENT_USER", "HKCU", 0x80000001u},
      {"HKEY_LOCAL_MACHINE", "HKLM", 0x80000002u}, {"HKEY_USERS", "HKU", 0x80000003u},
      {"HKEY_CURRENT_CONFIG", "HKCC", 0x80000005u}, {"HKEY_DYN_DATA", "HKDD", 0x80000006u},
  };
  std::string u = UpperCase(name);
  for (const auto& r : kRoots)
    if (u == r.name || u == r.abbr) return r.key;
  return 0x80000001u;
}

void SplitRegPath(const std::string& path, uint32_t& root, std::string& subKey) {
  std::string p = Trim(path);
  root = 0x80000001u;
  subKey = p;
  if (!StartsWith("HK", p, true)) return;
  size_t b = p.find('\\');
  if (b == std::string::npos) {
    root = RegRootKey(p);
    subKey.clear();
  } else {
    root = RegRootKey(p.substr(0, b));
    subKey = p.substr(b + 1);
  }
}

// ---------------------------------------------------------------------------
// scrambling
// ---------------------------------------------------------------------------

std::string ScrambleText(const std::string& text, bool encode) {
  static const std::string kMarker = "Scrambled=01";
  int k = int(RandomRange(0, 89));
  bool marked = text.compare(0, kMarker.size(), kMarker) == 0 && text.size() >= kMarker.size();
  if (marked == encode) return text;
  k += 33;
  std::string body = text;
  if (!encode) {
    // The marker without a key character holds nothing.
    if (text.size() <= kMarker.size()) return "";
    k = uint8_t(text[kMarker.size()]);
    body = text.substr(kMarker.size() + 1);
  }
  for (size_t i = 0; i < body.size(); ++i) {
    int s = (i % 2 == 0) ? k : -k;
    body[i] = char(uint8_t(body[i]) ^ uint8_t((int(i) + s + 1) & 0xFF));
  }
  if (encode) return kMarker + char(k) + body;
  return body;
}

// ---------------------------------------------------------------------------
// time
// ---------------------------------------------------------------------------

static ClockFn g_clock = nullptr;

void SetClock(ClockFn fn) { g_clock = fn; }

// Days from 1970-01-01 of a proleptic Gregorian date.
static int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

static void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = int(doy - (153 * mp + 2) / 5 + 1);
  m = int(mp < 10 ? mp + 3 : mp - 9);
  y = int(yoe + era * 400 + (m <= 2));
}

// 1899-12-30 counted from 1970-01-01.
static const int64_t kEpochShift = -25569;

static double LibraryLocalNow() {
  using namespace std::chrono;
  auto now = system_clock::now();
  std::time_t t = system_clock::to_time_t(now);
  std::tm* lt = std::localtime(&t);
  if (!lt) return 0;
  int ms = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  if (ms < 0) ms += 1000;
  return EncodeDateTime(lt->tm_year + 1900, lt->tm_mon + 1, lt->tm_mday, lt->tm_hour, lt->tm_min, lt->tm_sec) +
         ms / 86400000.0;
}

double NowDateTime() {
  if (g_clock) return g_clock();
  if (Platform().localNow) return Platform().localNow();
  return LibraryLocalNow();
}

int64_t NowSeconds() { return int64_t(std::llround(NowDateTime() * 86400.0)); }

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second) {
  int64_t days = DaysFromCivil(year, month, day) - kEpochShift;
  return double(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

void DecodeDateTime(double dt, int& year, int& month, int& day, int& hour, int& minute, int& second) {
  // Nearest millisecond first, then whole seconds cut off: 09.9996 s is
  // 10 s, 09.7 s is 9 s.
  int64_t ms = int64_t(std::llround(dt * 86400000.0));
  int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
  int64_t secs = (ms - days * 86400000) / 1000;
  CivilFromDays(days + kEpochShift, year, month, day);
  hour = int(secs / 3600);
  minute = int(secs / 60 % 60);
  second = int(secs % 60);
}

static std::string Two(int v) { return ZeroPad(v, 2); }

std::string DateStampText(double dt) {
  int y, mo, d, h, mi, s;
  DecodeDateTime(dt, y, mo, d, h, mi, s);
  return Two(d) + "-" + ListItem("||JAN|FEB|MAR|APR|MAY|JUN|JUL|AUG|SEP|OCT|NOV|DEC|", mo, "") + "-" + ZeroPad(y, 4);
}

std::string LogTimeStamp(double dt) {
  int y, mo, d, h, mi, s;
  DecodeDateTime(dt, y, mo, d, h, mi, s);
  return DateStampText(dt) + "  " + Two(h) + ":" + Two(mi) + ":" + Two(s);
}

std::string ShortTimeStamp(double dt, char dateSep, char timeSep) {
  int y, mo, d, h, mi, s;
  DecodeDateTime(dt, y, mo, d, h, mi, s);
  int yy = ((y % 100) + 100) % 100;
  return Two(d) + dateSep + Two(mo) + dateSep + Two(yy) + " " + Two(h) + timeSep + Two(mi) + timeSep + Two(s);
}

uint32_t DateTimeToDos(double dt) {
  int y, mo, d, h, mi, s;
  DecodeDateTime(dt, y, mo, d, h, mi, s);
  // DOS stamps cover 1980..2107; clamp instead of wrapping into a wrong year.
  if (y < 1980) return (1u << 5 | 1u) << 16;
  if (y > 2107) return (uint32_t(127) << 9 | 12u << 5 | 31u) << 16 | (23u << 11 | 59u << 5 | 29u);
  uint32_t date = uint32_t(y - 1980) << 9 | uint32_t(mo) << 5 | uint32_t(d);
  uint32_t time = uint32_t(h) << 11 | uint32_t(mi) << 5 | uint32_t(s / 2);
  return date << 16 | time;
}

double DosToDateTime(uint32_t dos) {
  int y = int(dos >> 25) + 1980;
  int mo = int(dos >> 21) & 15;
  int d = int(dos >> 16) & 31;
  int h = int(dos >> 11) & 31;
  int mi = int(dos >> 5) & 63;
  int s = int(dos & 31) * 2;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (mo < 1 || mo > 12 || d < 1 || h > 23 || mi > 59 || s > 59) return 0;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kDays[mo - 1] + (mo == 2 && leap ? 1 : 0)) return 0;
  return EncodeDateTime(y, mo, d, h, mi, s);
}
