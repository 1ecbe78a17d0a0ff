// Compaction by rewriting every table into a fresh file.
//
// The destination gets the source's header (so format, code page, sort order and the header's other
// settings carry over) and then, table by table in catalog order, each table's definition with its
// columns exactly as they were, its live rows copied byte for byte in stored order onto densely
// packed pages, its long values rewritten onto packed long-value pages, fresh usage maps, and every
// index built anew from the rows. Deleted rows, freed pages, dead long values and the slack of
// half-empty pages are simply never copied.
//
// A table's catalog id is the page of its definition, so tables get new ids; every system-table
// column that names an object by id (the catalog's Id and ParentId, ObjectId of the permissions and
// query tables) and every index that refers to another table's definition page are remapped to the
// new pages. Nothing else about a row changes: auto-numbers keep their values and the next
// auto-number carries over.

#include "jet/compact.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/catalog_writer.h"
#include "jet/catalog/schema_writer.h"
#include "jet/catalog/system_tables.h"
#include "jet/compact_source.h"
#include "jet/database.h"
#include "jet/database_impl.h"
#include "jet/index/index.h"
#include "jet/index/index_key.h"
#include "jet/storage/data_page.h"
#include "jet/storage/encryption.h"
#include "jet/storage/header.h"
#include "jet/storage/long_value.h"
#include "jet/storage/usage_map.h"
#include "jet/table/row.h"
#include "jet/table/table_def.h"
#include "jet/table/table_scan.h"

namespace jet {
namespace {

bool pathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::unique_ptr<Database> openReadOnly(const std::string& path, const std::string& password) {
  OpenOptions options;
  options.readOnly = true;
  options.password = password;
  return Database::open(path, options);
}

// ---------------------------------------------------------------------------------------------
// Writing the destination

// The destination file, a new page file that gets its name only when complete. Pages are handed
// out in increasing order but may be written some time later (a long-value page stays open while
// rows go on), so pages wait in memory until every page before them is there and then go to the
// file in long sequential runs. Should too many wait for one page, that page is written empty for
// now and overwritten when it comes.
class Output {
 public:
  explicit Output(PageFile& file) : file_(file), pageSize_(file.pageSize()) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  uint32_t allocate() { return next_++; }
  uint32_t end() const { return next_; }

  void write(uint32_t page, const uint8_t* data) {
    if (page < written_) {
      file_.writeRun(page, data, 1);
      return;
    }
    pending_[page].assign(data, data + pageSize_);
    drain(false);
  }
  void write(uint32_t page, const Bytes& data) { write(page, data.data()); }

  void read(uint32_t page, uint8_t* out) {
    auto it = pending_.find(page);
    if (it != pending_.end()) {
      std::memcpy(out, it->second.data(), pageSize_);
      return;
    }
    std::memset(out, 0, pageSize_);
    if (page >= written_) return;
    PageRef p = file_.page(page);
    std::memcpy(out, p->data(), pageSize_);
  }

  // Writes everything still held, makes the file as long as the pages handed out, and gives the
  // file its name once it is all on disk.
  void finish() {
    drain(true);
    while (written_ < next_) {
      run_.insert(run_.end(), pageSize_, 0);
      ++written_;
    }
    flushRun(true);
    file_.publish();
  }

 private:
  static constexpr size_t kRunPages = 256;
  static constexpr size_t kMostHeld = 256;

  void drain(bool all) {
    while (!pending_.empty()) {
      auto it = pending_.begin();
      if (it->first != written_) {
        if (!all && pending_.size() < kMostHeld) break;
        if (it->first > written_) {  // the missing page is written empty for now
          run_.insert(run_.end(), pageSize_, 0);
          ++written_;
          flushRun(false);
          continue;
        }
      }
      run_.insert(run_.end(), it->second.begin(), it->second.end());
      pending_.erase(it);
      ++written_;
      flushRun(false);
    }
    flushRun(true);
  }

  void flushRun(bool always) {
    const size_t pages = run_.size() / pageSize_;
    if (pages == 0 || (!always && pages < kRunPages)) return;
    file_.writeRun(written_ - uint32_t(pages), run_.data(), pages);
    run_.clear();
  }

