#include "setup/unpack.h"

#include <zlib.h>

#include <cstring>
#include <set>
#include <vector>

#include "package/item_name.h"
#include "package/pkgfile.h"
#include "paths/platform.h"
#include "paths/utf8.h"
#include "paths/utils.h"
#include "package/checksum.h"
#include "setup/zlibopen.h"

namespace {

// Failed file writes of the whole process: the error box appears only for the first.
int g_writeFailures = 0;

void Progress(const ExtractRequest& r, int kind, int maximum) {
  if (r.progress) r.progress(kind, 0, maximum, 0, 1, "");
}

// Buffers and inflate state shared by all items of a run, so that an item
// costs no allocation.
struct ItemBuffers {
  std::unique_ptr<char[]> in{new char[kUnpackPiece]};
  std::unique_ptr<char[]> out{new char[kUnpackPiece]};
  std::unique_ptr<ZInflater> z;
};

// The plain bytes of one item, produced piece by piece: stored payloads are
// passed through, compressed ones inflated. Memory stays at two pieces
// whatever the item's size.
class PlainStream {
 public:
  // `zlibError` receives the failure of damaged compressed data.
  PlainStream(UnpackEnv& env, UnpackVolume& vol, ItemBuffers& buf, int64_t pos, int64_t size, bool compressed,
              EZLibError& zlibError)
      : env_(env), vol_(vol), buf_(buf), zlibError_(zlibError), pos_(pos), left_(size), compressed_(compressed) {
    if (!compressed) return;
    if (buf_.z)
      buf_.z->Reset();
    else
      buf_.z.reset(new ZInflater);
    buf_.z->SetInput(nullptr, 0);
  }

  // The next piece (empty at the end of the item). False when the payload
  // could not be read whole, or its compressed data is damaged (then
  // `zlibError` is set).
  bool Next(const char*& data, size_t& len) {
    len = 0;
    if (!compressed_) {
      if (left_ == 0) return true;
      if (!ReadPiece()) return false;
      data = buf_.in.get();
      len = inLen_;
      return true;
    }
    ZInflater& z = *buf_.z;
    while (!finished_) {
      if (z.Error()) {
        zlibError_ = z.Error();
        return false;
      }
      if (z.InputLeft() == 0) {
        // A stream that needs more than its payload holds was cut short.
        if (left_ == 0) {
          zlibError_ = EZLibError(Z_BUF_ERROR, ZLibMessage(Z_BUF_ERROR));
          return false;
        }
        if (!ReadPiece()) return false;
        z.SetInput(buf_.in.get(), inLen_);
      }
      size_t produced = z.Inflate(buf_.out.get(), kUnpackPiece, finished_);
      env_.ProcessMessages();
      if (produced > 0) {
        data = buf_.out.get();
        len = produced;
        return true;
      }
    }
    return true;
  }

 private:
  bool ReadPiece() {
    size_t want = size_t(std::min<int64_t>(left_, int64_t(kUnpackPiece)));
    int64_t got = vol_.ReadAt(pos_, buf_.in.get(), want);
    env_.ProcessMessages();
    if (got <= 0) return false;
    inLen_ = size_t(got);
    pos_ += got;
    left_ -= got;
    return true;
  }

  UnpackEnv& env_;
  UnpackVolume& vol_;
  ItemBuffers& buf_;
  EZLibError& zlibError_;
  int64_t pos_;
  int64_t left_;
  bool compressed_;
  size_t inLen_ = 0;
  bool finished_ = false;
};

// Removes a half-written target unless the item completed.
struct AbandonGuard {
  UnpackTarget* target = nullptr;
  ~AbandonGuard() {
    if (target) target->Abandon();
  }
};

enum class ItemResult { Done, Broken, Aborted, Decompression, WriteFailed };

class Extraction {
 public:
  Extraction(UnpackEnv& env, const ExtractRequest& req) : env_(env), req_(req) {}

  void Run(bool& checksumOk, std::string& engineEntry, ExtractOutcome& outcome, EZLibError& zlibError);

