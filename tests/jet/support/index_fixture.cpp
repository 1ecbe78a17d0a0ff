#include "jet/support/index_fixture.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "jet/base/error.h"

namespace indextest {

namespace {

uint32_t le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

void utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16 code units to UTF-8, keeping lone surrogates as their 3-byte forms so that they survive
// the round trip through the key encoder's decoder unchanged in count (they are rare here).
std::string fromUtf16(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      uint32_t cp = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
      ++i;
    } else {
      utf8(out, c);
    }
  }
  return out;
}

const char16_t kCp1252High[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                  0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                  0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

std::u16string decodeText(jet::Format f, const uint8_t* p, size_t n) {
  std::u16string s;
  if (f == jet::Format::Jet3) {
    for (size_t i = 0; i < n; ++i) s += (p[i] >= 0x80 && p[i] < 0xA0) ? kCp1252High[p[i] - 0x80] : char16_t(p[i]);
    return s;
  }
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    bool compressed = true;
    size_t i = 2;
    while (i < n) {
      if (p[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        s += char16_t(p[i++]);
      } else {
        if (i + 1 >= n) break;
        s += char16_t(p[i] | (p[i + 1] << 8));
        i += 2;
      }
    }
    return s;
  }
  for (size_t i = 0; i + 1 < n; i += 2) s += char16_t(p[i] | (p[i + 1] << 8));
  return s;
}

}  // namespace

MdbImage::MdbImage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  bytes_.assign(std::istreambuf_iterator<char>(in), {});
  format_ = bytes_.at(0x14) == 0 ? jet::Format::Jet3 : jet::Format::Jet4;
  pageSize_ = format_ == jet::Format::Jet3 ? 2048 : 4096;
}

void MdbImage::readPage(uint32_t n, uint8_t* out) {
  if (n >= pageCount()) throw jet::Error(jet::err::kCorrupt, "page out of range");
  std::memcpy(out, page(n), pageSize_);
}

void MdbImage::writePage(uint32_t n, const uint8_t* data) {
  if (n >= pageCount()) throw std::runtime_error("write past end");
  std::memcpy(bytes_.data() + n * pageSize_, data, pageSize_);
}

uint32_t MdbImage::allocatePage() {
  if (!freed.empty()) {
    uint32_t n = *freed.begin();
    freed.erase(freed.begin());
    return n;
  }
  bytes_.resize(bytes_.size() + pageSize_, 0);
  return pageCount() - 1;
}

void MdbImage::freePage(uint32_t n) {
  if (!freed.insert(n).second) throw std::runtime_error("page freed twice: " + std::to_string(n));
  std::memset(bytes_.data() + n * pageSize_, 0, pageSize_);
}

std::vector<Table> MdbImage::tables() const {
  std::set<uint32_t> continuation;
  std::vector<uint32_t> defs;
  for (uint32_t p = 1; p < pageCount(); ++p) {
    if (page(p)[0] != 0x02) continue;
    defs.push_back(p);
    if (uint32_t next = le32(page(p) + 4)) continuation.insert(next);
  }
  std::vector<Table> out;
  for (uint32_t p : defs) {
    if (continuation.count(p)) continue;
    try {
      out.push_back(table(p));
    } catch (const std::out_of_range&) {
    }
  }
  return out;
}

