#include "package/gfileinfo.h"

#include <cstring>
#include <vector>

#include "package/lang.h"
#include "package/pkgfile.h"
#include "paths/platform.h"
#include "paths/utils.h"

PackageTrailer DecodeTrailer(const uint8_t* b) {
  PackageTrailer t;
  t.Reserved0 = b[0];
  t.HeaderItemCount = b[1];
  std::memcpy(t.Reserved2, b + 2, 2);
  t.FirstItemOffset = GetU32(b + 4);
  t.FileCount = GetU32(b + 8);
  t.PackageSignature = GetU32(b + 12);
  t.VolumeChecksum = GetU32(b + 16);
  std::memcpy(t.Reserved20, b + 20, 8);
  for (int i = 0; i < kSpaceEntries; ++i) t.SpaceRequired[i] = GetU32(b + 28 + 4 * i);
  t.Reserved64 = b[64];
  t.PackageFlags = b[65];
  t.WebSetup = b[66];
  t.ConfirmDownload = b[67];
  t.WriteAgentCopy = b[68];
  t.IsUpdateAgent = b[69];
  t.TrailerLength = GetU32(b + 70);
  return t;
}

std::string EncodeTrailer(const PackageTrailer& t) {
  uint8_t b[kTrailerSize] = {};
  b[0] = t.Reserved0;
  b[1] = t.HeaderItemCount;
  std::memcpy(b + 2, t.Reserved2, 2);
  PutU32(b + 4, t.FirstItemOffset);
  PutU32(b + 8, t.FileCount);
  PutU32(b + 12, t.PackageSignature);
  PutU32(b + 16, t.VolumeChecksum);
  std::memcpy(b + 20, t.Reserved20, 8);
  for (int i = 0; i < kSpaceEntries; ++i) PutU32(b + 28 + 4 * i, t.SpaceRequired[i]);
  b[64] = t.Reserved64;
  b[65] = t.PackageFlags;
  b[66] = t.WebSetup;
  b[67] = t.ConfirmDownload;
  b[68] = t.WriteAgentCopy;
  b[69] = t.IsUpdateAgent;
  PutU32(b + 70, t.TrailerLength);
  return std::string(reinterpret_cast<const char*>(b), kTrailerSize);
}

bool HasExeHeader(std::FILE* f) {
  uint8_t mz[2], pe[2];
  return SeekTo(f, 0) && ReadExact(f, mz, 2) && mz[0] == 'M' && mz[1] == 'Z' && SeekTo(f, 0x100) &&
         ReadExact(f, pe, 2) && pe[0] == 'P' && pe[1] == 'E';
}

bool HasExeHeader(const std::string& path) {
  std::FILE* f = OpenSharedRead(path);
  if (!f) return false;
  bool r = HasExeHeader(f);
  std::fclose(f);
  return r;
}

namespace {
// PackageEnd as stored in an executable's header area; 0 when absent.
uint64_t StoredPackageEnd(std::FILE* f) {
  uint32_t hi = 0, lo = 0;
  if (!HasExeHeader(f) || !ReadU32At(f, 0xF8, hi) || !ReadU32At(f, 0xFC, lo)) return 0;
  return (uint64_t(hi) << 32) | lo;
}

// Finds the trailer: its record, where it starts, and where the package ends.
bool LocateTrailer(std::FILE* f, PackageTrailer& out, int64_t& trailerStart) {
  out = PackageTrailer();
  int64_t size = FileSizeOf(f);
  if (size < 4) return false;
  int64_t end = size;
  uint64_t packageEnd = StoredPackageEnd(f);
  if (packageEnd > 0) {
    // A PackageEnd beyond the file (a truncated copy) leaves no trailer to read.
    if (packageEnd > uint64_t(size) || packageEnd < 4) return false;
    end = int64_t(packageEnd);
  }
  uint32_t n = 0;
  if (!ReadU32At(f, end - 4, n)) return false;
  if (n < 4 || int64_t(n) > end) return false;
  trailerStart = end - int64_t(n);
  uint32_t take = n < uint32_t(kTrailerSize) ? n : uint32_t(kTrailerSize);
  uint8_t rec[kTrailerSize] = {};
  if (!SeekTo(f, trailerStart) || !ReadExact(f, rec, take - 4)) return false;
  PutU32(rec + kTrailerOffTrailerLength, take);
  out = DecodeTrailer(rec);
  if (out.HeaderItemCount == 0) out.HeaderItemCount = 2;
  return true;
}

// One header item; its length must stay inside [pos, limit).
bool ReadHeaderItem(std::FILE* f, int64_t& pos, int64_t limit, std::string& out) {
  uint32_t raw = 0;
  if (pos + 4 > limit || !ReadU32At(f, pos, raw)) return false;
  int32_t len = int32_t(raw);
  if (len < 0 || pos + 4 + int64_t(len) > limit) return false;
  out.assign(size_t(len), '\0');
  if (len > 0 && !ReadExact(f, out.data(), size_t(len))) return false;
  pos += 4 + int64_t(len);
  return true;
}
}  // namespace

