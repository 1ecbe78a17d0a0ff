// Source values in the forms the targets hold them, and the comparison of a value read back from a
// target with its source.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/schema.h"
#include "jet/base/value.h"

namespace migrate {

enum class Dialect { Sqlite, Postgres };

// Decimal text with exactly the scale's digits after the point; zero has no sign.
std::string exactDecimal(const jet::Decimal& d);
// "YYYY-MM-DD HH:MM:SS", with ".mmm" when the milliseconds are not zero (trimZeros drops the
// fraction's trailing zeros, as PostgreSQL prints it). Nothing for a date outside years 100-9999.
std::optional<std::string> timestampText(double days, bool trimZeros);
// True for a date in years 100-9999, the range both targets hold.
bool inCalendar(double days);
// Microseconds since 2000-01-01 00:00, rounded to the millisecond, or nothing (as above).
std::optional<int64_t> postgresMicroseconds(double days);
// Lower-case hyphenated form, and the 16 bytes in that order.
std::string uuidText(const jet::Guid& g);
std::array<uint8_t, 16> uuidBytes(const jet::Guid& g);
// A Large Number column's value (handed over as its eight stored bytes, little-endian).
std::optional<int64_t> largeNumber(const jet::Value& v);

// One row read back from a target: each value in the target's text form, nothing for a Null.
using TextRow = std::vector<std::optional<std::string>>;

// The text form in which `dialect` gives back `value` of `column`; nothing for Null.
std::optional<std::string> expectedText(Dialect dialect, const jet::ColumnInfo& column, const jet::Value& value);
// True when `got` (read back) is `value`: the text forms agree, or for Single and Double the
// numbers they read as.
bool sameValue(Dialect dialect, const jet::ColumnInfo& column, const jet::Value& value,
               const std::optional<std::string>& got);

}  // namespace migrate
