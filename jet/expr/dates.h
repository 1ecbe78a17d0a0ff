// The calendar of expression dates: serial dates (days since 1899-12-30, the time as the fraction,
// as Date/Time columns hold them) split into parts and built from parts with the DateSerial and
// TimeSerial rules, dates read from text in the US English forms, and the general date text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace jet::expr {

struct DateParts {
  int64_t year = 0;
  int month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Raises error 5 for a serial outside years 100..9999.
DateParts splitDate(double serial);
// DateSerial's rules: years 0..29 mean 2000..2029 and 30..99 mean 1930..1999, months and days out
// of range roll over into the neighbouring years and months. Raises error 5 outside 100..9999.
double dateSerial(int64_t year, int64_t month, int64_t day);
// The time of day as a fraction of a day (hours, minutes and seconds may roll over).
double timeSerial(int64_t hour, int64_t minute, int64_t second);
// A date (its whole days) and a time of day put together as a serial date, right also before 1899-12-30.
double withTime(double dateSerialValue, double timeFraction);
// The whole day number of a serial and the time of day in seconds.
int64_t dayNumber(double serial);
int64_t secondsOfDay(double serial);
// 1 (Sunday) .. 7 (Saturday) counted from `firstDay` (1 = Sunday .. 7 = Saturday).
int weekday(double serial, int firstDay);

// Reads a date and/or time written in one of the US English forms: "m/d/yyyy", "m-d-yy",
// "yyyy-mm-dd", "d mmm yyyy", "mmmm d, yyyy", each optionally followed by "h:nn[:ss] [AM|PM]", or
// a time alone (which lies on day zero). Two-digit years follow DateSerial's window. A first
// number above 12 with a second one of at most 12 is read as the day. False when the text is not a date.
bool parseDate(std::string_view text, double& out);
// The general date form: "m/d/yyyy h:nn:ss AM/PM", the date alone at midnight, the time alone on
// day zero (so 0 is "12:00:00 AM").
std::string generalDate(double serial);

// English month and day names (US English is the one locale of the engine).
std::string monthName(int month, bool abbreviate);
std::string weekdayName(int weekdayOneIsSunday, bool abbreviate);

}  // namespace jet::expr
