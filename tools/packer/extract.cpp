#include "extract.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "manifest.h"
#include "package/checksum.h"
#include "package/gfileinfo.h"
#include "package/item_name_shown.h"
#include "package/pkgfile.h"
#include "paths/utf8.h"
#include "paths/utils.h"
#include "progress_line.h"
#include "setup/unpack_stdio.h"
#include "setup/zlibopen.h"

namespace {

int Fail(const std::string& problem) {
  std::fprintf(stderr, "packer: %s\n", problem.c_str());
  return 1;
}

// The engine's message-box texts carry the box's markup.
std::string PlainText(const std::string& text) {
  std::string t = ReplaceText(ReplaceText(text, "<T>", ""), "<P>", " ");
  while (t.find("  ") != std::string::npos) t = ReplaceText(t, "  ", " ");
  return Trim(t);
}

// Every volume of the package, checked before anything is written: the
// engine checks each volume only when it reaches it, after the files of the
// earlier ones are out.
struct VolumeSet {
  std::vector<std::string> paths;
  uint64_t bytes = 0;
};

bool CheckVolumes(const std::string& first, VolumeSet& out, std::string& error) {
  for (int k = 1;; ++k) {
    std::string path = k == 1 ? first : VolumePath(first, k);
    std::FILE* f = OpenSharedRead(path);
    if (!f) {
      error = k == 1 ? "cannot open " + path : "volume " + std::to_string(k) + " is missing: " + path;
      return false;
    }
    int64_t size = FileSizeOf(f);
    std::fclose(f);
    PackageTrailer t;
    if (!ReadPackageTrailer(path, t) || t.PackageSignature != kPackageSignature) {
      error = path + ": no package" + (k == 1 ? std::string() : " (volume " + std::to_string(k) + ")");
      return false;
    }
    if (!ChecksumAccepted(PackageChecksum(path, t.TrailerLength), t.VolumeChecksum)) {
      error = path + ": the volume checksum does not match; the file is damaged";
      return false;
    }
    out.paths.push_back(path);
    out.bytes += uint64_t(size > 0 ? size : 0);
    if (!(t.PackageFlags & kFlagMoreVolumes)) return true;
  }
}

// One file of the result: the items of the same name joined, as the stub joins them.
struct Entry {
  std::string name;
  uint64_t size = 0;
  uint32_t dosTime = 0;
  int firstVolume = 0, lastVolume = 0;
};

class CountingVolume : public UnpackVolume {
 public:
  CountingVolume(std::unique_ptr<UnpackVolume> inner, uint64_t& read) : inner_(std::move(inner)), read_(read) {}
  int64_t Size() override { return inner_->Size(); }
  int64_t ReadAt(int64_t offset, void* buffer, size_t count) override {
    int64_t got = inner_->ReadAt(offset, buffer, count);
    if (got > 0) read_ += uint64_t(got);
    return got;
  }

 private:
  std::unique_ptr<UnpackVolume> inner_;
  uint64_t& read_;
};

// Counts what goes into a file; without an inner target (listing) the bytes go nowhere.
class CountingTarget : public UnpackTarget {
 public:
  CountingTarget(std::unique_ptr<UnpackTarget> inner, std::vector<Entry>& entries, size_t index)
      : inner_(std::move(inner)), entries_(entries), index_(index) {}
  bool Write(const void* data, size_t size) override {
    if (inner_ && !inner_->Write(data, size)) return false;
    written_ += size;
    entries_[index_].size += size;
    return true;
  }
  bool SetDosTime(uint32_t dosTime) override {
    entries_[index_].dosTime = dosTime;
    return inner_ ? inner_->SetDosTime(dosTime) : true;
  }
  void Abandon() override {
    entries_[index_].size -= written_;
    written_ = 0;
    if (inner_) inner_->Abandon();
  }
  std::string LastError() override { return inner_ ? inner_->LastError() : ""; }

