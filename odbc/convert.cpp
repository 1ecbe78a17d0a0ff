// Result cells into C types.
#include "odbc/convert.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "odbc/text.h"
#include "odbc/types.h"

namespace odbc {

namespace {

std::string shortest(double v, bool single) {
  char buf[64];
  auto r = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v)) : std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string fixed(double v, int digits) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, digits);
  if (r.ec != std::errc()) return shortest(v, false);
  return std::string(buf, r.ptr);
}

bool isDecimal(const ColumnDesc& d) { return d.sqlType == SQL_DECIMAL || d.sqlType == SQL_NUMERIC; }

void appendHex(std::string& out, std::string_view bytes) {
  static const char digits[] = "0123456789ABCDEF";
  out.reserve(out.size() + bytes.size() * 2);
  for (unsigned char b : bytes) {
    out.push_back(digits[b >> 4]);
    out.push_back(digits[b & 15]);
  }
}

int digitsAt(std::string_view s, size_t at, size_t n) {
  if (at + n > s.size()) return -1;
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

// A cell as a number: exact integer when it is one, otherwise a double. False for text that is
// not a number, and for blobs.
struct Number {
  bool integral = true;
  int64_t i = 0;
  double d = 0;
};

bool numberOf(const Result& r, int c, Number& n) {
  switch (r.type(c)) {
    case Cell::Integer:
      n.i = r.integer(c);
      n.d = static_cast<double>(n.i);
      return true;
    case Cell::Real:
      n.integral = false;
      n.d = r.real(c);
      return true;
    case Cell::Text: {
      std::string_view t = r.text(c);
      while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
      while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
      if (!t.empty() && t.front() == '+') t.remove_prefix(1);
      auto ri = std::from_chars(t.data(), t.data() + t.size(), n.i);
      if (ri.ec == std::errc() && ri.ptr == t.data() + t.size()) {
        n.d = static_cast<double>(n.i);
        return true;
      }
      n.integral = false;
      auto rd = std::from_chars(t.data(), t.data() + t.size(), n.d);
      return rd.ec == std::errc() && rd.ptr == t.data() + t.size() && !t.empty();
    }
    default:
      return false;
  }
}

template <typename T>
SQLRETURN putInteger(const Number& n, SQLPOINTER target, SQLLEN* length, Diagnostics& diag) {
  SQLRETURN rc = SQL_SUCCESS;
  int64_t v = n.i;
  if (!n.integral) {
    if (!std::isfinite(n.d) || n.d >= 9.3e18 || n.d <= -9.3e18) return diag.add("22003", "Numeric value out of range");
    v = static_cast<int64_t>(n.d);
    if (static_cast<double>(v) != n.d) rc = diag.add("01S07", "Fractional truncation");
  }
  if constexpr (std::is_same_v<T, uint64_t>) {
    if (v < 0) return diag.add("22003", "Numeric value out of range");
  } else if constexpr (!std::is_same_v<T, int64_t>) {
    if (v < static_cast<int64_t>(std::numeric_limits<T>::min()) || v > static_cast<int64_t>(std::numeric_limits<T>::max()))
      return diag.add("22003", "Numeric value out of range");
  }
  if (target) *static_cast<T*>(target) = static_cast<T>(v);
  if (length) *length = sizeof(T);
  return rc;
}

// Copies `bytes` from the piece offset; `unit` keeps characters whole (1 UTF-8, 2 UTF-16, 0 binary).
SQLRETURN putPiece(std::string_view bytes, int unit, SQLPOINTER target, SQLLEN bufferLength, SQLLEN* length,
                   PieceState* piece, Diagnostics& diag) {
  const size_t offset = piece ? piece->offset : 0;
  const size_t avail = bytes.size() - offset;
  const size_t terminator = unit == 1 ? 1 : unit == 2 ? 2 : 0;
  size_t room = bufferLength > static_cast<SQLLEN>(terminator) ? static_cast<size_t>(bufferLength) - terminator : 0;
  if (unit == 2) room &= ~size_t(1);
  size_t n = std::min(avail, room);
  if (n < avail) {
    if (unit == 1)
      while (n > 0 && (static_cast<unsigned char>(bytes[offset + n]) & 0xC0) == 0x80) --n;
    if (unit == 2 && n >= 2) {
      uint16_t last;
      std::memcpy(&last, bytes.data() + offset + n - 2, 2);
      if (last >= 0xD800 && last < 0xDC00) n -= 2;  // keep a surrogate pair together
    }
  }
  if (target && bufferLength > 0) {
    std::memcpy(target, bytes.data() + offset, n);
    if (terminator && bufferLength >= static_cast<SQLLEN>(n + terminator))
      std::memset(static_cast<char*>(target) + n, 0, terminator);
  }
  if (length) *length = static_cast<SQLLEN>(avail);
  if (n < avail) {
    if (piece) {
      if (piece->bytes.data() != bytes.data()) piece->bytes.assign(bytes);
      piece->offset += n;
    }
    return diag.add("01004", "String data, right truncated");
  }
  if (piece) {
    piece->done = true;
    piece->bytes.clear();
  }
  return SQL_SUCCESS;
}

// The text of an integer or real cell into `buf` (64 bytes) without allocating; its length.
size_t numberText(const Result& r, int c, const ColumnDesc& d, char* buf) {
  char* end = buf + 64;
  std::to_chars_result out;
  if (r.type(c) == Cell::Integer) {
    const int64_t v = r.integer(c);
    if (d.sqlType == SQL_BIT) {
      buf[0] = v ? '1' : '0';
      return 1;
    }
    out = std::to_chars(buf, end, v);
    if (isDecimal(d) && d.digits > 0 && d.digits < 30) {
      *out.ptr++ = '.';
      for (int k = 0; k < d.digits; ++k) *out.ptr++ = '0';
    }
    return static_cast<size_t>(out.ptr - buf);
  }
  const double v = r.real(c);
  if (isDecimal(d)) out = std::to_chars(buf, end, v, std::chars_format::fixed, d.digits);
  else if (d.sqlType == SQL_REAL) out = std::to_chars(buf, end, static_cast<float>(v));
  else out = std::to_chars(buf, end, v);
  if (out.ec != std::errc()) out = std::to_chars(buf, end, v);
  return static_cast<size_t>(out.ptr - buf);
}

}  // namespace

