// The two diagnostic outputs: the debug channel (text forwarded to a viewer
// window of class ".ZDebug." in pieces of at most 128 characters) and the log
// file of an update agent. Neither may ever stop the program.
#pragma once
#include <cstdint>
#include <string>

// ---- debug channel ----
void DebugWrite(const std::string& text);     // appends to the 128-character buffer
void DebugLine(const std::string& text);      // text + CR LF
void DebugLinePid(const std::string& text);   // process id in decimal + text + CR LF
void DebugFlush();
// Receives every full buffer and every line end (the piece holds at most 128 characters).
using DebugSendFn = void (*)(const std::string& piece);
// The form a text takes on the debug channel and in the log (the Win32
// layer puts paths into the ANSI code page where it can); default: as is.
using DebugTextFormFn = std::string (*)(const std::string&);
void SetDebugTextForm(DebugTextFormFn fn);
void SetDebugSender(DebugSendFn fn);
// Optional lock around the buffer and the send (true = enter, false = leave);
// the Win32 layer installs a critical section. Must allow re-entry.
using DebugLockFn = void (*)(bool enter);
void SetDebugLock(DebugLockFn fn);

// ---- log file ----
void SetLogSwitch(bool on);
bool LogSwitch();
void SetLogTag(const std::string& tag);  // three characters, "   " at start
const std::string& LogTag();
std::string LogFilePathFor(const std::string& exePath);
std::string LogFilePath();  // for the running executable, fixed at first use
std::string FormatLogLine(double now, uint32_t threadId, const std::string& tag, const std::string& msg,
                          char dateSep = '/', char timeSep = ':');
// Appends one line (open, write, close) when the log switch is on.
void AppendLog(const std::string& msg);
// The platform's shared-mode appender; the default uses the C library.
using LogAppendFn = bool (*)(const std::string& path, const std::string& bytes);
void SetLogAppender(LogAppendFn fn);
void SetLogSeparators(char dateSep, char timeSep);
