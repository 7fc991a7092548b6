// Feeds arbitrary bytes to the package reader as a file: trailer, header
// items, every query, the language lookup, tokens and inform texts.
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "package/gfileinfo.h"
#include "package/signature.h"
#include "package/lang.h"
#include "package/package_items.h"
#include "paths/platform.h"
#include "package/checksum.h"

namespace {
struct TempFile {
  std::string path = "/tmp/fuzz_package_" + std::to_string(getpid()) + ".bin";
  ~TempFile() { std::remove(path.c_str()); }
};
const std::string& TempPath() {
  static TempFile file;
  return file.path;
}
uint32_t g_cluster = 0;
uint32_t g_locale = 0;
volatile uint64_t g_sink = 0;  // keeps the queries from being optimised away
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& path = TempPath();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  g_cluster = size ? uint32_t(data[0]) << (size % 17) : 0;
  g_locale = size > 1 ? uint32_t(data[1]) | (uint32_t(size & 3) << 10) : 0;
  Platform().clusterSize = [](const std::string&) { return g_cluster; };
  Platform().threadLocale = [] { return g_locale; };
  ResetChosenLanguage();

  TGFileInfo fi(path);
  uint64_t sink = fi.SpaceRequired("C:\\");
  sink += fi.TempDriveNotice() + fi.MoreVolumes() + fi.CdSpanning() + fi.ActivityBar() + fi.DebugLog() +
          fi.WebSetup() + fi.ConfirmDownload() + fi.WriteAgentCopy() + fi.IsUpdateAgent() + fi.Silent() +
          fi.WebAlwaysDownload();
  std::string all = fi.UpdateUrl() + fi.AgentExeName() + fi.InfoFileName() + fi.OriginalFileName() +
                    fi.PackageToken(true) + fi.PackageToken(false) + fi.WebBase() + fi.WebFileName() +
                    fi.WebToken(true) + fi.WebSize();
  for (const char* key : {"s0", "s1", "s11", "BtnText", "Charset", "=", "", "s1="})
    all += fi.GetLangText(key, "default");
  sink += fi.Charset() + fi.FontSize() + fi.FontName().size() + all.size();
  sink += TokensMatch(fi.PackageToken(false), fi.WebToken(false));
  // The signature fields are parsed from the same hostile header items.
  std::string point, digest;
  sink += ParsePublisherKey(fi.UpdatePublicKey(), point) + ParseSha256Hex(fi.WebSha256(), digest) + point.size() +
          digest.size();

  std::string text(reinterpret_cast<const char*>(data), size);
  sink += TokenUnscramble(text).size();
  InformText inform = DecodeInformText(text);
  sink += inform.token.size() + inform.body.size();

  PackageTrailer t;
  sink += ReadPackageTrailer(path, t) + HasExeHeader(path) + uint64_t(PackageLogicalEnd(path));
  sink += PackageChecksum(path, t.TrailerLength);
  VolumeContents v;
  std::string error;
  if (ReadVolumeItems(path, v, error)) {
    for (const ChainItem& item : v.items) {
      std::string plain;
      if (item.length > 0 && !InflateBytes(item.payload, plain, error)) continue;
      FileItemInfo info;
      sink += SplitFileItem(item.length > 0 ? plain : item.payload, info);
    }
  }
  g_sink = sink;
  return 0;
}
