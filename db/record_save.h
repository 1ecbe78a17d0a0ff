// Storing what the record editor holds, and reading a typed value as the grid would show it.
// Texts are UTF-8 in the engine's culture-invariant forms.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace modDB {

// Stores one text per field of `table`, in table order: in a new record when `position` is
// negative, otherwise in the record at that position of the table's stored order.
// - automatic numbers and complex fields (attachments, multi-valued fields) are never written;
// - in an update, a text equal to the one shown for that field (`shown`) is not written again, so
//   the stored value stays exactly as it was;
// - an empty text on a field that holds no text (numbers, dates, Yes/No) stores Null.
// All or nothing: the first value or rule the engine refuses throws its jet::Error and nothing is
// stored; `refusedField` is then the index of the field the refusal concerns, or -1.
void SaveRecord(const std::string& table, int32_t position, const std::vector<std::string>& texts,
                const std::vector<std::string>& shown, int& refusedField);

// The grid's text for `text` read as a value of DAO type `type`; nothing when it does not convert.
std::optional<std::string> ShownText(int16_t type, const std::string& text);

}  // namespace modDB
