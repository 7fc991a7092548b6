#include "setup/unpack_stdio.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "package/pkgfile.h"
#include "paths/pathio.h"
#include "paths/platform.h"
#include "paths/utils.h"
#include "setup/files.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <sys/utime.h>
#else
#include <sys/statvfs.h>
#include <unistd.h>
#include <utime.h>
#endif

namespace {

bool StatPath(const std::string& path, bool& isDir, int64_t& size, int64_t& mtime) {
#ifdef _WIN32
  struct _stat64 st;
  std::wstring wide;
  if ((WidePathFor(path, wide) ? _wstat64(wide.c_str(), &st) : _stat64(path.c_str(), &st)) != 0) return false;
  isDir = (st.st_mode & _S_IFDIR) != 0;
#else
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  isDir = S_ISDIR(st.st_mode);
#endif
  size = int64_t(st.st_size);
  mtime = int64_t(st.st_mtime);
  return true;
}

bool SeekEnd(std::FILE* f) {
#ifdef _WIN32
  return _fseeki64(f, 0, SEEK_END) == 0;
#else
  return fseeko(f, 0, SEEK_END) == 0;
#endif
}

bool MakeDir(const std::string& path) {
#ifdef _WIN32
  std::wstring wide;
  return (WidePathFor(path, wide) ? _wmkdir(wide.c_str()) : _mkdir(path.c_str())) == 0;
#else
  return mkdir(path.c_str(), 0777) == 0;
#endif
}

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

class StdioVolume : public UnpackVolume {
 public:
  explicit StdioVolume(std::FILE* f) : f_(f) {}
  ~StdioVolume() override { std::fclose(f_); }
  int64_t Size() override { return FileSizeOf(f_); }
  int64_t ReadAt(int64_t offset, void* buffer, size_t count) override {
    // Items are read front to back: seek only when the position moved.
    if (offset != pos_) {
      if (!SeekTo(f_, offset)) return -1;
      pos_ = offset;
    }
    size_t got = std::fread(buffer, 1, count, f_);
    if (got == 0 && std::ferror(f_)) {
      pos_ = -1;
      return -1;
    }
    pos_ += int64_t(got);
    return int64_t(got);
  }

 private:
  std::FILE* f_;
  int64_t pos_ = 0;
};

class StdioTarget : public UnpackTarget {
 public:
  StdioTarget(std::FILE* f, std::string path, bool created, int64_t oldSize)
      : f_(f), path_(std::move(path)), created_(created), oldSize_(oldSize) {}
  ~StdioTarget() override {
    int64_t t = dosTime_ != 0 ? DosTimeToUnix(dosTime_) : -1;
    if (f_) {
#ifndef _WIN32
      // The time goes on after the last byte is flushed, or closing would move it again.
      if (t >= 0 && std::fflush(f_) == 0) {
        struct timespec ts[2] = {{time_t(t), 0}, {time_t(t), 0}};
        futimens(fileno(f_), ts);
      }
#endif
      std::fclose(f_);
    }
#ifdef _WIN32
    if (t >= 0) {
      struct __utimbuf64 ut{t, t};
      std::wstring wide;
      if (WidePathFor(path_, wide))
        _wutime64(wide.c_str(), &ut);
      else
        _utime64(path_.c_str(), &ut);
    }
#endif
  }
  bool Write(const void* data, size_t size) override {
    if (size == 0) return true;
    if (std::fwrite(data, 1, size, f_) == size) return true;
    if (error_.empty()) error_ = std::strerror(errno);
    return false;
  }
  bool SetDosTime(uint32_t dosTime) override {
    dosTime_ = dosTime;
    return DosTimeToUnix(dosTime) >= 0;
  }
  void Abandon() override {
    dosTime_ = 0;
    if (created_) {
      std::fclose(f_);
      f_ = nullptr;
      RemovePath(path_);
      return;
    }
    std::fflush(f_);
#ifdef _WIN32
    _chsize_s(_fileno(f_), oldSize_);
#else
    if (ftruncate(fileno(f_), off_t(oldSize_)) != 0) error_ = std::strerror(errno);
#endif
  }
  std::string LastError() override { return error_; }

 private:
  std::FILE* f_;
  std::string path_;
  bool created_;
  int64_t oldSize_;
  uint32_t dosTime_ = 0;
  std::string error_;
};

}  // namespace

int64_t DosTimeToUnix(uint32_t dosTime) {
  struct tm tm {};
  tm.tm_year = int((dosTime >> 25) & 0x7F) + 80;
  tm.tm_mon = int((dosTime >> 21) & 0x0F) - 1;
  tm.tm_mday = int((dosTime >> 16) & 0x1F);
  tm.tm_hour = int((dosTime >> 11) & 0x1F);
  tm.tm_min = int((dosTime >> 5) & 0x3F);
  tm.tm_sec = int(dosTime & 0x1F) * 2;
  tm.tm_isdst = -1;
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday == 0 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59)
    return -1;
  time_t t = std::mktime(&tm);
  return t == time_t(-1) ? -1 : int64_t(t);
}

