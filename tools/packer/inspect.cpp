// "packer inspect": prints what a package holds and checks every volume.
#include <cstdio>
#include <string>

#include "package/gfileinfo.h"
#include "package/package_items.h"
#include "package/pkgfile.h"
#include "paths/utils.h"
#include "package/checksum.h"

namespace {
int g_problems = 0;

void Problem(const std::string& what) {
  ++g_problems;
  std::printf("  PROBLEM: %s\n", what.c_str());
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

std::string DosText(uint32_t dos) {
  if (dos == 0) return "0 (time of extraction)";
  unsigned date = dos >> 16, time = dos & 0xFFFF;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u (%u)", 1980 + (date >> 9), (date >> 5) & 15,
                date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2, dos);
  return buf;
}

bool OpenAndClose(const std::string& path) {
  std::FILE* f = OpenSharedRead(path);
  if (f) std::fclose(f);
  return f != nullptr;
}

const char* TokenState(const std::string& scrambled) {
  if (scrambled.empty()) return "none";
  std::string plain;
  return TryTokenUnscramble(scrambled, plain) && !plain.empty() ? "valid" : "invalid";
}

void PrintTrailer(const PackageTrailer& t) {
  std::printf("  HeaderItemCount: %u\n", t.HeaderItemCount);
  std::printf("  FirstItemOffset: %u\n", t.FirstItemOffset);
  std::printf("  FileCount: %u\n", t.FileCount);
  std::printf("  PackageSignature: %s\n", Hex(t.PackageSignature).c_str());
  std::printf("  SpaceRequired:");
  for (int i = 0; i < kSpaceEntries; ++i) std::printf(" %u", t.SpaceRequired[i]);
  std::printf("\n");
  std::printf("  TempDriveNotice: %d\n  MoreVolumes: %d\n  CdSpanning: %d\n  ActivityBar: %d\n  DebugLog: %d\n",
              !!(t.PackageFlags & kFlagTempDriveNotice), !!(t.PackageFlags & kFlagMoreVolumes),
              !!(t.PackageFlags & kFlagCdSpanning), !!(t.PackageFlags & kFlagActivityBar),
              !!(t.PackageFlags & kFlagDebugLog));
  std::printf("  WebSetup: %d\n  ConfirmDownload: %d\n  WriteAgentCopy: %d\n  IsUpdateAgent: %d\n", t.WebSetup,
              t.ConfirmDownload, t.WriteAgentCopy, t.IsUpdateAgent);
  std::printf("  TrailerLength: %u\n", t.TrailerLength);
}

void PrintHeader(const TGFileInfo& fi) {
  std::printf("header:\n");
  std::printf("  UpdateUrl: %s\n", fi.UpdateUrl().c_str());
  std::printf("  InfoFileName: %s\n", ListItem(fi.HeaderString(), 1, "").c_str());
  std::printf("  AgentExeName: %s\n", fi.AgentExeName().c_str());
  std::printf("  PackageToken: %s\n", TokenState(fi.PackageToken(false)));
  std::printf("  Silent: %d\n", fi.Silent() ? 1 : 0);
  if (fi.Trailer().HeaderItemCount > 2) {
    std::printf("web setup:\n");
    std::printf("  Base: %s\n", fi.WebBase().c_str());
    std::printf("  FileName: %s\n", fi.WebFileName().c_str());
    std::printf("  AlwaysDownload: %d\n", fi.WebAlwaysDownload() ? 1 : 0);
    std::printf("  WebToken: %s\n", TokenState(fi.WebToken(false)));
    std::printf("  Size: %s\n", fi.WebSize().c_str());
  }
  std::printf("languages:\n");
  const std::string& block = fi.LangBlock();
  int count = ListCount(block);
  for (int i = 0; i < count; ++i) {
    std::string section = ListItem(block, i, "");
    std::printf("  %s (%d texts)\n", ListItem(section, 0, "").c_str(), ListCount(section) > 0 ? ListCount(section) - 1 : 0);
  }
}
}  // namespace

int InspectPackage(const std::string& first) {
  g_problems = 0;
  TGFileInfo fi(first);
  int items = 0;
  int headerItems = 2;
  bool headerShown = false;
  std::string files;
  for (int k = 1;; ++k) {
    std::string path = k == 1 ? first : VolumePath(first, k);
    PackageTrailer t;
    bool exists = OpenAndClose(path);
    std::printf("volume %d: %s\n", k, path.c_str());
    if (!exists) {
      Problem("volume file missing");
      break;
    }
    int64_t end = PackageLogicalEnd(path);
    std::printf("  Executable: %d\n  LogicalEnd: %lld\n", HasExeHeader(path) ? 1 : 0, (long long)end);
    if (!ReadPackageTrailer(path, t)) {
      Problem("no package trailer");
      break;
    }
    PrintTrailer(t);
    if (t.PackageSignature != kPackageSignature) Problem("PackageSignature is not 0x4A3B2C1D");
    uint32_t computed = PackageChecksum(path, t.TrailerLength);
    if (t.VolumeChecksum == kUncheckedVolume || computed == kUncheckedVolume)
      std::printf("  VolumeChecksum: %s (not checked)\n", Hex(t.VolumeChecksum).c_str());
    else if (computed == t.VolumeChecksum)
      std::printf("  VolumeChecksum: %s (ok)\n", Hex(t.VolumeChecksum).c_str());
    else
      Problem("VolumeChecksum " + Hex(t.VolumeChecksum) + " does not match the computed " + Hex(computed));
    if (k == 1) headerItems = t.HeaderItemCount;
    if (k == 1 && t.PackageSignature == kPackageSignature) {
      if (!fi.HasPackage()) Problem("the header items cannot be read");
      PrintHeader(fi);
      headerShown = true;
    }
    VolumeContents v;
    std::string error;
    if (!ReadVolumeItems(path, v, error)) Problem(error);
    for (const ChainItem& item : v.items) {
      if (++items <= headerItems) continue;
      std::string plain = item.payload;
      if (item.length > 0 && !InflateBytes(item.payload, plain, error)) {
        Problem("item at offset " + std::to_string(item.offset) + ": " + error);
        continue;
      }
      FileItemInfo f;
      if (!SplitFileItem(plain, f)) {
        files += "  " + std::to_string(k) + "  (item at offset " + std::to_string(item.offset) +
                 " has no file header; skipped on extraction)\n";
        continue;
      }
      files += "  " + std::to_string(k) + "  " + std::to_string(f.content.size()) + "  " + DosText(f.dosTime) +
               "  " + (item.length < 0 ? "stored" : "compressed") + "  " + f.name;
      if (f.engine) files += "  [engine" + (f.engineArgs.empty() ? "" : " " + f.engineArgs) + "]";
      files += "\n";
    }
    if (!(t.PackageFlags & kFlagMoreVolumes)) break;
  }
  if (!headerShown) std::printf("header: (none)\n");
  std::printf("files (volume, size, DOS date, method, name):\n%s", files.c_str());
  if (g_problems == 0)
    std::printf("result: OK\n");
  else
    std::printf("result: FAILED (%d problem%s)\n", g_problems, g_problems == 1 ? "" : "s");
  return g_problems == 0 ? 0 : 1;
}
