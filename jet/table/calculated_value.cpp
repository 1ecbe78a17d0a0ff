#include "jet/table/calculated_value.h"

#include <algorithm>

#include "jet/base/bytes.h"
#include "jet/base/error.h"

namespace jet {

namespace {

constexpr size_t kLengthAt = 16;
constexpr size_t kResultAt = 20;

}  // namespace

std::pair<const uint8_t*, size_t> unwrapCalculated(const uint8_t* data, size_t len) {
  if (len < kResultAt) return {data, len};
  const size_t stated = le32(data + kLengthAt);
  return {data + kResultAt, std::min(stated, len - kResultAt)};
}

Bytes wrapCalculated(const Bytes& result) {
  Bytes out(result.size() + kCalculatedOverhead, 0);
  put32(out.data() + kLengthAt, uint32_t(result.size()));
  std::copy(result.begin(), result.end(), out.begin() + kResultAt);
  return out;
}

Decimal decodeCalculatedDecimal(const uint8_t* data, size_t len) {
  if (len < 4) throwCorrupt("a calculated Decimal value is cut short");
  // The stated length counts the scale, the sign and the magnitude (0: up to the end).
  const size_t stated = le16(data);
  const size_t total = stated > 0 ? stated : len - 2;
  const size_t bytes = std::min<size_t>((total >= 2 ? total - 2 : 0) / 4 * 4, 16);
  if (len < 4 + bytes) throwCorrupt("a calculated Decimal value is cut short");
  Decimal d;
  d.scale = data[2];
  d.negative = data[3] != 0;
  d.precision = 28;
  // Most significant part first: an optional 4-byte part, then 8-byte parts.
  unsigned __int128 magnitude = 0;
  const uint8_t* p = data + 4;
  size_t left = bytes;
  if (left % 8 == 4) {
    magnitude = le32(p);
    p += 4;
    left -= 4;
  }
  for (; left >= 8; left -= 8, p += 8) magnitude = (magnitude << 64) | le64(p);
  if (magnitude >> 96) throwCorrupt("a calculated Decimal value is out of range");
  d.magnitude = {uint32_t(magnitude), uint32_t(magnitude >> 32), uint32_t(magnitude >> 64)};
  return d;
}

Bytes encodeCalculatedDecimal(const Decimal& d) {
  // The 96-bit magnitude as a leading 4-byte part and one 8-byte part.
  Bytes out(16, 0);
  put16(out.data(), 14);
  out[2] = d.scale;
  out[3] = d.negative ? 0x80 : 0x00;
  put32(out.data() + 4, d.magnitude[2]);
  put64(out.data() + 8, (uint64_t(d.magnitude[1]) << 32) | d.magnitude[0]);
  return out;
}

}  // namespace jet
