// The one database session of the application and the process-wide state the windows share
// (the session routines and globals of modDB, and the dialog globals of modTools).
// Strings are UTF-8. All of it is used on the user-interface thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/dao.h"

namespace modDB {

// Session state.
extern dao::Database gDB;        // valid while bDBOpen
extern bool bDBOpen;
extern std::string sDBPath;
extern std::string sDBPassword;  // the database password gDB was opened with (empty: none)
extern std::string sOpenElsewhere;  // who has gDB's file open in Access (then gDB is read-only)

extern std::string sTable;       // caption of the tab selected at the last tab click
extern int16_t iRecPos;          // zero-based position of the current grid row
extern std::string sLastError;   // description of the last engine error caught by a routine

// The pending table of the New Table window: one field as the window collects it, in DAO's terms.
// CreateNewTable hands each to the object model's CreateField; it is never read back from a table.
struct FieldDef {
  std::string Name;
  int16_t Type = 0;
  int16_t Size = 0;
  int16_t Attributes = 0;
  bool Required = false;
  bool AllowZeroLength = false;
};
extern std::string sNewTableName;
extern std::vector<FieldDef> gFieldDefs;
extern int16_t iFieldCount;

constexpr const char* kLocaleGeneral = ";LANGID=0x0409;CP=1252;COUNTRY=0";

// 1 when the file was created, 0 on any error.
int16_t CreateDB(const std::string& path, int32_t version);
// True on success (gDB set, sDBPassword kept); False on any error (a wrong password included), gDB
// unchanged. Callers assign it to bDBOpen.
bool OpenDB(const std::string& path, const std::string& password = "");
// True when opening the file takes a password (a database password, or an .accdb encrypted with
// one); false for any other file, and for one that cannot be read (opening it then fails as usual).
bool HasPassword(const std::string& path);
void CloseDB();
// Names of the tables to show as tabs, in TableDefs order, leaving out every table whose
// attributes have a bit of dbSystemObject set.
std::vector<std::string> FillTabs();

// Pending-table routines of the New Table window.
int16_t CreateNewTable();   // 2 created, 1 engine error (sLastError), 0 no name
void ClearFieldDefs();
void RemoveFieldDef(int index);

// Table and record routines: 1 on success, 0 on error with sLastError set.
int16_t RenameTable(const std::string& newName);
int16_t DeleteTable();
int16_t DeleteRecord(int16_t position);

}  // namespace modDB

namespace modTools {

extern int32_t lEditMode;       // 1 add, 0 update
extern int32_t lDialogResult;   // 1 confirmed, 2 closed
extern int16_t iSearchField;    // -1 none
extern std::string sSearchText;

// The ten field types the application offers, in list order.
extern const std::vector<std::string> kFieldTypeNames;

uint8_t GetFieldSize(const std::string& typeName);
int16_t GetFieldType(const std::string& typeName);
std::string GetFieldTypeName(const std::string& typeCodeText);

}  // namespace modTools