Table MdbImage::table(uint32_t tdefPage) const {
  const bool j3 = format_ == jet::Format::Jet3;
  std::vector<uint8_t> b(page(tdefPage), page(tdefPage) + pageSize_);
  for (uint32_t next = le32(page(tdefPage) + 4), guard = 0; next && guard < 100; next = le32(page(next) + 4), ++guard)
    b.insert(b.end(), page(next) + 8, page(next) + pageSize_);
  // Pages that look like definitions but are not (left over from dropped tables) fail here.
  auto need = [&](size_t end) {
    if (end > b.size()) throw std::out_of_range("table definition runs past its pages");
  };
  need(64);
  Table t;
  t.tdef = tdefPage;
  const int numCols = le16(&b[j3 ? 25 : 45]);
  const int numLogical = static_cast<int>(le32(&b[j3 ? 27 : 51 - 4]));
  const int numReal = static_cast<int>(le32(&b[j3 ? 31 : 51]));
  if (numLogical < 0 || numLogical > 256 || numReal < 0 || numReal > 256) throw std::out_of_range("not a table definition");
  size_t pos = (j3 ? 43 : 63) + numReal * (j3 ? 8 : 12);
  const size_t colSize = j3 ? 18 : 25;
  need(pos + numCols * colSize);
  for (int i = 0; i < numCols; ++i) {
    const uint8_t* c = &b[pos + i * colSize];
    Column col;
    col.type = static_cast<jet::ColumnType>(c[0]);
    col.number = static_cast<int>(le16(c + (j3 ? 1 : 5)));
    col.varIndex = static_cast<int>(le16(c + (j3 ? 3 : 7)));
    col.fixed = (c[j3 ? 13 : 15] & 0x01) != 0;
    col.fixedOffset = static_cast<int>(le16(c + (j3 ? 14 : 21)));
    col.length = static_cast<int>(le16(c + (j3 ? 16 : 23)));
    if (col.type == jet::ColumnType::Numeric) col.scale = c[12];
    if (col.type == jet::ColumnType::Text || col.type == jet::ColumnType::Memo) {
      col.sortOrder = static_cast<uint16_t>(le16(c + (j3 ? 9 : 11)));
      col.sortVersion = j3 ? 0 : c[11 + 3];
    }
    t.columns.push_back(col);
  }
  pos += numCols * colSize;
  for (auto& col : t.columns) {
    need(pos + 2);
    if (j3) {
      size_t n = b[pos++];
      need(pos + n);
      for (size_t i = 0; i < n; ++i) col.name += static_cast<char>(b[pos + i]);
      pos += n;
    } else {
      size_t n = le16(&b[pos]);
      pos += 2;
      need(pos + n);
      col.name = fromUtf16(decodeText(format_, &b[pos], n));
      pos += n;
    }
  }
  std::sort(t.columns.begin(), t.columns.end(), [](const Column& a, const Column& c) { return a.number < c.number; });
  for (int i = 0; i < numReal; ++i) {
    RealIndex r;
    need(pos + 52);
    size_t p = pos + (j3 ? 0 : 4);
    for (int k = 0; k < 10; ++k) {
      uint32_t num = le16(&b[p + 3 * k]);
      if (num != 0xFFFF) r.columns.push_back({static_cast<int>(num), (b[p + 3 * k + 2] & 0x01) != 0});
    }
    p += 30 + 4;
    r.root = le32(&b[p]);
    p += 4 + (j3 ? 0 : 4);
    r.flags = b[p];
    t.real.push_back(r);
    pos += j3 ? 39 : 52;
  }
  for (int i = 0; i < numLogical; ++i) {
    size_t p = pos + (j3 ? 0 : 4);
    LogicalIndex l;
    need(pos + 28);
    l.real = static_cast<int>(le32(&b[p + 4]));
    l.type = b[p + 8 + 1 + 4 + 4 + 2];
    t.logical.push_back(l);
    pos += j3 ? 20 : 28;
  }
  for (auto& l : t.logical) {
    need(pos + 2);
    if (j3) {
      size_t n = b[pos++];
      need(pos + n);
      l.name.assign(reinterpret_cast<const char*>(&b[pos]), n);
      pos += n;
    } else {
      size_t n = le16(&b[pos]);
      pos += 2;
      need(pos + n);
      l.name = fromUtf16(decodeText(format_, &b[pos], n));
      pos += n;
    }
  }
  return t;
}

