// The engine's Database over one open file: opening it (header, page file, catalog), the table
// definitions and descriptions it caches, cursors over local and linked tables, and closing. Its
// writes are in file_database_writes.cpp and file_database_rules.cpp.

#include "jet/file_database.h"

#include <algorithm>
#include <exception>
#include <set>

#include "jet/base/bytes.h"
#include "jet/base/paths.h"
#include "jet/catalog/properties.h"
#include "jet/catalog/system_tables.h"
#include "jet/check.h"
#include "jet/linked_table.h"
#include "jet/storage/encryption.h"
#include "jet/table/row.h"
#include "jet/table/table_scan.h"
#include "jet/table/table_writer.h"

namespace jet {

namespace {

// The page file with its header read, for the constructor's initialiser list.
std::unique_ptr<PageFile> openFile(const std::string& path, const OpenOptions& options, Header& header) {
  auto file = std::make_unique<PageFile>(path, options.readOnly, PageFile::kCachePages, options.busyTimeoutMs);
  file->beginRead();  // until the catalog is read (the constructor ends it)
  header = parseHeader(file->readPrefix(kHeaderBytes), fileName(path));
  file->setPageSize(header.pageSize);
  unlockPages(*file, header, options.password, fileName(path));
  if (file->pageCount() <= sys::kCatalogTdef) throwCorrupt("the file is too short to hold a catalog");
  return file;
}

class Cursor : public TableCursor {
 public:
  Cursor(PageFile& file, const Tdef& def, TextCodec& codec, TableInfo info)
      : info_(std::move(info)), scan_(file, def, codec) {}
  const TableInfo& table() const override { return info_; }
  bool next() override { return scan_.next(); }
  RowId rowId() const override { return scan_.rowId(); }
  const std::vector<Value>& values() override { return scan_.values(); }
  void rewind() override { scan_.rewind(); }

 private:
  TableInfo info_;
  TableScan scan_;
};

// A table read through a link: the source's cursor under the link's name.
class LinkedCursor : public TableCursor {
 public:
  LinkedCursor(std::unique_ptr<TableCursor> inner, TableInfo info) : inner_(std::move(inner)), info_(std::move(info)) {}
  const TableInfo& table() const override { return info_; }
  bool next() override { return inner_->next(); }
  RowId rowId() const override { return inner_->rowId(); }
  const std::vector<Value>& values() override { return inner_->values(); }
  void rewind() override { inner_->rewind(); }

