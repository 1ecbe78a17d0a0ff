// The definition a new table gets: names, types, sizes and rules checked, columns laid out.
#include "jet/catalog/schema_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/catalog_writer.h"
#include "jet/catalog/complex_columns.h"
#include "jet/catalog/name_rules.h"
#include "jet/catalog/properties.h"
#include "jet/catalog/system_tables.h"
#include "jet/expr/expression.h"
#include "jet/index/index_page.h"
#include "jet/storage/data_page.h"
#include "jet/storage/encryption.h"
#include "jet/storage/header.h"
#include "jet/storage/long_value.h"
#include "jet/storage/page_transaction.h"
#include "jet/storage/usage_map.h"
#include "jet/table/calculated_value.h"
#include "jet/table/row.h"

namespace jet {

namespace {

bool isFixedType(ColumnType t) { return fixedLengthOf(t) != 0; }

constexpr size_t kMaxColumns = 255;

bool knownType(ColumnType t) {
  switch (t) {
    case ColumnType::Boolean: case ColumnType::Byte: case ColumnType::Integer: case ColumnType::Long:
    case ColumnType::Currency: case ColumnType::Single: case ColumnType::Double: case ColumnType::DateTime:
    case ColumnType::Binary: case ColumnType::Text: case ColumnType::Ole: case ColumnType::Memo:
    case ColumnType::Guid: case ColumnType::Numeric: case ColumnType::BigInt: case ColumnType::DateTimeExtended:
      return true;
    case ColumnType::Complex:  // needs hidden tables, which the engine does not create
      return false;
  }
  return false;
}

// Calculated columns came with Access 2010 files; their result is a plain value, never an
// auto-number, binary, OLE object or complex value.
void requireCalculable(const NewColumn& nc, FileVersion version) {
  const bool plain = nc.type != ColumnType::Binary && nc.type != ColumnType::Ole && nc.type != ColumnType::Complex &&
                     nc.type != ColumnType::DateTimeExtended && !nc.autoNumber;
  if (version < FileVersion::Access2010 || !plain) throw Error(err::kInvalidFieldSize, "Invalid field data type.");
}

// A default or rule must be an expression over the table's own fields: parsing throws 3075 or
// 3085 as Jet does when the design is saved, and a name that is no field gives 3070.
void requireRuleExpression(const NewTable& outline, const std::string& text, const std::string& subject) {
  if (text.empty()) return;
  const expr::Expression e = subject.empty() ? expr::Expression::parse(text) : expr::Expression::parseFieldRule(text, subject);
  for (const std::string& name : e.fieldNames())
    if (std::none_of(outline.columns.begin(), outline.columns.end(), [&](const NewColumn& c) { return sameName(c.name, name); }))
      throw Error(err::kUnknownName, "The Microsoft Jet database engine does not recognize '" + name +
                                         "' as a valid field name or expression.");
}

}  // namespace

Tdef newTableDefinition(Format f, const NewTable& outline, TextCodec& codec, FileVersion version,
                            uint8_t sortVersion) {
  requireValidName(outline.name, f, codec);
  if (outline.columns.empty()) throw Error(err::kNoFields, "No field defined--cannot append TableDef or Index.");
  if (outline.columns.size() > kMaxColumns) throw Error(err::kTooManyFields, "Too many fields defined.");
  requireRuleExpression(outline, outline.validationRule, "");
  Tdef def;
  def.format = f;
  def.version = firstVersionOf(f);
  uint16_t fixedAt = 0, varAt = 0;
  for (size_t i = 0; i < outline.columns.size(); ++i) {
    const NewColumn& nc = outline.columns[i];
    requireValidName(nc.name, f, codec);
    for (size_t j = 0; j < i; ++j)
      if (sameName(outline.columns[j].name, nc.name))
        throw Error(err::kFieldDefinedTwice, "Cannot define field more than once.");
    if (!knownType(nc.type)) throw Error(err::kInvalidFieldSize, "Invalid field data type.");
    if (nc.autoNumber && nc.type != ColumnType::Long) throw Error(err::kInvalidFieldSize, "Invalid field data type.");
    // The older format has no decimal type.
    if (f == Format::Jet3Layout && nc.type == ColumnType::Numeric) throw Error(err::kInvalidFieldSize, "Invalid field data type.");
    requireRuleExpression(outline, nc.defaultValue, "");
    requireRuleExpression(outline, nc.validationRule, nc.name);
    if (!nc.expression.empty()) {
      requireCalculable(nc, version);
      requireRuleExpression(outline, nc.expression, "");
    }
    ColumnDef c;
    c.name = nc.name;
    c.type = nc.type;
    c.number = uint16_t(i);
    if (f == Format::Jet4Layout) c.sortVersion = sortVersion;
    c.flags = nc.required ? 0 : colflag::kNullable;
    if (nc.autoNumber) c.flags = uint8_t(c.flags | colflag::kAutoNumber);
    if (!nc.expression.empty()) {
      // Every result lives in the variable part, wrapped: a text as long as its characters and
      // the wrapper, any other type in the widest result's room.
      c.extFlags = colflag::kCalculated;
      c.varIndex = varAt++;
      if (nc.type == ColumnType::Text) {
        if (nc.size < 1 || nc.size > 255) throw Error(err::kInvalidArgument, "Invalid argument.");
        c.length = uint16_t(nc.size * 2 + kCalculatedOverhead);
      } else if (nc.type != ColumnType::Memo) {
        c.length = kCalculatedLength;
      }
      if (nc.type == ColumnType::Numeric) {
        if (nc.precision < 1 || nc.precision > 28 || nc.scale > nc.precision) throw Error(err::kInvalidArgument, "Invalid argument.");
        c.precision = nc.precision;
        c.scale = nc.scale;
      }
    } else if (isFixedType(nc.type)) {
      c.flags |= colflag::kFixed;
      c.length = fixedLengthOf(nc.type);
      c.varIndex = varAt;
      if (nc.type != ColumnType::Boolean) {
        c.fixedOffset = fixedAt;
        fixedAt = uint16_t(fixedAt + c.length);
      }
      if (nc.type == ColumnType::Numeric) {
        if (nc.precision < 1 || nc.precision > 28 || nc.scale > nc.precision)
          throw Error(err::kInvalidArgument, "Invalid argument.");
        c.precision = nc.precision;
        c.scale = nc.scale;
      }
    } else {
      c.varIndex = varAt++;
      // Text and memo columns take Unicode compression, as Access makes them: values of one-byte
      // characters are stored one byte a character.
      if (f == Format::Jet4Layout && (nc.type == ColumnType::Text || nc.type == ColumnType::Memo))
        c.extFlags = uint8_t(c.extFlags | colflag::kCompressedText);
      if (nc.type == ColumnType::Text) {
        if (nc.size < 1 || nc.size > 255) throw Error(err::kInvalidArgument, "Invalid argument.");
        c.length = uint16_t(f == Format::Jet4Layout ? nc.size * 2 : nc.size);
      } else if (nc.type == ColumnType::Binary) {
        const int size = nc.size ? nc.size : 255;
        if (size < 1 || size > 255) throw Error(err::kInvalidArgument, "Invalid argument.");
        c.length = uint16_t(size);
      }
    }
    def.columns.push_back(c);
  }
  if (f == Format::Jet3Layout ? fixedAt > 2000 : fixedAt > 4000) throw Error(err::kInvalidArgument, "Invalid argument.");
  for (size_t i = 0; i < outline.indexes.size(); ++i) {
    const NewIndex& ni = outline.indexes[i];
    requireValidName(ni.name, f, codec);
    for (size_t j = 0; j < i; ++j) {
      if (sameName(outline.indexes[j].name, ni.name)) throw Error(err::kIndexExists, "Index already exists.");
      if (ni.primaryKey && outline.indexes[j].primaryKey)
        throw Error(err::kPrimaryKeyExists, "Primary key already exists.");
    }
    if (ni.columns.empty() || ni.columns.size() > 10) throw Error(err::kInvalidArgument, "Invalid argument.");
    RealIndexDef r;
    for (const auto& ic : ni.columns) {
      if (ic.columnNumber >= def.columns.size()) throw Error(err::kInvalidArgument, "Invalid argument.");
      const ColumnType t = def.columns[ic.columnNumber].type;
      if (t == ColumnType::Memo || t == ColumnType::Ole || t == ColumnType::Binary)
        throw Error(err::kInvalidFieldSize, "Invalid field data type.");
      r.columns.push_back({ic.columnNumber, ic.ascending});
    }
    uint8_t flags = 0;
    if (ni.unique || ni.primaryKey) flags |= idxflag::kUnique;
    if (ni.ignoreNulls) flags |= idxflag::kIgnoreNulls;
    if (ni.required || ni.primaryKey) flags |= idxflag::kRequired;
    if (f == Format::Jet4Layout) flags |= idxflag::kJet4Marker;
    r.flags = flags;
    def.realIndexes.push_back(r);
    LogicalIndexDef l;
    l.name = ni.name;
    l.number = int32_t(i);
    l.realIndex = int32_t(i);
    l.kind = ni.primaryKey ? idxkind::kPrimaryKey : idxkind::kPlain;
    def.indexes.push_back(l);
  }
  return def;
}

}  // namespace jet
