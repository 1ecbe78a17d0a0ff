// What a user types for a field, read in the forms of the user's language as well as in the
// culture-invariant forms the grid shows and the engine reads.
#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>

namespace shell {

// The invariant form of `typed` for a field of DAO type `type`:
// - dates: the language's short and long date and date-time forms (four-digit years also where the
//   short form has two, the long form also without the weekday or with short month names) and its
//   time forms become "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or "HH:MM:SS"; with no language set (the
//   C locale) the United States forms are read too;
// - numbers and currency: the language's decimal separator (and digit grouping) become a plain
//   number with a point.
// A text the engine reads as it is (the invariant forms, ISO dates with T, a time alone, True/False,
// Yes/No, On/Off, -1/0/1) and a text none of these forms reads come back unchanged, so the engine
// decides, and what the grid shows can always be typed back.
QString InvariantText(const QString& typed, int16_t type, const QLocale& locale = QLocale());

}  // namespace shell
