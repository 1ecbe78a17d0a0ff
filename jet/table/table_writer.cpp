#include "jet/table/table_writer.h"

#include <algorithm>
#include <random>
#include <set>
#include <type_traits>

#include "jet/base/bytes.h"
#include "jet/index/index.h"
#include "jet/storage/data_page.h"
#include "jet/storage/long_value.h"
#include "jet/storage/page_transaction.h"
#include "jet/storage/usage_map.h"
#include "jet/table/row_space.h"
#include "jet/table/row.h"
#include "jet/table/row_writer.h"
#include "jet/table/table_scan.h"

namespace jet {

namespace {

struct CurrentRow;

}  // namespace

// The writer's state, kept from one operation to the next: the table's indexes with their parsed
// pages, the open transaction, the pages rows were last put on, and the queued batch.
struct TableWriter::State : public IndexPageStore {
  State(PageFile& f, Tdef& d, TableInfo i, TextCodec& c) : file(f), def(d), info(std::move(i)), codec(c) {}

  PageFile& file;
  Tdef& def;
  TableInfo info;
  TextCodec& codec;
  std::unique_ptr<PageTransaction> tx;
  std::unique_ptr<TableIndexes> indexes;
  bool indexesBuilt = false;
  std::string indexProblem;
  // Pages the table's last rows and long values went to (committed pages, or pages of the open
  // transaction), and their values when the open transaction began.
  uint32_t lastDataPage = UINT32_MAX, lastLvalPage = UINT32_MAX;
  uint32_t txDataPage = UINT32_MAX, txLvalPage = UINT32_MAX;
  // Changes to the definition's counts made by the open transaction.
  int64_t rowDelta = 0;
  uint32_t autoNumbersUsed = 0;
  uint32_t complexKeysUsed = 0;
  // Long-value pages where rows were freed (room for new values), at most kLvalCandidates.
  std::vector<uint32_t> lvalWithRoom;
  static constexpr size_t kLvalCandidates = 64;
  // Rows of the open batch, complete (auto-numbers and GUIDs filled in), for staging them again.
  std::vector<std::vector<Value>> queued;
  // Rows of committed batches, handed back to a bulk load to fill again (their storage reused).
  std::vector<std::vector<Value>> spare;
  // The encoded body of the row being staged (its storage reused from row to row).
  Bytes body;
  // The page a row was last added to (one for table rows, one for long values), as the add left
  // it: its row count and free-space field, and where its rows begin. While the page still shows
  // that count and free space, rows begin there (the free space is where they begin less the row
  // table), so the next add needs no walk over the page's rows.
  struct PageTail {
    uint32_t page = UINT32_MAX;
    uint16_t count = 0, free = 0;
    uint32_t low = 0;
  };
  PageTail dataTail, lvalTail;

  // Index pages live in the open transaction like every other page the table changes.
  Format format() const override { return def.format; }
  // Outside a transaction (a lookup between writes) the pages are read from the file.
  void readPage(uint32_t page, uint8_t* out) override {
    if (!tx) {
      PageRef p = file.page(page);
      std::copy(p->data(), p->data() + file.pageSize(), out);
      return;
    }
    const uint8_t* p = tx->read(page);
    std::copy(p, p + tx->pageSize(), out);
  }
  void writePage(uint32_t page, const uint8_t* data) override {
    std::copy(data, data + tx->pageSize(), tx->edit(page));
  }
  // Index pages are not listed in the table's page maps; the database's free-page map alone says
  // whether a page is in use. Files that Access wrote may also list an index's pages in a map of
  // its own: a freed page leaves those maps too, so that no map claims a page the file offers for
  // reuse.
  uint32_t allocatePage() override { return tx->allocate(); }
  void freePage(uint32_t page) override {
    tx->release(page);
    for (const auto& r : def.realIndexes)
      if (r.usedPagesPointer) markUsage(*tx, def.format, r.usedPagesPointer, page, false);
  }

  void buildIndexes() {
    if (!indexesBuilt) {
      indexesBuilt = true;
      if (!def.realIndexes.empty()) {
        std::vector<uint32_t> roots;
        for (const auto& r : def.realIndexes) roots.push_back(r.rootPage);
        indexes = std::make_unique<TableIndexes>(*this, def.tdefPage, indexOutlines(def.version, info, roots));
        indexProblem = indexes->problem();
        // Changed index pages are written to the transaction once, when it commits.
        if (indexProblem.empty()) indexes->setDeferredWrites(true);
      }
    }
  }

