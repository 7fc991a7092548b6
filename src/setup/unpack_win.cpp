#include "setup/unpack_win.h"

#include <windows.h>

#include <algorithm>

#include "dialogs/zmsgbox_win.h"
#include "paths/platform.h"
#include "paths/utils_win.h"
#include "setup/files_win.h"
#include "setup/unpack.h"
#include "setup/verify.h"
#include "paths/zdebug.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

class WinVolume : public UnpackVolume {
 public:
  explicit WinVolume(HANDLE h) : h_(h) {}
  ~WinVolume() override { CloseHandle(h_); }
  int64_t Size() override { return FileSizeOfHandle(h_); }
  int64_t ReadAt(int64_t offset, void* buffer, size_t count) override {
    if (offset != pos_) {
      if (SeekFile(h_, offset, FILE_BEGIN) != offset) {
        pos_ = -1;
        return -1;
      }
      pos_ = offset;
    }
    DWORD got = 0;
    if (!ReadFile(h_, buffer, DWORD(count), &got, nullptr)) {
      pos_ = -1;
      return -1;
    }
    pos_ += got;
    return got;
  }

 private:
  HANDLE h_;
  int64_t pos_ = 0;
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
      DeleteFileA(path_.c_str());
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

class WinUnpackEnv : public UnpackEnv {
 public:
  explicit WinUnpackEnv(int charset) : charset_(charset) {}

  bool FileExists(const std::string& path) override { return FileExistsA(path); }
  std::unique_ptr<UnpackVolume> OpenVolume(const std::string& path) override {
    HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::unique_ptr<UnpackVolume>(new WinVolume(h));
  }
  bool CreateFolder(const std::string& folder) override { return ForceDirectories(folder); }
  std::unique_ptr<UnpackTarget> OpenTarget(const std::string& path, bool replace, bool& existed) override {
    bool exists = FileExistsA(path);
    existed = exists;
    HANDLE h;
    int64_t oldSize = 0;
    if (exists && !replace) {
      h = CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        oldSize = SeekFile(h, 0, FILE_END);
        if (oldSize < 0) {
          CloseHandle(h);
          h = INVALID_HANDLE_VALUE;
        }
      }
    } else {
      h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::unique_ptr<UnpackTarget>(new WinTarget(h, path, !exists, oldSize));
  }
  uint32_t FileDosTime(const std::string& path) override { return ::FileDosTime(path); }
  std::string DescribeWriteFailure(const std::string& path, int64_t dataSize, const std::string& errorText) override {
    return FormatWriteFailure(errorText, dataSize, FileSizeByName(path), FreeDiskSpace(path));
  }
  std::string LastErrorText() override { return ::LastErrorText(); }

  void ErrorBox(const std::string& text) override { ErrorMsg(0, text, "", charset_, kDefaultButtonTexts); }
  bool ConfirmOkCancel(const std::string& text, const std::string& title, int charset,
                       const std::string& buttons) override {
    return ::ConfirmOkCancel(0, text, title, charset, buttons);
  }
  void EjectMedium(const std::string& path) override { EjectCdDrive(path); }
  void AutoPlayCancelOn() override { SetAutoPlayCancel(true); }
  void ProcessMessages() override { ProcessPendingMessages(0); }
  void PumpMessagesFor(uint32_t ms) override { ::PumpMessagesFor(ms); }
  uint64_t Tick() override { return TickCount(); }
  void Debug(const std::string& line) override { DebugLine(line); }

 private:
  int charset_;
};

}  // namespace

void ExtractPackage(const std::string& packagePath, const std::string& targetFolder, const std::string& agentFileName,
                    bool& checksumOk, ProgressProc progress, const std::string& promptText,
                    const std::string& promptTitle, const std::string& buttonTexts, int charset, bool forcePrompt,
                    std::string& engineEntry) {
  WinUnpackEnv env(charset);
  ExtractRequest req;
  req.packagePath = packagePath;
  req.targetFolder = targetFolder;
  req.agentFileName = agentFileName;
  req.progress = progress;
  req.promptText = promptText;
  req.promptTitle = promptTitle;
  req.buttonTexts = buttonTexts;
  req.charset = charset;
  req.forcePrompt = forcePrompt;
  RunExtraction(env, req, checksumOk, engineEntry);
}

bool VerifyPackageFile(const std::string& packagePath, std::string& why) {
  WinUnpackEnv env(0);
  return VerifyPackageWhole(env, packagePath, why);
}
