#include "jet/tdef_writer.h"

#include <algorithm>
#include <cctype>

#include "jet/error.h"
#include "jet/text_codec.h"

namespace jet {

namespace {

// Constants the Jet 4 engine writes into every definition it makes (table, column and logical
// index slots carry 1625, real index slots 1923).
constexpr uint32_t kJet4TableMagic = 1625;
constexpr uint32_t kJet4IndexMagic = 1923;

constexpr size_t kMaxIndexColumns = 10;

struct Geometry {
  size_t header;        // bytes before the per-real-index counts
  size_t realCount;     // per real index: the count block
  size_t column;        // one column descriptor
  size_t realIndex;     // one real index descriptor
  size_t logicalIndex;  // one logical index descriptor
};

Geometry geometry(Format f) {
  if (f == Format::Jet4) return {63, 12, 25, 52, 28};
  return {43, 8, 18, 39, 20};
}

class Reader {
 public:
  Reader(const Bytes& b) : b_(b) {}
  void need(size_t at, size_t n) const {
    if (at + n > b_.size()) throwCorrupt("the table definition: it ends early");
  }
  uint8_t u8(size_t at) const { need(at, 1); return b_[at]; }
  uint16_t u16(size_t at) const { need(at, 2); return le::get16(&b_[at]); }
  uint32_t u32(size_t at) const { need(at, 4); return le::get32(&b_[at]); }
  const uint8_t* ptr(size_t at, size_t n) const { need(at, n); return b_.data() + at; }

 private:
  const Bytes& b_;
};

}  // namespace

size_t TableDefinition::findColumn(uint16_t number) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i].number == number) return i;
  return columns.size();
}

Bytes encodeName(Format format, const std::string& utf8) {
  if (format == Format::Jet4) return encodeUcs2(utf8);
  return windows1252Codec().encodeCodePage(utf8);
}

std::string decodeName(Format format, const uint8_t* data, size_t size) {
  if (format == Format::Jet4) return decodeUcs2(data, size);
  return windows1252Codec().decodeCodePage(data, size);
}

namespace {

void appendName(Bytes& out, Format f, const std::string& name) {
  Bytes n = encodeName(f, name);
  if (f == Format::Jet4) {
    le::append16(out, uint16_t(n.size()));
  } else {
    if (n.size() > 255) n.resize(255);
    out.push_back(uint8_t(n.size()));
  }
  out.insert(out.end(), n.begin(), n.end());
}

bool isLongValue(ColumnType t) { return t == ColumnType::Memo || t == ColumnType::Ole; }

}  // namespace