  void begin() {
    if (tx) return;
    buildIndexes();
    if (!indexProblem.empty())
      throw Error(err::kReadOnly, "Cannot update. Database or object is read-only: " + indexProblem);
    tx = std::make_unique<PageTransaction>(file);
    tx->useFreePageMap(def.format);
    txDataPage = lastDataPage;
    txLvalPage = lastLvalPage;
  }

  // Writes the open transaction and brings the definition's counts up to date.
  void commit() {
    if (!tx) return;
    try {
      if (indexes) indexes->flush();
      if (rowDelta != 0 || autoNumbersUsed != 0) {
        uint8_t* t = tx->edit(def.tdefPage);
        put32(t + tdefRowCountOffset(def.format), uint32_t(int64_t(def.rowCount) + rowDelta));
        put32(t + tdefAutoNumberOffset(def.format), def.nextAutoNumber + autoNumbersUsed);
      }
      if (complexKeysUsed != 0)
        put32(tx->edit(def.tdefPage) + tdefComplexKeyOffset(def.format), def.lastComplexKey + complexKeysUsed);
      tx->commit();
    } catch (...) {
      rollback();
      queued.clear();
      throw;
    }
    tx.reset();
    def.rowCount = uint32_t(int64_t(def.rowCount) + rowDelta);
    def.nextAutoNumber += autoNumbersUsed;
    def.lastComplexKey += complexKeysUsed;
    if (lastDataPage != UINT32_MAX) def.lastDataPageHint = lastDataPage;
    rowDelta = 0;
    autoNumbersUsed = 0;
    complexKeysUsed = 0;
    for (auto& r : queued)
      if (spare.size() < kStagedRows) spare.push_back(std::move(r));
    queued.clear();
  }

  // Drops the open transaction: nothing of it reaches the file, and nothing of it stays in memory.
  void rollback() {
    tx.reset();
    dataTail = lvalTail = PageTail{};
    lvalWithRoom.clear();
    if (indexes) indexes->discardCache();
    lastDataPage = txDataPage;
    lastLvalPage = txLvalPage;
    rowDelta = 0;
    autoNumbersUsed = 0;
    complexKeysUsed = 0;
  }

  // Stages the rows of the batch again after a rollback (the same rows land at the same addresses).
  void restage() {
    std::vector<std::vector<Value>> rows = std::move(queued);
    queued.clear();
    if (rows.empty()) return;
    try {
      begin();
      for (auto& r : rows) stageInsert(r);
    } catch (...) {
      rollback();
      throw;
    }
    queued = std::move(rows);
  }

  // Stages the removal of a live row (read by readCurrent) with its long values and index entries.
  void stageRemove(RowId id, const CurrentRow& cur);

  // Fills in the auto-number and new GUIDs of a new row, then stages it.
  RowId stageInsert(std::vector<Value>& values) {
    if (values.size() != def.columns.size())
      throw Error(err::kInvalidArgument, "Invalid argument: a row needs one value per field.");
    bool autoUsed = false, complexUsed = false;
    for (size_t i = 0; i < def.columns.size(); ++i) {
      const ColumnDef& c = def.columns[i];
      if (c.autoNumber() && c.type == ColumnType::Long) {
        values[i] = int64_t(int32_t(def.nextAutoNumber + autoNumbersUsed + 1));
        autoUsed = true;
      } else if (c.type == ColumnType::Complex) {
        // Every complex column of a new row gets the row's one new key (no values yet).
        values[i] = int64_t(int32_t(def.lastComplexKey + complexKeysUsed + 1));
        complexUsed = true;
      } else if (c.autoGuid() && c.type == ColumnType::Guid && isNull(values[i])) {
        static std::mt19937_64 rng{std::random_device{}()};
        Guid g;
        for (auto& b : g.bytes) b = uint8_t(rng());
        g.bytes[7] = uint8_t((g.bytes[7] & 0x0F) | 0x40);
        g.bytes[8] = uint8_t((g.bytes[8] & 0x3F) | 0x80);
        values[i] = g;
      }
    }
    encodeRowInto(def, values, codec, [&](const ColumnDef&, const Bytes& data) { return storeLongValue(data, 64); },
                  body);
    RowId id = placeRow(body, 0);
    maintainIndexes(nullptr, RowId{}, &values, id);
    rowDelta += 1;
    if (autoUsed) autoNumbersUsed += 1;
    if (complexUsed) complexKeysUsed += 1;
    return id;
  }

