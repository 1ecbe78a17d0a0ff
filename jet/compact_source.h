// What compaction copies from: a source of tables and their stored rows. Compaction proper reads
// a sound database through its catalog; repair reads a damaged one through a salvaging source that
// leaves out what it cannot read (jet/salvage_source.h). Both are written by the same copier.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/text_codec.h"
#include "jet/database.h"
#include "jet/storage/page_file.h"
#include "jet/table/table_def.h"

namespace jet {

// One table to copy.
struct SourceTable {
  std::string name;
  int32_t id = 0;               // its catalog id (the catalog itself: 0)
  uint32_t page = 0;            // its definition's first page in the source
  bool catalogRow = true;       // false: the catalog has no row for it; the copy gets a new one
  Tdef def;                 // as the source stores it
};

// The stored rows of one table, in the order they are to be copied.
class SourceRows {
 public:
  virtual ~SourceRows() = default;
  virtual bool next() = 0;
  virtual RowId rowId() const = 0;
  virtual const uint8_t* data() const = 0;
  virtual size_t size() const = 0;
};

class CompactionSource {
 public:
  virtual ~CompactionSource() = default;
  virtual Format format() const = 0;
  // The file version the copy keeps (its header is the source's).
  virtual FileVersion version() const = 0;
  virtual PageFile& pageFile() = 0;
  virtual TextCodec& codec() = 0;
  // The destination's header page (format, code page, sort order and settings), unencoded.
  virtual Bytes header() = 0;
  // Every table to copy, the catalog (MSysObjects) first.
  virtual std::vector<SourceTable> tables() = 0;
  virtual std::unique_ptr<SourceRows> rows(const SourceTable& table) = 0;
  // Whether damage costs only what it holds (repair) rather than ending the copy (compaction): a
  // long value that cannot be read becomes Null, a row that would repeat a unique key goes to the
  // table's conflicts table, an index that cannot be read keeps what could be.
  virtual bool salvaging() const { return false; }
};

// What the copy of one table holds.
struct CopiedTable {
  std::string name;          // as written (conflict tables: <table>_RepairConflicts)
  uint32_t sourcePage = 0;   // its definition page in the source (conflict tables: their table's)
  bool conflicts = false;    // a table of rows that repeated a unique key
  uint64_t rows = 0;
  uint64_t longValuesLost = 0;
  uint64_t rowsDropped = 0;  // rows that repeated a unique key of the catalog itself
};

// The source's header page as a copy gets it: a Jet database key cleared (such copies are written
// plain), an encryption kept (the copy is encrypted as its source, under the same password).
Bytes unencodedHeaderPage(PageFile& file, Format format);

// Refuses a copy before anything is read: 3204 when `destination` exists (a dangling link counts),
// 3024 when `source` does not.
void requireCopyPaths(const std::string& source, const std::string& destination);

// Writes a fresh database at `destination` (which must not exist) holding every table of `source`.
// Returns what each table's copy holds, in the order written. The destination is removed when
// the copy fails. A source encrypted under a password gives an encrypted copy.
std::vector<CopiedTable> copyDatabase(CompactionSource& source, const std::string& destination);

}  // namespace jet
