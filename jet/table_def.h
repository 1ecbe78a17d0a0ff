// A table's definition as the file keeps it (the tdef page chain): row count, next auto-number,
// columns with their row layout, real indexes (the key structures) and logical indexes (the named
// indexes that use them), and the usage maps of the table's pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/page_file.h"
#include "jet/schema.h"
#include "jet/text_codec.h"

namespace jet {

// Column flag bits (the flags byte of a column).
namespace colflag {
constexpr uint8_t kFixed = 0x01;
constexpr uint8_t kNullable = 0x02;
constexpr uint8_t kAutoNumber = 0x04;
constexpr uint8_t kReplication = 0x10;
constexpr uint8_t kAutoGuid = 0x40;
constexpr uint8_t kHyperlink = 0x80;
constexpr uint8_t kCompressedText = 0x01;  // in the extended flags byte (Jet 4)
}  // namespace colflag

struct ColumnDef {
  std::string name;
  ColumnType type = ColumnType::Text;
  uint8_t rawType = 0x0A;      // the type byte as stored (unknown types keep theirs)
  uint16_t number = 0;         // bit in the null mask; field order
  uint16_t varIndex = 0;       // entry in the variable-offset table (variable columns)
  uint16_t fixedOffset = 0;    // offset within the fixed part (fixed columns)
  uint16_t length = 0;         // bytes
  uint8_t flags = 0;
  uint8_t extFlags = 0;
  uint8_t precision = 0;
  uint8_t scale = 0;
  uint16_t sortOrder = 0;
  uint8_t sortVersion = 0;
  uint16_t codePage = 0;       // Jet 3 text columns

  bool fixed() const { return flags & colflag::kFixed; }
  bool nullable() const { return flags & colflag::kNullable; }
  bool autoNumber() const { return flags & colflag::kAutoNumber; }
  bool autoGuid() const { return flags & colflag::kAutoGuid; }
  bool hyperlink() const { return flags & colflag::kHyperlink; }
  bool compressedText() const { return extFlags & colflag::kCompressedText; }
  bool isLongValue() const { return type == ColumnType::Memo || type == ColumnType::Ole; }
};

// Real index flag bits.
namespace idxflag {
constexpr uint8_t kUnique = 0x01;
constexpr uint8_t kIgnoreNulls = 0x02;
constexpr uint8_t kRequired = 0x08;
}  // namespace idxflag

struct RealIndexDef {
  struct Column {
    uint16_t number = 0;
    bool ascending = true;
  };
  std::vector<Column> columns;  // up to ten
  uint32_t usedPagesPointer = 0;
  uint32_t rootPage = 0;
  uint8_t flags = 0;
  uint32_t entryCount = 0;      // the count kept in the definition's header
};

struct LogicalIndexDef {
  std::string name;
  int32_t number = 0;
  int32_t realIndex = 0;
  uint8_t relIndexType = 0;
  int32_t relIndex = -1;
  int32_t relTable = -1;
  uint8_t cascadeUpdates = 0;
  uint8_t cascadeDeletes = 0;
  uint8_t kind = 0;            // 1 primary key, 2 foreign key
  bool primaryKey() const { return kind == 1; }
  bool foreignKey() const { return kind == 2; }
};

struct TableDef {
  Format format = Format::Jet4;
  uint32_t tdefPage = 0;
  std::vector<uint32_t> pages;       // the tdef chain, first page first
  uint32_t rowCount = 0;
  uint32_t nextAutoNumber = 0;       // the last auto-number given; the next row gets one more
  uint8_t tableType = 0;             // 0x4E user table, 0x53 system table
  uint16_t maxColumns = 0;           // next column number to give
  uint16_t varColumnCount = 0;
  uint32_t ownedPagesPointer = 0;    // usage map of every page the table owns
  uint32_t freeSpacePointer = 0;     // usage map of its data pages with free space
  std::vector<ColumnDef> columns;    // by column number (field order)
  std::vector<RealIndexDef> realIndexes;
  std::vector<LogicalIndexDef> indexes;
  // Where the last row was added (0 = not known yet): spares inserts a walk over the table's pages.
  uint32_t lastDataPageHint = 0;

  // Bytes of the fixed part every complete row has.
  uint32_t fixedSize() const;
};

// Reads the definition whose chain starts at `page`. Throws 3049 when it is damaged.
TableDef readTableDef(PageFile& file, Format format, TextCodec& codec, uint32_t page);

// The engine's public description of the definition.
TableInfo describeTable(const TableDef& def, const std::string& name);

}  // namespace jet
