#include "db/field_rules.h"

#include <algorithm>

namespace dao {

namespace {

size_t utf8Length(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace

int16_t daoType(jet::ColumnType type) {
  switch (type) {
    case jet::ColumnType::Guid: return dbGUID;
    case jet::ColumnType::Numeric: return dbDecimal;
    case jet::ColumnType::BigInt: return dbBigInt;
    case jet::ColumnType::DateTimeExtended: return dbDateTimeExtended;
    default: return static_cast<int16_t>(type);
  }
}

int16_t daoType(const jet::ColumnInfo& column) {
  if (column.type != jet::ColumnType::Complex) return daoType(column.type);
  switch (column.complexKind) {
    case jet::ComplexKind::Attachment: return dbAttachment;
    case jet::ComplexKind::VersionHistory: return dbComplexText;
    case jet::ComplexKind::MultiValue:
      switch (column.complexValueType) {
        case jet::ColumnType::Byte: return dbComplexByte;
        case jet::ColumnType::Integer: return dbComplexInteger;
        case jet::ColumnType::Long: return dbComplexLong;
        case jet::ColumnType::Single: return dbComplexSingle;
        case jet::ColumnType::Double: return dbComplexDouble;
        case jet::ColumnType::Guid: return dbComplexGUID;
        case jet::ColumnType::Numeric: return dbComplexDecimal;
        default: return dbComplexText;
      }
    default: return dbLong;
  }
}

bool engineType(int16_t code, jet::ColumnType& out) {
  switch (code) {
    case dbBoolean: case dbByte: case dbInteger: case dbLong: case dbCurrency: case dbSingle:
    case dbDouble: case dbDate: case dbBinary: case dbText: case dbLongBinary: case dbMemo:
      out = static_cast<jet::ColumnType>(code);
      return true;
    case dbGUID: out = jet::ColumnType::Guid; return true;
    case dbDecimal: out = jet::ColumnType::Numeric; return true;
    case dbBigInt: out = jet::ColumnType::BigInt; return true;
    case dbDateTimeExtended: out = jet::ColumnType::DateTimeExtended; return true;
    default: return false;
  }
}

int32_t daoSize(const jet::ColumnInfo& c, jet::Format format) {
  switch (c.type) {
    case jet::ColumnType::Boolean: return 1;
    case jet::ColumnType::Byte: return 1;
    case jet::ColumnType::Integer: return 2;
    case jet::ColumnType::Long: return 4;
    case jet::ColumnType::Currency: return 8;
    case jet::ColumnType::Single: return 4;
    case jet::ColumnType::Double: return 8;
    case jet::ColumnType::DateTime: return 8;
    case jet::ColumnType::BigInt: return 8;
    case jet::ColumnType::DateTimeExtended: return 42;
    case jet::ColumnType::Guid: return 16;
    case jet::ColumnType::Numeric: return 16;
    case jet::ColumnType::Memo: return 0;
    case jet::ColumnType::Ole: return 0;
    // Jet 4 keeps text as two bytes a character; the size counts characters.
    case jet::ColumnType::Text: {
      // A calculated text's stored length includes the wrapping of its results.
      const int32_t bytes = c.calculated ? std::max(0, int32_t(c.length) - 23) : c.length;
      return format == jet::Format::Jet4 ? bytes / 2 : bytes;
    }
    default: return c.length;
  }
}

int32_t daoAttributes(const jet::ColumnInfo& c) {
  int32_t a = c.fixed ? dbFixedField : dbVariableField;
  if (c.autoNumber) a |= dbAutoIncrField;
  if (c.hyperlink) a |= dbHyperlinkField;
  return a;
}

void checkValueFits(const jet::TableInfo& table, jet::Format format, size_t index, const Value& v) {
  const jet::ColumnInfo& c = table.columns[index];
  bool tooLong = false;
  if (c.type == jet::ColumnType::Text) {
    if (auto* s = std::get_if<std::string>(&v)) {
      // A text has no more characters than bytes: only a longer one needs its characters counted.
      const int64_t limit = daoSize(c, format);
      tooLong = static_cast<int64_t>(s->size()) > limit && static_cast<int64_t>(utf8Length(*s)) > limit;
    }
  } else if (c.type == jet::ColumnType::Binary) {
    if (auto* b = std::get_if<jet::Bytes>(&v)) tooLong = static_cast<int64_t>(b->size()) > daoSize(c, format);
  }
  if (tooLong)
    throw Error(jet::err::kTextTooLong,
                "The field is too small to accept the amount of data you attempted to add.  Try inserting or "
                "pasting less data.",
                table.name, c.name);
}

void checkRecord(const jet::TableInfo& table, const std::vector<Value>& values) {
  for (size_t i = 0; i < table.columns.size() && i < values.size(); ++i) {
    const jet::ColumnInfo& c = table.columns[i];
    if (c.autoNumber) continue;
    const Value& v = values[i];
    if (c.required && jet::isNull(v))
      throw Error(jet::err::kRequiredNull,
                  "The field '" + table.name + "." + c.name +
                      "' cannot contain a Null value because the Required property for this field is set to "
                      "True.  Enter a value in this field.",
                  table.name, c.name);
    auto* s = std::get_if<std::string>(&v);
    if (s && s->empty() && !c.allowZeroLength &&
        (c.type == jet::ColumnType::Text || c.type == jet::ColumnType::Memo))
      throw Error(jet::err::kZeroLength, "Field '" + table.name + "." + c.name + "' cannot be a zero-length string.",
                  table.name, c.name);
  }
}

}  // namespace dao
