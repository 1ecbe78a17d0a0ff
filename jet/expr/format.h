// The Format function's pieces: a format text split into its ';' sections, and the number and date
// formatters (format_number.cpp, format_date.cpp). Names, separators and the currency sign are
// those of US English.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "jet/expr/variant.h"

namespace jet::expr {

// The sections of a format, split at the ';' that are not quoted or escaped.
std::vector<std::string> formatSections(std::string_view format);

// A number through a custom number format ("#,##0.00;(#,##0.00);\Z\e\r\o", "0.0%", "0.00E+00").
std::string formatNumber(const Var& number, std::string_view format);
// True when the section has digit placeholders (0, #) or a percent sign, i.e. is a number format.
bool isNumberFormat(std::string_view section);
// True when the section has date or time placeholders.
bool isDateFormat(std::string_view section);
// A date through a custom date format ("dddd, mmmm d, yyyy", "hh:nn AM/PM", "yyyy-mm-dd").
std::string formatDate(double serial, std::string_view format, int firstDay, int firstWeek);

}  // namespace jet::expr