  PageFile& file_;
  size_t pageSize_;
  uint32_t next_ = 2;     // after the header and the global page map
  uint32_t written_ = 2;  // every page below is in the file
  std::map<uint32_t, Bytes> pending_;
  Bytes run_;
};

// A page of rows filled one row at a time.
class PageBuilder {
 public:
  void start(Format f, size_t pageSize, uint32_t owner) {
    page_.assign(pageSize, 0);
    initDataPage(page_.data(), uint32_t(pageSize), f, owner);
    rows_.emplace(page_.data(), uint32_t(pageSize), f);
  }
  bool started() const { return rows_.has_value(); }
  uint16_t count() const { return rows_ ? rows_->count() : 0; }
  // Bytes a new row body may take on this page.
  size_t room() const { return rows_ ? rows_->room() : 0; }
  bool fits(size_t size) const { return rows_ && rows_->fits(size); }
  uint16_t add(const uint8_t* body, size_t size) { return rows_->add(body, size); }
  const Bytes& page() const { return page_; }
  void reset() { rows_.reset(); }

 private:
  Bytes page_;
  std::optional<RowAppender> rows_;
};

// Usage-map rows, packed onto shared pages that belong to no table.
class MapRows {
 public:
  MapRows(Output& out, Format f) : out_(out), format_(f), pageSize_(pageSizeOf(f)) {}

  // A map of exactly these pages, the size of an inline map so that the engine can later widen it
  // in place.
  uint32_t add(std::vector<uint32_t> pages) {
    return place(buildUsageMap(format_, std::move(pages), [&](const Bytes& bitmap) {
      const uint32_t at = out_.allocate();
      out_.write(at, bitmap);
      return at;
    }));
  }

  void finish() {
    if (current_.started()) out_.write(pageNo_, current_.page());
    current_.reset();
  }

 private:
  uint32_t place(const Bytes& row) {
    if (!current_.fits(row.size())) {
      finish();
      pageNo_ = out_.allocate();
      current_.start(format_, pageSize_, 0);
    }
    const uint16_t r = current_.add(row.data(), row.size());
    return makePointer(pageNo_, r);
  }

  Output& out_;
  Format format_;
  size_t pageSize_;
  PageBuilder current_;
  uint32_t pageNo_ = 0;
};

// The pages of one new index tree; they all come from the end of the destination.
class OutputIndexStore : public IndexPageStore {
 public:
  OutputIndexStore(Output& out, Format f, std::vector<uint32_t>& pages)
      : out_(out), format_(f), pages_(pages), zero_(pageSizeOf(f), 0) {}
  Format format() const override { return format_; }
  void readPage(uint32_t page, uint8_t* data) override { out_.read(page, data); }
  void writePage(uint32_t page, const uint8_t* data) override { out_.write(page, data); }
  uint32_t allocatePage() override {
    uint32_t page;
    if (!spare_.empty()) {
      page = spare_.back();
      spare_.pop_back();
    } else {
      page = out_.allocate();
    }
    out_.write(page, zero_);
    pages_.push_back(page);
    return page;
  }
  void freePage(uint32_t page) override {
    out_.write(page, zero_);
    pages_.erase(std::remove(pages_.begin(), pages_.end(), page), pages_.end());
    spare_.push_back(page);
  }

