#include "setup/zlibopen.h"

#include <zlib.h>

struct ZInflater::State {
  z_stream z{};
};

std::string ZLibMessage(int code) {
  const char* m = zError(code);
  return m ? m : "";
}

ZInflater::ZInflater() : s_(new State) {
  int r = inflateInit(&s_->z);
  if (r != Z_OK) throw EZLibError(r, ZLibMessage(r));
}

ZInflater::~ZInflater() { inflateEnd(&s_->z); }

void ZInflater::Reset() {
  int r = inflateReset(&s_->z);
  if (r != Z_OK) throw EZLibError(r, ZLibMessage(r));
}

void ZInflater::SetInput(const void* data, size_t size) {
  s_->z.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  s_->z.avail_in = uInt(size);
}

size_t ZInflater::InputLeft() const { return s_->z.avail_in; }

size_t ZInflater::Inflate(void* out, size_t room, bool& finished) {
  finished = false;
  z_stream& z = s_->z;
  z.next_out = static_cast<Bytef*>(out);
  z.avail_out = uInt(room);
  int r = inflate(&z, Z_NO_FLUSH);
  size_t produced = room - z.avail_out;
  if (r == Z_STREAM_END) {
    finished = true;
    return produced;
  }
  // Without input zlib reports "no progress" as a buffer error; the caller
  // decides whether more input is coming.
  if (r == Z_BUF_ERROR && z.avail_in == 0) return produced;
  // A preset dictionary is never supplied: waiting for one would loop forever.
  if (r < 0 || r == Z_NEED_DICT) throw EZLibError(r, ZLibMessage(r));
  return produced;
}
