// How the agent starts the user's own things (the program's restart, the
// inform window's link). An agent that runs elevated must not hand its
// rights on: what the user starts again, or a handler that any program of
// the user registered for a link, would run as administrator.
#pragma once
#include <string>

enum class StartMethod {
  Direct,         // not elevated: the agent's own rights are the user's
  AsShellUser,    // elevated: with the token of the user's shell (the desktop)
  DirectNoShell,  // elevated, but no shell to take the user's rights from
};
StartMethod ChooseStartMethod(bool elevated, bool shellTokenAvailable);
const char* StartMethodText(StartMethod m);

// The link as one quoted argument for the system's URL handler; false for
// anything but an http or https address, or one with a quote or a control
// character (it could not stay one argument).
bool LinkArgument(const std::string& link, std::string& quoted);
