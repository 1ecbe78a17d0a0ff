#include "jet/row_rules.h"

#include <algorithm>

#include "jet/base/error.h"

namespace jet {

namespace {

size_t utf8Length(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace

int32_t fieldCapacity(const ColumnInfo& c, Format format) {
  if (c.type != ColumnType::Text) return c.length;
  const int32_t bytes = c.calculated ? std::max(0, int32_t(c.length) - 23) : c.length;
  return format == Format::Jet4Layout ? bytes / 2 : bytes;
}

void checkValueFits(const TableInfo& table, Format format, size_t index, const Value& v) {
  const ColumnInfo& c = table.columns[index];
  bool tooLong = false;
  if (c.type == ColumnType::Text) {
    if (auto* s = std::get_if<std::string>(&v)) {
      // A text has no more characters than bytes: only a longer one needs its characters counted.
      const int64_t limit = fieldCapacity(c, format);
      tooLong = static_cast<int64_t>(s->size()) > limit && static_cast<int64_t>(utf8Length(*s)) > limit;
    }
  } else if (c.type == ColumnType::Binary) {
    if (auto* b = std::get_if<Bytes>(&v)) tooLong = static_cast<int64_t>(b->size()) > fieldCapacity(c, format);
  }
  if (tooLong)
    throw Error(err::kTextTooLong,
                "The field is too small to accept the amount of data you attempted to add.  Try inserting or "
                "pasting less data.",
                table.name, c.name);
}

void checkRow(const TableInfo& table, const std::vector<Value>& values) {
  for (size_t i = 0; i < table.columns.size() && i < values.size(); ++i) {
    const ColumnInfo& c = table.columns[i];
    // Auto-numbers and calculated values are the engine's; complex values live in their own tables.
    if (c.autoNumber || c.calculated || c.type == ColumnType::Complex) continue;
    const Value& v = values[i];
    if (c.required && isNull(v))
      throw Error(err::kRequiredNull,
                  "The field '" + table.name + "." + c.name +
                      "' cannot contain a Null value because the Required property for this field is set to "
                      "True.  Enter a value in this field.",
                  table.name, c.name);
    auto* s = std::get_if<std::string>(&v);
    if (s && s->empty() && !c.allowZeroLength && (c.type == ColumnType::Text || c.type == ColumnType::Memo))
      throw Error(err::kZeroLength, "Field '" + table.name + "." + c.name + "' cannot be a zero-length string.",
                  table.name, c.name);
  }
}

void checkNewRow(const TableInfo& table, Format format, const std::vector<Value>& values) {
  for (size_t i = 0; i < values.size(); ++i) checkValueFits(table, format, i, values[i]);
  checkRow(table, values);
}

}  // namespace jet
