// Whether a file opened by name is the file the running program was loaded
// from. The system names both in several forms (a device path, an NT path to
// a drive, a DOS path with the \\?\ prefix, a redirector's path); they are
// brought into one form here, so the rule is tested without Windows.
#pragma once
#include <string>

// The comparable form of one such name (UTF-8): '/' as '\', the prefixes
// \\?\, \??\ and \\.\ gone, every network form (\\?\UNC\, \Device\Mup\ with the
// redirector's ';' parts, \Device\LanmanRedirector\) as \\server\share\...,
// ASCII letters in upper case. The Windows side upper-cases the other
// letters before, with the system's own rules.
std::string ImageNameForm(const std::string& name);

// True when the module's mapped file name names the opened file, that is
// when it has the form of the open file's device path or of its DOS path.
// An empty name matches nothing: a name the system did not give is no proof.
bool IsRunningImage(const std::string& mappedName, const std::string& openedDevicePath,
                    const std::string& openedDosPath);
