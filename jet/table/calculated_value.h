// How a calculated column (Access 2010 and later) keeps its results. Each stored value wraps the
// result: 16 bytes the engine leaves zero, the result's length (4 bytes), the result as a column of
// its type stores it, and 3 further zero bytes. Every calculated column lives in the variable part
// of the row; one of a fixed-size type is declared 39 bytes long (the widest result and the
// wrapper). A wrapper may hold no result at all: Null (False for a Boolean). A Decimal result has
// a layout of its own, 16 bytes in all: its length less two (2 bytes), its scale, a sign byte
// (0x80 negative), and the magnitude in 4-byte multiples, most significant part first, each part
// little-endian (a leading 4-byte part, then 8-byte parts).
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "jet/base/value.h"

namespace jet {

constexpr size_t kCalculatedOverhead = 23;

// The result inside a stored value; bytes too short to be wrapped are taken as the result itself.
std::pair<const uint8_t*, size_t> unwrapCalculated(const uint8_t* data, size_t len);
Bytes wrapCalculated(const Bytes& result);

// A Decimal result (unwrapped) and back. Throws 3049 when the bytes are cut short.
Decimal decodeCalculatedDecimal(const uint8_t* data, size_t len);
Bytes encodeCalculatedDecimal(const Decimal& d);

}  // namespace jet
