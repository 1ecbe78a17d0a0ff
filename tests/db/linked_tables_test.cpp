// A table linked to another Access file, seen through the object model as the windows see it: a
// TableDef marked as attached whose Fields and records are the source table's.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "db/dao.h"
#include "jet/database.h"

namespace fs = std::filesystem;

namespace {

struct Folder {
  fs::path path;
  Folder() {
    std::string tmpl = (fs::temp_directory_path() / "tabulonix-link-XXXXXX").string();
    path = ::mkdtemp(tmpl.data()) ? fs::path(tmpl) : fs::path();
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string copy(const std::string& name, const std::string& as) {
    fs::path to = path / as;
    fs::copy_file(fs::path(TABULONIX_TESTDATA_DIR) / name, to);
    fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
    return to.string();
  }
};

TEST(LinkedTablesInTheObjectModel, ReadLikeTheSourceTable) {
  Folder dir;
  ASSERT_FALSE(dir.path.empty());
  const std::string front = dir.copy("emptyJet4.mdb", "front.mdb");
  const std::string data = dir.copy("testV1997.mdb", "data.mdb");
  {
    // The catalog row Access writes for a link to a table of another Access file.
    auto engine = jet::Database::open(front, {false, ""});
    std::map<std::string, jet::Value> v{{"Id", int64_t(0x7F0001)},       {"ParentId", int64_t(0x0F000001)},
                                        {"Name", std::string("Sales")},  {"Type", int64_t(6)},
                                        {"Flags", int64_t(0x00100000)},  {"Database", std::string("C:\\Data\\data.mdb")},
                                        {"ForeignName", std::string("Table1")}};
    std::vector<jet::Value> row;
    for (const jet::ColumnInfo& c : engine->table("MSysObjects").columns) row.push_back(v.count(c.name) ? v[c.name] : jet::Value{});
    engine->insertRow("MSysObjects", row);
    engine->close();
  }
  dao::Database db = dao::Engine().OpenDatabase(front);
  dao::Database source = dao::Engine().OpenDatabase(data, false, true);
  dao::TableDef link = db.GetTableDefs().Item("Sales");
  EXPECT_EQ(link.Attributes() & dao::dbAttachedTable, dao::dbAttachedTable);
  EXPECT_EQ(link.Attributes() & dao::dbSystemObject, 0);
  dao::Fields fields = link.GetFields();
  dao::Fields expected = source.GetTableDefs().Item("Table1").GetFields();
  ASSERT_EQ(fields.Count(), expected.Count());
  for (int i = 0; i < fields.Count(); ++i) {
    EXPECT_EQ(fields.Item(i).Name(), expected.Item(i).Name());
    EXPECT_EQ(fields.Item(i).Type(), expected.Item(i).Type());
    EXPECT_EQ(fields.Item(i).Size(), expected.Item(i).Size());
  }
  dao::Recordset rs = db.OpenRecordset("Sales");
  dao::Recordset want = source.OpenRecordset("Table1");
  EXPECT_EQ(rs.RecordCount(), want.RecordCount());
  EXPECT_GT(rs.RecordCount(), 0);
  for (; !want.EOF_(); want.MoveNext(), rs.MoveNext()) {
    ASSERT_FALSE(rs.EOF_());
    for (int i = 0; i < fields.Count(); ++i)
      EXPECT_EQ(jet::toText(rs.GetFields().Item(i).GetValue()), jet::toText(want.GetFields().Item(i).GetValue()));
  }
  EXPECT_TRUE(rs.EOF_());
  rs.Close();
  db.Close();
  source.Close();
}

}  // namespace
