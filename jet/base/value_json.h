// The JSON form of values, as the export writes them and the SQL bridge shows complex columns:
// numbers plain, Currency, dates and Decimal as strings, binary as lowercase hex.
#pragma once

#include <string>

#include "jet/base/complex_value.h"
#include "jet/base/value.h"

namespace jet {

// A JSON string with the characters JSON requires escaped.
void appendJsonString(std::string& out, const std::string& text);
// One value: null, true/false, a number ("NaN" and "Infinity" as strings), Currency as "12.5",
// dates as "YYYY-MM-DDTHH:MM:SS", text, GUID, Decimal and hex of binary as strings.
void appendJsonValue(std::string& out, const Value& v);
// A complex column's value: attachments as [{"name","type","data"}] with the file's bytes in
// lowercase hex, a multi-valued field as the array of its values, a version history as
// [{"value","modified"}] newest first. Throws Error 3049 for an attachment whose data is damaged.
void appendJsonComplex(std::string& out, const ComplexValue& v);

}  // namespace jet
