// The running executable, opened once at the start of the program and held
// to its end: other programs may read it, but none can write, rename or
// delete it, and every read of the own package (its texts, token, checksum,
// items, the agent's copies) goes through this one handle. So the file that
// is checked and extracted is the file that was started, not one that another
// program put under its name after the start.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

enum class OwnFileCheck { Held, CannotOpen, NotTheImage };

// Opens `path` for reading with writers, renames and deletes refused, and
// checks that it is the file `module` was loaded from. Held: `file` is the
// open handle; otherwise nothing stays open and `why` says what was found.
OwnFileCheck OpenAsImageOf(const std::string& path, HMODULE module, HANDLE& file, std::string& why);

// The program's own file, held for the whole run; call before anything
// reads it. Anything but Held means that nothing of it may be run.
OwnFileCheck HoldOwnFile(std::string& why);
HANDLE OwnFileHandle();  // INVALID_HANDLE_VALUE while not held

// A C stream over a duplicate of `file`, at the file's start, for the
// package readers; the caller closes it and `file` stays open. The two share
// one file position, so every reader seeks first. Null on failure.
std::FILE* StreamOverHandle(HANDLE file);
std::FILE* OwnFileStream();  // the same over the own file; null while not held

// The whole file through the handle; false when it cannot be read whole.
bool ReadWholeHandle(HANDLE file, std::string& bytes);
// Writes the file's bytes to `path` (replacing it) with the file's
// modification time, as CopyFile did by name; a copy that fails is removed.
bool CopyHandleTo(HANDLE file, const std::string& path);
// Modification time as DOS date/time (local time); 0 when unknown.
uint32_t HandleDosTime(HANDLE file);