int64_t PackageLogicalEnd(std::FILE* f) {
  int64_t size = FileSizeOf(f);
  if (size < 0) return -1;
  uint64_t packageEnd = StoredPackageEnd(f);
  // A PackageEnd beyond the file (a truncated copy) must not send readers past its end.
  return packageEnd > 0 && packageEnd < uint64_t(size) ? int64_t(packageEnd) : size;
}

int64_t PackageLogicalEnd(const std::string& path) {
  std::FILE* f = OpenSharedRead(path);
  if (!f) return -1;
  int64_t r = PackageLogicalEnd(f);
  std::fclose(f);
  return r;
}

bool ReadPackageTrailer(std::FILE* f, PackageTrailer& out) {
  int64_t start = 0;
  return LocateTrailer(f, out, start);
}

bool ReadPackageTrailer(const std::string& path, PackageTrailer& out) {
  out = PackageTrailer();
  std::FILE* f = OpenSharedRead(path);
  if (!f) return false;
  bool r = ReadPackageTrailer(f, out);
  std::fclose(f);
  return r;
}

PackageTrailer ReadPackageTrailer(const std::string& path) {
  PackageTrailer t;
  ReadPackageTrailer(path, t);
  return t;
}

// ---- tokens ----

namespace {
int HexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Steps 2-4 of the unscrambling on decoded bytes; false when the check byte
// does not match. plain is the copied range (possibly empty).
bool UnscrambleBytes(std::vector<uint8_t> d, std::string& plain, bool& layoutOk) {
  size_t n = d.size();
  layoutOk = false;
  if (n <= 4) return false;
  uint8_t c = d[n - 2];
  uint8_t sum = 0;
  for (size_t i = 0; i < n; ++i)
    if (i != n - 2) sum = uint8_t(sum + d[i]);
  if (sum != c) return false;
  uint8_t k = d[0] ^ d[n - 1];
  for (size_t i = 1; i <= n - 2; ++i) d[i] ^= k;
  int64_t p = d[1], q = d[2];
  int64_t start = p + 3;
  int64_t count = int64_t(n) - p - q - 4;
  layoutOk = count >= 0 && start + count <= int64_t(n);
  plain.clear();
  if (count > 0 && start < int64_t(n)) {
    if (start + count > int64_t(n)) count = int64_t(n) - start;
    plain.assign(reinterpret_cast<const char*>(d.data()) + start, size_t(count));
  }
  return true;
}
}  // namespace

std::string TokenUnscramble(const std::string& scrambled) {
  std::string fallback = RandomRangeText(0, 99998);
  std::vector<uint8_t> d;
  d.reserve(scrambled.size() / 2);
  for (size_t i = 0; i + 1 < scrambled.size(); i += 2) {
    std::string pair;
    pair += char(uint8_t(scrambled[i]) - 50);
    pair += char(uint8_t(scrambled[i + 1]) - 50);
    d.push_back(uint8_t(HexToInt(pair)));
  }
  std::string plain;
  bool layoutOk = false;
  if (!UnscrambleBytes(d, plain, layoutOk)) return fallback;
  return plain;
}

bool TryTokenUnscramble(const std::string& scrambled, std::string& plain) {
  plain.clear();
  if (scrambled.size() % 2 != 0) return false;
  std::vector<uint8_t> d;
  for (size_t i = 0; i < scrambled.size(); i += 2) {
    int hi = HexDigit(uint8_t(uint8_t(scrambled[i]) - 50));
    int lo = HexDigit(uint8_t(uint8_t(scrambled[i + 1]) - 50));
    if (hi < 0 || lo < 0) return false;
    d.push_back(uint8_t(hi * 16 + lo));
  }
  bool layoutOk = false;
  std::string out;
  if (!UnscrambleBytes(d, out, layoutOk) || !layoutOk) return false;
  plain = out;
  return true;
}

