#include "jet/catalog/catalog_writer.h"

#include "jet/base/error.h"
#include "jet/storage/data_page.h"
#include "jet/storage/long_value.h"
#include "jet/table/row_writer.h"

namespace jet {

namespace {

[[noreturn]] void invalid() { throw Error(err::kInvalidArgument, "Invalid argument."); }

}  // namespace

std::vector<Value> rowByNumber(const Tdef& def, const std::vector<std::pair<uint16_t, Value>>& values) {
  std::vector<Value> row(def.columns.size(), Null{});
  for (const auto& [number, v] : values) {
    size_t pos = def.findColumn(number);
    if (pos >= def.columns.size()) invalid();
    row[pos] = v;
  }
  return row;
}

std::vector<Value> catalogRow(const Tdef& catalog, Format format, const NewCatalogObject& o) {
  std::vector<std::pair<uint16_t, Value>> values = {
      {sys::kObjId, int64_t(o.id)},
      {sys::kObjParentId, int64_t(o.parentId)},
      {sys::kObjName, o.name},
      {sys::kObjType, int64_t(o.type)},
      {sys::kObjDateCreate, DateTime{o.created}},
      {sys::kObjDateUpdate, DateTime{o.created}},
      {sys::kObjFlags, int64_t(int32_t(o.flags))},
  };
  if (o.owner) values.push_back({sys::kObjOwner, sys::sidBytes(format, *o.owner)});
  if (o.properties) values.push_back({sys::kObjLvProp, *o.properties});
  return rowByNumber(catalog, values);
}

std::vector<Value> aceRow(const Tdef& aces, Format format, const sys::Ace& a) {
  return rowByNumber(aces, {{sys::kAceObjectId, int64_t(a.objectId)},
                            {sys::kAceSid, sys::sidBytes(format, a.sid)},
                            {sys::kAceAcm, int64_t(a.mask)},
                            {sys::kAceInheritable, a.inheritable}});
}

Bytes encodeSystemRow(const Tdef& def, const std::vector<Value>& values, TextCodec& codec, bool keepFields) {
  if (values.size() != def.columns.size()) invalid();
  // A kept field goes through the codec as opaque bytes: its column is seen as OLE, whose encoding
  // is the bytes themselves, and the store below leaves it as it is.
  const Tdef* shape = &def;
  Tdef withFields;
  std::vector<bool> kept(def.columns.size(), false);
  if (keepFields) {
    for (size_t i = 0; i < def.columns.size(); ++i)
      kept[i] = def.columns[i].isLongValue() && std::holds_alternative<Bytes>(values[i]);
    withFields = def;
    for (size_t i = 0; i < def.columns.size(); ++i)
      if (kept[i]) withFields.columns[i].type = ColumnType::Ole;
    shape = &withFields;
  }
  Bytes row = encodeRow(*shape, values, codec, [&](const ColumnDef& c, const Bytes& data) {
    const size_t pos = def.findColumn(c.number);
    return pos < kept.size() && kept[pos] ? data : inlineLongValue(data);
  });
  if (row.size() > maxRowSize(def.format, uint32_t(pageSizeOf(def.format)))) invalid();
  return row;
}

}  // namespace jet