 private:
  ItemResult ExtractVolume(UnpackVolume& vol, const PackageTrailer& rec, int64_t end, bool first);
  ItemResult ExtractItem(UnpackVolume& vol, int64_t pos, int64_t size, bool compressed);
  void WriteAgentCopy(UnpackVolume& vol, const PackageTrailer& rec);
  std::string Join(const std::string& name) const { return req_.targetFolder + env_.PathSeparator() + name; }
  // Files are joined by name as Windows keeps them: case does not count.
  bool Made(const std::string& path) const { return made_.count(UpperCase(path)) != 0; }

  UnpackEnv& env_;
  const ExtractRequest& req_;
  ItemBuffers buffers_;
  int64_t itemCount_ = 0;
  int64_t agentCut_ = 0;
  std::string entry_;
  EZLibError zlibError_;
  std::set<std::string> made_;  // the files this run created
};

void Extraction::Run(bool& checksumOk, std::string& engineEntry, ExtractOutcome& outcome, EZLibError& zlibError) {
  uint64_t startTick = env_.Tick();
  int volume = 1;
  engineEntry.clear();
  checksumOk = false;
  outcome = ExtractOutcome::Done;
  bool carryOn = true;
  bool broken = false;
  Progress(req_, 0, 0);
  std::string path = req_.packagePath;
  PackageTrailer rec{};
  for (;;) {
    if (env_.FileExists(path)) {
      rec = PackageTrailer{};
      env_.ReadTrailer(path, rec);
      if (rec.HeaderItemCount == 0) rec.HeaderItemCount = 2;
      if (volume == 1) env_.Debug("FileInfo.FilesCount=" + std::to_string(rec.FileCount));
      checksumOk = ChecksumAccepted(env_.Checksum(path, rec.TrailerLength), rec.VolumeChecksum);
      if (!checksumOk) {
        outcome = ExtractOutcome::Damaged;
        break;
      }
      std::unique_ptr<UnpackVolume> vol = env_.OpenVolume(path);
      if (!vol) {
        broken = true;
        outcome = ExtractOutcome::PackageMissing;
        break;
      }
      int64_t end = env_.LogicalEnd(path);
      env_.Debug("FileLen=" + std::to_string(end));
      if (rec.PackageSignature == kPackageSignature) {
        ItemResult r = ExtractVolume(*vol, rec, end, volume == 1);
        if (r == ItemResult::Decompression) {
          env_.Debug(PidText() + " EZLibError: " + zlibError_.what());
          broken = true;
          outcome = ExtractOutcome::Decompression;
          break;
        }
        if (r == ItemResult::Broken) {
          broken = true;
          outcome = ExtractOutcome::Damaged;
          break;
        }
        if (r == ItemResult::WriteFailed) {
          outcome = ExtractOutcome::WriteFailed;
          break;
        }
        if (r == ItemResult::Aborted) {
          env_.Debug(PidText() + " Extraction stopped on request");
          carryOn = false;
          outcome = ExtractOutcome::Cancelled;
          break;
        }
        if (volume == 1) WriteAgentCopy(*vol, rec);
      } else if (volume > 1 || (rec.PackageFlags & kFlagMoreVolumes)) {
        // A volume without a package inside a spanned one (an empty or cut
        // copy passes the checksum) loses its files: the package is broken.
        broken = true;
        outcome = ExtractOutcome::Damaged;
        break;
      }
    } else if (volume > 1) {
      // The volume was there when the prompt loop ended; going on without it would lose its files.
      broken = true;
      outcome = ExtractOutcome::PackageMissing;
      break;
    } else {
      outcome = ExtractOutcome::PackageMissing;
    }
    if (!(rec.PackageFlags & kFlagMoreVolumes)) break;
    env_.AutoPlayCancelOn();
    ++volume;
    path = VolumePath(req_.packagePath, volume);
    if (req_.hidden) {
      // Nobody is there to insert a disk: a volume that is not there ends the run.
      if (!env_.FileExists(path)) {
        env_.Debug(PidText() + " Volume not found (hidden operation, no disk prompt): " + path);
        outcome = ExtractOutcome::PackageMissing;
        break;
      }
    } else if (req_.forcePrompt || !env_.FileExists(path)) {
      env_.EjectMedium(path);
      do {
        std::string text = ReplaceTextNoCase(req_.promptText, "<DISK_NUM>", std::to_string(volume));
        carryOn = env_.ConfirmOkCancel(text, req_.promptTitle, req_.charset, req_.buttonTexts);
        env_.PumpMessagesFor(500);
      } while (carryOn && !env_.FileExists(path));
    }
    Progress(req_, 1, 0);
    if (!carryOn) {
      outcome = ExtractOutcome::Cancelled;
      break;
    }
  }
  engineEntry = entry_;
  zlibError = zlibError_;
  if (broken) {
    // A package that cannot be read whole is reported like a checksum failure.
    checksumOk = false;
    engineEntry.clear();
  }
  // Nothing may start from a folder that lacks a file.
  if (outcome == ExtractOutcome::Cancelled || outcome == ExtractOutcome::PackageMissing ||
      outcome == ExtractOutcome::WriteFailed)
    engineEntry.clear();
  env_.Debug("UnCompressTime: " + std::to_string(env_.Tick() - startTick) + " MS");
  env_.Debug("");
  env_.PumpMessagesFor(500);
}

ItemResult Extraction::ExtractVolume(UnpackVolume& vol, const PackageTrailer& rec, int64_t end, bool first) {
  if (first) Progress(req_, 0, int(rec.FileCount));
  if (!env_.CreateFolder(req_.targetFolder))
    env_.ErrorBox(env_.PathForText(req_.targetFolder) + "<P><P>Unable to create Directory!<P><P>" +
                  env_.LastErrorText());
  // Items must end before the trailer; anything reaching into it is damage.
  int64_t trailerLen = rec.TrailerLength >= 4 && rec.TrailerLength <= uint32_t(kTrailerSize) ? rec.TrailerLength
                                                                                                : kTrailerSize;
  int64_t limit = end - trailerLen;
  int64_t pos = rec.FirstItemOffset;
  while (end - pos > kTrailerSize) {
    env_.ProcessMessages();
    if (env_.Aborted()) return ItemResult::Aborted;
    uint8_t lenBytes[4];
    if (vol.ReadAt(pos, lenBytes, 4) != 4) return ItemResult::Broken;
    int32_t n = int32_t(GetU32(lenBytes));
    bool compressed = n > 0;
    int64_t size = n < 0 ? -int64_t(n) : int64_t(n);
    int64_t payload = pos + 4;
    if (payload + size > limit) {
      env_.Debug(PidText() + " Item at " + std::to_string(pos) + " runs past the end of the volume");
      return ItemResult::Broken;
    }
    pos = payload + size;
    ++itemCount_;
    if (itemCount_ == rec.HeaderItemCount) agentCut_ = pos;
    if (itemCount_ <= rec.HeaderItemCount) continue;
    ItemResult r = ExtractItem(vol, payload, size, compressed);
    if (r != ItemResult::Done) return r;
  }
  return ItemResult::Done;
}

ItemResult Extraction::ExtractItem(UnpackVolume& vol, int64_t pos, int64_t size, bool compressed) {
  PlainStream plain(env_, vol, buffers_, pos, size, compressed, zlibError_);
  auto failed = [&] { return zlibError_ ? ItemResult::Decompression : ItemResult::Broken; };
  const char* data = nullptr;
  size_t len = 0;
  // The header text ends at the first 0x00; everything after it is content.
  std::string header;
  bool haveHeader = false;
  for (;;) {
    if (!plain.Next(data, len)) return failed();
    if (len == 0) break;
    const char* zero = static_cast<const char*>(std::memchr(data, 0, len));
    if (zero) {
      header.append(data, size_t(zero - data));
      len -= size_t(zero - data) + 1;
      data = zero + 1;
      haveHeader = true;
      break;
    }
    header.append(data, len);
    if (header.size() > kMaxItemHeader) break;
  }
  if (!haveHeader || header.empty()) return ItemResult::Done;

  // Names and the engine's entry become paths (UTF-8) before any rule looks
  // at them, so the unsafe-name rule judges what the file system will see.
  const NameEncoding encoding = ItemNameEncoding(header);
  const bool badUtf8 = encoding == NameEncoding::Utf8 && !IsValidUtf8(header);
  auto toPath = [&](const std::string& stored) {
    return encoding == NameEncoding::Utf8 || IsAscii(stored) ? stored : env_.AnsiNameToPath(stored);
  };
  std::string entry;
  // The setup flow starts the text before the star: from a header it must
  // still name a file inside the target folder.
  size_t headerStar = header.find('*');
  if (!badUtf8 && headerStar != std::string::npos && IsPlainFileName(Trim(toPath(header.substr(0, headerStar)))))
    entry = toPath(header);
  std::string name = toPath(ListItem(header, 0, ""));
  std::string dateText = ListItem(header, 1, "");
  size_t star = name.find('*');
  if (star != std::string::npos) {
    entry = name;
    name.erase(star);
  }
  if (badUtf8 || !IsPlainFileName(name)) {
    env_.Debug(PidText() + " Skipped file item with unsafe name: " + name);
    env_.UnsafeNameSkipped(name);
    return ItemResult::Done;
  }
  if (!entry.empty()) entry_ = entry;
  int64_t dateValue = StrToInt64Def(dateText, 0);
  uint32_t dosTime = dateValue >= INT32_MIN && dateValue <= int64_t(UINT32_MAX) ? uint32_t(dateValue) : 0;

  std::string target = Join(name);
  bool existed = false;
  bool ours = Made(target);
  std::unique_ptr<UnpackTarget> out = env_.OpenTarget(target, ours ? TargetMode::Append : TargetMode::CreateNew, existed);
  bool writeOk = out != nullptr;
  if (out && !ours) made_.insert(UpperCase(target));
  // Read before the progress step: updating the bars may change the last error.
  std::string errorText = writeOk ? "" : env_.LastErrorText();
  if (!ours) Progress(req_, 1, 0);
  if (!out && existed && !ours) errorText = "A file of this name was there before the setup wrote it.";
  AbandonGuard guard{out.get()};
  int64_t total = 0;
  for (;;) {
    if (len > 0) {
      total += int64_t(len);
      if (writeOk && !out->Write(data, len)) {
        writeOk = false;
        errorText = out->LastError();
      }
    }
    // A failed write still reads the item to its end, so damaged data is reported as such.
    if (!plain.Next(data, len)) return failed();
    if (len == 0) break;
  }
  // A date that cannot be set means the file is not what was written.
  if (writeOk && dosTime != 0 && !out->SetDosTime(dosTime)) {
    writeOk = false;
    errorText = out->LastError();
  }
  guard.target = nullptr;
  if (!writeOk && out) out->Abandon();  // the half-written file goes
  out.reset();
  if (!writeOk) {
    ++g_writeFailures;
    env_.Debug(PidText() + " Unable to save " + target + ": " + errorText);
    env_.ErrorBox(env_.PathForText(target) + "<P><P>Unable to save Extracted File!<P><P>" +
                  env_.DescribeWriteFailure(target, total, errorText));
    return ItemResult::WriteFailed;
  }
  return ItemResult::Done;
}

void Extraction::WriteAgentCopy(UnpackVolume& vol, const PackageTrailer& rec) {
  std::string agentName = ExtractFileName(req_.agentFileName);
  const std::string& pkg = req_.packagePath;
  if (agentName.empty() || !(EndsWith(".exe", pkg, true) || EndsWith(".exe.001", pkg, true))) return;
  // Without all header items there is no stub to copy.
  if (agentCut_ <= 0) return;
  std::string path = Join(agentName);
  bool existed = false;
  // Over an item of the same name (this run's), never over a file found there.
  std::unique_ptr<UnpackTarget> out =
      env_.OpenTarget(path, Made(path) ? TargetMode::Replace : TargetMode::CreateNew, existed);
  if (!out) {
    env_.Debug(PidText() + " New AU-Agent not written: " + path);
    return;
  }
  AbandonGuard guard{out.get()};
  // Held whole (a stub and its header items, a few hundred KiB), so that its
  // own checksum can be put into its trailer: the copy is a package of its
  // own, which the agent's checks and the packer's inspection accept.
  std::string copy;
  copy.reserve(size_t(agentCut_) + kTrailerSize);
  char* buf = buffers_.in.get();
  for (int64_t pos = 0; pos < agentCut_;) {
    size_t want = size_t(std::min<int64_t>(agentCut_ - pos, int64_t(kUnpackPiece)));
    int64_t got = vol.ReadAt(pos, buf, want);
    if (got <= 0) return;
    copy.append(buf, size_t(got));
    pos += got;
  }
  // The copy's trailer sits at its physical end, so its PackageEnd low half must read 0.
  for (size_t off = 0xFC; off < 0x100 && off < copy.size(); ++off) copy[off] = 0;
  PackageTrailer t = rec;
  t.IsUpdateAgent = 1;
  t.TrailerLength = kTrailerSize;
  // It carries the header items only: no files, no space to ask for, no
  // later volumes, no web download and no copy of its own to write.
  t.FileCount = 0;
  for (uint32_t& space : t.SpaceRequired) space = 0;
  t.PackageFlags = uint8_t(t.PackageFlags & ~(kFlagMoreVolumes | kFlagCdSpanning));
  t.WebSetup = 0;
  t.WriteAgentCopy = 0;
  copy += EncodeTrailer(t);
  if (rec.VolumeChecksum != kUncheckedVolume) {
    t.VolumeChecksum = PlainVolumeChecksum(copy, kTrailerSize);
    copy.replace(copy.size() - kTrailerSize, kTrailerSize, EncodeTrailer(t));
  }
  if (!out->Write(copy.data(), copy.size())) return;
  guard.target = nullptr;
  uint32_t time = env_.FileDosTime(pkg);
  if (time != 0) out->SetDosTime(time);
  out.reset();
  env_.Debug(PidText() + " New AU-Agent: " + path);
}

}  // namespace