bool TokensMatch(const std::string& scrambledA, const std::string& scrambledB) {
  std::string a, b;
  return TryTokenUnscramble(scrambledA, a) && TryTokenUnscramble(scrambledB, b) && !a.empty() && a == b;
}

InformText DecodeInformText(const std::string& text) {
  InformText r;
  std::string s = ScrambleText(text, false);
  // Each cut keeps the text after the next "|"; a missing bar empties the rest.
  auto cut = [](std::string& rest) {
    size_t bar = rest.find('|');
    if (bar == std::string::npos) {
      rest.clear();
      return false;
    }
    rest.erase(0, bar + 1);
    return true;
  };
  std::string rest = s;
  if (cut(rest)) {
    size_t bar = rest.find('|');
    if (bar != std::string::npos) r.tokenField = rest.substr(0, bar);
    if (cut(rest) && cut(rest) && cut(rest)) r.body = rest;
  }
  r.token = TokenUnscramble(r.tokenField);
  return r;
}

// ---- TGFileInfo ----

TGFileInfo::TGFileInfo(const std::string& path) {
  std::FILE* f = OpenSharedRead(path);
  if (!f) return;
  Read(f);
  std::fclose(f);
}

TGFileInfo::TGFileInfo(std::FILE* f) {
  if (f) Read(f);
}

void TGFileInfo::Read(std::FILE* f) {
  int64_t trailerStart = 0;
  if (LocateTrailer(f, trailer_, trailerStart) && trailer_.PackageSignature == kPackageSignature) {
    int64_t pos = trailer_.FirstItemOffset;
    bool ok = ReadHeaderItem(f, pos, trailerStart, langBlock_) && ReadHeaderItem(f, pos, trailerStart, header_);
    if (ok && trailer_.HeaderItemCount > 2) ok = ReadHeaderItem(f, pos, trailerStart, webSetup_);
    if (ok) {
      hasPackage_ = true;
    } else {
      // A chain that leaves the file is damage: treat the file as no package.
      trailer_ = PackageTrailer();
      langBlock_.clear();
      header_.clear();
      webSetup_.clear();
    }
  }
}

int TGFileInfo::SpaceEntryForCluster(uint32_t clusterSize) {
  int entry = 0;
  for (int i = 1; i <= 8; ++i)
    if (uint64_t(clusterSize) >= (uint64_t(256) << i)) entry = i;
  return entry;
}

uint32_t TGFileInfo::SpaceRequired(const std::string& drivePath) const {
  uint32_t cluster = Platform().clusterSize ? Platform().clusterSize(drivePath.substr(0, 3)) : 0;
  return trailer_.SpaceRequired[SpaceEntryForCluster(cluster)];
}

std::string TGFileInfo::UpdateUrl() const { return ListItem(header_, 0, ""); }
std::string TGFileInfo::AgentExeName() const { return ListItem(header_, 2, ""); }
std::string TGFileInfo::InfoFileName() const { return ExtractFileName(ListItem(header_, 1, "")); }

std::string TGFileInfo::OriginalFileName() const {
  std::string name = InfoFileName();
  size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  return name + ".original";
}

std::string TGFileInfo::PackageToken(bool unscramble) const {
  std::string t = ListItem(header_, 3, "");
  return unscramble ? TokenUnscramble(t) : t;
}

bool TGFileInfo::Silent() const { return ListItem(header_, 4, "") == "1"; }

std::string TGFileInfo::WebBase() const { return ListItem(webSetup_, 0, ""); }
std::string TGFileInfo::WebFileName() const { return ListItem(webSetup_, 1, ""); }
bool TGFileInfo::WebAlwaysDownload() const { return ListItem(webSetup_, 2, "") == "1"; }
std::string TGFileInfo::WebToken(bool unscramble) const {
  std::string t = ListItem(webSetup_, 3, "");
  return unscramble ? TokenUnscramble(t) : t;
}
std::string TGFileInfo::WebSize() const { return ListItem(webSetup_, 4, ""); }

std::string TGFileInfo::GetLangText(const std::string& key, const std::string& def) const {
  return LangText(langBlock_, key, def);
}

int TGFileInfo::Charset() const { return int(StrToInt64Def(GetLangText("Charset", "0"), 0)); }
int TGFileInfo::FontSize() const { return int(StrToInt64Def(GetLangText("FontSize", "8"), 8)); }
std::string TGFileInfo::FontName() const { return GetLangText("FontName", "Tahoma"); }