 private:
  Output& out_;
  Format format_;
  std::vector<uint32_t>& pages_;
  std::vector<uint32_t> spare_;
  Bytes zero_;
};

// ---------------------------------------------------------------------------------------------
// Copying tables

struct TableJob {
  SourceTable table;
  std::vector<uint32_t> pages;  // the new definition's page chain
  bool conflicts = false;       // the rows of another table that repeated a unique key
  std::vector<Bytes> rows;      // conflict tables: their rows, as the source stores them
};

bool startsWithMSys(const std::string& name) {
  return name.size() >= 4 && (name[0] == 'M' || name[0] == 'm') && (name[1] == 'S' || name[1] == 's') &&
         (name[2] == 'y' || name[2] == 'Y') && (name[3] == 's' || name[3] == 'S');
}

bool holdsObjectId(const std::string& table, const std::string& column) {
  // Only these refer to the catalog's ids. Other system tables number their own rows (the storage
  // table's Id and ParentId, the navigation pane's group ids): those values are kept as they are.
  if (sameName(table, "MSysObjects")) return sameName(column, "Id") || sameName(column, "ParentId");
  if (sameName(table, "MSysACEs") || sameName(table, "MSysQueries") || sameName(table, "MSysNavPaneGroupToObjects"))
    return sameName(column, "ObjectId");
  // .accdb files: each complex column names its table, its hidden table of values and its type.
  if (sameName(table, "MSysComplexColumns"))
    return sameName(column, "ConceptualTableID") || sameName(column, "FlatTableID") ||
           sameName(column, "ComplexTypeObjectID");
  return false;
}

bool holdsObjectId(const std::string& table, const ColumnDef& column) {
  return column.type == ColumnType::Long && holdsObjectId(table, column.name);
}

class Compactor {
 public:
  Compactor(CompactionSource& src, Output& out)
      : src_(src),
        out_(out),
        format_(src.format()),
        pageSize_(pageSizeOf(src.format())),
        maps_(out, src.format()),
        sourcePages_(SchemaFile::over(src.pageFile(), src.format(), src.codec().codePage())),
        longValues_(src.pageFile(), src.format()) {}

  // Tables go in catalog order, except that the engine's own tables come after the others and the
  // catalog last: tables the copy adds (conflict tables, tables the source's catalog lacks) get
  // their catalog and permission rows as those tables are written.
  std::vector<CopiedTable> run() {
    plan();
    std::vector<TableJob*> user, system;
    TableJob* catalog = &jobs_.front();
    for (size_t i = 1; i < jobs_.size(); ++i)
      (startsWithMSys(jobs_[i].table.name) ? system : user).push_back(&jobs_[i]);
    for (TableJob* job : user) copyWithConflicts(*job);
    for (TableJob* job : system) copyWithConflicts(*job);
    copyWithConflicts(*catalog);
    maps_.finish();
    return std::move(copied_);
  }

 private:
  // Every local table, the catalog first (its definition must stay on page 2); each gets its
  // definition pages, and with them its new id.
  void plan() {
    std::set<uint32_t> seen;
    for (SourceTable& t : src_.tables()) {
      if (!seen.insert(t.page).second) continue;
      TableJob& job = addJob(std::move(t));
      const uint32_t page = job.pages.front();
      pageMap_[job.table.page] = page;
      if (job.table.page == sys::kCatalogTdef) continue;
      if (job.table.catalogRow) idMap_[job.table.id] = int32_t((uint32_t(job.table.id) & 0xFF000000u) | page);
      else fresh_.push_back(&job);
    }
    if (jobs_.empty() || jobs_.front().table.page != sys::kCatalogTdef) throwCorrupt("the catalog cannot be read");
    for (TableJob& job : jobs_) names_.insert(lower(job.table.name));
  }

  TableJob& addJob(SourceTable table) {
    TableJob& job = jobs_.emplace_back();
    job.table = std::move(table);
    const size_t n = tdefPagesNeeded(format_, serializeTableDef(job.table.def, src_.codec()).size());
    for (size_t i = 0; i < n; ++i) job.pages.push_back(out_.allocate());
    return job;
  }

  static std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(uint8_t(c)));
    return s;
  }

  int32_t newId(int32_t id) const {
    auto it = idMap_.find(id);
    return it == idMap_.end() ? id : it->second;
  }

  // Copies the table, then the rows that would have repeated one of its unique keys into a table
  // of their own with the same columns and no indexes.
  void copyWithConflicts(TableJob& job) {
    std::vector<Bytes> conflicts;
    copyTable(job, &conflicts);
    if (conflicts.empty()) return;
    if (job.table.page == sys::kCatalogTdef) {  // too late for a table of its own: counted as lost
      copied_.back().rowsDropped += conflicts.size();
      return;
    }
    SourceTable t = job.table;
    std::string name = t.name + "_RepairConflicts";
    for (int n = 2; names_.count(lower(name)); ++n) name = t.name + "_RepairConflicts" + std::to_string(n);
    names_.insert(lower(name));
    t.name = name;
    t.catalogRow = false;
    t.def.tableType = kUserTableType;
    t.def.realIndexes.clear();
    t.def.indexes.clear();
    TableJob& extra = addJob(std::move(t));
    extra.conflicts = true;
    extra.rows = std::move(conflicts);
    fresh_.push_back(&extra);
    copyTable(extra, nullptr);
  }

