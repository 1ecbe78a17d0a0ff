#include "jet/catalog/complex_columns.h"

#include <algorithm>

#include "jet/base/error.h"
#include "jet/catalog/catalog.h"

namespace jet {

namespace {

bool multiValueType(ColumnType t) {
  switch (t) {
    case ColumnType::Byte: case ColumnType::Integer: case ColumnType::Long: case ColumnType::Single:
    case ColumnType::Double: case ColumnType::Guid: case ColumnType::Numeric: case ColumnType::Text:
      return true;
    default:
      return false;
  }
}

int32_t asInt(const Value& v) {
  if (const auto* i = std::get_if<int64_t>(&v)) return static_cast<int32_t>(*i);
  return 0;
}

std::string asText(const Value& v) {
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return {};
}

double daysOf(const Value& v) {
  if (const auto* d = std::get_if<DateTime>(&v)) return d->days;
  return -1e300;  // undated versions sort last
}

}  // namespace

std::vector<ComplexColumnEntry> complexColumnEntries(const std::vector<ColumnInfo>& columns,
                                                     const std::vector<std::vector<Value>>& rows) {
  const int name = columnIndex(columns, "ColumnName");
  const int id = columnIndex(columns, "ComplexID");
  const int table = columnIndex(columns, "ConceptualTableID");
  const int flat = columnIndex(columns, "FlatTableID");
  const int type = columnIndex(columns, "ComplexTypeObjectID");
  std::vector<ComplexColumnEntry> out;
  if (id < 0) return out;
  auto at = [](const std::vector<Value>& row, int i) -> const Value& {
    static const Value kNull;
    return i >= 0 && static_cast<size_t>(i) < row.size() ? row[static_cast<size_t>(i)] : kNull;
  };
  for (const auto& row : rows) {
    if (isNull(at(row, id))) continue;
    ComplexColumnEntry e;
    e.columnName = asText(at(row, name));
    e.complexId = asInt(at(row, id));
    e.tableId = asInt(at(row, table));
    e.flatTableId = asInt(at(row, flat));
    e.templateId = asInt(at(row, type));
    out.push_back(std::move(e));
  }
  return out;
}

ComplexLayout complexLayout(const TableInfo& templateTable, const TableInfo& flatTable) {
  ComplexLayout l;
  const auto& tcols = templateTable.columns;
  const auto& fcols = flatTable.columns;
  // The hidden table's own columns are those the template lacks.
  for (size_t i = 0; i < fcols.size(); ++i) {
    if (columnIndex(tcols, fcols[i].name.c_str()) >= 0) continue;
    if (fcols[i].autoNumber) l.id = static_cast<int>(i);
    else if (fcols[i].type == ColumnType::Long) l.key = static_cast<int>(i);
  }
  if (l.key < 0) throwCorrupt("the hidden table '" + flatTable.name + "' of a complex column has no key");
  auto inFlat = [&](const ColumnInfo& c) { return columnIndex(fcols, c.name.c_str()); };

  if (tcols.size() == 1 && multiValueType(tcols[0].type)) {
    l.kind = ComplexKind::MultiValue;
    l.valueType = tcols[0].type;
    l.value = inFlat(tcols[0]);
    return l;
  }
  int memo = 0, text = 0, ole = 0, date = 0, lng = 0;
  for (const auto& c : tcols) {
    memo += c.type == ColumnType::Memo;
    text += c.type == ColumnType::Text;
    ole += c.type == ColumnType::Ole;
    date += c.type == ColumnType::DateTime;
    lng += c.type == ColumnType::Long;
  }
  if (memo >= 1 && text >= 2 && ole >= 1 && date >= 1 && lng >= 1) {
    l.kind = ComplexKind::Attachment;
    for (const auto& c : tcols) {
      const int at = inFlat(c);
      switch (c.type) {
        case ColumnType::Text:
          if (sameName(c.name, "FileName")) l.fileName = at;
          else if (sameName(c.name, "FileType")) l.fileType = at;
          break;
        case ColumnType::Memo: if (l.fileUrl < 0) l.fileUrl = at; break;
        case ColumnType::Ole: if (l.fileData < 0) l.fileData = at; break;
        case ColumnType::DateTime: if (l.fileTimeStamp < 0) l.fileTimeStamp = at; break;
        case ColumnType::Long: if (l.fileFlags < 0) l.fileFlags = at; break;
        default: break;
      }
    }
    // Texts that are not named so are the name, then the type, in template order.
    for (const auto& c : tcols) {
      if (c.type != ColumnType::Text || sameName(c.name, "FileName") || sameName(c.name, "FileType")) continue;
      if (l.fileName < 0) l.fileName = inFlat(c);
      else if (l.fileType < 0) l.fileType = inFlat(c);
    }
    return l;
  }
  if (memo >= 1 && date >= 1) {
    l.kind = ComplexKind::VersionHistory;
    for (const auto& c : tcols) {
      if (c.type == ColumnType::Memo && l.value < 0) l.value = inFlat(c);
      if (c.type == ColumnType::DateTime && l.modified < 0) l.modified = inFlat(c);
    }
    return l;
  }
  return l;
}

std::vector<std::vector<Value>> complexRows(const ComplexLayout& layout, size_t width, int32_t key,
                                            const ComplexValue& value) {
  auto fits = [&](int i) { return i >= 0 && static_cast<size_t>(i) < width; };
  if (!fits(layout.key)) throwCorrupt("a complex column's hidden table has no key");
  const bool otherKind = (!value.values.empty() && layout.kind != ComplexKind::MultiValue) ||
                         (!value.attachments.empty() && layout.kind != ComplexKind::Attachment) ||
                         (!value.versions.empty() && layout.kind != ComplexKind::VersionHistory);
  if (otherKind) throw Error(err::kConversion, "Data type conversion error.");
  std::vector<std::vector<Value>> out;
  if (value.size() == 0) return out;
  const bool writable = (layout.kind == ComplexKind::MultiValue && fits(layout.value)) ||
                        (layout.kind == ComplexKind::Attachment && fits(layout.fileName) && fits(layout.fileData)) ||
                        (layout.kind == ComplexKind::VersionHistory && fits(layout.value));
  if (!writable) throw Error(err::kCannotUpdateField, "Field cannot be updated.");
  auto row = [&]() -> std::vector<Value>& {
    out.emplace_back(width, Value{});
    out.back()[static_cast<size_t>(layout.key)] = int64_t(key);
    return out.back();
  };
  auto set = [](std::vector<Value>& r, int i, Value v) {
    if (i >= 0 && static_cast<size_t>(i) < r.size()) r[static_cast<size_t>(i)] = std::move(v);
  };
  for (const Value& v : value.values) set(row(), layout.value, v);
  for (const Attachment& a : value.attachments) {
    std::vector<Value>& r = row();
    set(r, layout.fileName, a.name);
    set(r, layout.fileType, a.type);
    set(r, layout.fileData, a.stored);
    if (!a.url.empty()) set(r, layout.fileUrl, a.url);
    set(r, layout.fileTimeStamp, a.timeStamp);
    set(r, layout.fileFlags, a.flags);
  }
  for (auto it = value.versions.rbegin(); it != value.versions.rend(); ++it) {
    std::vector<Value>& r = row();
    set(r, layout.value, it->value);
    set(r, layout.modified, it->modified);
  }
  return out;
}

bool complexRowKey(const ComplexLayout& layout, const std::vector<Value>& row, int32_t& key) {
  if (layout.key < 0 || static_cast<size_t>(layout.key) >= row.size()) return false;
  const auto* v = std::get_if<int64_t>(&row[static_cast<size_t>(layout.key)]);
  if (!v) return false;
  key = static_cast<int32_t>(*v);
  return true;
}

void addComplexRow(const ComplexLayout& layout, const std::vector<Value>& row, ComplexValue& value) {
  auto at = [&](int i) -> Value {
    return i >= 0 && static_cast<size_t>(i) < row.size() ? row[static_cast<size_t>(i)] : Value{};
  };
  value.kind = layout.kind;
  switch (layout.kind) {
    case ComplexKind::MultiValue:
      value.values.push_back(at(layout.value));
      break;
    case ComplexKind::Attachment: {
      Attachment a;
      a.name = asText(at(layout.fileName));
      a.type = asText(at(layout.fileType));
      Value data = at(layout.fileData);
      if (auto* b = std::get_if<Bytes>(&data)) a.stored = std::move(*b);
      a.url = asText(at(layout.fileUrl));
      a.timeStamp = at(layout.fileTimeStamp);
      a.flags = at(layout.fileFlags);
      value.attachments.push_back(std::move(a));
      break;
    }
    case ComplexKind::VersionHistory: {
      Version v{at(layout.value), at(layout.modified)};
      // Newest first; a row read later (saved later) goes before rows of the same date.
      auto pos = std::find_if(value.versions.begin(), value.versions.end(),
                              [&](const Version& o) { return daysOf(o.modified) <= daysOf(v.modified); });
      value.versions.insert(pos, std::move(v));
      break;
    }
    default:
      break;
  }
}

}  // namespace jet
