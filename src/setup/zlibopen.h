// Thin wrapper over zlib's inflate stream. Negative zlib results become
// EZLibError carrying zlib's own message for the code ("data error",
// "buffer error", ...); it is the one exception that leaves the extraction.
#pragma once
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

// Derived from std::exception rather than std::runtime_error: the latter
// drags the library's reference-counted string and its error classes into
// the stub.
class EZLibError : public std::exception {
 public:
  EZLibError(int code, const std::string& message) : message_(message), code_(code) {}
  const char* what() const noexcept override { return message_.c_str(); }
  int Code() const { return code_; }

 private:
  std::string message_;
  int code_;
};

// zlib's message text for a result code.
std::string ZLibMessage(int code);

// One zlib stream being inflated piece by piece. Construction initialises the
// stream (zlib header expected, default window); destruction ends it in every case.
class ZInflater {
 public:
  ZInflater();
  ~ZInflater();
  ZInflater(const ZInflater&) = delete;
  ZInflater& operator=(const ZInflater&) = delete;

  // Starts a new stream with the same state (cheaper than a new inflater).
  void Reset();
  // Hands the next piece of compressed input; it must stay valid until Inflate consumed it.
  void SetInput(const void* data, size_t size);
  size_t InputLeft() const;
  // Inflates into out[0..room) without flushing. Returns the bytes produced;
  // `finished` turns true at the end of the stream. Throws EZLibError on any
  // negative result, and when no progress is possible although room and input
  // remain (a stream that asks for a preset dictionary).
  size_t Inflate(void* out, size_t room, bool& finished);

 private:
  struct State;
  std::unique_ptr<State> s_;
};
