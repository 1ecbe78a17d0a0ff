// The object model over the engine: collections read from the catalog, table definitions turned
// into new tables, and table-type recordsets that address rows by their position in stored order.
#include <algorithm>
#include <cstring>

#include "db/dao_impl.h"

namespace dao {

namespace {

[[noreturn]] void fail(int number, const std::string& text) { throw Error(number, text); }
[[noreturn]] void objectInvalid() { fail(jet::err::kObjectInvalid, "Object invalid or no longer set."); }
[[noreturn]] void itemNotFound() { fail(jet::err::kUnknownField, "Item not found in this collection."); }
[[noreturn]] void noCurrentRecord() { fail(jet::err::kNoCurrentRecord, "No current record."); }

bool iequals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x < 0x80 && y < 0x80) {
      if (std::tolower(x) != std::tolower(y)) return false;
    } else if (x != y) {
      return false;
    }
  }
  return true;
}

size_t utf8Length(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

FieldImpl& fieldImpl(const std::shared_ptr<FieldImpl>& impl) {
  if (!impl) objectInvalid();
  return *impl;
}

std::shared_ptr<RecordsetImpl> recordsetOf(const FieldImpl& f) {
  auto rs = f.recordset.lock();
  if (!rs) objectInvalid();
  return rs;
}

}  // namespace

// ---- Type vocabulary ------------------------------------------------------------------------

int16_t daoType(jet::ColumnType type) {
  switch (type) {
    case jet::ColumnType::Guid: return dbGUID;
    case jet::ColumnType::Numeric: return dbDecimal;
    default: return static_cast<int16_t>(type);
  }
}

bool engineType(int16_t code, jet::ColumnType& out) {
  switch (code) {
    case dbBoolean: case dbByte: case dbInteger: case dbLong: case dbCurrency: case dbSingle:
    case dbDouble: case dbDate: case dbBinary: case dbText: case dbLongBinary: case dbMemo:
      out = static_cast<jet::ColumnType>(code);
      return true;
    case dbGUID: out = jet::ColumnType::Guid; return true;
    case dbDecimal: out = jet::ColumnType::Numeric; return true;
    default: return false;
  }
}

int32_t daoSize(const jet::ColumnInfo& c, jet::Format format) {
  switch (c.type) {
    case jet::ColumnType::Boolean: return 1;
    case jet::ColumnType::Byte: return 1;
    case jet::ColumnType::Integer: return 2;
    case jet::ColumnType::Long: return 4;
    case jet::ColumnType::Currency: return 8;
    case jet::ColumnType::Single: return 4;
    case jet::ColumnType::Double: return 8;
    case jet::ColumnType::DateTime: return 8;
    case jet::ColumnType::Guid: return 16;
    case jet::ColumnType::Numeric: return 16;
    case jet::ColumnType::Memo: return 0;
    case jet::ColumnType::Ole: return 0;
    // Jet 4 keeps text as two bytes a character; the size counts characters.
    case jet::ColumnType::Text: return format == jet::Format::Jet4 ? c.length / 2 : c.length;
    default: return c.length;
  }
}

int32_t daoAttributes(const jet::ColumnInfo& c) {
  int32_t a = c.fixed ? dbFixedField : dbVariableField;
  if (c.autoNumber) a |= dbAutoIncrField;
  if (c.hyperlink) a |= dbHyperlinkField;
  return a;
}

void checkValueFits(const jet::TableInfo& table, jet::Format format, size_t index, const Value& v) {
  const jet::ColumnInfo& c = table.columns[index];
  bool tooLong = false;
  if (c.type == jet::ColumnType::Text) {
    if (auto* s = std::get_if<std::string>(&v)) tooLong = static_cast<int64_t>(utf8Length(*s)) > daoSize(c, format);
  } else if (c.type == jet::ColumnType::Binary) {
    if (auto* b = std::get_if<jet::Bytes>(&v)) tooLong = static_cast<int64_t>(b->size()) > daoSize(c, format);
  }
  if (tooLong)
    throw Error(jet::err::kTextTooLong,
                "The field is too small to accept the amount of data you attempted to add.  Try inserting or "
                "pasting less data.",
                table.name, c.name);
}

