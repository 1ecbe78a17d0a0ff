// Text crossing the driver's boundary: the driver keeps UTF-8 inside; the narrow entry points take
// and give UTF-8 as it is, the wide ones UTF-16 (SQLWCHAR). Output buffers follow ODBC's rules:
// the text is cut to fit with its terminator, the full length is reported, and a cut is 01004.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <string_view>

namespace odbc {

// Input text of `length` units (SQL_NTS: up to the terminator); a null pointer gives "".
std::string narrowIn(const SQLCHAR* text, SQLINTEGER length);
std::string wideIn(const SQLWCHAR* text, SQLINTEGER length);

// UTF-8 to UTF-16 and back. Invalid UTF-8 bytes become U+FFFD.
std::u16string toUtf16(std::string_view utf8);
std::string toUtf8(std::u16string_view utf16);
// The number of UTF-16 units `utf8` becomes.
size_t utf16Length(std::string_view utf8);
// Converts into `out` (room for `capacity` units); returns the units written, never splitting a
// surrogate pair. Stops early when the text does not fit.
size_t utf8ToUtf16(std::string_view utf8, SQLWCHAR* out, size_t capacity, size_t* consumed = nullptr);

// Writes `text` into a buffer of `bufferLength` (in bytes when `bytes`, in characters otherwise),
// terminated, and its full length (same unit) into `*length` when given. Returns false when it was
// cut to fit. `wide` writes UTF-16, otherwise UTF-8 (never splitting a character).
bool textOut(std::string_view text, void* buffer, SQLLEN bufferLength, bool wide, bool bytes, SQLLEN* length);
// The same with SQLSMALLINT and SQLINTEGER length pointers, as most entry points have them.
bool textOut(std::string_view text, void* buffer, SQLLEN bufferLength, bool wide, bool bytes, SQLSMALLINT* length);
bool textOut(std::string_view text, void* buffer, SQLLEN bufferLength, bool wide, bool bytes, SQLINTEGER* length);

// Case-insensitive equality of ASCII letters (names in the catalog).
bool sameName(std::string_view a, std::string_view b);

}  // namespace odbc
