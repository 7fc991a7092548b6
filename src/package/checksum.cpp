#include "package/checksum.h"

#include <cstdio>

#include "package/gfileinfo.h"
#include "package/pkgfile.h"

uint32_t PackageChecksum(const std::string& path, uint32_t trailerLength) {
  std::FILE* f = OpenSharedRead(path);
  if (!f) return 0;
  uint32_t sum = PackageChecksum(f, trailerLength);
  std::fclose(f);
  return sum;
}

uint32_t PackageChecksum(std::FILE* f, uint32_t trailerLength) {
  int64_t remaining = FileSizeOf(f);
  if (remaining > kChecksumSizeLimit) return kUncheckedVolume;
  // Only the low half of PackageEnd counts here; volumes this small never need the high half.
  uint32_t packageEndLow = 0;
  if (HasExeHeader(f) && ReadU32At(f, 0xFC, packageEndLow) && packageEndLow > 0) remaining = packageEndLow;
  remaining -= int64_t(trailerLength);
  int64_t start = 0;
  if (packageEndLow > 0) {
    // The executable's header area changes when the file is signed.
    remaining -= 512;
    start = 512;
  }
  uint32_t sum = 0;
  if (SeekTo(f, start)) {
    uint8_t buf[4096];
    for (;;) {
      size_t got = std::fread(buf, 1, sizeof buf, f);
      for (size_t i = 0; i + 4 <= got; i += 4) {
        remaining -= 4;
        if (remaining > 4) sum += GetU32(buf + i);
      }
      if (remaining > 4) sum += kUncheckedVolume;
      if (got != sizeof buf) break;
    }
  }
  return sum;
}

bool ChecksumAccepted(uint32_t computed, uint32_t stored) {
  return computed == stored || computed == kUncheckedVolume || stored == kUncheckedVolume;
}

std::string VolumePath(const std::string& firstVolume, int k) {
  std::string base = firstVolume;
  if (base.size() >= 4 && base.compare(base.size() - 4, 4, ".001") == 0) base.resize(base.size() - 4);
  std::string num = std::to_string(k);
  if (num.size() < 3) num = std::string(3 - num.size(), '0') + num;
  return base + "." + num;
}