  // The single place where a row change reaches the table's indexes.
  void maintainIndexes(const std::vector<Value>* oldRow, RowId oldId, const std::vector<Value>* newRow, RowId newId) {
    if (indexes) indexes->maintain(oldRow, oldId, newRow, newId);
  }

  // Stores a long value and returns its reference (with the data when it stays inline).
  Bytes storeLongValue(const Bytes& data, size_t inlineRoom) {
    return writeLongValue(data, inlineRoom, maxRowSize(def.format, tx->pageSize()),
                          [&](const uint8_t* row, size_t size) { return placeLongValueRow(row, size); });
  }

  // Frees the rows of a stored long value of `column`. Pages left with rows are filled again before
  // a new page is taken; pages given back leave the column's maps and are forgotten.
  void freeLongValue(const ColumnDef& column, const uint8_t* ref, size_t len) {
    jet::freeLongValue(*tx, def.format, ref, len, longValueMapsOf(column), [&](uint32_t page, bool released) {
      if (released) {
        forgetPage(page);
      } else if (lvalWithRoom.size() < kLvalCandidates &&
                 std::find(lvalWithRoom.begin(), lvalWithRoom.end(), page) == lvalWithRoom.end()) {
        lvalWithRoom.push_back(page);
      }
    });
  }

  // After rows of a data page were deleted: a page left without rows goes back to the database
  // (out of the table's maps), any other page of the table is offered for new rows again.
  void rowsFreed(uint32_t page) {
    const uint8_t* p = tx->read(page);
    const bool tablePage = pageOwner(p) == def.tdefPage;
    if (!pageWithoutRows(p, tx->pageSize(), def.format)) {
      if (tablePage) markUsage(*tx, def.format, def.freeSpacePointer, page, true);
      return;
    }
    if (tablePage) {
      markUsage(*tx, def.format, def.ownedPagesPointer, page, false);
      markUsage(*tx, def.format, def.freeSpacePointer, page, false);
      // A map that cannot say the page left it keeps it: the page then stays the table's.
      if (mapContains(*tx, def.format, def.ownedPagesPointer, page)) return;
    }
    forgetPage(page);
    tx->release(page);
  }

  // A page given back is no longer one to put rows on.
  void forgetPage(uint32_t page) {
    lvalWithRoom.erase(std::remove(lvalWithRoom.begin(), lvalWithRoom.end(), page), lvalWithRoom.end());
    if (lastDataPage == page) lastDataPage = UINT32_MAX;
    if (def.lastDataPageHint == page) def.lastDataPageHint = 0;
    if (lastLvalPage == page) lastLvalPage = UINT32_MAX;
    for (PageTail* t : {&dataTail, &lvalTail})
      if (t->page == page) *t = PageTail{};
  }

  // Puts a row body on the data page of the table that took the last row when it has room, or on
  // a page with room from the free-space map, or on a new page.
  RowId placeRow(const Bytes& body, uint16_t flags, uint32_t avoidPage = UINT32_MAX) {
    if (body.size() > maxRowSize(def.format, tx->pageSize())) throw Error(err::kTextTooLong, "Record is too large.");
    uint32_t page = currentDataPage();
    if (page == UINT32_MAX || page == avoidPage || !fits(dataTail, page, body.size())) {
      // A page that cannot take the row leaves the free-space map until a delete makes room.
      if (page != UINT32_MAX && page != avoidPage) markUsage(*tx, def.format, def.freeSpacePointer, page, false);
      page = pageWithRoom(body.size(), avoidPage);
      if (page == UINT32_MAX) page = newPage(def.tdefPage);
    }
    uint16_t row = addTo(dataTail, page, body.data(), body.size(), flags);
    lastDataPage = page;
    return RowId{page, row};
  }

 private:
  // Where the rows of a page begin: remembered by `tail` when it is the page rows were last added
  // to and the page shows no change since, else found from its row table.
  uint32_t lowestStart(const PageTail& tail, uint32_t page, const uint8_t* p) const {
    if (tail.page == page && le16(p + rowCountOffset(def.format)) == tail.count && recordedFreeSpace(p) == tail.free)
      return tail.low;
    return lowestRowStart(p, tx->pageSize(), def.format);
  }

