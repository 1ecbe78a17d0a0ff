#include "jet/catalog/schema_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/catalog_writer.h"
#include "jet/catalog/complex_columns.h"
#include "jet/catalog/name_rules.h"
#include "jet/catalog/properties.h"
#include "jet/catalog/system_tables.h"
#include "jet/index/index_page.h"
#include "jet/storage/data_page.h"
#include "jet/storage/encryption.h"
#include "jet/storage/header.h"
#include "jet/storage/long_value.h"
#include "jet/storage/page_transaction.h"
#include "jet/storage/usage_map.h"
#include "jet/table/row.h"

namespace jet {

namespace {

size_t rowCountAt(Format f) { return f == Format::Jet4 ? 12 : 8; }

}  // namespace

std::unique_ptr<SchemaFile> SchemaFile::open(const std::string& path, bool readOnly) {
  auto pages = std::make_unique<PageFile>(path, readOnly);
  const auto slash = path.find_last_of('/');
  const Header header = parseHeader(pages->readPrefix(kHeaderBytes), slash == std::string::npos ? path : path.substr(slash + 1));
  pages->setPageSize(header.pageSize);
  // A tool's open, with no password: a database key is applied; an encrypted file is refused (3031).
  if (isEncrypted(header)) unlockPages(*pages, header, "", slash == std::string::npos ? path : path.substr(slash + 1));
  pages->setEncodingKey(header.databaseKey);
  auto f = over(*pages, header.format, header.codePage);
  f->owned_ = std::move(pages);
  return f;
}

std::unique_ptr<SchemaFile> SchemaFile::over(PageFile& file, Format format, uint16_t codePage) {
  std::unique_ptr<SchemaFile> f(new SchemaFile());
  f->codec_ = std::make_unique<TextCodec>(codePage);
  f->pages_ = &file;
  f->readOnly_ = file.readOnly();
  f->format_ = format;
  f->pageSize_ = pageSizeOf(format);
  return f;
}

SchemaFile::~SchemaFile() = default;

const Header& SchemaFile::header() {
  if (!header_) {
    const Bytes first = page(0);
    header_ = parseHeader(std::vector<uint8_t>(first.begin(), first.begin() + std::min(first.size(), kHeaderBytes)), "");
  }
  return *header_;
}

void SchemaFile::readPage(uint32_t page, uint8_t* out) {
  if (page >= pageCount()) throwCorrupt("page " + std::to_string(page) + " lies past the end of the file");
  PageRef p = pages_->page(page);
  std::memcpy(out, p->data(), pageSize_);
}

void SchemaFile::writePage(uint32_t page, const uint8_t* data) {
  if (readOnly_) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  if (page < pages_->pageCount()) {
    pages_->writePage(page, data);
    return;
  }
  while (pages_->pageCount() < page) {
    Bytes zero(pageSize_, 0);
    pages_->appendPage(zero.data());
  }
  pages_->appendPage(data);
}

Bytes SchemaFile::page(uint32_t n) {
  Bytes b(pageSize_);
  readPage(n, b.data());
  return b;
}

void SchemaFile::sync() {
  if (!readOnly_) pages_->flush();
}

std::vector<SchemaFile::RowSlot> SchemaFile::rowSlots(const Bytes& p) {
  const size_t at = rowCountAt(format_);
  const size_t count = le::get16(&p[at]);
  if (at + 2 + 2 * count > p.size()) throwCorrupt("a data page has more rows than fit");
  std::vector<RowSlot> out;
  size_t end = p.size();
  for (size_t i = 0; i < count; ++i) {
    uint16_t raw = le::get16(&p[at + 2 + 2 * i]);
    size_t start = raw & kRowOffsetMask;
    RowSlot s{raw, start, end};
    if (start > end || start < at + 2 + 2 * count) s.end = s.start;  // unusable slot
    out.push_back(s);
    if (start <= end) end = start;
  }
  return out;
}

bool SchemaFile::appendRow(Bytes& p, const Bytes& row, uint16_t& rowNumber) {
  RowAppender rows(p.data(), uint32_t(p.size()), format_);
  if (!rows.fits(row.size())) return false;
  rowNumber = rows.add(row.data(), row.size());
  return true;
}

void SchemaFile::deleteRow(uint32_t pageNo, uint16_t row) {
  Bytes p = page(pageNo);
  if (row >= pageRowCount(p.data(), uint32_t(pageSize_), format_)) throwCorrupt("a row address points past its page's rows");
  setRowFlags(p.data(), format_, row, kRowFreed, true);
  writePage(pageNo, p.data());
}

TableDef SchemaFile::definition(uint32_t tdefPage) { return readTableDef(*pages_, format_, *codec_, tdefPage); }

// The maps are read and marked through a transaction of their own, which keeps the maps' rules
// (their window, their bitmap pages) in one place.
std::vector<uint32_t> SchemaFile::usageMapPages(uint32_t pointer) {
  if (pointer == 0) return {};
  PageTransaction tx(*pages_);
  return markedPages(tx, format_, pointer);
}

void SchemaFile::usageMapMark(uint32_t pointer, uint32_t pg, bool set) {
  if (readOnly_) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  PageTransaction tx(*pages_);
  tx.useFreePageMap(format_);
  markUsage(tx, format_, pointer, pg, set);
  tx.commit();
}

bool SchemaFile::globalFree(uint32_t pg) {
  PageTransaction tx(*pages_);
  tx.useFreePageMap(format_);
  return tx.isFree(pg);
}

// Pages come from and go back to the free-page map through a transaction of their own, which
// keeps the map's rules (its window, its bitmap pages) in one place.
uint32_t SchemaFile::allocatePage() {
  PageTransaction tx(*pages_);
  tx.useFreePageMap(format_);
  const uint32_t chosen = tx.allocate();
  tx.commit();
  return chosen;
}

void SchemaFile::freePage(uint32_t pg) {
  if (pg < 2 || pg >= pageCount()) return;
  PageTransaction tx(*pages_);
  tx.useFreePageMap(format_);
  std::fill_n(tx.edit(pg), pageSize_, uint8_t(0));
  tx.release(pg);
  tx.commit();
}

RowId SchemaFile::insertRow(uint32_t tdefPage, const TableDef& def, const Bytes& row) {
  std::vector<uint32_t> pages = usageMapPages(def.ownedPagesPointer);
  for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
    if (*it >= pageCount()) continue;
    Bytes p = page(*it);
    if (p[0] != 0x01 || le::get32(&p[4]) != tdefPage) continue;
    uint16_t rowNo;
    if (appendRow(p, row, rowNo)) {
      writePage(*it, p.data());
      return RowId{*it, rowNo};
    }
  }
  // The maps first: when they cannot take the page, no row is left where nothing finds it.
  const uint32_t fresh = allocatePage();
  usageMapMark(def.ownedPagesPointer, fresh, true);
  if (def.freeSpacePointer) usageMapMark(def.freeSpacePointer, fresh, true);
  Bytes p = buildDataPage(format_, tdefPage, {row});
  writePage(fresh, p.data());
  return RowId{fresh, 0};
}

