// Compaction of a sound database: its catalog's tables and their live rows, copied by the copier
// (jet/compact_source.h) into a fresh file.

#include "jet/compact.h"

#include <memory>
#include <string>
#include <vector>

#include "jet/catalog/catalog.h"
#include "jet/catalog/system_tables.h"
#include "jet/compact_source.h"
#include "jet/database.h"
#include "jet/file_database.h"
#include "jet/table/table_def.h"
#include "jet/table/table_scan.h"

namespace jet {
namespace {

// A sound database read through its catalog: every table it lists, every live row.
class DatabaseSource : public CompactionSource {
 public:
  explicit DatabaseSource(FileDatabase& db) : db_(db) {}

  Format format() const override { return db_.format(); }
  FileVersion version() const override { return db_.version(); }
  PageFile& pageFile() override { return db_.pageFile(); }
  TextCodec& codec() override { return db_.codec(); }
  Bytes header() override { return unencodedHeaderPage(db_.pageFile(), db_.format()); }

  std::vector<SourceTable> tables() override {
    std::vector<SourceTable> out;
    out.push_back(table("MSysObjects", 0, sys::kCatalogTdef));
    for (const CatalogEntry& e : db_.catalog().entries()) {
      if (e.type != sys::kTypeTable) continue;
      const uint32_t page = e.object.tdefPage;
      if (page < 2 || page >= db_.pageFile().pageCount())
        throwCorrupt("table '" + e.object.name + "' points to a page that is not in the file");
      out.push_back(table(e.object.name, e.object.id, page));
    }
    return out;
  }

  std::unique_ptr<SourceRows> rows(const SourceTable& table) override {
    return std::make_unique<ScanRows>(db_.pageFile(), table.def, db_.codec());
  }

 private:
  class ScanRows : public SourceRows {
   public:
    ScanRows(PageFile& file, const Tdef& def, TextCodec& codec) : scan_(file, def, codec) {}
    bool next() override { return scan_.next(); }
    RowId rowId() const override { return scan_.rowId(); }
    const uint8_t* data() const override { return scan_.rowData(); }
    size_t size() const override { return scan_.rowSize(); }

   private:
    TableScan scan_;
  };

  SourceTable table(const std::string& name, int32_t id, uint32_t page) {
    SourceTable t;
    t.name = name;
    t.id = id;
    t.page = page;
    t.def = readTdef(db_.pageFile(), db_.format(), db_.codec(), page);
    t.def.version = db_.version();
    return t;
  }

  FileDatabase& db_;
};
}  // namespace

void compactDatabase(const std::string& source, const std::string& destination, const std::string& password) {
  requireCopyPaths(source, destination);

  FileDatabase src(source, OpenOptions{true, password});
  DatabaseSource from(src);
  copyDatabase(from, destination);
}

void Database::compact(const std::string& source, const std::string& destination, const std::string& password) {
  compactDatabase(source, destination, password);
}

}  // namespace jet
