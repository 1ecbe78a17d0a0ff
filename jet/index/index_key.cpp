#include "jet/index/index_key.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <mutex>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/base/text_codec.h"
#include "jet/base/value_text.h"

namespace jet {

namespace indexcodes {
extern const unsigned char kGeneral97[];
extern const unsigned kSizeGeneral97;
extern const unsigned char kGeneralLegacy[];
extern const unsigned kSizeGeneralLegacy;
extern const unsigned char kGeneral[];
extern const unsigned kSizeGeneral;
// Pairs of 16-bit little-endian numbers: a character above U+00FF and the one it sorts as.
extern const unsigned char kGeneral97Mappings[];
extern const unsigned kSizeGeneral97Mappings;
}  // namespace indexcodes

namespace {

constexpr uint8_t kAscStart = 0x7F;
constexpr uint8_t kAscNull = 0x00;
constexpr uint8_t kDescStart = 0x80;
constexpr uint8_t kDescNull = 0xFF;

// Text entry markers.
constexpr uint8_t kEndText = 0x01;
constexpr uint8_t kEndExtra = 0x00;
constexpr uint8_t kExtraPlaceholder = 0x02;

enum Kind : uint8_t { Simple, International, Unprintable, UnprintableExt, InternationalExt, Significant, Ignored, Surrogate };

// One character's codes: views into the generated table.
struct CharCode {
  Kind kind = Ignored;
  const uint8_t* inl = nullptr;
  uint8_t inlLen = 0;
  const uint8_t* extra = nullptr;  // international extra bytes, or the unprintable bytes
  uint8_t extraLen = 0;
  uint8_t modifier = 0;            // unprintable-ext
  uint8_t crazy = 0;               // international-ext: 2 or 3
};

// A decoded character table: offsets of each code unit's record in the generated blob.
class CodeTable {
 public:
  CodeTable(const unsigned char* blob, unsigned size, bool extended) : blob_(blob) {
    size_t count = extended ? 0x10000 : 0x100;
    offsets_.assign(count, UINT32_MAX);
    size_t pos = 0;
    for (size_t c = 0; c < count; ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;  // surrogates are computed
      if (pos >= size) throw Error(err::kInvalidOperation, "Index character table is damaged.");
      offsets_[c] = static_cast<uint32_t>(pos);
      pos += recordSize(pos);
    }
  }

  CharCode get(char16_t c) const {
    CharCode code;
    if (c >= offsets_.size()) return code;  // ignored
    uint32_t off = offsets_[c];
    if (off == UINT32_MAX) {
      code.kind = Surrogate;
      return code;
    }
    const uint8_t* p = blob_ + off;
    uint8_t k = p[0] & 0x0F;
    code.kind = static_cast<Kind>(k);
    switch (code.kind) {
      case Simple:
      case Significant:
        code.inlLen = p[1];
        code.inl = p + 2;
        break;
      case Unprintable:
        code.extraLen = p[1];
        code.extra = p + 2;
        break;
      case International:
      case InternationalExt:
        code.inlLen = p[1];
        code.inl = p + 2;
        code.extraLen = p[2 + code.inlLen];
        code.extra = code.extraLen ? p + 3 + code.inlLen : nullptr;
        if (code.kind == InternationalExt) code.crazy = (p[0] & 0x10) ? 0x02 : 0x03;
        break;
      case UnprintableExt:
        code.modifier = p[1];
        break;
      default:
        break;
    }
    return code;
  }

 private:
  size_t recordSize(size_t pos) const {
    const uint8_t* p = blob_ + pos;
    switch (p[0] & 0x0F) {
      case Simple:
      case Significant:
      case Unprintable:
        return 2 + p[1];
      case International:
      case InternationalExt:
        return 3 + p[1] + p[2 + p[1]];
      case UnprintableExt:
        return 2;
      default:
        return 1;
    }
  }

