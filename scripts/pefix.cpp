// Post-link step for the stub: moves the PE headers from where GNU ld puts
// them (usually 0x80) to file offset 0x100, so that bytes 0x90..0xFF are free
// for the packer's stamp and PackageEnd. Fails loudly when there is no room.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

static uint32_t rd32(const std::vector<uint8_t>& b, size_t o) {
  return b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (uint32_t(b[o + 3]) << 24);
}
static uint16_t rd16(const std::vector<uint8_t>& b, size_t o) { return uint16_t(b[o] | (b[o + 1] << 8)); }
static void wr32(std::vector<uint8_t>& b, size_t o, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[o + i] = uint8_t(v >> (8 * i));
}

static int fail(const char* path, const char* why) {
  std::fprintf(stderr, "pefix: %s: %s\n", path, why);
  return 1;
}

// The standard PE image checksum (as computed by CheckSumMappedFile).
static uint32_t peChecksum(const std::vector<uint8_t>& b, size_t checksumOffset) {
  uint64_t sum = 0;
  size_t n = b.size();
  for (size_t i = 0; i + 1 < n + 1; i += 2) {
    if (i == checksumOffset || i == checksumOffset + 2) continue;
    uint32_t w = b[i] | (i + 1 < n ? (b[i + 1] << 8) : 0);
    sum += w;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return uint32_t(sum + n);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pefix <image.exe>\n");
    return 2;
  }
  const char* path = argv[1];
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(path, "cannot open");
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  const uint32_t target = 0x100;
  if (b.size() < 0x400 || b[0] != 'M' || b[1] != 'Z') return fail(path, "not an MZ image");
  uint32_t lfanew = rd32(b, 0x3C);
  if (lfanew + 24 > b.size() || std::memcmp(&b[lfanew], "PE\0\0", 4) != 0) return fail(path, "no PE signature");
  uint16_t nsect = rd16(b, lfanew + 6);
  uint16_t optSize = rd16(b, lfanew + 20);
  size_t hdrLen = 24 + size_t(optSize) + size_t(nsect) * 40;
  size_t opt = lfanew + 24;
  uint16_t magic = rd16(b, opt);
  if (magic != 0x10B && magic != 0x20B) return fail(path, "unknown optional header");
  uint32_t sizeOfHeaders = rd32(b, opt + 60);
  if (lfanew != target) {
    if (lfanew < 0x40) return fail(path, "PE header overlaps the MZ header");
    size_t room = sizeOfHeaders;
    size_t sect = opt + optSize;
    for (int i = 0; i < nsect; ++i) {
      uint32_t rawSize = rd32(b, sect + i * 40 + 16);
      uint32_t rawPtr = rd32(b, sect + i * 40 + 20);
      if (rawSize && rawPtr < room) room = rawPtr;
    }
    if (target + hdrLen > room) return fail(path, "no room in the headers to move the PE header to 0x100");
    for (size_t i = lfanew + hdrLen; i < target + hdrLen; ++i)
      if (b[i] != 0) return fail(path, "bytes behind the section table are in use");
    std::memmove(&b[target], &b[lfanew], hdrLen);
    for (size_t i = lfanew; i < target; ++i) b[i] = 0;
    wr32(b, 0x3C, target);
  }
  // Keep 0x90..0xFF free even when the header was already in place.
  for (size_t i = 0x80; i < target; ++i) b[i] = 0;
  size_t ck = target + 24 + 64;
  if (rd32(b, ck) != 0) wr32(b, ck, peChecksum(b, ck));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()))) return fail(path, "cannot write");
  return 0;
}
