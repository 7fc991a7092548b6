// The extraction engine: checks each volume of a package, reads its item
// chain, inflates every file item and appends it to its file in the target
// folder, asks for missing volumes and reports the engine entry (the file
// marked with "*"). The platform is reached only through UnpackEnv, so the
// same engine runs on Win32 files and on the C library (tests, benchmarks).
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "package/gfileinfo.h"
#include "paths/progress.h"
#include "setup/zlibopen.h"

// Pieces in which payloads are read and inflated; nothing larger is held per item.
constexpr size_t kUnpackPiece = 65536;
// A file item's header text longer than this without its 0x00 end is no header.
constexpr size_t kMaxItemHeader = 65536;

enum class TargetMode { CreateNew, Append, Replace };

// An open volume file.
class UnpackVolume {
 public:
  virtual ~UnpackVolume() = default;
  virtual int64_t Size() = 0;  // -1 when unknown
  // Reads up to `count` bytes at `offset`; the bytes read, 0 at the end, -1 on failure.
  virtual int64_t ReadAt(int64_t offset, void* buffer, size_t count) = 0;
};

// A target file opened for writing.
class UnpackTarget {
 public:
  virtual ~UnpackTarget() = default;
  virtual bool Write(const void* data, size_t size) = 0;  // true when every byte went out
  // Sets the DOS modification time (local time) of the file.
  virtual bool SetDosTime(uint32_t dosTime) = 0;
  // Undoes this opening: a file created by it is removed, an appended one is
  // cut back to its old length. Used when the item turns out to be broken.
  virtual void Abandon() = 0;
  virtual std::string LastError() = 0;  // text of the first failure
};

class UnpackEnv {
 public:
  virtual ~UnpackEnv() = default;
  // ---- files ----
  virtual bool FileExists(const std::string& path) = 0;
  virtual std::unique_ptr<UnpackVolume> OpenVolume(const std::string& path) = 0;
  // Package facts of a volume; the defaults read the file through the C library.
  virtual void ReadTrailer(const std::string& path, PackageTrailer& trailer);
  virtual int64_t LogicalEnd(const std::string& path);
  virtual uint32_t Checksum(const std::string& path, uint32_t trailerLength);
  virtual bool CreateFolder(const std::string& folder) = 0;  // with all missing parents
  // Opens a target: CreateNew only when nothing is at the path (a name that
  // exists before the run wrote it is never written into: it may be a link
  // or a file planted there); Append and Replace only for a file this run
  // made (a file split over volumes, the agent copy over an item). Null when
  // it cannot be opened. `existed` tells whether a file was at the path
  // before, also when the open failed.
  virtual std::unique_ptr<UnpackTarget> OpenTarget(const std::string& path, TargetMode mode, bool& existed) = 0;
  virtual uint32_t FileDosTime(const std::string& path) = 0;  // 0 when unknown
  // LastErrorText-like text plus the sizes behind a failed write.
  virtual std::string DescribeWriteFailure(const std::string& path, int64_t dataSize,
                                           const std::string& errorText) = 0;
  virtual std::string LastErrorText() = 0;
  virtual char PathSeparator() { return '\\'; }
  // Paths are UTF-8. An unmarked item name is in the ANSI code page of this
  // machine: it is turned into a path here (the default keeps the bytes).
  virtual std::string AnsiNameToPath(const std::string& name) { return name; }
  // A path put into a text for the user (the default keeps the bytes).
  virtual std::string PathForText(const std::string& path) { return path; }
  // ---- user interface ----
  virtual void ErrorBox(const std::string& text) = 0;
  virtual bool ConfirmOkCancel(const std::string& text, const std::string& title, int charset,
                               const std::string& buttons) = 0;
  virtual void EjectMedium(const std::string& path) = 0;
  virtual void AutoPlayCancelOn() = 0;
  virtual void ProcessMessages() = 0;            // pending window messages
  virtual void PumpMessagesFor(uint32_t ms) = 0;  // wait while messages flow
  virtual uint64_t Tick() = 0;                   // milliseconds
  virtual void Debug(const std::string& line) = 0;
  // A file item the engine refused because its name leaves the target folder.
  virtual void UnsafeNameSkipped(const std::string& name) {}
  // The user asked to stop: the run ends before the next item, like a
  // cancelled disk prompt (no engine entry).
  virtual bool Aborted() { return false; }
};

struct ExtractRequest {
  std::string packagePath;
  std::string targetFolder;
  std::string agentFileName;
  ProgressProc progress = nullptr;
  std::string promptText;
  std::string promptTitle;
  std::string buttonTexts;
  int charset = 0;
  bool forcePrompt = false;
  // Hidden operation: nobody answers a disk prompt, so a missing volume ends
  // the run instead (and the force prompt is ignored).
  bool hidden = false;
};

// Why a run ended, so that the caller can tell the reasons apart.
enum class ExtractOutcome {
  Done,            // every volume reached was read; no engine entry is still possible
  PackageMissing,  // the first volume or a later one is not there or cannot be opened
  Damaged,         // a checksum failed or an item could not be read whole
  Cancelled,       // the user cancelled a disk prompt
  Decompression,   // a compressed item is damaged (zlib's error in `zlibError`)
  WriteFailed,     // a file could not be written whole (a full disk, a name that was there before)
};

// Runs one extraction. `checksumOk` is true when every volume reached passed
// its checksum and every item could be read whole; `engineEntry` is the
// starred name field (or header) of the last starred file, empty after a
// cancelled disk prompt, an abort, a broken volume, damaged compressed data
// or a failed write. The run ends at the first damaged compressed item or
// failed write, whose half-written file is removed; `zlibError` then tells
// zlib's code and text.
void RunExtraction(UnpackEnv& env, const ExtractRequest& request, bool& checksumOk, std::string& engineEntry,
                   ExtractOutcome* outcome = nullptr, EZLibError* zlibError = nullptr);

// A file item's name may only name a file inside the target folder, and
// never a device (CON, NUL, COM1.txt and the like).
bool IsPlainFileName(const std::string& name);
// Process-wide count of failed file writes (the error box shows once).
int WriteFailureCount();
void ResetWriteFailureCount();  // for tests only: a process never resets it
