// Table definitions as bytes: the layout the engine writes for a table (its columns, real and
// logical indexes, usage-map references) and reads back, in both page formats.
//
// A definition is one logical byte string. Its first page keeps the definition header at the
// page's start; when the string is longer than a page it continues on further pages, each with
// its own 8-byte page header (type 0x02, next page) followed by the next stretch of the string.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/schema.h"
#include "jet/value.h"

namespace jet {

// Little-endian field access used by the writers.
namespace le {
inline void put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void put32(uint8_t* p, uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i)); }
inline uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t get32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }
inline void append16(Bytes& b, uint16_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
inline void append32(Bytes& b, uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i))); }
}  // namespace le

inline size_t pageSizeOf(Format f) { return f == Format::Jet4 ? 4096 : 2048; }

// A row's address packed the way definitions and usage-map references store it: page << 8 | row.
inline uint32_t packRowPointer(uint32_t page, uint8_t row) { return (page << 8) | row; }

// Column flag bits.
constexpr uint8_t kColumnFixed = 0x01;
constexpr uint8_t kColumnNullable = 0x02;
constexpr uint8_t kColumnAutoNumber = 0x04;
constexpr uint8_t kColumnUpdatable = 0x10;
constexpr uint8_t kColumnAutoGuid = 0x40;
constexpr uint8_t kColumnHyperlink = 0x80;
// Jet 4 extra flag: text stored with the two-byte compression scheme.
constexpr uint8_t kColumnCompressedText = 0x01;

// Real index flags.
constexpr uint8_t kIndexUnique = 0x01;
constexpr uint8_t kIndexIgnoreNulls = 0x02;
constexpr uint8_t kIndexRequired = 0x08;
constexpr uint8_t kIndexJet4Marker = 0x80;  // set on every index the Jet 4 engine writes

// Logical index kinds.
constexpr uint8_t kIndexKindPlain = 0;
constexpr uint8_t kIndexKindPrimaryKey = 1;
constexpr uint8_t kIndexKindForeignKey = 2;

struct TdefColumn {
  std::string name;             // UTF-8
  ColumnType type = ColumnType::Long;
  uint16_t number = 0;          // column number (field order)
  uint16_t varIndex = 0;        // slot in the row's variable-length table (variable columns)
  uint16_t fixedOffset = 0;     // offset in the row's fixed part (fixed columns)
  uint16_t length = 0;          // bytes
  uint8_t flags = 0;
  uint8_t extFlags = 0;         // Jet 4 only
  uint16_t sortOrder = 1033;    // Jet 3: also written for every column; Jet 4: text and memo
  uint16_t sortVersion = 0;     // Jet 4 only
  uint16_t codePage = 1252;     // Jet 3 only
  uint8_t precision = 0, scale = 0;  // Decimal
  // Long-value columns: the usage maps of their long-value pages (0 when the column has none).
  uint32_t lvUsedMap = 0, lvFreeMap = 0;

  bool fixed() const { return flags & kColumnFixed; }
};

struct TdefRealIndex {
  std::vector<IndexColumn> columns;  // by column number
  uint32_t usageMap = 0;             // packed row pointer of the index's usage map
  uint32_t rootPage = 0;
  uint8_t flags = 0;
  uint32_t rowCount = 0;             // entries the index holds (kept beside the row count)
};

struct TdefLogicalIndex {
  std::string name;
  uint32_t number = 0;
  uint32_t realNumber = 0;
  uint8_t kind = kIndexKindPlain;
  uint8_t relatedTableType = 0;
  uint32_t relatedIndex = 0xFFFFFFFF;
  uint32_t relatedTablePage = 0;
  uint8_t cascadeUpdates = 0x04, cascadeDeletes = 0x04;  // the values written for indexes without a relationship
};

struct TableDefinition {
  Format format = Format::Jet4;
  bool systemTable = false;
  uint32_t rowCount = 0;
  uint32_t nextAutoNumber = 0;
  uint32_t usedPagesMap = 0;   // packed row pointer of the table's page usage map
  uint32_t freePagesMap = 0;   // packed row pointer of its free-space map
  uint16_t maxColumns = 0;     // 0: the number of columns
  std::vector<TdefColumn> columns;       // in the order they are stored
  std::vector<TdefRealIndex> realIndexes;
  std::vector<TdefLogicalIndex> logicalIndexes;  // in the order they are stored

  size_t findColumn(uint16_t number) const;  // position in columns, or columns.size()
};

// The definition as one logical byte string (page header of the first page included).
Bytes serializeTableDefinition(const TableDefinition& def);

// Splits the string onto pages: pages.size() must be pagesNeeded(...). Returns one image per page.
size_t tdefPagesNeeded(Format format, size_t definitionSize);
std::vector<Bytes> paginateTableDefinition(Format format, const Bytes& definition, const std::vector<uint32_t>& pages);

// Parses the logical string. Throws jet::Error 3049 when the definition is cut short or its
// counts do not fit.
TableDefinition parseTableDefinition(Format format, const Bytes& definition);

// Text of names in the definition's encoding (Jet 4 UTF-16LE, Jet 3 Windows-1252).
Bytes encodeName(Format format, const std::string& utf8);
std::string decodeName(Format format, const uint8_t* data, size_t size);

}  // namespace jet
