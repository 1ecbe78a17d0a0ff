#include "jet/table/table_def.h"

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "jet/base/bytes.h"
#include "jet/base/names.h"
#include "jet/storage/data_page.h"

namespace jet {

namespace {

// Where the fields of a definition lie in each format.
struct Layout {
  size_t rowCount, nextAuto, tableType, maxCols, varCols, numCols, logicalCount, realCount, owned, free;
  size_t header;          // bytes before the per-real-index count blocks
  size_t realCountBlock;  // per real index: a block with its entry count at +4
  size_t column;          // one column descriptor
  size_t colNumber, colVarIndex, colNumber2, colSort, colFlags, colFixedOffset, colLength;
  size_t realIndex;       // one real index descriptor
  size_t logicalIndex;    // one logical index descriptor
  size_t magic;           // Jet 4: the engine's constant ahead of index descriptors (0: none)
};

const Layout& layoutOf(Format f) {
  static const Layout jet3{12, 16, 20, 21, 23, 25, 27, 31, 35, 39, 43, 8,  18, 1, 3, 5, 9,  13, 14, 16, 39, 20, 0};
  static const Layout jet4{16, 20, 40, 41, 43, 45, 47, 51, 55, 59, 63, 12, 25, 5, 7, 9, 11, 15, 21, 23, 52, 28, 4};
  return f == Format::Jet3Layout ? jet3 : jet4;
}

// Constants the Jet 4 engine writes into every definition it makes (table, column and logical
// index slots carry 1625, real index slots 1923).
constexpr uint32_t kJet4TableMagic = 1625;
constexpr uint32_t kJet4IndexMagic = 1923;

constexpr size_t kMaxIndexColumns = 10;
constexpr size_t kComplexKeyOffset = 28;

bool knownType(uint8_t t) {
  return (t >= 0x01 && t <= 0x0C) || t == 0x0F || t == 0x10 || t == 0x12 || t == 0x13 || t == 0x14;
}

std::string readName(ByteSpan b, size_t& pos, Format f, TextCodec& codec) {
  size_t len;
  if (f == Format::Jet3Layout) {
    len = b.u8(pos);
    pos += 1;
  } else {
    len = b.u16(pos);
    pos += 2;
  }
  ByteSpan raw = b.sub(pos, len);
  pos += len;
  std::string s;
  if (f == Format::Jet3Layout) codec.decodeCodePage(raw.data(), raw.size(), s);
  else decodeUcs2(raw.data(), raw.size(), s);
  return s;
}

void appendName(Bytes& out, Format f, TextCodec& codec, const std::string& name) {
  Bytes n = f == Format::Jet4Layout ? encodeUcs2(name) : codec.encodeCodePage(name);
  if (f == Format::Jet4Layout) {
    le::append16(out, uint16_t(n.size()));
  } else {
    if (n.size() > 255) n.resize(255);
    out.push_back(uint8_t(n.size()));
  }
  out.insert(out.end(), n.begin(), n.end());
}


}  // namespace

size_t tdefRowCountOffset(Format f) { return layoutOf(f).rowCount; }
size_t tdefAutoNumberOffset(Format f) { return layoutOf(f).nextAuto; }
size_t tdefComplexKeyOffset(Format) { return kComplexKeyOffset; }
size_t tdefIndexEntryCountOffset(Format f, size_t realIndex) {
  const Layout& L = layoutOf(f);
  return L.header + realIndex * L.realCountBlock + 4;
}

uint16_t fixedLengthOf(ColumnType t) {
  switch (t) {
    case ColumnType::Boolean: return 1;
    case ColumnType::Byte: return 1;
    case ColumnType::Integer: return 2;
    case ColumnType::Long: return 4;
    case ColumnType::Complex: return 4;
    case ColumnType::Single: return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime:
    case ColumnType::BigInt: return 8;
    case ColumnType::Guid: return 16;
    case ColumnType::Numeric: return 17;
    case ColumnType::DateTimeExtended: return 42;
    default: return 0;
  }
}

uint32_t Tdef::fixedSize() const {
  uint32_t end = 0;
  for (const auto& c : columns)
    if (c.fixed() && c.type != ColumnType::Boolean) end = std::max<uint32_t>(end, uint32_t(c.fixedOffset) + c.length);
  return end;
}

size_t Tdef::findColumn(uint16_t number) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i].number == number) return i;
  return columns.size();
}