void checkRecord(const jet::TableInfo& table, const std::vector<Value>& values) {
  for (size_t i = 0; i < table.columns.size() && i < values.size(); ++i) {
    const jet::ColumnInfo& c = table.columns[i];
    if (c.autoNumber) continue;
    const Value& v = values[i];
    if (c.required && jet::isNull(v))
      throw Error(jet::err::kRequiredNull,
                  "The field '" + table.name + "." + c.name +
                      "' cannot contain a Null value because the Required property for this field is set to "
                      "True.  Enter a value in this field.",
                  table.name, c.name);
    auto* s = std::get_if<std::string>(&v);
    if (s && s->empty() && !c.allowZeroLength &&
        (c.type == jet::ColumnType::Text || c.type == jet::ColumnType::Memo))
      throw Error(jet::err::kZeroLength, "Field '" + table.name + "." + c.name + "' cannot be a zero-length string.",
                  table.name, c.name);
  }
}

// ---- Database -------------------------------------------------------------------------------

DatabaseImpl::DatabaseImpl(std::unique_ptr<jet::Database> engine, std::string name)
    : engine_(std::move(engine)), name_(std::move(name)) {}

jet::Database& DatabaseImpl::engine() {
  if (!engine_) objectInvalid();
  return *engine_;
}

void DatabaseImpl::close() {
  if (!engine_) return;
  std::unique_ptr<jet::Database> e = std::move(engine_);
  tableDefs_.clear();
  loaded_ = false;
  e->close();
}

std::vector<std::shared_ptr<TableDefImpl>>& DatabaseImpl::tableDefs() {
  jet::Database& e = engine();
  if (!loaded_) {
    std::vector<std::shared_ptr<TableDefImpl>> list;
    for (const jet::CatalogObject& o : e.objects()) {
      if (o.kind != jet::ObjectKind::Table && o.kind != jet::ObjectKind::SystemTable &&
          o.kind != jet::ObjectKind::LinkedTable)
        continue;
      auto t = std::make_shared<TableDefImpl>();
      t->db = weak_from_this();
      t->name = o.name;
      t->attributes = static_cast<int32_t>(o.flags);
      if (o.kind == jet::ObjectKind::LinkedTable) t->attributes |= dbAttachedTable;
      if (o.kind == jet::ObjectKind::SystemTable) t->attributes |= dbSystemObject;
      t->appended = true;
      list.push_back(std::move(t));
    }
    tableDefs_ = std::move(list);
    loaded_ = true;
  }
  return tableDefs_;
}

std::shared_ptr<DatabaseImpl> TableDefImpl::database() const {
  auto d = db.lock();
  if (!d) objectInvalid();
  return d;
}

std::vector<Field>& TableDefImpl::loadFields() {
  if (appended && !fieldsLoaded) {
    auto d = database();
    jet::TableInfo info = d->engine().table(name);
    jet::Format format = d->engine().format();
    fields->clear();
    for (const jet::ColumnInfo& c : info.columns) {
      auto f = std::make_shared<FieldImpl>();
      f->name = c.name;
      f->type = daoType(c.type);
      f->size = daoSize(c, format);
      f->attributes = daoAttributes(c);
      f->required = c.required;
      f->allowZeroLength = c.allowZeroLength;
      f->frozen = true;
      fields->push_back(Field(f));
    }
    fieldsLoaded = true;
  }
  return *fields;
}

std::string Database::Name() const {
  if (!impl_) objectInvalid();
  return impl_->name();
}

void Database::Close() {
  if (!impl_) objectInvalid();
  impl_->close();
}

bool Database::IsOpen() const { return impl_ && impl_->open(); }

TableDefs Database::GetTableDefs() const {
  if (!impl_) objectInvalid();
  impl_->engine();
  return TableDefs(impl_);
}

std::string Relation::Name() const { return spec_ ? spec_->name : std::string(); }
std::string Relation::Table() const { return spec_ ? spec_->table : std::string(); }
std::string Relation::ForeignTable() const { return spec_ ? spec_->foreignTable : std::string(); }
int32_t Relation::Attributes() const { return spec_ ? spec_->attributes : 0; }
int Relation::FieldCount() const { return spec_ ? static_cast<int>(spec_->columns.size()) : 0; }

void Relation::AppendField(const std::string& name, const std::string& foreignName) {
  if (!spec_) objectInvalid();
  for (const auto& c : spec_->columns)
    if (c.name.size() == name.size() &&
        std::equal(c.name.begin(), c.name.end(), name.begin(),
                   [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                               std::tolower(static_cast<unsigned char>(b)); }))
      throw Error(3367, "Cannot append. An object with that name already exists in the collection.");
  spec_->columns.push_back({name, foreignName});
}

Relation Database::CreateRelation(const std::string& name, const std::string& table, const std::string& foreignTable,
                                  int32_t attributes) {
  if (!impl_) objectInvalid();
  impl_->engine();
  Relation r;
  r.spec_ = std::make_shared<jet::NewRelationship>();
  r.spec_->name = name;
  r.spec_->table = table;
  r.spec_->foreignTable = foreignTable;
  r.spec_->attributes = attributes;
  return r;
}

