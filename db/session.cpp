// The database session: the one open database, its creation, opening and closing, the table
// tabs, and the routines of the table-design and record commands. Every routine that talks to the
// engine catches the engine's errors itself and reports them only through its result (and, where
// the calling command shows the engine's text, through sLastError).
#include <algorithm>

#include "db/session.h"
#include "jet/database.h"

namespace modDB {

dao::Database gDB;
bool bDBOpen = false;
std::string sDBPath;
std::string sDBPassword;
std::string sOpenElsewhere;
std::string sTable;
int16_t iRecPos = 0;
std::string sLastError;
std::string sNewTableName;
std::vector<FieldDef> gFieldDefs;
int16_t iFieldCount = 0;

namespace {

// Runs fn; on an engine error keeps its description in sLastError and returns false.
template <typename Fn>
bool guarded(Fn&& fn, bool keepError) {
  try {
    fn();
    return true;
  } catch (const jet::Error& e) {
    if (keepError) sLastError = e.description();
  } catch (const std::exception& e) {
    if (keepError) sLastError = e.what();
  }
  return false;
}

}  // namespace

int16_t CreateDB(const std::string& path, int32_t version) {
  // The new file is closed again at once: the caller opens it as any other database.
  return guarded([&] { dao::Engine().CreateDatabase(path, kLocaleGeneral, version).Close(); }, false) ? 1 : 0;
}

bool OpenDB(const std::string& path, const std::string& password) {
  dao::Database db;
  const std::string connect = password.empty() ? "" : ";PWD=" + password;
  if (!guarded([&] { db = dao::Engine().OpenDatabase(path, false, false, connect); }, false)) return false;
  // Beside Access every change would be refused: the file is opened for reading only.
  sOpenElsewhere = db.OpenElsewhereBy();
  if (!sOpenElsewhere.empty()) {
    db.Close();
    if (!guarded([&] { db = dao::Engine().OpenDatabase(path, false, true, connect); }, false)) return false;
  }
  gDB = db;
  sDBPassword = password;
  bDBOpen = true;
  return true;
}

bool HasPassword(const std::string& path) {
  bool has = false;
  guarded([&] { has = jet::Database::needsPassword(path); }, false);
  return has;
}

void CloseDB() {
  if (!bDBOpen) return;
  gDB.Close();
  bDBOpen = false;
}

std::vector<std::string> FillTabs() {
  std::vector<std::string> names;
  dao::TableDefs defs = gDB.GetTableDefs();
  const int n = defs.Count();
  for (int i = 0; i < n; ++i) {
    dao::TableDef t = defs.Item(i);
    if ((t.Attributes() & dao::dbSystemObject) == 0) names.push_back(t.Name());
  }
  return names;
}

void ClearFieldDefs() {
  gFieldDefs.clear();
  sNewTableName.clear();
  iFieldCount = 0;
}

void RemoveFieldDef(int index) {
  const int m = iFieldCount - 1;
  if (m < 0 || index < 0) return;  // nothing to remove
  for (int k = index; k < m && k + 1 < static_cast<int>(gFieldDefs.size()); ++k) gFieldDefs[k] = gFieldDefs[k + 1];
  if (m - 1 >= 0) {
    gFieldDefs.resize(static_cast<size_t>(m));
  } else {
    gFieldDefs.clear();
  }
  iFieldCount = static_cast<int16_t>(m);
}

int16_t CreateNewTable() {
  if (sNewTableName.empty()) {
    ClearFieldDefs();
    return 0;
  }
  bool ok = guarded(
      [] {
        dao::TableDef table = gDB.CreateTableDef(sNewTableName);
        for (size_t i = 0; i < gFieldDefs.size(); ++i) {
          const FieldDef& d = gFieldDefs[i];
          table.GetFields().Append(table.CreateField(d.Name, d.Type, d.Size));
          dao::Field f = table.GetFields().Item(static_cast<int>(i));
          f.SetRequired(d.Required);
          f.SetAllowZeroLength(d.AllowZeroLength);
          f.SetAttributes(d.Attributes);
        }
        gDB.GetTableDefs().Append(table);
      },
      true);
  if (!ok) return 1;
  ClearFieldDefs();
  return 2;
}

int16_t RenameTable(const std::string& newName) {
  return guarded([&] { gDB.GetTableDefs().Item(sTable).SetName(newName); }, true) ? 1 : 0;
}

int16_t DeleteTable() {
  return guarded(
             [] {
               dao::TableDefs defs = gDB.GetTableDefs();
               defs.Delete(sTable);
               defs.Refresh();
             },
             true)
             ? 1
             : 0;
}

int16_t DeleteRecord(int16_t position) {
  return guarded(
             [&] {
               dao::Recordset rs = gDB.OpenRecordset(sTable);
               rs.Move(position);
               rs.Delete();
               rs.Close();
             },
             true)
             ? 1
             : 0;
}

}  // namespace modDB
