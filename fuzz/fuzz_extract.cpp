// The extraction engine over an environment held in memory. Whatever the
// volumes hold, the run must end, write only plain files inside the target
// folder under UTF-8 names (marked names as they are, unmarked ones through
// a code page that turns some bytes into dots and separators), keep its
// memory within a fixed bound, and never report success
// (checksum result true and an engine entry) for a package that it could not
// read whole.
//
// Input: one options byte, a 16-bit fault offset (little-endian), then the
// volume files separated by kVolumeMark. A volume that is exactly "-" is
// absent; volume k is named the way the engine looks for it.
#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "memfile.h"
#include "package/checksum.h"
#include "package/gfileinfo.h"
#include "package/pkgfile.h"
#include "paths/utf8.h"
#include "paths/utils.h"
#include "setup/setupflow.h"
#include "setup/unpack.h"
#include "setup/zlibopen.h"

namespace {

const std::string kVolumeMark = "|ZSVOL|";
const std::string kTarget = "C:\\dst\\SETUP_1";
// Peak of the bytes that the engine holds at once (pieces, inflate state,
// one item header and the texts made from it); independent of the package.
constexpr int64_t kMemoryBound = 2 << 20;

// Options byte.
constexpr uint8_t kOptRealChecksum = 0x01;  // otherwise every volume reads as unchecked
constexpr uint8_t kOptForcePrompt = 0x02;
constexpr int kOptOkShift = 2;              // bits 2-3: OK answers before Cancel
constexpr uint8_t kOptAgent = 0x10;
constexpr uint8_t kOptFirst001 = 0x20;
constexpr int kOptFaultShift = 6;           // bits 6-7: fault kind
enum Fault { kNoFault = 0, kReadFails = 1, kShortReads = 2, kWriteFails = 3 };

[[noreturn]] void Finding(const std::string& what) {
  std::fprintf(stderr, "fuzz_extract: %s\n", what.c_str());
  std::abort();
}

// ---- memory accounting of the engine alone ----
bool g_counting = false;
int64_t g_live = 0;
int64_t g_peak = 0;
int64_t g_largestPeak = 0;  // over all inputs; printed at exit when ZS_FUZZ_PEAK is set

void MallocHook(const volatile void*, size_t size) {
  if (!g_counting) return;
  g_live += int64_t(size);
  g_peak = std::max(g_peak, g_live);
}
void FreeHook(const volatile void* p) {
  if (g_counting) g_live -= int64_t(__sanitizer_get_allocated_size(p));
}

// Environment code is the platform's, not the engine's: its allocations are not counted.
struct Uncounted {
  bool saved = g_counting;
  Uncounted() { g_counting = false; }
  ~Uncounted() { g_counting = saved; }
};

// Windows resolves these names to devices in any folder.
bool IsDeviceName(const std::string& name) {
  std::string base = UpperCase(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* d : kDevices)
    if (base == d) return true;
  if (base.size() < 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
  // The superscript digits 1-3, as one ANSI byte or in UTF-8.
  const std::string digit = base.substr(3);
  if (digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3") return true;
  return base.size() == 4 &&
         ((base[3] >= '0' && base[3] <= '9') || base[3] == '\xB9' || base[3] == '\xB2' || base[3] == '\xB3');
}

// The machine's ANSI code page: Latin-1, except for bytes that become a dot,
// a blank and the separators, as conversions of some code pages do. A name
// that is plain as bytes may so become unsafe only after conversion.
std::string HostileCodePage(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (uint8_t(c)) {
      case 0xA0: out += ' '; break;
      case 0xA5: out += '\\'; break;
      case 0xAE: out += '.'; break;
      case 0xAF: out += '/'; break;
      case 0xBA: out += ':'; break;
      default: AppendUtf8(out, uint8_t(c));
    }
  }
  return out;
}

// A path the engine may write: a plain file name right inside the target folder.
void CheckTargetPath(const std::string& path) {
  if (path.compare(0, kTarget.size() + 1, kTarget + "\\") != 0) Finding("write outside the target folder: " + path);
  std::string name = path.substr(kTarget.size() + 1);
  // Paths are UTF-8: marked names are checked, unmarked ones converted.
  if (!IsValidUtf8(name)) Finding("write to a name that is not UTF-8: " + name);
  bool onlyDots = name.find_first_not_of(". ") == std::string::npos;
  if (onlyDots || name.find_first_of("\\/:") != std::string::npos || IsDeviceName(name))
    Finding("write to a name that is no plain file: " + name);
}

struct Options {
  uint8_t flags = 0;
  uint16_t faultAt = 0;
  Fault fault() const { return Fault(flags >> kOptFaultShift); }
};

struct FileState {
  int64_t size = 0;
  uint32_t dosTime = 0;
};

class MemEnv;

class MemVolume : public UnpackVolume {
 public:
  MemVolume(MemEnv& env, const std::string& bytes) : env_(env), bytes_(bytes) {}
  int64_t Size() override { return int64_t(bytes_.size()); }
  int64_t ReadAt(int64_t offset, void* buffer, size_t count) override;

 private:
  MemEnv& env_;
  const std::string& bytes_;
};

class MemTarget : public UnpackTarget {
 public:
  MemTarget(MemEnv& env, std::string path, bool created, int64_t oldSize, bool agentCopy)
      : env_(env), path_(std::move(path)), created_(created), oldSize_(oldSize), agentCopy_(agentCopy) {}
  ~MemTarget() override;
  bool Write(const void* data, size_t size) override;
  bool SetDosTime(uint32_t dosTime) override;
  void Abandon() override;
  std::string LastError() override { return failed_ ? "disk full" : ""; }

 private:
  MemEnv& env_;
  std::string path_;
  bool created_;
  int64_t oldSize_;
  bool agentCopy_;
  bool failed_ = false;
};

class MemEnv : public UnpackEnv {
 public:
  MemEnv(const Options& o, std::map<std::string, std::string> volumes) : opt(o), volumes_(std::move(volumes)) {
    okAnswers = (o.flags >> kOptOkShift) & 3;
  }

  const std::string* Volume(const std::string& path) const {
    auto it = volumes_.find(path);
    return it == volumes_.end() ? nullptr : &it->second;
  }

  bool FileExists(const std::string& path) override {
    Uncounted u;
    return volumes_.count(path) || files.count(path);
  }
  std::unique_ptr<UnpackVolume> OpenVolume(const std::string& path) override {
    Uncounted u;
    const std::string* bytes = Volume(path);
    if (!bytes) return nullptr;
    opened.push_back(path);
    return std::unique_ptr<UnpackVolume>(new MemVolume(*this, *bytes));
  }
  void ReadTrailer(const std::string& path, PackageTrailer& trailer) override {
    Uncounted u;
    const std::string* b = Volume(path);
    if (!b) return;
    MemFile f(reinterpret_cast<const uint8_t*>(b->data()), b->size());
    ReadPackageTrailer(f.get(), trailer);
  }
  int64_t LogicalEnd(const std::string& path) override {
    Uncounted u;
    const std::string* b = Volume(path);
    if (!b) return -1;
    MemFile f(reinterpret_cast<const uint8_t*>(b->data()), b->size());
    return PackageLogicalEnd(f.get());
  }
  uint32_t Checksum(const std::string& path, uint32_t trailerLength) override {
    Uncounted u;
    const std::string* b = Volume(path);
    if (!b) return 0;
    if (!(opt.flags & kOptRealChecksum)) return kUncheckedVolume;
    MemFile f(reinterpret_cast<const uint8_t*>(b->data()), b->size());
    return PackageChecksum(f.get(), trailerLength);
  }
  bool CreateFolder(const std::string& folder) override {
    if (folder != kTarget) Finding("folder created outside the target: " + folder);
    return true;
  }
  std::unique_ptr<UnpackTarget> OpenTarget(const std::string& path, TargetMode mode, bool& existed) override {
    Uncounted u;
    CheckTargetPath(path);
    bool replace = mode != TargetMode::Append && path == kTarget + std::string("\\Agent.exe");
    if (mode == TargetMode::CreateNew && files.count(path) && !replace) {
      existed = true;
      return nullptr;
    }
    // Only the agent copy replaces a file; read failures while it is open
    // concern the copy, not the package's items.
    if (replace) inAgentCopy = true;
    auto it = files.find(path);
    existed = it != files.end();
    int64_t old = existed ? it->second.size : 0;
    if (replace || !existed) files[path] = FileState();
    return std::unique_ptr<UnpackTarget>(new MemTarget(*this, path, !existed, replace ? 0 : old, replace));
  }
  uint32_t FileDosTime(const std::string& path) override { return 0x2C5A6B3C; }
  std::string DescribeWriteFailure(const std::string& path, int64_t dataSize, const std::string& errorText) override {
    return errorText;
  }
  std::string LastErrorText() override { return "error"; }
  char PathSeparator() override { return '\\'; }
  void ErrorBox(const std::string& text) override { ++errorBoxes; }
  bool ConfirmOkCancel(const std::string& text, const std::string& title, int charset,
                       const std::string& buttons) override {
    if (++prompts > 64) Finding("the disk prompt keeps coming back");
    return okAnswers-- > 0;
  }
  void EjectMedium(const std::string& path) override {}
  void AutoPlayCancelOn() override {}
  void ProcessMessages() override {}
  void PumpMessagesFor(uint32_t ms) override {}
  uint64_t Tick() override { return ++tick; }
  void Debug(const std::string& line) override {}
  // Counted: the engine holds the converted name as it would on Windows.
  std::string AnsiNameToPath(const std::string& name) override { return HostileCodePage(name); }

  Options opt;
  std::map<std::string, FileState> files;
  std::vector<std::string> opened;
  bool faultInItems = false;
  bool inAgentCopy = false;
  int okAnswers = 0;
  int prompts = 0;
  int errorBoxes = 0;
  uint64_t tick = 0;

 private:
  std::map<std::string, std::string> volumes_;
};

int64_t MemVolume::ReadAt(int64_t offset, void* buffer, size_t count) {
  if (offset < 0) Finding("read at a negative offset");
  if (count > kUnpackPiece) Finding("read of more than one piece");
  const Options& o = env_.opt;
  if (o.fault() == kReadFails && offset + int64_t(count) > o.faultAt && count > 0) {
    if (!env_.inAgentCopy) env_.faultInItems = true;
    return (o.faultAt & 1) ? -1 : 0;
  }
  if (o.fault() == kShortReads) count = std::min<size_t>(count, 1 + size_t(offset % 13));
  if (offset >= int64_t(bytes_.size())) return 0;
  size_t n = std::min<size_t>(count, bytes_.size() - size_t(offset));
  std::memcpy(buffer, bytes_.data() + offset, n);
  return int64_t(n);
}

MemTarget::~MemTarget() {
  if (agentCopy_) env_.inAgentCopy = false;
}

bool MemTarget::Write(const void* data, size_t size) {
  Uncounted u;
  auto it = env_.files.find(path_);
  if (it == env_.files.end()) Finding("write after the target was abandoned");
  if (env_.opt.fault() == kWriteFails && it->second.size + int64_t(size) > env_.opt.faultAt) {
    failed_ = true;
    return false;
  }
  it->second.size += int64_t(size);
  return true;
}

bool MemTarget::SetDosTime(uint32_t dosTime) {
  Uncounted u;
  auto it = env_.files.find(path_);
  if (it != env_.files.end()) it->second.dosTime = dosTime;
  return true;
}

void MemTarget::Abandon() {
  Uncounted u;
  if (created_) {
    env_.files.erase(path_);
    return;
  }
  auto it = env_.files.find(path_);
  if (it != env_.files.end()) it->second.size = oldSize_;
}

// The chain of a volume walked straight over its bytes: false when the
// volume has no package or an item reaches past its trailer.
bool ChainIsWhole(const std::string& bytes) {
  MemFile f(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  PackageTrailer t;
  if (!ReadPackageTrailer(f.get(), t) || t.PackageSignature != kPackageSignature) return false;
  int64_t end = PackageLogicalEnd(f.get());
  int64_t limit = end - int64_t(t.TrailerLength);
  int64_t pos = t.FirstItemOffset;
  while (end - pos > kTrailerSize) {
    if (pos + 4 > limit) return false;
    int32_t n = int32_t(GetU32(reinterpret_cast<const uint8_t*>(bytes.data()) + pos));
    int64_t size = n < 0 ? -int64_t(n) : int64_t(n);
    if (pos + 4 + size > limit) return false;
    pos += 4 + size;
  }
  return true;
}

bool MoreVolumesFlag(const std::string& bytes) {
  MemFile f(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  PackageTrailer t;
  ReadPackageTrailer(f.get(), t);
  return t.PackageFlags & kFlagMoreVolumes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(MallocHook, FreeHook);
  if (std::getenv("ZS_FUZZ_PEAK"))
    std::atexit([] { std::fprintf(stderr, "fuzz_extract: largest engine peak %lld bytes\n", (long long)g_largestPeak); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  Options opt;
  opt.flags = data[0];
  opt.faultAt = uint16_t(data[1] | (data[2] << 8));
  std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);

  ExtractRequest req;
  req.packagePath = (opt.flags & kOptFirst001) ? "C:\\src\\Setup.exe.001" : "C:\\src\\Setup.exe";
  req.targetFolder = kTarget;
  req.agentFileName = (opt.flags & kOptAgent) ? "Agent.exe" : "";
  req.promptText = "Please insert <B>DISK #<DISK_NUM></B>";
  req.promptTitle = "Attention";
  req.forcePrompt = opt.flags & kOptForcePrompt;

  std::map<std::string, std::string> volumes;
  for (int k = 1;; ++k) {
    size_t mark = rest.find(kVolumeMark);
    std::string part = rest.substr(0, mark);
    if (part != "-") volumes[k == 1 ? req.packagePath : VolumePath(req.packagePath, k)] = part;
    if (mark == std::string::npos) break;
    rest.erase(0, mark + kVolumeMark.size());
  }

  MemEnv env(opt, std::move(volumes));
  ResetWriteFailureCount();
  bool checksumOk = false;
  std::string entry;
  ExtractOutcome outcome = ExtractOutcome::Done;
  g_live = g_peak = 0;
  g_counting = true;
  RunExtraction(env, req, checksumOk, entry, &outcome);
  g_counting = false;
  g_largestPeak = std::max(g_largestPeak, g_peak);
  if (g_peak > kMemoryBound) Finding("the engine held " + std::to_string(g_peak) + " bytes at once");
  if (outcome == ExtractOutcome::Decompression) {
    if (checksumOk || !entry.empty()) Finding("damaged compressed data reported as success");
    return 0;
  }

  if (checksumOk && !entry.empty()) {
    if (env.faultInItems) Finding("success although a read of an item failed");
    for (const std::string& path : env.opened)
      if (!ChainIsWhole(*env.Volume(path))) Finding("success although " + path + " holds no whole package");
    if (!env.opened.empty() && MoreVolumesFlag(*env.Volume(env.opened.back())))
      Finding("success although a volume after " + env.opened.back() + " is missing");
    // The setup flow starts the engine from the entry: it must lie in the target folder.
    std::string engine = BuildEngineCommandLine(entry, kTarget, "", "_1", "C:\\src\\Setup.exe", false).engineName;
    if (engine.find_first_of("\\/:") != std::string::npos) Finding("engine outside the target folder: " + engine);
  }
  return 0;
}
