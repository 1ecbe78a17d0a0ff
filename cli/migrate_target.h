// Where a migration writes: a SQLite file or a PostgreSQL schema. The migration drives a target
// through these steps in order; a target that is destroyed before commit() leaves nothing behind.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/migrate_schema.h"
#include "cli/migrate_values.h"
#include "jet/database.h"

namespace migrate {

// A refusal by the target or of the source's contents for the target; the message names what was
// refused (table, row, column where it concerns a value).
struct Refused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class RowReader {
 public:
  virtual ~RowReader() = default;
  // The row that row `number` (from 1, in the source's stored order) became; false when missing.
  virtual bool row(int64_t number, const std::vector<jet::Value>& source, TextRow& out) = 0;
};

class Target {
 public:
  virtual ~Target() = default;

  // Refuses a target that already holds one of the tables (or names the target cannot hold) before
  // anything is written, then opens the transaction.
  virtual void begin(const SourceSchema& schema) = 0;
  // The table with its columns (and where the target can only have them there, its key and
  // foreign keys); no indexes yet.
  virtual void createTable(const jet::TableInfo& table, const std::vector<Relationship>& outgoing) = 0;
  virtual void beginRows(const jet::TableInfo& table) = 0;
  // Row `number` counts from 1 in the source's stored order.
  virtual void addRow(const std::vector<jet::Value>& values, int64_t number) = 0;
  virtual void endRows() = 0;
  // The table's indexes, and its auto-number restarted after `highest` (when it has one).
  virtual void finishTable(const jet::TableInfo& table, std::optional<int64_t> highest) = 0;
  virtual void addRelationships(const std::vector<Relationship>& relationships) = 0;
  // A saved query as a view: true when the target took it (its SELECT in the target's dialect);
  // otherwise false with the target's reason, and nothing of it is left.
  virtual bool addView(const std::string& name, const std::string& select, std::string& why) = 0;
  virtual int64_t countRows(const jet::TableInfo& table) = 0;
  virtual std::unique_ptr<RowReader> readRows(const jet::TableInfo& table) = 0;
  virtual void commit() = 0;
};

}  // namespace migrate
