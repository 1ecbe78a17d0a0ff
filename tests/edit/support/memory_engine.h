// An engine that keeps its tables in memory, for driving the object model without files. Rows
// live in numbered rowSlots; a new row takes the first free slot, so stored order is not insertion
// order once rows were deleted (as in a real file).
#pragma once

#include <map>
#include <memory>
#include <optional>

#include "jet/database.h"

namespace testing_support {

struct MemoryTable {
  jet::TableInfo info;
  std::vector<std::optional<std::vector<jet::Value>>> rowSlots;
  int32_t nextAuto = 1;
};

struct MemoryState {
  jet::Format format = jet::Format::Jet4;
  std::vector<jet::CatalogObject> catalog;
  std::map<std::string, MemoryTable> tables;  // by upper-case name
  int writes = 0;                             // rows inserted, updated or deleted
  bool closed = false;
};

// A fresh engine over `state` (shared, so that a test can look inside after the object model has
// taken ownership of the engine).
std::unique_ptr<jet::Database> memoryEngine(std::shared_ptr<MemoryState> state);

// Adds a table with the given columns and rows to the state.
void addTable(MemoryState& state, const std::string& name, std::vector<jet::ColumnInfo> columns,
              std::vector<std::vector<jet::Value>> rows, jet::ObjectKind kind = jet::ObjectKind::Table,
              uint32_t flags = 0);

jet::ColumnInfo column(const std::string& name, jet::ColumnType type, uint16_t length = 0);

}  // namespace testing_support
