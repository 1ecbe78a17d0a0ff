// The DAO-shaped object model over the engine: DBEngine, Database, TableDefs, TableDef, Fields,
// Field and Recordset, with DAO's names, type codes, attribute bits and error numbers, so that the
// windows drive it exactly as they would drive DAO.
//
// Objects are handles (shared pointers inside); copying a handle refers to the same object.
// Every failure throws dao::Error with DAO's number and description.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/complex_value.h"
#include "jet/base/error.h"
#include "jet/base/schema.h"
#include "jet/base/value.h"

namespace jet {
class ReadOperation;
}

namespace dao {

using Value = jet::Value;
using Error = jet::Error;

// Field type codes.
constexpr int16_t dbBoolean = 1;
constexpr int16_t dbByte = 2;
constexpr int16_t dbInteger = 3;
constexpr int16_t dbLong = 4;
constexpr int16_t dbCurrency = 5;
constexpr int16_t dbSingle = 6;
constexpr int16_t dbDouble = 7;
constexpr int16_t dbDate = 8;
constexpr int16_t dbBinary = 9;
constexpr int16_t dbText = 10;
constexpr int16_t dbLongBinary = 11;
constexpr int16_t dbMemo = 12;
constexpr int16_t dbGUID = 15;
constexpr int16_t dbBigInt = 16;  // Large Number
constexpr int16_t dbDecimal = 20;
// Date/Time Extended has no DAO code; this one is ours, chosen among the codes DAO leaves unused
// (DAO's are 1-12, 15-23 and 101-109).
constexpr int16_t dbDateTimeExtended = 26;
// Complex fields: attachments, and multi-valued fields by the type of their values.
constexpr int16_t dbAttachment = 101;
constexpr int16_t dbComplexByte = 102;
constexpr int16_t dbComplexInteger = 103;
constexpr int16_t dbComplexLong = 104;
constexpr int16_t dbComplexSingle = 105;
constexpr int16_t dbComplexDouble = 106;
constexpr int16_t dbComplexGUID = 107;
constexpr int16_t dbComplexDecimal = 108;
constexpr int16_t dbComplexText = 109;

// Whether a field of this type holds complex values (read-only here).
constexpr bool isComplexType(int16_t type) { return type >= dbAttachment && type <= dbComplexText; }

// Field attributes.
constexpr int32_t dbFixedField = 1;
constexpr int32_t dbVariableField = 2;
constexpr int32_t dbAutoIncrField = 16;
constexpr int32_t dbSystemField = 8192;
constexpr int32_t dbHyperlinkField = 32768;

// Table attributes.
constexpr int32_t dbSystemObject = static_cast<int32_t>(jet::kSystemObjectFlags);
constexpr int32_t dbHiddenObject = 1;
constexpr int32_t dbAttachedTable = 0x40000000;

// Relation attributes.
constexpr int32_t dbRelationUnique = jet::kRelationUnique;
constexpr int32_t dbRelationDontEnforce = jet::kRelationDontEnforce;
constexpr int32_t dbRelationUpdateCascade = jet::kRelationUpdateCascade;
constexpr int32_t dbRelationDeleteCascade = jet::kRelationDeleteCascade;

// CreateDatabase options and Update types.
constexpr int32_t dbVersion30 = 32;
constexpr int32_t dbVersion40 = 64;
constexpr int32_t dbVersion120 = 128;  // Access 2007 (.accdb)
constexpr int32_t dbVersion140 = 256;  // Access 2010
// DAO has no constants for the two newest file versions; these are this object model's own.
constexpr int32_t dbVersion160 = 1024;  // Access 2016 (also written by Access 2013 and later)
constexpr int32_t dbVersion170 = 2048;  // Access 2019 and 365
constexpr int32_t dbUpdateRegular = 1;

class DatabaseImpl;
class TableDefImpl;
class FieldImpl;
class RecordsetImpl;

// A field of a table definition, or of a recordset (where Value is the current record's).
class Field {
 public:
  Field() = default;
  explicit Field(std::shared_ptr<FieldImpl> impl) : impl_(std::move(impl)) {}