std::vector<std::pair<jet::RowId, std::vector<jet::Value>>> MdbImage::rows(const Table& t) const {
  const bool j3 = format_ == jet::Format::Jet3;
  std::vector<std::pair<jet::RowId, std::vector<jet::Value>>> out;
  auto rowBounds = [&](uint32_t pg, int r, size_t& start, size_t& end, uint32_t& flags) -> bool {
    const uint8_t* p = page(pg);
    int count = static_cast<int>(le16(p + (j3 ? 8 : 12)));
    if (r >= count) return false;
    size_t table = j3 ? 10 : 14;
    uint32_t off = le16(p + table + 2 * r);
    flags = off & 0xC000;
    start = off & 0x1FFF;
    end = r == 0 ? pageSize_ : (le16(p + table + 2 * (r - 1)) & 0x1FFF);
    return start < end && end <= pageSize_;
  };
  for (uint32_t pg = 1; pg < pageCount(); ++pg) {
    const uint8_t* p = page(pg);
    if (p[0] != 0x01 || le32(p + 4) != t.tdef) continue;
    int count = static_cast<int>(le16(p + (j3 ? 8 : 12)));
    for (int r = 0; r < count; ++r) {
      size_t start, end;
      uint32_t flags;
      if (!rowBounds(pg, r, start, end, flags) || (flags & 0x8000)) continue;
      const uint8_t* row = page(pg) + start;
      if (flags & 0x4000) {
        // A moved row: the body lives at the address written here.
        int rr = row[0];
        uint32_t tp = row[1] | (row[2] << 8) | (row[3] << 16);
        if (tp >= pageCount() || !rowBounds(tp, rr, start, end, flags)) continue;
        row = page(tp) + start;
      }
      const size_t len = end - start;
      const size_t colCount = j3 ? row[0] : le16(row);
      const size_t maskSize = (colCount + 7) / 8;
      const uint8_t* mask = row + len - maskSize;
      std::vector<jet::Value> values;
      for (const auto& c : t.columns) {
        const bool present = static_cast<size_t>(c.number) < colCount && (mask[c.number / 8] & (1 << (c.number % 8)));
        if (c.type == jet::ColumnType::Boolean) {
          values.push_back(present);
          continue;
        }
        if (!present) {
          values.push_back(jet::Null{});
          continue;
        }
        const uint8_t* d;
        size_t n;
        if (c.fixed) {
          d = row + (j3 ? 1 : 2) + c.fixedOffset;
          n = static_cast<size_t>(c.length);
        } else if (!j3) {
          size_t numVar = le16(row + len - maskSize - 2);
          if (static_cast<size_t>(c.varIndex) >= numVar) {
            values.push_back(jet::Null{});
            continue;
          }
          size_t at = len - maskSize - 4 - 2 * c.varIndex;
          size_t s = le16(row + at), e = le16(row + at - 2);
          d = row + s;
          n = e - s;
        } else {
          // Offsets are single bytes; a jump table says where they pass each 256 bytes.
          size_t rowEnd = len - 1;
          size_t numVar = row[rowEnd - maskSize];
          if (static_cast<size_t>(c.varIndex) >= numVar) {
            values.push_back(jet::Null{});
            continue;
          }
          size_t numJumps = (len - 1) / 256;
          size_t colOffset = rowEnd - maskSize - numJumps - 1;
          if ((colOffset - numVar) / 256 < numJumps) --numJumps;
          std::vector<size_t> offs(numVar + 1);
          size_t used = 0;
          for (size_t i = 0; i <= numVar; ++i) {
            while (used < numJumps && i == row[rowEnd - maskSize - used - 1]) ++used;
            offs[i] = row[colOffset - i] + used * 256;
          }
          d = row + offs[c.varIndex];
          n = offs[c.varIndex + 1] - offs[c.varIndex];
        }
        switch (c.type) {
          case jet::ColumnType::Byte: values.push_back(int64_t(d[0])); break;
          case jet::ColumnType::Integer: values.push_back(int64_t(int16_t(le16(d)))); break;
          case jet::ColumnType::Long:
          case jet::ColumnType::Complex:  // the row's key into the hidden table
            values.push_back(int64_t(int32_t(le32(d))));
            break;
          case jet::ColumnType::Currency: {
            int64_t v;
            std::memcpy(&v, d, 8);
            values.push_back(jet::Currency{v});
            break;
          }
          case jet::ColumnType::Single: {
            float v;
            std::memcpy(&v, d, 4);
            values.push_back(v);
            break;
          }
          case jet::ColumnType::Double:
          case jet::ColumnType::DateTime: {
            double v;
            std::memcpy(&v, d, 8);
            if (c.type == jet::ColumnType::Double) values.push_back(v);
            else values.push_back(jet::DateTime{v});
            break;
          }
          case jet::ColumnType::Guid: {
            jet::Guid g;
            std::memcpy(g.bytes.data(), d, 16);
            values.push_back(g);
            break;
          }
          case jet::ColumnType::Numeric: {
            jet::Decimal v;
            v.negative = (d[0] & 0x80) != 0;
            v.scale = c.scale;
            v.magnitude = {le32(d + 13), le32(d + 9), le32(d + 5)};
            values.push_back(v);
            break;
          }
          case jet::ColumnType::Text: values.push_back(fromUtf16(decodeText(format_, d, n))); break;
          default: values.push_back(jet::Bytes(d, d + n)); break;
        }
      }
      out.push_back({jet::RowId{pg, static_cast<uint16_t>(r)}, std::move(values)});
    }
  }
  return out;
}

std::vector<jet::IndexOutline> MdbImage::outlines(const Table& t, std::vector<std::string>* skipped) const {
  std::vector<jet::IndexOutline> out;
  for (size_t i = 0; i < t.real.size(); ++i) {
    const RealIndex& r = t.real[i];
    jet::IndexOutline s;
    s.rootPage = r.root;
    s.unique = (r.flags & 0x01) != 0;
    s.ignoreNulls = (r.flags & 0x02) != 0;
    s.required = (r.flags & 0x08) != 0;
    for (const auto& l : t.logical)
      if (l.real == static_cast<int>(i)) {
        if (s.name.empty()) s.name = l.name;
        if (l.type == 1) s.required = true;
      }
    bool usable = !r.columns.empty();
    for (auto [num, asc] : r.columns) {
      int pos = -1;
      for (size_t k = 0; k < t.columns.size(); ++k)
        if (t.columns[k].number == num) pos = static_cast<int>(k);
      if (pos < 0) {
        usable = false;
        break;
      }
      const Column& c = t.columns[pos];
      jet::KeyColumn kc;
      kc.type = c.type;
      kc.ascending = asc;
      kc.scale = c.scale;
      kc.collation = jet::textCollation(format_, c.sortOrder, c.sortVersion);
      if (c.type == jet::ColumnType::Memo || !jet::keyColumnProblem(kc).empty()) usable = false;
      s.columns.push_back(kc);
      s.fields.push_back(pos);
    }
    if (usable) out.push_back(s);
    else if (skipped) skipped->push_back(s.name);
  }
  return out;
}

}  // namespace indextest
