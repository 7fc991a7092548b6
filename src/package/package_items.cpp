#include "package/package_items.h"

#include <zlib.h>

#include <cstdio>

#include "package/pkgfile.h"
#include "paths/utils.h"

bool ReadVolumeItems(const std::string& path, VolumeContents& out, std::string& error) {
  out = VolumeContents();
  std::FILE* f = OpenSharedRead(path);
  if (!f) {
    error = "cannot open " + path;
    return false;
  }
  bool ok = ReadVolumeItems(f, out, error);
  std::fclose(f);
  return ok;
}

bool ReadVolumeItems(std::FILE* f, VolumeContents& out, std::string& error) {
  out = VolumeContents();
  bool ok = ReadPackageTrailer(f, out.trailer);
  out.logicalEnd = PackageLogicalEnd(f);
  if (!ok) {
    error = "no package trailer";
    return false;
  }
  // The chain ends where no more than a trailer's length remains.
  int64_t pos = out.trailer.FirstItemOffset;
  int64_t limit = out.logicalEnd - out.trailer.TrailerLength;
  while (ok && out.logicalEnd - pos > kTrailerSize) {
    uint32_t raw = 0;
    if (pos + 4 > limit || !ReadU32At(f, pos, raw)) {
      error = "item at offset " + std::to_string(pos) + " runs into the trailer";
      ok = false;
      break;
    }
    ChainItem item;
    item.offset = pos;
    item.length = int32_t(raw);
    int64_t size = item.length < 0 ? -int64_t(item.length) : int64_t(item.length);
    if (pos + 4 + size > limit) {
      error = "item at offset " + std::to_string(pos) + " of " + std::to_string(size) +
              " bytes runs beyond the end of the package";
      ok = false;
      break;
    }
    item.payload.assign(size_t(size), '\0');
    if (size > 0 && !ReadExact(f, item.payload.data(), size_t(size))) {
      error = "cannot read the item at offset " + std::to_string(pos);
      ok = false;
      break;
    }
    pos += 4 + size;
    out.items.push_back(std::move(item));
  }
  return ok;
}

bool InflateBytes(const std::string& payload, std::string& out, std::string& error) {
  out.clear();
  z_stream z{};
  if (inflateInit(&z) != Z_OK) {
    error = "zlib cannot start";
    return false;
  }
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
  z.avail_in = uInt(payload.size());
  char buf[65536];
  int r = Z_OK;
  do {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    uInt inBefore = z.avail_in;
    r = inflate(&z, Z_NO_FLUSH);
    // A preset dictionary is never supplied, and a step that neither takes
    // input nor gives output would repeat forever: both end the stream.
    if (r == Z_NEED_DICT) break;
    if (z.avail_in == inBefore && z.avail_out == sizeof buf && r != Z_STREAM_END) {
      if (r == Z_OK) r = Z_BUF_ERROR;
      break;
    }
    if (r < 0 && r != Z_BUF_ERROR) break;
    out.append(buf, sizeof buf - z.avail_out);
  } while (r != Z_STREAM_END);
  inflateEnd(&z);
  if (r != Z_STREAM_END) {
    error = r == Z_BUF_ERROR ? "buffer error" : (z.msg ? z.msg : zError(r));
    return false;
  }
  return true;
}

bool SplitFileItem(const std::string& plain, FileItemInfo& out) {
  out = FileItemInfo();
  size_t zero = plain.find('\0');
  if (zero == std::string::npos || zero == 0) return false;
  out.header = plain.substr(0, zero);
  out.content = plain.substr(zero + 1);
  std::string field0 = ListItem(out.header, 0, "");
  size_t star = field0.find('*');
  out.engine = star != std::string::npos || out.header.find('*') != std::string::npos;
  out.name = star == std::string::npos ? field0 : field0.substr(0, star);
  if (star != std::string::npos) out.engineArgs = field0.substr(star + 1);
  out.dosTime = uint32_t(StrToInt64Def(ListItem(out.header, 1, ""), 0));
  return true;
}
