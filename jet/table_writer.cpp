#include "jet/table_writer.h"

#include <random>

#include "jet/bytes.h"
#include "jet/data_page.h"
#include "jet/index.h"
#include "jet/long_value.h"
#include "jet/page_transaction.h"
#include "jet/row.h"
#include "jet/row_writer.h"
#include "jet/table_scan.h"
#include "jet/usage_map.h"

namespace jet {

namespace {

size_t tdefRowCountOffset(Format f) { return f == Format::Jet3 ? 12 : 16; }
size_t tdefAutoNumberOffset(Format f) { return f == Format::Jet3 ? 16 : 20; }
size_t maxRowSize(Format f, uint32_t pageSize) { return pageSize - rowTableOffset(f) - 2; }

// Index pages live in the table's staged transaction like every other page it changes.
class StagedIndexPages : public IndexPageStore {
 public:
  StagedIndexPages(PageTransaction& tx, const TableDef& def) : tx_(tx), def_(def) {}
  Format format() const override { return def_.format; }
  void readPage(uint32_t page, uint8_t* out) override {
    const uint8_t* p = tx_.read(page);
    std::copy(p, p + tx_.pageSize(), out);
  }
  void writePage(uint32_t page, const uint8_t* data) override {
    std::copy(data, data + tx_.pageSize(), tx_.edit(page));
  }
  // Index pages are not listed in the table's page maps; the database's free-page map alone says
  // whether a page is in use.
  uint32_t allocatePage() override { return tx_.allocate(); }
  void freePage(uint32_t page) override { tx_.release(page); }

 private:
  PageTransaction& tx_;
  const TableDef& def_;
};

// One write operation on the table: its transaction, its indexes and its page choices.
class Operation {
 public:
  Operation(PageFile& file, TableDef& def, const TableInfo& info, TextCodec& codec)
      : tx_(file), def_(def), codec_(codec), store_(tx_, def) {
    tx_.useFreePageMap(def.format);
    if (!def.realIndexes.empty()) {
      std::vector<uint32_t> roots;
      for (const auto& r : def.realIndexes) roots.push_back(r.rootPage);
      indexes_ = std::make_unique<TableIndexes>(store_, def.tdefPage, indexSpecs(def.format, info, roots));
      if (!indexes_->problem().empty())
        throw Error(err::kReadOnly, "Cannot update. Database or object is read-only: " + indexes_->problem());
    }
  }

  PageTransaction& tx() { return tx_; }
  uint32_t lastDataPage() const { return lastDataPage_; }

  // The single place where a row change reaches the table's indexes.
  void maintainIndexes(const std::vector<Value>* oldRow, RowId oldId, const std::vector<Value>* newRow, RowId newId) {
    if (indexes_) indexes_->maintain(oldRow, oldId, newRow, newId);
  }
  void abandon() {
    if (indexes_) indexes_->discardCache();
  }

  // Stores a long value and returns its reference (with the data when it stays inline).
  Bytes storeLongValue(const Bytes& data, size_t inlineRoom) {
    Bytes ref(kLongValueRefSize, 0);
    if (data.size() > 0xFFFFFF) throw Error(err::kTextTooLong, "The value is too large to store.");
    put24(ref.data(), uint32_t(data.size()));
    if (data.size() <= 64 && data.size() <= inlineRoom) {
      ref[3] = kLongValueInline;
      ref.insert(ref.end(), data.begin(), data.end());
      return ref;
    }
    const size_t chunk = maxRowSize(def_.format, tx_.pageSize());
    if (data.size() <= chunk) {
      ref[3] = kLongValueSinglePage;
      put32(ref.data() + 4, placeLongValueRow(data.data(), data.size()));
      return ref;
    }
    // A chain, written back to front so each link knows the next one's address.
    ref[3] = kLongValueChained;
    size_t perLink = chunk - 4;
    size_t links = (data.size() + perLink - 1) / perLink;
    uint32_t next = 0;
    for (size_t i = links; i-- > 0;) {
      size_t from = i * perLink, len = std::min(perLink, data.size() - from);
      Bytes link(4 + len);
      put32(link.data(), next);
      std::copy(data.begin() + long(from), data.begin() + long(from + len), link.begin() + 4);
      next = placeLongValueRow(link.data(), link.size());
    }
    put32(ref.data() + 4, next);
    return ref;
  }

