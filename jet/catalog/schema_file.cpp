#include "jet/catalog/schema_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

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
#include "jet/table/row_space.h"
#include "jet/table/row.h"
#include "jet/table/table_scan.h"

namespace jet {

std::unique_ptr<SchemaFile> SchemaFile::open(const std::string& path, bool readOnly, int busyTimeoutMs) {
  auto pages = std::make_unique<PageFile>(path, readOnly, PageFile::kCachePages, busyTimeoutMs);
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

void SchemaFile::change(const std::function<void(PageTransaction&)>& edit) {
  if (readOnly_) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  PageTransaction tx(*pages_);
  tx.useFreePageMap(format_);
  edit(tx);
  tx.commit();
}

void SchemaFile::deleteRow(uint32_t pageNo, uint16_t row) {
  change([&](PageTransaction& tx) {
    if (pageNo >= tx.pageCount() || row >= pageRowCount(tx.read(pageNo), uint32_t(pageSize_), format_))
      throwCorrupt("a row address points past its page's rows");
    freeRow(tx.edit(pageNo), uint32_t(pageSize_), format_, row);
  });
}

RowId SchemaFile::insertRow(const Tdef& def, const Bytes& row) {
  RowId id;
  change([&](PageTransaction& tx) { id = appendToLastPageWithRoom(tx, def, row.data(), row.size()); });
  return id;
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
  change([&](PageTransaction& tx) { markUsage(tx, format_, pointer, pg, set); });
}

bool SchemaFile::globalFree(uint32_t pg) {
  PageTransaction tx(*pages_);
  tx.useFreePageMap(format_);
  return tx.isFree(pg);
}

// Pages come from and go back to the free-page map through a transaction of their own, which
// keeps the map's rules (its window, its bitmap pages) in one place.
uint32_t SchemaFile::allocatePage() {
  uint32_t chosen = 0;
  change([&](PageTransaction& tx) { chosen = tx.allocate(); });
  return chosen;
}

void SchemaFile::freePage(uint32_t pg) {
  if (pg < 2 || pg >= pageCount()) return;
  change([&](PageTransaction& tx) {
    std::fill_n(tx.edit(pg), pageSize_, uint8_t(0));
    tx.release(pg);
  });
}

Bytes SchemaFile::writeLongValue(const Bytes& data, uint32_t map) {
  // Each row on a fresh long-value page, entered in the map.
  return jet::writeLongValue(data, SIZE_MAX, maxRowSize(format_, uint32_t(pageSize_)), [&](const uint8_t* row, size_t size) {
    uint32_t pointer = 0;
    change([&](PageTransaction& tx) {
      const uint32_t pg = newDataPage(tx, format_, kLongValueOwner, map);
      uint16_t rowNo = 0;
      addRowTo(tx, format_, pg, kLongValueOwner, row, size, rowNo);
      pointer = makePointer(pg, rowNo);
    });
    return pointer;
  });
}

void SchemaFile::freeLongValue(const Bytes& field, LongValueMaps maps) {
  change([&](PageTransaction& tx) { jet::freeLongValue(tx, format_, field.data(), field.size(), maps); });
}

std::function<bool(RowId&, std::vector<Value>&)> streamPlainRows(SchemaFile& file, const Tdef& def) {
  auto at = std::make_shared<Tdef>(def);
  at->format = file.format();
  auto reader = std::make_shared<RowReader>(*at, file.codec());
  auto scan = std::make_shared<TableScan>(file.pageFile(), *at, file.codec());
  return [at, reader, scan](RowId& id, std::vector<Value>& values) {
    if (!scan->next()) return false;
    id = scan->rowId();
    values.clear();
    reader->decode(scan->rowData(), scan->rowSize(), values);
    return true;
  };
}

std::vector<std::pair<RowId, std::vector<Value>>> readPlainRows(SchemaFile& file, uint32_t tdefPage,
                                                                const Tdef& def) {
  Tdef at = def;
  at.tdefPage = tdefPage;
  const auto next = streamPlainRows(file, at);
  std::vector<std::pair<RowId, std::vector<Value>>> out;
  RowId id;
  std::vector<Value> values;
  while (next(id, values)) out.push_back({id, std::move(values)});
  return out;
}

}  // namespace jet
