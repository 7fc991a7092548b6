#include "setup/unpack_win.h"

#include <windows.h>

#include <algorithm>

#include "dialogs/zmsgbox_win.h"
#include "paths/platform.h"
#include "paths/utils_win.h"
#include "paths/widepath_win.h"
#include "package/checksum.h"
#include "setup/files_win.h"
#include "setup/heldpackage_win.h"
#include "setup/stubsetup_win.h"
#include "setup/unpack.h"
#include "setup/verify.h"
#include "paths/zdebug.h"
#include "process/ownfile_win.h"
#include "process/procstate_win.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

// A volume read through a held package's handle. The handle's position is
// shared with the package readers, so every read seeks first.
class WinVolume : public UnpackVolume {
 public:
  explicit WinVolume(HANDLE h) : h_(h) {}
  int64_t Size() override { return FileSizeOfHandle(h_); }
  int64_t ReadAt(int64_t offset, void* buffer, size_t count) override {
    if (SeekFile(h_, offset, FILE_BEGIN) != offset) return -1;
    DWORD got = 0;
    if (!ReadFile(h_, buffer, DWORD(count), &got, nullptr)) return -1;
    return got;
  }

 private:
  HANDLE h_;
};

class WinTarget : public UnpackTarget {
 public:
  WinTarget(HANDLE h, std::string path, bool created, int64_t oldSize)
      : h_(h), path_(std::move(path)), created_(created), oldSize_(oldSize) {}
  ~WinTarget() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  bool Write(const void* data, size_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      DWORD written = 0;
      if (!WriteFile(h_, p, DWORD(std::min<size_t>(size, 1 << 20)), &written, nullptr) || written == 0) {
        if (error_.empty()) error_ = LastErrorText();
        return false;
      }
      p += written;
      size -= written;
    }
    return true;
  }
  bool SetDosTime(uint32_t dosTime) override { return SetFileDosTime(h_, dosTime); }
  void Abandon() override {
    if (created_) {
      CloseHandle(h_);
      h_ = INVALID_HANDLE_VALUE;
      DeleteFileW(WidePath(path_).c_str());
      return;
    }
    if (SeekFile(h_, oldSize_, FILE_BEGIN) == oldSize_) SetEndOfFile(h_);
  }
  std::string LastError() override { return error_; }

 private:
  HANDLE h_;
  std::string path_;
  bool created_;
  int64_t oldSize_;
  std::string error_;
};

// Every volume is opened once, held against writers, and its trailer,
// checksum and items are all read through that one handle. The first volume
// may come held by the caller (checked already); later volumes are held here,
// one at a time, so that a disk can be changed.
class WinUnpackEnv : public UnpackEnv {
 public:
  // releaseFirst: the caller's first volume is let go when a later volume is
  // reached (an extraction; a verification keeps it for the run that follows).
  WinUnpackEnv(int charset, HeldPackage* first, bool releaseFirst)
      : charset_(charset), first_(first), releaseFirst_(releaseFirst) {}

  bool FileExists(const std::string& path) override { return IsExistingFile(path); }
  std::unique_ptr<UnpackVolume> OpenVolume(const std::string& path) override {
    HeldPackage* held = Held(path);
    if (!held) return nullptr;
    return std::unique_ptr<UnpackVolume>(new WinVolume(held->Handle()));
  }
  void ReadTrailer(const std::string& path, PackageTrailer& trailer) override {
    trailer = PackageTrailer();
    if (std::FILE* f = Stream(path)) {
      ReadPackageTrailer(f, trailer);
      std::fclose(f);
    }
  }
  int64_t LogicalEnd(const std::string& path) override {
    std::FILE* f = Stream(path);
    if (!f) return -1;
    int64_t end = PackageLogicalEnd(f);
    std::fclose(f);
    return end;
  }
  uint32_t Checksum(const std::string& path, uint32_t trailerLength) override {
    std::FILE* f = Stream(path);
    if (!f) return 0;
    uint32_t sum = PackageChecksum(f, trailerLength);
    std::fclose(f);
    return sum;
  }
  bool Aborted() override { return SetupAbortRequested(); }
  bool CreateFolder(const std::string& folder) override { return ForceDirectories(folder); }
  std::unique_ptr<UnpackTarget> OpenTarget(const std::string& path, TargetMode mode, bool& existed) override {
    if (mode == TargetMode::CreateNew) {
      // Exclusively: whatever was planted at the name (a file, a link) is
      // left alone and the extraction fails on it.
      HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      DWORD e = GetLastError();
      existed = h == INVALID_HANDLE_VALUE && (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS);
      if (h == INVALID_HANDLE_VALUE) return nullptr;
      return std::unique_ptr<UnpackTarget>(new WinTarget(h, path, true, 0));
    }
    bool replace = mode == TargetMode::Replace;
    bool exists = IsExistingFile(path);
    existed = exists;
    HANDLE h;
    int64_t oldSize = 0;
    if (exists && !replace) {
      h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        oldSize = SeekFile(h, 0, FILE_END);
        if (oldSize < 0) {
          CloseHandle(h);
          h = INVALID_HANDLE_VALUE;
        }
      }
    } else {
      h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::unique_ptr<UnpackTarget>(new WinTarget(h, path, !exists, oldSize));
  }
  uint32_t FileDosTime(const std::string& path) override {
    // The time of the very file being read, not of whatever bears its name now.
    if (first_ && first_->IsOpen() && first_->Path() == path) return HandleDosTime(first_->Handle());
    if (other_.IsOpen() && other_.Path() == path) return HandleDosTime(other_.Handle());
    return ::FileDosTime(path);
  }
  std::string DescribeWriteFailure(const std::string& path, int64_t dataSize, const std::string& errorText) override {
    return FormatWriteFailure(errorText, dataSize, FileSizeByName(path), FreeDiskSpace(path));
  }
  std::string LastErrorText() override { return ::LastErrorText(); }
  std::string AnsiNameToPath(const std::string& name) override { return PathFromAnsi(name); }
  std::string PathForText(const std::string& path) override { return PathInCodePage(path, CP_ACP); }