uint32_t UnixToDosTime(int64_t unixTime) {
  time_t t = time_t(unixTime);
  struct tm tm {};
#ifdef _WIN32
  if (localtime_s(&tm, &t) != 0) return 0;
#else
  if (!localtime_r(&t, &tm)) return 0;
#endif
  if (tm.tm_year < 80 || tm.tm_year > 207) return 0;
  return (uint32_t(tm.tm_year - 80) << 25) | (uint32_t(tm.tm_mon + 1) << 21) | (uint32_t(tm.tm_mday) << 16) |
         (uint32_t(tm.tm_hour) << 11) | (uint32_t(tm.tm_min) << 5) | uint32_t(tm.tm_sec / 2);
}

bool StdioUnpackEnv::FileExists(const std::string& path) {
  bool isDir = false;
  int64_t size = 0, mtime = 0;
  return StatPath(path, isDir, size, mtime) && !isDir;
}

std::unique_ptr<UnpackVolume> StdioUnpackEnv::OpenVolume(const std::string& path) {
  std::FILE* f = OpenSharedRead(path);
  if (!f) return nullptr;
  return std::unique_ptr<UnpackVolume>(new StdioVolume(f));
}

bool StdioUnpackEnv::CreateFolder(const std::string& folder) {
  if (folder.empty()) return false;
  bool isDir = false;
  int64_t size = 0, mtime = 0;
  if (StatPath(folder, isDir, size, mtime)) return isDir;
  // Parents first, from the deepest existing one downwards.
  size_t cut = folder.size();
  while (cut > 0 && IsSeparator(folder[cut - 1])) --cut;
  size_t sep = cut;
  while (sep > 0 && !IsSeparator(folder[sep - 1])) --sep;
  if (sep > 1) {
    std::string parent = folder.substr(0, sep - 1);
    if (!(parent.size() == 2 && parent[1] == ':') && !CreateFolder(parent)) return false;
  }
  return MakeDir(folder) || (StatPath(folder, isDir, size, mtime) && isDir);
}

std::unique_ptr<UnpackTarget> StdioUnpackEnv::OpenTarget(const std::string& path, TargetMode mode, bool& existed) {
  existed = false;
  bool replace = mode == TargetMode::Replace;
#ifndef _WIN32
  // A new file, exclusively: one call, and nothing planted is written into.
  if (mode == TargetMode::CreateNew) {
    if (std::FILE* f = OpenPath(path, "wbx")) return std::unique_ptr<UnpackTarget>(new StdioTarget(f, path, true, 0));
    existed = errno == EEXIST || FileExists(path);
    return nullptr;
  }
#endif
  bool isDir = false;
  int64_t size = 0, mtime = 0;
  bool exists = StatPath(path, isDir, size, mtime);
  existed = exists && !isDir;
  if (exists && isDir) return nullptr;
  // The C library of Windows has no exclusive open; these tools and tests
  // are not what protects a setup folder.
  if (mode == TargetMode::CreateNew && exists) return nullptr;
  std::FILE* f = nullptr;
  if (replace || !exists) {
    f = OpenPath(path, "wb");
  } else {
    f = OpenPath(path, "r+b");
    if (f && !SeekEnd(f)) {
      std::fclose(f);
      f = nullptr;
    }
  }
  if (!f) return nullptr;
  // A replaced file cannot be given back; only new files are removed on abandon.
  return std::unique_ptr<UnpackTarget>(new StdioTarget(f, path, !exists, exists && !replace ? size : 0));
}

uint32_t StdioUnpackEnv::FileDosTime(const std::string& path) {
  bool isDir = false;
  int64_t size = 0, mtime = 0;
  if (!StatPath(path, isDir, size, mtime)) return 0;
  return UnixToDosTime(mtime);
}

std::string StdioUnpackEnv::DescribeWriteFailure(const std::string& path, int64_t dataSize,
                                                 const std::string& errorText) {
  bool isDir = false;
  int64_t size = 0, mtime = 0;
  if (!StatPath(path, isDir, size, mtime)) size = 0;
  double freeBytes = -1;
#ifndef _WIN32
  struct statvfs vs;
  std::string dir = path.substr(0, path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/'));
  if (statvfs(dir.empty() ? "." : dir.c_str(), &vs) == 0) freeBytes = double(vs.f_bavail) * double(vs.f_frsize);
#endif
  return FormatWriteFailure(errorText, dataSize, size, freeBytes);
}

std::string StdioUnpackEnv::LastErrorText() { return std::strerror(errno); }

char StdioUnpackEnv::PathSeparator() {
#ifdef _WIN32
  return '\\';
#else
  return '/';
#endif
}

bool StdioUnpackEnv::ConfirmOkCancel(const std::string& text, const std::string& title, int charset,
                                     const std::string& buttons) {
  prompts.push_back(text);
  return onPrompt ? onPrompt(text) : false;
}

void StdioUnpackEnv::ProcessMessages() { ProcessPendingWork(); }

uint64_t StdioUnpackEnv::Tick() { return TickCount(); }