Tdef parseTdef(Format format, const Bytes& bytes, TextCodec& codec) {
  const Layout& L = layoutOf(format);
  Tdef d;
  d.format = format;
  d.version = firstVersionOf(format);
  ByteSpan b(bytes.data(), bytes.size(), "table definition");

  d.rowCount = b.u32(L.rowCount);
  d.nextAutoNumber = b.u32(L.nextAuto);
  if (format == Format::Jet4Layout) d.lastComplexKey = b.u32(kComplexKeyOffset);
  d.tableType = b.u8(L.tableType);
  d.maxColumns = b.u16(L.maxCols);
  d.varColumnCount = b.u16(L.varCols);
  const uint16_t numCols = b.u16(L.numCols);
  const uint32_t logicalCount = b.u32(L.logicalCount);
  const uint32_t realCount = b.u32(L.realCount);
  d.ownedPagesPointer = b.u32(L.owned);
  d.freeSpacePointer = b.u32(L.free);
  if (realCount > 1000 || logicalCount > 1000) throwCorrupt("a table definition claims too many indexes");

  size_t pos = L.header;
  d.realIndexes.resize(realCount);
  for (uint32_t i = 0; i < realCount; ++i) {
    d.realIndexes[i].entryCount = b.u32(pos + 4);
    pos += L.realCountBlock;
  }

  const size_t colStart = pos;
  b.need(colStart, size_t(numCols) * L.column);
  pos = colStart + size_t(numCols) * L.column;
  std::vector<ColumnDef> stored(numCols);
  for (uint16_t i = 0; i < numCols; ++i) stored[i].name = readName(b, pos, format, codec);
  for (uint16_t i = 0; i < numCols; ++i) {
    ByteSpan c = b.sub(colStart + size_t(i) * L.column, L.column);
    ColumnDef& col = stored[i];
    const uint8_t type = c.u8(0);
    col.type = knownType(type) ? ColumnType(type) : ColumnType::Binary;
    if (!knownType(type)) col.rawType = type;
    col.number = c.u16(L.colNumber);
    col.storedIndex = c.u16(L.colNumber2);
    col.varIndex = c.u16(L.colVarIndex);
    col.flags = c.u8(L.colFlags);
    if (format == Format::Jet4Layout) col.extFlags = c.u8(16);
    col.fixedOffset = c.u16(L.colFixedOffset);
    col.length = c.u16(L.colLength);
    // Jet 4 keeps the collation in four bytes: its id, a zero byte, then its version; a decimal
    // has its precision and scale in the id's place but keeps the version.
    if (format == Format::Jet4Layout) col.sortVersion = c.u8(L.colSort + 3);
    if (col.type == ColumnType::Numeric) {
      col.precision = c.u8(11);
      col.scale = c.u8(12);
    } else if (col.type == ColumnType::Complex) {
      col.complexId = int32_t(c.u32(11));
    } else {
      col.sortOrder = c.u16(L.colSort);
      if (format != Format::Jet4Layout) col.codePage = c.u16(L.colSort + 2);
    }
  }
  // Field order; the stored order is kept for writing the definition back.
  std::vector<uint16_t> order(numCols);
  for (uint16_t i = 0; i < numCols; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](uint16_t x, uint16_t y) { return stored[x].number < stored[y].number; });
  d.columns.reserve(numCols);
  for (uint16_t i : order) d.columns.push_back(std::move(stored[i]));
  bool fieldOrder = true;
  for (uint16_t i = 0; i < numCols; ++i) fieldOrder = fieldOrder && order[i] == i;
  if (!fieldOrder) {
    d.storedOrder.resize(numCols);
    for (uint16_t k = 0; k < numCols; ++k) d.storedOrder[order[k]] = k;
  }

  for (uint32_t i = 0; i < realCount; ++i) {
    ByteSpan r = b.sub(pos, L.realIndex);
    RealIndexDef& ri = d.realIndexes[i];
    size_t o = L.magic;
    for (size_t k = 0; k < kMaxIndexColumns; ++k, o += 3) {
      const uint16_t num = r.u16(o);
      if (num == 0xFFFF) continue;
      ri.columns.push_back({num, (r.u8(o + 2) & 0x01) != 0});
    }
    ri.usedPagesPointer = r.u32(o);
    ri.rootPage = r.u32(o + 4);
    ri.flags = r.u8(format == Format::Jet4Layout ? o + 12 : o + 8);
    pos += L.realIndex;
  }

  d.indexes.resize(logicalCount);
  for (uint32_t i = 0; i < logicalCount; ++i) {
    ByteSpan r = b.sub(pos, L.logicalIndex);
    LogicalIndexDef& li = d.indexes[i];
    const size_t o = L.magic;
    li.number = int32_t(r.u32(o));
    li.realIndex = int32_t(r.u32(o + 4));
    li.relIndexType = r.u8(o + 8);
    li.relIndex = int32_t(r.u32(o + 9));
    li.relTable = r.u32(o + 13);
    li.cascadeUpdates = r.u8(o + 17);
    li.cascadeDeletes = r.u8(o + 18);
    li.kind = r.u8(o + 19);
    if (li.realIndex < 0 || uint32_t(li.realIndex) >= realCount)
      throwCorrupt("a table's index refers to a missing index structure");
    pos += L.logicalIndex;
  }
  for (uint32_t i = 0; i < logicalCount; ++i) d.indexes[i].name = readName(b, pos, format, codec);

  // Long-value page maps of columns, up to the end marker. Older definitions may lack the list:
  // it ends with the length the header records.
  size_t end = bytes.size();
  if (bytes.size() >= 12) {
    const uint32_t recorded = le32(bytes.data() + 8);
    if (recorded >= 12 && recorded < end) end = recorded;
  }
  while (pos + 10 <= end) {
    const uint16_t number = b.u16(pos);
    if (number == 0xFFFF) break;
    const size_t i = d.findColumn(number);
    if (i < d.columns.size()) {
      d.columns[i].lvOwnedPointer = b.u32(pos + 2);
      d.columns[i].lvFreePointer = b.u32(pos + 6);
    }
    pos += 10;
  }
  return d;
}

