// The one place where paths (UTF-8 in the portable core) meet the wide
// Win32 functions, and where they are put into 8-bit form for texts and for
// programs that read the ANSI functions.
#pragma once
#include <windows.h>

#include <string>

// UTF-8 -> UTF-16 for a wide function. Bytes that are not UTF-8 are read in
// the ANSI code page (a path that reached here from an 8-bit source).
std::wstring WidePath(const std::string& path);
std::string PathFromWide(const wchar_t* text, int length = -1);
// A path held in the ANSI code page (an unmarked item name, an ANSI value).
std::string PathFromAnsi(const std::string& ansi);
// The path in a code page (CP_ACP for texts and ANSI readers, CP_OEMCP for
// batch files), best-fit mapping off; `exact` tells whether every character
// had its own form there (the others become '?').
std::string PathInCodePage(const std::string& path, UINT codePage, bool* exact = nullptr);
// For a program that reads its command line through the ANSI functions: the
// path itself when the ANSI code page holds it, otherwise its short (8.3)
// form when the file system has one that it holds, otherwise the path.
std::string AnsiReadablePath(const std::string& path);
// 8-bit texts in the ANSI code page to and from UTF-16 (INI names and values).
std::wstring WideFromAnsi(const std::string& text);
std::string AnsiFromWide(const wchar_t* text, int length = -1);
// GetShortPathNameW of an existing path; empty when there is none.
std::string ShortPathOf(const std::string& path);
// A line for the debug channel or the log: paths in it are UTF-8, other
// texts 8-bit. A line that is UTF-8 and fits the ANSI code page is written
// there, byte for byte as before paths were Unicode; one that does not fit
// stays UTF-8, so the reader still sees the real name; any other line is
// written as it is.
std::string LineForAnsiReader(const std::string& line);
