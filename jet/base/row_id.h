// The address of a row: data page and row number on it. A row keeps its address for life; a row
// that outgrows its page leaves a pointer behind.
#pragma once

#include <cstdint>

namespace jet {

struct RowId {
  uint32_t page = 0;
  uint16_t row = 0;
  bool operator==(const RowId&) const = default;
};

}  // namespace jet