Bytes readTdefBytes(PageFile& file, uint32_t first, std::vector<uint32_t>* pages) {
  Bytes out;
  std::unordered_set<uint32_t> seen;
  uint32_t page = first;
  while (page != 0) {
    if (!seen.insert(page).second) throwCorrupt("a table definition's pages form a loop");
    if (page >= file.pageCount()) throwCorrupt("a table definition continues past the end of the file");
    PageRef p = file.page(page);
    if ((*p)[0] != kTdefPageType) throwCorrupt("page " + std::to_string(page) + " is not a table definition");
    if (pages) pages->push_back(page);
    if (out.empty()) out.assign(p->begin(), p->end());
    else out.insert(out.end(), p->begin() + 8, p->end());
    page = le32(p->data() + 4);
  }
  return out;
}

Tdef readTdef(PageFile& file, Format format, TextCodec& codec, uint32_t page) {
  std::vector<uint32_t> pages;
  Tdef d = parseTdef(format, readTdefBytes(file, page, &pages), codec);
  d.tdefPage = page;
  d.pages = std::move(pages);
  return d;
}

Bytes serializeTdef(const Tdef& def, TextCodec& codec) {
  const Format f = def.format;
  const Layout& L = layoutOf(f);
  Bytes out(L.header, 0);
  uint8_t* h = out.data();
  h[0] = kTdefPageType;
  h[1] = 0x01;
  if (f == Format::Jet3Layout) {
    h[2] = 'V';
    h[3] = 'C';
  } else {
    put32(h + 12, kJet4TableMagic);
    h[24] = 0x01;
  }
  uint16_t varCount = 0;
  for (const auto& c : def.columns)
    if (!c.fixed()) ++varCount;
  put32(h + L.rowCount, def.rowCount);
  put32(h + L.nextAuto, def.nextAutoNumber);
  if (f == Format::Jet4Layout) put32(h + kComplexKeyOffset, def.lastComplexKey);
  h[L.tableType] = def.tableType;
  put16(h + L.maxCols, def.maxColumns ? def.maxColumns : uint16_t(def.columns.size()));
  put16(h + L.varCols, varCount);
  put16(h + L.numCols, uint16_t(def.columns.size()));
  put32(h + L.logicalCount, uint32_t(def.indexes.size()));
  put32(h + L.realCount, uint32_t(def.realIndexes.size()));
  put32(h + L.owned, def.ownedPagesPointer);
  put32(h + L.free, def.freeSpacePointer);

  for (const auto& r : def.realIndexes) {
    Bytes blk(L.realCountBlock, 0);
    put32(blk.data() + 4, r.entryCount);
    out.insert(out.end(), blk.begin(), blk.end());
  }

  std::vector<const ColumnDef*> stored;
  if (def.storedOrder.size() == def.columns.size()) {
    for (uint16_t i : def.storedOrder) stored.push_back(&def.columns.at(i));
  } else {
    for (const auto& c : def.columns) stored.push_back(&c);
  }
  for (const ColumnDef* c : stored) {
    Bytes d(L.column, 0);
    d[0] = c->unknownType() ? c->rawType : uint8_t(c->type);
    if (f == Format::Jet4Layout) put32(&d[1], kJet4TableMagic);
    else put16(&d[7], 1);
    put16(&d[L.colNumber], c->number);
    put16(&d[L.colVarIndex], c->varIndex);
    put16(&d[L.colNumber2], c->storedIndex >= 0 ? uint16_t(c->storedIndex) : def.systemTable() ? 0 : c->number);
    if (f == Format::Jet4Layout) d[L.colSort + 3] = c->sortVersion;
    if (c->type == ColumnType::Numeric) {
      d[11] = c->precision;
      d[12] = c->scale;
    } else if (c->type == ColumnType::Complex) {
      put32(&d[11], uint32_t(c->complexId));
    } else {
      put16(&d[L.colSort], c->sortOrder);
      if (f != Format::Jet4Layout) put16(&d[L.colSort + 2], c->codePage);
    }
    d[L.colFlags] = c->flags;
    if (f == Format::Jet4Layout) d[16] = c->extFlags;
    put16(&d[L.colFixedOffset], c->fixed() ? c->fixedOffset : 0);
    put16(&d[L.colLength], c->length);
    out.insert(out.end(), d.begin(), d.end());
  }
  for (const ColumnDef* c : stored) appendName(out, f, codec, c->name);

  for (const auto& r : def.realIndexes) {
    Bytes d(L.realIndex, 0);
    if (f == Format::Jet4Layout) put32(&d[0], kJet4IndexMagic);
    size_t at = L.magic;
    for (size_t i = 0; i < kMaxIndexColumns; ++i, at += 3) {
      if (i < r.columns.size()) {
        put16(&d[at], r.columns[i].columnNumber);
        d[at + 2] = r.columns[i].ascending ? 1 : 0;
      } else {
        put16(&d[at], 0xFFFF);
      }
    }
    put32(&d[at], r.usedPagesPointer);
    put32(&d[at + 4], r.rootPage);
    d[f == Format::Jet4Layout ? at + 12 : at + 8] = r.flags;
    out.insert(out.end(), d.begin(), d.end());
  }

  for (const auto& l : def.indexes) {
    Bytes d(L.logicalIndex, 0);
    if (f == Format::Jet4Layout) put32(&d[0], kJet4TableMagic);
    const size_t at = L.magic;
    put32(&d[at], uint32_t(l.number));
    put32(&d[at + 4], uint32_t(l.realIndex));
    d[at + 8] = l.relIndexType;
    put32(&d[at + 9], uint32_t(l.relIndex));
    put32(&d[at + 13], l.relTable);
    d[at + 17] = l.cascadeUpdates;
    d[at + 18] = l.cascadeDeletes;
    d[at + 19] = l.kind;
    out.insert(out.end(), d.begin(), d.end());
  }
  for (const auto& l : def.indexes) appendName(out, f, codec, l.name);

  // Long-value columns with their own page maps, then the end marker.
  // System tables list them alphabetically, user tables in stored order.
  std::vector<const ColumnDef*> lv;
  for (const ColumnDef* c : stored)
    if (c->isLongValue() && (c->lvOwnedPointer != 0 || c->lvFreePointer != 0)) lv.push_back(c);
  if (def.systemTable())
    std::stable_sort(lv.begin(), lv.end(),
                     [](const ColumnDef* a, const ColumnDef* b) { return lowerName(a->name) < lowerName(b->name); });
  for (const ColumnDef* c : lv) {
    le::append16(out, c->number);
    le::append32(out, c->lvOwnedPointer);
    le::append32(out, c->lvFreePointer);
  }
  le::append16(out, 0xFFFF);

  put32(out.data() + 8, uint32_t(out.size()));
  return out;
}