  const unsigned char* blob_;
  std::vector<uint32_t> offsets_;
};

const CodeTable& table(TextCollation collation) {
  static std::once_flag o97, oLeg, oGen;
  static const CodeTable* t97;
  static const CodeTable* tLeg;
  static const CodeTable* tGen;
  switch (collation) {
    case TextCollation::General97:
      std::call_once(o97, [] { t97 = new CodeTable(indexcodes::kGeneral97, indexcodes::kSizeGeneral97, false); });
      return *t97;
    case TextCollation::GeneralLegacy:
      std::call_once(oLeg, [] { tLeg = new CodeTable(indexcodes::kGeneralLegacy, indexcodes::kSizeGeneralLegacy, true); });
      return *tLeg;
    default:
      std::call_once(oGen, [] { tGen = new CodeTable(indexcodes::kGeneral, indexcodes::kSizeGeneral, true); });
      return *tGen;
  }
}

void flip(Bytes& b, size_t from) {
  for (size_t i = from; i < b.size(); ++i) b[i] = static_cast<uint8_t>(~b[i]);
}

// The part of a text value that takes part in its key: at most 255 code units, trailing spaces
// dropped.
std::u16string keyText(const std::string& utf8) {
  std::u16string s = utf8ToUtf16(utf8);
  if (s.size() > kMaxIndexTextChars) s.resize(kMaxIndexTextChars);
  while (!s.empty() && s.back() == u' ') s.pop_back();
  return s;
}

// Jet 3 keeps an accent nibble for each letter that can carry an accent (the "significant" letters),
// written only once some later letter does carry one. A ligature (ß, æ, œ and their capitals) is
// stored as the two letters it stands for and counts as both of them.
size_t significantLetters(const CharCode& code) {
  static const std::array<bool, 256> isSignificant = [] {
    std::array<bool, 256> marks{};
    const CodeTable& t = table(TextCollation::General97);
    for (char16_t c = 0; c < 0x100; ++c) {
      CharCode letter = t.get(c);
      if (letter.kind == Significant && letter.inlLen == 1) marks[letter.inl[0]] = true;
    }
    return marks;
  }();
  if (code.kind == Significant) return 1;
  if (code.kind != Simple || code.inlLen < 2) return 0;
  for (uint8_t i = 0; i < code.inlLen; ++i)
    if (!isSignificant[code.inl[i]]) return 0;
  return code.inlLen;
}

// Jet 3: inline codes, then the international extra codes packed as nibbles. Jet 3 keys are built
// from the value as a C string: a NUL ends the keyed text.
void encodeText97(const std::u16string& whole, Bytes& out) {
  const CodeTable& t = table(TextCollation::General97);
  std::u16string s = whole.substr(0, whole.find(u'\0'));
  while (!s.empty() && s.back() == u' ') s.pop_back();
  std::vector<uint8_t> nibbles;
  bool haveExtra = false;
  size_t significant = 0;
  for (char16_t c : s) {
    char16_t mapped = c;
    if (c > 0xFF) {
      mapped = 0;  // code 0 is ignored in this table
      for (unsigned i = 0; i + 4 <= indexcodes::kSizeGeneral97Mappings; i += 4)
        if (le16(indexcodes::kGeneral97Mappings + i) == c) mapped = le16(indexcodes::kGeneral97Mappings + i + 2);
      if (mapped == 0) continue;
    }
    CharCode code = t.get(mapped);
    if (code.kind == Ignored) continue;
    out.insert(out.end(), code.inl, code.inl + code.inlLen);
    if (code.kind == Simple || code.kind == Significant) {
      significant += significantLetters(code);
      continue;
    }
    if (code.extraLen) {
      if (!haveExtra) {
        nibbles.push_back(0);
        haveExtra = true;
      }
      nibbles.insert(nibbles.end(), significant, kExtraPlaceholder);
      significant = 0;
      nibbles.push_back(code.extra[0] & 0x0F);
    }
  }
  if (!haveExtra) {
    out.push_back(kEndExtra);
    return;
  }
  nibbles.push_back(0);
  for (size_t i = 0; i < nibbles.size(); i += 2) {
    uint8_t b = static_cast<uint8_t>(nibbles[i] << 4);
    if (i + 1 < nibbles.size()) b |= nibbles[i + 1];
    out.push_back(b);
  }
}

// The surrogate halves have computed inline codes and one extra byte.
Bytes surrogateInline(char16_t c) {
  int idx;
  if (c < 0xDC00) {
    idx = c - 10238;
  } else {
    int off = (c - 0xDC00) % 1024;
    int base = off < 8 ? 9992 : off < 8 + 254 ? 9990 : off < 8 + 508 ? 9988 : off < 8 + 762 ? 9986 : 9984;
    idx = c - base;
  }
  return {static_cast<uint8_t>((idx >> 8) & 0xFF), static_cast<uint8_t>(idx & 0xFF)};
}

// Jet 4: inline codes, END_TEXT, then (when present) the international extra codes, the
// flags of extended international characters and the unprintable characters with positions.
void encodeText4(const std::u16string& s, TextCollation collation, Bytes& out) {
  const CodeTable& t = table(collation);
  static const uint8_t kSurrogateExtra = 0x3F;
  Bytes extra;
  bool haveExtra = false;
  size_t extraChars = 0;      // characters the extra codes account for
  size_t unprintPrefix = 0;   // a leading modifier byte that has no character of its own
  Bytes unprint;
  bool haveUnprint = false;
  Bytes crazy;
  size_t charOffset = 0;
  for (char16_t c : s) {
    CharCode code = t.get(c);
    Bytes surrogate;
    if (code.kind == Surrogate) {
      surrogate = surrogateInline(c);
      code.inl = surrogate.data();
      code.inlLen = 2;
      code.extra = &kSurrogateExtra;
      code.extraLen = 1;
    }
    size_t cur = charOffset;
    if (code.inlLen) {
      out.insert(out.end(), code.inl, code.inl + code.inlLen);
      ++charOffset;
    }
    if (code.kind == Simple) continue;
    const uint8_t* xb = code.kind == Unprintable ? nullptr : code.extra;
    uint8_t xl = code.kind == Unprintable ? 0 : code.extraLen;
    if (xl || code.modifier) {
      haveExtra = true;
      if (extraChars < cur) {
        extra.insert(extra.end(), cur - extraChars, kExtraPlaceholder);
        extraChars = cur;
      }
      if (xl) {
        extra.insert(extra.end(), xb, xb + xl);
        ++extraChars;
      } else if (!extra.empty()) {
        extra.back() = static_cast<uint8_t>(extra.back() + code.modifier);
      } else {
        extra.push_back(code.modifier);
        unprintPrefix = 1;
      }
    }
    if (code.kind == Unprintable) {
      haveUnprint = true;
      size_t pos = cur;
      if (haveExtra) pos = extra.size() + (cur - extraChars) - unprintPrefix;
      unsigned v = (7 + 4 * static_cast<unsigned>(pos)) | 0x8000;
      unprint.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
      unprint.push_back(static_cast<uint8_t>(v & 0xFF));
      unprint.push_back(0x06);
      unprint.insert(unprint.end(), code.extra, code.extra + code.extraLen);
    }
    if (code.crazy) crazy.push_back(code.crazy);
  }
  out.push_back(kEndText);
  while (!extra.empty() && extra.back() <= kExtraPlaceholder) extra.pop_back();
  bool hasCrazy = !crazy.empty();
  if (!extra.empty() || haveUnprint || hasCrazy) {
    out.insert(out.end(), extra.begin(), extra.end());
    if (hasCrazy || haveUnprint) {
      out.push_back(kEndText);
      out.push_back(kEndText);
      if (hasCrazy) {
        while (!crazy.empty() && crazy.back() == 0x03) crazy.pop_back();
        // Flags are packed three to a byte, two bits each, under a 0x80 prefix.
        uint8_t cur = 0x80;
        int n = 0;
        for (uint8_t f : crazy) {
          cur = static_cast<uint8_t>(cur | (f << ((2 - n) * 2)));
          if (++n == 3) {
            out.push_back(cur);
            cur = 0x80;
            n = 0;
          }
        }
        if (n > 0) out.push_back(cur);
        for (uint8_t b : {0xFF, 0x02, 0x80, 0xFF, 0x80}) out.push_back(b);
        if (haveUnprint) out.push_back(0xFF);
      }
      if (haveUnprint) {
        out.push_back(kEndText);
        out.insert(out.end(), unprint.begin(), unprint.end());
      }
    }
  }
}

template <typename T>
void appendBigEndian(Bytes& out, T v) {
  using U = std::make_unsigned_t<T>;
  U u = static_cast<U>(v);
  for (int i = sizeof(T) - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>((u >> (8 * i)) & 0xFF));
}

int64_t asInteger(const Value& v) {
  if (auto p = std::get_if<int64_t>(&v)) return *p;
  if (auto p = std::get_if<bool>(&v)) return *p ? -1 : 0;
  throw Error(err::kConversion, "Data type conversion error.");
}

double asDouble(const Value& v) {
  if (auto p = std::get_if<double>(&v)) return *p;
  if (auto p = std::get_if<float>(&v)) return *p;
  if (auto p = std::get_if<DateTime>(&v)) return p->days;
  if (auto p = std::get_if<int64_t>(&v)) return static_cast<double>(*p);
  throw Error(err::kConversion, "Data type conversion error.");
}

// Multiplies a 128-bit magnitude (four 32-bit words, least significant first) by 10.
bool times10(std::array<uint32_t, 4>& m) {
  uint64_t carry = 0;
  for (auto& w : m) {
    uint64_t x = static_cast<uint64_t>(w) * 10 + carry;
    w = static_cast<uint32_t>(x);
    carry = x >> 32;
  }
  return carry == 0;
}

// Divides by 10; false when the division is not exact.
bool dividedBy10(std::array<uint32_t, 4>& m) {
  uint64_t rem = 0;
  std::array<uint32_t, 4> q{};
  for (int i = 3; i >= 0; --i) {
    uint64_t x = (rem << 32) | m[i];
    q[i] = static_cast<uint32_t>(x / 10);
    rem = x % 10;
  }
  if (rem != 0) return false;
  m = q;
  return true;
}

}  // namespace

TextCollation textCollation(Format format, uint16_t sortOrder, uint16_t sortVersion) {
  if (format == Format::Jet3Layout) return (sortOrder == 0 || sortOrder == 1033) ? TextCollation::General97 : TextCollation::Unsupported;
  if (sortOrder == 0) return TextCollation::GeneralLegacy;
  if (sortOrder != 1033) return TextCollation::Unsupported;
  if (sortVersion == 0) return TextCollation::GeneralLegacy;
  if (sortVersion == 1) return TextCollation::General;
  return TextCollation::Unsupported;
}

namespace {

bool indexableType(ColumnType type) {
  switch (type) {
    case ColumnType::Text:
    case ColumnType::Memo:
    case ColumnType::Boolean:
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Complex:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::DateTime:
    case ColumnType::Guid:
    case ColumnType::Numeric:
    case ColumnType::BigInt:
    case ColumnType::DateTimeExtended:
      return true;
    default:
      return false;
  }
}

bool encodable(const KeyColumn& column) {
  if (!indexableType(column.type)) return false;
  const bool text = column.type == ColumnType::Text || column.type == ColumnType::Memo;
  return !text || column.collation != TextCollation::Unsupported;
}

}  // namespace

std::string keyColumnProblem(const KeyColumn& column) {
  if (!indexableType(column.type)) return "it indexes a column of a type the engine cannot index";
  if (!encodable(column)) return "its text sort order is not one the engine knows";
  return "";
}

bool isNullKeyValue(const KeyColumn& column, const Value& value) {
  return column.type != ColumnType::Boolean && isNull(value);
}

void appendKeyEntry(const KeyColumn& column, const Value& value, Bytes& out) {
  if (!encodable(column))
    throw Error(err::kInvalidOperation, "Cannot update this index: " + keyColumnProblem(column) + ".");
  const bool asc = column.ascending;
  if (isNullKeyValue(column, value)) {
    out.push_back(asc ? kAscNull : kDescNull);
    return;
  }
  out.push_back(asc ? kAscStart : kDescStart);
  const size_t start = out.size();
  switch (column.type) {
    case ColumnType::Boolean: {
      bool b = false;
      if (auto p = std::get_if<bool>(&value)) b = *p;
      else if (!isNull(value)) b = asInteger(value) != 0;
      // True sorts before False.
      out.push_back((b == asc) ? 0x00 : 0xFF);
      return;
    }
    case ColumnType::Byte:
      out.push_back(static_cast<uint8_t>(asInteger(value)));
      if (!asc) flip(out, start);
      return;
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Complex:  // the row's key, indexed as a Long
    case ColumnType::Currency:
    case ColumnType::BigInt: {
      int64_t v;
      if (auto c = std::get_if<Currency>(&value)) v = c->scaled;
      else v = asInteger(value);
      if (column.type == ColumnType::Integer) appendBigEndian(out, static_cast<int16_t>(v));
      else if (column.type == ColumnType::Long || column.type == ColumnType::Complex)
        appendBigEndian(out, static_cast<int32_t>(v));
      else appendBigEndian(out, v);
      out[start] ^= 0x80;
      if (!asc) flip(out, start);
      return;
    }
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::DateTime: {
      if (column.type == ColumnType::Single) {
        float f = std::holds_alternative<float>(value) ? std::get<float>(value) : static_cast<float>(asDouble(value));
        appendBigEndian(out, std::bit_cast<uint32_t>(f));
      } else {
        appendBigEndian(out, std::bit_cast<uint64_t>(asDouble(value)));
      }
      bool negative = (out[start] & 0x80) != 0;
      if (!negative) out[start] ^= 0x80;
      if (negative == asc) flip(out, start);
      return;
    }
    case ColumnType::Guid: {
      auto g = std::get_if<Guid>(&value);
      if (!g) throw Error(err::kConversion, "Data type conversion error.");
      // The key holds the GUID in its written order: the first three groups are stored
      // little-endian in the row.
      const auto& b = g->bytes;
      uint8_t raw[16] = {b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6]};
      std::memcpy(raw + 8, b.data() + 8, 8);
      // Binary data goes in 8-byte segments, each followed by 9 when more follows or by the
      // count of bytes used in the last one. Descending inverts all but the 9s.
      for (int seg = 0; seg < 2; ++seg) {
        size_t s0 = out.size();
        out.insert(out.end(), raw + seg * 8, raw + seg * 8 + 8);
        if (!asc) flip(out, s0);
        uint8_t tail = seg == 0 ? 9 : 8;
        out.push_back(seg == 1 && !asc ? static_cast<uint8_t>(~tail) : tail);
      }
      return;
    }
    case ColumnType::Numeric: {
      auto d = std::get_if<Decimal>(&value);
      if (!d) throw Error(err::kConversion, "Data type conversion error.");
      std::array<uint32_t, 4> m{d->magnitude[0], d->magnitude[1], d->magnitude[2], 0};
      for (int s = d->scale; s < column.scale; ++s)
        if (!times10(m)) throw Error(err::kConversion, "Data type conversion error.");
      for (int s = d->scale; s > column.scale; --s)
        if (!dividedBy10(m)) throw Error(err::kConversion, "Data type conversion error.");
      bool zero = m[0] == 0 && m[1] == 0 && m[2] == 0 && m[3] == 0;
      bool negative = d->negative && !zero;
      // A sign byte, then the magnitude big-endian. Ascending, a negative value is inverted, so
      // that larger magnitudes sort first; descending inverts the ascending form.
      out.push_back(0xFF);
      for (int w = 3; w >= 0; --w) appendBigEndian(out, m[w]);
      if (negative == asc) flip(out, start);
      if (column.legacyDecimal) out[start] = negative ? 0x00 : 0xFF;
      return;
    }
    case ColumnType::DateTimeExtended: {
      auto d = std::get_if<DateTimeExtended>(&value);
      if (!d) throw Error(err::kConversion, "Data type conversion error.");
      // The stored digits in blocks of 8, each followed by 9, then the last 2 and a fixed
      // trailer. Descending inverts all but the 9s.
      Bytes stored = storedExtendedDate(*d);
      for (size_t at = 0; at < stored.size(); at += 8) {
        const size_t n = std::min<size_t>(8, stored.size() - at);
        const size_t s0 = out.size();
        out.insert(out.end(), stored.begin() + long(at), stored.begin() + long(at + n));
        if (n == 8) {
          if (!asc) flip(out, s0);
          out.push_back(9);
        } else {
          out.insert(out.end(), {0, 0, 0, 0, 0, 0, 2});
          if (!asc) flip(out, s0);
        }
      }
      return;
    }
    case ColumnType::Text:
    case ColumnType::Memo: {
      auto s = std::get_if<std::string>(&value);
      if (!s) throw Error(err::kConversion, "Data type conversion error.");
      std::u16string text = keyText(*s);
      if (column.collation == TextCollation::General97) {
        encodeText97(text, out);
        if (!asc) flip(out, start);
      } else {
        encodeText4(text, column.collation, out);
        if (!asc) {
          out.push_back(kEndExtra);
          flip(out, start);
        }
        out.push_back(kEndExtra);
      }
      return;
    }
    default:
      break;
  }
  throw Error(err::kInvalidOperation, "Cannot update this index: it indexes a column of a type the engine cannot index.");
}

Bytes encodeKey(const std::vector<KeyColumn>& columns, const std::vector<Value>& values) {
  Bytes key;
  key.reserve(16 * columns.size());
  for (size_t i = 0; i < columns.size(); ++i) appendKeyEntry(columns[i], i < values.size() ? values[i] : Value{}, key);
  return key;
}

}  // namespace jet
