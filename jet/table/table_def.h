// A table's definition as the file keeps it (the tdef page chain): row count, next auto-number,
// columns with their row layout, real indexes (the key structures) and logical indexes (the named
// indexes that use them), and the usage maps of the table's pages. One model for reading and
// writing: the parser and the serializer below are each other's inverse.
//
// A definition is one logical byte string. Its first page keeps the definition header at the
// page's start; when the string is longer than a page it continues on further pages, each with
// its own 8-byte page header (type 0x02, next page) followed by the next stretch of the string.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/file_version.h"
#include "jet/base/schema.h"
#include "jet/base/text_codec.h"
#include "jet/base/value.h"
#include "jet/index/index.h"
#include "jet/storage/page_file.h"

namespace jet {

// Column flag bits (the flags byte of a column).
namespace colflag {
constexpr uint8_t kFixed = 0x01;
constexpr uint8_t kNullable = 0x02;
constexpr uint8_t kAutoNumber = 0x04;
constexpr uint8_t kReplication = 0x10;  // set by the engine on system-table columns
constexpr uint8_t kAutoGuid = 0x40;
constexpr uint8_t kHyperlink = 0x80;
constexpr uint8_t kCompressedText = 0x01;  // in the extended flags byte (Jet 4)
constexpr uint8_t kCalculated = 0xC0;      // extended flags (Access 2010 and later): either bit
}  // namespace colflag

// Real index flag bits.
namespace idxflag {
constexpr uint8_t kUnique = 0x01;
constexpr uint8_t kIgnoreNulls = 0x02;
constexpr uint8_t kRequired = 0x08;
constexpr uint8_t kJet4Marker = 0x80;  // set on every index the Jet 4 engine writes
}  // namespace idxflag

// Logical index kinds.
namespace idxkind {
constexpr uint8_t kPlain = 0;
constexpr uint8_t kPrimaryKey = 1;
constexpr uint8_t kForeignKey = 2;
}  // namespace idxkind

// Table types (the byte after the counts).
constexpr uint8_t kUserTableType = 0x4E;
constexpr uint8_t kSystemTableType = 0x53;

struct ColumnDef {
  std::string name;
  ColumnType type = ColumnType::Text;
  uint8_t rawType = 0;         // the type byte as stored when this engine does not know it, else 0
  uint16_t number = 0;         // bit in the null mask; field order
  // The second column index the descriptor holds beside the number. Access writes values of its
  // own there (not always the number); they are kept as read. -1 for a new column: written as the
  // number (0 in system tables).
  int32_t storedIndex = -1;
  uint16_t varIndex = 0;       // entry in the variable-offset table (variable columns)
  uint16_t fixedOffset = 0;    // offset within the fixed part (fixed columns)
  uint16_t length = 0;         // bytes
  uint8_t flags = 0;
  uint8_t extFlags = 0;        // Jet 4 only
  uint8_t precision = 0;       // Decimal
  uint8_t scale = 0;           // Decimal
  uint16_t sortOrder = 1033;   // collation id (Jet 3: kept for every column)
  uint8_t sortVersion = 0;     // Jet 4: version of the collation
  int32_t complexId = 0;       // complex columns: their row in MSysComplexColumns
  uint16_t codePage = 1252;    // Jet 3 only
  // Long-value columns: row pointers of the usage maps of their long-value pages (0: none).
  uint32_t lvOwnedPointer = 0, lvFreePointer = 0;

