#include "jet/catalog/schema_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/base/paths.h"
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
#include "jet/table/table_scan.h"

namespace jet {

std::unique_ptr<SchemaFile> SchemaFile::open(const std::string& path, bool readOnly) {
  auto pages = std::make_unique<PageFile>(path, readOnly);
  const Header header = parseHeader(pages->readPrefix(kHeaderBytes), fileName(path));
  pages->setPageSize(header.pageSize);
  // A tool's open, with no password: a database key is applied; an encrypted file is refused (3031).
  if (isEncrypted(header)) unlockPages(*pages, header, "", fileName(path));
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

Tdef SchemaFile::definition(uint32_t tdefPage) { return readTdef(*pages_, format_, *codec_, tdefPage); }

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

RowId SchemaFile::insertRow(uint32_t tdefPage, const Tdef& def, const Bytes& row) {
  std::vector<uint32_t> pages = usageMapPages(def.ownedPagesPointer);
  for (auto it = pages.rbegin(); it != pages.rend(); ++it) {
    if (*it >= pageCount()) continue;
    Bytes p = page(*it);
    if (p[0] != kDataPageType || le32(&p[4]) != tdefPage) continue;
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
  if (field.size() < kLongValueRefSize) return;
  const uint8_t kind = field[3];
  if (kind & kLongValueInline) return;  // nothing outside the row
  uint32_t ptr = le32(&field[4]);
  std::set<uint32_t> seen;
  while (ptr != 0 && seen.insert(ptr).second) {
    const uint32_t pg = pointerPage(ptr);
    if (pg < 2 || pg >= pageCount()) return;
    Bytes p = page(pg);
    const uint32_t ps = uint32_t(pageSize_);
    if (p[0] != kDataPageType || le32(&p[4]) != kLongValueOwner) return;
    if (pointerRow(ptr) >= pageRowCount(p.data(), ps, format_)) return;
    const RowSlot s = rowSlot(p.data(), ps, format_, pointerRow(ptr));
    const uint32_t next = (kind == kLongValueChained && s.size() >= 4) ? le32(&p[s.start]) : 0;
    deleteRow(pg, pointerRow(ptr));
    p = page(pg);
    bool live = false;
    for (uint16_t r = 0, n = pageRowCount(p.data(), ps, format_); r < n && !live; ++r)
      live = !rowSlot(p.data(), ps, format_, r).deleted;
    if (!live) {
      if (map) usageMapMark(map, pg, false);
      freePage(pg);
    }
    ptr = next;
  }
}

std::vector<std::pair<RowId, std::vector<Value>>> readPlainRows(SchemaFile& file, uint32_t tdefPage,
                                                                const Tdef& def) {
  std::vector<std::pair<RowId, std::vector<Value>>> out;
  Tdef at = def;
  at.tdefPage = tdefPage;
  at.format = file.format();
  RowReader reader(at, file.codec());
  TableScan scan(file.pageFile(), at, file.codec());
  while (scan.next()) {
    std::vector<Value> values;
    reader.decode(scan.rowData(), scan.rowSize(), values);
    out.push_back({scan.rowId(), std::move(values)});
  }
  return out;
}

}  // namespace jet
