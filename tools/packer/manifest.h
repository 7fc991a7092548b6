// The packer's manifest: an INI-like text that names the stub, the header
// fields, the trailer flags, the language sections and the files.
#pragma once
#include <string>
#include <vector>

#include "package/package_writer.h"

struct Manifest {
  PackagePlan plan;
  std::string output;  // resolved against the manifest's folder
  // "file:line: ..." of what was built against the defaults (allow_unsigned).
  std::vector<std::string> warnings;
};

// Reads and checks a manifest; false with "file:line: problem" in error.
bool LoadManifest(const std::string& path, Manifest& out, std::string& error);

// Helpers shared with the other commands.
bool ReadWholeFile(const std::string& path, std::string& bytes);
// Why a file cannot be read, for messages: "no such file", "it is a folder"
// or the system's text (no permission, ...).
std::string WhyUnreadable(const std::string& path);
std::string JoinPath(const std::string& dir, const std::string& path);
std::string DirOf(const std::string& path);
// DOS date and time of a file's modification time (local time); 0 when
// unknown. With SOURCE_DATE_EPOCH set: clamped to it, and in UTC.
uint32_t FileDosTime(const std::string& path);
// The SOURCE_DATE_EPOCH of the environment (seconds since 1970, UTC); false
// when it is not set or, with *malformed set, not a plain decimal number.
bool SourceDateEpoch(int64_t& seconds, bool* malformed = nullptr);
// "YYYY-MM-DD HH:MM:SS" of a DOS date and time, with `sep` between date and time.
std::string DosDateText(uint32_t dos, char sep);
