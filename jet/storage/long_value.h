// Long values (Memo and OLE object). A row keeps a 12-byte reference: the length (24 bits), a kind
// byte, a row pointer and four unused bytes. Short values follow the reference inline; longer ones
// live in one row of a long-value page, or in a chain of rows that each start with the pointer to
// the next.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "jet/base/schema.h"
#include "jet/storage/page_file.h"

namespace jet {

constexpr size_t kLongValueRefSize = 12;
constexpr uint8_t kLongValueInline = 0x80;
constexpr uint8_t kLongValueSinglePage = 0x40;
constexpr uint8_t kLongValueChained = 0x00;

// The longest value a row keeps inline: the Jet engines put anything longer on long-value pages,
// and a file whose rows hold longer inline values is one they do not expect.
constexpr size_t kMaxInlineLongValue = 64;

// The field of a value kept inline: the reference with the inline flag, then the data.
std::vector<uint8_t> inlineLongValue(const std::vector<uint8_t>& data);

// Stores a value and returns the field the row keeps. Inline when it has at most
// kMaxInlineLongValue bytes and no more than `inlineRoom`; otherwise in one row of at most `maxRow`
// bytes, or in a chain of rows each led by the pointer to the next, written last to first so that
// each knows its successor. `placeRow` puts one row on a long-value page and returns its pointer.
// Throws 3163 when the value is longer than a reference can say.
std::vector<uint8_t> writeLongValue(const std::vector<uint8_t>& data, size_t inlineRoom, size_t maxRow,
                                    const std::function<uint32_t(const uint8_t* row, size_t size)>& placeRow);

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