  std::string Name() const;
  int16_t Type() const;
  int32_t Size() const;
  int32_t Attributes() const;
  bool Required() const;
  bool AllowZeroLength() const;
  // A calculated field (Access 2010 and later) holds its expression's result: shown, never written.
  bool Calculated() const;
  // Access expressions of the definition: the default value ("0", "\"none\"", "Date()"), the
  // validation rule (">0 And <1000") and its message, and a calculated field's expression.
  std::string DefaultValue() const;
  std::string ValidationRule() const;
  std::string ValidationText() const;
  std::string Expression() const;

  // Recordset fields: the current record's value (Null for an empty field). A complex field gives
  // its values as one text: attachment names, or the values, joined by "; ".
  Value GetValue() const;
  // Recordset fields of a complex type: the current record's attachments, values or versions
  // (what DAO reaches through the field's child recordset). 3219 on any other field.
  jet::ComplexValue GetComplexValue() const;
  // Recordset fields, between AddNew/Edit and Update: a text is converted to the field's type
  // (the text forms of jet::toText read back exactly). Conversion errors (3421, 3163) are raised
  // here; Required and zero-length rules at Update.
  void SetValue(const std::string& text);
  void SetValue(const Value& value);

  // Definition properties, settable on a field of a table definition not yet appended.
  void SetRequired(bool required);
  void SetAllowZeroLength(bool allow);
  void SetAttributes(int32_t attributes);
  // Checked when the table is appended: 3075 for no expression, 3085 for an unknown function,
  // 3070 for a name that is no field of the table. An expression makes a calculated field (files
  // of Access 2010 and later); its type is the field's.
  void SetDefaultValue(const std::string& expression);
  void SetValidationRule(const std::string& expression);
  void SetValidationText(const std::string& text);
  void SetExpression(const std::string& expression);

  const std::shared_ptr<FieldImpl>& impl() const { return impl_; }

 private:
  std::shared_ptr<FieldImpl> impl_;
};

class Fields {
 public:
  Fields() = default;
  explicit Fields(std::shared_ptr<std::vector<Field>> items, std::shared_ptr<TableDefImpl> owner = nullptr)
      : items_(std::move(items)), owner_(std::move(owner)) {}
  int Count() const;
  Field Item(int index) const;                // 3265 when out of range
  Field Item(const std::string& name) const;  // 3265 when there is none
  void Append(const Field& field);            // only on a table definition not yet appended

 private:
  std::shared_ptr<std::vector<Field>> items_;
  std::shared_ptr<TableDefImpl> owner_;
};

class TableDef {
 public:
  TableDef() = default;
  explicit TableDef(std::shared_ptr<TableDefImpl> impl) : impl_(std::move(impl)) {}

  std::string Name() const;
  // On an appended table this renames it in the database (3010 exists, 3125 invalid name).
  void SetName(const std::string& name);
  int32_t Attributes() const;
  // The table's validation rule over its fields ("[End]>=[Start]") and its message; settable
  // before the table is appended.
  std::string ValidationRule() const;
  std::string ValidationText() const;
  void SetValidationRule(const std::string& expression);
  void SetValidationText(const std::string& text);
  Fields GetFields() const;
  Field CreateField(const std::string& name, int16_t type, int32_t size);

  const std::shared_ptr<TableDefImpl>& impl() const { return impl_; }

 private:
  std::shared_ptr<TableDefImpl> impl_;
};

class TableDefs {
 public:
  TableDefs() = default;
  explicit TableDefs(std::shared_ptr<DatabaseImpl> db) : db_(std::move(db)) {}
  int Count() const;
  TableDef Item(int index) const;
  TableDef Item(const std::string& name) const;  // 3265 when there is none
  void Append(const TableDef& table);            // creates the table in the file
  void Delete(const std::string& name);          // drops the table from the file
  void Refresh();