size_t tdefPagesNeeded(Format format, size_t definitionSize) {
  const size_t ps = pageSizeOf(format);
  if (definitionSize <= ps) return 1;
  const size_t rest = definitionSize - ps;
  return 1 + (rest + (ps - 8) - 1) / (ps - 8);
}

std::vector<Bytes> paginateTdef(Format format, const Bytes& definition, const std::vector<uint32_t>& pages) {
  const size_t ps = pageSizeOf(format);
  if (pages.size() != tdefPagesNeeded(format, definition.size()))
    throw Error(err::kInvalidArgument, "Invalid argument.");
  std::vector<Bytes> out;
  size_t pos = 0;
  for (size_t i = 0; i < pages.size(); ++i) {
    Bytes page(ps, 0);
    const size_t start = i == 0 ? 0 : 8;
    const size_t n = std::min(ps - start, definition.size() - pos);
    std::copy(definition.begin() + long(pos), definition.begin() + long(pos + n), page.begin() + long(start));
    pos += n;
    page[0] = kTdefPageType;
    page[1] = 0x01;
    if (format == Format::Jet3Layout) {
      page[2] = 'V';
      page[3] = 'C';
    } else {
      put16(&page[2], uint16_t(ps - 8 - n));
    }
    put32(&page[4], i + 1 < pages.size() ? pages[i + 1] : 0);
    if (i == 0) put32(&page[8], uint32_t(definition.size()));
    out.push_back(std::move(page));
  }
  return out;
}

