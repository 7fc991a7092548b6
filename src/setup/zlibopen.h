// Thin wrapper over zlib's inflate stream. Negative zlib results become an
// EZLibError carrying zlib's own message for the code ("data error",
// "buffer error", ...), which the extraction reports as its outcome. The
// stub is built without C++ exceptions (their tables and runtime cost about
// a fifth of its size), so errors are values here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// A zlib failure: its result code (0 = none) and zlib's text for it.
class EZLibError {
 public:
  EZLibError() = default;
  EZLibError(int code, const std::string& message) : message_(message), code_(code) {}
  explicit operator bool() const { return code_ != 0; }
  const char* what() const { return message_.c_str(); }
  int Code() const { return code_; }

 private:
  std::string message_;
  int code_ = 0;
};

// zlib's message text for a result code.
std::string ZLibMessage(int code);

// One zlib stream being inflated piece by piece. Construction initialises the
// stream (zlib header expected, default window); destruction ends it in every
// case. After a failure (Error() set) the stream produces nothing more.
class ZInflater {
 public:
  ZInflater();
  ~ZInflater();
  ZInflater(const ZInflater&) = delete;
  ZInflater& operator=(const ZInflater&) = delete;

  // Starts a new stream with the same state (cheaper than a new inflater);
  // false when zlib refused (Error() tells why).
  bool Reset();
  // Hands the next piece of compressed input; it must stay valid until Inflate consumed it.
  void SetInput(const void* data, size_t size);
  size_t InputLeft() const;
  // Inflates into out[0..room) without flushing. Returns the bytes produced;
  // `finished` turns true at the end of the stream. Sets Error() and returns 0
  // on any negative result, and when no progress is possible although room
  // and input remain (a stream that asks for a preset dictionary).
  size_t Inflate(void* out, size_t room, bool& finished);
  const EZLibError& Error() const { return error_; }

 private:
  bool Check(int result);

  struct State;
  std::unique_ptr<State> s_;
  EZLibError error_;
};
