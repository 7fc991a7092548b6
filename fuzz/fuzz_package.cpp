// The package reader over arbitrary bytes held in memory: trailer, header
// items, every query, the language lookup, the item chain, the checksum,
// tokens, inform texts and the encoding and decoding of item names.
#include <cstdint>
#include <cstring>
#include <string>

#include "memfile.h"
#include "package/checksum.h"
#include "package/gfileinfo.h"
#include "package/signature.h"
#include "package/item_name.h"
#include "package/lang.h"
#include "package/package_items.h"
#include "paths/platform.h"
#include "paths/utf8.h"

namespace {
uint32_t g_cluster = 0;
uint32_t g_locale = 0;
volatile uint64_t g_sink = 0;  // keeps the queries from being optimised away

// An ANSI code page stand-in: each byte above 0x7F as the code point of the same number.
std::string Latin1ToPath(const std::string& s) {
  std::string out;
  for (char c : s) AppendUtf8(out, uint8_t(c));
  return out;
}

// A file item's name as the engine and the packer decode it. A decoded name
// is always strict UTF-8 and reads back through UTF-16 unchanged; a header
// written again keeps its encoding.
uint64_t CheckItemName(const FileItemInfo& info) {
  const NameEncoding encoding = ItemNameEncoding(info.header);
  std::string path;
  bool ok = DecodeItemName(info.name, encoding, Latin1ToPath, path);
  if (ok != (encoding == NameEncoding::Ansi || IsValidUtf8(info.name))) __builtin_trap();
  if (!ok) return 0;
  std::u16string units;
  if (!Utf8ToUtf16(path, units) || Utf16ToUtf8(units) != path) __builtin_trap();
  if (encoding == NameEncoding::Utf8 && path != info.name) __builtin_trap();
  if (info.name.find('|') == std::string::npos &&
      ItemNameEncoding(ItemHeader(info.name, info.dosTime, encoding)) != encoding)
    __builtin_trap();
  return path.size() + units.size();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemFile file(data, size);
  std::FILE* f = file.get();
  if (!f) return 0;

  g_cluster = size ? uint32_t(data[0]) << (size % 17) : 0;
  g_locale = size > 1 ? uint32_t(data[1]) | (uint32_t(size & 3) << 10) : 0;
  Platform().clusterSize = [](const std::string&) { return g_cluster; };
  Platform().threadLocale = [] { return g_locale; };
  ResetChosenLanguage();

  TGFileInfo fi(f);
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
  // Without a package every text is empty and every flag false.
  if (!fi.HasPackage() && (!fi.LangBlock().empty() || !fi.HeaderString().empty() || !fi.WebSetupString().empty()))
    __builtin_trap();

  // Tokens are 50 characters; a longer text only repeats the same steps.
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string token = text.substr(0, 96);
  std::string plain;
  sink += TokenUnscramble(token).size() + TryTokenUnscramble(token, plain) + plain.size();
  InformText inform = DecodeInformText(text);
  sink += inform.token.size() + inform.body.size();
  // The decoder on raw bytes: what it accepts comes back unchanged from UTF-16.
  std::string prefix = text.substr(0, 256);
  std::u16string units;
  if (Utf8ToUtf16(prefix, units) != IsValidUtf8(prefix)) __builtin_trap();
  if (IsValidUtf8(prefix) && Utf16ToUtf8(units) != prefix) __builtin_trap();
  // Any UTF-16, unpaired surrogates included, gives strict UTF-8.
  std::u16string anyUnits(prefix.size() / 2, u'\0');
  std::memcpy(anyUnits.data(), prefix.data(), anyUnits.size() * 2);
  if (!IsValidUtf8(Utf16ToUtf8(anyUnits))) __builtin_trap();

  PackageTrailer t;
  bool hasTrailer = ReadPackageTrailer(f, t);
  int64_t end = PackageLogicalEnd(f);
  if (end < 0 || end > int64_t(size)) __builtin_trap();
  if (hasTrailer && (t.TrailerLength < 4 || t.TrailerLength > uint32_t(kTrailerSize))) __builtin_trap();
  sink += hasTrailer + HasExeHeader(f) + uint64_t(end);
  sink += PackageChecksum(f, t.TrailerLength);
  VolumeContents v;
  std::string error;
  if (ReadVolumeItems(f, v, error)) {
    // Two readers of one chain: the inspection's first items are the header items.
    if (fi.HasPackage() && v.items.size() >= 2 &&
        (v.items[0].payload != fi.LangBlock() || v.items[1].payload != fi.HeaderString()))
      __builtin_trap();
    for (const ChainItem& item : v.items) {
      if (item.offset < 0 || item.offset + 4 + int64_t(item.payload.size()) > end) __builtin_trap();
      if (item.length > 0 && !InflateBytes(item.payload, plain, error)) continue;
      FileItemInfo info;
      if (SplitFileItem(item.length > 0 ? plain : item.payload, info)) sink += 1 + CheckItemName(info);
    }
  }
  g_sink = sink;
  return 0;
}