Bytes serializeTableDefinition(const TableDefinition& def) {
  const Format f = def.format;
  const Geometry g = geometry(f);
  Bytes out(g.header, 0);
  uint8_t* h = out.data();
  h[0] = 0x02;
  h[1] = 0x01;
  if (f == Format::Jet3) {
    h[2] = 'V';
    h[3] = 'C';
  }
  uint16_t varCount = 0;
  for (const auto& c : def.columns)
    if (!c.fixed()) ++varCount;
  uint16_t maxCols = def.maxColumns ? def.maxColumns : uint16_t(def.columns.size());
  if (f == Format::Jet4) {
    le::put32(h + 12, kJet4TableMagic);
    le::put32(h + 16, def.rowCount);
    le::put32(h + 20, def.nextAutoNumber);
    h[24] = 0x01;
    h[40] = def.systemTable ? 0x53 : 0x4E;
    le::put16(h + 41, maxCols);
    le::put16(h + 43, varCount);
    le::put16(h + 45, uint16_t(def.columns.size()));
    le::put32(h + 47, uint32_t(def.logicalIndexes.size()));
    le::put32(h + 51, uint32_t(def.realIndexes.size()));
    le::put32(h + 55, def.usedPagesMap);
    le::put32(h + 59, def.freePagesMap);
  } else {
    le::put32(h + 12, def.rowCount);
    le::put32(h + 16, def.nextAutoNumber);
    h[20] = def.systemTable ? 0x53 : 0x4E;
    le::put16(h + 21, maxCols);
    le::put16(h + 23, varCount);
    le::put16(h + 25, uint16_t(def.columns.size()));
    le::put32(h + 27, uint32_t(def.logicalIndexes.size()));
    le::put32(h + 31, uint32_t(def.realIndexes.size()));
    le::put32(h + 35, def.usedPagesMap);
    le::put32(h + 39, def.freePagesMap);
  }

  for (const auto& r : def.realIndexes) {
    Bytes blk(g.realCount, 0);
    le::put32(blk.data() + 4, r.rowCount);
    out.insert(out.end(), blk.begin(), blk.end());
  }

  for (const auto& c : def.columns) {
    Bytes d(g.column, 0);
    d[0] = uint8_t(c.type);
    const bool text = c.type == ColumnType::Text || c.type == ColumnType::Memo;
    if (f == Format::Jet4) {
      le::put32(&d[1], kJet4TableMagic);
      le::put16(&d[5], c.number);
      le::put16(&d[7], c.varIndex);
      le::put16(&d[9], def.systemTable ? 0 : c.number);
      if (c.type == ColumnType::Numeric) {
        d[11] = c.precision;
        d[12] = c.scale;
      } else {
        le::put16(&d[11], c.sortOrder);
        le::put16(&d[13], c.sortVersion);
      }
      d[15] = c.flags;
      d[16] = c.extFlags;
      le::put16(&d[21], c.fixed() ? c.fixedOffset : 0);
      le::put16(&d[23], c.length);
    } else {
      le::put16(&d[1], c.number);
      le::put16(&d[3], c.varIndex);
      le::put16(&d[5], def.systemTable ? 0 : c.number);
      le::put16(&d[7], 1);
      le::put16(&d[9], c.sortOrder);
      le::put16(&d[11], c.codePage);
      d[13] = c.flags;
      le::put16(&d[14], c.fixed() ? c.fixedOffset : 0);
      le::put16(&d[16], c.length);
    }
    (void)text;
    out.insert(out.end(), d.begin(), d.end());
  }
  for (const auto& c : def.columns) appendName(out, f, c.name);

  for (const auto& r : def.realIndexes) {
    Bytes d(g.realIndex, 0);
    size_t at = 0;
    if (f == Format::Jet4) {
      le::put32(&d[0], kJet4IndexMagic);
      at = 4;
    }
    for (size_t i = 0; i < kMaxIndexColumns; ++i) {
      if (i < r.columns.size()) {
        le::put16(&d[at], r.columns[i].columnNumber);
        d[at + 2] = r.columns[i].ascending ? 1 : 0;
      } else {
        le::put16(&d[at], 0xFFFF);
      }
      at += 3;
    }
    le::put32(&d[at], r.usageMap);
    le::put32(&d[at + 4], r.rootPage);
    if (f == Format::Jet4)
      d[at + 12] = r.flags;
    else
      d[at + 8] = r.flags;
    out.insert(out.end(), d.begin(), d.end());
  }

  for (const auto& l : def.logicalIndexes) {
    Bytes d(g.logicalIndex, 0);
    size_t at = 0;
    if (f == Format::Jet4) {
      le::put32(&d[0], kJet4TableMagic);
      at = 4;
    }
    le::put32(&d[at], l.number);
    le::put32(&d[at + 4], l.realNumber);
    d[at + 8] = l.relatedTableType;
    le::put32(&d[at + 9], l.relatedIndex);
    le::put32(&d[at + 13], l.relatedTablePage);
    d[at + 17] = l.cascadeUpdates;
    d[at + 18] = l.cascadeDeletes;
    d[at + 19] = l.kind;
    out.insert(out.end(), d.begin(), d.end());
  }
  for (const auto& l : def.logicalIndexes) appendName(out, f, l.name);

  // Long-value columns with their own page maps, then the end marker.
  // System tables list them alphabetically, user tables in stored order.
  std::vector<const TdefColumn*> lv;
  for (const auto& c : def.columns)
    if (isLongValue(c.type) && (c.lvUsedMap != 0 || c.lvFreeMap != 0)) lv.push_back(&c);
  if (def.systemTable)
    std::stable_sort(lv.begin(), lv.end(), [](const TdefColumn* a, const TdefColumn* b) {
      std::string x = a->name, y = b->name;
      for (auto& ch : x) ch = char(std::tolower(static_cast<unsigned char>(ch)));
      for (auto& ch : y) ch = char(std::tolower(static_cast<unsigned char>(ch)));
      return x < y;
    });
  for (const auto* c : lv) {
    le::append16(out, c->number);
    le::append32(out, c->lvUsedMap);
    le::append32(out, c->lvFreeMap);
  }
  le::append16(out, 0xFFFF);

  le::put32(out.data() + 8, uint32_t(out.size()));
  return out;
}

size_t tdefPagesNeeded(Format format, size_t definitionSize) {
  const size_t ps = pageSizeOf(format);
  if (definitionSize <= ps) return 1;
  const size_t rest = definitionSize - ps;
  return 1 + (rest + (ps - 8) - 1) / (ps - 8);
}

std::vector<Bytes> paginateTableDefinition(Format format, const Bytes& definition, const std::vector<uint32_t>& pages) {
  const size_t ps = pageSizeOf(format);
  if (pages.size() != tdefPagesNeeded(format, definition.size()))
    throw Error(err::kInvalidArgument, "Invalid argument.");
  std::vector<Bytes> out;
  size_t pos = 0;
  for (size_t i = 0; i < pages.size(); ++i) {
    Bytes page(ps, 0);
    size_t start = i == 0 ? 0 : 8;
    size_t n = std::min(ps - start, definition.size() - pos);
    std::copy(definition.begin() + long(pos), definition.begin() + long(pos + n), page.begin() + long(start));
    pos += n;
    page[0] = 0x02;
    page[1] = 0x01;
    if (format == Format::Jet3) {
      page[2] = 'V';
      page[3] = 'C';
    } else {
      le::put16(&page[2], uint16_t(ps - 8 - n));
    }
    le::put32(&page[4], i + 1 < pages.size() ? pages[i + 1] : 0);
    if (i == 0) le::put32(&page[8], uint32_t(definition.size()));
    out.push_back(std::move(page));
  }
  return out;
}