void Database::AppendRelation(const Relation& relation) {
  if (!impl_ || !relation.spec_) objectInvalid();
  impl_->engine().createRelationship(*relation.spec_);
}

TableDef Database::CreateTableDef(const std::string& name) {
  if (!impl_) objectInvalid();
  impl_->engine();
  auto t = std::make_shared<TableDefImpl>();
  t->db = impl_;
  t->name = name;
  return TableDef(t);
}

Recordset Database::OpenRecordset(const std::string& tableName) {
  if (!impl_) objectInvalid();
  jet::TableInfo info = impl_->engine().table(tableName);
  auto rs = std::make_shared<RecordsetImpl>(impl_, std::move(info));
  rs->init();
  return Recordset(rs);
}

// ---- TableDefs ------------------------------------------------------------------------------

int TableDefs::Count() const {
  if (!db_) objectInvalid();
  return static_cast<int>(db_->tableDefs().size());
}

TableDef TableDefs::Item(int index) const {
  if (!db_) objectInvalid();
  auto& list = db_->tableDefs();
  if (index < 0 || index >= static_cast<int>(list.size())) itemNotFound();
  return TableDef(list[index]);
}

TableDef TableDefs::Item(const std::string& name) const {
  if (!db_) objectInvalid();
  for (auto& t : db_->tableDefs())
    if (iequals(t->name, name)) return TableDef(t);
  itemNotFound();
}

void TableDefs::Append(const TableDef& table) {
  if (!db_ || !table.impl()) objectInvalid();
  TableDefImpl& t = *table.impl();
  if (t.appended) fail(3367, "Cannot append. An object with that name already exists in the collection.");
  jet::NewTable spec;
  spec.name = t.name;
  for (const Field& f : *t.fields) {
    const FieldImpl& fi = *f.impl();
    jet::NewColumn c;
    c.name = fi.name;
    if (!engineType(fi.type, c.type)) fail(3259, "Invalid field data type.");
    c.size = fi.size;
    c.autoNumber = (fi.attributes & dbAutoIncrField) != 0;
    c.required = fi.required;
    c.allowZeroLength = fi.allowZeroLength;
    spec.columns.push_back(std::move(c));
  }
  if (spec.columns.empty()) fail(jet::err::kNoFields, "No field defined--cannot append TableDef or Index.");
  db_->engine().createTable(spec);
  t.appended = true;
  t.fieldsLoaded = false;  // read back what the file now holds
  t.db = db_;
  db_->refresh();
  // The appended object itself joins the collection, so that handles to it stay live.
  auto& list = db_->tableDefs();
  for (auto& item : list)
    if (iequals(item->name, t.name)) item = table.impl();
}

void TableDefs::Delete(const std::string& name) {
  if (!db_) objectInvalid();
  db_->engine().dropTable(name);
  auto& list = db_->tableDefs();
  list.erase(std::remove_if(list.begin(), list.end(), [&](auto& t) { return iequals(t->name, name); }),
             list.end());
}

void TableDefs::Refresh() {
  if (!db_) objectInvalid();
  db_->refresh();
}

// ---- TableDef -------------------------------------------------------------------------------

std::string TableDef::Name() const {
  if (!impl_) objectInvalid();
  return impl_->name;
}

void TableDef::SetName(const std::string& name) {
  if (!impl_) objectInvalid();
  if (impl_->appended) impl_->database()->engine().renameTable(impl_->name, name);
  impl_->name = name;
}

int32_t TableDef::Attributes() const {
  if (!impl_) objectInvalid();
  return impl_->attributes;
}

Fields TableDef::GetFields() const {
  if (!impl_) objectInvalid();
  impl_->loadFields();
  return Fields(impl_->fields, impl_);
}

Field TableDef::CreateField(const std::string& name, int16_t type, int32_t size) {
  if (!impl_) objectInvalid();
  auto f = std::make_shared<FieldImpl>();
  f->name = name;
  f->type = type;
  f->size = size;
  jet::ColumnType t;
  bool fixed = engineType(type, t) && t != jet::ColumnType::Text && t != jet::ColumnType::Memo &&
               t != jet::ColumnType::Ole && t != jet::ColumnType::Binary;
  f->attributes = fixed ? dbFixedField : dbVariableField;
  return Field(f);
}

// ---- Fields ---------------------------------------------------------------------------------

int Fields::Count() const {
  if (!items_) objectInvalid();
  return static_cast<int>(items_->size());
}

