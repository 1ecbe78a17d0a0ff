// The catalog table (MSysObjects, whose definition sits on page 2): every table, linked table,
// query and container of the database, with each object's property blob.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/names.h"
#include "jet/base/row_id.h"
#include "jet/base/schema.h"
#include "jet/base/text_codec.h"
#include "jet/storage/page_file.h"

namespace jet {

struct CatalogEntry {
  RowId row;  // where the catalog keeps it
  CatalogObject object;
  int type = 0;
  int32_t parentId = 0;
  std::vector<uint8_t> properties;  // LvProp
};

// The identifiers the catalog uses.
namespace sys {

// Catalog object ids of the containers and the database object.
constexpr int32_t kRootId = 0x0F000000;
constexpr int32_t kTablesId = 0x0F000001;
constexpr int32_t kDatabasesId = 0x0F000002;
constexpr int32_t kRelationshipsId = 0x0F000003;
constexpr int32_t kMSysDbId = 0x10000000;

// Catalog object types (the Type column).
constexpr int16_t kTypeTable = 1;
constexpr int16_t kTypeDatabase = 2;
constexpr int16_t kTypeContainer = 3;
constexpr int16_t kTypeLinkedOdbc = 4;
constexpr int16_t kTypeQuery = 5;
constexpr int16_t kTypeLinkedTable = 6;
constexpr int16_t kTypeRelationship = 8;

// Catalog flags: jet/base/schema.h's kObjectFlagSystem and kSystemObjectFlags.
using jet::kSystemObjectFlags;

// Fixed pages of the system tables' definitions.
constexpr uint32_t kCatalogTdef = 2;
constexpr uint32_t kAcesTdef = 3;
constexpr uint32_t kQueriesTdef = 4;
constexpr uint32_t kRelationshipsTdef = 5;

// Column positions of the catalog (MSysObjects) by column number.
enum CatalogColumn : uint16_t {
  kObjId = 0, kObjParentId, kObjName, kObjType, kObjDateCreate, kObjDateUpdate, kObjOwner, kObjFlags,
  kObjDatabase, kObjConnect, kObjForeignName, kObjRmtInfoShort, kObjRmtInfoLong, kObjLv, kObjLvProp,
  kObjLvModule, kObjLvExtra, kObjColumnCount
};

}  // namespace sys

class Catalog {
 public:
  // Reads every catalog row. Throws 3049 when the catalog is damaged.
  static Catalog read(PageFile& file, Format format, TextCodec& codec);

  // Tables (local, system, linked) and queries, sorted by name as the object model lists them.
  std::vector<CatalogObject> objects() const;
  // The table or linked table of that name, or null.
  const CatalogEntry* findTable(const std::string& name) const;
  const std::vector<CatalogEntry>& entries() const { return entries_; }

 private:
  std::vector<CatalogEntry> entries_;
};

}  // namespace jet
