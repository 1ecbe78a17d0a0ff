// The property blob the catalog keeps per object (column Required, AllowZeroLength, DefaultValue,
// Description, ...): a signature, a block of property names, then one block of values per owner
// (the object itself under an empty name, each column under its own name).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/schema.h"
#include "jet/base/text_codec.h"

namespace jet {

struct PropertyValue {
  uint8_t type = 0;         // column type code of the value
  std::string text;         // text values (UTF-8)
  int64_t number = 0;       // Boolean, Byte, Integer, Long values
  std::vector<uint8_t> raw; // the stored bytes
};

// Owner name (empty for the object itself) -> property name -> value. Names compare exactly.
using PropertyMaps = std::map<std::string, std::map<std::string, PropertyValue>>;

// Parses a blob. A blob that is empty gives no properties; one that is damaged throws 3049.
PropertyMaps parseProperties(const std::vector<uint8_t>& blob, Format format, TextCodec& codec);

// Copies the column properties the engine reports into a table description, and the table's own
// validation rule and text.
void applyColumnProperties(const PropertyMaps& props, TableInfo& table);

// The properties a new table's columns are given; a column with neither set is left out.
struct ColumnProperties {
  std::string column;
  std::optional<bool> required;
  std::optional<bool> allowZeroLength;
};

// The blob for a new table whose columns have these properties (names in the format's encoding:
// UCS-2 in Jet 4, the code page of `codec` in Jet 3). parseProperties reads it back.
std::vector<uint8_t> buildPropertyBlob(Format format, const std::vector<ColumnProperties>& columns, TextCodec& codec);

}  // namespace jet