  // Marks the rows of a stored long value deleted.
  void freeLongValue(const uint8_t* ref, size_t len) {
    if (len < kLongValueRefSize || (ref[3] & kLongValueInline)) return;
    uint32_t ptr = le32(ref + 4);
    bool chained = !(ref[3] & kLongValueSinglePage);
    for (int guard = 0; ptr != 0 && guard < 100000; ++guard) {
      uint32_t page = pointerPage(ptr);
      uint16_t row = pointerRow(ptr);
      const uint8_t* p = tx_.read(page);
      RowSlot s = rowSlot(p, tx_.pageSize(), def_.format, row);
      uint32_t next = chained && s.size() >= 4 ? le32(p + s.start) : 0;
      freeRow(tx_.edit(page), tx_.pageSize(), def_.format, row);
      ptr = next;
    }
  }

  // Puts a row body on a data page of the table with room (the last one), or on a new page.
  RowId placeRow(const Bytes& body, uint16_t flags, uint32_t avoidPage = UINT32_MAX) {
    if (body.size() > maxRowSize(def_.format, tx_.pageSize()))
      throw Error(err::kTextTooLong, "Record is too large.");
    uint32_t page = lastPage(def_.tdefPage);
    if (page == UINT32_MAX || page == avoidPage ||
        roomShortfall(tx_.read(page), tx_.pageSize(), def_.format, body.size()) > 0)
      page = newPage(def_.tdefPage);
    uint16_t row = addRow(tx_.edit(page), tx_.pageSize(), def_.format, body.data(), body.size(), flags);
    lastDataPage_ = page;
    return RowId{page, row};
  }

  void setCounts(int32_t rowDelta, bool autoNumberUsed) {
    uint8_t* t = tx_.edit(def_.tdefPage);
    put32(t + tdefRowCountOffset(def_.format), uint32_t(int64_t(def_.rowCount) + rowDelta));
    if (autoNumberUsed) put32(t + tdefAutoNumberOffset(def_.format), def_.nextAutoNumber + 1);
  }

 private:
  uint32_t placeLongValueRow(const uint8_t* data, size_t size) {
    uint32_t page = lastLvalPage_;
    if (page == UINT32_MAX || roomShortfall(tx_.read(page), tx_.pageSize(), def_.format, size) > 0)
      page = newPage(kLongValueOwner);
    lastLvalPage_ = page;
    uint16_t row = addRow(tx_.edit(page), tx_.pageSize(), def_.format, data, size, 0);
    return makePointer(page, row);
  }

  // The table's last data page for `owner`, found once per operation.
  uint32_t lastPage(uint32_t owner) {
    if (owner == def_.tdefPage && lastDataPage_ != UINT32_MAX) return lastDataPage_;
    if (owner == def_.tdefPage && def_.lastDataPageHint != 0 && def_.lastDataPageHint < tx_.file().pageCount()) {
      const uint8_t* pg = tx_.read(def_.lastDataPageHint);
      if (pg[0] == kDataPageType && le32(pg + 4) == owner) return lastDataPage_ = def_.lastDataPageHint;
    }
    UsageMap owned = UsageMap::read(tx_.file(), def_.format, def_.ownedPagesPointer);
    uint32_t found = UINT32_MAX;
    for (uint32_t p = owned.nextFrom(0); p != UINT32_MAX; p = owned.nextFrom(p + 1)) {
      if (p >= tx_.file().pageCount()) break;
      const uint8_t* pg = tx_.read(p);
      if (pg[0] == kDataPageType && le32(pg + 4) == owner) found = p;
    }
    if (owner == def_.tdefPage) lastDataPage_ = found;
    return found;
  }

  uint32_t newPage(uint32_t owner) {
    uint32_t p = tx_.allocate();
    initDataPage(tx_.edit(p), tx_.pageSize(), def_.format, owner);
    // The table's maps list its data pages; long-value pages are found through their rows.
    if (owner == def_.tdefPage) {
      markUsage(tx_, def_.format, def_.ownedPagesPointer, p, true);
      markUsage(tx_, def_.format, def_.freeSpacePointer, p, true);
    }
    return p;
  }

