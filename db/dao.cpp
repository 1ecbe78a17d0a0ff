// The object model over the engine: collections read from the catalog, table definitions turned
// into new tables, fields, and the handles that reach the recordset (recordset.cpp).
#include <algorithm>

#include "db/dao_impl.h"
#include "db/field_rules.h"
#include "db/recordset_impl.h"
#include "jet/base/names.h"

namespace dao {

namespace {

[[noreturn]] void fail(int number, const std::string& text) { throw Error(number, text); }
[[noreturn]] void objectInvalid() { fail(jet::err::kObjectInvalid, "Object invalid or no longer set."); }
[[noreturn]] void itemNotFound() { fail(jet::err::kUnknownField, "Item not found in this collection."); }

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
  auto reading = e.readOperation();  // notices another program's commit; the list read in one state
  if (e.generation() != generation_) loaded_ = false;
  if (!loaded_) {
    generation_ = e.generation();
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

std::shared_ptr<FieldImpl> storedField(const jet::ColumnInfo& column, jet::Format format) {
  auto f = std::make_shared<FieldImpl>();
  f->name = column.name;
  f->type = daoType(column);
  f->size = daoSize(column, format);
  f->attributes = daoAttributes(column);
  f->required = column.required;
  f->allowZeroLength = column.allowZeroLength;
  f->calculated = column.calculated;
  f->defaultValue = column.defaultValue;
  f->validationRule = column.validationRule;
  f->validationText = column.validationText;
  f->expression = column.expression;
  f->frozen = true;
  return f;
}

jet::NewColumn newColumn(const FieldImpl& field) {
  jet::NewColumn c;
  c.name = field.name;
  if (!engineType(field.type, c.type)) fail(jet::err::kInvalidFieldSize, "Invalid field data type.");
  c.size = field.size;
  c.autoNumber = (field.attributes & dbAutoIncrField) != 0;
  c.required = field.required;
  c.allowZeroLength = field.allowZeroLength;
  c.defaultValue = field.defaultValue;
  c.validationRule = field.validationRule;
  c.validationText = field.validationText;
  c.expression = field.expression;
  return c;
}

std::vector<Field>& TableDefImpl::loadFields() {
  if (appended && !fieldsLoaded) {
    auto d = database();
    jet::TableInfo info = d->engine().table(name);
    jet::Format format = d->engine().format();
    fields->clear();
    for (const jet::ColumnInfo& c : info.columns) fields->push_back(Field(storedField(c, format)));
    validationRule = info.validationRule;
    validationText = info.validationText;
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

bool Database::Updatable() const { return impl_ && impl_->open() && !impl_->engine().readOnly(); }

std::string Database::OpenElsewhereBy() const {
  if (!impl_ || !impl_->open()) return {};
  const auto other = impl_->engine().otherJetUser();
  return other ? "user '" + other->user + "' on machine '" + other->machine + "'" : std::string();
}

std::shared_ptr<jet::ReadOperation> Database::Reading() const {
  if (!impl_ || !impl_->open()) return nullptr;
  return impl_->engine().readOperation();
}

TableDefs Database::GetTableDefs() const {
  if (!impl_) objectInvalid();
  impl_->engine();
  return TableDefs(impl_);
}

std::string Relation::Name() const { return outline_ ? outline_->name : std::string(); }
std::string Relation::Table() const { return outline_ ? outline_->table : std::string(); }
std::string Relation::ForeignTable() const { return outline_ ? outline_->foreignTable : std::string(); }
int32_t Relation::Attributes() const { return outline_ ? outline_->attributes : 0; }
int Relation::FieldCount() const { return outline_ ? static_cast<int>(outline_->columns.size()) : 0; }

void Relation::AppendField(const std::string& name, const std::string& foreignName) {
  if (!outline_) objectInvalid();
  for (const auto& c : outline_->columns)
    if (jet::sameName(c.name, name))
      throw Error(jet::err::kNameInCollection, "Cannot append. An object with that name already exists in the collection.");
  outline_->columns.push_back({name, foreignName});
}

Relation Database::CreateRelation(const std::string& name, const std::string& table, const std::string& foreignTable,
                                  int32_t attributes) {
  if (!impl_) objectInvalid();
  impl_->engine();
  Relation r;
  r.outline_ = std::make_shared<jet::NewRelationship>();
  r.outline_->name = name;
  r.outline_->table = table;
  r.outline_->foreignTable = foreignTable;
  r.outline_->attributes = attributes;
  return r;
}

void Database::AppendRelation(const Relation& relation) {
  if (!impl_ || !relation.outline_) objectInvalid();
  impl_->engine().createRelationship(*relation.outline_);
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
    if (jet::sameName(t->name, name)) return TableDef(t);
  itemNotFound();
}

void TableDefs::Append(const TableDef& table) {
  if (!db_ || !table.impl()) objectInvalid();
  TableDefImpl& t = *table.impl();
  if (t.appended) fail(jet::err::kNameInCollection, "Cannot append. An object with that name already exists in the collection.");
  jet::NewTable outline;
  outline.name = t.name;
  for (const Field& f : *t.fields) {
    outline.columns.push_back(newColumn(*f.impl()));
  }
  outline.validationRule = t.validationRule;
  outline.validationText = t.validationText;
  if (outline.columns.empty()) fail(jet::err::kNoFields, "No field defined--cannot append TableDef or Index.");
  db_->engine().createTable(outline);
  t.appended = true;
  t.fieldsLoaded = false;  // read back what the file now holds
  t.db = db_;
  db_->refresh();
  // The appended object itself joins the collection, so that handles to it stay live.
  auto& list = db_->tableDefs();
  for (auto& item : list)
    if (jet::sameName(item->name, t.name)) item = table.impl();
}

void TableDefs::Delete(const std::string& name) {
  if (!db_) objectInvalid();
  db_->engine().dropTable(name);
  auto& list = db_->tableDefs();
  list.erase(std::remove_if(list.begin(), list.end(), [&](auto& t) { return jet::sameName(t->name, name); }),
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

std::string TableDef::ValidationRule() const {
  if (!impl_) objectInvalid();
  impl_->loadFields();
  return impl_->validationRule;
}

std::string TableDef::ValidationText() const {
  if (!impl_) objectInvalid();
  impl_->loadFields();
  return impl_->validationText;
}

void TableDef::SetValidationRule(const std::string& expression) {
  if (!impl_) objectInvalid();
  if (impl_->appended) fail(jet::err::kInvalidOperation, "Invalid operation.");
  impl_->validationRule = expression;
}

void TableDef::SetValidationText(const std::string& text) {
  if (!impl_) objectInvalid();
  if (impl_->appended) fail(jet::err::kInvalidOperation, "Invalid operation.");
  impl_->validationText = text;
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
    if (jet::sameName(f.impl()->name, name)) return f;
  itemNotFound();
}

void Fields::Append(const Field& field) {
  if (!items_ || !field.impl()) objectInvalid();
  // Fields join a table only while it is being defined; changing a table in the file is not
  // something this object model does.
  if (!owner_ || owner_->appended || field.impl()->frozen)
    fail(jet::err::kInvalidOperation, "Invalid operation.");
  for (const Field& f : *items_)
    if (f.impl() == field.impl() || jet::sameName(f.impl()->name, field.impl()->name))
      fail(jet::err::kNameInCollection, "Cannot append. An object with that name already exists in the collection.");
  items_->push_back(field);
}

// ---- Field ----------------------------------------------------------------------------------

std::string Field::Name() const { return fieldImpl(impl_).name; }
int16_t Field::Type() const { return fieldImpl(impl_).type; }
int32_t Field::Size() const { return fieldImpl(impl_).size; }
bool Field::Required() const { return fieldImpl(impl_).required; }
bool Field::AllowZeroLength() const { return fieldImpl(impl_).allowZeroLength; }
bool Field::Calculated() const { return fieldImpl(impl_).calculated; }
std::string Field::DefaultValue() const { return fieldImpl(impl_).defaultValue; }
std::string Field::ValidationRule() const { return fieldImpl(impl_).validationRule; }
std::string Field::ValidationText() const { return fieldImpl(impl_).validationText; }
std::string Field::Expression() const { return fieldImpl(impl_).expression; }

int32_t Field::Attributes() const {
  const FieldImpl& f = fieldImpl(impl_);
  // Recordset fields that may be written say so (auto-numbers, complex and calculated fields may not).
  if (f.index >= 0 && !(f.attributes & dbAutoIncrField) && !isComplexType(f.type) && !f.calculated)
    return f.attributes | 32;
  return f.attributes;
}

Value Field::GetValue() const {
  const FieldImpl& f = fieldImpl(impl_);
  if (f.index < 0) fail(jet::err::kInvalidOperation, "Invalid operation.");
  return recordsetOf(f)->value(f.index);
}

jet::ComplexValue Field::GetComplexValue() const {
  const FieldImpl& f = fieldImpl(impl_);
  if (f.index < 0 || !isComplexType(f.type)) fail(jet::err::kInvalidOperation, "Invalid operation.");
  return recordsetOf(f)->complexValue(f.index);
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

namespace {

// A definition property of a field not yet in the file.
std::string& definitionText(const std::shared_ptr<FieldImpl>& impl, std::string FieldImpl::*member) {
  FieldImpl& f = fieldImpl(impl);
  if (f.frozen || f.index >= 0) fail(jet::err::kInvalidOperation, "Invalid operation.");
  return f.*member;
}

}  // namespace

void Field::SetDefaultValue(const std::string& e) { definitionText(impl_, &FieldImpl::defaultValue) = e; }
void Field::SetValidationRule(const std::string& e) { definitionText(impl_, &FieldImpl::validationRule) = e; }
void Field::SetValidationText(const std::string& t) { definitionText(impl_, &FieldImpl::validationText) = t; }
void Field::SetExpression(const std::string& e) {
  definitionText(impl_, &FieldImpl::expression) = e;
  fieldImpl(impl_).calculated = !e.empty();
}

void Field::SetAttributes(int32_t attributes) {
  FieldImpl& f = fieldImpl(impl_);
  if (f.frozen || f.index >= 0) fail(jet::err::kInvalidOperation, "Invalid operation.");
  // Whether a field is fixed or variable follows from its type; the settable bits are the rest.
  f.attributes = (f.attributes & (dbFixedField | dbVariableField)) |
                 (attributes & ~(dbFixedField | dbVariableField));
}

}  // namespace dao
