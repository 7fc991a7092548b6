#include "paths/zdebug.h"

#include <cstdio>

#include "paths/pathio.h"
#include "paths/platform.h"
#include "paths/utils.h"

// ---------------------------------------------------------------------------
// debug channel
// ---------------------------------------------------------------------------

namespace {
const size_t kBufferSize = 128;

std::string g_buffer;
DebugSendFn g_sender = nullptr;
DebugLockFn g_lock = nullptr;
DebugTextFormFn g_form = nullptr;

struct Guard {
  Guard() {
    if (g_lock) g_lock(true);
  }
  ~Guard() {
    if (g_lock) g_lock(false);
  }
};

// Hands the buffer to the sender and empties it first, so that text written
// while the sender works (a window procedure run during a synchronous send)
// starts a fresh buffer instead of corrupting this piece.
void SendBuffer() {
  if (g_buffer.empty()) return;
  std::string piece;
  piece.swap(g_buffer);
  if (g_sender) g_sender(piece);
}
}  // namespace

void SetDebugSender(DebugSendFn fn) { g_sender = fn; }
void SetDebugLock(DebugLockFn fn) { g_lock = fn; }
void SetDebugTextForm(DebugTextFormFn fn) { g_form = fn; }

void DebugWrite(const std::string& original) {
  Guard guard;
  // Whole texts are converted, before they are cut into pieces.
  const std::string text = g_form ? g_form(original) : original;
  size_t from = 0;
  while (from < text.size()) {
    size_t room = kBufferSize - g_buffer.size();
    size_t take = text.size() - from < room ? text.size() - from : room;
    g_buffer.append(text, from, take);
    from += take;
    if (g_buffer.size() >= kBufferSize) SendBuffer();
  }
}

void DebugLine(const std::string& text) {
  Guard guard;
  DebugWrite(text + "\r\n");
  SendBuffer();
}

void DebugLinePid(const std::string& text) { DebugLine(PidText() + text); }

void DebugFlush() {
  Guard guard;
  SendBuffer();
}

// ---------------------------------------------------------------------------
// log file
// ---------------------------------------------------------------------------

namespace {
bool g_logSwitch = false;
std::string g_logTag = "   ";
std::string g_logPath;
char g_dateSep = '/';
char g_timeSep = ':';

bool LibraryAppend(const std::string& path, const std::string& bytes) {
  std::FILE* f = OpenPath(path, "ab");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0) ok = false;
  return ok;
}

LogAppendFn g_appender = LibraryAppend;
}  // namespace

void SetLogSwitch(bool on) { g_logSwitch = on; }
bool LogSwitch() { return g_logSwitch; }
void SetLogTag(const std::string& tag) { g_logTag = tag; }
const std::string& LogTag() { return g_logTag; }

std::string LogFilePathFor(const std::string& exePath) {
  size_t p = exePath.find_last_of("\\/");
  std::string folder = p == std::string::npos ? "" : exePath.substr(0, p + 1);
  std::string name = p == std::string::npos ? exePath : exePath.substr(p + 1);
  // Exact case on purpose: Tool.exe and X_Tool.exe share X_Tool.log.
  if (name.compare(0, 2, "X_") != 0) name = "X_" + name;
  return folder + ChangeFileExt(name, ".log");
}

std::string LogFilePath() {
  // Fixed by the first use that knows the program's path.
  if (g_logPath.empty() && !OwnExePath().empty()) g_logPath = LogFilePathFor(OwnExePath());
  return g_logPath;
}

std::string FormatLogLine(double now, uint32_t threadId, const std::string& tag, const std::string& msg,
                          char dateSep, char timeSep) {
  return ShortTimeStamp(now, dateSep, timeSep) + " " + PadLeft(std::to_string(threadId), 5, ' ') + tag + msg +
         "\r\n";
}

void AppendLog(const std::string& msg) {
  if (!g_logSwitch) return;
  std::string path = LogFilePath();
  if (path.empty() || !g_appender) return;
  // A line that cannot be written is dropped; the next one tries again.
  g_appender(path, FormatLogLine(NowDateTime(), CurrentThreadId(), g_logTag, g_form ? g_form(msg) : msg, g_dateSep,
                                 g_timeSep));
}

void SetLogAppender(LogAppendFn fn) { g_appender = fn ? fn : LibraryAppend; }

void SetLogSeparators(char dateSep, char timeSep) {
  g_dateSep = dateSep;
  g_timeSep = timeSep;
}
