// A read-only C FILE over a byte buffer, so the fuzz targets drive the
// package readers through their FILE overloads without a file system.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

class MemFile {
 public:
  MemFile(const uint8_t* data, size_t size)
      : f_(fmemopen(const_cast<uint8_t*>(size ? data : &empty_), size, "rb")) {}
  ~MemFile() {
    if (f_) std::fclose(f_);
  }
  MemFile(const MemFile&) = delete;
  MemFile& operator=(const MemFile&) = delete;
  std::FILE* get() const { return f_; }

 private:
  uint8_t empty_ = 0;
  std::FILE* f_;
};
