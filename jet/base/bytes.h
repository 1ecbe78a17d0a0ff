// Little-endian field access on page buffers. Every read is bounds-checked by the caller's span so
// that a damaged file ends in an error rather than a read past the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "jet/base/error.h"

namespace jet {

inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t le24(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16); }
inline uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t le64(const uint8_t* p) { return uint64_t(le32(p)) | (uint64_t(le32(p + 4)) << 32); }

inline void put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void put24(uint8_t* p, uint32_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); }
inline void put32(uint8_t* p, uint32_t v) { put16(p, uint16_t(v)); put16(p + 2, uint16_t(v >> 16)); }
inline void put64(uint8_t* p, uint64_t v) { put32(p, uint32_t(v)); put32(p + 4, uint32_t(v >> 32)); }

// The same accessors under the names the writers use, with appending to byte strings.
namespace le {
inline void put16(uint8_t* p, uint16_t v) { jet::put16(p, v); }
inline void put32(uint8_t* p, uint32_t v) { jet::put32(p, v); }
inline uint16_t get16(const uint8_t* p) { return le16(p); }
inline uint32_t get32(const uint8_t* p) { return le32(p); }
inline void append16(std::vector<uint8_t>& b, uint16_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
inline void append32(std::vector<uint8_t>& b, uint32_t v) { append16(b, uint16_t(v)); append16(b, uint16_t(v >> 16)); }
}  // namespace le

// A read-only window on bytes with checked accessors; `what` names the structure in errors.
class ByteSpan {
 public:
  ByteSpan() = default;
  ByteSpan(const uint8_t* data, size_t size, const char* what = "record") : data_(data), size_(size), what_(what) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

  void need(size_t offset, size_t len) const {
    if (offset > size_ || len > size_ - offset) throwCorrupt(std::string(what_) + " is cut short");
  }
  uint8_t u8(size_t o) const { need(o, 1); return data_[o]; }
  uint16_t u16(size_t o) const { need(o, 2); return le16(data_ + o); }
  uint32_t u24(size_t o) const { need(o, 3); return le24(data_ + o); }
  uint32_t u32(size_t o) const { need(o, 4); return le32(data_ + o); }
  ByteSpan sub(size_t o, size_t len) const { need(o, len); return ByteSpan(data_ + o, len, what_); }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  const char* what_ = "record";
};

}  // namespace jet
