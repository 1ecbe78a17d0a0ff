#include "sql/index_seek.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "jet/base/error.h"
#include "jet/file_database.h"
#include "jet/table/table_scan.h"
#include "sql/values.h"

namespace sql {

namespace {

using jet::ColumnType;

constexpr int kIndexBits = 0xFF;
constexpr int kEqShift = 8;
constexpr int kLower = 1 << 16;
constexpr int kUpper = 1 << 17;
constexpr size_t kBatch = 256;

// Types whose key order is the order SQLite sorts their values in, for a range (`forOrder` false)
// or for a whole ORDER BY. Text is left out (keys follow the collation, SQLite compares bytes), as
// are GUIDs, Decimal and binary. Dates serve ranges only: before 1899-12-30 a day's times run
// backwards as numbers (bounds are widened to whole days there), so their keys are not SQL's order.
bool ordered(ColumnType t, bool forOrder = false) {
  if (t == ColumnType::DateTime) return !forOrder;
  switch (t) {
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::BigInt:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
      return true;
    default:
      return false;
  }
}

bool isRange(unsigned char op) {
  return op == SQLITE_INDEX_CONSTRAINT_GT || op == SQLITE_INDEX_CONSTRAINT_GE || op == SQLITE_INDEX_CONSTRAINT_LT ||
         op == SQLITE_INDEX_CONSTRAINT_LE;
}
bool isLowerBound(unsigned char op) { return op == SQLITE_INDEX_CONSTRAINT_GT || op == SQLITE_INDEX_CONSTRAINT_GE; }

struct Plan {
  int index = -1;
  int eq = 0;
  int lower = -1, upper = -1;  // constraint numbers
  std::vector<int> eqConstraints;
  bool orderConsumed = false;
  double cost = 0;
  double rows = 0;
  bool unique = false;
};

// The key pages of a table read straight from the page file (an index seek never writes).
class ReadOnlyStore : public jet::IndexPageStore {
 public:
  explicit ReadOnlyStore(jet::FileDatabase& db) : db_(db) {}
  jet::Format format() const override { return db_.format(); }
  void readPage(uint32_t page, uint8_t* out) override {
    jet::PageRef p = db_.pageFile().page(page);
    std::memcpy(out, p->data(), db_.pageSize());
  }
  void writePage(uint32_t, const uint8_t*) override { refuse(); }
  uint32_t allocatePage() override { refuse(); }
  void freePage(uint32_t) override { refuse(); }

