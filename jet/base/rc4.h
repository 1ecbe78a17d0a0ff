// RC4 stream cipher: the file masks its header block with it, and databases encoded with a
// database key pass every page but the first through it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

// XORs `len` bytes at `data` with the RC4 key stream of `key`. Applying it twice restores the input.
void rc4Apply(const uint8_t* key, size_t keyLen, uint8_t* data, size_t len);

}  // namespace jet