TableDefinition parseTableDefinition(Format f, const Bytes& b) {
  const Geometry g = geometry(f);
  Reader r(b);
  TableDefinition def;
  def.format = f;
  size_t nCols, nLogical, nReal;
  if (f == Format::Jet4) {
    def.rowCount = r.u32(16);
    def.nextAutoNumber = r.u32(20);
    def.systemTable = r.u8(40) == 0x53;
    def.maxColumns = r.u16(41);
    nCols = r.u16(45);
    nLogical = r.u32(47);
    nReal = r.u32(51);
    def.usedPagesMap = r.u32(55);
    def.freePagesMap = r.u32(59);
  } else {
    def.rowCount = r.u32(12);
    def.nextAutoNumber = r.u32(16);
    def.systemTable = r.u8(20) == 0x53;
    def.maxColumns = r.u16(21);
    nCols = r.u16(25);
    nLogical = r.u32(27);
    nReal = r.u32(31);
    def.usedPagesMap = r.u32(35);
    def.freePagesMap = r.u32(39);
  }
  if (nReal > 1000 || nLogical > 1000 || nCols > 4096) throwCorrupt("the table definition: its counts are out of range");
  size_t at = g.header;
  def.realIndexes.resize(nReal);
  for (auto& ri : def.realIndexes) {
    ri.rowCount = r.u32(at + 4);
    at += g.realCount;
  }
  def.columns.resize(nCols);
  for (auto& c : def.columns) {
    const uint8_t* d = r.ptr(at, g.column);
    c.type = ColumnType(d[0]);
    if (f == Format::Jet4) {
      c.number = le::get16(d + 5);
      c.varIndex = le::get16(d + 7);
      c.sortOrder = le::get16(d + 11);
      c.sortVersion = le::get16(d + 13);
      c.precision = d[11];
      c.scale = d[12];
      c.flags = d[15];
      c.extFlags = d[16];
      c.fixedOffset = le::get16(d + 21);
      c.length = le::get16(d + 23);
    } else {
      c.number = le::get16(d + 1);
      c.varIndex = le::get16(d + 3);
      c.sortOrder = le::get16(d + 9);
      c.codePage = le::get16(d + 11);
      c.flags = d[13];
      c.fixedOffset = le::get16(d + 14);
      c.length = le::get16(d + 16);
    }
    at += g.column;
  }
  auto readName = [&]() {
    size_t len, skip;
    if (f == Format::Jet4) {
      len = r.u16(at);
      skip = 2;
    } else {
      len = r.u8(at);
      skip = 1;
    }
    std::string s = decodeName(f, r.ptr(at + skip, len), len);
    at += skip + len;
    return s;
  };
  for (auto& c : def.columns) c.name = readName();
  for (auto& ri : def.realIndexes) {
    const uint8_t* d = r.ptr(at, g.realIndex);
    size_t p = f == Format::Jet4 ? 4 : 0;
    for (size_t i = 0; i < kMaxIndexColumns; ++i, p += 3) {
      uint16_t col = le::get16(d + p);
      if (col == 0xFFFF) continue;
      ri.columns.push_back({col, d[p + 2] != 0});
    }
    ri.usageMap = le::get32(d + p);
    ri.rootPage = le::get32(d + p + 4);
    ri.flags = f == Format::Jet4 ? d[p + 12] : d[p + 8];
    at += g.realIndex;
  }
  def.logicalIndexes.resize(nLogical);
  for (auto& li : def.logicalIndexes) {
    const uint8_t* d = r.ptr(at, g.logicalIndex);
    size_t p = f == Format::Jet4 ? 4 : 0;
    li.number = le::get32(d + p);
    li.realNumber = le::get32(d + p + 4);
    li.relatedTableType = d[p + 8];
    li.relatedIndex = le::get32(d + p + 9);
    li.relatedTablePage = le::get32(d + p + 13);
    li.cascadeUpdates = d[p + 17];
    li.cascadeDeletes = d[p + 18];
    li.kind = d[p + 19];
    if (li.realNumber >= nReal) throwCorrupt("the table definition: a logical index refers to a missing real index");
    at += g.logicalIndex;
  }
  for (auto& li : def.logicalIndexes) li.name = readName();
  // Long-value page maps (absent in some older definitions: stop at the end of the string).
  while (at + 2 <= b.size()) {
    uint16_t col = r.u16(at);
    if (col == 0xFFFF) break;
    if (at + 10 > b.size()) break;
    size_t i = def.findColumn(col);
    if (i < def.columns.size()) {
      def.columns[i].lvUsedMap = r.u32(at + 2);
      def.columns[i].lvFreeMap = r.u32(at + 6);
    }
    at += 10;
  }
  return def;
}

}  // namespace jet