  PageTransaction tx_;
  TableDef& def_;
  TextCodec& codec_;
  StagedIndexPages store_;
  std::unique_ptr<TableIndexes> indexes_;
  uint32_t lastDataPage_ = UINT32_MAX;
  uint32_t lastLvalPage_ = UINT32_MAX;
};

// Reads a row's current values and body for changing it.
struct CurrentRow {
  std::vector<Value> values;
  Bytes body;
  RowSlot headerSlot;
  RowId bodyId;
};

CurrentRow readCurrent(PageFile& file, const TableDef& def, TextCodec& codec, RowId id) {
  CurrentRow cur;
  if (id.page >= file.pageCount()) throw Error(err::kNoCurrentRecord, "No current record.");
  PageRef page = file.page(id.page);
  if ((*page)[0] != kDataPageType || le32(page->data() + 4) != def.tdefPage ||
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
std::vector<std::pair<size_t, Bytes>> longValueRefs(const TableDef& def, const Bytes& body) {
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

template <typename F>
auto guarded(Operation& op, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (...) {
    op.abandon();
    throw;
  }
}

}  // namespace

TableWriter::TableWriter(PageFile& file, TableDef& def, const TableInfo& info, TextCodec& codec)
    : file_(file), def_(def), info_(info), codec_(codec) {}

RowId TableWriter::insert(std::vector<Value> values) {
  if (file_.readOnly()) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  Operation op(file_, def_, info_, codec_);
  return guarded(op, [&] {
    if (values.size() != def_.columns.size())
      throw Error(err::kInvalidArgument, "Invalid argument: a row needs one value per field.");
    bool autoUsed = false;
    for (size_t i = 0; i < def_.columns.size(); ++i) {
      const ColumnDef& c = def_.columns[i];
      if (c.autoNumber() && c.type == ColumnType::Long) {
        values[i] = int64_t(int32_t(def_.nextAutoNumber + 1));
        autoUsed = true;
      } else if (c.autoGuid() && c.type == ColumnType::Guid && isNull(values[i])) {
        static std::mt19937_64 rng{std::random_device{}()};
        Guid g;
        for (auto& b : g.bytes) b = uint8_t(rng());
        g.bytes[7] = uint8_t((g.bytes[7] & 0x0F) | 0x40);
        g.bytes[8] = uint8_t((g.bytes[8] & 0x3F) | 0x80);
        values[i] = g;
      }
    }
    Bytes body = encodeRow(def_, values, codec_,
                           [&](const ColumnDef&, const Bytes& data) { return op.storeLongValue(data, 64); });
    RowId id = op.placeRow(body, 0);
    op.maintainIndexes(nullptr, RowId{}, &values, id);
    op.setCounts(+1, autoUsed);
    op.tx().commit();
    def_.lastDataPageHint = id.page;
    def_.rowCount += 1;
    if (autoUsed) def_.nextAutoNumber += 1;
    return id;
  });
}

void TableWriter::remove(RowId id) {
  if (file_.readOnly()) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  CurrentRow cur = readCurrent(file_, def_, codec_, id);
  Operation op(file_, def_, info_, codec_);
  guarded(op, [&] {
    op.maintainIndexes(&cur.values, id, nullptr, RowId{});
    for (auto& [col, ref] : longValueRefs(def_, cur.body)) op.freeLongValue(ref.data(), ref.size());
    freeRow(op.tx().edit(id.page), file_.pageSize(), def_.format, id.row);
    if (!(cur.bodyId == id)) freeRow(op.tx().edit(cur.bodyId.page), file_.pageSize(), def_.format, cur.bodyId.row);
    op.setCounts(-1, false);
    op.tx().commit();
    def_.rowCount -= 1;
  });
}

void TableWriter::update(RowId id, std::vector<Value> values) {
  if (file_.readOnly()) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  CurrentRow cur = readCurrent(file_, def_, codec_, id);
  Operation op(file_, def_, info_, codec_);
  guarded(op, [&] {
    if (values.size() != def_.columns.size())
      throw Error(err::kInvalidArgument, "Invalid argument: a row needs one value per field.");
    for (size_t i = 0; i < def_.columns.size(); ++i)
      if (def_.columns[i].autoNumber()) values[i] = cur.values[i];  // auto-numbers never change
    Bytes body = encodeRow(def_, values, codec_,
                           [&](const ColumnDef&, const Bytes& data) { return op.storeLongValue(data, 64); });
    op.maintainIndexes(&cur.values, id, &values, id);
    for (auto& [col, ref] : longValueRefs(def_, cur.body)) op.freeLongValue(ref.data(), ref.size());
    const Format f = def_.format;
    const uint32_t ps = file_.pageSize();
    if (!(cur.bodyId == id)) freeRow(op.tx().edit(cur.bodyId.page), ps, f, cur.bodyId.row);
    // In place when the home page has room; otherwise the body moves and the home row points at it.
    if (!replaceRow(op.tx().edit(id.page), ps, f, id.row, body.data(), body.size(), 0)) {
      RowId moved = op.placeRow(body, kRowDeleted, id.page);
      uint8_t ptr[4];
      ptr[0] = uint8_t(moved.row);
      put24(ptr + 1, moved.page);
      if (!replaceRow(op.tx().edit(id.page), ps, f, id.row, ptr, 4, kRowOverflow))
        throwCorrupt("a data page has no room for a row pointer");
    }
    op.tx().commit();
  });
}

}  // namespace jet