Bytes SchemaFile::writeLongValue(const Bytes& data, uint32_t map) {
  // Each row on a fresh long-value page, entered in the map.
  return jet::writeLongValue(data, SIZE_MAX, maxRowSize(format_, uint32_t(pageSize_)), [&](const uint8_t* row, size_t size) {
    const uint32_t pg = allocatePage();
    Bytes p = buildDataPage(format_, kLongValueOwner, {Bytes(row, row + size)});
    writePage(pg, p.data());
    if (map) usageMapMark(map, pg, true);
    return makePointer(pg, 0);
  });
}

void SchemaFile::freeLongValue(const Bytes& field, uint32_t map) {
  if (field.size() < 12) return;
  const uint8_t kind = field[3];
  if (kind & 0x80) return;  // inline: nothing outside the row
  uint32_t ptr = le::get32(&field[4]);
  std::set<uint32_t> seen;
  while (ptr != 0 && seen.insert(ptr).second) {
    const uint32_t pg = pointerPage(ptr);
    if (pg < 2 || pg >= pageCount()) return;
    Bytes p = page(pg);
    if (p[0] != 0x01 || std::memcmp(&p[4], "LVAL", 4) != 0) return;
    auto slots = rowSlots(p);
    if (pointerRow(ptr) >= slots.size()) return;
    const auto s = slots[pointerRow(ptr)];
    const uint32_t next = (kind == 0 && s.end >= s.start + 4) ? le::get32(&p[s.start]) : 0;
    deleteRow(pg, pointerRow(ptr));
    p = page(pg);
    bool live = false;
    for (const auto& slot : rowSlots(p)) live = live || !(slot.offset & kRowDeleted);
    if (!live) {
      if (map) usageMapMark(map, pg, false);
      freePage(pg);
    }
    ptr = next;
  }
}

// The rows of a catalog-like table, read page by page from the pages its map lists.
std::vector<std::pair<RowId, std::vector<Value>>> readPlainRows(SchemaFile& file, uint32_t tdefPage,
                                                                const TableDef& def) {
  std::vector<std::pair<RowId, std::vector<Value>>> out;
  // Long values come back as their stored fields, to be written back unchanged.
  RowReader reader(def, file.codec());
  auto readStored = [&](const uint8_t* row, size_t size) {
    std::vector<Value> values;
    reader.decode(row, size, values);
    return values;
  };
  std::vector<uint32_t> pages = file.usageMapPages(def.ownedPagesPointer);
  std::sort(pages.begin(), pages.end());
  for (uint32_t pg : pages) {
    if (pg >= file.pageCount()) continue;
    Bytes p = file.page(pg);
    if (p[0] != 0x01 || le::get32(&p[4]) != tdefPage) continue;
    auto slots = file.rowSlots(p);
    for (size_t i = 0; i < slots.size(); ++i) {
      const auto& s = slots[i];
      if (s.offset & kRowDeleted) continue;
      if (s.end <= s.start) continue;
      if (s.offset & kRowOverflow) {
        // The row moved: the slot holds its new address.
        if (s.end - s.start < 4) continue;
        const uint32_t target = le::get32(&p[s.start]);
        Bytes q = file.page(pointerPage(target));
        auto qs = file.rowSlots(q);
        if (pointerRow(target) >= qs.size()) continue;
        const auto& t = qs[pointerRow(target)];
        if (t.end <= t.start) continue;
        out.push_back({RowId{pg, uint16_t(i)}, readStored(q.data() + t.start, t.end - t.start)});
        continue;
      }
      out.push_back({RowId{pg, uint16_t(i)}, readStored(p.data() + s.start, s.end - s.start)});
    }
  }
  return out;
}

}  // namespace jet