  // The catalog rows, or the permission rows, of tables the copy adds.
  std::vector<Bytes> freshRows(const TableJob& job) {
    std::vector<Bytes> rows;
    const TableDef& def = job.table.def;
    const bool catalog = job.table.page == sys::kCatalogTdef;
    if (!catalog && !sameName(job.table.name, "MSysACEs")) return rows;
    const double now = sys::oleNow();
    for (TableJob* t : fresh_) {
      const int64_t id = int64_t(t->pages.front());
      if (catalog) {
        rows.push_back(encodeSystemRow(def, rowByNumber(def, {{sys::kObjId, id},
                                                        {sys::kObjParentId, int64_t(sys::kTablesId)},
                                                        {sys::kObjName, t->table.name},
                                                        {sys::kObjType, int64_t(sys::kTypeTable)},
                                                        {sys::kObjDateCreate, DateTime{now}},
                                                        {sys::kObjDateUpdate, DateTime{now}},
                                                        {sys::kObjOwner, sys::sidBytes(format_, sys::Sid::Creator)},
                                                        {sys::kObjFlags, int64_t(int32_t(startsWithMSys(t->table.name) ? sys::kSystemObjectFlags : 0))}}),
                                       src_.codec()));
      } else if (!acesWritten_.count(t)) {
        for (const sys::Ace& a : sys::newTableAces(int32_t(id)))
          rows.push_back(encodeSystemRow(def, rowByNumber(def, {{sys::kAceObjectId, int64_t(a.objectId)},
                                                          {sys::kAceSid, sys::sidBytes(format_, a.sid)},
                                                          {sys::kAceAcm, int64_t(a.mask)},
                                                          {sys::kAceInheritable, a.inheritable}}),
                                         src_.codec()));
      }
    }
    if (!catalog)
      for (TableJob* t : fresh_) acesWritten_.insert(t);
    return rows;
  }

  // Writes a long value onto the table's long-value pages (never inline: the row has no room for
  // the data) and returns the reference the row takes.
  Bytes writeLongValue(const Bytes& data, std::vector<uint32_t>& columnPages) {
    return jet::writeLongValue(data, 0, maxRowSize(format_, pageSize_), [&](const uint8_t* row, size_t size) {
      if (!lval_.fits(size)) startLval();
      columnPages.push_back(lvalPage_);
      return makePointer(lvalPage_, lval_.add(row, size));
    });
  }

  void startLval() {
    flushLval();
    lvalPage_ = out_.allocate();
    lval_.start(format_, pageSize_, kLongValueOwner);
  }
  void flushLval() {
    if (lval_.started()) out_.write(lvalPage_, lval_.page());
    lval_.reset();
  }

  // The rows a conflict table holds (kept in memory: they are few).
  class HeldRows : public SourceRows {
   public:
    explicit HeldRows(const std::vector<Bytes>& rows) : rows_(rows) {}
    bool next() override { return ++at_ < rows_.size(); }
    RowId rowId() const override { return RowId{0, uint16_t(at_)}; }
    const uint8_t* data() const override { return rows_[at_].data(); }
    size_t size() const override { return rows_[at_].size(); }

   private:
    const std::vector<Bytes>& rows_;
    size_t at_ = size_t(-1);
  };

