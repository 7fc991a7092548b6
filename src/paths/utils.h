// General helpers shared by every unit: delimited lists, key=value lists,
// text helpers, the command-line switch parser, path helpers, registry path
// splitting, text scrambling and time stamps. Portable: no <windows.h>.
// Texts are 8-bit strings in the system code page; "ignoring case" folds only
// the ASCII letters; "trimmed" removes blanks and control characters.
#pragma once
#include <cstdint>
#include <string>

// ---- delimited lists ("|a|b|": first character is the separator) ----
int ListCount(const std::string& list);
std::string ListItem(const std::string& list, int index, const std::string& def = "");
int64_t ListItemInt(const std::string& list, int index, int64_t def);
std::string SetListItem(const std::string& list, int index, const std::string& value);
std::string ListValue(const std::string& list, const std::string& key, const std::string& def,
                      const std::string& defEmpty);

// ---- text helpers ----
std::string Trim(const std::string& s);
std::string UpperCase(const std::string& s);  // ASCII letters only
std::string LowerCase(const std::string& s);
bool SameText(const std::string& a, const std::string& b);
bool SameTextTrim(const std::string& a, const std::string& b);
std::string TextBefore(const std::string& text, const std::string& sep, const std::string& def);
std::string TextAfter(const std::string& text, const std::string& sep, const std::string& def);
std::string StripQuotes(const std::string& text, char quote, bool force, bool single);
std::string TrimStripQuotes(const std::string& text);  // trim, then strip double quotes (all)
std::string ReplaceText(const std::string& text, const std::string& find, const std::string& repl);
std::string ReplaceTextNoCase(const std::string& text, const std::string& find, const std::string& repl);
// 1-based positions, 0 when absent.
int PosText(const std::string& part, const std::string& text);
int PosNoCase(const std::string& part, const std::string& text);
int PosFrom(const std::string& part, const std::string& text, int start, bool ignoreCase);
int LastPos(const std::string& part, const std::string& text);
// Case-insensitive last occurrence: position, counted from the end of the
// text, of the occurrence's last character (0 when absent).
int LastPosNoCaseFromEnd(const std::string& part, const std::string& text);
bool StartsWith(const std::string& part, const std::string& text, bool ignoreCase);
bool EndsWith(const std::string& part, const std::string& text, bool ignoreCase);
std::string ReverseText(const std::string& s);
std::string PadLeft(const std::string& s, int width, char ch);
std::string ZeroPad(int64_t n, int width);
std::string ReplaceChar(const std::string& s, char a, char b);
std::string BoolText(bool b);  // "TRUE" / "FALSE"
uint64_t HexToInt(const std::string& text);
bool TryStrToInt64(const std::string& text, int64_t& out);  // decimal, optional sign; trimmed
int64_t StrToInt64Def(const std::string& text, int64_t def);
std::string IntToStr(int64_t n);
// A non-negative value with a fixed number of decimals (0..9), rounded half
// up; negative values and NaN give 0. Written without printf, whose
// floating-point formatter would be linked into the stub.
std::string FixedText(double value, int decimals);
// Seeds the generator from the clock, then a number low..high inclusive.
int64_t RandomRange(int64_t low, int64_t high);
std::string RandomRangeText(int64_t low, int64_t high);

// ---- command line ----
// The process's raw command line and own program path; set once at start by
// the platform layer (tests set them directly).
void SetProcessCommandLine(const std::string& rawCommandLine, const std::string& exePath);
const std::string& RawCommandLine();
const std::string& OwnExePath();
std::string CommandTailOf(const std::string& rawCommandLine, const std::string& exePath);
std::string SwitchValueIn(const std::string& tail, const std::string& sw);
bool SwitchPresentIn(const std::string& tail, const std::string& sw);
int64_t SwitchIntIn(const std::string& tail, const std::string& sw, int64_t def);
// The same over the process's own command tail.
std::string CommandTail();
std::string SwitchValue(const std::string& sw);
bool SwitchPresent(const std::string& sw);
int64_t SwitchInt(const std::string& sw, int64_t def);

// ---- paths ----
// Wraps a program path in double quotes when it holds a blank, so Windows
// cannot take a shorter prefix of it for another program.
std::string QuoteIfBlank(const std::string& path);
std::string NormalizeDirSlash(const std::string& path, bool add);
std::string RemoveTrailingBackslash(const std::string& path);
std::string CollapseDoubleSlashes(const std::string& text, bool removeTrailing = false);
std::string ExtractFileName(const std::string& path);  // after the last '\' or '/' or ':'
std::string ExtractFileDir(const std::string& path);   // before the last '\' or '/' (no trailing '\')
std::string ExtractFileExt(const std::string& path);   // from the last '.' of the file name on
std::string ChangeFileExt(const std::string& path, const std::string& ext);
std::string OwnFolder(bool trailingSlash);  // folder of OwnExePath()

// ---- registry paths ----
uint32_t RegRootKey(const std::string& name);  // 0x80000000.. ; unknown names give HKCU
void SplitRegPath(const std::string& path, uint32_t& root, std::string& subKey);

// ---- scrambling ----
std::string ScrambleText(const std::string& text, bool encode);

// ---- time ----
// Local date-time as days since 30 December 1899 (fractional part = time of day).
using ClockFn = double (*)();
void SetClock(ClockFn fn);  // nullptr restores the platform clock
double NowDateTime();
int64_t NowSeconds();
std::string DateStampText(double dt);  // 06-DEC-2026
std::string LogTimeStamp(double dt);   // 06-DEC-2026  14:05:09
std::string ShortTimeStamp(double dt, char dateSep = '/', char timeSep = ':');  // dd/mm/yy HH:NN:SS
void DecodeDateTime(double dt, int& year, int& month, int& day, int& hour, int& minute, int& second);
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second);
// DOS date/time: date in the high 16 bits, time in the low 16 bits.
uint32_t DateTimeToDos(double dt);
double DosToDateTime(uint32_t dos);
