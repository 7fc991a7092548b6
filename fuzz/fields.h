// Splits a fuzz input into text fields at 0x00 bytes (texts of the program
// never hold one) and hands out small numbers from its first bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class FuzzFields {
 public:
  FuzzFields(const uint8_t* data, size_t size, size_t headerBytes) {
    size_t h = size < headerBytes ? size : headerBytes;
    header_.assign(data, data + h);
    std::string rest(reinterpret_cast<const char*>(data) + h, size - h);
    size_t from = 0;
    for (;;) {
      size_t zero = rest.find('\0', from);
      fields_.push_back(rest.substr(from, zero == std::string::npos ? std::string::npos : zero - from));
      if (zero == std::string::npos) break;
      from = zero + 1;
    }
  }
  uint8_t Byte(size_t i) const { return i < header_.size() ? header_[i] : 0; }
  // Field i, or empty text when the input has fewer fields.
  const std::string& Text(size_t i) const { return i < fields_.size() ? fields_[i] : empty_; }
  size_t Count() const { return fields_.size(); }

 private:
  std::vector<uint8_t> header_;
  std::vector<std::string> fields_;
  std::string empty_;
};
