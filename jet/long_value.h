// Long values (Memo and OLE object). A row keeps a 12-byte reference: the length (24 bits), a kind
// byte, a row pointer and four unused bytes. Short values follow the reference inline; longer ones
// live in one row of a long-value page, or in a chain of rows that each start with the pointer to
// the next.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/page_file.h"
#include "jet/schema.h"

namespace jet {

constexpr size_t kLongValueRefSize = 12;
constexpr uint8_t kLongValueInline = 0x80;
constexpr uint8_t kLongValueSinglePage = 0x40;
constexpr uint8_t kLongValueChained = 0x00;

class LongValueReader {
 public:
  LongValueReader(PageFile& file, Format format) : file_(file), format_(format) {}
  // Reads the value whose reference (and inline data) is `field`, into `out`.
  void read(const uint8_t* field, size_t len, std::vector<uint8_t>& out);

 private:
  // A page that holds rows (a data page); throws for any other kind.
  PageRef rowPage(uint32_t page);
  PageFile& file_;
  Format format_;
};

}  // namespace jet