std::string cellText(const Result& r, int c, const ColumnDesc& d) {
  switch (r.type(c)) {
    case Cell::Null:
      return {};
    case Cell::Integer:
    case Cell::Real: {
      char buf[64];
      return std::string(buf, numberText(r, c, d, buf));
    }
    case Cell::Text:
      return std::string(r.text(c));
    case Cell::Blob: {
      std::string s;
      appendHex(s, r.text(c));
      return s;
    }
  }
  return {};
}

bool parseTimestamp(std::string_view t, SQL_TIMESTAMP_STRUCT& ts) {
  ts = {};
  size_t at = 0;
  if (t.size() >= 10 && t[4] == '-' && t[7] == '-') {
    const int y = digitsAt(t, 0, 4), m = digitsAt(t, 5, 2), d = digitsAt(t, 8, 2);
    if (y < 0 || m < 1 || m > 12 || d < 1 || d > 31) return false;
    ts.year = static_cast<SQLSMALLINT>(y);
    ts.month = static_cast<SQLUSMALLINT>(m);
    ts.day = static_cast<SQLUSMALLINT>(d);
    at = 10;
    if (at == t.size()) return true;
    if (t[at] != ' ' && t[at] != 'T') return false;
    ++at;
  } else {
    ts.year = 1899;
    ts.month = 12;
    ts.day = 30;
  }
  if (t.size() < at + 8 || t[at + 2] != ':' || t[at + 5] != ':') return false;
  const int h = digitsAt(t, at, 2), mi = digitsAt(t, at + 3, 2), s = digitsAt(t, at + 6, 2);
  if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) return false;
  ts.hour = static_cast<SQLUSMALLINT>(h);
  ts.minute = static_cast<SQLUSMALLINT>(mi);
  ts.second = static_cast<SQLUSMALLINT>(s);
  at += 8;
  if (at < t.size() && t[at] == '.') {
    SQLUINTEGER frac = 0;
    int n = 0;
    for (++at; at < t.size() && t[at] >= '0' && t[at] <= '9'; ++at, ++n)
      if (n < 9) frac = frac * 10 + static_cast<SQLUINTEGER>(t[at] - '0');
    for (; n < 9; ++n) frac *= 10;
    ts.fraction = frac;
  }
  return at == t.size();
}

