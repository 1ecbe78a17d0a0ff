#include <algorithm>

#include "db/field_rules.h"
#include "db/recordset_impl.h"
#include "jet/row_rules.h"

namespace dao {

namespace {

[[noreturn]] void fail(int number, const std::string& text) { throw Error(number, text); }
[[noreturn]] void objectInvalid() { fail(jet::err::kObjectInvalid, "Object invalid or no longer set."); }
[[noreturn]] void noCurrentRecord() { fail(jet::err::kNoCurrentRecord, "No current record."); }

}  // namespace

RecordsetImpl::RecordsetImpl(std::shared_ptr<DatabaseImpl> db, jet::TableInfo info)
    : db_(std::move(db)), info_(std::move(info)) {}

void RecordsetImpl::init() {
  fields_ = std::make_shared<std::vector<Field>>();
  jet::Format format = db_->engine().format();
  for (size_t i = 0; i < info_.columns.size(); ++i) {
    auto f = storedField(info_.columns[i], format);
    f->recordset = weak_from_this();
    f->index = static_cast<int>(i);
    fields_->push_back(Field(f));
  }
  cursor_ = db_->engine().openTable(info_.name);
  cursorPos_ = -1;
  rows_.clear();
  allRows_ = false;
  pos_ = 0;
  valuesAt_ = -1;
  generation_ = db_->engine().generation();
}

void RecordsetImpl::followChanges() {
  if (!db_->open()) return;
  jet::Database& e = db_->engine();
  if (e.generation() == generation_) return;
  generation_ = e.generation();
  cursor_.reset();
  cursorPos_ = -1;
  rows_.clear();
  allRows_ = false;
  valuesAt_ = -1;
  complex_.clear();
}

void RecordsetImpl::readRows() {
  cursor_ = db_->engine().openTable(info_.name);
  cursorPos_ = -1;
  rows_.clear();
  allRows_ = false;
  valuesAt_ = -1;
  readAll();
}

bool RecordsetImpl::reach(int64_t pos) {
  if (pos < 0) return false;
  // A closed database is not read; what was collected stays.
  if (!db_->open()) return pos < static_cast<int64_t>(rows_.size());
  // One read operation for the whole walk: one committed state, and one lock however many rows.
  auto reading = db_->engine().readOperation();
  followChanges();
  while (static_cast<int64_t>(rows_.size()) <= pos) {
    if (allRows_) return false;
    // The cursor collects from the last row collected; it may have been sent back to read an
    // earlier row.
    const int64_t last = static_cast<int64_t>(rows_.size()) - 1;
    if (!cursor_ || cursorPos_ > last) {
      if (!cursor_) cursor_ = db_->engine().openTable(info_.name);
      cursor_->rewind();
      cursorPos_ = -1;
    }
    while (cursorPos_ < last) {
      if (!cursor_->next()) noCurrentRecord();
      ++cursorPos_;
    }
    if (!cursor_->next()) {
      allRows_ = true;
      cursor_->rewind();
      cursorPos_ = -1;
      return false;
    }
    ++cursorPos_;
    rows_.push_back(cursor_->rowId());
  }
  return true;
}

std::optional<bool> RecordsetImpl::known(int64_t pos) const {
  if (pos < 0) return false;
  const bool open = db_->open();
  if (open && db_->engine().generation() != generation_) return std::nullopt;
  if (pos < static_cast<int64_t>(rows_.size())) return true;
  if (allRows_ || !open) return false;
  return std::nullopt;
}

void RecordsetImpl::keepCurrentValues() {
  valuesAt_ = -1;
  if (pos_ < 0 || pos_ >= static_cast<int64_t>(rows_.size())) return;
  try {
    current();
  } catch (const Error&) {
  }
}

int32_t RecordsetImpl::recordCount() {
  readAll();
  return static_cast<int32_t>(rows_.size());
}

void RecordsetImpl::checkOpen() const {
  if (!open_ || !db_->open()) objectInvalid();
}

void RecordsetImpl::checkCurrent() {
  checkOpen();
  if (currentDeleted_) fail(jet::err::kRecordDeleted, "Record is deleted.");
  if (!reach(pos_)) noCurrentRecord();
}

const std::vector<Value>& RecordsetImpl::current() {
  checkOpen();
  if (currentDeleted_) fail(jet::err::kRecordDeleted, "Record is deleted.");
  if (valuesAt_ == pos_ && known(pos_) == true) return values_;
  auto reading = db_->engine().readOperation();
  checkCurrent();
  if (!cursor_) {
    cursor_ = db_->engine().openTable(info_.name);
    cursorPos_ = -1;
  }
  if (cursorPos_ > pos_) {
    cursor_->rewind();
    cursorPos_ = -1;
  }
  while (cursorPos_ < pos_) {
    if (!cursor_->next()) noCurrentRecord();
    ++cursorPos_;
  }
  values_ = cursor_->values();
  valuesAt_ = pos_;
  return values_;
}

Fields RecordsetImpl::fields() {
  checkOpen();
  return Fields(fields_);
}

void RecordsetImpl::moveFirst() {
  checkOpen();
  auto reading = db_->engine().readOperation();
  if (!reach(0)) noCurrentRecord();
  mode_ = Mode::None;
  currentDeleted_ = false;
  pos_ = 0;
  keepCurrentValues();
}

void RecordsetImpl::move(int64_t rows) {
  checkOpen();
  // One read operation: the rows up to the target and its values, in one committed state.
  auto reading = db_->engine().readOperation();
  if (rows == 0) {
    checkCurrent();
    return;
  }
  int64_t from = pos_;
  // After a delete the current position already names the next record.
  if (currentDeleted_ && rows > 0) --from;
  // Rows are collected up to the target, or to the end when it lies beyond the last.
  const bool inside = reach(std::max<int64_t>(from + rows, 0));
  const int64_t n = inside ? INT64_MAX : static_cast<int64_t>(rows_.size());
  if ((rows > 0 && from >= n) || (rows < 0 && from < 0) || (n == 0 && !currentDeleted_)) noCurrentRecord();
  mode_ = Mode::None;
  currentDeleted_ = false;
  pos_ = std::clamp<int64_t>(from + rows, -1, n);
  keepCurrentValues();
}

void RecordsetImpl::addNew() {
  checkOpen();
  // A new record starts from the fields' default values.
  buffer_ = db_->engine().defaultValues(info_.name);
  buffer_.resize(info_.columns.size(), Value(jet::Null{}));
  touched_.assign(info_.columns.size(), false);
  for (size_t i = 0; i < info_.columns.size(); ++i)
    if (info_.columns[i].autoNumber && info_.columns[i].type == jet::ColumnType::Long)
      buffer_[i] = static_cast<int64_t>(db_->engine().nextAutoNumber(info_.name));
  mode_ = Mode::Add;
}

void RecordsetImpl::edit() {
  checkCurrent();
  buffer_ = current();
  editRow_ = rows_[pos_];
  editBefore_ = buffer_;
  touched_.assign(info_.columns.size(), false);
  mode_ = Mode::Edit;
}

void RecordsetImpl::cancelUpdate() {
  checkOpen();
  if (mode_ == Mode::None)
    fail(jet::err::kUpdateWithoutEdit, "Update or CancelUpdate without AddNew or Edit.");
  mode_ = Mode::None;
}

void RecordsetImpl::update() {
  checkOpen();
  if (mode_ == Mode::None)
    fail(jet::err::kUpdateWithoutEdit, "Update or CancelUpdate without AddNew or Edit.");
  jet::checkRow(info_, buffer_);
  jet::Database& e = db_->engine();
  // The writer's turn from here: what is read below is what the write changes.
  auto turn = e.writeOperation();
  // Positions must name the same rows after the write: every address is collected first.
  readAll();
  if (mode_ == Mode::Add) {
    jet::RowId keep = pos_ >= 0 && pos_ < static_cast<int64_t>(rows_.size()) ? rows_[pos_] : jet::RowId{};
    bool hadCurrent = pos_ >= 0 && pos_ < static_cast<int64_t>(rows_.size()) && !currentDeleted_;
    e.insertRow(info_.name, buffer_);
    mode_ = Mode::None;
    // The new row's place in stored order is wherever the engine put it: read the order again
    // and stay on the record that was current before AddNew.
    readRows();
    if (hadCurrent) {
      auto it = std::find(rows_.begin(), rows_.end(), keep);
      pos_ = it == rows_.end() ? 0 : it - rows_.begin();
    }
  } else {
    bool changed = false;
    for (size_t i = 0; i < buffer_.size(); ++i)
      if (touched_[i] && !(buffer_[i] == editBefore_[i])) changed = true;
    // A record another program changed or deleted since the edit began is not overwritten.
    auto it = std::find(rows_.begin(), rows_.end(), editRow_);
    if (changed && (it == rows_.end() || (pos_ = it - rows_.begin(), current() != editBefore_)))
      fail(jet::err::kWriteConflict,
           "The Microsoft Jet database engine stopped the process because you and another user are attempting "
           "to change the same data at the same time.");
    // An unchanged record is not written at all, so saving it changes nothing in the file. A
    // refused write keeps the edit open, as it was.
    if (changed) {
      e.updateRow(info_.name, editRow_, buffer_);
      cursor_.reset();
      cursorPos_ = -1;
      valuesAt_ = -1;
    }
    mode_ = Mode::None;
  }
}

void RecordsetImpl::remove() {
  checkCurrent();
  readAll();
  if (mode_ != Mode::None) mode_ = Mode::None;
  db_->engine().deleteRow(info_.name, rows_[pos_]);
  rows_.erase(rows_.begin() + pos_);
  cursor_.reset();
  cursorPos_ = -1;
  valuesAt_ = -1;
  currentDeleted_ = true;
}

void RecordsetImpl::close() {
  checkOpen();
  open_ = false;
  cursor_.reset();
  rows_.clear();
  values_.clear();
  valuesAt_ = -1;
}

Value RecordsetImpl::value(int index) {
  checkOpen();
  if (info_.columns[index].type == jet::ColumnType::Complex) return jet::complexText(complexValue(index), "; ");
  if (mode_ != Mode::None) return buffer_[index];
  return current()[index];
}

const std::vector<Value>& RecordsetImpl::values() {
  checkOpen();
  return mode_ != Mode::None ? buffer_ : current();
}

jet::ComplexValue RecordsetImpl::complexValue(int index) {
  checkOpen();
  // The key stays what the record holds while it is edited; a new record has none yet.
  const Value key = mode_ != Mode::None ? buffer_[index] : current()[index];
  if (jet::isNull(key)) return {};
  if (complex_.size() != info_.columns.size()) complex_.resize(info_.columns.size());
  auto& reader = complex_[static_cast<size_t>(index)];
  if (!reader) reader = db_->engine().complexValues(info_.name, info_.columns[index].name);
  return reader->of(key);
}

void RecordsetImpl::setText(int index, const std::string& text) {
  checkOpen();
  if (mode_ == Mode::None)
    fail(jet::err::kUpdateWithoutEdit, "Update or CancelUpdate without AddNew or Edit.");
  const jet::ColumnInfo& c = info_.columns[index];
  if (c.autoNumber || c.type == jet::ColumnType::Complex)
    fail(jet::err::kCannotUpdateField, "Field cannot be updated.");
  // The text form of the value already held reads as that very value, bit for bit.
  if (!jet::isNull(buffer_[index]) && jet::toText(buffer_[index]) == text) {
    touched_[index] = true;
    return;
  }
  // A calculated field holds the result of its expression and takes no other value.
  if (c.calculated) {
    if (jet::isNull(buffer_[index]) && text.empty()) return;
    fail(jet::err::kCannotUpdateField, "Field cannot be updated.");
  }
  Value v = jet::fromText(c.type, text, c.scale);
  if (auto* d = std::get_if<jet::Decimal>(&v)) d->precision = c.precision ? c.precision : d->precision;
  jet::checkValueFits(info_, db_->engine().format(), index, v);
  buffer_[index] = std::move(v);
  touched_[index] = true;
}

void RecordsetImpl::setValue(int index, const Value& value) {
  checkOpen();
  if (mode_ == Mode::None)
    fail(jet::err::kUpdateWithoutEdit, "Update or CancelUpdate without AddNew or Edit.");
  const jet::ColumnInfo& c = info_.columns[index];
  if (c.autoNumber || c.type == jet::ColumnType::Complex)
    fail(jet::err::kCannotUpdateField, "Field cannot be updated.");
  if (c.calculated && value != buffer_[index]) fail(jet::err::kCannotUpdateField, "Field cannot be updated.");
  if (jet::isNull(value)) {
    buffer_[index] = value;
    touched_[index] = true;
    return;
  }
  Value v;
  if (auto* s = std::get_if<std::string>(&value)) {
    setText(index, *s);
    return;
  }
  if (auto* b = std::get_if<bool>(&value); b && c.type != jet::ColumnType::Boolean &&
                                             c.type != jet::ColumnType::Text && c.type != jet::ColumnType::Memo) {
    // A Boolean counts as -1 or 0 in a number.
    v = jet::fromText(c.type, *b ? "-1" : "0", c.scale);
  } else {
    const bool text = c.type == jet::ColumnType::Text || c.type == jet::ColumnType::Memo;
    v = text ? Value(jet::toText(value)) : jet::fromText(c.type, jet::toText(value), c.scale);
    // Values given in the column's own type are kept as they are (no trip through text).
    if (value.index() == v.index() && !std::holds_alternative<jet::Decimal>(value)) v = value;
  }
  jet::checkValueFits(info_, db_->engine().format(), index, v);
  buffer_[index] = std::move(v);
  touched_[index] = true;
}

Fields Recordset::GetFields() const {
  if (!impl_) objectInvalid();
  return impl_->fields();
}
bool Recordset::EOF_() const {
  if (!impl_) objectInvalid();
  return impl_->eof();
}
bool Recordset::BOF_() const {
  if (!impl_) objectInvalid();
  return impl_->bof();
}
void Recordset::MoveFirst() {
  if (!impl_) objectInvalid();
  impl_->moveFirst();
}
void Recordset::MoveNext() {
  if (!impl_) objectInvalid();
  impl_->move(1);
}
void Recordset::Move(int32_t rows) {
  if (!impl_) objectInvalid();
  impl_->move(rows);
}
int32_t Recordset::RecordCount() const {
  if (!impl_) objectInvalid();
  return impl_->recordCount();
}
const std::vector<Value>& Recordset::CurrentValues() const {
  if (!impl_) objectInvalid();
  return impl_->values();
}
void Recordset::AddNew() {
  if (!impl_) objectInvalid();
  impl_->addNew();
}
void Recordset::Edit() {
  if (!impl_) objectInvalid();
  impl_->edit();
}
void Recordset::Update(int32_t, bool) {
  if (!impl_) objectInvalid();
  impl_->update();
}
void Recordset::CancelUpdate() {
  if (!impl_) objectInvalid();
  impl_->cancelUpdate();
}
void Recordset::Delete() {
  if (!impl_) objectInvalid();
  impl_->remove();
}
void Recordset::Close() {
  if (!impl_) objectInvalid();
  impl_->close();
}

}  // namespace dao
