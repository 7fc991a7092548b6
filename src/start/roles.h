// The pure rules of the start-up: which role a start plays, the window class
// names the instances meet by, and the command lines they start each other with.
#pragma once
#include <string>

// File name with every extension removed (everything from the first ".").
std::string StripAllExtensions(const std::string& fileName);

std::string StubClassNameFor(bool isUpdateAgent, const std::string& exePath);
std::string XCopyClassName(const std::string& agentExeName);  // ".AutoUpdate.X_" + name w/o extensions
bool IsPlainAgent(bool isUpdateAgent, const std::string& exeName, const std::string& agentExeName);
bool IsXAgent(bool isUpdateAgent, const std::string& exeName, const std::string& agentExeName);

// Arguments handed to a new X_ copy: " /TRANSIENTx=" + transient, replaced by
// " /SleepX=" + delay when a delay is given.
std::string XCopyArguments(const std::string& transient, const std::string& delay);
// Command line of the Y_ copy of a spanned-CD setup; originExe (default
// exePath) is the form of the path the engine is given.
std::string SpanRelaunchCommandLine(const std::string& yPath, const std::string& commandTail,
                                    const std::string& exePath, const std::string& originExe = "");
// "/WM_MSG=H:N": window handle and message number (0 where missing).
void ParseWmMsg(const std::string& value, long long& handle, long long& message);
