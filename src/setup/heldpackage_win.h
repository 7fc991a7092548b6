// A package file held open from its first check to its extraction. Other
// processes may read it but can neither write, rename nor delete it, and
// every read (token, verification, checksum, items) goes through this one
// open file, so the file that was checked is the file that is run.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "package/gfileinfo.h"

class HeldPackage {
 public:
  HeldPackage() = default;
  explicit HeldPackage(const std::string& path) { Open(path); }
  ~HeldPackage() { Close(); }
  HeldPackage(const HeldPackage&) = delete;
  HeldPackage& operator=(const HeldPackage&) = delete;

  // Opens for reading with other writers denied; false when it cannot be
  // opened that way (missing, or open for writing elsewhere).
  bool Open(const std::string& path);
  // Holds a duplicate of a handle already open that way (the program's own
  // file): the file is never opened again by name, and closing this one
  // leaves the original open.
  bool HoldDuplicate(HANDLE file, const std::string& path);
  void Close();
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  const std::string& Path() const { return path_; }  // kept after Close
  HANDLE Handle() const { return handle_; }
  int64_t Size() const;  // -1 when not open
  // A C stream over the same open file, positioned at its start, for the
  // package readers; the caller closes it (the file stays held). Null when
  // not open.
  std::FILE* Stream() const;
  TGFileInfo Info() const;  // the package information, read through the held file

 private:
  std::string path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};
