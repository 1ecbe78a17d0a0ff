// Writes the sample database that "Load Sample/Example Database" opens: two small tables of
// customers and their orders, made through the object model. Run at build time; when the file
// cannot be written it says so and the build goes on (the command then reports the missing sample).
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "db/dao.h"
#include "db/session.h"

namespace {

struct Column {
  const char* name;
  int16_t type;
  int32_t size;
  bool autoNumber;
};

void addTable(dao::Database& db, const char* name, const std::vector<Column>& columns) {
  dao::TableDef table = db.CreateTableDef(name);
  for (const Column& c : columns) {
    dao::Field f = table.CreateField(c.name, c.type, c.size);
    if (c.autoNumber) f.SetAttributes(dao::dbAutoIncrField | dao::dbFixedField);
    table.GetFields().Append(f);
  }
  db.GetTableDefs().Append(table);
}

void addRow(dao::Database& db, const char* table, const std::vector<std::pair<const char*, std::string>>& values) {
  dao::Recordset rs = db.OpenRecordset(table);
  rs.AddNew();
  for (const auto& [field, text] : values) rs.GetFields().Item(field).SetValue(text);
  rs.Update();
  rs.Close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample OUTPUT.mdb\n");
    return 2;
  }
  const std::string path = argv[1];
  const std::string partial = path + ".partial";
  try {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::filesystem::remove(partial);
    dao::Database db = dao::Engine().CreateDatabase(partial, modDB::kLocaleGeneral, dao::dbVersion40);
    addTable(db, "Customers",
             {{"CustomerID", dao::dbLong, 4, true},
              {"Name", dao::dbText, 50, false},
              {"City", dao::dbText, 40, false},
              {"Joined", dao::dbDate, 8, false},
              {"Active", dao::dbBoolean, 1, false}});
    addTable(db, "Orders",
             {{"OrderID", dao::dbLong, 4, true},
              {"CustomerID", dao::dbLong, 4, false},
              {"Item", dao::dbText, 50, false},
              {"Quantity", dao::dbInteger, 2, false},
              {"Price", dao::dbCurrency, 8, false},
              {"Notes", dao::dbMemo, 0, false}});
    const char* customers[][4] = {
        {"Harbour Supplies", "Portsmouth", "2019-04-02", "True"}, {"Greenleaf Books", "Norwich", "2020-11-17", "True"},
        {"Atlas Joinery", "Leeds", "2018-01-09", "False"},       {"Blue Kettle Cafe", "Bristol", "2021-06-30", "True"},
        {"Northfield Farm", "York", "2017-09-14", "True"},        {"Quayside Marine", "Plymouth", "2022-02-21", "False"},
    };
    for (const auto& c : customers)
      addRow(db, "Customers", {{"Name", c[0]}, {"City", c[1]}, {"Joined", c[2]}, {"Active", c[3]}});
    const char* orders[][5] = {
        {"1", "Rope, 20 m", "4", "12.5", "Deliver to the east gate."},
        {"1", "Deck paint", "2", "31.99", ""},
        {"2", "Shelving unit", "3", "89", "Flat-packed."},
        {"3", "Oak boards", "40", "7.25", ""},
        {"4", "Coffee beans, 1 kg", "12", "14.8", "Weekly standing order."},
        {"5", "Fence posts", "60", "4.1", ""},
        {"5", "Wire mesh roll", "5", "22", ""},
        {"6", "Mooring buoy", "1", "145", "Orange, please."},
    };
    for (const auto& o : orders) {
      std::vector<std::pair<const char*, std::string>> values = {
          {"CustomerID", o[0]}, {"Item", o[1]}, {"Quantity", o[2]}, {"Price", o[3]}};
      if (*o[4]) values.push_back({"Notes", o[4]});
      addRow(db, "Orders", values);
    }
    db.Close();
    std::filesystem::rename(partial, path);
  } catch (const std::exception& e) {
    std::error_code ignored;
    std::filesystem::remove(partial, ignored);
    std::fprintf(stderr, "warning: the sample database was not written: %s\n", e.what());
  }
  return 0;
}
