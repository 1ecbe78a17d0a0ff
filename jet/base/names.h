// Names as the engine compares them (tables, columns, properties, relationships, keywords): ASCII
// letters without regard to case, every other byte exactly.
#pragma once

#include <string>
#include <string_view>

namespace jet {

inline char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Whether two names are the same name.
bool sameName(std::string_view a, std::string_view b);

// The name with its ASCII letters in lower case: a key under which equal names meet.
std::string lowerName(std::string s);

// The position of the column called `name` in `columns` (a sequence of anything with a `name`),
// -1 when there is none.
template <typename Columns>
int columnIndex(const Columns& columns, std::string_view name) {
  for (size_t i = 0; i < columns.size(); ++i)
    if (sameName(columns[i].name, name)) return int(i);
  return -1;
}

}  // namespace jet
