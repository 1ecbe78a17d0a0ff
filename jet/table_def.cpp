#include "jet/table_def.h"

#include <algorithm>
#include <unordered_set>

#include "jet/bytes.h"
#include "jet/data_page.h"

namespace jet {

namespace {

struct Layout {
  size_t numRows, nextAuto, tableType, maxCols, numVarCols, numCols, logicalCount, realCount, owned, free, start;
  size_t realHeaderSize, realHeaderCount;
  size_t colSize, colType, colNumber, colVarIndex, colSort, colPrecision, colScale, colFlags, colExtFlags,
      colFixedOffset, colLength;
  size_t realBlock, logicalBlock, nameLenSize;
};

const Layout& layoutOf(Format f) {
  static const Layout jet3{12, 16, 20, 21, 23, 25, 27, 31, 35, 39, 43, 8, 0,
                           18, 0, 1, 3, 9, 11, 12, 13, SIZE_MAX, 14, 16, 39, 20, 1};
  static const Layout jet4{16, 20, 40, 41, 43, 45, 47, 51, 55, 59, 63, 12, 4,
                           25, 0, 5, 7, 11, 11, 12, 15, 16, 21, 23, 52, 28, 2};
  return f == Format::Jet3 ? jet3 : jet4;
}

bool knownType(uint8_t t) {
  return (t >= 0x01 && t <= 0x0C) || t == 0x0F || t == 0x10;
}

// Joins the chain of definition pages: the first page whole, the rest after their 8-byte header.
std::vector<uint8_t> readChain(PageFile& file, uint32_t first, std::vector<uint32_t>& pages) {
  std::vector<uint8_t> out;
  std::unordered_set<uint32_t> seen;
  uint32_t page = first;
  while (page != 0) {
    if (!seen.insert(page).second) throwCorrupt("a table definition's pages form a loop");
    PageRef p = file.page(page);
    if ((*p)[0] != kTdefPageType) throwCorrupt("page " + std::to_string(page) + " is not a table definition");
    pages.push_back(page);
    if (out.empty()) out.assign(p->begin(), p->end());
    else out.insert(out.end(), p->begin() + 8, p->end());
    page = le32(p->data() + 4);
  }
  return out;
}

std::string readName(ByteSpan b, size_t& pos, Format f, TextCodec& codec) {
  size_t len;
  if (f == Format::Jet3) {
    len = b.u8(pos);
    pos += 1;
  } else {
    len = b.u16(pos);
    pos += 2;
  }
  ByteSpan raw = b.sub(pos, len);
  pos += len;
  std::string s;
  if (f == Format::Jet3) codec.decodeCodePage(raw.data(), raw.size(), s);
  else decodeJet4Text(raw.data(), raw.size(), s);
  return s;
}

int32_t asInt(uint32_t v) { return int32_t(v); }

}  // namespace

uint32_t TableDef::fixedSize() const {
  uint32_t end = 0;
  for (const auto& c : columns)
    if (c.fixed() && c.type != ColumnType::Boolean) end = std::max<uint32_t>(end, uint32_t(c.fixedOffset) + c.length);
  return end;
}

TableDef readTableDef(PageFile& file, Format format, TextCodec& codec, uint32_t page) {
  const Layout& L = layoutOf(format);
  TableDef d;
  d.format = format;
  d.tdefPage = page;
  std::vector<uint8_t> bytes = readChain(file, page, d.pages);
  ByteSpan b(bytes.data(), bytes.size(), "table definition");

  d.rowCount = b.u32(L.numRows);
  d.nextAutoNumber = b.u32(L.nextAuto);
  d.tableType = b.u8(L.tableType);
  d.maxColumns = b.u16(L.maxCols);
  d.varColumnCount = b.u16(L.numVarCols);
  uint16_t numCols = b.u16(L.numCols);
  uint32_t logicalCount = b.u32(L.logicalCount);
  uint32_t realCount = b.u32(L.realCount);
  d.ownedPagesPointer = b.u32(L.owned);
  d.freeSpacePointer = b.u32(L.free);
  if (realCount > 1000 || logicalCount > 1000) throwCorrupt("a table definition claims too many indexes");

  size_t pos = L.start;
  d.realIndexes.resize(realCount);
  for (uint32_t i = 0; i < realCount; ++i) {
    d.realIndexes[i].entryCount = b.u32(pos + L.realHeaderCount);
    pos += L.realHeaderSize;
  }

  size_t colStart = pos;
  b.need(colStart, size_t(numCols) * L.colSize);
  pos = colStart + size_t(numCols) * L.colSize;
  d.columns.resize(numCols);
  for (uint16_t i = 0; i < numCols; ++i) d.columns[i].name = readName(b, pos, format, codec);
  for (uint16_t i = 0; i < numCols; ++i) {
    ByteSpan c = b.sub(colStart + size_t(i) * L.colSize, L.colSize);
    ColumnDef& col = d.columns[i];
    col.rawType = c.u8(L.colType);
    col.type = knownType(col.rawType) ? ColumnType(col.rawType) : ColumnType::Binary;
    col.number = c.u16(L.colNumber);
    col.varIndex = c.u16(L.colVarIndex);
    col.flags = c.u8(L.colFlags);
    if (L.colExtFlags != SIZE_MAX) col.extFlags = c.u8(L.colExtFlags);
    col.fixedOffset = c.u16(L.colFixedOffset);
    col.length = c.u16(L.colLength);
    if (col.type == ColumnType::Numeric) {
      col.precision = c.u8(L.colPrecision);
      col.scale = c.u8(L.colScale);
    } else if (col.type == ColumnType::Text || col.type == ColumnType::Memo) {
      col.sortOrder = c.u16(L.colSort);
      if (format == Format::Jet4) col.sortVersion = c.u8(L.colSort + 3);
      else col.codePage = c.u16(11);
    }
  }
  std::stable_sort(d.columns.begin(), d.columns.end(),
                   [](const ColumnDef& a, const ColumnDef& b2) { return a.number < b2.number; });

  for (uint32_t i = 0; i < realCount; ++i) {
    ByteSpan r = b.sub(pos, L.realBlock);
    RealIndexDef& ri = d.realIndexes[i];
    size_t o = format == Format::Jet4 ? 4 : 0;
    for (int k = 0; k < 10; ++k, o += 3) {
      uint16_t num = r.u16(o);
      if (num == 0xFFFF) continue;
      ri.columns.push_back({num, (r.u8(o + 2) & 0x01) != 0});
    }
    ri.usedPagesPointer = r.u32(o);
    ri.rootPage = r.u32(o + 4);
    o += 8;
    if (format == Format::Jet4) o += 4;
    ri.flags = r.u8(o);
    pos += L.realBlock;
  }

  d.indexes.resize(logicalCount);
  for (uint32_t i = 0; i < logicalCount; ++i) {
    ByteSpan r = b.sub(pos, L.logicalBlock);
    LogicalIndexDef& li = d.indexes[i];
    size_t o = format == Format::Jet4 ? 4 : 0;
    li.number = asInt(r.u32(o));
    li.realIndex = asInt(r.u32(o + 4));
    li.relIndexType = r.u8(o + 8);
    li.relIndex = asInt(r.u32(o + 9));
    li.relTable = asInt(r.u32(o + 13));
    li.cascadeUpdates = r.u8(o + 17);
    li.cascadeDeletes = r.u8(o + 18);
    li.kind = r.u8(o + 19);
    if (li.realIndex < 0 || uint32_t(li.realIndex) >= realCount)
      throwCorrupt("a table's index refers to a missing index structure");
    pos += L.logicalBlock;
  }
  for (uint32_t i = 0; i < logicalCount; ++i) d.indexes[i].name = readName(b, pos, format, codec);
  return d;
}

TableInfo describeTable(const TableDef& def, const std::string& name) {
  TableInfo t;
  t.name = name;
  t.rowCount = def.rowCount;
  t.tdefPage = def.tdefPage;
  for (const ColumnDef& c : def.columns) {
    ColumnInfo ci;
    ci.name = c.name;
    ci.type = c.type;
    ci.number = c.number;
    ci.length = c.length;
    ci.fixed = c.fixed();
    ci.autoNumber = c.autoNumber();
    ci.autoGuid = c.autoGuid();
    ci.nullable = c.nullable();
    ci.compressedText = c.compressedText();
    ci.hyperlink = c.hyperlink();
    ci.precision = c.precision;
    ci.scale = c.scale;
    ci.sortOrder = c.sortOrder;
    ci.sortVersion = c.sortVersion;
    t.columns.push_back(std::move(ci));
  }
  for (const LogicalIndexDef& li : def.indexes) {
    const RealIndexDef& ri = def.realIndexes[size_t(li.realIndex)];
    IndexInfo ii;
    ii.name = li.name;
    ii.logicalNumber = li.number;
    ii.realNumber = li.realIndex;
    for (const auto& c : ri.columns) ii.columns.push_back({c.number, c.ascending});
    ii.primaryKey = li.primaryKey();
    ii.foreignKey = li.foreignKey();
    ii.unique = (ri.flags & idxflag::kUnique) != 0;
    ii.ignoreNulls = (ri.flags & idxflag::kIgnoreNulls) != 0;
    ii.required = (ri.flags & idxflag::kRequired) != 0;
    t.indexes.push_back(std::move(ii));
  }
  return t;
}

}  // namespace jet
