// Opening a file by path with the C library. Paths are UTF-8 (utf8.h); on
// Windows the C library's fopen reads its argument in the ANSI code page, so
// there the path goes through the wide _wfopen instead.
#pragma once
#include <cstdio>
#include <string>

std::FILE* OpenPath(const std::string& path, const char* mode);
bool RemovePath(const std::string& path);
#ifdef _WIN32
// For the C library's wide functions (_wstat64, _wmkdir, ...): true and the
// UTF-16 form when the path needs them (UTF-8 beyond ASCII); false for a path
// that the narrow functions read as before (ASCII, or 8-bit from an ANSI source).
bool WidePathFor(const std::string& path, std::wstring& wide);
#endif
