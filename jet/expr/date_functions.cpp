// The date functions: the clock, date parts, DateAdd, DateDiff, DatePart, DateSerial, TimeSerial,
// DateValue, TimeValue and the names of months and days.
#include <cmath>
#include <string>

#include "jet/expr/clock.h"
#include "jet/expr/dates.h"
#include "jet/expr/eval_error.h"
#include "jet/expr/functions.h"

namespace jet::expr {

namespace {

using Args = std::span<const Var>;

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// A date as seconds on one line (day number * 86400 + seconds of the day), and back.
int64_t linearSeconds(double serial) { return dayNumber(serial) * 86400 + secondsOfDay(serial); }
double fromLinear(int64_t seconds) {
  int64_t day = floorDiv(seconds, 86400);
  double serial = withTime(static_cast<double>(day), static_cast<double>(seconds - day * 86400) / 86400.0);
  if (serial < -657434.0 || serial >= 2958466.0) throwInvalidCall();
  return serial;
}

Var date(double serial) { return Var::date(serial); }
Var integer(int64_t v) { return Var::wholeNumber(v); }

template <int DateParts::*Field>
Var part(Args a) {
  if (a[0].isNull()) return Var::null();
  return integer(splitDate(toDate(a[0])).*Field);
}
Var fnYear(Args a) {
  if (a[0].isNull()) return Var::null();
  return integer(splitDate(toDate(a[0])).year);
}

int firstDayArg(Args a, size_t i) {
  int64_t d = given(a, i) ? wholeArg(a[i]) : 1;
  if (d < 0 || d > 7) throwInvalidCall();
  return d == 0 ? 1 : static_cast<int>(d);  // 0 is the system's setting: Sunday in US English
}

// The interval names DateAdd, DateDiff and DatePart take.
enum class Interval { Year, Quarter, Month, DayOfYear, Day, Weekday, Week, Hour, Minute, Second };
Interval intervalArg(const Var& v) {
  if (v.isNull()) throwInvalidUseOfNull();
  std::string s = lower(toText(v));
  static const std::pair<const char*, Interval> kNames[] = {
      {"yyyy", Interval::Year}, {"q", Interval::Quarter}, {"m", Interval::Month}, {"y", Interval::DayOfYear},
      {"d", Interval::Day},     {"w", Interval::Weekday}, {"ww", Interval::Week}, {"h", Interval::Hour},
      {"n", Interval::Minute},  {"s", Interval::Second}};
  for (auto [name, iv] : kNames)
    if (s == name) return iv;
  throwInvalidCall();
}

double addMonths(double serial, int64_t months) {
  DateParts p = splitDate(serial);
  int64_t m0 = p.month - 1 + months;
  int64_t y = p.year + floorDiv(m0, 12);
  int month = static_cast<int>(m0 - floorDiv(m0, 12) * 12 + 1);
  if (y < 100 || y > 9999) throwInvalidCall();
  // The day is kept, or the month's last day when the month is shorter.
  double first = dateSerial(y, month, 1);
  double nextFirst = dateSerial(y, month + 1, 1);
  int64_t len = static_cast<int64_t>(nextFirst - first);
  double day = first + static_cast<double>(std::min<int64_t>(p.day, len) - 1);
  return withTime(day, static_cast<double>(secondsOfDay(serial)) / 86400.0);
}

Var fnDateAdd(Args a) {
  Interval iv = intervalArg(a[0]);
  if (a[1].isNull() || a[2].isNull()) return Var::null();
  int64_t n = toWhole(a[1], Type::LongLong);
  double d = toDate(a[2]);
  // No date lies further away than this many seconds: larger counts could only overflow.
  if (n > 400000000000 || n < -400000000000) throwInvalidCall();
  switch (iv) {
    case Interval::Year: return date(addMonths(d, n * 12));
    case Interval::Quarter: return date(addMonths(d, n * 3));
    case Interval::Month: return date(addMonths(d, n));
    case Interval::DayOfYear: case Interval::Day: case Interval::Weekday:
      return date(fromLinear(linearSeconds(d) + n * 86400));
    case Interval::Week: return date(fromLinear(linearSeconds(d) + n * 7 * 86400));
    case Interval::Hour: return date(fromLinear(linearSeconds(d) + n * 3600));
    case Interval::Minute: return date(fromLinear(linearSeconds(d) + n * 60));
    case Interval::Second: return date(fromLinear(linearSeconds(d) + n));
  }
  throwInvalidCall();
}

// Day number of the first day of the week (`firstDay`) that holds `day`.
int64_t weekStart(int64_t day, int firstDay) { return day - (weekday(static_cast<double>(day), firstDay) - 1); }

Var fnDateDiff(Args a) {
  Interval iv = intervalArg(a[0]);
  if (a[1].isNull() || a[2].isNull()) return Var::null();
  double d1 = toDate(a[1]), d2 = toDate(a[2]);
  int firstDay = firstDayArg(a, 3);
  DateParts p = splitDate(d1), q = splitDate(d2);
  // DateDiff's results are Long.
  auto integer = [](int64_t v) { return Var::integer(v, v >= INT32_MIN && v <= INT32_MAX ? Type::Long : Type::LongLong); };
  int64_t day1 = dayNumber(d1), day2 = dayNumber(d2);
  // Every interval counts the boundaries crossed between the two dates.
  switch (iv) {
    case Interval::Year: return integer(q.year - p.year);
    case Interval::Quarter: return integer((q.year * 4 + (q.month - 1) / 3) - (p.year * 4 + (p.month - 1) / 3));
    case Interval::Month: return integer((q.year * 12 + q.month) - (p.year * 12 + p.month));
    case Interval::DayOfYear: case Interval::Day: return integer(day2 - day1);
    case Interval::Weekday: return integer((day2 - day1) / 7);
    case Interval::Week: return integer((weekStart(day2, firstDay) - weekStart(day1, firstDay)) / 7);
    case Interval::Hour: return integer(floorDiv(linearSeconds(d2), 3600) - floorDiv(linearSeconds(d1), 3600));
    case Interval::Minute: return integer(floorDiv(linearSeconds(d2), 60) - floorDiv(linearSeconds(d1), 60));
    case Interval::Second: return integer(linearSeconds(d2) - linearSeconds(d1));
  }
  throwInvalidCall();
}

// The week of the year: week 1 holds January 1 (firstWeek 1), or is the first with four days of
// the year (2), or the first whole week (3); days before week 1 belong to the last week of the
// year before.
int64_t weekOfYear(int64_t day, int64_t year, int firstDay, int firstWeek) {
  int64_t jan1 = static_cast<int64_t>(dateSerial(year, 1, 1));
  int64_t start = weekStart(jan1, firstDay);
  if (firstWeek == 2 && jan1 - start > 3) start += 7;
  if (firstWeek == 3 && start < jan1) start += 7;
  if (day < start) return weekOfYear(day, year - 1, firstDay, firstWeek);
  return (day - start) / 7 + 1;
}

Var fnDatePart(Args a) {
  Interval iv = intervalArg(a[0]);
  if (a[1].isNull()) return Var::null();
  double d = toDate(a[1]);
  int firstDay = firstDayArg(a, 2);
  int64_t firstWeek = given(a, 3) ? wholeArg(a[3]) : 1;
  if (firstWeek < 0 || firstWeek > 3) throwInvalidCall();
  DateParts p = splitDate(d);
  int64_t day = dayNumber(d);
  switch (iv) {
    case Interval::Year: return integer(p.year);
    case Interval::Quarter: return integer((p.month - 1) / 3 + 1);
    case Interval::Month: return integer(p.month);
    case Interval::DayOfYear: return integer(day - static_cast<int64_t>(dateSerial(p.year, 1, 1)) + 1);
    case Interval::Day: return integer(p.day);
    case Interval::Weekday: return integer(weekday(d, firstDay));
    case Interval::Week: return integer(weekOfYear(day, p.year, firstDay, firstWeek == 0 ? 1 : static_cast<int>(firstWeek)));
    case Interval::Hour: return integer(p.hour);
    case Interval::Minute: return integer(p.minute);
    case Interval::Second: return integer(p.second);
  }
  throwInvalidCall();
}

Var fnWeekday(Args a) {
  if (a[0].isNull()) return Var::null();
  return integer(weekday(toDate(a[0]), firstDayArg(a, 1)));
}
Var fnWeekdayName(Args a) {
  int64_t n = wholeArg(a[0]);
  if (n < 1 || n > 7) throwInvalidCall();
  bool abbreviate = given(a, 1) && toBool(a[1]);
  int first = firstDayArg(a, 2);
  return Var::string(weekdayName(static_cast<int>((n - 1 + first - 1) % 7 + 1), abbreviate));
}
Var fnMonthName(Args a) {
  int64_t n = wholeArg(a[0]);
  if (n < 1 || n > 12) throwInvalidCall();
  return Var::string(monthName(static_cast<int>(n), given(a, 1) && toBool(a[1])));
}
Var fnDateSerial(Args a) {
  for (size_t i = 0; i < 3; ++i)
    if (a[i].isNull()) return Var::null();
  return date(dateSerial(toWhole(a[0], Type::Long), toWhole(a[1], Type::Long), toWhole(a[2], Type::Long)));
}
Var fnTimeSerial(Args a) {
  for (size_t i = 0; i < 3; ++i)
    if (a[i].isNull()) return Var::null();
  int64_t s = toWhole(a[0], Type::Long) * 3600 + toWhole(a[1], Type::Long) * 60 + toWhole(a[2], Type::Long);
  return date(fromLinear(s));
}
Var fnDateValue(Args a) {
  if (a[0].isNull()) return Var::null();
  return date(static_cast<double>(dayNumber(toDate(a[0]))));
}
Var fnTimeValue(Args a) {
  if (a[0].isNull()) return Var::null();
  return date(static_cast<double>(secondsOfDay(toDate(a[0]))) / 86400.0);
}
Var fnNow(Args) { return date(clockNow()); }
Var fnDate(Args) { return date(static_cast<double>(dayNumber(clockNow()))); }
Var fnTime(Args) { return date(static_cast<double>(secondsOfDay(clockNow())) / 86400.0); }

const FunctionInfo kDateFunctions[] = {
    {"Now", 0, 0, false, fnNow},
    {"Date", 0, 0, false, fnDate},
    {"Time", 0, 0, false, fnTime},
    {"Year", 1, 1, true, fnYear},
    {"Month", 1, 1, true, part<&DateParts::month>},
    {"Day", 1, 1, true, part<&DateParts::day>},
    {"Hour", 1, 1, true, part<&DateParts::hour>},
    {"Minute", 1, 1, true, part<&DateParts::minute>},
    {"Second", 1, 1, true, part<&DateParts::second>},
    {"Weekday", 1, 2, true, fnWeekday},
    {"WeekdayName", 1, 3, true, fnWeekdayName},
    {"MonthName", 1, 2, true, fnMonthName},
    {"DateAdd", 3, 3, true, fnDateAdd},
    {"DateDiff", 3, 5, true, fnDateDiff},
    {"DatePart", 2, 4, true, fnDatePart},
    {"DateSerial", 3, 3, true, fnDateSerial},
    {"TimeSerial", 3, 3, true, fnTimeSerial},
    {"DateValue", 1, 1, true, fnDateValue},
    {"TimeValue", 1, 1, true, fnTimeValue},
};

}  // namespace

std::span<const FunctionInfo> dateFunctions() { return kDateFunctions; }

}  // namespace jet::expr
