// Seeded random inserts, updates and deletes over three tables tied by enforced relationships of
// random kinds (refusing, cascading updates, deletes or Nulls). After every step each relationship
// holds, a refused step changed no row, and at the end the whole-file check passes.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "jet/database.h"
#include "jet/support/test_files.h"

namespace {

using jet::Value;

// Foreign table, its field, primary table (keyed by its first field).
struct Link {
  const char* name;
  const char* child;
  size_t field;
  const char* parent;
};
const Link kLinks[] = {{"AB", "B", 1, "A"}, {"BC", "C", 1, "B"}, {"AC", "C", 2, "A"}};
const char* const kTables[] = {"A", "B", "C"};

using Content = std::map<std::string, std::vector<std::vector<Value>>>;

Content contentOf(jet::Database& db) {
  Content out;
  for (const char* t : kTables) {
    auto c = db.openTable(t);
    while (c->next()) out[t].push_back(c->values());
    std::sort(out[t].begin(), out[t].end(), [](auto& x, auto& y) { return jet::toText(x[0]) < jet::toText(y[0]); });
  }
  return out;
}

// Every non-Null foreign key finds its primary row.
std::string brokenLink(const Content& c) {
  for (const Link& l : kLinks)
    for (const auto& row : c.at(l.child)) {
      if (jet::isNull(row[l.field])) continue;
      const auto& parents = c.at(l.parent);
      if (std::none_of(parents.begin(), parents.end(), [&](auto& p) { return p[0] == row[l.field]; }))
        return std::string(l.name) + ": " + l.child + " row " + jet::toText(row[0]) + " has no parent";
    }
  return "";
}

TEST(IntegrityRandom, RelationshipsHoldAfterEveryStep) {
  const int32_t kinds[] = {0, jet::kRelationDeleteCascade, jet::kRelationUpdateCascade, 0x2000,
                           jet::kRelationDeleteCascade | jet::kRelationUpdateCascade};
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    jettest::TempDir dir;
    auto db = jet::Database::create((dir.path() / "r.mdb").string(), {seed % 2 ? jet::Format::Jet4 : jet::Format::Jet3});
    for (size_t t = 0; t < 3; ++t) {
      jet::NewTable nt;
      nt.name = kTables[t];
      for (const char* f : {"id", "x", "y"}) nt.columns.push_back({f, jet::ColumnType::Long});
      nt.columns.resize(t + 1);
      nt.indexes.push_back({"PrimaryKey", {{0, true}}, true, true, false, true});
      db->createTable(nt);
    }
    for (const Link& l : kLinks)
      db->createRelationship({l.name, l.parent, l.child, {{"id", l.field == 1 ? "x" : "y"}}, kinds[pick(5)]});
    auto key = [&]() -> Value { return pick(8) ? Value(int64_t(pick(12))) : Value(jet::Null{}); };
    auto rowOf = [&](size_t t) {
      std::vector<Value> r{int64_t(pick(12))};
      for (size_t i = 1; i <= t; ++i) r.push_back(key());
      return r;
    };
    std::map<int, int> outcomes;
    for (int step = 0; step < 400; ++step) {
      const Content before = contentOf(*db);
      const size_t t = size_t(pick(3));
      const std::string table = kTables[t];
      auto cursor = db->openTable(table);
      std::vector<std::pair<jet::RowId, std::vector<Value>>> live;
      while (cursor->next()) live.emplace_back(cursor->rowId(), cursor->values());
      int error = 0;
      try {
        const int op = pick(10);
        if (op < 5 || live.empty()) {
          db->insertRow(table, rowOf(t));
        } else if (op < 8) {
          auto& [id, values] = live[size_t(pick(int(live.size())))];
          values[size_t(pick(int(values.size())))] = t == 0 || pick(2) ? Value(int64_t(pick(12))) : key();
          db->updateRow(table, id, values);
        } else {
          db->deleteRow(table, live[size_t(pick(int(live.size())))].first);
        }
      } catch (const jet::Error& e) {
        error = e.number();
      }
      ++outcomes[error];
      const Content after = contentOf(*db);
      ASSERT_EQ(brokenLink(after), "") << "step " << step;
      if (error) {
        ASSERT_TRUE(error == 3200 || error == 3201 || error == 3022 || error == 3058) << error;
        ASSERT_TRUE(after == before) << "step " << step << ": a refused change changed rows";
      }
    }
    // Both refusals and cascades happened.
    EXPECT_GT(outcomes[0], 100);
    EXPECT_GT(outcomes[3201], 0);
    EXPECT_TRUE(db->check().ok());
  }
}

}  // namespace
