#include "jet/index/table_indexes.h"

#include <algorithm>

#include "jet/base/error.h"

namespace jet {

TableIndexes::TableIndexes(IndexPageStore& store, uint32_t tdefPage, std::vector<IndexOutline> outlines)
    : store_(store), outlines_(std::move(outlines)), capacity_(IndexPageLayout::of(store.format()).capacity()) {
  for (const auto& s : outlines_) {
    trees_.emplace_back(store, s.rootPage, tdefPage);
    for (const auto& c : s.columns) {
      std::string why = keyColumnProblem(c);
      if (!why.empty() && problem_.empty()) problem_ = "The index '" + s.name + "' cannot be maintained: " + why + ".";
    }
  }
}

void TableIndexes::keysOf(const std::vector<Value>* row, std::vector<RowKey>& keys) const {
  keys.resize(outlines_.size());
  for (size_t i = 0; i < outlines_.size(); ++i) {
    RowKey& k = keys[i];
    if (row) {
      k.present = rowKeyInto(outlines_[i], *row, k.bytes, k.nulls);
    } else {
      k.present = false;
      k.nulls = 0;
    }
  }
}

void TableIndexes::checkKeys(const std::vector<RowKey>& oldKeys, const std::vector<RowKey>& newKeys) {
  for (size_t i = 0; i < outlines_.size(); ++i) {
    const IndexOutline& s = outlines_[i];
    const size_t nulls = newKeys[i].nulls;
    if (s.required && nulls > 0) throw Error(err::kNullInIndex, "Index or primary key cannot contain a Null value.");
    if (!newKeys[i].present) continue;
    const Bytes& key = newKeys[i].bytes;
    // Every entry must fit on an index page by itself.
    if (key.size() + 8 > capacity_)
      throw Error(err::kInvalidOperation, "The values for the index '" + s.name + "' are too long to be indexed.");
    // Rows whose key columns are all Null never conflict; a row keeping its own key does not either.
    if (!s.unique || nulls == s.columns.size()) continue;
    if (oldKeys[i].present && oldKeys[i].bytes == key) continue;
    if (trees_[i].containsKey(key))
      throw Error(err::kDuplicateKey,
                  "The changes you requested to the table were not successful because they would create duplicate "
                  "values in the index, primary key, or relationship. Change the data in the field or fields that "
                  "contain duplicate data, remove the index, or redefine the index to permit duplicate entries and "
                  "try again.");
  }
}

void TableIndexes::applyKeys(const std::vector<RowKey>& oldKeys, RowId oldId, const std::vector<RowKey>& newKeys,
                             RowId newId) {
  for (size_t i = 0; i < outlines_.size(); ++i) {
    const RowKey& oldKey = oldKeys[i];
    const RowKey& newKey = newKeys[i];
    if (oldKey.present && newKey.present && oldKey.bytes == newKey.bytes && oldId == newId) continue;
    if (oldKey.present) trees_[i].erase(IndexEntry{oldKey.bytes, oldId, 0});
    // The entry takes a copy of its own size; the buffer stays for the next row.
    if (newKey.present) trees_[i].insert(IndexEntry{newKey.bytes, newId, 0});
  }
}

void TableIndexes::check(const std::vector<Value>* oldRow, RowId, const std::vector<Value>* newRow, RowId) {
  if (!problem_.empty()) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only. " + problem_);
  if (!newRow) return;
  keysOf(oldRow, oldKeys_);
  keysOf(newRow, newKeys_);
  checkKeys(oldKeys_, newKeys_);
}

void TableIndexes::apply(const std::vector<Value>* oldRow, RowId oldId, const std::vector<Value>* newRow, RowId newId) {
  if (!problem_.empty()) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only. " + problem_);
  keysOf(oldRow, oldKeys_);
  keysOf(newRow, newKeys_);
  applyKeys(oldKeys_, oldId, newKeys_, newId);
}

void TableIndexes::maintain(const std::vector<Value>* oldRow, RowId oldId, const std::vector<Value>* newRow, RowId newId) {
  if (!problem_.empty()) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only. " + problem_);
  keysOf(oldRow, oldKeys_);
  keysOf(newRow, newKeys_);
  if (newRow) checkKeys(oldKeys_, newKeys_);
  applyKeys(oldKeys_, oldId, newKeys_, newId);
}

void TableIndexes::setDeferredWrites(bool deferred) {
  for (auto& t : trees_) t.setDeferredWrites(deferred);
}

void TableIndexes::flush() {
  for (auto& t : trees_) t.flush();
}

void TableIndexes::discardCache() {
  for (auto& t : trees_) t.discardCache();
}

namespace {
TableIndexes::RowSource fromVector(const std::vector<std::pair<RowId, std::vector<Value>>>& rows) {
  return [&rows, i = size_t{0}](RowId& id, std::vector<Value>& values) mutable {
    if (i == rows.size()) return false;
    id = rows[i].first;
    values = rows[i].second;
    ++i;
    return true;
  };
}
}  // namespace

void TableIndexes::rebuild(const std::vector<std::pair<RowId, std::vector<Value>>>& rows) { rebuild(fromVector(rows)); }

std::vector<std::string> TableIndexes::verify(const std::vector<std::pair<RowId, std::vector<Value>>>& rows) {
  return verify(fromVector(rows));
}

void TableIndexes::rebuild(const RowSource& rows) {
  if (!problem_.empty()) throw Error(err::kReadOnly, "Cannot update. Database or object is read-only. " + problem_);
  std::vector<std::vector<IndexEntry>> all(outlines_.size());
  RowId id;
  std::vector<Value> values;
  while (rows(id, values))
    for (size_t i = 0; i < outlines_.size(); ++i)
      if (auto key = rowKey(outlines_[i], values)) all[i].push_back({std::move(*key), id, 0});
  for (size_t i = 0; i < outlines_.size(); ++i) trees_[i].rebuild(std::move(all[i]));
}

std::vector<std::string> TableIndexes::verify(const RowSource& rows) {
  std::vector<std::string> problems;
  // The entries each index should hold, and which of them have only Null key columns (those may
  // repeat in a unique index).
  struct Expected {
    IndexEntry entry;
    bool allNull;
  };
  std::vector<std::vector<Expected>> expected(outlines_.size());
  if (problem_.empty()) {
    RowId id;
    std::vector<Value> values;
    while (rows(id, values)) {
      for (size_t i = 0; i < outlines_.size(); ++i) {
        const IndexOutline& s = outlines_[i];
        auto key = rowKey(s, values);
        if (!key) continue;
        bool allNull = true;
        for (size_t c = 0; c < s.columns.size(); ++c) {
          int f = c < s.fields.size() ? s.fields[c] : -1;
          if (!isNullKeyValue(s.columns[c], f >= 0 && static_cast<size_t>(f) < values.size() ? values[f] : Value{})) allNull = false;
        }
        expected[i].push_back({IndexEntry{std::move(*key), id, 0}, allNull});
      }
    }
  }
  for (size_t i = 0; i < outlines_.size(); ++i) {
    const std::string name = "index '" + outlines_[i].name + "'";
    for (auto& p : trees_[i].verify()) problems.push_back(name + ": " + p);
    if (!problem_.empty()) continue;  // keys cannot be computed; only the structure was checked
    auto& want = expected[i];
    std::sort(want.begin(), want.end(), [](const Expected& a, const Expected& b) { return a.entry < b.entry; });
    size_t e = 0, reported = 0;
    auto report = [&](const IndexEntry& x, bool extra) {
      if (reported++ < 20)
        problems.push_back(name + (extra ? " holds an entry for no row: page " : " lacks the entry of the row on page ") +
                           std::to_string(x.row.page) + " row " + std::to_string(x.row.row));
    };
    try {
      trees_[i].scan([&](const IndexEntry& a) {
        while (e < want.size() && want[e].entry < a) report(want[e++].entry, false);
        if (e < want.size() && compareEntries(want[e].entry, a) == 0) ++e;
        else report(a, true);
        return true;
      });
    } catch (const Error& err) {
      problems.push_back(name + ": " + err.description());
      continue;
    }
    while (e < want.size()) report(want[e++].entry, false);
    if (outlines_[i].unique) {
      for (size_t k = 1; k < want.size(); ++k) {
        if (want[k].entry.key == want[k - 1].entry.key && !want[k].allNull) {
          problems.push_back(name + " is unique but holds the same key twice");
          break;
        }
      }
    }
    std::vector<Expected>().swap(want);
  }
  return problems;
}

}  // namespace jet
