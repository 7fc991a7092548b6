// "packer extract": unpacks a package into a folder, or lists what it would
// write, through the stub's own extraction engine running on the C library,
// so that the result is what a setup would extract.
#pragma once
#include <string>

struct ExtractOptions {
  std::string package;  // setup file or first volume
  std::string folder;   // target; unused with listOnly
  bool listOnly = false;
  bool quiet = false;   // no progress line
};

// 0 on success; 1 with a message on standard error for a damaged or
// incomplete package or a file that cannot be written.
int ExtractCommand(const ExtractOptions& options);