  bool fixed() const { return flags & colflag::kFixed; }
  bool nullable() const { return flags & colflag::kNullable; }
  bool autoNumber() const { return flags & colflag::kAutoNumber; }
  bool autoGuid() const { return flags & colflag::kAutoGuid; }
  bool hyperlink() const { return flags & colflag::kHyperlink; }
  bool compressedText() const { return extFlags & colflag::kCompressedText; }
  // A calculated column: its values are the stored results of its expression, each wrapped (see
  // jet/table/calculated_value.h) and kept in the variable part of the row whatever the type.
  bool calculated() const { return extFlags & colflag::kCalculated; }
  // A Boolean kept wholly in the row's null mask (its bit is the value).
  bool inNullMask() const { return type == ColumnType::Boolean && !unknownType() && !calculated(); }
  bool isLongValue() const { return type == ColumnType::Memo || type == ColumnType::Ole; }
  // A type this engine does not know: its values are kept as raw bytes (type reads Binary).
  bool unknownType() const { return rawType != 0; }
};

// Bytes a value of the type takes in the fixed part of a row; 0 for types stored as variable.
uint16_t fixedLengthOf(ColumnType type);

struct RealIndexDef {
  std::vector<IndexColumn> columns;  // by column number, up to ten
  uint32_t usedPagesPointer = 0;     // row pointer of the index's usage map
  uint32_t rootPage = 0;
  uint8_t flags = 0;
  uint32_t entryCount = 0;           // the count kept in the definition's header
};

struct LogicalIndexDef {
  std::string name;
  int32_t number = 0;
  int32_t realIndex = 0;
  uint8_t relIndexType = 0;
  int32_t relIndex = -1;
  uint32_t relTable = 0;
  // The values written for indexes without a relationship.
  uint8_t cascadeUpdates = 0x04;
  uint8_t cascadeDeletes = 0x04;
  uint8_t kind = idxkind::kPlain;
  bool primaryKey() const { return kind == idxkind::kPrimaryKey; }
  bool foreignKey() const { return kind == idxkind::kForeignKey; }
};

// The definition as stored, named after the tdef pages that hold it; dao::TableDef, the object
// model's table handle, is built over it through describeTable.
struct Tdef {
  Format format = Format::Jet4Layout;
  // The file's version, for the rules that differ within a page layout (Decimal index keys). A
  // definition read from the page layout alone takes the layout's first version; readers with the
  // file's header at hand set it.
  FileVersion version = FileVersion::Jet4;
  uint32_t tdefPage = 0;
  std::vector<uint32_t> pages;       // the tdef chain, first page first (when read from a file)
  uint32_t rowCount = 0;
  uint32_t nextAutoNumber = 0;       // the last auto-number given; the next row gets one more
  uint32_t lastComplexKey = 0;       // Jet 4 layout: the last key given to a row's complex columns
  uint8_t tableType = kUserTableType;
  uint16_t maxColumns = 0;           // next column number to give (0 when written: the column count)
  uint16_t varColumnCount = 0;       // as read (the serializer counts the columns)
  uint32_t ownedPagesPointer = 0;    // usage map of every page the table owns
  uint32_t freeSpacePointer = 0;     // usage map of its data pages with free space
  std::vector<ColumnDef> columns;    // by column number (field order)
  // The order the columns are stored in, as positions in `columns`; empty: field order.
  std::vector<uint16_t> storedOrder;
  std::vector<RealIndexDef> realIndexes;
  std::vector<LogicalIndexDef> indexes;  // in the order they are stored
  // Where the last row was added (0 = not known yet): spares inserts a walk over the table's pages.
  uint32_t lastDataPageHint = 0;

  bool systemTable() const { return tableType == kSystemTableType; }
  // Bytes of the fixed part every complete row has.
  uint32_t fixedSize() const;
  // Position in columns of the column with this number, or columns.size().
  size_t findColumn(uint16_t number) const;
};

// Parses the definition's logical string. Throws 3049 when it is cut short or its counts do not
// fit. Names are decoded with `codec` (Jet 3) or as UCS-2 (Jet 4).
Tdef parseTdef(Format format, const Bytes& bytes, TextCodec& codec);

// The logical string of the definition whose chain starts at `page`, cut to the length its header
// records; `pages` gets the chain. Throws 3049 when the chain loops or leaves definition pages.
Bytes readTdefBytes(PageFile& file, uint32_t page, std::vector<uint32_t>* pages = nullptr);

// Reads and parses the definition whose chain starts at `page`. Throws 3049 when it is damaged.
Tdef readTdef(PageFile& file, Format format, TextCodec& codec, uint32_t page);

// The definition as one logical byte string (page header of the first page included).
Bytes serializeTdef(const Tdef& def, TextCodec& codec);

// Pages a definition string of this size takes, and the page images of it spread over `pages`
// (which must be that many).
size_t tdefPagesNeeded(Format format, size_t definitionSize);
std::vector<Bytes> paginateTdef(Format format, const Bytes& definition, const std::vector<uint32_t>& pages);

// Where the definition's first page keeps the counters writers update in place: the row count,
// the last auto-number given, the last complex key given (Jet 4 only), and the entry count of
// real index `realIndex`.
size_t tdefRowCountOffset(Format format);
size_t tdefAutoNumberOffset(Format format);
size_t tdefComplexKeyOffset(Format format);
size_t tdefIndexEntryCountOffset(Format format, size_t realIndex);

// The engine's public description of the definition.
TableInfo describeTable(const Tdef& def, const std::string& name);

// The maintenance descriptions of the table's real indexes, fields by position in def.columns.
std::vector<IndexOutline> indexOutlines(const Tdef& def);

}  // namespace jet
