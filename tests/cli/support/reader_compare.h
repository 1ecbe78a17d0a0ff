// The tool's export of a file compared value by value with what an independent reader (mdbtools'
// mdb-json, mdb-reader under node) prints for it, allowing for exactly the readers' known faults
// (listed in reader_compare.cpp). Used by the every-file comparison and by random operations.
#pragma once

#include <map>
#include <optional>

#include "cli/format.h"
#include "jet/database.h"

namespace clitest {

enum class Reader { Mdbtools, MdbReader };

// A row of JSON lines, from the tool's export and from the readers, as field values: arrays (the
// export of complex columns) keep their JSON text, and binary values as mdb-json writes them
// ({"$binary": "BASE64", "$type": "00"}) become the text "b64:BASE64".
using ReaderRow = std::map<std::string, cli::JsonScalar>;

struct OurTable {
  jet::TableInfo info;
  std::vector<ReaderRow> rows;
};

struct OurFile {
  std::string path;
  std::vector<OurTable> tables;
};

// Every user table of a file as the tool exports it (JSON lines).
OurFile exportFile(const std::string& path);

// A reader's rows of one table as JSON lines, or why it could not read them.
struct TheirTable {
  std::string name;
  std::vector<std::string> lines;
  std::string failure;
};

// Each file's tables as the reader prints them, by path; nothing when the reader is not installed.
// mdb-reader reads at most `rowLimit` rows of a table (0: all of them).
std::optional<std::map<std::string, std::vector<TheirTable>>> readTables(Reader reader, const std::vector<std::string>& paths,
                                                                         size_t rowLimit = 0);

struct Comparison {
  size_t rowLimit = 0;             // mdb-reader's limit the tables were read with
  bool anyOrder = false;           // rows as a set: every table of a file the tool changed
  bool longValuePrefixes = false;  // mdb-reader held to the beginning of long values (see the .cpp)
  size_t values = 0, tables = 0;   // what was compared, counted
};

// Compares the reader's tables of a file with ours: the table names as sets, then every value.
void compareFile(Reader reader, const OurFile& ours, const std::vector<TheirTable>& theirs, Comparison& how);

}  // namespace clitest
