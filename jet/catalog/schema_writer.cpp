#include "jet/catalog/schema_writer.h"

#include <algorithm>
#include <cctype>
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
size_t tdefRowCountAt(Format f) { return f == Format::Jet4 ? 16 : 12; }
size_t realCountBlockAt(Format f) { return f == Format::Jet4 ? 63 : 43; }
size_t realCountBlockSize(Format f) { return f == Format::Jet4 ? 12 : 8; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// SchemaFile

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

// ---------------------------------------------------------------------------------------------
// Reading plain rows

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

// ---------------------------------------------------------------------------------------------
// Table definitions for new tables

namespace {

bool isFixedType(ColumnType t) { return fixedLengthOf(t) != 0; }

constexpr size_t kMaxColumns = 255;

bool knownType(ColumnType t) {
  switch (t) {
    case ColumnType::Boolean: case ColumnType::Byte: case ColumnType::Integer: case ColumnType::Long:
    case ColumnType::Currency: case ColumnType::Single: case ColumnType::Double: case ColumnType::DateTime:
    case ColumnType::Binary: case ColumnType::Text: case ColumnType::Ole: case ColumnType::Memo:
    case ColumnType::Guid: case ColumnType::Numeric: case ColumnType::BigInt: case ColumnType::DateTimeExtended:
      return true;
    case ColumnType::Complex:  // needs hidden tables, which the engine does not create
      return false;
  }
  return false;
}

}  // namespace

TableDef newTableDefinition(Format f, const NewTable& outline, FileVersion version, uint8_t sortVersion) {
  requireValidName(outline.name, f);
  if (outline.columns.empty()) throw Error(err::kNoFields, "No field defined--cannot append TableDef or Index.");
  if (outline.columns.size() > kMaxColumns) throw Error(err::kTooManyFields, "Too many fields defined.");
  TableDef def;
  def.format = f;
  def.version = firstVersionOf(f);
  uint16_t fixedAt = 0, varAt = 0;
  for (size_t i = 0; i < outline.columns.size(); ++i) {
    const NewColumn& nc = outline.columns[i];
    requireValidName(nc.name, f);
    for (size_t j = 0; j < i; ++j)
      if (sameName(outline.columns[j].name, nc.name))
        throw Error(err::kFieldDefinedTwice, "Cannot define field more than once.");
    if (!knownType(nc.type)) throw Error(err::kInvalidFieldSize, "Invalid field data type.");
    if (nc.autoNumber && nc.type != ColumnType::Long) throw Error(err::kInvalidFieldSize, "Invalid field data type.");
    // The older format has no decimal type.
    if (f == Format::Jet3 && nc.type == ColumnType::Numeric) throw Error(err::kInvalidFieldSize, "Invalid field data type.");
    ColumnDef c;
    c.name = nc.name;
    c.type = nc.type;
    c.number = uint16_t(i);
    if (f == Format::Jet4) c.sortVersion = sortVersion;
    c.flags = nc.required ? 0 : colflag::kNullable;
    if (nc.autoNumber) c.flags = uint8_t(c.flags | colflag::kAutoNumber);
    if (isFixedType(nc.type)) {
      c.flags |= colflag::kFixed;
      c.length = fixedLengthOf(nc.type);
      c.varIndex = varAt;
      if (nc.type != ColumnType::Boolean) {
        c.fixedOffset = fixedAt;
        fixedAt = uint16_t(fixedAt + c.length);
      }
      if (nc.type == ColumnType::Numeric) {
        if (nc.precision < 1 || nc.precision > 28 || nc.scale > nc.precision)
          throw Error(err::kInvalidArgument, "Invalid argument.");
        c.precision = nc.precision;
        c.scale = nc.scale;
      }
    } else {
      c.varIndex = varAt++;
      // Text and memo columns take Unicode compression, as Access makes them: values of one-byte
      // characters are stored one byte a character.
      if (f == Format::Jet4 && (nc.type == ColumnType::Text || nc.type == ColumnType::Memo))
        c.extFlags = uint8_t(c.extFlags | colflag::kCompressedText);
      if (nc.type == ColumnType::Text) {
        if (nc.size < 1 || nc.size > 255) throw Error(err::kInvalidArgument, "Invalid argument.");
        c.length = uint16_t(f == Format::Jet4 ? nc.size * 2 : nc.size);
      } else if (nc.type == ColumnType::Binary) {
        const int size = nc.size ? nc.size : 255;
        if (size < 1 || size > 255) throw Error(err::kInvalidArgument, "Invalid argument.");
        c.length = uint16_t(size);
      }
    }
    def.columns.push_back(c);
  }
  if (f == Format::Jet3 ? fixedAt > 2000 : fixedAt > 4000) throw Error(err::kInvalidArgument, "Invalid argument.");
  for (size_t i = 0; i < outline.indexes.size(); ++i) {
    const NewIndex& ni = outline.indexes[i];
    requireValidName(ni.name, f);
    for (size_t j = 0; j < i; ++j) {
      if (sameName(outline.indexes[j].name, ni.name)) throw Error(err::kIndexExists, "Index already exists.");
      if (ni.primaryKey && outline.indexes[j].primaryKey)
        throw Error(err::kPrimaryKeyExists, "Primary key already exists.");
    }
    if (ni.columns.empty() || ni.columns.size() > 10) throw Error(err::kInvalidArgument, "Invalid argument.");
    RealIndexDef r;
    for (const auto& ic : ni.columns) {
      if (ic.columnNumber >= def.columns.size()) throw Error(err::kInvalidArgument, "Invalid argument.");
      const ColumnType t = def.columns[ic.columnNumber].type;
      if (t == ColumnType::Memo || t == ColumnType::Ole || t == ColumnType::Binary)
        throw Error(err::kInvalidFieldSize, "Invalid field data type.");
      r.columns.push_back({ic.columnNumber, ic.ascending});
    }
    uint8_t flags = 0;
    if (ni.unique || ni.primaryKey) flags |= idxflag::kUnique;
    if (ni.ignoreNulls) flags |= idxflag::kIgnoreNulls;
    if (ni.required || ni.primaryKey) flags |= idxflag::kRequired;
    if (f == Format::Jet4) flags |= idxflag::kJet4Marker;
    r.flags = flags;
    def.realIndexes.push_back(r);
    LogicalIndexDef l;
    l.name = ni.name;
    l.number = int32_t(i);
    l.realIndex = int32_t(i);
    l.kind = ni.primaryKey ? idxkind::kPrimaryKey : idxkind::kPlain;
    def.indexes.push_back(l);
  }
  return def;
}

// ---------------------------------------------------------------------------------------------
// Schema changes

namespace {

// The catalog with what a schema change needs of it.
struct CatalogView {
  TableDef def;
  Catalog catalog;
};

CatalogView loadCatalog(SchemaFile& file) {
  CatalogView c;
  c.def = file.definition(sys::kCatalogTdef);
  c.catalog = Catalog::read(file.pageFile(), file.format(), windows1252Codec());
  return c;
}

const CatalogEntry* findTable(const CatalogView& c, const std::string& name) {
  for (const auto& e : c.catalog.entries())
    if (e.parentId == sys::kTablesId && sameName(e.object.name, name)) return &e;
  return nullptr;
}

const CatalogEntry* findSystemTable(const CatalogView& c, const std::string& name) {
  for (const auto& e : c.catalog.entries())
    if (e.parentId == sys::kTablesId && e.type == sys::kTypeTable && e.object.name == name) return &e;
  return nullptr;
}

// A catalog row's stored values (long values as their fields), to write it again or take it out.
std::vector<Value> storedValues(SchemaFile& file, const CatalogView& c, RowId row) {
  for (auto& [rid, values] : readPlainRows(file, sys::kCatalogTdef, c.def))
    if (rid == row) return std::move(values);
  throwCorrupt("a catalog row cannot be found where the catalog lists it");
}

// Adds delta to a table's row count (and the entry counts of its real indexes) in place, leaving
// every other byte of the definition as it is.
void adjustRowCount(SchemaFile& file, uint32_t tdefPage, int delta, size_t realIndexes) {
  const Format f = file.format();
  Bytes p = file.page(tdefPage);
  auto bump = [&](size_t at) {
    if (at + 4 > p.size()) return;
    int64_t v = int64_t(le::get32(&p[at])) + delta;
    le::put32(&p[at], uint32_t(std::max<int64_t>(v, 0)));
  };
  bump(tdefRowCountAt(f));
  for (size_t i = 0; i < realIndexes; ++i) bump(realCountBlockAt(f) + i * realCountBlockSize(f) + 4);
  file.writePage(tdefPage, p.data());
}

// Inserts a row into a catalog-like table and its indexes, keys checked first.
RowId insertIndexedRow(SchemaFile& file, uint32_t tdefPage, const TableDef& def, const std::vector<Value>& values) {
  TableIndexes idx(file, tdefPage, indexOutlines(def));
  idx.check(nullptr, {}, &values, {});
  const RowId rid = file.insertRow(tdefPage, def, encodeSystemRow(def, values, file.codec(), true));
  idx.apply(nullptr, {}, &values, rid);
  adjustRowCount(file, tdefPage, 1, def.realIndexes.size());
  return rid;
}

void deleteIndexedRow(SchemaFile& file, uint32_t tdefPage, const TableDef& def, RowId rid,
                      const std::vector<Value>& values) {
  TableIndexes idx(file, tdefPage, indexOutlines(def));
  idx.apply(&values, rid, nullptr, {});
  file.deleteRow(rid.page, rid.row);
  adjustRowCount(file, tdefPage, -1, def.realIndexes.size());
}

// A row for a usage map, placed on a page of maps with room (or a new one). Returns its pointer.
uint32_t placeMapRow(SchemaFile& file, const Bytes& row) {
  for (uint32_t pg = file.pageCount(); pg-- > 2;) {
    Bytes p = file.page(pg);
    if (p[0] != 0x01 || p[1] != 0x01 || le::get32(&p[4]) != 0) continue;
    if (file.globalFree(pg)) continue;  // a leftover the engine has already given back
    uint16_t rowNo;
    if (file.appendRow(p, row, rowNo)) {
      file.writePage(pg, p.data());
      return makePointer(pg, uint8_t(rowNo));
    }
  }
  const uint32_t fresh = file.allocatePage();
  file.writePage(fresh, buildDataPage(file.format(), 0, {row}).data());
  return makePointer(fresh, 0);
}

// A map marking the one page (none for page 0).
Bytes emptyMapFor(Format f, uint32_t page) {
  return buildInlineUsageMap(f, page ? std::vector<uint32_t>{page} : std::vector<uint32_t>{}, page - page % 8);
}


uint32_t systemTablePage(const CatalogView& c, const std::string& name, uint32_t fallback) {
  const CatalogEntry* e = findSystemTable(c, name);
  return e ? uint32_t(e->object.id) & 0x00FFFFFF : fallback;
}

// The position of a system table's column in its rows, by name.
size_t columnPosition(const TableDef& def, const std::string& name) {
  for (size_t i = 0; i < def.columns.size(); ++i)
    if (def.columns[i].name == name) return i;
  throw Error(err::kCorrupt, "The system table lacks its column '" + name + "'.");
}

}  // namespace

void createTable(SchemaFile& file, const NewTable& outline) {
  const Format f = file.format();
  const Header& h = file.header();
  TableDef def = newTableDefinition(f, outline, h.version, uint8_t(h.sortVersion));
  CatalogView cat = loadCatalog(file);
  if (findTable(cat, outline.name)) throw Error(err::kTableExists, tableExistsMessage(outline.name));

  // Definition pages first: the table's id is its first definition page.
  // Its size with every reference filled in (the long-value map list grows with them).
  TableDef sized = def;
  for (auto& c : sized.columns)
    if (c.type == ColumnType::Memo || c.type == ColumnType::Ole) c.lvOwnedPointer = c.lvFreePointer = 1;
  Bytes probe = serializeTableDef(sized, file.codec());
  const size_t nPages = tdefPagesNeeded(f, probe.size());
  std::vector<uint32_t> tdefPages;
  for (size_t i = 0; i < nPages; ++i) tdefPages.push_back(file.allocatePage());
  const uint32_t tdef = tdefPages[0];
  // Reserve the definition pages with a placeholder so that later allocations skip them.
  for (uint32_t p : tdefPages) {
    Bytes b(file.pageSize(), 0);
    b[0] = 0x02;
    b[1] = 0x01;
    file.writePage(p, b.data());
  }

  def.ownedPagesPointer = placeMapRow(file, emptyMapFor(f, 0));
  def.freeSpacePointer = placeMapRow(file, emptyMapFor(f, 0));
  // Memo and OLE columns keep maps of their long-value pages.
  for (auto& c : def.columns)
    if (c.type == ColumnType::Memo || c.type == ColumnType::Ole) {
      c.lvOwnedPointer = placeMapRow(file, emptyMapFor(f, 0));
      c.lvFreePointer = placeMapRow(file, emptyMapFor(f, 0));
    }
  for (auto& r : def.realIndexes) {
    r.rootPage = IndexTree::createEmpty(file, tdef);
    r.usedPagesPointer = placeMapRow(file, emptyMapFor(f, r.rootPage));
  }
  const Bytes bytes = serializeTableDef(def, file.codec());
  auto images = paginateTableDef(f, bytes, tdefPages);
  for (size_t i = 0; i < images.size(); ++i) file.writePage(tdefPages[i], images[i].data());

  // Catalog row with the column properties.
  std::vector<ColumnProperties> props;
  for (const auto& nc : outline.columns) {
    ColumnProperties cp;
    cp.column = nc.name;
    cp.required = nc.required;
    if (nc.type == ColumnType::Text || nc.type == ColumnType::Memo) cp.allowZeroLength = nc.allowZeroLength;
    props.push_back(cp);
  }
  const double now = sys::oleNow();
  const ColumnDef& lvProp = sys::columnByNumber(cat.def, sys::kObjLvProp);
  const uint32_t lvPropMap = lvProp.lvOwnedPointer ? lvProp.lvOwnedPointer : cat.def.ownedPagesPointer;
  std::vector<Value> row = rowByNumber(cat.def, {
      {sys::kObjId, int64_t(tdef)},
      {sys::kObjParentId, int64_t(sys::kTablesId)},
      {sys::kObjName, outline.name},
      {sys::kObjType, int64_t(sys::kTypeTable)},
      {sys::kObjDateCreate, DateTime{now}},
      {sys::kObjDateUpdate, DateTime{now}},
      {sys::kObjOwner, sys::sidBytes(f, sys::Sid::Creator)},
      {sys::kObjFlags, int64_t(0)},
      {sys::kObjLvProp, file.writeLongValue(buildPropertyBlob(f, props, windows1252Codec()), lvPropMap)},
  });
  insertIndexedRow(file, sys::kCatalogTdef, cat.def, row);

  // Permissions.
  const uint32_t acesPage = systemTablePage(cat, "MSysACEs", sys::kAcesTdef);
  const TableDef aces = file.definition(acesPage);
  for (const auto& a : sys::newTableAces(int32_t(tdef))) {
    std::vector<Value> v = rowByNumber(aces, {{sys::kAceObjectId, int64_t(a.objectId)},
                                              {sys::kAceSid, sys::sidBytes(f, a.sid)},
                                              {sys::kAceAcm, int64_t(a.mask)},
                                              {sys::kAceInheritable, a.inheritable}});
    insertIndexedRow(file, acesPage, aces, v);
  }
  file.sync();
}

void renameTable(SchemaFile& file, const std::string& oldName, const std::string& newName) {
  CatalogView cat = loadCatalog(file);
  const CatalogEntry* old = findTable(cat, oldName);
  if (!old) throw Error(err::kObjectNotFound, objectNotFoundMessage(oldName));
  requireValidName(newName, file.format());
  const CatalogEntry* clash = findTable(cat, newName);
  if (clash && !(clash->row == old->row)) throw Error(err::kTableExists, tableExistsMessage(newName));
  if (old->object.flags & sys::kFlagSystem) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  if (old->object.name == newName) return;

  const std::vector<Value> oldValues = storedValues(file, cat, old->row);
  std::vector<Value> updated = oldValues;
  updated[cat.def.findColumn(sys::kObjName)] = newName;
  updated[cat.def.findColumn(sys::kObjDateUpdate)] = DateTime{sys::oleNow()};
  TableIndexes idx(file, sys::kCatalogTdef, indexOutlines(cat.def));
  idx.check(&oldValues, old->row, &updated, {});
  const RowId rid = file.insertRow(sys::kCatalogTdef, cat.def, encodeSystemRow(cat.def, updated, file.codec(), true));
  file.deleteRow(old->row.page, old->row.row);
  idx.apply(&oldValues, old->row, &updated, rid);

  // Relationships name their tables: they follow the new name.
  if (const uint32_t relPage = systemTablePage(cat, "MSysRelationships", 0)) {
    const TableDef rel = file.definition(relPage);
    const size_t objPos = columnPosition(rel, "szObject"), refPos = columnPosition(rel, "szReferencedObject");
    for (const auto& [relRow, values] : readPlainRows(file, relPage, rel)) {
      std::vector<Value> changed = values;
      bool touched = false;
      for (size_t pos : {objPos, refPos}) {
        if (auto s = std::get_if<std::string>(&changed[pos]); s && sameName(*s, old->object.name)) {
          changed[pos] = newName;
          touched = true;
        }
      }
      if (!touched) continue;
      deleteIndexedRow(file, relPage, rel, relRow, values);
      insertIndexedRow(file, relPage, rel, changed);
    }
  }
  file.sync();
}

namespace {

// An enforced relationship needs a unique index on the primary fields (3609), and the foreign
// table's rows must already keep it (3379): each key without a Null field finds its primary row.
void requireIntegrity(SchemaFile& file, const TableDef& pdef, const TableDef& fdef,
                      const std::vector<std::pair<std::string, std::string>>& names, const std::string& primary,
                      const std::string& foreign) {
  auto positions = [&](const TableDef& def, bool first) {
    std::vector<size_t> at;
    for (const auto& n : names)
      for (size_t i = 0; i < def.columns.size(); ++i)
        if (sameName(def.columns[i].name, first ? n.first : n.second)) at.push_back(i);
    return at;
  };
  const std::vector<size_t> p = positions(pdef, true), q = positions(fdef, false);
  std::set<uint16_t> wanted;
  for (size_t i : p) wanted.insert(pdef.columns[i].number);
  bool unique = false;
  for (const RealIndexDef& r : pdef.realIndexes) {
    std::set<uint16_t> have;
    for (const IndexColumn& c : r.columns) have.insert(c.columnNumber);
    unique = unique || ((r.flags & idxflag::kUnique) && have == wanted && r.columns.size() == wanted.size());
  }
  if (!unique) throw Error(3609, "No unique index found for the referenced field of the primary table.");
  std::set<std::string> keys;
  auto keyOf = [](const std::vector<Value>& row, const std::vector<size_t>& at, bool& null) {
    std::string k;
    null = false;
    for (size_t i : at) {
      null = null || isNull(row[i]);
      std::string t = toText(row[i]);
      for (char& c : t) c = char(std::tolower(uint8_t(c)));
      k += t + '\x1f';
    }
    return k;
  };
  bool null = false;
  for (const auto& [id, row] : readPlainRows(file, pdef.tdefPage, pdef)) keys.insert(keyOf(row, p, null));
  for (const auto& [id, row] : readPlainRows(file, fdef.tdefPage, fdef)) {
    const std::string k = keyOf(row, q, null);
    if (!null && !keys.count(k))
      throw Error(3379, "Can't create relationships to enforce referential integrity. Existing data in table '" + foreign +
                            "' violates referential integrity rules with related table '" + primary + "'.");
  }
}

}  // namespace

void createRelationship(SchemaFile& file, const NewRelationship& outline) {
  const Format f = file.format();
  requireValidName(outline.name, f);
  CatalogView cat = loadCatalog(file);
  const CatalogEntry* primary = findTable(cat, outline.table);
  if (!primary || primary->type != sys::kTypeTable) throw Error(err::kObjectNotFound, objectNotFoundMessage(outline.table));
  const CatalogEntry* foreign = findTable(cat, outline.foreignTable);
  if (!foreign || foreign->type != sys::kTypeTable)
    throw Error(err::kObjectNotFound, objectNotFoundMessage(outline.foreignTable));
  if ((primary->object.flags | foreign->object.flags) & sys::kFlagSystem)
    throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  if (outline.columns.empty()) throw Error(err::kNoFields, "No field defined--cannot append Relation.");

  // The fields, by their names in each table, of the same types pair by pair.
  const TableDef pdef = file.definition(uint32_t(primary->object.id) & 0x00FFFFFF);
  const TableDef fdef = file.definition(uint32_t(foreign->object.id) & 0x00FFFFFF);
  auto field = [](const TableDef& def, const std::string& name) -> const ColumnDef& {
    for (const auto& c : def.columns)
      if (sameName(c.name, name)) return c;
    throw Error(err::kUnknownField, "Item not found in this collection: no field '" + name + "'.");
  };
  std::vector<std::pair<std::string, std::string>> names;
  for (const auto& c : outline.columns) {
    const ColumnDef& a = field(pdef, c.name);
    const ColumnDef& b = field(fdef, c.foreignName);
    if (a.type != b.type)
      throw Error(err::kRelationFieldsDiffer,
                  "Relationship must be on the same number of fields with the same data types.");
    names.emplace_back(a.name, b.name);
  }

  if (!(outline.attributes & kRelationDontEnforce))
    requireIntegrity(file, pdef, fdef, names, primary->object.name, foreign->object.name);

  // The name is the relationship's alone.
  for (const auto& e : cat.catalog.entries())
    if (e.parentId == sys::kRelationshipsId && sameName(e.object.name, outline.name))
      throw Error(err::kObjectExists, "Object '" + outline.name + "' already exists.");
  const uint32_t relPage = systemTablePage(cat, "MSysRelationships", 0);
  if (!relPage) throw Error(err::kCorrupt, "The database has no MSysRelationships table.");
  const TableDef rel = file.definition(relPage);
  const size_t namePos = columnPosition(rel, "szRelationship");
  for (const auto& [rid, values] : readPlainRows(file, relPage, rel))
    if (auto s = std::get_if<std::string>(&values[namePos]); s && sameName(*s, outline.name))
      throw Error(err::kObjectExists, "Object '" + outline.name + "' already exists.");

  // Objects that are not tables take ids with the high bit set, one after another.
  int32_t id = int32_t(0x80000000u);
  for (const auto& e : cat.catalog.entries())
    if (e.object.id < 0 && e.object.id >= id) id = e.object.id + 1;
  const double now = sys::oleNow();
  insertIndexedRow(file, sys::kCatalogTdef, cat.def,
                   rowByNumber(cat.def, {
                                            {sys::kObjId, int64_t(id)},
                                            {sys::kObjParentId, int64_t(sys::kRelationshipsId)},
                                            {sys::kObjName, outline.name},
                                            {sys::kObjType, int64_t(sys::kTypeRelationship)},
                                            {sys::kObjDateCreate, DateTime{now}},
                                            {sys::kObjDateUpdate, DateTime{now}},
                                            {sys::kObjOwner, sys::sidBytes(f, sys::Sid::Creator)},
                                            {sys::kObjFlags, int64_t(0)},
                                        }));
  const uint32_t acesPage = systemTablePage(cat, "MSysACEs", sys::kAcesTdef);
  const TableDef aces = file.definition(acesPage);
  for (const auto& a : sys::newRelationshipAces(id))
    insertIndexedRow(file, acesPage, aces,
                     rowByNumber(aces, {{sys::kAceObjectId, int64_t(a.objectId)},
                                        {sys::kAceSid, sys::sidBytes(f, a.sid)},
                                        {sys::kAceAcm, int64_t(a.mask)},
                                        {sys::kAceInheritable, a.inheritable}}));

  // One row per pair of fields.
  for (size_t i = 0; i < names.size(); ++i) {
    std::vector<Value> v(rel.columns.size(), Null{});
    v[namePos] = outline.name;
    v[columnPosition(rel, "grbit")] = int64_t(outline.attributes);
    v[columnPosition(rel, "ccolumn")] = int64_t(names.size());
    v[columnPosition(rel, "icolumn")] = int64_t(i);
    v[columnPosition(rel, "szObject")] = foreign->object.name;
    v[columnPosition(rel, "szColumn")] = names[i].second;
    v[columnPosition(rel, "szReferencedObject")] = primary->object.name;
    v[columnPosition(rel, "szReferencedColumn")] = names[i].first;
    insertIndexedRow(file, relPage, rel, v);
  }
  file.sync();
}

namespace {

// Deletes the rows of a system table (when the file has it) whose Long column holds `id`.
void deleteRowsNaming(SchemaFile& file, const CatalogView& cat, const std::string& table, const std::string& column,
                      int32_t id) {
  const uint32_t page = systemTablePage(cat, table, 0);
  if (!page) return;
  const TableDef def = file.definition(page);
  size_t pos = def.columns.size();
  for (size_t i = 0; i < def.columns.size(); ++i)
    if (sameName(def.columns[i].name, column)) pos = i;
  if (pos == def.columns.size()) return;
  for (const auto& [rid, values] : readPlainRows(file, page, def)) {
    const auto* v = std::get_if<int64_t>(&values[pos]);
    if (v && int32_t(*v) == id) deleteIndexedRow(file, page, file.definition(page), rid, values);
  }
}

// Drops one catalog object of the tables folder: its catalog and permission rows, its pages and
// long values. `hiddenPart` allows the system-flagged tables that belong to another table.
void dropObject(SchemaFile& file, const std::string& name, bool hiddenPart) {
  const Format f = file.format();
  CatalogView cat = loadCatalog(file);
  const CatalogEntry* row = findTable(cat, name);
  if (!row || row->type == sys::kTypeQuery) throw Error(err::kObjectNotFound, objectNotFoundMessage(name));
  if ((row->object.flags & sys::kFlagSystem) && !hiddenPart)
    throw Error(err::kReadOnly, "Cannot update. Database or object is read-only.");
  const std::vector<Value> rowValues = storedValues(file, cat, row->row);

  // A table that takes part in a relationship stays.
  const uint32_t relPage = systemTablePage(cat, "MSysRelationships", 0);
  if (relPage) {
    const TableDef rel = file.definition(relPage);
    const size_t objPos = rel.findColumn(4), refPos = rel.findColumn(6);
    for (const auto& [rid, values] : readPlainRows(file, relPage, rel)) {
      for (size_t pos : {objPos, refPos}) {
        if (pos >= values.size()) continue;
        if (auto s = std::get_if<std::string>(&values[pos]); s && sameName(*s, row->object.name))
          throw Error(err::kInRelationship,
                      "Cannot delete this index or table. It is either the current index or is used in a relationship.");
      }
    }
  }

  std::set<uint32_t> owned;
  std::vector<uint32_t> mapRows;
  if (row->type == sys::kTypeTable) {
    const uint32_t tdef = uint32_t(row->object.id) & 0x00FFFFFF;
    const TableDef def = file.definition(tdef);
    const std::vector<uint32_t>& chain = def.pages;
    owned.insert(chain.begin(), chain.end());
    auto fromMap = [&](uint32_t pointer) {
      if (!pointer) return;
      mapRows.push_back(pointer);
      for (uint32_t p : file.usageMapPages(pointer))
        if (p < file.pageCount() && p > 1) owned.insert(p);
    };
    fromMap(def.ownedPagesPointer);
    fromMap(def.freeSpacePointer);
    for (const auto& r : def.realIndexes) {
      fromMap(r.usedPagesPointer);
      if (r.rootPage) owned.insert(r.rootPage);
    }
    for (const auto& c : def.columns) {
      fromMap(c.lvOwnedPointer);
      fromMap(c.lvFreePointer);
    }
    // Pages that name the table as their owner (data and index pages not in any map).
    for (uint32_t p = 2; p < file.pageCount(); ++p) {
      Bytes b = file.page(p);
      if ((b[0] == 0x01 || b[0] == 0x03 || b[0] == 0x04) && b[1] == 0x01 && le::get32(&b[4]) == tdef) owned.insert(p);
    }
    // Only pages that are really the table's (never a page of the catalog or another table).
    for (auto it = owned.begin(); it != owned.end();) {
      Bytes b = file.page(*it);
      const bool mine = (b[0] == 0x02 && std::find(chain.begin(), chain.end(), *it) != chain.end()) ||
                        ((b[0] == 0x01 || b[0] == 0x03 || b[0] == 0x04) && le::get32(&b[4]) == tdef) ||
                        (b[0] == 0x01 && std::memcmp(&b[4], "LVAL", 4) == 0);
      it = mine ? std::next(it) : owned.erase(it);
    }
  }

  // The long values of the table's rows. Their pages are in no map of the table unless its
  // columns keep long-value maps (Jet 4 files made by Access), so they are found through the rows,
  // and freed below once the rows that hold them are deleted.
  std::vector<std::pair<Bytes, uint32_t>> longValues;  // reference, map of the column (or 0)
  if (row->type == sys::kTypeTable) {
    const uint32_t tdef = uint32_t(row->object.id) & 0x00FFFFFF;
    const TableDef def = file.definition(tdef);
    std::vector<size_t> lvColumns;
    for (size_t k = 0; k < def.columns.size(); ++k)
      if (def.columns[k].type == ColumnType::Memo || def.columns[k].type == ColumnType::Ole) lvColumns.push_back(k);
    if (!lvColumns.empty()) {
      for (const auto& [rid, values] : readPlainRows(file, tdef, def)) {
        for (size_t k : lvColumns) {
          const Bytes* field = k < values.size() ? std::get_if<Bytes>(&values[k]) : nullptr;
          if (field && field->size() >= 12 && !((*field)[3] & 0x80))
            longValues.emplace_back(Bytes(field->begin(), field->begin() + 12), def.columns[k].lvOwnedPointer);
        }
      }
    }
  }

  // Catalog row (with its property blob) and permission rows first, so that a failure later
  // leaves no dangling entry.
  deleteIndexedRow(file, sys::kCatalogTdef, cat.def, row->row, rowValues);
  {
    const size_t pos = cat.def.findColumn(sys::kObjLvProp);
    const ColumnDef& lvProp = sys::columnByNumber(cat.def, sys::kObjLvProp);
    if (auto field = std::get_if<Bytes>(&rowValues[pos]))
      file.freeLongValue(*field, lvProp.lvOwnedPointer ? lvProp.lvOwnedPointer : cat.def.ownedPagesPointer);
  }
  const uint32_t acesPage = systemTablePage(cat, "MSysACEs", sys::kAcesTdef);
  const TableDef aces = file.definition(acesPage);
  const size_t objPos = aces.findColumn(sys::kAceObjectId);
  for (const auto& [rid, values] : readPlainRows(file, acesPage, aces)) {
    auto id = std::get_if<int64_t>(&values[objPos]);
    if (id && int32_t(*id) == row->object.id) deleteIndexedRow(file, acesPage, aces, rid, values);
  }
  // The table's usage-map rows are emptied rather than deleted: readers find a map row's end from
  // its neighbour's offset, and a deleted neighbour would make them read past it.
  for (uint32_t m : mapRows) {
    Bytes p = file.page(pointerPage(m));
    auto slots = file.rowSlots(p);
    if (pointerRow(m) >= slots.size()) continue;
    const auto& s = slots[pointerRow(m)];
    std::fill(p.begin() + long(s.start) + 1, p.begin() + long(s.end), 0);
    file.writePage(pointerPage(m), p.data());
  }
  for (const auto& [field, map] : longValues) file.freeLongValue(field, map);
  for (uint32_t p : owned) file.freePage(p);
  // Files made by Access 2007 and later list every table for the navigation pane by its id.
  deleteRowsNaming(file, cat, "MSysNavPaneObjectIDs", "Id", row->object.id);
  deleteRowsNaming(file, cat, "MSysNavPaneGroupToObjects", "ObjectID", row->object.id);
}

constexpr const char* kComplexColumnsTable = "MSysComplexColumns";
// The template tables every complex column of a kind shares (a version history has one of its own).
constexpr std::string_view kSharedTemplatePrefix = "MSysComplexType_";

std::string tableNameOf(const CatalogView& cat, int32_t id) {
  for (const auto& e : cat.catalog.entries())
    if (e.parentId == sys::kTablesId && e.type == sys::kTypeTable && e.object.id == id) return e.object.name;
  return {};
}

}  // namespace

void dropTable(SchemaFile& file, const std::string& name) {
  // A table's complex columns keep their values in hidden tables, named with the table's id in
  // MSysComplexColumns: those rows and tables go with it, and so does a template table that only
  // one of its columns used.
  CatalogView cat = loadCatalog(file);
  const CatalogEntry* row = findTable(cat, name);
  std::vector<std::string> hidden;
  const CatalogEntry* cc = findSystemTable(cat, kComplexColumnsTable);
  if (row && row->type == sys::kTypeTable && cc) {
    const TableDef def = file.definition(uint32_t(row->object.id) & 0x00FFFFFF);
    const bool hasComplex = std::any_of(def.columns.begin(), def.columns.end(),
                                        [](const ColumnDef& c) { return c.type == ColumnType::Complex; });
    if (hasComplex) {
      const uint32_t ccPage = cc->object.tdefPage;
      const TableDef ccDef = file.definition(ccPage);
      const TableInfo ccInfo = describeTable(ccDef, kComplexColumnsTable);
      std::set<int32_t> templatesLeft, templatesDropped;
      std::vector<std::pair<RowId, std::vector<Value>>> ownRows;
      for (auto& r : readPlainRows(file, ccPage, ccDef)) {
        const std::vector<ComplexColumnEntry> entry = complexColumnEntries(ccInfo.columns, {r.second});
        if (entry.empty()) continue;
        if (entry[0].tableId != row->object.id) {
          templatesLeft.insert(entry[0].templateId);
          continue;
        }
        hidden.push_back(tableNameOf(cat, entry[0].flatTableId));
        templatesDropped.insert(entry[0].templateId);
        ownRows.push_back(std::move(r));
      }
      for (int32_t t : templatesDropped) {
        const std::string templateName = tableNameOf(cat, t);
        if (!templatesLeft.count(t) && templateName.rfind(kSharedTemplatePrefix, 0) != 0)
          hidden.push_back(templateName);
      }
      dropObject(file, name, false);
      for (const auto& [rid, v] : ownRows) deleteIndexedRow(file, ccPage, file.definition(ccPage), rid, v);
      for (const std::string& h : hidden)
        if (!h.empty()) dropObject(file, h, true);
      file.sync();
      return;
    }
  }
  dropObject(file, name, false);
  file.sync();
}

}  // namespace jet