TableInfo describeTable(const Tdef& def, const std::string& name) {
  TableInfo t;
  t.name = name;
  t.rowCount = def.rowCount;
  t.tdefPage = def.tdefPage;
  for (const ColumnDef& c : def.columns) {
    ColumnInfo ci;
    ci.name = c.name;
    ci.type = c.type;
    ci.rawType = c.rawType;
    ci.number = c.number;
    ci.length = c.length;
    ci.fixed = c.fixed();
    // A complex column's key is handed out by the engine, but it is no auto-number field.
    ci.autoNumber = c.autoNumber() && c.type != ColumnType::Complex;
    ci.complexId = c.complexId;
    ci.autoGuid = c.autoGuid();
    ci.nullable = c.nullable();
    ci.compressedText = c.compressedText();
    ci.hyperlink = c.hyperlink();
    ci.calculated = c.calculated();
    ci.precision = c.precision;
    ci.scale = c.scale;
    if (c.type == ColumnType::Text || c.type == ColumnType::Memo) {
      ci.sortOrder = c.sortOrder;
      if (def.format == Format::Jet4Layout) ci.sortVersion = c.sortVersion;
    }
    t.columns.push_back(std::move(ci));
  }
  for (const LogicalIndexDef& li : def.indexes) {
    const RealIndexDef& ri = def.realIndexes[size_t(li.realIndex)];
    IndexInfo ii;
    ii.name = li.name;
    ii.logicalNumber = li.number;
    ii.realNumber = li.realIndex;
    ii.columns = ri.columns;
    ii.primaryKey = li.primaryKey();
    ii.foreignKey = li.foreignKey();
    ii.unique = (ri.flags & idxflag::kUnique) != 0;
    ii.ignoreNulls = (ri.flags & idxflag::kIgnoreNulls) != 0;
    ii.required = (ri.flags & idxflag::kRequired) != 0;
    t.indexes.push_back(std::move(ii));
  }
  return t;
}

std::vector<IndexOutline> indexOutlines(const Tdef& def) {
  std::vector<uint32_t> roots;
  for (const RealIndexDef& r : def.realIndexes) roots.push_back(r.rootPage);
  return indexOutlines(def.version, describeTable(def, ""), roots);
}

}  // namespace jet