 private:
  std::shared_ptr<DatabaseImpl> db_;
};

// A table-type recordset: the table's records in stored order.
class Recordset {
 public:
  Recordset() = default;
  explicit Recordset(std::shared_ptr<RecordsetImpl> impl) : impl_(std::move(impl)) {}

  Fields GetFields() const;
  bool EOF_() const;
  bool BOF_() const;
  void MoveFirst();
  void MoveNext();
  void Move(int32_t rows);  // from the current record
  int32_t RecordCount() const;
  // The current record's stored values in field order, read without a copy per field; a complex
  // field holds its key here (its Field gives its text). Valid until the recordset moves or changes.
  const std::vector<Value>& CurrentValues() const;
  void AddNew();
  void Edit();
  void Update(int32_t type = dbUpdateRegular, bool force = false);
  void CancelUpdate();
  void Delete();
  void Close();

  const std::shared_ptr<RecordsetImpl>& impl() const { return impl_; }

 private:
  std::shared_ptr<RecordsetImpl> impl_;
};

// A relation being defined (DAO's CreateRelation, its fields, then Relations.Append): Table is the
// primary side, ForeignTable the side whose fields refer to it.
class Relation {
 public:
  Relation() = default;
  std::string Name() const;
  std::string Table() const;
  std::string ForeignTable() const;
  int32_t Attributes() const;
  // DAO's Fields.Append(CreateField(name)) with the new field's ForeignName set.
  void AppendField(const std::string& name, const std::string& foreignName);
  int FieldCount() const;

 private:
  friend class Database;
  std::shared_ptr<jet::NewRelationship> outline_;
};

class Database {
 public:
  Database() = default;
  explicit Database(std::shared_ptr<DatabaseImpl> impl) : impl_(std::move(impl)) {}

  std::string Name() const;
  void Close();
  TableDefs GetTableDefs() const;
  TableDef CreateTableDef(const std::string& name);
  // Without dbRelationDontEnforce the engine enforces the relation on every write (the primary
  // fields need a unique index, 3609, and the rows already there must keep it, 3379).
  Relation CreateRelation(const std::string& name, const std::string& table, const std::string& foreignTable,
                          int32_t attributes = dbRelationDontEnforce);
  // Relations.Append: writes the relation into the file.
  void AppendRelation(const Relation& relation);
  Recordset OpenRecordset(const std::string& tableName);
  bool IsOpen() const;
  // False when the file was opened for reading only (asked for, or no write access to it).
  bool Updatable() const;
  // Who else has the file open in Access (or another Jet program), as "user 'U' on machine 'M'";
  // empty when nobody does. While somebody does, every change fails with 3260.
  std::string OpenElsewhereBy() const;
  // One read operation of the file, held while the result lives: whatever is read meanwhile (moves,
  // values, counts) comes from one committed state at the cost of one lock, and other programs'
  // commits wait for its end. For one user action, such as filling a screenful of rows; nothing
  // once the database is closed.
  std::shared_ptr<jet::ReadOperation> Reading() const;

  const std::shared_ptr<DatabaseImpl>& impl() const { return impl_; }

 private:
  std::shared_ptr<DatabaseImpl> impl_;
};

class DBEngine {
 public:
  // connect may carry ";PWD=secret" as DAO's connect string does.
  Database OpenDatabase(const std::string& path, bool exclusive = false, bool readOnly = false,
                        const std::string& connect = "");
  Database CreateDatabase(const std::string& path, const std::string& locale, int32_t option);
  // srcLocale may carry the source's ";PWD=secret"; the copy keeps the source's password.
  void CompactDatabase(const std::string& source, const std::string& destination, const std::string& srcLocale = "");
  // How long, in seconds, a change waits for another program's turn to end before it fails with
  // 3260 (for databases opened from now on). 10 by default.
  int BusyTimeout() const { return busyTimeout_; }
  void SetBusyTimeout(int seconds) { busyTimeout_ = seconds < 0 ? 0 : seconds; }

 private:
  int busyTimeout_ = 10;
};

// The one engine of the process.
DBEngine& Engine();

}  // namespace dao
