// File and disk operations used across the program: whole-file writes and
// appends with a DOS modification time, partial reads, 64-bit sizes, free
// space, deleting by mask and whole trees, drive searches, the self-delete
// batch and CD eject. Paths are UTF-8; failures come back as false, empty, 0 or -1.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "setup/files.h"

// origin: FILE_BEGIN, FILE_CURRENT or FILE_END. Returns the new position, -1 on failure.
int64_t SeekFile(HANDLE file, int64_t offset, DWORD origin);
int64_t FileSizeOfHandle(HANDLE file);  // -1 on failure
// Size from the first matching directory entry; 0 when none matches.
int64_t FileSizeByName(const std::string& path);
// Up to `maximum` bytes (0 = to the end) from `offset`; empty when the file
// is missing, the range is empty or fewer bytes arrive than asked for.
std::string ReadFilePart(const std::string& path, int64_t maximum, int64_t offset);
// The whole file when it holds at most `limit` bytes, judged and read through
// one handle (a file swapped after a size check by name could be any size).
// False when it is missing, unreadable or larger.
bool ReadFileUpTo(const std::string& path, int64_t limit, std::string& out);
// Writes the whole content (appending to an existing file when `append` is
// set) and, on success and with a non-zero DOS time, sets the modification
// time. True when every byte was written.
bool WriteFileText(const std::string& path, const std::string& content, uint32_t dosTime, bool append);
// Appends with one write call; the time (when not 0) is set even when the write fell short.
bool AppendFileText(const std::string& path, const std::string& content, uint32_t dosTime);
// Free bytes available to the caller on the drive of `path`; -1 when unknown.
double FreeDiskSpace(const std::string& path);
// Deletes the files matching `mask` (hidden, system and read-only included).
// True when at least one matching file was found.
bool DeleteFiles(const std::string& mask, bool clearAttributes);
// True when the folder existed and is gone afterwards.
bool DeleteTree(const std::string& folder, bool clearAttributes);
std::string FindFileInTree(const std::string& folder, const std::string& name);
std::string FindFileOnDrives(const std::string& name, UINT driveType);
std::string FindFolderInTree(const std::string& folder, const std::string& name);
std::string FindFolderOnDrives(const std::string& folderOrPath, UINT driveType);
// Makes a batch file of this process's own (see SelfDeleteBatchName) in the
// temporary folder and starts it hidden; it deletes the running executable
// (and its folder) once the process has ended, then itself.
void SelfDeleteBatch(bool removeFolder, bool shortNames);
bool EjectCdDrive(const std::string& path);
// Last error text and the data, file and free sizes behind a failed write.
std::string DescribeWriteFailure(const std::string& path, int64_t dataSize);

// Small helpers of the same unit.
bool IsExistingFile(const std::string& path);      // a file (not a folder) is there
bool IsExistingFolder(const std::string& path);    // a folder is there
bool ForceDirectories(const std::string& folder);  // creates all missing parents
// Sets the modification time of an open file from a DOS date/time (local time).
bool SetFileDosTime(HANDLE file, uint32_t dosTime);
// Modification time of a file as DOS date/time (local time); 0 when unknown.
uint32_t FileDosTime(const std::string& path);