  // Copies one table. With `conflicts`, a salvaging source's rows that would repeat a unique key
  // go there instead.
  void copyTable(TableJob& job, std::vector<Bytes>* conflicts) {
    const std::string& name = job.table.name;
    const uint32_t newTdef = job.pages.front();
    const TableDef& def = job.table.def;
    const TableInfo info = describeTable(def, name);
    const size_t realCount = def.realIndexes.size();
    const bool salvaging = src_.salvaging();
    CopiedTable tally;
    tally.name = name;
    tally.sourcePage = job.table.page;
    tally.conflicts = job.conflicts;

    std::vector<size_t> idColumns, longColumns;
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if (holdsObjectId(name, def.columns[i])) idColumns.push_back(i);
      if (def.columns[i].isLongValue()) longColumns.push_back(i);
    }
    // Index keys are computed from the rows; an index the engine cannot compute keys for keeps the
    // source's entries, moved to the rows' new addresses.
    std::vector<uint32_t> markers(realCount);
    for (size_t i = 0; i < realCount; ++i) markers[i] = uint32_t(i + 1);
    std::vector<IndexOutline> outlines = indexOutlines(src_.version(), info, markers);
    std::vector<IndexOutline> computed;
    std::vector<size_t> computedReal;
    std::vector<bool> carried(realCount, true);
    for (IndexOutline& s : outlines) {
      bool encodable = true;
      for (const KeyColumn& c : s.columns) encodable = encodable && keyColumnProblem(c).empty();
      const size_t real = s.rootPage - 1;
      if (!encodable || real >= realCount) continue;
      carried[real] = false;
      computedReal.push_back(real);
      computed.push_back(std::move(s));
    }
    const bool carryAny = std::find(carried.begin(), carried.end(), true) != carried.end();
    std::vector<std::vector<IndexEntry>> entries(realCount);
    std::unordered_map<uint64_t, RowId> moved;  // old address -> new, for carried indexes
    // Keys of the unique indexes so far, for a salvaging source whose rows may repeat one.
    std::vector<std::set<Bytes>> uniqueKeys(conflicts && salvaging ? computed.size() : 0);

    struct Pending {
      size_t real;
      Bytes key;
      uint16_t row;
    };
    std::vector<Pending> pending;
    std::vector<std::pair<RowId, uint16_t>> pendingMoves;
    std::vector<uint32_t> dataPages, freePages;
    std::vector<std::vector<uint32_t>> lvPages(def.columns.size());
    PageBuilder data;

    auto flushData = [&] {
      if (!data.started()) return;
      const uint32_t page = out_.allocate();
      out_.write(page, data.page());
      dataPages.push_back(page);
      if (data.room() >= pageSize_ / 8) freePages.push_back(page);
      for (Pending& p : pending) entries[p.real].push_back(IndexEntry{std::move(p.key), RowId{page, p.row}, 0});
      for (const auto& [old, row] : pendingMoves)
        moved[(uint64_t(old.page) << 16) | old.row] = RowId{page, row};
      pending.clear();
      pendingMoves.clear();
      data.reset();
    };

    // Only the columns that some computed index uses are decoded.
    std::vector<size_t> keyFields;
    for (const IndexOutline& outline : computed)
      for (int field : outline.fields)
        if (field >= 0 && std::find(keyFields.begin(), keyFields.end(), size_t(field)) == keyFields.end())
          keyFields.push_back(size_t(field));
    RowReader reader(def, src_.codec(), longValues_);
    std::vector<Value> values(def.columns.size());
    std::vector<std::optional<Bytes>> keys(computed.size());

