// Building blocks of the text forms of values, shared by the value's own text form and the
// command-line tool's JSON form (which writes some types differently).
#pragma once

#include <cstdint>
#include <string>

#include "jet/base/value.h"

namespace jet {

// An OLE automation date split into calendar parts (valid only for years 100 to 9999).
struct OleParts {
  bool valid = false;
  int64_t year = 0;
  int month = 0;
  int day = 0;
  int64_t dayNumber = 0;  // days from 1899-12-30, after rounding to the millisecond
  int64_t msOfDay = 0;
};
OleParts splitOleDate(double days);
// The inverse: a day number and a time of day (which counts forwards from that day's midnight,
// also before 1899-12-30) as an OLE date.
double composeOleDate(int64_t day, int64_t msOfDay);
// The day number (days from 1899-12-30) of a proleptic Gregorian calendar date.
int64_t oleDayFromCivil(int64_t year, int month, int day);

// "YYYY-MM-DD HH:MM:SS" (date alone at midnight, time alone on day zero); with isoT the JSON form
// "YYYY-MM-DDTHH:MM:SS" that always has both parts; withMillis adds ".mmm" when not zero.
std::string dateText(double days, bool isoT, bool withMillis);
void appendDateText(std::string& out, double days, bool isoT, bool withMillis);
// A Date/Time Extended value as "YYYY-MM-DD HH:MM:SS.fffffff", with isoT "YYYY-MM-DDTHH:MM:SS.fffffff".
std::string extendedDateText(const DateTimeExtended& d, bool isoT);
// The 42 bytes a Date/Time Extended value is stored as (digits of its parts, then ":7" and a zero),
// and back; fromStoredExtendedDate throws 3049 for bytes that are not such a value.
Bytes storedExtendedDate(const DateTimeExtended& d);
DateTimeExtended fromStoredExtendedDate(const uint8_t* data, size_t len);
constexpr size_t kExtendedDateBytes = 42;
// "12.5" (trailing zeros dropped), or with fixedFour "12.5000".
std::string currencyText(int64_t scaled, bool fixedFour);
void appendCurrencyText(std::string& out, int64_t scaled, bool fixedFour);
// Exactly the scale's digits after the point.
std::string decimalText(const Decimal& d);
std::string guidText(const Guid& g);
std::string hexText(const Bytes& bytes, bool prefix);

}  // namespace jet