  bool fits(const PageTail& tail, uint32_t page, size_t size) {
    const uint8_t* p = tx->read(page);
    return roomShortfall(p, tx->pageSize(), def.format, size, lowestStart(tail, page, p)) <= 0;
  }

  // Adds a row to a page that has room for it.
  uint16_t addTo(PageTail& tail, uint32_t page, const uint8_t* body, size_t size, uint16_t flags) {
    uint8_t* p = tx->edit(page);
    RowAppender rows(p, tx->pageSize(), def.format, lowestStart(tail, page, p));
    const uint16_t row = rows.add(body, size, flags);
    tail = PageTail{page, rows.count(), recordedFreeSpace(p), rows.low()};
    return row;
  }

  // A page that holds rows of `owner` and is in use: a page given back keeps its bytes until it
  // is reused, so its header alone does not say.
  bool ownedDataPage(uint32_t page, uint32_t owner) {
    if (page == 0 || page >= tx->file().pageCount()) return false;
    const uint8_t* pg = tx->read(page);
    if (pg[0] != kDataPageType || pageOwner(pg) != owner || tx->isFree(page)) return false;
    return owner != def.tdefPage || mapContains(*tx, def.format, def.ownedPagesPointer, page);
  }

  // A page of the free-space map with room for `size` bytes; pages found full leave the map.
  uint32_t pageWithRoom(size_t size, uint32_t avoidPage) {
    for (uint32_t p : markedPages(*tx, def.format, def.freeSpacePointer)) {
      if (p == avoidPage || p == lastDataPage) continue;
      if (!ownedDataPage(p, def.tdefPage)) continue;
      if (roomShortfall(tx->read(p), tx->pageSize(), def.format, size) <= 0) return p;
      markUsage(*tx, def.format, def.freeSpacePointer, p, false);
    }
    return UINT32_MAX;
  }

  uint32_t placeLongValueRow(const uint8_t* data, size_t size) {
    uint32_t page = lastLvalPage;
    if (page == UINT32_MAX || !fits(lvalTail, page, size)) {
      page = UINT32_MAX;
      // Long-value pages are in no map of the table: the ones this writer freed rows on are
      // remembered and filled again before a new page is taken.
      while (!lvalWithRoom.empty() && page == UINT32_MAX) {
        const uint32_t candidate = lvalWithRoom.back();
        if (ownedDataPage(candidate, kLongValueOwner) &&
            roomShortfall(tx->read(candidate), tx->pageSize(), def.format, size) <= 0)
          page = candidate;
        else
          lvalWithRoom.pop_back();
      }
      if (page == UINT32_MAX) page = newPage(kLongValueOwner);
    }
    lastLvalPage = page;
    return makePointer(page, addTo(lvalTail, page, data, size, 0));
  }

  // The table's last data page: the one remembered, or else found by a walk over its pages.
  uint32_t currentDataPage() {
    if (lastDataPage != UINT32_MAX) return lastDataPage;
    if (ownedDataPage(def.lastDataPageHint, def.tdefPage)) return lastDataPage = def.lastDataPageHint;
    UsageMap owned = UsageMap::read(tx->file(), def.format, def.ownedPagesPointer);
    uint32_t found = UINT32_MAX;
    for (uint32_t p = owned.nextFrom(0); p != UINT32_MAX; p = owned.nextFrom(p + 1)) {
      if (p >= tx->file().pageCount()) break;
      if (ownedDataPage(p, def.tdefPage)) found = p;
    }
    return lastDataPage = found;
  }

