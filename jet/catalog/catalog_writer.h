// Rows of the catalog and the other system tables as the schema writer, creation and compaction
// write them: through the one row codec, with every long value kept in the row.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jet/base/text_codec.h"
#include "jet/base/value.h"
#include "jet/catalog/system_tables.h"
#include "jet/table/table_def.h"

namespace jet {

// Encodes one row; values[i] belongs to def.columns[i]. Memo and OLE values are stored inline.
// With keepFields, a Memo or OLE value given as Bytes is a stored field read back by a RowReader
// without long values (reference and inline data) and is written unchanged. Throws 3001 when the
// row would not fit on a page, and the row codec's errors for values that do not fit their column.
Bytes encodeSystemRow(const Tdef& def, const std::vector<Value>& values, TextCodec& codec,
                      bool keepFields = false);

// Values for a row given by column number; columns not named are Null.
std::vector<Value> rowByNumber(const Tdef& def, const std::vector<std::pair<uint16_t, Value>>& values);

// An object as its catalog (MSysObjects) row describes it when it is first written.
struct NewCatalogObject {
  int32_t id = 0;
  int32_t parentId = 0;
  std::string name;
  int16_t type = 0;
  double created = 0;  // the creation and update time, as an OLE date
  std::optional<sys::Sid> owner;
  uint32_t flags = 0;
  std::optional<Bytes> properties;  // the stored field of the property blob
};

// The catalog row of a new object: the one builder of catalog rows for creation, compaction and
// schema changes. Columns the object leaves out are Null.
std::vector<Value> catalogRow(const Tdef& catalog, Format format, const NewCatalogObject& object);
// A permission (MSysACEs) row.
std::vector<Value> aceRow(const Tdef& aces, Format format, const sys::Ace& ace);

}  // namespace jet