std::string timestampText(const SQL_TIMESTAMP_STRUCT& ts) {
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u", ts.year, ts.month, ts.day, ts.hour, ts.minute,
                        ts.second);
  if (ts.fraction) {
    int k = std::snprintf(buf + n, sizeof buf - n, ".%09u", static_cast<unsigned>(ts.fraction));
    n += k;
    while (buf[n - 1] == '0') --n;
  }
  return std::string(buf, static_cast<size_t>(n));
}

bool parseGuid(std::string_view t, SQLGUID& g) {
  if (t.size() == 38 && t.front() == '{' && t.back() == '}') t = t.substr(1, 36);
  if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') return false;
  uint8_t b[16];
  size_t k = 0;
  for (size_t i = 0; i < 36 && k < 16;) {
    if (t[i] == '-') {
      ++i;
      continue;
    }
    auto hex = [](char ch) {
      return ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : -1;
    };
    const int hi = hex(t[i]), lo = hex(t[i + 1]);
    if (hi < 0 || lo < 0) return false;
    b[k++] = static_cast<uint8_t>(hi * 16 + lo);
    i += 2;
  }
  g.Data1 = (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
  g.Data2 = static_cast<uint16_t>((b[4] << 8) | b[5]);
  g.Data3 = static_cast<uint16_t>((b[6] << 8) | b[7]);
  std::memcpy(g.Data4, b + 8, 8);
  return true;
}

std::string guidText(const SQLGUID& g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(g.Data1),
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                g.Data4[7]);
  return buf;
}

bool textToNumeric(std::string_view t, SQLSCHAR scale, SQL_NUMERIC_STRUCT& out, bool& fractionCut) {
  out = {};
  fractionCut = false;
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  unsigned __int128 v = 0;
  int fractionDigits = -1, precision = 0;
  const unsigned __int128 limit = ~static_cast<unsigned __int128>(0) / 10;
  for (; i < t.size(); ++i) {
    const char ch = t[i];
    if (ch == '.') {
      if (fractionDigits >= 0) return false;
      fractionDigits = 0;
      continue;
    }
    if (ch < '0' || ch > '9') return false;
    if (fractionDigits >= 0) {
      if (fractionDigits >= scale) {
        if (ch != '0') fractionCut = true;
        continue;
      }
      ++fractionDigits;
    }
    if (v > limit) return false;
    v = v * 10 + static_cast<unsigned>(ch - '0');
    if (v) ++precision;
  }
  for (int k = std::max(fractionDigits, 0); k < scale; ++k) {
    if (v > limit) return false;
    v *= 10;
    if (v) ++precision;
  }
  out.precision = static_cast<SQLCHAR>(std::max(precision, 1));
  out.scale = scale;
  out.sign = negative && v ? 0 : 1;
  for (int k = 0; k < SQL_MAX_NUMERIC_LEN; ++k) out.val[k] = static_cast<SQLCHAR>((v >> (8 * k)) & 0xFF);
  return true;
}

std::string numericToText(const SQL_NUMERIC_STRUCT& n) {
  unsigned __int128 v = 0;
  for (int k = SQL_MAX_NUMERIC_LEN - 1; k >= 0; --k) v = (v << 8) | n.val[k];
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v);
  int scale = n.scale;
  if (scale > 0) {
    if (static_cast<int>(digits.size()) <= scale) digits.insert(0, static_cast<size_t>(scale + 1) - digits.size(), '0');
    digits.insert(digits.size() - static_cast<size_t>(scale), ".");
  } else if (scale < 0) {
    digits.append(static_cast<size_t>(-scale), '0');
  }
  return n.sign ? digits : "-" + digits;
}

