// Reading the item chain of a volume back: used by the packer's inspection
// and by tests. Every length is checked against the volume before reading.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "package/gfileinfo.h"

struct ChainItem {
  int64_t offset = 0;  // file offset of the length word
  int32_t length = 0;  // as stored: > 0 zlib stream, < 0 stored
  std::string payload;
};

struct VolumeContents {
  PackageTrailer trailer;
  int64_t logicalEnd = 0;
  std::vector<ChainItem> items;
};

// Reads the trailer and every item from FirstItemOffset up to the trailer.
// False, with a reason, when there is no trailer or the chain leaves the volume.
bool ReadVolumeItems(const std::string& path, VolumeContents& out, std::string& error);
// The same over a file that is already open (left open).
bool ReadVolumeItems(std::FILE* f, VolumeContents& out, std::string& error);

// zlib stream -> plain bytes; false with zlib's message on damaged data.
bool InflateBytes(const std::string& payload, std::string& out, std::string& error);

struct FileItemInfo {
  std::string header;      // "|name|dosdate|" as stored
  std::string name;        // text before any "*"
  bool engine = false;     // the name field carries "*"
  std::string engineArgs;  // text after the "*"
  uint32_t dosTime = 0;
  std::string content;
};
// Splits the plain bytes of a file item at the first 0x00 byte; false when
// there is no 0x00 byte or the header is empty (the engine skips such items).
bool SplitFileItem(const std::string& plain, FileItemInfo& out);