  void ErrorBox(const std::string& text) override { ErrorMsg(0, text, "", charset_, kDefaultButtonTexts); }
  bool ConfirmOkCancel(const std::string& text, const std::string& title, int charset,
                       const std::string& buttons) override {
    return ::ConfirmOkCancel(0, text, title, charset, buttons);
  }
  void EjectMedium(const std::string& path) override {
    // A held volume would keep the medium in use.
    if (first_ && releaseFirst_) first_->Close();
    other_.Close();
    EjectCdDrive(path);
  }
  void AutoPlayCancelOn() override { SetAutoPlayCancel(true); }
  void ProcessMessages() override { ProcessPendingMessages(0); }
  void PumpMessagesFor(uint32_t ms) override { ::PumpMessagesFor(ms); }
  uint64_t Tick() override { return TickCount(); }
  void Debug(const std::string& line) override { DebugLine(line); }

 private:
  HeldPackage* Held(const std::string& path) {
    if (first_ && first_->IsOpen() && first_->Path() == path) return first_;
    if (other_.IsOpen() && other_.Path() == path) return &other_;
    if (first_ && releaseFirst_ && first_->Path() != path) first_->Close();
    // The caller's first volume is never opened again by path: what was checked is what is read.
    if (first_ && first_->Path() == path) return nullptr;
    other_.Close();
    return other_.Open(path) ? &other_ : nullptr;
  }
  std::FILE* Stream(const std::string& path) {
    HeldPackage* held = Held(path);
    return held ? held->Stream() : nullptr;
  }

  int charset_;
  HeldPackage* first_;
  bool releaseFirst_;
  HeldPackage other_;
};

}  // namespace

void ExtractPackage(HeldPackage& package, const std::string& targetFolder, const std::string& agentFileName,
                    bool& checksumOk, ProgressProc progress, const std::string& promptText,
                    const std::string& promptTitle, const std::string& buttonTexts, int charset, bool forcePrompt,
                    std::string& engineEntry, ExtractOutcome* outcome, EZLibError* zlibError) {
  WinUnpackEnv env(charset, &package, true);
  ExtractRequest req;
  req.packagePath = package.Path();
  req.targetFolder = targetFolder;
  req.agentFileName = agentFileName;
  req.progress = progress;
  req.promptText = promptText;
  req.promptTitle = promptTitle;
  req.buttonTexts = buttonTexts;
  req.charset = charset;
  req.forcePrompt = forcePrompt;
  req.hidden = HiddenOperation();
  RunExtraction(env, req, checksumOk, engineEntry, outcome, zlibError);
}

bool VerifyPackageFile(HeldPackage& package, std::string& why) {
  WinUnpackEnv env(0, &package, false);
  return VerifyPackageWhole(env, package.Path(), why);
}

void ExtractPackage(const std::string& packagePath, const std::string& targetFolder, const std::string& agentFileName,
                    bool& checksumOk, ProgressProc progress, const std::string& promptText,
                    const std::string& promptTitle, const std::string& buttonTexts, int charset, bool forcePrompt,
                    std::string& engineEntry, ExtractOutcome* outcome, EZLibError* zlibError) {
  HeldPackage held(packagePath);
  ExtractPackage(held, targetFolder, agentFileName, checksumOk, progress, promptText, promptTitle, buttonTexts,
                 charset, forcePrompt, engineEntry, outcome, zlibError);
}