  // The table's maps list its data pages; long-value pages are found through their rows.
  uint32_t newPage(uint32_t owner) {
    const bool tablePage = owner == def.tdefPage;
    return newDataPage(*tx, def.format, owner, tablePage ? def.ownedPagesPointer : 0,
                       tablePage ? def.freeSpacePointer : 0);
  }
};

namespace {

// Reads a row's current values and body for changing it.
struct CurrentRow {
  std::vector<Value> values;
  Bytes body;
  RowSlot headerSlot;
  RowId bodyId;
};

CurrentRow readCurrent(PageFile& file, const Tdef& def, TextCodec& codec, RowId id) {
  CurrentRow cur;
  if (id.page >= file.pageCount()) throw Error(err::kNoCurrentRecord, "No current record.");
  PageRef page = file.page(id.page);
  if ((*page)[0] != kDataPageType || pageOwner(page->data()) != def.tdefPage ||
      id.row >= pageRowCount(page->data(), file.pageSize(), def.format))
    throw Error(err::kNoCurrentRecord, "No current record.");
  cur.headerSlot = rowSlot(page->data(), file.pageSize(), def.format, id.row);
  if (cur.headerSlot.deleted) throw Error(err::kNoCurrentRecord, "No current record.");
  cur.bodyId = id;
  if (cur.headerSlot.overflow) {
    const uint8_t* p = page->data() + cur.headerSlot.start;
    if (cur.headerSlot.size() < 4) throwCorrupt("a moved row's pointer is broken");
    cur.bodyId = RowId{le24(p + 1), p[0]};
  }
  RowSlot body;
  PageRef bodyPage = resolveRow(file, def.format, id, body);
  cur.body.assign(bodyPage->data() + body.start, bodyPage->data() + body.end);
  LongValueReader lv(file, def.format);
  RowReader reader(def, codec, lv);
  reader.decode(cur.body.data(), cur.body.size(), cur.values);
  return cur;
}

// Long-value references of a stored row body, by column position.
std::vector<std::pair<size_t, Bytes>> longValueRefs(const Tdef& def, const Bytes& body) {
  std::vector<std::pair<size_t, Bytes>> out;
  RowLayout layout;
  parseRow(def, body.data(), body.size(), layout);
  for (size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    if (!c.isLongValue()) continue;
    const uint8_t* d;
    size_t len;
    if (columnBytes(def, c, layout, d, len) && len >= kLongValueRefSize) out.emplace_back(i, Bytes(d, d + len));
  }
  return out;
}

}  // namespace

TableWriter::TableWriter(PageFile& file, Tdef& def, TableInfo info, TextCodec& codec)
    : s_(std::make_unique<State>(file, def, std::move(info), codec)) {}

TableWriter::~TableWriter() = default;

namespace {

void checkWritable(PageFile& file) {
  if (file.readOnly()) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
}

}  // namespace

// One committed operation: the queued batch goes first, then `f` in a transaction of its own.
template <typename F>
static auto singleOperation(TableWriter::State& s, F&& f) -> decltype(f()) {
  checkWritable(s.file);
  s.commit();
  s.begin();
  try {
    if constexpr (std::is_void_v<decltype(f())>) {
      f();
      s.commit();
    } else {
      auto r = f();
      s.commit();
      return r;
    }
  } catch (...) {
    s.rollback();
    throw;
  }
}

RowId TableWriter::insert(std::vector<Value> values) {
  return singleOperation(*s_, [&] { return s_->stageInsert(values); });
}

RowId TableWriter::queueInsert(std::vector<Value> values) { return queueInsertReusing(values); }

RowId TableWriter::queueInsertReusing(std::vector<Value>& values) {
  State& s = *s_;
  checkWritable(s.file);
  // A caller that never commits still keeps the batch bounded.
  if (s.queued.size() >= kStagedRows) s.commit();
  s.begin();
  RowId id;
  try {
    id = s.stageInsert(values);
  } catch (...) {
    // The refused row may have left pages half-changed: the batch is staged again without it.
    s.rollback();
    s.restage();
    throw;
  }
  s.queued.push_back(std::move(values));
  values.clear();
  if (!s.spare.empty()) {
    values.swap(s.spare.back());
    s.spare.pop_back();
  }
  return id;
}

void TableWriter::commitQueued() { s_->commit(); }

size_t TableWriter::queuedRows() const { return s_->queued.size(); }

void TableWriter::State::stageRemove(RowId id, const CurrentRow& cur) {
  const Format f = def.format;
  const uint32_t ps = file.pageSize();
  maintainIndexes(&cur.values, id, nullptr, RowId{});
  for (auto& [col, ref] : longValueRefs(def, cur.body)) freeLongValue(def.columns[col], ref.data(), ref.size());
  freeRow(tx->edit(id.page), ps, f, id.row);
  if (!(cur.bodyId == id)) {
    freeRow(tx->edit(cur.bodyId.page), ps, f, cur.bodyId.row);
    rowsFreed(cur.bodyId.page);
  }
  rowsFreed(id.page);
  rowDelta -= 1;
}

void TableWriter::remove(RowId id) {
  State& s = *s_;
  checkWritable(s.file);
  s.commit();
  CurrentRow cur = readCurrent(s.file, s.def, s.codec, id);
  singleOperation(s, [&] { s.stageRemove(id, cur); });
}

void TableWriter::removeMany(const std::vector<RowId>& ids) {
  State& s = *s_;
  checkWritable(s.file);
  std::vector<RowId> sorted(ids);
  std::sort(sorted.begin(), sorted.end(), [](const RowId& a, const RowId& b) {
    return a.page != b.page ? a.page < b.page : a.row < b.row;
  });
  for (size_t i = 1; i < sorted.size(); ++i)
    if (sorted[i] == sorted[i - 1]) throw Error(err::kInvalidArgument, "Invalid argument: a row is named twice.");
  // The rows are read from the file as it was before the batch: deleting a row changes no other
  // row's bytes there, and no page is reused while rows are only deleted.
  singleOperation(s, [&] {
    for (const RowId& id : ids) {
      CurrentRow cur = readCurrent(s.file, s.def, s.codec, id);
      s.stageRemove(id, cur);
    }
  });
}

void TableWriter::update(RowId id, std::vector<Value> values) {
  State& s = *s_;
  checkWritable(s.file);
  s.commit();
  CurrentRow cur = readCurrent(s.file, s.def, s.codec, id);
  singleOperation(s, [&] {
    const Tdef& def = s.def;
    if (values.size() != def.columns.size())
      throw Error(err::kInvalidArgument, "Invalid argument: a row needs one value per field.");
    for (size_t i = 0; i < def.columns.size(); ++i)
      if (def.columns[i].autoNumber()) values[i] = cur.values[i];  // auto-numbers never change
    Bytes body = encodeRow(def, values, s.codec,
                           [&](const ColumnDef&, const Bytes& data) { return s.storeLongValue(data, 64); });
    s.maintainIndexes(&cur.values, id, &values, id);
    for (auto& [col, ref] : longValueRefs(def, cur.body)) s.freeLongValue(def.columns[col], ref.data(), ref.size());
    const Format f = def.format;
    const uint32_t ps = s.file.pageSize();
    PageTransaction& tx = *s.tx;
    if (!(cur.bodyId == id)) {
      freeRow(tx.edit(cur.bodyId.page), ps, f, cur.bodyId.row);
      if (cur.bodyId.page != id.page) s.rowsFreed(cur.bodyId.page);
    }
    // In place when the home page has room; otherwise the body moves and the home row points at it.
    if (!replaceRow(tx.edit(id.page), ps, f, id.row, body.data(), body.size(), 0)) {
      RowId moved = s.placeRow(body, kRowDeleted, id.page);
      uint8_t ptr[4];
      ptr[0] = uint8_t(moved.row);
      put24(ptr + 1, moved.page);
      if (!replaceRow(tx.edit(id.page), ps, f, id.row, ptr, 4, kRowOverflow))
        throwCorrupt("a data page has no room for a row pointer");
    }
  });
}

std::vector<RowId> TableWriter::findRows(const std::vector<size_t>& fields, const std::vector<Value>& row) {
  State& s = *s_;
  s.buildIndexes();
  std::vector<RowId> out;
  const std::set<int> wanted(fields.begin(), fields.end());
  // An index on exactly these fields (in any order) holds the rows' keys side by side.
  if (s.indexes && s.indexProblem.empty())
    for (size_t i = 0; i < s.indexes->size(); ++i) {
      const IndexOutline& o = s.indexes->outline(i);
      if (o.fields.size() != wanted.size() || std::set<int>(o.fields.begin(), o.fields.end()) != wanted) continue;
      const std::optional<Bytes> key = rowKey(o, row);
      if (!key) break;  // an index that leaves the key out cannot say: scan
      const IndexEntry from{*key, RowId{0, 0}, 0};
      s.indexes->tree(i).scan(
          [&](const IndexEntry& e) {
            if (e.key != *key) return false;
            out.push_back(e.row);
            return true;
          },
          &from);
      return out;
    }
  // Otherwise every row is compared under the keys an index on the fields would give.
  TableInfo probe = s.info;
  IndexInfo byFields;
  for (size_t f : fields) byFields.columns.push_back({s.info.columns.at(f).number, true});
  probe.indexes = {byFields};
  const IndexOutline outline = indexOutlines(s.def.version, probe, {0}).at(0);
  const Bytes key = rowKey(outline, row).value_or(Bytes{});
  Bytes other;
  size_t nulls = 0;
  TableScan scan(s.file, s.def, s.codec);
  while (scan.next())
    if (rowKeyInto(outline, scan.values(), other, nulls) && other == key) out.push_back(scan.rowId());
  return out;
}

}  // namespace jet
