// The tables every database holds from its creation (the catalog MSysObjects, the permissions
// table MSysACEs, MSysQueries and MSysRelationships) and the catalog's fixed objects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/file_version.h"
#include "jet/catalog/catalog.h"
#include "jet/table/table_def.h"

namespace jet::sys {

// Columns of MSysACEs by column number.
enum AceColumn : uint16_t { kAceObjectId = 0, kAceSid, kAceAcm, kAceInheritable, kAceColumnCount };

// The security ids the engine writes: the engine itself, the creating user, the administrators'
// and the users' groups.
enum class Sid { Engine, Creator, Admins, Users };
Bytes sidBytes(Format format, Sid sid);

// Access masks written for a newly created table's permission rows.
constexpr uint32_t kFullAccess = 0xFFEFF;

struct SystemTable {
  std::string name;
  uint32_t tdefPage;  // 0: the builder places it
  Tdef def;       // usage-map references and index roots are left for the builder to fill
  uint32_t catalogFlags = kObjectFlagSystem;
  bool owned = true;  // whether its catalog row names the engine as its owner
};

// Catalog flags of the template tables of complex values, beside the system flag.
constexpr uint32_t kFlagComplexTemplate = 0x00030000u;

// The system tables of a new database of the version, each with its columns and indexes (roots and
// maps unset), every column carrying the sort-order version: the four of every version, then for
// an .accdb the complex-column catalog MSysComplexColumns and the nine MSysComplexType_ templates.
// Columns are in the order the format's engine stores them.
std::vector<SystemTable> systemTables(Format format, FileVersion version, uint8_t sortVersion = 0);

// One permission row.
struct Ace {
  int32_t objectId;
  Sid sid;
  uint32_t mask;
  bool inheritable;
};
// The permission rows of a new database whose further system tables (beyond the four every
// database has) have these ids.
std::vector<Ace> initialAces(const std::vector<int32_t>& addedTables = {});
// The permission rows for a table created later.
std::vector<Ace> newTableAces(int32_t objectId);
// The permission rows of a new relationship: its creator, the administrators and the users.
std::vector<Ace> newRelationshipAces(int32_t objectId);

// Looks up a column of a definition by column number (throws 3049 when missing).
const ColumnDef& columnByNumber(const Tdef& def, uint16_t number);

// Whether the name is one of the engine's own tables (MSys..., in any case).
bool isSystemTableName(const std::string& name);

// Whether this column of a system table holds a catalog object's id (ids follow their tables'
// definition pages, so a copy that moves tables renumbers these values).
bool holdsObjectId(const std::string& table, const std::string& column);

// Today's date and time as an OLE automation date in local time.
double oleNow();

}  // namespace jet::sys
