// Access's functions as SQL functions of the connection, so that translated queries call them by
// their own names. Each scalar function is the expression engine's: its arguments cross from SQL
// values into engine values (a text in SQL's date form 'YYYY-MM-DD[ HH:MM:SS[.mmm]]' becomes a
// date, as Date/Time columns read in SQL), the engine evaluates, and the result crosses back as
// columns do (dates as SQL's date text, Yes/No as 1/0, Currency and Decimal as REAL). Where SQLite
// has a function of the same name and meaning, SQLite's stays. The aggregates SQLite lacks (First,
// Last, StDev, Var and their population forms) are written here.
#include "sql/access_functions.h"

#include <sqlite3.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "jet/base/error.h"
#include "jet/base/names.h"
#include "jet/base/value.h"
#include "jet/base/value_text.h"
#include "jet/expr/expression.h"
#include "jet/expr/functions.h"
#include "sql/values.h"

namespace sql {

namespace {

// SQLite's own functions that behave as Access's of the same name; SQLite's are kept for them.
const char* const kSqliteEquals[] = {"Sum", "Avg", "Count", "Min", "Max", "Abs", "Trim", "LTrim", "RTrim", "Replace"};
const char* const kAggregates[] = {"First", "Last", "StDev", "StDevP", "Var", "VarP"};

using jet::sameName;

bool sqliteEqual(const std::string& name) {
  for (const char* s : kSqliteEquals)
    if (sameName(s, name)) return true;
  return false;
}

// True for SQL's date text: 'YYYY-MM-DD', optionally with ' HH:MM:SS' (or 'T') and a fraction.
bool sqlDateShape(const std::string& t) {
  auto digits = [&](size_t from, size_t n) {
    for (size_t i = from; i < from + n; ++i)
      if (i >= t.size() || !std::isdigit(static_cast<unsigned char>(t[i]))) return false;
    return true;
  };
  if (!digits(0, 4) || t.size() < 10 || t[4] != '-' || !digits(5, 2) || t[7] != '-' || !digits(8, 2)) return false;
  if (t.size() == 10) return true;
  if ((t[10] != ' ' && t[10] != 'T') || !digits(11, 2) || t[13] != ':' || !digits(14, 2) || t[16] != ':' || !digits(17, 2))
    return false;
  return t.size() == 19 || (t[19] == '.' && t.size() > 20 && digits(20, t.size() - 20));
}

jet::Value argument(sqlite3_value* v) {
  jet::Value value = plainValue(v);
  if (auto* text = std::get_if<std::string>(&value); text && sqlDateShape(*text)) {
    std::string t = *text;
    if (t.size() > 10) t[10] = ' ';
    try {
      return jet::fromText(jet::ColumnType::DateTime, t);
    } catch (const jet::Error&) {
      // Not a real date (month 13...): the engine sees the text.
    }
  }
  return value;
}

void callScalar(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const char* name = static_cast<const char*>(sqlite3_user_data(ctx));
  std::vector<jet::Value> args;
  args.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) args.push_back(argument(argv[i]));
  try {
    setResult(ctx, jet::expr::callFunction(name, args));
  } catch (const jet::Error& e) {
    sqlite3_result_error(ctx, (std::string(name) + ": " + e.what()).c_str(), -1);
  }
}

// Aggregates SQLite lacks.
struct FirstLast {
  sqlite3_value* value;
};

template <bool Last>
void stepFirstLast(sqlite3_context* ctx, int, sqlite3_value** a) {
  auto* s = static_cast<FirstLast*>(sqlite3_aggregate_context(ctx, sizeof(FirstLast)));
  if (!s) return;
  if (s->value && !Last) return;
  sqlite3_value_free(s->value);
  s->value = sqlite3_value_dup(a[0]);
}

void finalFirstLast(sqlite3_context* ctx) {
  auto* s = static_cast<FirstLast*>(sqlite3_aggregate_context(ctx, 0));
  if (!s || !s->value) return sqlite3_result_null(ctx);
  sqlite3_result_value(ctx, s->value);
  sqlite3_value_free(s->value);
}

struct Moments {
  int64_t n;
  double mean, m2;
};

void stepMoments(sqlite3_context* ctx, int, sqlite3_value** a) {
  if (sqlite3_value_type(a[0]) == SQLITE_NULL) return;
  auto* s = static_cast<Moments*>(sqlite3_aggregate_context(ctx, sizeof(Moments)));
  if (!s) return;
  const double x = sqlite3_value_double(a[0]);
  ++s->n;
  const double delta = x - s->mean;
  s->mean += delta / static_cast<double>(s->n);
  s->m2 += delta * (x - s->mean);
}

template <bool Sample, bool Root>
void finalMoments(sqlite3_context* ctx) {
  auto* s = static_cast<Moments*>(sqlite3_aggregate_context(ctx, 0));
  const int64_t minimum = Sample ? 2 : 1;
  if (!s || s->n < minimum) return sqlite3_result_null(ctx);
  const double v = s->m2 / static_cast<double>(Sample ? s->n - 1 : s->n);
  sqlite3_result_double(ctx, Root ? std::sqrt(v) : v);
}

// The engine's functions registered on a connection: each at every argument count it takes (any
// count for the long lists of Choose and Switch).
template <typename Visit>
void forEachEngineFunction(Visit visit) {
  for (auto table : {jet::expr::textAndNumberFunctions(), jet::expr::dateFunctions()})
    for (const jet::expr::FunctionInfo& f : table)
      if (!sqliteEqual(f.name)) visit(f);
}

}  // namespace

bool knownFunction(const std::string& name) {
  bool found = sqliteEqual(name);
  for (const char* g : kAggregates) found = found || sameName(g, name);
  forEachEngineFunction([&](const jet::expr::FunctionInfo& f) { found = found || sameName(f.name, name); });
  return found;
}

void registerAccessFunctions(sqlite3* db) {
  forEachEngineFunction([db](const jet::expr::FunctionInfo& f) {
    const int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
    auto* name = const_cast<char*>(f.name);
    if (f.maxArgs - f.minArgs > 6) {
      sqlite3_create_function_v2(db, f.name, -1, flags, name, callScalar, nullptr, nullptr, nullptr);
      return;
    }
    for (int n = f.minArgs; n <= f.maxArgs; ++n)
      sqlite3_create_function_v2(db, f.name, n, flags, name, callScalar, nullptr, nullptr, nullptr);
  });
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function_v2(db, "First", 1, SQLITE_UTF8, nullptr, nullptr, stepFirstLast<false>, finalFirstLast, nullptr);
  sqlite3_create_function_v2(db, "Last", 1, SQLITE_UTF8, nullptr, nullptr, stepFirstLast<true>, finalFirstLast, nullptr);
  sqlite3_create_function_v2(db, "StDev", 1, flags, nullptr, nullptr, stepMoments, finalMoments<true, true>, nullptr);
  sqlite3_create_function_v2(db, "StDevP", 1, flags, nullptr, nullptr, stepMoments, finalMoments<false, true>, nullptr);
  sqlite3_create_function_v2(db, "Var", 1, flags, nullptr, nullptr, stepMoments, finalMoments<true, false>, nullptr);
  sqlite3_create_function_v2(db, "VarP", 1, flags, nullptr, nullptr, stepMoments, finalMoments<false, false>, nullptr);
}

}  // namespace sql
