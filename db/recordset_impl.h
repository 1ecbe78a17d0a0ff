// The table-type recordset behind the Recordset handle: rows addressed by their position in
// stored order, an edit buffer, and the record save through the field rules. Row addresses are
// collected as the recordset walks forward (opening one reads no rows); the count, a jump past the
// rows seen and every write collect the rest. When another program has committed a change to the
// file, the next move starts collecting afresh (counts and rows current), and an edit begun before
// it is saved only if its record is still as it was when the edit began (else 3197).
//
// Each move is one read operation, which also reads the new current record's values. EOF, BOF and
// the current values are then answered from what the move collected, without touching the file,
// until the next move (or until this program has noticed another's commit some other way).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "db/dao_impl.h"

namespace dao {

class RecordsetImpl : public std::enable_shared_from_this<RecordsetImpl> {
 public:
  RecordsetImpl(std::shared_ptr<DatabaseImpl> db, jet::TableInfo info);

  void init();  // builds the fields and opens the table
  Fields fields();
  bool eof() { return open_ && pos_ >= 0 && !has(pos_); }
  bool bof() { return open_ && (pos_ < 0 || !has(0)); }
  void moveFirst();
  void move(int64_t rows);
  int32_t recordCount();
  void addNew();
  void edit();
  void update();
  void cancelUpdate();
  void remove();
  void close();

  Value value(int index);
  const std::vector<Value>& values();
  // The current record's values of a complex field (none while adding a record).
  jet::ComplexValue complexValue(int index);
  void setValue(int index, const Value& value);
  void setText(int index, const std::string& text);

 private:
  enum class Mode { None, Add, Edit };
  void checkOpen() const;
  void checkCurrent();
  const std::vector<Value>& current();
  void readRows();
  // True when the row at `pos` exists, collecting addresses up to it; false past the last row.
  bool reach(int64_t pos);
  void readAll() { reach(INT64_MAX - 1); }
  // Whether the row at `pos` exists as far as the rows collected tell, without a read operation;
  // nothing when they do not (beyond them, or collected before a commit this program has noticed).
  std::optional<bool> known(int64_t pos) const;
  bool has(int64_t pos) {
    const std::optional<bool> k = known(pos);
    return k ? *k : reach(pos);
  }
  // Inside a move's read operation: keeps the new current record's values (a record that cannot
  // be read is left for current() to report).
  void keepCurrentValues();
  // Inside a read operation: starts collecting afresh when the engine has found another program's
  // commit since.
  void followChanges();

  std::shared_ptr<DatabaseImpl> db_;
  jet::TableInfo info_;
  bool open_ = true;
  std::shared_ptr<std::vector<Field>> fields_;
  std::vector<jet::RowId> rows_;     // the table's rows in stored order, as far as collected
  bool allRows_ = false;             // rows_ holds every row of the table
  int64_t pos_ = 0;                  // current position; -1 BOF, rows_.size() EOF once allRows_
  bool currentDeleted_ = false;      // the current record was deleted and not moved off yet
  // A cursor kept on the current row, so that walking forwards reads each row once.
  std::unique_ptr<jet::TableCursor> cursor_;
  int64_t cursorPos_ = -1;
  uint64_t generation_ = 0;          // the engine's generation the collected rows belong to
  std::vector<Value> values_;        // the values of the record at valuesAt_ (-1: none kept)
  int64_t valuesAt_ = -1;
  Mode mode_ = Mode::None;
  jet::RowId editRow_{};             // the record being edited, and its values when the edit began
  std::vector<Value> editBefore_;
  std::vector<Value> buffer_;
  std::vector<bool> touched_;
  // Readers of the complex fields' hidden tables, by field position, opened on first use.
  std::vector<std::unique_ptr<jet::ComplexValues>> complex_;
};

}  // namespace dao
