#include "jet/catalog/system_tables.h"

#include <algorithm>
#include <cctype>
#include <ctime>

#include "jet/base/error.h"
#include "jet/base/names.h"

namespace jet::sys {

namespace {

// Flags the engine gives system-table columns: updatable, nullable, and fixed where the type is.
constexpr uint8_t kSysVar = colflag::kReplication | colflag::kNullable;
constexpr uint8_t kSysFixed = colflag::kReplication | colflag::kNullable | colflag::kFixed;
constexpr uint8_t kSysSid = 0x20 | kSysVar;  // security ids are compared as raw bytes

struct Col {
  const char* name;
  ColumnType type;
  uint8_t flags;
  uint16_t length = 0;  // variable columns other than text and binary: the length stored
  uint8_t precision = 0;
  uint8_t extFlags = 0;
};

// Lays the columns out in column-number order: fixed offsets, variable slots, lengths. Every
// column carries the file's sort-order version.
Tdef layout(Format f, const std::vector<Col>& cols, uint8_t sortVersion = 0,
                uint8_t tableType = kSystemTableType) {
  Tdef def;
  def.format = f;
  def.version = firstVersionOf(f);
  def.tableType = tableType;
  uint16_t fixedAt = 0, varAt = 0;
  for (size_t i = 0; i < cols.size(); ++i) {
    ColumnDef c;
    c.name = cols[i].name;
    c.type = cols[i].type;
    c.number = uint16_t(i);
    c.flags = cols[i].flags;
    c.extFlags = cols[i].extFlags;
    c.precision = cols[i].precision;
    c.sortVersion = sortVersion;
    const uint16_t fl = fixedLengthOf(c.type);
    if (c.fixed()) {
      c.length = fl;
      c.varIndex = varAt;
      if (c.type != ColumnType::Boolean) {
        c.fixedOffset = fixedAt;
        fixedAt = uint16_t(fixedAt + fl);
      }
    } else {
      c.varIndex = varAt++;
      const bool shortVar = c.type == ColumnType::Text || c.type == ColumnType::Binary;
      c.length = shortVar ? uint16_t(f == Format::Jet4Layout ? 510 : 255) : cols[i].length;
    }
    def.columns.push_back(c);
  }
  if (f == Format::Jet4Layout) {
    // The Jet 4 engine stores system-table columns alphabetically.
    for (uint16_t i = 0; i < def.columns.size(); ++i) def.storedOrder.push_back(i);
    std::stable_sort(def.storedOrder.begin(), def.storedOrder.end(), [&](uint16_t a, uint16_t b) {
      return lowerName(def.columns[a].name) < lowerName(def.columns[b].name);
    });
  }
  return def;
}

void addIndex(Tdef& def, std::vector<uint16_t> columns, uint8_t flags) {
  RealIndexDef r;
  for (uint16_t c : columns) r.columns.push_back({c, true});
  r.flags = uint8_t(flags | (def.format == Format::Jet4Layout ? idxflag::kJet4Marker : 0));
  def.realIndexes.push_back(r);
}

void addLogical(Tdef& def, const char* name, uint32_t number, uint32_t real, uint8_t kind) {
  LogicalIndexDef l;
  l.name = name;
  l.number = number;
  l.realIndex = int32_t(real);
  l.kind = kind;
  def.indexes.push_back(l);
}

// The tables the Access 2007 engine adds to every new database: the catalog of complex columns
// and one template table per kind of complex value, which the hidden table of each complex column
// is modelled on. Their definition pages are given by the builder.
void addComplexTables(std::vector<SystemTable>& out, uint8_t sortVersion) {
  const Format f = Format::Jet4Layout;
  constexpr uint8_t kVar = colflag::kNullable;
  constexpr uint8_t kFixed = colflag::kNullable | colflag::kFixed;
  Tdef columns = layout(f, {
      {"ColumnName", ColumnType::Text, kSysVar},
      {"ComplexTypeObjectID", ColumnType::Long, kSysFixed},
      {"FlatTableID", ColumnType::Long, kSysFixed},
      {"ConceptualTableID", ColumnType::Long, kSysFixed},
      {"ComplexID", ColumnType::Long, uint8_t(kSysFixed | colflag::kAutoNumber)},
  }, sortVersion, kUserTableType);
  constexpr uint8_t kKey = idxflag::kIgnoreNulls | idxflag::kRequired;
  addIndex(columns, {4}, uint8_t(kKey | idxflag::kUnique));
  addIndex(columns, {3}, kKey);
  addIndex(columns, {2}, kKey);
  addLogical(columns, "IdxConceptualTableID", 1, 1, idxkind::kPlain);
  addLogical(columns, "IdxFlatTableID", 2, 2, idxkind::kPlain);
  addLogical(columns, "IdxID", 0, 0, idxkind::kPrimaryKey);
  out.push_back({"MSysComplexColumns", 0, columns, kObjectFlagSystem, false});

  auto single = [&](const char* name, Col value) {
    out.push_back({std::string("MSysComplexType_") + name, 0,
                   layout(f, {value}, sortVersion, kUserTableType), kObjectFlagSystem | kFlagComplexTemplate, false});
  };
  single("UnsignedByte", {"Value", ColumnType::Byte, kFixed});
  single("Short", {"Value", ColumnType::Integer, kFixed});
  single("Long", {"Value", ColumnType::Long, kFixed});
  single("IEEESingle", {"Value", ColumnType::Single, kFixed});
  single("IEEEDouble", {"Value", ColumnType::Double, kFixed});
  single("GUID", {"Value", ColumnType::Guid, kFixed});
  // The engine keeps this one's decimal as a variable column of 9 bytes, precision 18.
  single("Decimal", {"Value", ColumnType::Numeric, kVar, 9, 18});
  single("Text", {"Value", ColumnType::Text, kVar});
  constexpr uint8_t kAttachmentExt = 0x10;
  out.push_back({"MSysComplexType_Attachment", 0,
                 layout(f, {
                     {"FileURL", ColumnType::Memo, kVar, 0, 0, kAttachmentExt},
                     {"FileName", ColumnType::Text, kVar, 0, 0, kAttachmentExt},
                     {"FileType", ColumnType::Text, kVar, 0, 0, kAttachmentExt},
                     {"FileData", ColumnType::Ole, kVar, 0, 0, kAttachmentExt},
                     {"FileTimeStamp", ColumnType::DateTime, kFixed, 0, 0, kAttachmentExt},
                     {"FileFlags", ColumnType::Long, kFixed, 0, 0, kAttachmentExt},
                 }, sortVersion, kUserTableType),
                 kObjectFlagSystem | kFlagComplexTemplate, false});
}

}  // namespace

Bytes sidBytes(Format f, Sid sid) {
  if (f == Format::Jet4Layout) {
    switch (sid) {
      case Sid::Engine: return {0x65, 0x89};
      case Sid::Creator: return {0x64, 0x8B};
      case Sid::Admins: return {0x65, 0x8B};
      case Sid::Users: return {0x65, 0x8E};
    }
  }
  switch (sid) {
    case Sid::Engine: return {0x02, 0x03};
    case Sid::Creator: return {0x03, 0x01};
    case Sid::Admins: return {0x02, 0x01};
    case Sid::Users: return {0x02, 0x04};
  }
  return {};
}

std::vector<SystemTable> systemTables(Format f, FileVersion v, uint8_t sortVersion) {
  std::vector<SystemTable> out;

  Tdef objects = layout(f, {
      {"Id", ColumnType::Long, kSysFixed},
      {"ParentId", ColumnType::Long, kSysFixed},
      {"Name", ColumnType::Text, kSysVar},
      {"Type", ColumnType::Integer, kSysFixed},
      {"DateCreate", ColumnType::DateTime, kSysFixed},
      {"DateUpdate", ColumnType::DateTime, kSysFixed},
      {"Owner", ColumnType::Binary, kSysSid},
      {"Flags", ColumnType::Long, kSysFixed},
      {"Database", ColumnType::Memo, kSysVar},
      {"Connect", ColumnType::Memo, kSysVar},
      {"ForeignName", ColumnType::Text, kSysVar},
      {"RmtInfoShort", ColumnType::Binary, kSysVar},
      {"RmtInfoLong", ColumnType::Ole, kSysVar},
      {"Lv", ColumnType::Ole, kSysVar},
      {"LvProp", ColumnType::Ole, kSysVar},
      {"LvModule", ColumnType::Ole, kSysVar},
      {"LvExtra", ColumnType::Ole, kSysVar},
  }, sortVersion);
  addIndex(objects, {kObjParentId, kObjName}, idxflag::kUnique);
  addIndex(objects, {kObjId}, idxflag::kUnique);
  addLogical(objects, "Id", 1, 1, idxkind::kPrimaryKey);
  addLogical(objects, "ParentIdName", 0, 0, idxkind::kPlain);
  out.push_back({"MSysObjects", kCatalogTdef, objects});

  Tdef aces = layout(f, {
      {"ObjectId", ColumnType::Long, kSysFixed},
      {"SID", ColumnType::Binary, kSysSid},
      {"ACM", ColumnType::Long, kSysFixed},
      {"FInheritable", ColumnType::Boolean, kSysFixed},
  }, sortVersion);
  addIndex(aces, {kAceObjectId}, idxflag::kRequired);
  addLogical(aces, "ObjectId", 0, 0, idxkind::kPlain);
  out.push_back({"MSysACEs", kAcesTdef, aces});

  std::vector<Col> queryCols = {
      {"ObjectId", ColumnType::Long, kSysFixed},
      {"Attribute", ColumnType::Byte, kSysFixed},
      {"Order", ColumnType::Binary, kSysVar},
      {"Name1", ColumnType::Text, kSysVar},
      {"Name2", ColumnType::Text, kSysVar},
      {"Expression", ColumnType::Memo, kSysVar},
      {"Flag", ColumnType::Integer, kSysFixed},
  };
  if (f == Format::Jet4Layout) queryCols.push_back({"LvExtra", ColumnType::Long, kSysFixed});
  Tdef queries = layout(f, queryCols, sortVersion);
  addIndex(queries, {0, 1, 2}, idxflag::kUnique);
  addLogical(queries, "ObjectIdAttribute", 0, 0, idxkind::kPrimaryKey);
  out.push_back({"MSysQueries", kQueriesTdef, queries});

  Tdef rel = layout(f, {
      {"szRelationship", ColumnType::Text, kSysVar},
      {"grbit", ColumnType::Long, kSysFixed},
      {"ccolumn", ColumnType::Long, kSysFixed},
      {"icolumn", ColumnType::Long, kSysFixed},
      {"szObject", ColumnType::Text, kSysVar},
      {"szColumn", ColumnType::Text, kSysVar},
      {"szReferencedObject", ColumnType::Text, kSysVar},
      {"szReferencedColumn", ColumnType::Text, kSysVar},
  }, sortVersion);
  addIndex(rel, {0}, idxflag::kIgnoreNulls);
  addIndex(rel, {4}, idxflag::kIgnoreNulls);
  addIndex(rel, {6}, idxflag::kIgnoreNulls);
  addLogical(rel, "szObject", 1, 1, idxkind::kPlain);
  addLogical(rel, "szReferencedObject", 2, 2, idxkind::kPlain);
  addLogical(rel, "szRelationship", 0, 0, idxkind::kPlain);
  out.push_back({"MSysRelationships", kRelationshipsTdef, rel});
  if (isAccdb(v)) addComplexTables(out, sortVersion);
  return out;
}

std::vector<Ace> initialAces(const std::vector<int32_t>& addedTables) {
  std::vector<Ace> out = {
      {int32_t(kCatalogTdef), Sid::Creator, 0x60000, false},
      {int32_t(kAcesTdef), Sid::Creator, 0x60000, false},
      {int32_t(kQueriesTdef), Sid::Creator, 0x60000, false},
      {int32_t(kRelationshipsTdef), Sid::Creator, 0xE0000, false},
      {kTablesId, Sid::Users, 0xF00FE, true},
      {kTablesId, Sid::Creator, 0x60001, false},
      {kRelationshipsId, Sid::Users, 0xF00FE, true},
      {kRelationshipsId, Sid::Creator, 0x60001, false},
      {kDatabasesId, Sid::Creator, 0x60000, false},
      {kMSysDbId, Sid::Creator, 0x6000E, false},
      {kMSysDbId, Sid::Admins, 0x0000E, false},
      {int32_t(kQueriesTdef), Sid::Admins, 0x14, false},
      {int32_t(kRelationshipsTdef), Sid::Admins, 0x14, false},
      {int32_t(kCatalogTdef), Sid::Admins, 0x14, false},
      {kTablesId, Sid::Admins, 0xFFEFF, true},
      {kRelationshipsId, Sid::Admins, 0xFFFFF, true},
  };
  // Further system tables are granted what the catalog is, each right after the catalog's row.
  std::vector<Ace> creators, admins;
  for (int32_t id : addedTables) {
    creators.push_back({id, Sid::Creator, 0x60000, false});
    admins.push_back({id, Sid::Admins, 0x14, false});
  }
  out.insert(out.begin() + 14, admins.begin(), admins.end());
  out.insert(out.begin() + 1, creators.begin(), creators.end());
  return out;
}

std::vector<Ace> newTableAces(int32_t id) {
  return {
      {id, Sid::Admins, kFullAccess, false},
      {id, Sid::Users, kFullAccess, false},
      {id, Sid::Creator, kFullAccess, false},
  };
}

std::vector<Ace> newRelationshipAces(int32_t id) {
  return {
      {id, Sid::Creator, 0xF00FE, false},
      {id, Sid::Admins, 0xFFFFF, false},
      {id, Sid::Users, 0xFFFFF, false},
  };
}

const ColumnDef& columnByNumber(const Tdef& def, uint16_t number) {
  size_t i = def.findColumn(number);
  if (i >= def.columns.size()) throw Error(err::kCorrupt, "A system table lacks a column it must have.");
  return def.columns[i];
}

double oleNow() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  // Days from 1899-12-30 to the local date, plus the time of day.
  std::tm base{};
  base.tm_year = 70;
  base.tm_mday = 1;
  long long daysSince1970 = 0;
  {
    // Civil date to days since 1970-01-01.
    int y = local.tm_year + 1900, m = local.tm_mon + 1, d = local.tm_mday;
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    daysSince1970 = era * 146097LL + doe - 719468;
  }
  (void)base;
  const double frac = (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0;
  return double(daysSince1970 + 25569) + frac;
}

bool isSystemTableName(const std::string& name) {
  return name.size() >= 4 && (name[0] == 'M' || name[0] == 'm') && (name[1] == 'S' || name[1] == 's') &&
         (name[2] == 'y' || name[2] == 'Y') && (name[3] == 's' || name[3] == 'S');
}

bool holdsObjectId(const std::string& table, const std::string& column) {
  // Only these refer to the catalog's ids. Other system tables number their own rows (the storage
  // table's Id and ParentId, the navigation pane's group ids): those values are kept as they are.
  if (sameName(table, "MSysObjects")) return sameName(column, "Id") || sameName(column, "ParentId");
  if (sameName(table, "MSysACEs") || sameName(table, "MSysQueries") || sameName(table, "MSysNavPaneGroupToObjects"))
    return sameName(column, "ObjectId");
  // .accdb files: each complex column names its table, its hidden table of values and its type.
  if (sameName(table, "MSysComplexColumns"))
    return sameName(column, "ConceptualTableID") || sameName(column, "FlatTableID") ||
           sameName(column, "ComplexTypeObjectID");
  return false;
}

}  // namespace jet::sys