 private:
  std::unique_ptr<UnpackTarget> inner_;
  std::vector<Entry>& entries_;
  size_t index_;
  uint64_t written_ = 0;
};

// The engine's environment for the packer: C-library files, no questions
// (a missing volume ends the run), and a record of every file written.
class PackerUnpackEnv : public StdioUnpackEnv {
 public:
  PackerUnpackEnv(bool listOnly, const std::string& folder, ProgressLine& line)
      : listOnly_(listOnly), folder_(folder), line_(line) {
    keepDebug = false;
  }

  std::unique_ptr<UnpackVolume> OpenVolume(const std::string& path) override {
    std::unique_ptr<UnpackVolume> v = StdioUnpackEnv::OpenVolume(path);
    if (!v) return v;
    ++volume;
    return std::unique_ptr<UnpackVolume>(new CountingVolume(std::move(v), bytesRead));
  }

  bool CreateFolder(const std::string& folder) override { return listOnly_ || StdioUnpackEnv::CreateFolder(folder); }

  std::unique_ptr<UnpackTarget> OpenTarget(const std::string& path, TargetMode mode, bool& existed) override {
    ansiItem_ = false;
    std::string name = path.substr(folder_.size() + 1);
    // Windows keeps one file for names that differ only in case, so the
    // stub joins such items; the same happens here on every system.
    auto [it, added] = byKey_.emplace(UpperCase(name), entries.size());
    if (added) entries.push_back(Entry{name, 0, 0, volume, volume});
    Entry& e = entries[it->second];
    e.lastVolume = volume;
    existed = !added;
    std::unique_ptr<UnpackTarget> inner;
    if (!listOnly_) {
      bool was = false;
      inner = StdioUnpackEnv::OpenTarget(folder_ + PathSeparator() + e.name, mode, was);
      if (!inner) return nullptr;
    }
    return std::unique_ptr<UnpackTarget>(new CountingTarget(std::move(inner), entries, it->second));
  }

  bool ConfirmOkCancel(const std::string& text, const std::string& title, int charset,
                       const std::string& buttons) override {
    volumeMissing = true;
    return false;
  }
  void ProcessMessages() override { line_.Update(entries.size(), bytesRead); }
  // The engine converts an unmarked name before it opens the item's file or
  // skips the item, so the flag tells a broken UTF-8 name from an ANSI one; a
  // marked name that is plain was skipped for the bytes of its header.
  void UnsafeNameSkipped(const std::string& name) override {
    skipped.push_back({name, !ansiItem_ && (!IsValidUtf8(name) || IsPlainFileName(name))});
    ansiItem_ = false;
  }
  // Unmarked names keep their bytes here, as before names could be marked.
  std::string AnsiNameToPath(const std::string& name) override {
    ansiItem_ = true;
    return name;
  }

  std::vector<Entry> entries;
  struct Skipped {
    std::string name;
    bool brokenUtf8;
  };
  std::vector<Skipped> skipped;
  bool volumeMissing = false;
  uint64_t bytesRead = 0;
  int volume = 0;