 private:
  std::unique_ptr<TableCursor> inner_;
  TableInfo info_;
};

// Text lengths are bytes as the format stores them (two per character in Jet 4). A table read
// through a link from a file of the other format is described in this file's terms, so that its
// sizes in characters come out right.
void restateTextLengths(TableInfo& info, Format from, Format to) {
  if (from == to) return;
  for (ColumnInfo& c : info.columns)
    if (c.type == ColumnType::Text) c.length = to == Format::Jet4Layout ? uint16_t(c.length * 2) : uint16_t(c.length / 2);
}

// Links may lead to further links; a chain this long means one that returns to where it began.
constexpr int kMaxLinkDepth = 16;
thread_local int linkDepth = 0;

struct LinkStep {
  explicit LinkStep(const std::string& name) {
    if (linkDepth >= kMaxLinkDepth)
      throw Error(err::kTableNotFound, "The linked table '" + name + "' leads through too many links; one of them points back.");
    ++linkDepth;
  }
  ~LinkStep() { --linkDepth; }
  LinkStep(const LinkStep&) = delete;
  LinkStep& operator=(const LinkStep&) = delete;
};

}  // namespace

FileDatabase::FileDatabase(const std::string& path, const OpenOptions& options)
    : path_(path), file_(openFile(path, options, header_)), codec_(header_.codePage),
      catalog_(Catalog::read(*file_, header_.format, codec_)) {
  file_->endRead();
}

PageFile& FileDatabase::open() {
  if (!file_) throw Error(err::kInvalidOperation, "Invalid operation: the database is closed.");
  return *file_;
}

std::vector<CatalogObject> FileDatabase::objects() {
  open();
  settle();
  return catalog_.objects();
}

const CatalogEntry& FileDatabase::localTable(const std::string& name) {
  open();
  const CatalogEntry* e = catalog_.findTable(name);
  if (!e)
    throw Error(err::kTableNotFound,
                "The Microsoft Jet database engine cannot find the input table or query '" + name +
                    "'. Make sure it exists and that its name is spelled correctly.");
  if (e->object.kind == ObjectKind::LinkedTable)
    throw Error(err::kTableNotFound, "The table '" + name + "' is linked to '" + e->object.linkedDatabase +
                                         "'; it can be read here but changed only in that database.");
  return *e;
}

std::optional<FileDatabase::LinkedSource> FileDatabase::linkedSource(const std::string& name) {
  open();
  const CatalogEntry* e = catalog_.findTable(name);
  if (!e || e->object.kind != ObjectKind::LinkedTable) return std::nullopt;
  if (e->type != sys::kTypeLinkedTable)
    throw Error(err::kTableNotFound, "The table '" + name + "' is linked through ODBC; only tables linked to Access files can be opened.");
  const std::string source = resolveLinkedSource(e->object.linkedDatabase, path_);
  if (source.empty()) throw Error(err::kFileNotFound, "Could not find file '" + e->object.linkedDatabase + "'.");
  auto it = linked_.find(source);
  if (it == linked_.end()) it = linked_.emplace(source, Database::open(source, {true, ""})).first;
  return LinkedSource{it->second.get(), e->object.foreignName.empty() ? e->object.name : e->object.foreignName, e->object.name};
}

const Tdef& FileDatabase::tableDef(const std::string& name) {
  const CatalogEntry& e = localTable(name);
  auto it = defs_.find(e.object.tdefPage);
  if (it == defs_.end()) {
    auto def = std::make_unique<Tdef>(readTdef(*file_, header_.format, codec_, e.object.tdefPage));
    def->version = header_.version;
    it = defs_.emplace(e.object.tdefPage, std::move(def)).first;
  }
  return *it->second;
}

TableInfo FileDatabase::table(const std::string& name) {
  settle();
  if (auto link = linkedSource(name)) {
    LinkStep step(name);
    TableInfo info = link->db->table(link->table);
    info.name = link->localName;
    restateTextLengths(info, link->db->format(), header_.format);
    return info;
  }
  const Tdef& def = tableDef(name);
  const CatalogEntry& e = localTable(name);
  TableInfo info = describeTable(def, e.object.name);
  applyColumnProperties(parseProperties(e.properties, header_.format, codec_), info);
  for (const ColumnInfo& c : info.columns)
    if (c.type == ColumnType::Complex) {
      complex_.describe(info);
      break;
    }
  return info;
}

std::unique_ptr<ComplexValues> FileDatabase::complexValues(const std::string& table, const std::string& column) {
  if (auto link = linkedSource(table)) {
    LinkStep step(table);
    return link->db->complexValues(link->table, column);
  }
  const TableInfo info = this->table(table);
  for (const ColumnInfo& c : info.columns)
    if (c.type == ColumnType::Complex && sameName(c.name, column)) return readComplexValues(*this, complex_.column(c));
  throw Error(err::kUnknownField, "Item not found in this collection.", info.name, column);
}

std::map<std::string, std::vector<RowId>> FileDatabase::hiddenRowsOf(const std::string& table,
                                                                     const std::vector<RowId>& rows) {
  std::map<std::string, std::vector<RowId>> out;
  if (linkedSource(table)) return out;
  const TableInfo info = this->table(table);
  std::vector<size_t> complexColumns;
  for (size_t i = 0; i < info.columns.size(); ++i)
    if (info.columns[i].type == ColumnType::Complex) complexColumns.push_back(i);
  if (complexColumns.empty() || rows.empty()) return out;
  // Every complex column of a row holds the row's one key.
  auto address = [](const RowId& r) { return (uint64_t(r.page) << 16) | r.row; };
  std::set<uint64_t> wanted;
  for (const RowId& r : rows) wanted.insert(address(r));
  std::set<int32_t> keys;
  auto cursor = openTable(table);
  while (cursor->next()) {
    if (!wanted.count(address(cursor->rowId()))) continue;
    const std::vector<Value>& values = cursor->values();
    for (size_t i : complexColumns)
      if (const auto* k = std::get_if<int64_t>(&values[i])) keys.insert(static_cast<int32_t>(*k));
  }
  if (keys.empty()) return out;
  for (size_t i : complexColumns) {
    const ComplexData::Column& c = complex_.column(info.columns[i]);
    std::vector<RowId> hidden = complexRowsOf(*this, c, keys);
    auto& list = out[c.flatTable];
    for (const RowId& r : hidden)
      if (std::find(list.begin(), list.end(), r) == list.end()) list.push_back(r);
  }
  return out;
}

std::unique_ptr<TableCursor> FileDatabase::openTable(const std::string& name) {
  if (auto link = linkedSource(name)) {
    LinkStep step(name);
    auto inner = link->db->openTable(link->table);
    TableInfo info = inner->table();
    info.name = link->localName;
    restateTextLengths(info, link->db->format(), header_.format);
    return std::make_unique<LinkedCursor>(std::move(inner), std::move(info));
  }
  TableInfo info = table(name);
  return std::make_unique<Cursor>(*file_, tableDef(name), codec_, std::move(info));
}


void FileDatabase::ensureWritable() {
  PageFile& file = open();
  if (file.readOnly()) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  if (!structureChecked_) {
    // Writing into a file whose structure is already broken would spread the damage (pages handed
    // out twice, rows lost from maps), so the first write of a session checks the whole file.
    CheckReport report = checkDatabase(file, header_, codec_, true);
    structureChecked_ = true;
    if (!report.ok()) damage_ = report.problems.front();
  }
  if (!damage_.empty())
    throw Error(err::kCorrupt, "The database '" + fileName(path_) + "' is damaged and cannot be changed (" + damage_ +
                                   "). Copy the data you need, or compact the database.");
}

void FileDatabase::reloadState() {
  queueOwner_ = nullptr;
  lastWriter_ = nullptr;
  writers_.clear();
  defs_.clear();
  complex_.forget();
  histories_.clear();
  lastHistories_ = nullptr;
  rules_.clear();
  lastRules_ = nullptr;
  integrity_.reset();
  infos_.clear();
  catalog_ = Catalog::read(*file_, header_.format, codec_);
}

std::vector<Value> FileDatabase::storedRow(const std::string& table, RowId row) {
  const Tdef& def = tableDef(table);
  // A row that moved keeps its place: its body elsewhere carries the deleted flag, its home slot
  // says whether the row is live.
  if (row.page >= file_->pageCount() || row.row >= pageRowCount(file_->page(row.page)->data(), file_->pageSize(), header_.format) ||
      rowSlot(file_->page(row.page)->data(), file_->pageSize(), header_.format, row.row).deleted)
    throw Error(err::kRecordDeleted, "Record is deleted.");
  RowSlot slot;
  PageRef page = resolveRow(*file_, header_.format, row, slot);
  std::vector<Value> values;
  LongValueReader longValues(*file_, header_.format);
  RowReader(def, codec_, longValues).decode(page->data() + slot.start, slot.size(), values);
  return values;
}

int32_t FileDatabase::complexKeyOf(const std::string& table, RowId row) {
  const Tdef& def = tableDef(table);
  const std::vector<Value> values = storedRow(table, row);
  for (size_t i = 0; i < def.columns.size() && i < values.size(); ++i)
    if (def.columns[i].type == ColumnType::Complex)
      if (const auto* k = std::get_if<int64_t>(&values[i])) return int32_t(*k);
  return 0;
}

CheckReport FileDatabase::check() {
  settle();
  return checkDatabase(open(), header_, codec_);
}

void FileDatabase::close() {
  std::exception_ptr failed;
  // A transaction still open when the database closes is given up.
  if (file_ && transaction_) rollbackTransaction();
  if (file_) {
    try {
      settle();
    } catch (...) {
      failed = std::current_exception();
    }
  }
  queueOwner_ = nullptr;
  lastWriter_ = nullptr;
  writers_.clear();
  defs_.clear();
  linked_.clear();
  if (file_ && !file_->readOnly()) file_->flush();
  file_.reset();
  if (failed) std::rethrow_exception(failed);
}

FileDatabase::~FileDatabase() {
  try {
    close();
  } catch (const Error&) {
    // Nothing to report to from a destructor; callers that must know commit queued rows first.
  }
}

}  // namespace jet
