#include "package/pkgfile.h"

#include "paths/pathio.h"

std::FILE* OpenSharedRead(const std::string& path) {
  if (path.empty()) return nullptr;
  // The C runtime's fopen on Windows opens with deny-none sharing.
  return OpenPath(path, "rb");
}

bool SeekTo(std::FILE* f, int64_t offset) {
  if (!f || offset < 0) return false;
#ifdef _WIN32
  return _fseeki64(f, offset, SEEK_SET) == 0;
#else
  return fseeko(f, off_t(offset), SEEK_SET) == 0;
#endif
}

int64_t TellPos(std::FILE* f) {
  if (!f) return -1;
#ifdef _WIN32
  return _ftelli64(f);
#else
  return int64_t(ftello(f));
#endif
}

int64_t FileSizeOf(std::FILE* f) {
  int64_t here = TellPos(f);
  if (here < 0) return -1;
#ifdef _WIN32
  if (_fseeki64(f, 0, SEEK_END) != 0) return -1;
#else
  if (fseeko(f, 0, SEEK_END) != 0) return -1;
#endif
  int64_t size = TellPos(f);
  SeekTo(f, here);
  return size;
}

bool ReadExact(std::FILE* f, void* buf, size_t n) {
  if (n == 0) return true;
  return f && std::fread(buf, 1, n, f) == n;
}

bool ReadU32At(std::FILE* f, int64_t offset, uint32_t& value) {
  uint8_t b[4];
  if (!SeekTo(f, offset) || !ReadExact(f, b, 4)) return false;
  value = GetU32(b);
  return true;
}

uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
