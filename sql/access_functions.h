// Access's functions registered as SQL functions of a connection (see access_functions.cpp for the
// list), for the queries translated from Access SQL.
#pragma once

#include <string>

struct sqlite3;
struct sqlite3_context;
struct sqlite3_value;

namespace sql {

void registerAccessFunctions(sqlite3* db);

// Whether a translated query may call a function of this name (case-insensitive): one registered
// here, or one of SQLite's that behaves as Access's of the same name.
bool knownFunction(const std::string& name);

// Format(value[, format]): the named formats (General Number, Currency, Fixed, Standard, Percent,
// Yes/No, True/False, On/Off, General Date, Long Date, Medium Date, Short Date, Long Time, Medium
// Time, Short Time) and patterns of date parts (yyyy yy q m mm mmm mmmm d dd ddd dddd h hh n nn s
// ss AM/PM) or digits (0 # . , %), as Access formats in the English (United States) settings.
void formatFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);

}  // namespace sql
