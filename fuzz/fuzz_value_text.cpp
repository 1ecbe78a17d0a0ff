// The text forms of values: any text given for any column type either converts or fails with a
// jet::Error, and whatever converts reads back from its own text form as the same value.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <variant>

#include "jet/base/error.h"
#include "jet/base/value.h"

namespace {

constexpr jet::ColumnType kTypes[] = {
    jet::ColumnType::Boolean, jet::ColumnType::Byte,   jet::ColumnType::Integer, jet::ColumnType::Long,
    jet::ColumnType::Currency, jet::ColumnType::Single, jet::ColumnType::Double, jet::ColumnType::DateTime,
    jet::ColumnType::Binary,  jet::ColumnType::Text,   jet::ColumnType::Ole,     jet::ColumnType::Memo,
    jet::ColumnType::Guid,    jet::ColumnType::Numeric};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  jet::ColumnType type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
  uint8_t scale = data[1] % 29;
  std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
  jet::Value value;
  try {
    value = jet::fromText(type, text, scale);
  } catch (const jet::Error&) {
    return 0;
  }
  std::string shown = jet::toText(value);
  jet::Value again;
  try {
    again = jet::fromText(type, shown, scale);
  } catch (const jet::Error&) {
    std::abort();  // the engine's own text form of a value must read back
  }
  if (jet::toText(again) != shown) std::abort();
  return 0;
}