    RowLayout layout;
    Bytes row, value;
    const bool needLayout = !longColumns.empty() || !idColumns.empty() || !keyFields.empty();
    // Copies one stored row; `remap` is false for rows the copy makes itself (their ids are new).
    auto copyRow = [&](const uint8_t* source, size_t size, RowId sourceId, bool remap) {
      row.assign(source, source + size);
      if (needLayout) parseRow(def, source, size, layout);
      if (!computed.empty()) {
        for (size_t i : keyFields) {
          const ColumnDef& col = def.columns[i];
          const uint8_t* field;
          size_t len;
          if (col.inNullMask()) {
            values[i] = layout.present(col.number);
          } else if (columnBytes(def, col, layout, field, len)) {
            try {
              reader.decodeColumn(col, field, len, values[i]);
            } catch (const Error&) {
              if (!salvaging) throw;
              values[i] = Null{};  // a long value that cannot be read is copied as Null too
            }
          } else {
            values[i] = Null{};
          }
          if (auto* v = std::get_if<int64_t>(&values[i]);
              v && remap && std::find(idColumns.begin(), idColumns.end(), i) != idColumns.end())
            *v = newId(int32_t(*v));
        }
        for (size_t k = 0; k < computed.size(); ++k) keys[k] = rowKey(computed[k], values);
        if (!uniqueKeys.empty()) {
          bool repeats = false;
          for (size_t k = 0; k < computed.size() && !repeats; ++k)
            repeats = computed[k].unique && keys[k] && !allNull(computed[k], values) && uniqueKeys[k].count(*keys[k]);
          if (repeats) {
            conflicts->emplace_back(source, source + size);
            return;
          }
          for (size_t k = 0; k < computed.size(); ++k)
            if (computed[k].unique && keys[k]) uniqueKeys[k].insert(*keys[k]);
        }
      }
      for (size_t i : longColumns) {
        const uint8_t* field;
        size_t len;
        if (!columnBytes(def, def.columns[i], layout, field, len) || len < kLongValueRefSize) continue;
        if (field[3] & kLongValueInline) continue;
        try {
          longValues_.read(field, len, value);
        } catch (const Error&) {
          if (!salvaging) throw;
          // The value is lost; the row keeps the rest, with Null in its place.
          const size_t maskSize = (layout.columnCount + 7u) / 8u;
          row[size - maskSize + def.columns[i].number / 8] &= uint8_t(~(1u << (def.columns[i].number % 8)));
          ++tally.longValuesLost;
          continue;
        }
        const Bytes ref = writeLongValue(value, lvPages[i]);
        std::copy(ref.begin(), ref.begin() + kLongValueRefSize, row.begin() + (field - source));
      }
      if (remap) {
        for (size_t i : idColumns) {
          const uint8_t* field;
          size_t len;
          if (!columnBytes(def, def.columns[i], layout, field, len) || len != 4) continue;
          put32(row.data() + (field - source), uint32_t(newId(int32_t(le32(field)))));
        }
      }
      if (!data.fits(row.size())) {
        flushData();
        data.start(format_, pageSize_, newTdef);
        if (!data.fits(row.size())) throwCorrupt("a row of table '" + name + "' is larger than a page");
      }
      const uint16_t at = data.add(row.data(), row.size());
      for (size_t k = 0; k < computed.size(); ++k)
        if (keys[k]) pending.push_back({computedReal[k], std::move(*keys[k]), at});
      if (carryAny) pendingMoves.emplace_back(sourceId, at);
      ++tally.rows;
    };

    std::unique_ptr<SourceRows> rows =
        job.conflicts ? std::make_unique<HeldRows>(job.rows) : src_.rows(job.table);
    while (rows->next()) copyRow(rows->data(), rows->size(), rows->rowId(), true);
    for (const Bytes& fresh : freshRows(job)) copyRow(fresh.data(), fresh.size(), RowId{}, false);
    flushData();
    flushLval();
    job.rows = {};

    // The indexes, each a fresh tree.
    TableDef out = job.table.def;
    for (size_t i = 0; i < realCount; ++i) {
      if (carried[i]) {
        const uint32_t root = out.realIndexes[i].rootPage;
        if (root != 0 && root < src_.pageFile().pageCount()) {
          try {
            IndexTree source(*sourcePages_, root, job.table.page);
            for (IndexEntry& e : source.entries()) {
              auto it = moved.find((uint64_t(e.row.page) << 16) | e.row.row);
              if (it != moved.end()) entries[i].push_back(IndexEntry{std::move(e.key), it->second, 0});
            }
          } catch (const Error&) {
            if (!salvaging) throw;
          }
        }
      }
      std::vector<uint32_t> indexPages;
      OutputIndexStore store(out_, format_, indexPages);
      const uint32_t root = IndexTree::createEmpty(store, newTdef);
      out.realIndexes[i].entryCount = uint32_t(entries[i].size());
      IndexTree tree(store, root, newTdef);
      tree.rebuild(std::move(entries[i]));
      entries[i] = {};
      out.realIndexes[i].rootPage = root;
      out.realIndexes[i].usedPagesPointer = maps_.add(indexPages);
    }

