#include "sql/values.h"

#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "jet/base/error.h"
#include "jet/base/value_text.h"

namespace sql {

namespace {

double decimalNumber(const jet::Decimal& d) {
  double m = 0;
  for (int i = 2; i >= 0; --i) m = m * 4294967296.0 + d.magnitude[static_cast<size_t>(i)];
  m /= std::pow(10.0, d.scale);
  return d.negative ? -m : m;
}

[[noreturn]] void refuse(const jet::ColumnInfo& c) {
  throw jet::Error(jet::err::kConversion, "Data type conversion error: the value does not fit the field '" + c.name + "'.",
                   "", c.name);
}

std::string textOf(sqlite3_value* v) {
  const unsigned char* t = sqlite3_value_text(v);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_value_bytes(v))) : std::string();
}

// A real as a whole number the way Access rounds (half to even); refused beyond int64.
int64_t wholeNumber(const jet::ColumnInfo& c, double d) {
  if (!std::isfinite(d)) refuse(c);
  double r = std::nearbyint(d);
  if (r < -9.2233720368547758e18 || r >= 9.2233720368547758e18) refuse(c);
  return static_cast<int64_t>(r);
}

}  // namespace

const char* declaredType(const jet::ColumnInfo& c) {
  using T = jet::ColumnType;
  switch (c.type) {
    case T::Boolean: return "BOOLEAN";
    case T::Byte:
    case T::Integer:
    case T::Long:
    case T::BigInt: return "INTEGER";
    case T::Currency: return "CURRENCY";
    case T::Single:
    case T::Double: return "REAL";
    case T::DateTime:
    case T::DateTimeExtended: return "DATETIME";
    case T::Text:
    case T::Memo: return "TEXT";
    case T::Guid: return "GUID";
    case T::Numeric: return "DECIMAL";
    case T::Complex: return "JSON";
    case T::Binary:
    case T::Ole: break;
  }
  return "BLOB";
}

std::string dateSqlText(double oleDays) {
  std::string s = jet::dateText(oleDays, true, true);
  if (s.size() > 10 && s[10] == 'T') s[10] = ' ';
  return s;
}

void setResult(sqlite3_context* ctx, const jet::Value& v) {
  struct Visitor {
    sqlite3_context* ctx;
    void operator()(const jet::Null&) { sqlite3_result_null(ctx); }
    void operator()(bool b) { sqlite3_result_int(ctx, b ? 1 : 0); }
    void operator()(int64_t i) { sqlite3_result_int64(ctx, i); }
    void operator()(const jet::Currency& c) { sqlite3_result_double(ctx, static_cast<double>(c.scaled) / 10000.0); }
    void operator()(float f) { sqlite3_result_double(ctx, static_cast<double>(f)); }
    void operator()(double d) { sqlite3_result_double(ctx, d); }
    void operator()(const jet::DateTime& d) {
      std::string s = dateSqlText(d.days);
      sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    void operator()(const std::string& s) { sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT); }
    void operator()(const jet::Bytes& b) {
      sqlite3_result_blob(ctx, b.empty() ? "" : static_cast<const void*>(b.data()), static_cast<int>(b.size()),
                          SQLITE_TRANSIENT);
    }
    void operator()(const jet::Guid& g) {
      std::string s = jet::guidText(g);
      sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
    void operator()(const jet::Decimal& d) { sqlite3_result_double(ctx, decimalNumber(d)); }
    void operator()(const jet::DateTimeExtended& d) {
      std::string s = jet::extendedDateText(d, false);
      sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    }
  };
  std::visit(Visitor{ctx}, v);
}

jet::Value plainValue(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: return static_cast<int64_t>(sqlite3_value_int64(v));
    case SQLITE_FLOAT: return sqlite3_value_double(v);
    case SQLITE_TEXT: return textOf(v);
    case SQLITE_BLOB: {
      const auto* p = static_cast<const uint8_t*>(sqlite3_value_blob(v));
      return jet::Bytes(p, p + sqlite3_value_bytes(v));
    }
    default: return jet::Null{};
  }
}

jet::Value columnValue(const jet::ColumnInfo& c, sqlite3_value* v) {
  using T = jet::ColumnType;
  const int kind = sqlite3_value_type(v);
  if (kind == SQLITE_NULL) return jet::Null{};
  const bool number = kind == SQLITE_INTEGER || kind == SQLITE_FLOAT;
  try {
    switch (c.type) {
      case T::Boolean:
        if (number) return sqlite3_value_double(v) != 0;
        {
          std::string t = textOf(v);
          if (t == "1" || t == "0") return t == "1";
          return jet::fromText(c.type, t);
        }
      case T::Byte:
      case T::Integer:
      case T::Long:
      case T::BigInt: {
        int64_t i = kind == SQLITE_INTEGER ? sqlite3_value_int64(v) : 0;
        if (kind == SQLITE_FLOAT) i = wholeNumber(c, sqlite3_value_double(v));
        if (!number) return jet::fromText(c.type, textOf(v));
        return i;
      }
      case T::Currency:
        if (kind == SQLITE_INTEGER) return jet::Currency{sqlite3_value_int64(v) * 10000};
        if (kind == SQLITE_FLOAT) return jet::Currency{wholeNumber(c, sqlite3_value_double(v) * 10000.0)};
        return jet::fromText(c.type, textOf(v));
      case T::Single:
        if (number) return static_cast<float>(sqlite3_value_double(v));
        return jet::fromText(c.type, textOf(v));
      case T::Double:
        if (number) return sqlite3_value_double(v);
        return jet::fromText(c.type, textOf(v));
      case T::DateTime:
        if (number) return jet::DateTime{sqlite3_value_double(v)};
        {
          std::string t = textOf(v);
          if (t.size() > 10 && t[10] == 'T') t[10] = ' ';
          return jet::fromText(c.type, t);
        }
      case T::DateTimeExtended: {
        std::string t = textOf(v);
        if (t.size() > 10 && t[10] == 'T') t[10] = ' ';
        return jet::fromText(c.type, t);
      }
      case T::Text:
      case T::Memo:
        return textOf(v);
      case T::Binary:
      case T::Ole: {
        if (kind == SQLITE_BLOB) return plainValue(v);
        std::string t = textOf(v);
        return jet::Bytes(t.begin(), t.end());
      }
      case T::Guid: return jet::fromText(c.type, textOf(v));
      case T::Numeric: {
        jet::Value d = jet::fromText(c.type, textOf(v), c.scale);
        if (auto* p = std::get_if<jet::Decimal>(&d); p && c.precision) p->precision = c.precision;
        return d;
      }
      case T::Complex: break;
    }
  } catch (const jet::Error&) {
    refuse(c);
  }
  refuse(c);
}

}  // namespace sql