 private:
  [[noreturn]] static void refuse() { throw jet::Error(jet::err::kReadOnly, "Cannot update. Database or object is read-only."); }
  jet::FileDatabase& db_;
};

// The value of an SQL argument as a key entry of the column; false when it does not convert (the
// seek then drops that part of the key and reads more entries).
// A date's SQL text stands for every stored value that reads as it (to the millisecond), so a date
// bound is moved by `nudge` milliseconds outwards. Dates before 1899-12-30 count their time of day
// away from zero (-1.25 is 6:00 on 1899-12-29), so such a day's values run backwards as numbers:
// a bound there widens to the whole of its day.
double widened(double days, int nudge) {
  const double ms = 1 / 86400000.0;
  if (days >= 0) return days + nudge * ms;
  const double whole = std::trunc(days);
  if (nudge < 0) return whole - 1 - ms;
  return (whole < 0 ? whole : -days) + ms;
}

bool appendArgument(const jet::IndexOutline& o, size_t keyColumn, const jet::TableInfo& info, sqlite3_value* v,
                    jet::Bytes& key, int nudge = 0) {
  const int field = o.fields[keyColumn];
  if (field < 0 || static_cast<size_t>(field) >= info.columns.size()) return false;
  try {
    jet::Value value = columnValue(info.columns[static_cast<size_t>(field)], v);
    if (auto* date = std::get_if<jet::DateTime>(&value); date && nudge) date->days = widened(date->days, nudge);
    jet::appendKeyEntry(o.columns[keyColumn], value, key);
    return true;
  } catch (const jet::Error&) {
    return false;
  }
}

}  // namespace

void planIndex(BridgeTable& t, sqlite3_index_info* info) {
  const double n = std::max<double>(t.info.rowCount, 1);
  Plan best;
  best.cost = n + 10;
  best.rows = n;
  const double sortCost = info->nOrderBy > 0 ? n * std::log2(n + 1) / 4 : 0;
  best.cost += sortCost;
  for (size_t x = 0; x < t.indexes.size(); ++x) {
    const jet::IndexOutline& o = t.indexes[x];
    Plan p;
    p.index = static_cast<int>(x);
    // Equality on the leading key columns.
    size_t k = 0;
    for (; k < o.columns.size(); ++k) {
      int found = -1;
      for (int c = 0; c < info->nConstraint; ++c) {
        const auto& con = info->aConstraint[c];
        if (con.usable && con.op == SQLITE_INDEX_CONSTRAINT_EQ && con.iColumn == o.fields[k]) {
          found = c;
          break;
        }
      }
      if (found < 0) break;
      p.eqConstraints.push_back(found);
    }
    p.eq = static_cast<int>(k);
    // A range on the next one, when its key order is SQLite's order.
    if (k < o.columns.size() && o.columns[k].ascending &&
        ordered(t.info.columns[static_cast<size_t>(o.fields[k])].type)) {
      for (int c = 0; c < info->nConstraint; ++c) {
        const auto& con = info->aConstraint[c];
        if (!con.usable || con.iColumn != o.fields[k] || !isRange(con.op)) continue;
        int& slot = isLowerBound(con.op) ? p.lower : p.upper;
        if (slot < 0) slot = c;
      }
    }
    // The ORDER BY the index order gives: the key columns after the equal ones, same directions.
    bool orderOk = info->nOrderBy > 0 && static_cast<size_t>(info->nOrderBy) + k <= o.columns.size();
    for (int i = 0; orderOk && i < info->nOrderBy; ++i) {
      const size_t kc = k + static_cast<size_t>(i);
      const auto& ob = info->aOrderBy[i];
      orderOk = ob.iColumn == o.fields[kc] && !ob.desc == o.columns[kc].ascending &&
                ordered(t.info.columns[static_cast<size_t>(o.fields[kc])].type, true);
    }
    // An index that leaves out rows with Null keys cannot stand in for the table without a
    // constraint that excludes them anyway.
    if (k == 0 && p.lower < 0 && p.upper < 0 && (!orderOk || o.ignoreNulls)) continue;
    double rows = n;
    for (size_t i = 0; i < k; ++i) rows /= 10;
    if (p.lower >= 0) rows /= 3;
    if (p.upper >= 0) rows /= 3;
    p.unique = k == o.columns.size() && t.uniqueKey[x];
    if (p.unique) rows = 1;
    rows = std::max(rows, 1.0);
    // Each row found through the index costs a page read of its own.
    p.cost = std::log2(n + 1) + rows * 2 + (orderOk ? 0 : sortCost);
    p.rows = rows;
    p.orderConsumed = orderOk;
    if (p.cost < best.cost) best = p;
  }
  info->estimatedCost = best.cost;
  info->estimatedRows = static_cast<sqlite3_int64>(best.rows);
  if (best.index < 0) {
    info->idxNum = 0;
    return;
  }
  int arg = 1;
  for (int c : best.eqConstraints) info->aConstraintUsage[c].argvIndex = arg++;
  if (best.lower >= 0) info->aConstraintUsage[best.lower].argvIndex = arg++;
  if (best.upper >= 0) info->aConstraintUsage[best.upper].argvIndex = arg++;
  info->idxNum = (best.index + 1) | (best.eq << kEqShift) | (best.lower >= 0 ? kLower : 0) | (best.upper >= 0 ? kUpper : 0);
  info->orderByConsumed = best.orderConsumed ? 1 : 0;
  if (best.unique) info->idxFlags |= SQLITE_INDEX_SCAN_UNIQUE;
}

IndexSeek::IndexSeek(Bridge& bridge, BridgeTable& table, int plan, int argc, sqlite3_value** argv)
    : bridge_(bridge), table_(table) {
  const size_t index = static_cast<size_t>((plan & kIndexBits) - 1);
  if (!bridge.local() || index >= table.indexes.size())
    throw jet::Error(jet::err::kInvalidOperation, "Invalid operation: no such index plan.");
  outline_ = &table.indexes[index];
  // Pages are read directly here: each step is a read operation of its own.
  auto reading = bridge.db().readOperation();
  jet::FileDatabase& db = *bridge.local();
  store_ = std::make_unique<ReadOnlyStore>(db);
  tree_ = std::make_unique<jet::IndexTree>(*store_, outline_->rootPage, table.info.tdefPage);
  const size_t eq = static_cast<size_t>((plan >> kEqShift) & 0xFF);
  int arg = 0;
  size_t k = 0;
  jet::Bytes prefix;
  bool exact = true;  // every equality converted
  bool dateRange = false;  // an equality on a date became the range of its stored values
  for (; k < eq && arg < argc && !dateRange; ++k, ++arg) {
    if (!exact) continue;
    const int field = outline_->fields[k];
    if (field >= 0 && static_cast<size_t>(field) < table.info.columns.size() &&
        table.info.columns[static_cast<size_t>(field)].type == jet::ColumnType::DateTime) {
      // The key columns after it are not used: the range ends the key.
      jet::Bytes low = prefix, high = prefix;
      if (!appendArgument(*outline_, k, table.info, argv[arg], low, -1) ||
          !appendArgument(*outline_, k, table.info, argv[arg], high, 1)) {
        exact = false;
        continue;
      }
      if (!outline_->columns[k].ascending) std::swap(low, high);
      start_ = std::move(low);
      stop_ = std::move(high);
      dateRange = true;
    } else if (!appendArgument(*outline_, k, table.info, argv[arg], prefix)) {
      exact = false;
    }
  }
  if (!dateRange) {
    // A value the column cannot hold matches nothing SQLite would keep; reading the whole index
    // stays correct.
    if (!exact) prefix.clear();
    start_ = prefix;
    stop_ = prefix;
  }
  bounded_ = exact && eq > 0;
  if (exact && !dateRange && (plan & kLower) && arg < argc) {
    jet::Bytes lower = prefix;
    if (appendArgument(*outline_, k, table.info, argv[arg], lower, -1)) start_ = lower;
    ++arg;
  }
  if (exact && !dateRange && (plan & kUpper) && arg < argc) {
    jet::Bytes upper = prefix;
    if (appendArgument(*outline_, k, table.info, argv[arg], upper, 1)) {
      stop_ = upper;
      bounded_ = true;
    }
    ++arg;
  }
  row_ = std::make_unique<LazyRow>(db, bridge.definition(table));
}

IndexSeek::~IndexSeek() = default;

bool IndexSeek::fill() {
  rows_.clear();
  at_ = 0;
  if (done_) return false;
  jet::IndexEntry from;
  from.key = start_;
  const bool resuming = resumeSet_;
  if (resuming) from = resume_;
  bool skipFirst = resuming;
  tree_->scan(
      [&](const jet::IndexEntry& e) {
        if (skipFirst && e == resume_) {
          skipFirst = false;
          return true;
        }
        skipFirst = false;
        if (bounded_) {
          const size_t n = std::min(e.key.size(), stop_.size());
          const int c = std::memcmp(e.key.data(), stop_.data(), n);
          if (c > 0) {
            done_ = true;
            return false;
          }
        }
        rows_.push_back(e.row);
        if (rows_.size() >= kBatch) {
          resume_ = e;
          resume_.child = 0;
          resumeSet_ = true;
          return false;
        }
        return true;
      },
      &from);
  if (rows_.size() < kBatch) done_ = true;
  return !rows_.empty();
}

bool IndexSeek::next() {
  auto reading = bridge_.db().readOperation();
  jet::FileDatabase& db = *bridge_.local();
  for (;;) {
    if (started_) ++at_;
    started_ = true;
    if (at_ >= rows_.size()) {
      if (!fill()) return false;
    }
    // An entry whose row was deleted in this statement is passed over.
    jet::RowSlot slot;
    jet::PageRef page = jet::resolveRow(db.pageFile(), db.format(), rows_[at_], slot);
    if (slot.deleted) continue;
    page_ = std::move(page);
    row_->reset(page_->data() + slot.start, slot.size());
    return true;
  }
}


}  // namespace sql
