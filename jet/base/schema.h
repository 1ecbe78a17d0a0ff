// The public description of a table: its columns and indexes as the engine reports them, and the
// description of a new table that the engine creates.
//
// A table is described by these models, each the view one layer needs:
//   Tdef (jet/table/table_def.h)          the definition as stored; the one the others come from.
//   TableInfo/ColumnInfo (here)            what the engine reports, for every layer above it:
//                                          describeTable(Tdef) plus the catalog's properties.
//   IndexOutline (jet/index/index_outline.h) a real index as key maintenance needs it:
//                                          indexOutlines(TableInfo).
//   NewTable/NewColumn (here)              a table to be created, as callers ask for it; input
//                                          only: newTableDefinition turns it into a Tdef.
//   dao::TableDefImpl/FieldImpl (db/dao_impl.h) the object model's objects: storedField(ColumnInfo)
//                                          for fields in the file, newColumn(FieldImpl) on Append.
//   modDB::FieldDef (db/session.h)         the New Table window's pending field, handed to the
//                                          object model's CreateField.
//   migrate::SourceSchema (cli/migrate_schema.h) the TableInfos of the tables a migration moves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/value.h"

namespace jet {

// The page layout a file uses: Jet 3's 2 KB pages with single-byte text, or the 4 KB pages with
// UCS-2 text that Jet 4 introduced and every later version keeps, .accdb included. What a version
// adds on top of its layout (column types, sort orders) is FileVersion's (file_version.h).
enum class Format { Jet3Layout, Jet4Layout };

inline size_t pageSizeOf(Format f) { return f == Format::Jet4Layout ? 4096 : 2048; }

// What a complex column holds (None for every other column).
enum class ComplexKind : uint8_t { None, Attachment, MultiValue, VersionHistory, Unsupported };

// One column as the engine reports it (derived from the stored ColumnDef by describeTable).
struct ColumnInfo {
  std::string name;
  ColumnType type = ColumnType::Text;
  uint8_t rawType = 0;         // the stored type byte of a type the engine does not know (type is
                               // then Binary and values are the raw bytes); 0 for known types
  uint16_t number = 0;         // column number (gaps after deleted columns)
  uint16_t length = 0;         // bytes as stored (Jet 4 text: two bytes per character)
  bool fixed = false;          // stored in the fixed part of the row
  bool autoNumber = false;
  bool autoGuid = false;
  bool nullable = true;        // the "can be null" flag of the column
  bool compressedText = false; // Jet 4 text compression
  bool hyperlink = false;
  bool calculated = false;     // values are the stored results of an expression (read only)
  uint8_t precision = 0;       // Decimal
  uint8_t scale = 0;           // Decimal
  uint16_t sortOrder = 0;      // text collation id (1033 = General)
  uint16_t sortVersion = 0;
  // Complex columns: the id that ties the column to MSysComplexColumns, and what the column
  // holds as found through it (a multi-valued field: the type of each value).
  int32_t complexId = 0;
  ComplexKind complexKind = ComplexKind::None;
  ColumnType complexValueType = ColumnType::Text;
  // Properties from the catalog's property blob.
  bool required = false;
  bool allowZeroLength = true;
  std::string defaultValue;
  std::string description;
  std::string validationRule;
  std::string validationText;
  std::string expression;      // a calculated column's expression
};

struct IndexColumn {
  uint16_t columnNumber = 0;
  bool ascending = true;
};

struct IndexInfo {
  std::string name;
  int logicalNumber = 0;
  int realNumber = 0;           // the index structure (b-tree) that holds the keys
  std::vector<IndexColumn> columns;
  bool primaryKey = false;
  bool unique = false;
  bool ignoreNulls = false;
  bool required = false;
  bool foreignKey = false;
};

enum class ObjectKind { Table, SystemTable, LinkedTable, Query, Other };

struct CatalogObject {
  std::string name;
  ObjectKind kind = ObjectKind::Other;
  int32_t id = 0;
  uint32_t flags = 0;           // the catalog's flag bits (system tables: 0x80000002)
  uint32_t tdefPage = 0;        // tables: page of the table definition
  std::string linkedDatabase;   // linked tables: path of the source database
  std::string foreignName;      // linked tables: the table's name in its source
};

// A table as the engine reports it (Database::table): describeTable over its Tdef, with the
// properties the catalog keeps for it and its columns.
struct TableInfo {
  std::string name;
  std::vector<ColumnInfo> columns;   // in the table's field order
  std::vector<IndexInfo> indexes;
  uint32_t rowCount = 0;
  uint32_t tdefPage = 0;
  // The table's own validation rule and its text (from the catalog's property blob).
  std::string validationRule;
  std::string validationText;
};

// One field of a table to be created (DAO's CreateField plus the properties set before Append).
struct NewColumn {
  std::string name;
  ColumnType type = ColumnType::Text;
  int size = 0;                 // Text: characters (1..255); other types ignore it
  bool autoNumber = false;      // Long only
  bool required = false;
  bool allowZeroLength = false;
  uint8_t precision = 18;       // Decimal only
  uint8_t scale = 0;            // Decimal only (at most the precision)
  std::string defaultValue;     // an expression ("0", "\"none\"", "=Date()"); empty: none
  std::string validationRule;   // may leave out its left side (">0 And <1000"); empty: none
  std::string validationText;   // the refusal's message; empty: Jet's own wording
  std::string expression;       // a calculated column (Access 2010 files on): `type` is its result's
};

struct NewIndex {
  std::string name;
  std::vector<IndexColumn> columns;  // by position in NewTable::columns
  bool primaryKey = false;
  bool unique = false;
  bool ignoreNulls = false;
  bool required = false;
};

// A table to be created: the input of Database::createTable, never read back from a file.
struct NewTable {
  std::string name;
  std::vector<NewColumn> columns;
  std::vector<NewIndex> indexes;
  std::string validationRule;   // over the whole row ("[End] >= [Start]"); empty: none
  std::string validationText;
};

// Relationship attribute bits as MSysRelationships' grbit keeps them (DAO's dbRelation* values).
constexpr int32_t kRelationUnique = 0x1;
constexpr int32_t kRelationDontEnforce = 0x2;
constexpr int32_t kRelationUpdateCascade = 0x100;
constexpr int32_t kRelationDeleteCascade = 0x1000;
constexpr int32_t kRelationCascadeNull = 0x2000;

// Catalog flag bits of an object (MSysObjects' Flags): objects the engine keeps for itself carry
// the high bit; a table with either bit of kSystemObjectFlags is a system table.
constexpr uint32_t kObjectFlagSystem = 0x80000000u;
constexpr uint32_t kSystemObjectFlags = 0x80000002u;

// A relationship between a table (the primary side, whose fields are usually its key) and a foreign
// table whose fields refer to them: DAO's CreateRelation(name, table, foreignTable, attributes)
// with its fields (Name in the table, ForeignName in the foreign table).
struct NewRelationship {
  std::string name;
  std::string table;
  std::string foreignTable;
  struct Column {
    std::string name;
    std::string foreignName;
  };
  std::vector<Column> columns;
  int32_t attributes = kRelationDontEnforce;
};

}  // namespace jet
