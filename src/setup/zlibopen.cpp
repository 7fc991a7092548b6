#include "setup/zlibopen.h"

#include <zlib.h>

struct ZInflater::State {
  z_stream z{};
};

std::string ZLibMessage(int code) {
  const char* m = zError(code);
  return m ? m : "";
}

bool ZInflater::Check(int result) {
  if (result == Z_OK) return true;
  if (!error_) error_ = EZLibError(result, ZLibMessage(result));
  return false;
}

ZInflater::ZInflater() : s_(new State) { Check(inflateInit(&s_->z)); }

ZInflater::~ZInflater() { inflateEnd(&s_->z); }

bool ZInflater::Reset() { return !error_ && Check(inflateReset(&s_->z)); }

void ZInflater::SetInput(const void* data, size_t size) {
  s_->z.next_in = static_cast<Bytef*>(const_cast<void*>(data));
  s_->z.avail_in = uInt(size);
}

size_t ZInflater::InputLeft() const { return s_->z.avail_in; }

size_t ZInflater::Inflate(void* out, size_t room, bool& finished) {
  finished = false;
  if (error_) return 0;
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
  if (r < 0 || r == Z_NEED_DICT) {
    Check(r);
    return 0;
  }
  return produced;
}
