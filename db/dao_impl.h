// The objects behind the object model's handles. Shared with the tests, which drive the object
// model over engines of their own.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/dao.h"
#include "jet/database.h"

namespace dao {

class DatabaseImpl : public std::enable_shared_from_this<DatabaseImpl> {
 public:
  DatabaseImpl(std::unique_ptr<jet::Database> engine, std::string name);

  // The open engine; 3420 once the database is closed.
  jet::Database& engine();
  bool open() const { return engine_ != nullptr; }
  void close();
  const std::string& name() const { return name_; }

  // The TableDefs collection, read from the catalog on first use, after Refresh and after another
  // program's commit.
  std::vector<std::shared_ptr<TableDefImpl>>& tableDefs();
  void refresh() { loaded_ = false; }

 private:
  std::unique_ptr<jet::Database> engine_;
  std::string name_;
  bool loaded_ = false;
  uint64_t generation_ = 0;  // the engine's generation the collection was read at
  std::vector<std::shared_ptr<TableDefImpl>> tableDefs_;
};

// The object model's view of a table and its fields: built from the engine's TableInfo/ColumnInfo
// (storedField) once appended, and turned into the engine's NewTable/NewColumn (newColumn) on Append.
class TableDefImpl : public std::enable_shared_from_this<TableDefImpl> {
 public:
  std::weak_ptr<DatabaseImpl> db;
  std::string name;
  int32_t attributes = 0;
  std::string validationRule, validationText;  // the table's own rule, over its fields
  bool appended = false;        // exists in the file
  bool fieldsLoaded = false;    // appended tables read their fields on first use
  std::shared_ptr<std::vector<Field>> fields = std::make_shared<std::vector<Field>>();

  std::shared_ptr<DatabaseImpl> database() const;
  std::vector<Field>& loadFields();
};

class FieldImpl {
 public:
  std::string name;
  int16_t type = dbText;
  int32_t size = 0;
  int32_t attributes = 0;
  bool required = false;
  bool allowZeroLength = false;
  bool calculated = false;  // holds the stored result of an expression, never a typed value
  // Access expressions: what a new record starts with, what every value must satisfy (and the
  // message when it does not), and a calculated field's expression.
  std::string defaultValue, validationRule, validationText, expression;
  // Set once the field belongs to a table in the file (its definition can no longer change).
  bool frozen = false;
  // Recordset fields: the recordset and the field's position in it.
  std::weak_ptr<RecordsetImpl> recordset;
  int index = -1;
};

// A field as the file defines it (frozen): DAO's type, size and attributes of the engine's column.
std::shared_ptr<FieldImpl> storedField(const jet::ColumnInfo& column, jet::Format format);

// The engine's outline of a field about to be appended with its table; 3259 for a DAO type the
// engine cannot store.
jet::NewColumn newColumn(const FieldImpl& field);

}  // namespace dao
