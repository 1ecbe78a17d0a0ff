#include "db/field_rules.h"

#include "jet/row_rules.h"

namespace dao {

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
    case jet::ColumnType::Text: return jet::fieldCapacity(c, format);
    default: return c.length;
  }
}

int32_t daoAttributes(const jet::ColumnInfo& c) {
  int32_t a = c.fixed ? dbFixedField : dbVariableField;
  if (c.autoNumber) a |= dbAutoIncrField;
  if (c.hyperlink) a |= dbHyperlinkField;
  return a;
}

}  // namespace dao
