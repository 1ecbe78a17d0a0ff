// The commands that read or change a database's tables as a whole: list them, describe them,
// create the file and its tables, rename and drop tables.
#include <algorithm>
#include <map>
#include <ostream>

#include "cli/command.h"
#include "db/session.h"
#include "jet/base/names.h"

namespace cli {

namespace {

struct TypeEntry {
  std::string name;
  int16_t code;
  int32_t size;
};

// The application's ten type names, then the other types of the files that hold them.
const std::vector<TypeEntry>& typeTable() {
  static const std::vector<TypeEntry> kTypes = [] {
    std::vector<TypeEntry> t;
    for (const std::string& n : modTools::kFieldTypeNames)
      t.push_back({n, modTools::GetFieldType(n), modTools::GetFieldSize(n)});
    t.insert(t.end(), {{"GUID", dao::dbGUID, 16},
                       {"Decimal", dao::dbDecimal, 16},
                       {"Binary", dao::dbBinary, 255},
                       {"OLE", dao::dbLongBinary, 0},
                       {"BigInt", dao::dbBigInt, 8},
                       {"DateTimeExtended", dao::dbDateTimeExtended, 42}});
    return t;
  }();
  return kTypes;
}

}  // namespace

const std::vector<std::string>& createTableTypeNames() {
  static const std::vector<std::string> kNames = [] {
    std::vector<std::string> n;
    for (const TypeEntry& t : typeTable()) n.push_back(t.name);
    return n;
  }();
  return kNames;
}

int cmdTables(const Args& a, Io& io) {
  need(a, 1, 1);
  dao::Database db = openDao(a, true);
  dao::TableDefs defs = db.GetTableDefs();
  for (int i = 0; i < defs.Count(); ++i) {
    dao::TableDef t = defs.Item(i);
    if ((t.Attributes() & dao::dbSystemObject) == 0) io.out << t.Name() << '\n';
  }
  db.Close();
  return 0;
}

int cmdColumns(const Args& a, Io& io) {
  need(a, 2, 2);
  dao::Database db = openDao(a, true);
  dao::Fields fields = db.GetTableDefs().Item(a.positional[1]).GetFields();
  for (int i = 0; i < fields.Count(); ++i) {
    dao::Field f = fields.Item(i);
    io.out << f.Name() << '\t' << f.Type() << '\t' << f.Size() << '\t' << f.Attributes() << '\n';
  }
  db.Close();
  return 0;
}

int cmdInfo(const Args& a, Io& io) {
  need(a, 1, 1);
  auto db = openEngine(a, true);
  auto reading = db->readOperation();
  io.out << "format\t" << jet::versionName(db->version()) << '\n'
         << "version\t" << jet::daoVersionOf(db->version()) << '\n'
         << "page size\t" << db->pageSize() << '\n'
         << "code page\t" << db->codePage() << '\n'
         << "sort order\t" << db->sortOrder() << '\n'
         << "pages\t" << db->pageCount() << '\n';
  for (const jet::CatalogObject& o : db->objects()) {
    const bool userTable = (o.kind == jet::ObjectKind::Table || o.kind == jet::ObjectKind::LinkedTable) &&
                           (static_cast<int32_t>(o.flags) & dao::dbSystemObject) == 0;
    if (!userTable) continue;
    if (o.kind == jet::ObjectKind::LinkedTable) {
      io.out << "table\t" << o.name << "\tlinked to " << o.linkedDatabase << '\n';
    } else {
      io.out << "table\t" << o.name << '\t' << db->table(o.name).rowCount << " rows\n";
    }
  }
  return 0;
}

int cmdCreate(const Args& a, Io&) {
  need(a, 1, 1);
  static const std::map<std::string, int32_t> kFormats = {
      {"jet3", dao::dbVersion30},        {"jet4", dao::dbVersion40},        {"accdb2007", dao::dbVersion120},
      {"accdb2010", dao::dbVersion140}, {"accdb2016", dao::dbVersion160}, {"accdb2019", dao::dbVersion170}};
  const auto format = kFormats.find(a.format.empty() ? "jet4" : a.format);
  if (format == kFormats.end()) throw UsageError("unknown database format " + a.format);
  // Silently making an unprotected file when a password was asked for would mislead the user.
  if (!a.password.empty()) throw UsageError("create cannot give a new database a password");
  dao::Engine().CreateDatabase(a.positional[0], ";LANGID=0x0409;CP=1252;COUNTRY=0", format->second).Close();
  return 0;
}

// NAME:TYPE[:SIZE][:FLAG...]. Every field is read before the file is opened, so that a mistake
// in the last one leaves the file as it was.
int cmdCreateTable(const Args& a, Io&) {
  if (a.positional.size() < 3) throw UsageError("create-table needs a table name and at least one field");
  struct Outline {
    std::string name;
    int16_t type;
    int32_t size;
    bool autoNumber = false, required = false, allowZero = false;
    std::string defaultValue, validationRule, validationText, expression;
  };
  std::vector<Outline> outlines;
  for (size_t i = 2; i < a.positional.size(); ++i) {
    std::vector<std::string> parts;
    const std::string& s = a.positional[i];
    for (size_t start = 0;;) {
      const size_t colon = s.find(':', start);
      parts.push_back(s.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
    if (parts.size() < 2 || parts[0].empty()) throw UsageError("field must be NAME:TYPE[:SIZE][:FLAG...]: " + s);
    const auto& types = typeTable();
    const auto type = std::find_if(types.begin(), types.end(), [&](const TypeEntry& t) { return jet::sameName(t.name, parts[1]); });
    if (type == types.end()) throw UsageError("unknown field type " + parts[1]);
    Outline sp{parts[0], type->code, type->size};
    if (parts.size() > 2 && !parts[2].empty()) sp.size = static_cast<int32_t>(parsePosition(parts[2]));
    for (size_t k = 3; k < parts.size(); ++k) {
      if (parts[k] == "auto") sp.autoNumber = true;
      else if (parts[k] == "required") sp.required = true;
      else if (parts[k] == "allowzero") sp.allowZero = true;
      else throw UsageError("unknown field flag " + parts[k]);
    }
    outlines.push_back(sp);
  }
  // FIELD=TEXT options, each naming a field given above.
  auto assign = [&](const std::vector<std::string>& given, const char* option, std::string Outline::*member) {
    for (const std::string& g : given) {
      const size_t eq = g.find('=');
      if (eq == std::string::npos || eq == 0) throw UsageError(std::string(option) + " must be FIELD=VALUE: " + g);
      const std::string field = g.substr(0, eq);
      auto it = std::find_if(outlines.begin(), outlines.end(), [&](const Outline& o) { return jet::sameName(o.name, field); });
      if (it == outlines.end()) throw UsageError(std::string(option) + " names no field of the table: " + field);
      (*it).*member = g.substr(eq + 1);
    }
  };
  assign(a.defaults, "--default", &Outline::defaultValue);
  assign(a.rules, "--rule", &Outline::validationRule);
  assign(a.ruleTexts, "--rule-text", &Outline::validationText);
  assign(a.calculated, "--calculated", &Outline::expression);
  dao::Database db = openDao(a, false);
  dao::TableDef t = db.CreateTableDef(a.positional[1]);
  t.SetValidationRule(a.tableRule);
  t.SetValidationText(a.tableRuleText);
  for (const Outline& sp : outlines) {
    dao::Field f = t.CreateField(sp.name, sp.type, sp.size);
    t.GetFields().Append(f);
    f.SetRequired(sp.required);
    f.SetAllowZeroLength(sp.allowZero);
    f.SetAttributes(sp.autoNumber ? dao::dbAutoIncrField : 0);
    f.SetDefaultValue(sp.defaultValue);
    f.SetValidationRule(sp.validationRule);
    f.SetValidationText(sp.validationText);
    f.SetExpression(sp.expression);
  }
  db.GetTableDefs().Append(t);
  db.Close();
  return 0;
}

int cmdRenameTable(const Args& a, Io&) {
  need(a, 3, 3);
  dao::Database db = openDao(a, false);
  db.GetTableDefs().Item(a.positional[1]).SetName(a.positional[2]);
  db.Close();
  return 0;
}

int cmdDropTable(const Args& a, Io&) {
  need(a, 2, 2);
  dao::Database db = openDao(a, false);
  db.GetTableDefs().Delete(a.positional[1]);
  db.Close();
  return 0;
}

}  // namespace cli
