// The expression engine's semantics, one row per case: the expression, and its result written as
// "<subtype>:<text form>", "Null", or "error <number>".
#include "jet/expr/expression.h"

#include <gtest/gtest.h>

#include <map>

#include "jet/base/error.h"
#include "jet/expr/clock.h"
#include "jet/expr/dates.h"
#include "support/error_of.h"

namespace jet::expr {
namespace {

const char* typeName(Type t) {
  static const char* const kNames[] = {"Null", "Boolean", "Byte", "Integer", "Long", "LongLong", "Single",
                                       "Double", "Currency", "Decimal", "Date", "String", "Binary"};
  return kNames[static_cast<int>(t)];
}

Value field(std::string_view name) {
  static const std::map<std::string, Value> kRow = {
      {"qty", int64_t{10}},
      {"price", Currency{12345}},  // 1.2345
      {"missing", Null{}},
      {"name", std::string("Smith")},
      {"when", DateTime{36540.5729166667}},  // 1/15/2000 1:45 PM
      {"ratio", 0.25},
      {"flag", true},
      {"order id", int64_t{7}},
  };
  auto it = kRow.find(lower(name));
  if (it == kRow.end()) throw Error(err::kUnknownField, "Unknown field " + std::string(name));
  return it->second;
}

std::string run(const std::string& text) {
  try {
    Var v = Expression::parse(text).evaluateVar(field);
    if (v.isNull()) return "Null";
    return std::string(typeName(v.type)) + ":" + toText(v);
  } catch (const Error& e) {
    return "error " + std::to_string(e.number());
  }
}

struct Case {
  const char* expression;
  const char* expected;
};

const Case kCases[] = {
    // Precedence: ^ over unary minus over * / over \ over Mod over + - over & over comparisons over logic.
    {"1 + 2 * 3", "Integer:7"},
    {"-2 ^ 2", "Double:-4"},
    {"2 ^ -1", "Double:0.5"},
    {"2 ^ 3 ^ 2", "Double:64"},
    {"7 \\ 2 * 3", "Integer:1"},
    {"10 Mod 4 + 1", "Integer:3"},
    {"1 + 2 & 3", "String:33"},
    {"1 + 1 = 2 And 3 > 2", "Boolean:True"},
    {"Not 1 = 2", "Boolean:True"},
    {"True Or False And False", "Boolean:True"},
    {"True Xor True Or True", "Boolean:False"},
    {"False Imp True Eqv True", "Boolean:True"},
    {"=Date()", "Date:2/29/2024"},
    // Types: literals and arithmetic widen as variants do; Integer and Long overflow to the next type.
    {"32767 + 1", "Long:32768"},
    {"200 * 200", "Long:40000"},
    {"2147483647 + 1", "Double:2147483648"},
    {"&HFFFF", "Integer:-1"},
    {"&H10000", "Long:65536"},
    {"7 / 2", "Double:3.5"},
    {"6 / 3", "Double:2"},
    {"7.6 \\ 2", "Long:4"},
    {"-7 Mod 3", "Integer:-1"},
    {"5.5 Mod 2", "Long:0"},
    {"1 / 0", "error 11"},
    {"0 / 0", "error 6"},
    {"5 \\ 0", "error 11"},
    {"5 Mod 0", "error 11"},
    {"3E10 \\ 2", "error 6"},
    {"0.1 + 0.2", "Double:0.3"},
    {"CCur(0.1) + CCur(0.2)", "Currency:0.3"},
    {"CCur(0.1) + CCur(0.2) = 0.3", "Boolean:True"},
    {"[Price] * 3", "Currency:3.7035"},
    {"[Price] * [Price]", "Currency:1.524"},
    {"CCur(1) / 3", "Double:0.333333333333333"},
    {"CDec(1) / 3", "Decimal:0.3333333333333333333333333333"},
    {"CDec(\"0.1\") + CDec(\"0.2\")", "Decimal:0.3"},
    {"CSng(1.5) * 2", "Single:3"},
    {"CSng(1) + 2147483647", "Double:2147483648"},
    {"\"3\" + 4", "Double:7"},
    {"\"3\" + \"4\"", "String:34"},
    {"\"x\" + 1", "error 13"},
    {"True + 1", "Integer:0"},
    {"#1/31/2000# + 1", "Date:2/1/2000"},
    {"#1/31/2000# - #1/1/2000#", "Double:30"},
    {"-[Qty]", "Long:-10"},
    {"1E300 * 1E300", "error 6"},
    // Null: arithmetic and comparisons give Null, & skips it, logic is three-valued.
    {"Null + 1", "Null"},
    {"Null & \"x\"", "String:x"},
    {"Null & Null", "Null"},
    {"Null = Null", "Null"},
    {"[Missing] > 1", "Null"},
    {"Null Or True", "Boolean:True"},
    {"Null Or False", "Null"},
    {"Null And False", "Boolean:False"},
    {"Null And True", "Null"},
    {"Not Null", "Null"},
    {"Null Xor True", "Null"},
    {"False Imp Null", "Boolean:True"},
    {"Null Imp True", "Boolean:True"},
    {"Null And 0", "Integer:0"},
    {"12 And 10", "Integer:8"},
    {"12 Or 3", "Integer:15"},
    {"Not 0", "Integer:-1"},
    {"[Missing] Is Null", "Boolean:True"},
    {"[Qty] Is Not Null", "Boolean:True"},
    {"Null In (1, 2)", "Null"},
    {"3 In (1, Null)", "Null"},
    {"1 In (1, Null)", "Boolean:True"},
    {"3 Not In (1, 2)", "Boolean:True"},
    // Comparisons: text ignores case, text against numbers and dates is read as one.
    {"\"abc\" = \"ABC\"", "Boolean:True"},
    {"\"abc\" < \"abd\"", "Boolean:True"},
    {"\"10\" = 10", "Boolean:True"},
    {"\"x\" = 10", "error 13"},
    {"#1/2/2000# = \"1/2/2000\"", "Boolean:True"},
    {"[Qty] Between 5 And 10", "Boolean:True"},
    {"[Qty] Not Between 11 And 20", "Boolean:True"},
    {"CCur(1.5) = 1.5", "Boolean:True"},
    // Like.
    {"\"Smith\" Like \"S*\"", "Boolean:True"},
    {"\"smith\" Like \"S?ITH\"", "Boolean:True"},
    {"\"a1b\" Like \"a#b\"", "Boolean:True"},
    {"\"aXb\" Like \"a#b\"", "Boolean:False"},
    {"\"b\" Like \"[a-c]\"", "Boolean:True"},
    {"\"d\" Like \"[!a-c]\"", "Boolean:True"},
    {"\"a*b\" Like \"a[*]b\"", "Boolean:True"},
    {"\"abcbc\" Like \"*bc\"", "Boolean:True"},
    {"\"abc\" Like \"*bad*\"", "Boolean:False"},
    {"\"abc\" Not Like \"*bad*\"", "Boolean:True"},
    {"\"x\" Like \"[a\"", "error 93"},
    {"Null Like \"*\"", "Null"},
    {"\"\" Like \"*\" And \"\u00c9COLE\" Like \"\u00e9*\" And \"a-b\" Like \"a[-]b\" And \"ab\" Like \"a[]b\" And \"x#1\" Like \"x[#]#\"", "Boolean:True"},
    {"\"abc\" Like \"ab\"", "Boolean:False"},
    // Literals and references.
    {"'it''s'", "String:it's"},
    {"\"say \"\"hi\"\"\"", "String:say \"hi\""},
    {"#2000-01-15 13:45# = #2000-01-15T13:45:00#", "Boolean:True"},
    {"#2000-01-15 13:45#", "Date:1/15/2000 1:45:00 PM"},
    {"#15 Jan 2000#", "Date:1/15/2000"},
    {"#1:30 PM#", "Date:1:30:00 PM"},
    {"Yes + On + Off", "Integer:-2"},
    {"[Order ID] + qty", "Long:17"},
    {"[Orders].[Qty] + [Orders]![Qty]", "Long:20"},
    {"[Nope]", "error 3265"},
    // Parse errors are never guessed at.
    {"1 +", "error 3075"},
    {"(1 + 2", "error 3075"},
    {"1 2", "error 3075"},
    {"\"open", "error 3075"},
    {"#13/45/2000#", "error 3075"},
    {"Forms!Orders!Total", "error 3075"},
    {"Left(\"abc\")", "error 3075"},
    {"", "error 3075"},
    // Functions: tests and choices.
    {"IIf([Qty] > 5, \"big\", \"small\")", "String:big"},
    {"IIf([Qty] = 0, 0, 1 / [Qty])", "Double:0.1"},
    {"IIf(Null, 1, 2)", "Integer:2"},
    {"Nz([Missing], 0)", "Integer:0"},
    {"Nz([Missing])", "String:"},
    {"IsNull([Missing])", "Boolean:True"},
    {"IsNumeric(\"1,234.5\")", "Boolean:True"},
    {"IsNumeric(\"12a\")", "Boolean:False"},
    {"IsDate(\"2/30/2000\")", "Boolean:False"},
    {"IsDate(\"2/29/2000\")", "Boolean:True"},
    {"Choose(2, \"a\", \"b\")", "String:b"},
    {"Switch(False, 1, True, 2)", "Integer:2"},
    // Text functions.
    {"Len(\"héllo\")", "Integer:5"},
    {"Len(Null)", "Null"},
    {"Left(\"abcdef\", 2) & Right(\"abcdef\", 2)", "String:abef"},
    {"Mid(\"abcdef\", 2, 3)", "String:bcd"},
    {"Mid(\"abcdef\", 5)", "String:ef"},
    {"Mid(\"abc\", 0)", "error 5"},
    {"Left(\"abc\", -1)", "error 5"},
    {"\"[\" & Trim(\"  a b  \") & LTrim(\" x\") & RTrim(\"y \") & \"]\"", "String:[a bxy]"},
    {"UCase(\"straße é\") & LCase(\"ÀB\")", "String:STRAßE Éàb"},
    {"InStr(\"abcabc\", \"C\")", "Integer:3"},
    {"InStr(4, \"abcabc\", \"c\")", "Integer:6"},
    {"InStr(1, \"abc\", \"C\", 0)", "Integer:0"},
    {"InStr(\"abc\", Null)", "Null"},
    {"InStrRev(\"abcabc\", \"b\")", "Integer:5"},
    {"Replace(\"aXbxc\", \"x\", \"-\")", "String:a-b-c"},
    {"Replace(\"aXbxc\", \"x\", \"-\", 1, -1, 0)", "String:aXb-c"},
    {"Replace(\"abcabc\", \"b\", \"\", 3, 1)", "String:cac"},
    {"\"[\" & Space(3) & String(3, \"x\") & String(2, 65) & \"]\"", "String:[   xxxAA]"},
    {"StrComp(\"a\", \"B\") & StrComp(\"b\", \"B\") & StrComp(\"a\", \"B\", 0)", "String:-101"},
    {"Chr(65) & Chr(128) & Asc(\"A\") & Asc(\"€\")", "String:A€65128"},
    {"Asc(\"\")", "error 5"},
    {"Str(12) & Str(-3)", "String: 12-3"},
    {"Val(\" 12 34abc\")", "Double:1234"},
    {"Val(\"1.5e2x\") + Val(\"&HFF\")", "Double:405"},
    {"Val(\"abc\")", "Double:0"},
    {"StrReverse(\"abc\") & Hex(255) & Hex(-1) & Oct(8)", "String:cbaFFFFFF10"},
    // Conversions: whole numbers round half to even; ranges overflow with error 6.
    {"CInt(2.5)", "Integer:2"},
    {"CInt(3.5)", "Integer:4"},
    {"CInt(-2.5)", "Integer:-2"},
    {"CInt(32767.4)", "Integer:32767"},
    {"CInt(32768)", "error 6"},
    {"CInt(\"12\")", "Integer:12"},
    {"CInt(\"abc\")", "error 13"},
    {"CInt(Null)", "error 94"},
    {"CLng(2147483648)", "error 6"},
    {"CLng(\"1,000\")", "Long:1000"},
    {"CByte(256)", "error 6"},
    {"CByte(-1)", "error 6"},
    {"CDbl(\"1.5\")", "Double:1.5"},
    {"CSng(0.1)", "Single:0.1"},
    {"CCur(1.23456)", "Currency:1.2346"},
    {"CCur(0.00005)", "Currency:0"},
    {"CCur(0.00015)", "Currency:0.0002"},
    {"CCur(1E16)", "error 6"},
    {"CDec(\"12345678901234567890.123\")", "Decimal:12345678901234567890.123"},
    {"CStr(1.5) & CStr(True) & CStr(#1/2/2000#)", "String:1.5True1/2/2000"},
    {"CStr(1E15) & \" \" & CStr(123456789012345) & \" \" & CStr(0.00001)", "String:1E+15 123456789012345 1E-05"},
    {"CDate(\"March 5, 2001\")", "Date:3/5/2001"},
    {"CDate(36526)", "Date:1/1/2000"},
    {"CDate(\"nope\")", "error 13"},
    {"CBool(\"True\") And CBool(1) And Not CBool(0)", "Boolean:True"},
    {"CBool(\"x\")", "error 13"},
    // Number functions.
    {"Int(-2.5) & Fix(-2.5) & Int(2.5)", "String:-3-22"},
    {"Int(CCur(-1.5))", "Currency:-2"},
    {"Abs(-3) + Abs(-1.5)", "Double:4.5"},
    {"Abs(CInt(-32768))", "Long:32768"},
    {"Round(2.5) & Round(3.5) & Round(-2.5)", "String:24-2"},
    {"Round(2.675, 2)", "Double:2.68"},
    {"Round(0.125, 2)", "Double:0.12"},
    {"Round(CCur(1.00005), 4)", "Currency:1"},
    {"Round(1.5, -1)", "error 5"},
    {"Round(Null)", "Null"},
    {"Sgn(-4) & Sgn(0) & Sgn(2.5)", "String:-101"},
    {"Sqr(16)", "Double:4"},
    {"Sqr(-1)", "error 5"},
    {"Log(0)", "error 5"},
    // Dates: the clock is fixed at 2/29/2024 10:20:30 AM.
    {"Date()", "Date:2/29/2024"},
    {"Time()", "Date:10:20:30 AM"},
    {"Now()", "Date:2/29/2024 10:20:30 AM"},
    {"Year([When]) & \"-\" & Month([When]) & \"-\" & Day([When])", "String:2000-1-15"},
    {"Hour([When]) & \":\" & Minute([When]) & \":\" & Second([When])", "String:13:45:0"},
    {"Year(Null)", "Null"},
    {"Weekday(#1/15/2000#) & Weekday(#1/15/2000#, 2)", "String:76"},
    {"WeekdayName(1) & WeekdayName(1, True, 2) & MonthName(2) & MonthName(2, True)", "String:SundayMonFebruaryFeb"},
    {"DateAdd(\"m\", 1, #1/31/2000#)", "Date:2/29/2000"},
    {"DateAdd(\"yyyy\", 1, #2/29/2000#)", "Date:2/28/2001"},
    {"DateAdd(\"q\", -1, #5/31/2000#)", "Date:2/29/2000"},
    {"DateAdd(\"d\", 1, #12/31/1999 11:00 PM#)", "Date:1/1/2000 11:00:00 PM"},
    {"DateAdd(\"ww\", 2, #1/1/2000#)", "Date:1/15/2000"},
    {"DateAdd(\"h\", 2, #1/1/2000 11:00 PM#)", "Date:1/2/2000 1:00:00 AM"},
    {"DateAdd(\"n\", -30, #1/1/2000#)", "Date:12/31/1999 11:30:00 PM"},
    {"DateAdd(\"s\", 90, #1/1/2000#)", "Date:1/1/2000 12:01:30 AM"},
    {"DateAdd(\"x\", 1, #1/1/2000#)", "error 5"},
    {"DateDiff(\"yyyy\", #12/31/2000#, #1/1/2001#)", "Long:1"},
    {"DateDiff(\"q\", #3/31/2000#, #4/1/2000#)", "Long:1"},
    {"DateDiff(\"m\", #1/31/2000#, #2/1/2000#)", "Long:1"},
    {"DateDiff(\"d\", #1/1/2000 11:00 PM#, #1/2/2000 1:00 AM#)", "Long:1"},
    {"DateDiff(\"d\", #1/10/2000#, #1/1/2000#)", "Long:-9"},
    {"DateDiff(\"w\", #1/1/2000#, #1/14/2000#)", "Long:1"},
    {"DateDiff(\"ww\", #1/1/2000#, #1/2/2000#)", "Long:1"},
    {"DateDiff(\"ww\", #1/2/2000#, #1/8/2000#)", "Long:0"},
    {"DateDiff(\"ww\", #1/1/2000#, #1/3/2000#, 2)", "Long:1"},
    {"DateDiff(\"h\", #1/1/2000 1:59 AM#, #1/1/2000 2:01 AM#)", "Long:1"},
    {"DateDiff(\"n\", #1/1/2000#, #1/2/2000#)", "Long:1440"},
    {"DateDiff(\"s\", #1/1/2000#, #1/1/2000 12:01 AM#)", "Long:60"},
    {"DatePart(\"q\", #9/30/2000#) & DatePart(\"y\", #2/1/2000#) & DatePart(\"w\", #1/15/2000#)", "String:3327"},
    {"DatePart(\"ww\", #1/1/2000#) & DatePart(\"ww\", #1/2/2000#) & DatePart(\"ww\", #12/31/2000#)", "String:1254"},
    {"DatePart(\"ww\", #1/1/2000#, 2, 2)", "Integer:52"},
    {"DatePart(\"ww\", #1/3/2000#, 2, 2)", "Integer:1"},
    {"DatePart(\"ww\", #1/1/2000#, 1, 3)", "Integer:52"},
    {"DatePart(\"h\", [When]) & DatePart(\"n\", [When]) & DatePart(\"yyyy\", [When])", "String:13452000"},
    {"DateSerial(2000, 14, 1)", "Date:2/1/2001"},
    {"DateSerial(2000, 3, 0)", "Date:2/29/2000"},
    {"DateSerial(99, 1, 1) & \" \" & DateSerial(29, 1, 1)", "String:1/1/1999 1/1/2029"},
    {"TimeSerial(25, 0, 0)", "Date:12/31/1899 1:00:00 AM"},
    {"TimeSerial(13, 5, -1)", "Date:1:04:59 PM"},
    {"DateValue(\"1/15/2000 1:45 PM\")", "Date:1/15/2000"},
    {"TimeValue(\"1/15/2000 1:45 PM\")", "Date:1:45:00 PM"},
    {"#12/29/1899 6:00 AM# + 0", "Date:12/29/1899 6:00:00 AM"},
    {"CDbl(#12/29/1899 6:00 AM#)", "Double:-1.25"},
    // Format: named formats.
    {"Format(1234.5, \"General Number\")", "String:1234.5"},
    {"Format(1234.5, \"Currency\") & \" \" & Format(-1234.5, \"Currency\")", "String:$1,234.50 ($1,234.50)"},
    {"Format(1234.567, \"Fixed\") & \" \" & Format(0.5, \"Fixed\")", "String:1234.57 0.50"},
    {"Format(1234567.891, \"Standard\")", "String:1,234,567.89"},
    {"Format(0.1234, \"Percent\")", "String:12.34%"},
    {"Format(1234.5, \"Scientific\") & \" \" & Format(0.000123, \"Scientific\")", "String:1.23E+03 1.23E-04"},
    {"Format(0, \"Yes/No\") & Format(-1, \"True/False\") & Format(5, \"On/Off\")", "String:NoTrueOn"},
    {"Format([When], \"General Date\")", "String:1/15/2000 1:45:00 PM"},
    {"Format([When], \"Long Date\")", "String:Saturday, January 15, 2000"},
    {"Format([When], \"Medium Date\") & \" \" & Format([When], \"Short Date\")", "String:15-Jan-00 1/15/2000"},
    {"Format([When], \"Long Time\") & \"|\" & Format([When], \"Medium Time\") & \"|\" & Format([When], \"Short Time\")",
     "String:1:45:00 PM|01:45 PM|13:45"},
    // Format: custom number formats.
    {"Format(5, \"000\") & \" \" & Format(0.5, \"#.##\") & \" \" & Format(5, \"#.00\")", "String:005 .5 5.00"},
    {"Format(2.5, \"0\") & Format(3.5, \"0\") & Format(-2.5, \"0\")", "String:34-3"},
    {"Format(1234567, \"#,##0\") & \" \" & Format(1234567, \"#,##0,\")", "String:1,234,567 1,235"},
    {"Format(-5, \"0;(0)\") & Format(0, \"0;(0);\\Z\\e\\r\\o\") & Format(-5, \"$0.00\")", "String:(5)Zero-$5.00"},
    {"Format(0.256, \"0.0%\")", "String:25.6%"},
    {"Format(12345, \"0.0E+00\") & \" \" & Format(0.00012, \"0.0E-00\")", "String:1.2E+04 1.2E-04"},
    {"Format(5551234, \"###-####\")", "String:555-1234"},
    {"Format(12.5, \".00\")", "String:12.50"},
    {"Format(Null, \"0\") & \"|\"", "String:|"},
    {"Format(\"abc\", \"0.00\")", "String:abc"},
    {"Format(\"12\", \"0.00\")", "String:12.00"},
    // Format: custom date and text formats.
    {"Format(#1/5/2000 3:04:05 PM#, \"yyyy-mm-dd hh:nn:ss\")", "String:2000-01-05 15:04:05"},
    {"Format(#1/5/2000 3:04:05 PM#, \"d/m/yy h:n:s am/pm\")", "String:5/1/00 3:4:5 pm"},
    {"Format(#1/5/2000#, \"ddd dddd mmm mmmm\")", "String:Wed Wednesday Jan January"},
    {"Format(#1/5/2000 3:04 PM#, \"hh:mm A/P\")", "String:03:04 P"},
    {"Format(#8/5/2000#, \"q w ww y\")", "String:3 7 32 218"},
    {"Format(#1/5/2000#, \"\"\"Day \"\"d\")", "String:Day 5"},
    {"Format(#1/5/2000#, \"dddddd\")", "String:Wednesday, January 5, 2000"},
    {"Format(\"abc\", \">\") & Format(\"ABC\", \"<\")", "String:ABCabc"},
    {"Format(\"5551234\", \"@@@-@@@@\")", "String:555-1234"},
    {"Format(\"ab\", \"@@@@\") & \"|\"", "String:  ab|"},
    {"Format(\"ab\", \"!@@@@\") & \"|\"", "String:ab  |"},
    {"Format(1.5)", "String:1.5"},
    // Text forms of numbers.
    {"CStr(1 / 3)", "String:0.333333333333333"},
    {"CStr(CSng(1) / 3)", "String:0.3333333"},
    {"CStr(1234567890123456)", "String:1.23456789012346E+15"},
    {"CStr(-0.0001)", "String:-0.0001"},
    {"CStr(CCur(2.5))", "String:2.5"},
    {"CStr(Null)", "error 94"},
    {"CStr(#12:00:00 AM#)", "String:12:00:00 AM"},
    // Decimal stays exact where Double would not.
    {"CDec(\"0.1\") * 3 = CDec(\"0.3\")", "Boolean:True"},
    {"CDec(\"79228162514264337593543950335\") + 1", "error 6"},
    {"CDec(1) / 0", "error 11"},
    {"Round(CDec(\"2.345\"), 2)", "Decimal:2.34"},
    {"Int(CDec(\"-1.5\"))", "Decimal:-2"},
    {"IsNumeric(True) And IsNumeric(CCur(1)) And Not IsNumeric(#1/1/2000#)", "Boolean:True"},
    {"#1/2/2000# Between #1/1/2000# And #1/3/2000#", "Boolean:True"},
    {"[When] > #1/15/2000 1:00 PM#", "Boolean:True"},
    {"[Flag] = True And [Ratio] = 0.25", "Boolean:True"},
    {"[Name] & \", \" & [Qty]", "String:Smith, 10"},
    // Edges of the whole-number and Currency rules.
    {"-CInt(-32768)", "Long:32768"},
    {"CByte(200) + CByte(100)", "Integer:300"},
    {"CByte(6) And CByte(3)", "Byte:2"},
    {"5 Eqv 3", "Integer:-7"},
    {"0 Imp 5", "Integer:-1"},
    {"&O17 + 1", "Integer:16"},
    {"CCur(922337203685477) + CCur(1)", "error 6"},
    {"CCur(-0.00005) & \"|\" & CCur(-0.00015)", "String:0|-0.0002"},
    {"CCur(\"$1,234.5\")", "Currency:1234.5"},
    {"CInt(CCur(2.5)) & CInt(CCur(-3.5))", "String:2-4"},
    {"CLng(True)", "Long:-1"},
    {"CDate(\"2000-01-15 12:30\")", "Date:1/15/2000 12:30:00 PM"},
    {"CDate(\"12:30\")", "Date:12:30:00 PM"},
    {"DateValue(\"Jan 15 2000\")", "Date:1/15/2000"},
    {"Format(-0.001, \"0.00\")", "String:0.00"},
    {"Format(Null, \"0;-0;Zero;None\")", "String:None"},
    {"Chr(256)", "error 5"},
    {"Choose(3, \"a\", \"b\")", "Null"},
    {"Mid(\"abc\", 5)", "String:"},
    {"InStr(9, \"abc\", \"a\")", "Integer:0"},
    {"Left(Null, 1) Is Null And Trim(Null) Is Null And UCase(Null) Is Null", "Boolean:True"},
};

class ExpressionTest : public ::testing::Test {
 protected:
  void SetUp() override { setClock([] { return withTime(dateSerial(2024, 2, 29), timeSerial(10, 20, 30)); }); }
  void TearDown() override { setClock({}); }
};

TEST_F(ExpressionTest, EvaluatesEveryCaseOfTheTable) {
  for (const Case& c : kCases) EXPECT_EQ(run(c.expression), c.expected) << c.expression;
  // Called by name (as the SQL bridge calls them), the '$' forms are the same functions.
  EXPECT_EQ(callFunction("left$", std::vector<Value>{std::string("abc"), int64_t{2}}), Value(std::string("ab")));
}

TEST_F(ExpressionTest, FieldRulesCompareTheFieldTheyBelongTo) {
  struct Rule {
    const char* rule;
    Value value;
    bool passes;
  } const kRules[] = {
      {">0 And <1000", int64_t{5}, true},     {">0 And <1000", int64_t{1000}, false},
      {"Not Like \"*bad*\"", std::string("good"), true}, {"Not Like \"*bad*\"", std::string("so BAD"), false},
      {"Between 1 And 9", int64_t{9}, true},  {"In (\"a\", \"b\")", std::string("c"), false},
      {"Is Not Null", Null{}, false},         {"<>0", int64_t{0}, false},
      {"=5 Or Is Null", Null{}, true},        {">=Date()", DateTime{dateSerial(2024, 2, 29)}, true},
      {"Len([Code])=3", std::string("abc"), true},
  };
  for (const Rule& r : kRules) {
    Expression e = Expression::parseFieldRule(r.rule, "Code");
    Value v = e.evaluate([&](std::string_view) { return r.value; });
    EXPECT_EQ(std::get<bool>(v), r.passes) << r.rule;
  }
}

TEST_F(ExpressionTest, RefusesWhatItCannotParseWithJetsWording) {
  const std::string deep = std::string(150, '(') + "1" + std::string(150, ')');
  std::string longChain = "0";
  for (int i = 0; i < 1000; ++i) longChain += "+1";
  const std::pair<std::string, std::string> kCases[] = {
      {"1 +* 2", "3075: Syntax error (missing operator) in query expression '1 +* 2'."},
      {"(1", "3075: Missing ), ], or Item in query expression '(1'."},
      {"1)", "3075: Extra ) in query expression '1)'."},
      {"1 Between 2", "3075: Between operator without And in query expression '1 Between 2'."},
      {"1 In 2", "3075: In operator without () in query expression '1 In 2'."},
      {"\"abc", "3075: Syntax error in string in query expression '\"abc'."},
      {"Mid(1)", "3075: Wrong number of arguments used with function in query expression 'Mid(1)'."},
      {deep, "3075: Expression too complex in query expression '" + deep + "'."},
      {"Eval(1)", "3085: Undefined function 'Eval' in expression."},
  };
  for (const auto& [text, message] : kCases) {
    try {
      Expression::parse(text);
      ADD_FAILURE() << text;
    } catch (const Error& e) {
      EXPECT_EQ(std::to_string(e.number()) + ": " + e.description(), message);
    }
  }
  EXPECT_EQ(Expression::parse(longChain).evaluate(field), Value(int64_t{1000}));
}

TEST(ConvertForColumnTest, ConvertsResultsByTheConversionRules) {
  struct Row {
    Value result;
    ColumnType type;
    Value expected;  // Null{} with error set for a refusal
    int error;
  } const kRows[] = {
      {2.5, ColumnType::Integer, int64_t{2}, 0},
      {std::string("12"), ColumnType::Long, int64_t{12}, 0},
      {int64_t{40000}, ColumnType::Integer, Null{}, 6},
      {std::string("x"), ColumnType::Double, Null{}, 13},
      {0.1, ColumnType::Currency, Currency{1000}, 0},
      {int64_t{5}, ColumnType::Text, std::string("5"), 0},
      {std::string("1/2/2000"), ColumnType::DateTime, DateTime{36527}, 0},
      {DateTime{36527.5}, ColumnType::DateTimeExtended, DateTimeExtended{730120, 43200, 0}, 0},
      {std::string("Yes"), ColumnType::Boolean, Null{}, 13},
      {int64_t{-1}, ColumnType::Boolean, true, 0},
      {Null{}, ColumnType::Long, Null{}, 0},
  };
  for (const Row& r : kRows) {
    Value got = Null{};
    EXPECT_EQ(errorOf([&] { got = convertForColumn(r.result, r.type); }), r.error) << jet::toText(r.result);
    EXPECT_EQ(got, r.expected) << jet::toText(r.expected);
  }
  Decimal d = std::get<Decimal>(convertForColumn(1.2345, ColumnType::Numeric, 2));
  EXPECT_EQ(jet::toText(Value(d)), "1.23");
  d = std::get<Decimal>(convertForColumn(int64_t{2}, ColumnType::Numeric, 2));
  EXPECT_EQ(jet::toText(Value(d)), "2.00");
}

}  // namespace
}  // namespace jet::expr