Field Fields::Item(int index) const {
  if (!items_) objectInvalid();
  if (index < 0 || index >= static_cast<int>(items_->size())) itemNotFound();
  return (*items_)[index];
}

Field Fields::Item(const std::string& name) const {
  if (!items_) objectInvalid();
  for (const Field& f : *items_)
    if (iequals(f.impl()->name, name)) return f;
  itemNotFound();
}

void Fields::Append(const Field& field) {
  if (!items_ || !field.impl()) objectInvalid();
  // Fields join a table only while it is being defined; changing a table in the file is not
  // something this object model does.
  if (!owner_ || owner_->appended || field.impl()->frozen)
    fail(jet::err::kInvalidOperation, "Invalid operation.");
  for (const Field& f : *items_)
    if (f.impl() == field.impl() || iequals(f.impl()->name, field.impl()->name))
      fail(3367, "Cannot append. An object with that name already exists in the collection.");
  items_->push_back(field);
}

// ---- Field ----------------------------------------------------------------------------------

std::string Field::Name() const { return fieldImpl(impl_).name; }
int16_t Field::Type() const { return fieldImpl(impl_).type; }
int32_t Field::Size() const { return fieldImpl(impl_).size; }
bool Field::Required() const { return fieldImpl(impl_).required; }
bool Field::AllowZeroLength() const { return fieldImpl(impl_).allowZeroLength; }

int32_t Field::Attributes() const {
  const FieldImpl& f = fieldImpl(impl_);
  // Recordset fields that may be written say so (auto-numbers may not).
  if (f.index >= 0 && !(f.attributes & dbAutoIncrField)) return f.attributes | 32;
  return f.attributes;
}

Value Field::GetValue() const {
  const FieldImpl& f = fieldImpl(impl_);
  if (f.index < 0) fail(jet::err::kInvalidOperation, "Invalid operation.");
  return recordsetOf(f)->value(f.index);
}

void Field::SetValue(const std::string& text) {
  const FieldImpl& f = fieldImpl(impl_);
  if (f.index < 0) fail(jet::err::kInvalidOperation, "Invalid operation.");
  recordsetOf(f)->setText(f.index, text);
}

void Field::SetValue(const Value& value) {
  const FieldImpl& f = fieldImpl(impl_);
  if (f.index < 0) fail(jet::err::kInvalidOperation, "Invalid operation.");
  recordsetOf(f)->setValue(f.index, value);
}

void Field::SetRequired(bool required) {
  FieldImpl& f = fieldImpl(impl_);
  if (f.frozen || f.index >= 0) fail(jet::err::kInvalidOperation, "Invalid operation.");
  f.required = required;
}

void Field::SetAllowZeroLength(bool allow) {
  FieldImpl& f = fieldImpl(impl_);
  if (f.frozen || f.index >= 0) fail(jet::err::kInvalidOperation, "Invalid operation.");
  f.allowZeroLength = allow;
}

void Field::SetAttributes(int32_t attributes) {
  FieldImpl& f = fieldImpl(impl_);
  if (f.frozen || f.index >= 0) fail(jet::err::kInvalidOperation, "Invalid operation.");
  // Whether a field is fixed or variable follows from its type; the settable bits are the rest.
  f.attributes = (f.attributes & (dbFixedField | dbVariableField)) |
                 (attributes & ~(dbFixedField | dbVariableField));
}

// ---- Recordset ------------------------------------------------------------------------------

RecordsetImpl::RecordsetImpl(std::shared_ptr<DatabaseImpl> db, jet::TableInfo info)
    : db_(std::move(db)), info_(std::move(info)) {}

void RecordsetImpl::init() {
  fields_ = std::make_shared<std::vector<Field>>();
  jet::Format format = db_->engine().format();
  for (size_t i = 0; i < info_.columns.size(); ++i) {
    const jet::ColumnInfo& c = info_.columns[i];
    auto f = std::make_shared<FieldImpl>();
    f->name = c.name;
    f->type = daoType(c.type);
    f->size = daoSize(c, format);
    f->attributes = daoAttributes(c);
    f->required = c.required;
    f->allowZeroLength = c.allowZeroLength;
    f->frozen = true;
    f->recordset = weak_from_this();
    f->index = static_cast<int>(i);
    fields_->push_back(Field(f));
  }
  readRows();
  pos_ = 0;
}

void RecordsetImpl::readRows() {
  cursor_ = db_->engine().openTable(info_.name);
  rows_.clear();
  while (cursor_->next()) rows_.push_back(cursor_->rowId());
  cursor_->rewind();
  cursorPos_ = -1;
}

