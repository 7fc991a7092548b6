// Portable half of the file and disk utilities: the pure computations behind
// chunked writes, free-space queries, the self-delete batch and the
// write-failure report. The Win32 operations are in setup/files_win.h.
#pragma once
#include <cstdint>
#include <string>

// Writes larger than this go out in WriteChunkSize pieces.
constexpr int64_t kSingleWriteLimit = 1048576;

// Chunk size for writing `total` bytes: a tenth of it, between 1,024 (or the
// total when smaller) and 1,048,576.
int64_t WriteChunkSize(int64_t total);

// File-name part of `path` without its last extension, or without every
// extension when `all` is set ("My.App.info" -> "My.App" / "My").
std::string FileBaseName(const std::string& path, bool all);

// Turns `path` (in place) into the text to ask for free space: "/" becomes
// "\", the drive root "X:\" when `driveRoot` is set or the path is shorter
// than 3 characters, else the path cut before the first "\" from its 4th
// character on. An empty path stays empty. Returns the new path.
std::string FreeSpaceRoot(std::string& path, bool driveRoot);

// File name of one process's self-delete batch: "_DEL_ME_" + process id +
// "_" + a number in hexadecimal + ".BAT", so that instances never share one.
std::string SelfDeleteBatchName(uint32_t processId, uint32_t salt);

// The lines of the self-delete batch, each ending with CR LF. `quote` is the
// quote character text (empty when short names are used).
std::string SelfDeleteBatchText(const std::string& exe, const std::string& dir, const std::string& batchPath,
                                bool removeFolder, const std::string& quote);

// The details shown when an extracted file cannot be saved. `bytesFree` is a
// free-space figure (-1 when unknown), printed as a whole number.
std::string FormatWriteFailure(const std::string& lastErrorText, int64_t dataSize, int64_t fileSize,
                               double bytesFree);
