// A single column value as the engine reads and writes it, and its text forms.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace jet {

// Column types as the file stores them (the byte in the table definition).
enum class ColumnType : uint8_t {
  Boolean = 0x01,
  Byte = 0x02,
  Integer = 0x03,
  Long = 0x04,
  Currency = 0x05,
  Single = 0x06,
  Double = 0x07,
  DateTime = 0x08,
  Binary = 0x09,
  Text = 0x0A,
  Ole = 0x0B,
  Memo = 0x0C,
  Guid = 0x0F,
  Numeric = 0x10,  // Decimal; DAO calls it type 20
  // Attachments, multi-valued fields and version history: a 32-bit key per row (held as int64_t)
  // naming the rows of the column's hidden table that hold its values.
  Complex = 0x12,
  BigInt = 0x13,   // Large Number (Access 2016 and later)
  DateTimeExtended = 0x14,  // Date/Time Extended (Access 2019 and later)
};

using Bytes = std::vector<uint8_t>;

// Currency: a 64-bit integer holding the amount times 10,000.
struct Currency {
  int64_t scaled = 0;
  bool operator==(const Currency&) const = default;
};

// Date/Time: days since 1899-12-30 with the time of day as the fraction (OLE automation date).
struct DateTime {
  double days = 0;
  bool operator==(const DateTime&) const = default;
};

// Date/Time Extended: a date from 0001-01-01 to 9999-12-31 and a time of day to the ten-millionth
// of a second, in the parts the file keeps: days since 0001-01-01, seconds since midnight, and the
// fraction of the second in units of 100 nanoseconds.
struct DateTimeExtended {
  int64_t days = 0;
  int32_t seconds = 0;
  int32_t ticks = 0;  // 0..9,999,999
  bool operator==(const DateTimeExtended&) const = default;
};

struct Guid {
  std::array<uint8_t, 16> bytes{};  // in the file's order (first three groups little-endian)
  bool operator==(const Guid&) const = default;
};

// Decimal: a 96-bit magnitude, a sign and a scale (digits after the point).
struct Decimal {
  bool negative = false;
  uint8_t scale = 0;
  uint8_t precision = 18;
  std::array<uint32_t, 3> magnitude{};  // least significant word first
  bool operator==(const Decimal&) const = default;
};

struct Null {
  bool operator==(const Null&) const = default;
};

// Text values are held as UTF-8. Byte/Integer/Long/BigInt are held as int64_t; Binary, OLE and values
// of unknown types as Bytes.
using Value = std::variant<Null, bool, int64_t, Currency, float, double, DateTime, std::string, Bytes, Guid, Decimal,
                           DateTimeExtended>;

inline bool isNull(const Value& v) { return std::holds_alternative<Null>(v); }

// The one culture-invariant text form of a value, used by the grid, the record editor and CSV:
// Boolean "True"/"False"; integers plain; Currency without grouping or trailing zeros ("12.5");
// Single and Double in the shortest form that reads back to the same bits; Date/Time
// "YYYY-MM-DD HH:MM:SS" (date alone at midnight, time alone on day zero); Date/Time Extended
// "YYYY-MM-DD HH:MM:SS.fffffff" (always all of it); GUID braced upper-case;
// Binary and OLE "0x" and lowercase hex; Decimal with its scale's digits. Null gives "".
std::string toText(const Value& v);
// The same appended to `out`.
void appendText(std::string& out, const Value& v);

// Parses the text form back into a value of the given column type (the inverse of toText for every
// value toText produces). Throws jet::Error 3421 when the text does not convert. An empty text gives
// an empty string for Text/Memo and fails for other types (DAO's behaviour for an empty string).
Value fromText(ColumnType type, const std::string& text, uint8_t scale = 0);

}  // namespace jet