SQLRETURN getCell(const Result& r, int c, SQLSMALLINT cType, SQLPOINTER target, SQLLEN bufferLength, SQLLEN* length,
                  SQLLEN* indicator, PieceState* piece, Diagnostics& diag) {
  const ColumnDesc& d = r.columns()[static_cast<size_t>(c)];
  if (piece) {
    if (piece->column == c && piece->done) return SQL_NO_DATA;
    if (piece->column != c) *piece = PieceState{c, 0, false, {}};
  }
  const Cell cell = r.type(c);
  if (cell == Cell::Null) {
    if (!indicator) return diag.add("22002", "Indicator variable required but not supplied");
    *indicator = SQL_NULL_DATA;
    if (piece) piece->done = true;
    return SQL_SUCCESS;
  }
  if (!length) length = indicator;
  if (cType == SQL_C_DEFAULT || cType == SQL_ARD_TYPE) cType = defaultCType(d.sqlType);
  const bool continuing = piece && piece->offset > 0;

  switch (cType) {
    case SQL_C_WCHAR: {
      if (continuing) return putPiece(piece->bytes, 2, target, bufferLength, length, piece, diag);
      if (cell == Cell::Text && target && bufferLength >= 2) {
        // Straight into the caller's buffer when the whole text fits.
        const std::string_view t = r.text(c);
        size_t consumed = 0;
        const size_t capacity = static_cast<size_t>(bufferLength) / 2 - 1;
        const size_t n = utf8ToUtf16(t, static_cast<SQLWCHAR*>(target), capacity, &consumed);
        if (consumed == t.size()) {
          static_cast<SQLWCHAR*>(target)[n] = 0;
          if (length) *length = static_cast<SQLLEN>(n * 2);
          if (piece) piece->done = true;
          return SQL_SUCCESS;
        }
      }
      if ((cell == Cell::Integer || cell == Cell::Real) && target) {
        // Numbers are short ASCII: widened straight into the caller's buffer when they fit.
        char buf[64];
        const size_t n = numberText(r, c, d, buf);
        if (static_cast<SQLLEN>((n + 1) * 2) <= bufferLength) {
          auto* out = static_cast<SQLWCHAR*>(target);
          for (size_t k = 0; k < n; ++k) out[k] = static_cast<SQLWCHAR>(buf[k]);
          out[n] = 0;
          if (length) *length = static_cast<SQLLEN>(n * 2);
          if (piece) piece->done = true;
          return SQL_SUCCESS;
        }
      }
      const std::u16string w = toUtf16(cell == Cell::Text ? std::string(r.text(c)) : cellText(r, c, d));
      const std::string bytes(reinterpret_cast<const char*>(w.data()), w.size() * 2);
      return putPiece(bytes, 2, target, bufferLength, length, piece, diag);
    }
    case SQL_C_CHAR: {
      if (continuing) return putPiece(piece->bytes, 1, target, bufferLength, length, piece, diag);
      if (cell == Cell::Text) return putPiece(r.text(c), 1, target, bufferLength, length, piece, diag);
      if (cell == Cell::Integer || cell == Cell::Real) {
        char buf[64];
        const size_t n = numberText(r, c, d, buf);
        return putPiece(std::string_view(buf, n), 1, target, bufferLength, length, piece, diag);
      }
      return putPiece(cellText(r, c, d), 1, target, bufferLength, length, piece, diag);
    }
    case SQL_C_BINARY: {
      if (continuing) return putPiece(piece->bytes, 0, target, bufferLength, length, piece, diag);
      if (cell == Cell::Text || cell == Cell::Blob) {
        if (d.sqlType == SQL_GUID && cell == Cell::Text) {
          SQLGUID g;
          if (parseGuid(r.text(c), g))
            return putPiece(std::string_view(reinterpret_cast<const char*>(&g), sizeof g), 0, target, bufferLength,
                            length, piece, diag);
        }
        return putPiece(r.text(c), 0, target, bufferLength, length, piece, diag);
      }
      return putPiece(cellText(r, c, d), 0, target, bufferLength, length, piece, diag);
    }
    default:
      break;
  }

  if (piece) piece->done = true;  // fixed-size values are handed out once
  switch (cType) {
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME: {
      SQL_TIMESTAMP_STRUCT ts;
      if (cell != Cell::Text || !parseTimestamp(r.text(c), ts))
        return diag.add("22018", "Invalid character value for cast specification");
      if (cType == SQL_C_TYPE_TIMESTAMP || cType == SQL_C_TIMESTAMP) {
        if (target) *static_cast<SQL_TIMESTAMP_STRUCT*>(target) = ts;
        if (length) *length = sizeof ts;
        return SQL_SUCCESS;
      }
      if (cType == SQL_C_TYPE_DATE || cType == SQL_C_DATE) {
        if (target) *static_cast<SQL_DATE_STRUCT*>(target) = {ts.year, ts.month, ts.day};
        if (length) *length = sizeof(SQL_DATE_STRUCT);
        if (ts.hour || ts.minute || ts.second || ts.fraction) return diag.add("01S07", "Fractional truncation");
        return SQL_SUCCESS;
      }
      if (target) *static_cast<SQL_TIME_STRUCT*>(target) = {ts.hour, ts.minute, ts.second};
      if (length) *length = sizeof(SQL_TIME_STRUCT);
      if (ts.fraction) return diag.add("01S07", "Fractional truncation");
      return SQL_SUCCESS;
    }
    case SQL_C_GUID: {
      SQLGUID g{};
      if (cell == Cell::Blob && r.text(c).size() == sizeof g) {
        std::memcpy(&g, r.text(c).data(), sizeof g);
      } else if (cell != Cell::Text || !parseGuid(r.text(c), g)) {
        return diag.add("22018", "Invalid character value for cast specification");
      }
      if (target) *static_cast<SQLGUID*>(target) = g;
      if (length) *length = sizeof g;
      return SQL_SUCCESS;
    }
    case SQL_C_NUMERIC: {
      if (cell == Cell::Blob) return diag.add("07006", "Restricted data type attribute violation");
      const std::string text = cellText(r, c, d);
      SQL_NUMERIC_STRUCT n;
      bool cut = false;
      const SQLSCHAR scale = static_cast<SQLSCHAR>(isDecimal(d) ? d.digits : 0);
      std::string plain = text;
      if (cell == Cell::Real && !isDecimal(d)) plain = fixed(r.real(c), 15);
      if (!textToNumeric(plain, scale, n, cut)) return diag.add("22003", "Numeric value out of range");
      if (target) *static_cast<SQL_NUMERIC_STRUCT*>(target) = n;
      if (length) *length = sizeof n;
      return cut ? diag.add("01S07", "Fractional truncation") : SQL_SUCCESS;
    }
    default:
      break;
  }

  Number n;
  if (cell == Cell::Blob) return diag.add("07006", "Restricted data type attribute violation");
  if (!numberOf(r, c, n)) return diag.add("22018", "Invalid character value for cast specification");
  switch (cType) {
    case SQL_C_BIT: {
      const double v = n.integral ? static_cast<double>(n.i) : n.d;
      if (v < 0 || v >= 2) return diag.add("22003", "Numeric value out of range");
      if (target) *static_cast<unsigned char*>(target) = v >= 1 ? 1 : 0;
      if (length) *length = 1;
      return (v != 0 && v != 1) ? diag.add("01S07", "Fractional truncation") : SQL_SUCCESS;
    }
    case SQL_C_STINYINT:
    case SQL_C_TINYINT: return putInteger<signed char>(n, target, length, diag);
    case SQL_C_UTINYINT: return putInteger<unsigned char>(n, target, length, diag);
    case SQL_C_SSHORT:
    case SQL_C_SHORT: return putInteger<int16_t>(n, target, length, diag);
    case SQL_C_USHORT: return putInteger<uint16_t>(n, target, length, diag);
    case SQL_C_SLONG:
    case SQL_C_LONG: return putInteger<int32_t>(n, target, length, diag);
    case SQL_C_ULONG: return putInteger<uint32_t>(n, target, length, diag);
    case SQL_C_SBIGINT: return putInteger<int64_t>(n, target, length, diag);
    case SQL_C_UBIGINT: return putInteger<uint64_t>(n, target, length, diag);
    case SQL_C_DOUBLE:
      if (target) *static_cast<double*>(target) = n.integral ? static_cast<double>(n.i) : n.d;
      if (length) *length = sizeof(double);
      return SQL_SUCCESS;
    case SQL_C_FLOAT: {
      const double v = n.integral ? static_cast<double>(n.i) : n.d;
      if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max())
        return diag.add("22003", "Numeric value out of range");
      if (target) *static_cast<float*>(target) = static_cast<float>(v);
      if (length) *length = sizeof(float);
      return SQL_SUCCESS;
    }
    default:
      return diag.add("HY003", "Program type out of range");
  }
}

}  // namespace odbc