 private:
  bool listOnly_;
  std::string folder_;
  ProgressLine& line_;
  std::map<std::string, size_t> byKey_;
  bool ansiItem_ = false;
};

std::string VolumeRange(const Entry& e) {
  std::string r = std::to_string(e.firstVolume);
  if (e.lastVolume != e.firstVolume) r += "-" + std::to_string(e.lastVolume);
  return r;
}

bool RemoveFolder(const std::string& path) {
#ifdef _WIN32
  return _rmdir(path.c_str()) == 0;
#else
  return rmdir(path.c_str()) == 0;
#endif
}

int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return int(getpid());
#endif
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int ExtractCommand(const ExtractOptions& o) {
  VolumeSet volumes;
  std::string error;
  if (!CheckVolumes(o.package, volumes, error)) return Fail(error);
  PackageTrailer first;
  ReadPackageTrailer(o.package, first);

  // Files go into a fresh folder inside the target first and are moved into
  // place only when the whole package came out; a damaged item then leaves
  // nothing behind, and files already in the target are not appended to.
  const char sep = StdioUnpackEnv().PathSeparator();
  std::string folder = o.folder;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == sep)) folder.pop_back();
  const std::string staging =
      o.listOnly ? std::string("(list)") : folder + sep + ".packer-extract-" + std::to_string(ProcessId());
  bool createdFolder = false;
  if (!o.listOnly) {
    if (!IsFolder(folder)) {
      if (!StdioUnpackEnv().CreateFolder(folder)) return Fail("cannot create the folder " + folder);
      createdFolder = true;
    }
  }

  ProgressLine line(!o.quiet && StderrIsTerminal(), o.listOnly ? "listing" : "extracting", first.FileCount,
                    volumes.bytes);
  PackerUnpackEnv env(o.listOnly, staging, line);
  ExtractRequest req;
  req.packagePath = o.package;
  req.targetFolder = staging;
  bool checksumOk = false;
  std::string engineEntry;
  ExtractOutcome outcome = ExtractOutcome::Done;
  EZLibError zlibError;
  RunExtraction(env, req, checksumOk, engineEntry, &outcome, &zlibError);
  if (outcome == ExtractOutcome::Decompression)
    error = "damaged data in volume " + std::to_string(env.volume) + " (" +
            volumes.paths[size_t(std::max(env.volume, 1) - 1)] + "): " + zlibError.what();
  line.Finish();
  if (error.empty()) {
    if (env.volumeMissing)
      error = "a volume went missing during the extraction";
    else if (!env.errors.empty())
      error = PlainText(env.errors.front());
    else if (!checksumOk)
      error = "the package is damaged: an item runs past the end of its volume or cannot be read";
  }

  auto stagedPath = [&](const Entry& e) { return staging + sep + e.name; };
  if (!error.empty()) {
    if (!o.listOnly) {
      for (const Entry& e : env.entries) std::remove(stagedPath(e).c_str());
      RemoveFolder(staging);
      if (createdFolder) RemoveFolder(folder);
    }
    return Fail(error);
  }

  if (!o.listOnly) {
    for (const Entry& e : env.entries) {
      std::string dest = folder + sep + e.name;
#ifdef _WIN32
      std::remove(dest.c_str());  // rename does not replace there
#endif
      if (std::rename(stagedPath(e).c_str(), dest.c_str()) != 0 && error.empty())
        error = "cannot move " + ShownUtf8(e.name) + " into " + folder;
    }
    for (const Entry& e : env.entries) std::remove(stagedPath(e).c_str());
    RemoveFolder(staging);
    if (!error.empty()) return Fail(error);
  }

  // The engine reports the starred name field (or a whole header text).
  std::string engineName, engineArgs;
  if (!engineEntry.empty()) {
    std::string field = engineEntry[0] == '|' ? ListItem(engineEntry, 0, "") : engineEntry;
    size_t star = field.find('*');
    engineName = field.substr(0, star);
    if (star != std::string::npos) engineArgs = Trim(field.substr(star + 1));
  }

  std::printf("files (volumes, size, date, name):\n");
  uint64_t bytesOut = 0;
  for (const Entry& e : env.entries) {
    bytesOut += e.size;
    std::string row = "  " + VolumeRange(e) + "  " + std::to_string(e.size) + "  " +
                      (e.dosTime ? DosDateText(e.dosTime, ' ') : "(time of extraction)") + "  " + ShownUtf8(e.name);
    if (!engineName.empty() && SameText(e.name, engineName))
      row += "  [engine" + (engineArgs.empty() ? "" : " " + ShownUtf8(engineArgs)) + "]";
    std::printf("%s\n", row.c_str());
  }
  for (const auto& s : env.skipped)
    std::printf("  skipped  %s  (unsafe name: %s; a setup does not extract it)\n", ShownUtf8(s.name).c_str(),
                s.brokenUtf8 ? "marked as UTF-8 but not valid UTF-8" : "not a plain file name");
  std::printf("%s\n", SummaryLine(o.listOnly ? "list" : "extract", volumes.paths.size(), env.entries.size(),
                                  volumes.bytes, bytesOut, volumes.bytes, bytesOut, line.Seconds())
                          .c_str());
  return 0;
}