void RecordsetImpl::checkOpen() const {
  if (!open_ || !db_->open()) objectInvalid();
}

void RecordsetImpl::checkCurrent() const {
  checkOpen();
  if (currentDeleted_) fail(3167, "Record is deleted.");
  if (pos_ < 0 || pos_ >= static_cast<int64_t>(rows_.size())) noCurrentRecord();
}

const std::vector<Value>& RecordsetImpl::current() {
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
  return cursor_->values();
}

Fields RecordsetImpl::fields() {
  checkOpen();
  return Fields(fields_);
}

void RecordsetImpl::moveFirst() {
  checkOpen();
  if (rows_.empty()) noCurrentRecord();
  mode_ = Mode::None;
  currentDeleted_ = false;
  pos_ = 0;
}

void RecordsetImpl::move(int64_t rows) {
  checkOpen();
  const int64_t n = static_cast<int64_t>(rows_.size());
  if (rows == 0) {
    checkCurrent();
    return;
  }
  int64_t from = pos_;
  // After a delete the current position already names the next record.
  if (currentDeleted_ && rows > 0) --from;
  if ((rows > 0 && from >= n) || (rows < 0 && from < 0) || (n == 0 && !currentDeleted_)) noCurrentRecord();
  mode_ = Mode::None;
  currentDeleted_ = false;
  pos_ = std::clamp<int64_t>(from + rows, -1, n);
}

void RecordsetImpl::addNew() {
  checkOpen();
  buffer_.assign(info_.columns.size(), Value(jet::Null{}));
  touched_.assign(info_.columns.size(), false);
  for (size_t i = 0; i < info_.columns.size(); ++i)
    if (info_.columns[i].autoNumber && info_.columns[i].type == jet::ColumnType::Long)
      buffer_[i] = static_cast<int64_t>(db_->engine().nextAutoNumber(info_.name));
  mode_ = Mode::Add;
}

void RecordsetImpl::edit() {
  checkCurrent();
  buffer_ = current();
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
  checkRecord(info_, buffer_);
  jet::Database& e = db_->engine();
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
    const std::vector<Value>& before = current();
    for (size_t i = 0; i < buffer_.size(); ++i)
      if (touched_[i] && !(buffer_[i] == before[i])) changed = true;
    // An unchanged record is not written at all, so saving it changes nothing in the file. A
    // refused write keeps the edit open, as it was.
    if (changed) {
      e.updateRow(info_.name, rows_[pos_], buffer_);
      cursor_.reset();
      cursorPos_ = -1;
    }
    mode_ = Mode::None;
  }
}

void RecordsetImpl::remove() {
  checkCurrent();
  if (mode_ != Mode::None) mode_ = Mode::None;
  db_->engine().deleteRow(info_.name, rows_[pos_]);
  rows_.erase(rows_.begin() + pos_);
  cursor_.reset();
  cursorPos_ = -1;
  currentDeleted_ = true;
}

void RecordsetImpl::close() {
  checkOpen();
  open_ = false;
  cursor_.reset();
  rows_.clear();
}

Value RecordsetImpl::value(int index) {
  checkOpen();
  if (mode_ != Mode::None) return buffer_[index];
  return current()[index];
}

void RecordsetImpl::setText(int index, const std::string& text) {
  checkOpen();
  if (mode_ == Mode::None)
    fail(jet::err::kUpdateWithoutEdit, "Update or CancelUpdate without AddNew or Edit.");
  const jet::ColumnInfo& c = info_.columns[index];
  if (c.autoNumber) fail(jet::err::kCannotUpdateField, "Field cannot be updated.");
  // The text form of the value already held reads as that very value, bit for bit.
  if (!jet::isNull(buffer_[index]) && jet::toText(buffer_[index]) == text) {
    touched_[index] = true;
    return;
  }
  Value v = jet::fromText(c.type, text, c.scale);
  if (auto* d = std::get_if<jet::Decimal>(&v)) d->precision = c.precision ? c.precision : d->precision;
  checkValueFits(info_, db_->engine().format(), index, v);
  buffer_[index] = std::move(v);
  touched_[index] = true;
}

void RecordsetImpl::setValue(int index, const Value& value) {
  checkOpen();
  if (mode_ == Mode::None)
    fail(jet::err::kUpdateWithoutEdit, "Update or CancelUpdate without AddNew or Edit.");
  const jet::ColumnInfo& c = info_.columns[index];
  if (c.autoNumber) fail(jet::err::kCannotUpdateField, "Field cannot be updated.");
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
  checkValueFits(info_, db_->engine().format(), index, v);
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
