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

// DAO's type code, size and attribute sum for a column the engine reports.
int16_t daoType(jet::ColumnType type);
int32_t daoSize(const jet::ColumnInfo& column, jet::Format format);
int32_t daoAttributes(const jet::ColumnInfo& column);
// The engine's type for a DAO type code; false for codes a table cannot hold.
bool engineType(int16_t daoCode, jet::ColumnType& out);

// DAO's rules for the values of a record, applied by the recordset and by bulk writers alike.
// One value about to be stored in column `index`: 3163 when a text (or binary) is longer than the
// field. A whole record at Update: 3314 for a Null in a Required field, 3315 for a zero-length
// text where AllowZeroLength is False (auto-numbers are the engine's and not checked).
void checkValueFits(const jet::TableInfo& table, jet::Format format, size_t index, const Value& v);
void checkRecord(const jet::TableInfo& table, const std::vector<Value>& values);

class DatabaseImpl : public std::enable_shared_from_this<DatabaseImpl> {
 public:
  DatabaseImpl(std::unique_ptr<jet::Database> engine, std::string name);

  // The open engine; 3420 once the database is closed.
  jet::Database& engine();
  bool open() const { return engine_ != nullptr; }
  void close();
  const std::string& name() const { return name_; }

  // The TableDefs collection, read from the catalog on first use and after Refresh.
  std::vector<std::shared_ptr<TableDefImpl>>& tableDefs();
  void refresh() { loaded_ = false; }

 private:
  std::unique_ptr<jet::Database> engine_;
  std::string name_;
  bool loaded_ = false;
  std::vector<std::shared_ptr<TableDefImpl>> tableDefs_;
};

class TableDefImpl : public std::enable_shared_from_this<TableDefImpl> {
 public:
  std::weak_ptr<DatabaseImpl> db;
  std::string name;
  int32_t attributes = 0;
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
  // Set once the field belongs to a table in the file (its definition can no longer change).
  bool frozen = false;
  // Recordset fields: the recordset and the field's position in it.
  std::weak_ptr<RecordsetImpl> recordset;
  int index = -1;
};

class RecordsetImpl : public std::enable_shared_from_this<RecordsetImpl> {
 public:
  RecordsetImpl(std::shared_ptr<DatabaseImpl> db, jet::TableInfo info);

  void init();  // builds the fields and reads the row addresses
  Fields fields();
  bool eof() const { return open_ && pos_ >= static_cast<int64_t>(rows_.size()); }
  bool bof() const { return open_ && (pos_ < 0 || rows_.empty()); }
  void moveFirst();
  void move(int64_t rows);
  int32_t recordCount() const { return static_cast<int32_t>(rows_.size()); }
  void addNew();
  void edit();
  void update();
  void cancelUpdate();
  void remove();
  void close();

  Value value(int index);
  void setValue(int index, const Value& value);
  void setText(int index, const std::string& text);

 private:
  enum class Mode { None, Add, Edit };
  void checkOpen() const;
  void checkCurrent() const;
  const std::vector<Value>& current();
  void readRows();

  std::shared_ptr<DatabaseImpl> db_;
  jet::TableInfo info_;
  bool open_ = true;
  std::shared_ptr<std::vector<Field>> fields_;
  std::vector<jet::RowId> rows_;     // the table's rows in stored order
  int64_t pos_ = 0;                  // current position; -1 BOF, rows_.size() EOF
  bool currentDeleted_ = false;      // the current record was deleted and not moved off yet
  // A cursor kept on the current row, so that walking forwards reads each row once.
  std::unique_ptr<jet::TableCursor> cursor_;
  int64_t cursorPos_ = -1;
  Mode mode_ = Mode::None;
  std::vector<Value> buffer_;
  std::vector<bool> touched_;
};

}  // namespace dao
