// Compaction by rebuilding: the destination is created empty with the source's format, code page
// and sort order, and every table is created afresh and filled with the source's rows in stored
// order. Rows are packed densely, long values are written once each, indexes are built from the
// rows, and whatever the source had freed or deleted is simply never copied.

#include "jet/compact.h"

#include <filesystem>
#include <string>
#include <vector>

#include "jet/database.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

bool pathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::unique_ptr<Database> openReadOnly(const std::string& path) {
  OpenOptions options;
  options.readOnly = true;
  return Database::open(path, options);
}

bool isCopiedTable(const CatalogObject& object) { return object.kind == ObjectKind::Table; }

// The definition that recreates a table: its columns in field order and its indexes, with index
// columns given by position instead of by column number.
NewTable newTableFrom(const TableInfo& info, Format format) {
  NewTable spec;
  spec.name = info.name;
  for (const ColumnInfo& c : info.columns) {
    NewColumn column;
    column.name = c.name;
    column.type = c.type;
    if (c.type == ColumnType::Text) {
      column.size = format == Format::Jet4 ? c.length / 2 : c.length;
    } else if (c.type == ColumnType::Binary) {
      column.size = c.length;
    }
    column.autoNumber = c.autoNumber;
    column.required = c.required;
    column.allowZeroLength = c.allowZeroLength;
    spec.columns.push_back(column);
  }
  auto positionOf = [&](uint16_t number) -> int {
    for (size_t i = 0; i < info.columns.size(); ++i)
      if (info.columns[i].number == number) return static_cast<int>(i);
    return -1;
  };
  for (const IndexInfo& index : info.indexes) {
    NewIndex ni;
    ni.name = index.name;
    ni.primaryKey = index.primaryKey;
    ni.unique = index.unique;
    ni.ignoreNulls = index.ignoreNulls;
    ni.required = index.required;
    bool complete = !index.columns.empty();
    for (const IndexColumn& ic : index.columns) {
      int position = positionOf(ic.columnNumber);
      if (position < 0) {
        complete = false;
        break;
      }
      ni.columns.push_back(IndexColumn{static_cast<uint16_t>(position), ic.ascending});
    }
    if (!complete)
      throw Error(err::kCorrupt, "Index '" + index.name + "' of table '" + info.name + "' names a column the table does not have.");
    spec.indexes.push_back(std::move(ni));
  }
  return spec;
}

void copyRows(Database& from, Database& to, const std::string& table) {
  auto cursor = from.openTable(table);
  while (cursor->next()) to.insertRow(table, cursor->values());
}

// Deletes the destination when compaction stops part-way: the file was created by this
// compaction, so removing it loses nothing and leaves no half-written database behind.
class PartialDestination {
 public:
  explicit PartialDestination(std::string path) : path_(std::move(path)) {}
  ~PartialDestination() {
    if (armed_) {
      std::error_code ec;
      fs::remove(path_, ec);
    }
  }
  void arm() { armed_ = true; }
  void release() { armed_ = false; }

 private:
  std::string path_;
  bool armed_ = false;
};

[[noreturn]] void mismatch(const std::string& what) {
  throw Error(err::kCorrupt, "The compacted copy does not match its source: " + what);
}

}  // namespace

void Database::compact(const std::string& source, const std::string& destination) {
  if (pathExists(destination)) throw Error(err::kDatabaseExists, "Database already exists.");
  if (!pathExists(source)) throw Error(err::kFileNotFound, "Could not find file '" + source + "'.");

  auto src = openReadOnly(source);
  CreateOptions options;
  options.format = src->format();
  options.codePage = src->codePage();
  options.sortOrder = src->sortOrder();

  PartialDestination partial(destination);  // declared before dst: dst is closed before removal
  std::unique_ptr<Database> dst = Database::create(destination, options);
  partial.arm();

  for (const CatalogObject& object : src->objects()) {
    if (!isCopiedTable(object)) continue;
    TableInfo info = src->table(object.name);
    dst->createTable(newTableFrom(info, src->format()));
    copyRows(*src, *dst, object.name);
  }
  dst->close();
  src->close();
  partial.release();
}

void verifyCompactedCopy(const std::string& source, const std::string& copy) {
  auto src = openReadOnly(source);
  auto dst = openReadOnly(copy);
  CheckReport report = dst->check();
  if (!report.ok()) mismatch("it fails its check (" + report.problems.front() + ").");
  if (dst->format() != src->format()) mismatch("its format differs.");
  if (dst->codePage() != src->codePage()) mismatch("its code page differs.");
  if (dst->sortOrder() != src->sortOrder()) mismatch("its sort order differs.");

  std::vector<std::string> srcTables, dstTables;
  for (const CatalogObject& o : src->objects())
    if (isCopiedTable(o)) srcTables.push_back(o.name);
  for (const CatalogObject& o : dst->objects())
    if (isCopiedTable(o)) dstTables.push_back(o.name);
  if (srcTables != dstTables) mismatch("it holds other tables.");

  for (const std::string& name : srcTables) {
    auto a = src->openTable(name);
    auto b = dst->openTable(name);
    uint64_t row = 0;
    while (true) {
      bool moreA = a->next();
      bool moreB = b->next();
      if (moreA != moreB) mismatch("table '" + name + "' has a different number of rows.");
      if (!moreA) break;
      ++row;
      const std::vector<Value>& va = a->values();
      const std::vector<Value>& vb = b->values();
      if (va.size() != vb.size()) mismatch("table '" + name + "' has other columns.");
      for (size_t i = 0; i < va.size(); ++i)
        if (toText(va[i]) != toText(vb[i]))
          mismatch("row " + std::to_string(row) + " of table '" + name + "' differs.");
    }
  }
}

}  // namespace jet
