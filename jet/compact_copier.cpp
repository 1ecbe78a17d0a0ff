// The copier behind compaction and repair: every table of a source rewritten into a fresh file.
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

#include <algorithm>
#include <cctype>
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
#include "jet/catalog/properties.h"
#include "jet/catalog/schema_writer.h"
#include "jet/catalog/system_tables.h"
#include "jet/compact_output.h"
#include "jet/compact_source.h"
#include "jet/index/index.h"
#include "jet/index/index_key.h"
#include "jet/storage/data_page.h"
#include "jet/storage/encryption.h"
#include "jet/storage/env.h"
#include "jet/storage/header.h"
#include "jet/storage/long_value.h"
#include "jet/storage/usage_map.h"
#include "jet/table/row.h"
#include "jet/table/table_def.h"

namespace jet {
namespace {

using compaction::MapRows;
using compaction::Output;
using compaction::OutputIndexStore;
using compaction::PageBuilder;

struct TableJob {
  SourceTable table;
  std::vector<uint32_t> pages;  // the new definition's page chain
  bool conflicts = false;       // the rows of another table that repeated a unique key
  std::vector<Bytes> rows;      // conflict tables: their rows, as the source stores them
};

bool holdsObjectId(const std::string& table, const ColumnDef& column) {
  return column.type == ColumnType::Long && sys::holdsObjectId(table, column.name);
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
      (sys::isSystemTableName(jobs_[i].table.name) ? system : user).push_back(&jobs_[i]);
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
    for (TableJob& job : jobs_) names_.insert(lowerName(job.table.name));
  }

  TableJob& addJob(SourceTable table) {
    TableJob& job = jobs_.emplace_back();
    job.table = std::move(table);
    const size_t n = tdefPagesNeeded(format_, serializeTdef(job.table.def, src_.codec()).size());
    for (size_t i = 0; i < n; ++i) job.pages.push_back(out_.allocate());
    return job;
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
    for (int n = 2; names_.count(lowerName(name)); ++n) name = t.name + "_RepairConflicts" + std::to_string(n);
    names_.insert(lowerName(name));
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
    const Tdef& def = job.table.def;
    const bool catalog = job.table.page == sys::kCatalogTdef;
    if (!catalog && !sameName(job.table.name, "MSysACEs")) return rows;
    const double now = sys::oleNow();
    for (TableJob* t : fresh_) {
      const int64_t id = int64_t(t->pages.front());
      if (catalog) {
        const uint32_t flags = sys::isSystemTableName(t->table.name) ? kSystemObjectFlags : 0;
        const NewCatalogObject object{int32_t(id), sys::kTablesId, t->table.name, sys::kTypeTable, now,
                                      sys::Sid::Creator, flags, std::nullopt};
        rows.push_back(encodeSystemRow(def, catalogRow(def, format_, object), src_.codec()));
      } else if (!acesWritten_.count(t)) {
        for (const sys::Ace& a : sys::newTableAces(int32_t(id)))
          rows.push_back(encodeSystemRow(def, aceRow(def, format_, a), src_.codec()));
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
    const Tdef& def = job.table.def;
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

    // A salvaged catalog's object properties, checked as they are copied.
    const int propertyColumn =
        salvaging && job.table.page == sys::kCatalogTdef ? columnIndex(def.columns, "LvProp") : -1;
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
        const bool inlined = field[3] & kLongValueInline;
        if (inlined && int(i) != propertyColumn) continue;
        try {
          longValues_.read(field, len, value);
          // The copy's tables must open: a property list that does not parse is lost with its value.
          if (int(i) == propertyColumn) parseProperties(value, format_, src_.codec());
          if (inlined) continue;
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
    Tdef out = job.table.def;
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
    const Bytes bytes = serializeTdef(out, src_.codec());
    if (tdefPagesNeeded(format_, bytes.size()) != job.pages.size())
      throwCorrupt("the definition of table '" + name + "' changed size while being copied");
    const std::vector<Bytes> images = paginateTdef(format_, bytes, job.pages);
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

void requireCopyPaths(const std::string& source, const std::string& destination) {
  Env& env = Env::get();
  if (env.exists(destination)) throw Error(err::kDatabaseExists, "Database already exists.");
  if (!env.exists(source)) throw Error(err::kFileNotFound, "Could not find file '" + source + "'.");
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
}  // namespace jet
