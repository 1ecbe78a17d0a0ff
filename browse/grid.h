// Filling the record grid from a table of the open database, and counting the table's records.
#pragma once

#include <cstdint>
#include <string>

namespace browse {

class RecordGrid;

// Replaces the grid's column headers by the table's field names, in field order. Engine failures
// propagate to the caller.
void FillColumns(const std::string& table, RecordGrid& grid);

// Replaces the grid's rows by the table's records in stored order. 1 on success; 0 on a failure,
// with modDB::sLastError set and the rows read so far left in the grid.
int16_t FillRecords(const std::string& table, RecordGrid& grid);

// The record count of modDB::sTable, or -1 (modDB::sLastError set) when the table cannot be opened
// or has more records than a 16-bit count holds.
int16_t CountRecords();

}  // namespace browse
