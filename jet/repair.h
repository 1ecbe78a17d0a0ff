// Repair: a fresh, sound database holding everything a damaged one still lets be read, and an
// account of what could not be. The source is only read. The copy is written by compaction's
// writer from a salvaging source (jet/salvage_source.h): indexes are rebuilt from the rows, and a
// row that would repeat a unique key goes to a table <table>_RepairConflicts with the same columns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jet {

struct RepairedTable {
  std::string name;            // as written
  std::string note;            // what else happened to it ("" when nothing)
  uint64_t rowsRecovered = 0;
  uint64_t rowsLost = 0;       // row slots on pages that could not be read, rows that could not be decoded
  uint64_t longValuesLost = 0; // memo and OLE values that became Null
  uint64_t pagesSkipped = 0;
};

struct RepairReport {
  std::vector<RepairedTable> tables;  // in the order written; tables that were lost last
  bool formatInferred = false;        // the header page was damaged
  bool catalogRebuilt = false;        // the catalog's definition was lost: every table found by scanning
  std::vector<std::string> problems;  // what the copy's check found (empty when it passes)
  RepairedTable total() const;
};

// Writes the repaired copy of `source` to `destination` (which must not exist). Throws 3204 when
// the destination exists, 3024 when the source is missing, 3031 for a wrong password, 3343 when
// the source is no Jet database, 3049 when nothing could be recovered.
RepairReport repairDatabase(const std::string& source, const std::string& destination,
                            const std::string& password = "");

}  // namespace jet