void UnpackEnv::ReadTrailer(const std::string& path, PackageTrailer& trailer) { ReadPackageTrailer(path, trailer); }
int64_t UnpackEnv::LogicalEnd(const std::string& path) { return PackageLogicalEnd(path); }
uint32_t UnpackEnv::Checksum(const std::string& path, uint32_t trailerLength) {
  return PackageChecksum(path, trailerLength);
}

void RunExtraction(UnpackEnv& env, const ExtractRequest& request, bool& checksumOk, std::string& engineEntry,
                   ExtractOutcome* outcome, EZLibError* zlibError) {
  ExtractOutcome localOutcome = ExtractOutcome::Done;
  EZLibError localError;
  Extraction(env, request).Run(checksumOk, engineEntry, outcome ? *outcome : localOutcome,
                               zlibError ? *zlibError : localError);
}

namespace {
// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9 and LPT0-LPT9 (the
// superscript digits 1-3 of the ANSI code page too) name devices whatever
// extension follows.
bool IsDeviceName(const std::string& name) {
  std::string stem = UpperCase(name.substr(0, name.find('.')));
  size_t last = stem.find_last_not_of(' ');
  stem.erase(last == std::string::npos ? 0 : last + 1);
  for (const char* d : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (stem == d) return true;
  if (stem.size() < 4 || (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0)) return false;
  // The superscripts as one ANSI byte, or as their two UTF-8 bytes.
  std::string digit = stem.substr(3);
  if (digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3") return true;
  if (stem.size() != 4) return false;
  unsigned char n = static_cast<unsigned char>(stem[3]);
  return (n >= '0' && n <= '9') || n == 0xB9 || n == 0xB2 || n == 0xB3;
}
}  // namespace

bool IsPlainFileName(const std::string& name) {
  if (name.find_first_of("\\/:") != std::string::npos) return false;
  // Names of only dots and blanks ("", ".", "..", ". .") resolve to a folder, not a file.
  if (name.find_first_not_of(". ") == std::string::npos) return false;
  return !IsDeviceName(name);
}

int WriteFailureCount() { return g_writeFailures; }
void ResetWriteFailureCount() { g_writeFailures = 0; }