    // The engine keeps the counts of its own tables loosely; readers report the count the
    // definition records, so a system table keeps the one it had (unless rows were lost).
    if (!out.systemTable() || salvaging) out.rowCount = uint32_t(tally.rows);
    out.ownedPagesPointer = maps_.add(dataPages);
    out.freeSpacePointer = maps_.add(freePages);
    for (ColumnDef& c : out.columns) {
      if (c.lvOwnedPointer == 0 && c.lvFreePointer == 0) continue;
      std::vector<uint32_t> pages;
      for (size_t i = 0; i < def.columns.size(); ++i)
        if (def.columns[i].number == c.number) pages = lvPages[i];
      c.lvOwnedPointer = maps_.add(pages);
      c.lvFreePointer = maps_.add({});
    }
    for (LogicalIndexDef& l : out.indexes) {
      auto it = pageMap_.find(l.relTable);
      if (l.relTable != 0 && it != pageMap_.end()) l.relTable = it->second;
    }
    const Bytes bytes = serializeTableDef(out, src_.codec());
    if (tdefPagesNeeded(format_, bytes.size()) != job.pages.size())
      throwCorrupt("the definition of table '" + name + "' changed size while being copied");
    const std::vector<Bytes> images = paginateTableDef(format_, bytes, job.pages);
    for (size_t i = 0; i < images.size(); ++i) out_.write(job.pages[i], images[i]);
    copied_.push_back(std::move(tally));
  }

  // Whether every key column of the row is Null (such rows never conflict in a unique index).
  static bool allNull(const IndexOutline& outline, const std::vector<Value>& values) {
    for (size_t c = 0; c < outline.columns.size(); ++c) {
      const int f = c < outline.fields.size() ? outline.fields[c] : -1;
      if (!isNullKeyValue(outline.columns[c], f >= 0 && size_t(f) < values.size() ? values[size_t(f)] : Value{}))
        return false;
    }
    return true;
  }

  CompactionSource& src_;
  Output& out_;
  Format format_;
  size_t pageSize_;
  MapRows maps_;
  std::unique_ptr<SchemaFile> sourcePages_;
  LongValueReader longValues_;
  std::deque<TableJob> jobs_;                       // references to jobs stay valid as jobs are added
  std::vector<TableJob*> fresh_;                    // tables the source's catalog has no row for
  std::set<const TableJob*> acesWritten_;
  std::set<std::string> names_;                     // every table name, lower case
  std::vector<CopiedTable> copied_;
  std::unordered_map<uint32_t, uint32_t> pageMap_;  // old definition page -> new
  std::unordered_map<int32_t, int32_t> idMap_;      // old catalog id -> new
  PageBuilder lval_;
  uint32_t lvalPage_ = 0;
};

// A sound database read through its catalog: every table it lists, every live row.
class DatabaseSource : public CompactionSource {
 public:
  explicit DatabaseSource(DatabaseImpl& db) : db_(db) {}

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
    ScanRows(PageFile& file, const TableDef& def, TextCodec& codec) : scan_(file, def, codec) {}
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
    t.def = readTableDef(db_.pageFile(), db_.format(), db_.codec(), page);
    t.def.version = db_.version();
    return t;
  }

  DatabaseImpl& db_;
};

[[noreturn]] void mismatch(const std::string& what) {
  throw Error(err::kCorrupt, "The compacted copy does not match its source: " + what);
}

}  // namespace

Bytes unencodedHeaderPage(PageFile& file, Format f) {
  PageRef p = file.page(0);
  Bytes page(p->begin(), p->end());
  if (isEncrypted(parseHeader(page, file.path()))) return page;
  maskHeaderBlock(f, page.data(), page.size());
  put32(&page[0x3E], 0);
  maskHeaderBlock(f, page.data(), page.size());
  return page;
}

