// The table-type recordset behind the Recordset handle: rows addressed by their position in
// stored order, an edit buffer, and the record save through the field rules.
#pragma once

#include <memory>
#include <vector>

#include "db/dao_impl.h"

namespace dao {

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
  // The current record's values of a complex field (none while adding a record).
  jet::ComplexValue complexValue(int index);
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
  // Readers of the complex fields' hidden tables, by field position, opened on first use.
  std::vector<std::unique_ptr<jet::ComplexValues>> complex_;
};

}  // namespace dao
