// Test support for the index tests: an in-memory copy of an .mdb file that serves as an index page
// store, and a small independent reader of table definitions and rows, enough to know which keys
// a table's indexes must hold.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "jet/index/index.h"

namespace indextest {

struct Column {
  std::string name;
  jet::ColumnType type{};
  int number = 0;
  bool fixed = false;
  int fixedOffset = 0;
  int varIndex = 0;
  int length = 0;
  uint16_t sortOrder = 0;
  uint16_t sortVersion = 0;
  uint8_t scale = 0;
};

struct RealIndex {
  std::vector<std::pair<int, bool>> columns;  // column number, ascending
  uint32_t root = 0;
  uint8_t flags = 0;
};

struct LogicalIndex {
  std::string name;
  int real = 0;
  uint8_t type = 0;  // 1 primary key, 2 foreign key
};

struct Table {
  uint32_t tdef = 0;
  std::string name;                  // the first logical index's name or "" (names come from the catalog)
  std::vector<Column> columns;       // in column-number order
  std::vector<RealIndex> real;
  std::vector<LogicalIndex> logical;
};

// A whole .mdb file held in memory. Writes go to the copy, never to the file.
class MdbImage : public jet::IndexPageStore {
 public:
  explicit MdbImage(const std::string& path);
  jet::Format format() const override { return format_; }
  void readPage(uint32_t page, uint8_t* out) override;
  void writePage(uint32_t page, const uint8_t* data) override;
  uint32_t allocatePage() override;
  void freePage(uint32_t page) override;

  size_t pageSize() const { return pageSize_; }
  uint32_t pageCount() const { return static_cast<uint32_t>(bytes_.size() / pageSize_); }
  const uint8_t* page(uint32_t n) const { return bytes_.data() + n * pageSize_; }

  // Every table definition in the file (found by scanning for definition pages).
  std::vector<Table> tables() const;
  Table table(uint32_t tdefPage) const;
  // Every live row of a table with its address; values by column position in Table::columns.
  std::vector<std::pair<jet::RowId, std::vector<jet::Value>>> rows(const Table& t) const;
  // Index outlines for a table's real indexes (logical flags folded in), and the column types the
  // reader cannot decode make a outline unusable (reported in skipped).
  std::vector<jet::IndexOutline> outlines(const Table& t, std::vector<std::string>* skipped = nullptr) const;

  std::set<uint32_t> freed;

 private:
  jet::Format format_;
  size_t pageSize_;
  std::vector<uint8_t> bytes_;
};

}  // namespace indextest