std::vector<CopiedTable> copyDatabase(CompactionSource& source, const std::string& destination) {
  const Format f = source.format();
  const size_t ps = pageSizeOf(f);
  const Bytes header = source.header();
  Bytes emptyGlobal(ps, 0);
  // The destination appears only when complete (a failure or a crash leaves no file behind).
  auto file = PageFile::createNew(destination, uint32_t(ps));
  // An encrypted source's header keeps its encryption, and the copy's pages take the same key.
  if (isEncrypted(parseHeader(header, destination))) file->setCodec(source.pageFile().codec());

  try {
    file->writeRun(0, header.data(), 1);
    file->writeRun(1, emptyGlobal.data(), 1);
    Output out(*file);
    std::vector<CopiedTable> copied = Compactor(source, out).run();
    // The global map: nothing inside the file is free; pages past its end are, as in a new file.
    const uint32_t count = out.end();
    out.write(1, buildDataPage(f, 1, {buildInlineUsageMap(f, {}, 0, count), buildInlineUsageMap(f, {})}));
    out.finish();
    return copied;
  } catch (const Error&) {
    throw;
  } catch (const std::exception& e) {
    throw Error(err::kCorrupt, std::string("The database cannot be compacted: ") + e.what());
  }
}

void compactDatabase(const std::string& source, const std::string& destination, const std::string& password) {
  if (pathExists(destination)) throw Error(err::kDatabaseExists, "Database already exists.");
  if (!pathExists(source)) throw Error(err::kFileNotFound, "Could not find file '" + source + "'.");

  DatabaseImpl src(source, OpenOptions{true, password});
  DatabaseSource from(src);
  copyDatabase(from, destination);
}

void Database::compact(const std::string& source, const std::string& destination, const std::string& password) {
  compactDatabase(source, destination, password);
}

void verifyCompactedCopy(const std::string& source, const std::string& copy, const std::string& password) {
  auto src = openReadOnly(source, password);
  auto dst = openReadOnly(copy, password);
  CheckReport report = dst->check();
  if (!report.ok()) mismatch("it fails its check (" + report.problems.front() + ").");
  if (dst->format() != src->format()) mismatch("its format differs.");
  if (dst->codePage() != src->codePage()) mismatch("its code page differs.");
  if (dst->sortOrder() != src->sortOrder()) mismatch("its sort order differs.");

  std::vector<CatalogObject> a = src->objects(), b = dst->objects();
  if (a.size() != b.size()) mismatch("it holds another number of objects.");
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].name != b[i].name || a[i].kind != b[i].kind) mismatch("it holds other objects ('" + a[i].name + "').");

  std::map<int64_t, int64_t> newIds;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].kind == ObjectKind::Table || a[i].kind == ObjectKind::SystemTable) newIds[a[i].id] = b[i].id;
  for (const CatalogObject& object : a) {
    if (object.kind != ObjectKind::Table && object.kind != ObjectKind::SystemTable) continue;
    const std::string& name = object.name;
    // Ids of catalog objects are renumbered with the tables' pages; every other value is kept.
    const bool ids = startsWithMSys(name);
    auto x = src->openTable(name);
    auto y = dst->openTable(name);
    uint64_t row = 0;
    while (true) {
      bool moreA = x->next();
      bool moreB = y->next();
      if (moreA != moreB) mismatch("table '" + name + "' has a different number of rows.");
      if (!moreA) break;
      ++row;
      const std::vector<Value>& va = x->values();
      const std::vector<Value>& vb = y->values();
      if (va.size() != vb.size()) mismatch("table '" + name + "' has other columns.");
      const auto& columns = x->table().columns;
      for (size_t i = 0; i < va.size(); ++i) {
        if (ids && columns[i].type == ColumnType::Long && holdsObjectId(name, columns[i].name)) {
          // Ids of tables follow their definitions' new pages; every other id is kept.
          const int64_t* from = std::get_if<int64_t>(&va[i]);
          const int64_t* to = std::get_if<int64_t>(&vb[i]);
          if (from && to) {
            auto it = newIds.find(*from);
            if (*to == (it == newIds.end() ? *from : it->second)) continue;
          }
        }
        if (!(va[i] == vb[i])) mismatch("row " + std::to_string(row) + " of table '" + name + "' differs.");
      }
    }
  }
}

}  // namespace jet
