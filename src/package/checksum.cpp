#include "package/checksum.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "package/gfileinfo.h"
#include "package/pkgfile.h"

uint32_t PackageChecksum(const std::string& path, uint32_t trailerLength) {
  std::FILE* f = OpenSharedRead(path);
  if (!f) return 0;
  uint32_t sum = PackageChecksum(f, trailerLength);
  std::fclose(f);
  return sum;
}

namespace {
// The sum over the volume's bytes from its start position, read in pieces of
// 4096 bytes by `read`: the dwords while more than 4 of the counted bytes are
// left, plus 1234 for every full piece that leaves more.
template <typename Read>
uint32_t SumPieces(int64_t remaining, Read read) {
  uint32_t sum = 0;
  uint8_t buf[4096];
  for (;;) {
    size_t got = read(buf, sizeof buf);
    for (size_t i = 0; i + 4 <= got; i += 4) {
      remaining -= 4;
      if (remaining > 4) sum += GetU32(buf + i);
    }
    if (remaining > 4) sum += kUncheckedVolume;
    if (got != sizeof buf) break;
  }
  return sum;
}
}  // namespace

uint32_t PackageChecksum(std::FILE* f, uint32_t trailerLength) {
  if (!f) return 0;
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
  if (!SeekTo(f, start)) return 0;
  return SumPieces(remaining, [f](uint8_t* buf, size_t n) { return std::fread(buf, 1, n, f); });
}

uint32_t PlainVolumeChecksum(const std::string& bytes, uint32_t trailerLength) {
  if (int64_t(bytes.size()) > kChecksumSizeLimit) return kUncheckedVolume;
  size_t pos = 0;
  return SumPieces(int64_t(bytes.size()) - int64_t(trailerLength), [&](uint8_t* buf, size_t n) {
    size_t got = std::min(n, bytes.size() - pos);
    std::memcpy(buf, bytes.data() + pos, got);
    pos += got;
    return got;
  });
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
