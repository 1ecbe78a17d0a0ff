// How a file stores its pages after the first: a database key masks each with RC4 (Jet), a
// password encrypts each with AES (Access 2010 and later). Page 0 is always stored as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace jet {

class PageCodec {
 public:
  virtual ~PageCodec() = default;
  // Both work in place on a whole page; `number` is never 0.
  virtual void decode(uint32_t number, uint8_t* page, size_t len) const = 0;
  virtual void encode(uint32_t number, uint8_t* page, size_t len) const = 0;
};

// The RC4 masking of a non-zero database key.
std::shared_ptr<const PageCodec> databaseKeyCodec(uint32_t key);

}  // namespace jet
