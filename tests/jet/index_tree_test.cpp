// Index pages and b-tree maintenance: pages read back as written and damaged ones are refused,
// random insert/delete sequences keep a sound tree holding exactly the expected entries, rebuilt
// leaves are full, keys too long for a page are refused and an unknown sort order makes a table
// read-only. (Uniqueness and ignore-nulls of a table's indexes: the random operations on every
// Access file.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <set>

#include "jet/base/error.h"
#include "jet/index/index.h"
#include "jet/index/index_page.h"
#include "jet/support/test_files.h"
#include "support/error_of.h"

namespace {

// Pages in memory; page 0 is never handed out (it is the file header in a database).
class MemStore : public jet::IndexPageStore {
 public:
  explicit MemStore(jet::Format f) : format_(f), size_(jet::IndexPageLayout::of(f).pageSize) { pages_.resize(1); }
  jet::Format format() const override { return format_; }
  void readPage(uint32_t p, uint8_t* out) override {
    if (p >= pages_.size()) throw jet::Error(jet::err::kCorrupt, "page out of range");
    ASSERT_FALSE(free_.count(p)) << "read of freed page " << p;
    std::memcpy(out, pages_[p].data(), size_);
  }
  void writePage(uint32_t p, const uint8_t* d) override {
    ASSERT_LT(p, pages_.size());
    ASSERT_FALSE(free_.count(p)) << "write to freed page " << p;
    pages_[p].assign(d, d + size_);
  }
  uint32_t allocatePage() override {
    if (!free_.empty()) {
      uint32_t p = *free_.begin();
      free_.erase(free_.begin());
      return p;
    }
    pages_.emplace_back(size_, 0);
    return static_cast<uint32_t>(pages_.size() - 1);
  }
  void freePage(uint32_t p) override {
    EXPECT_TRUE(free_.insert(p).second) << "page freed twice: " << p;
  }
  // A new tree: an empty leaf at a fresh root page.
  uint32_t newRoot() { return jet::IndexTree::createEmpty(*this, 7); }
  size_t pagesInUse() const { return pages_.size() - 1 - free_.size(); }
  bool operator==(const MemStore& o) const { return pages_ == o.pages_ && free_ == o.free_; }

 private:
  jet::Format format_;
  size_t size_;
  std::vector<std::vector<uint8_t>> pages_;
  std::set<uint32_t> free_;
};

jet::IndexEntry randomEntry(std::mt19937& rng, size_t maxKey) {
  jet::IndexEntry e;
  std::uniform_int_distribution<size_t> len(1, maxKey);
  std::uniform_int_distribution<int> byte(0, 3);  // few distinct bytes: long shared prefixes
  e.key.resize(len(rng));
  for (auto& b : e.key) b = static_cast<uint8_t>(0x40 + byte(rng));
  e.row = jet::RowId{static_cast<uint32_t>(rng() % 5000 + 1), static_cast<uint16_t>(rng() % 256)};
  return e;
}

std::string firstProblem(jet::IndexTree& t) {
  auto p = t.verify();
  return p.empty() ? "" : p.front();
}

TEST(IndexPages, AccessPagesReadBackAsWritten) {
  // Every index page in the Access-made files, parsed and written again, gives the same header,
  // entry map and entries (prefix compression included).
  size_t pages = 0, multi = 0;
  for (const char* f : {"compIndexTestV1997.mdb", "compIndexTestV2000.mdb", "testIndexCodesV1997.mdb", "indexTestV2000.mdb",
                        "testIndexPropertiesV2000.mdb", "bigIndexTestV2000.mdb", "test2V2000.mdb"}) {
    const std::vector<uint8_t> file = jettest::readFile(jettest::testdata(f));
    const jet::Format format = file[0x14] == 0 ? jet::Format::Jet3Layout : jet::Format::Jet4Layout;
    const auto layout = jet::IndexPageLayout::of(format);
    for (size_t p = 1; p < file.size() / layout.pageSize; ++p) {
      const uint8_t* src = file.data() + p * layout.pageSize;
      if (src[0] != jet::kIndexLeafPage && src[0] != jet::kIndexNodePage) continue;
      jet::IndexPage page = jet::parseIndexPage(format, src, layout.pageSize);
      std::vector<uint8_t> out(layout.pageSize);
      ASSERT_TRUE(jet::writeIndexPage(format, page, out.data())) << f << " page " << p;
      const size_t used = layout.pageSize - (src[2] | (src[3] << 8));
      size_t diff = 0;
      while (diff < used && src[diff] == out[diff]) ++diff;
      EXPECT_EQ(diff, used) << f << " page " << p << " differs at byte " << diff << ": " << int(src[diff]) << " vs "
                            << int(out[diff]);
      ++pages;
      if (page.next || page.prev || page.childTail) ++multi;
    }
  }
  EXPECT_GT(pages, 100u);
  EXPECT_GE(multi, 5u);  // leaf chains and intermediate pages are among them
}

class RandomTree : public ::testing::TestWithParam<jet::Format> {};

TEST_P(RandomTree, InsertsAndDeletesKeepExactlyTheEntriesInOrder) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    MemStore store(GetParam());
    const uint32_t root = store.newRoot();
    jet::IndexTree tree(store, root, 7);
    std::mt19937 rng(seed);
    std::set<jet::IndexEntry> expected;
    // Grow to many pages, shrink to almost nothing, grow again.
    const int phases[] = {3000, -2900, 1500, -1600};
    for (int phase : phases) {
      for (int i = 0; i < std::abs(phase); ++i) {
        if (phase > 0) {
          jet::IndexEntry e = randomEntry(rng, seed == 3 ? 300 : 40);
          tree.insert(e);
          expected.insert(e);
        } else if (!expected.empty()) {
          auto it = expected.begin();
          std::advance(it, rng() % expected.size());
          ASSERT_TRUE(tree.erase(*it));
          expected.erase(it);
        }
      }
      ASSERT_EQ(firstProblem(tree), "") << "seed " << seed << " phase " << phase;
      std::vector<jet::IndexEntry> got = tree.entries();
      ASSERT_TRUE(std::equal(got.begin(), got.end(), expected.begin(), expected.end())) << "seed " << seed << " phase " << phase;
      // Keys looked up: present ones (the largest too), keys just beyond the largest, random ones.
      auto has = [&](const jet::Bytes& key) {
        auto it = expected.lower_bound(jet::IndexEntry{key, jet::RowId{0, 0}, 0});
        return it != expected.end() && it->key == key;
      };
      std::vector<jet::Bytes> probes;
      if (!expected.empty()) {
        jet::Bytes last = expected.rbegin()->key;
        probes.push_back(last);
        probes.push_back(expected.begin()->key);
        if (!last.empty()) probes.push_back(jet::Bytes(last.begin(), last.end() - 1));
        last.push_back(0);
        probes.push_back(last);
        last.back() = 0xFF;
        probes.push_back(last);
      }
      for (int probe = 0; probe < 20; ++probe) probes.push_back(randomEntry(rng, 40).key);
      for (const jet::Bytes& key : probes) ASSERT_EQ(tree.containsKey(key), has(key)) << "seed " << seed << " phase " << phase;
      // Reading from a start point gives exactly the entries not below it.
      for (int probe = 0; probe < 20; ++probe) {
        jet::IndexEntry from = randomEntry(rng, 20);
        std::vector<jet::IndexEntry> tail;
        tree.scan(
            [&](const jet::IndexEntry& e) {
              tail.push_back(e);
              return tail.size() < 50;
            },
            &from);
        auto it = expected.lower_bound(from);
        std::vector<jet::IndexEntry> want;
        for (; it != expected.end() && want.size() < 50; ++it) want.push_back(*it);
        ASSERT_EQ(tail, want) << "seed " << seed << " phase " << phase;
      }
    }
    // Everything deleted: the root is an empty leaf and every other page was given back.
    for (const auto& e : expected) ASSERT_TRUE(tree.erase(e));
    EXPECT_TRUE(tree.entries().empty());
    EXPECT_EQ(store.pagesInUse(), 1u);
    EXPECT_FALSE(tree.erase(randomEntry(rng, 10)));
  }
}

TEST_P(RandomTree, AppendsAfterTheLastLeafMatchATreeThatForgetsItEveryTime) {
  // Keys mostly added in order (where the tree keeps its last leaf from one operation to the next),
  // mixed with lookups, deletes, inserts further in, page evictions (long keys: more pages than are
  // held) and rolled-back changes (the store put back, the cache dropped). A twin tree that forgets
  // everything after each operation must leave the same pages.
  MemStore a(GetParam()), b(GetParam());
  const uint32_t root = a.newRoot();
  ASSERT_EQ(b.newRoot(), root);
  jet::IndexTree ta(a, root, 7), tb(b, root, 7);
  std::mt19937 rng(11);
  std::set<jet::IndexEntry> expected;
  uint32_t next = 0;
  auto appended = [&] {
    jet::IndexEntry e;
    ++next;
    // After every key randomEntry makes.
    e.key = {0x50, uint8_t(next >> 16), uint8_t(next >> 8), uint8_t(next)};
    e.key.resize(4 + rng() % 400, 0x41);
    e.row = jet::RowId{next / 20 + 1, uint16_t(next % 20)};
    return e;
  };
  std::optional<std::pair<MemStore, std::set<jet::IndexEntry>>> saved;
  for (int i = 0; i < 12000; ++i) {
    const unsigned op = rng() % 100;
    if (op < 80) {
      jet::IndexEntry e = appended();
      ASSERT_EQ(ta.containsKey(e.key), tb.containsKey(e.key));
      ta.insert(e);
      tb.insert(e);
      expected.insert(e);
    } else if (op < 88 && !expected.empty()) {
      // Often the last entry itself.
      auto it = rng() % 2 ? std::prev(expected.end()) : std::next(expected.begin(), long(rng() % expected.size()));
      ASSERT_TRUE(ta.erase(*it));
      ASSERT_TRUE(tb.erase(*it));
      expected.erase(it);
    } else if (op < 95) {
      jet::IndexEntry e = randomEntry(rng, 40);
      ta.insert(e);
      tb.insert(e);
      expected.insert(e);
    } else if (op < 98 || !saved) {
      saved.emplace(a, expected);
    } else {
      a = saved->first;
      b = saved->first;
      expected = saved->second;
      ta.discardCache();
      tb.discardCache();
    }
    tb.discardCache();
    if (i % 500 == 0) ASSERT_TRUE(a == b) << "operation " << i;
  }
  ASSERT_TRUE(a == b);
  ASSERT_EQ(firstProblem(ta), "");
  auto got = ta.entries();
  EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin(), expected.end()));
  EXPECT_GT(a.pagesInUse(), 300u);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, RandomTree, ::testing::Values(jet::Format::Jet3Layout, jet::Format::Jet4Layout));

TEST(IndexTree, RebuildFillsEachLeafAsFarAsItsPackedEntriesFit) {
  // Keys with long shared prefixes, so that leaves hold more entries packed than whole; each leaf
  // must hold every entry that fits and no more, as a load one entry at a time would leave it.
  for (jet::Format format : {jet::Format::Jet3Layout, jet::Format::Jet4Layout}) {
    MemStore store(format);
    const uint32_t root = store.newRoot();
    jet::IndexTree tree(store, root, 7);
    std::mt19937 rng(21);
    std::vector<jet::IndexEntry> all;
    for (int i = 0; i < 6000; ++i) all.push_back(randomEntry(rng, 40));
    tree.rebuild(all);
    ASSERT_EQ(firstProblem(tree), "");
    const auto layout = jet::IndexPageLayout::of(format);
    const size_t cap = layout.capacity();
    std::vector<uint8_t> buf(layout.pageSize);
    auto page = [&](uint32_t number) {
      store.readPage(number, buf.data());
      return jet::parseIndexPage(format, buf.data(), buf.size());
    };
    jet::IndexPage p = page(root);
    while (!p.leaf) p = page(p.entries.empty() ? p.childTail : p.entries.front().child);
    size_t leaves = 1, packed = 0;
    while (p.next) {
      jet::IndexPage next = page(p.next);
      ASSERT_LE(jet::encodedEntriesSize(p, cap), cap);
      packed += jet::encodedEntriesSize(p, cap) < jet::encodedEntriesSize(p, cap * 4);
      p.entries.push_back(next.entries.front());
      EXPECT_GT(jet::encodedEntriesSize(p, cap), cap) << "leaf " << leaves << " had room for one more entry";
      p = std::move(next);
      ++leaves;
    }
    EXPECT_GT(leaves, 10u);
    EXPECT_GT(packed, 0u);  // some leaves were stored with a shared prefix
  }
}

// A tree whose pages form a cycle: every walk over it, lookup, insert and verify ends in an error.
TEST(IndexTree, ALoopingTreeGivesErrorsNotCrashes) {
  MemStore store(jet::Format::Jet4Layout);
  const uint32_t root = store.newRoot();
  jet::IndexTree tree(store, root, 7);
  std::mt19937 rng(9);
  for (int i = 0; i < 2000; ++i) tree.insert(randomEntry(rng, 60));
  std::vector<uint8_t> buf(4096);
  store.readPage(root, buf.data());
  jet::IndexPage top = jet::parseIndexPage(jet::Format::Jet4Layout, buf.data(), buf.size());
  ASSERT_FALSE(top.leaf);
  // Every child of the root now points back at the root: a cycle.
  for (auto& e : top.entries) e.child = root;
  top.childTail = root;
  ASSERT_TRUE(jet::writeIndexPage(jet::Format::Jet4Layout, top, buf.data()));
  store.writePage(root, buf.data());
  jet::IndexTree damaged(store, root, 7);
  EXPECT_THROW(damaged.entries(), jet::Error);
  EXPECT_THROW(damaged.insert(randomEntry(rng, 60)), jet::Error);
  EXPECT_THROW(damaged.containsKey({0x41}), jet::Error);
  EXPECT_FALSE(damaged.verify().empty());
}

// An index in a sort order the engine has no keys for makes its table read-only, naming the index;
// keys too long for a page are refused, naming theirs. Neither writes an entry.
TEST(TableIndexes, UnknownSortOrdersAndKeysTooLongAreRefused) {
  MemStore store(jet::Format::Jet3Layout);
  std::vector<jet::IndexOutline> outlines(2);
  outlines[0] = {"ByName", store.newRoot(), {{jet::ColumnType::Text, true, jet::TextCollation::Unsupported}}, {0}, false, false, false};
  jet::TableIndexes unknown(store, 7, {outlines[0]});
  EXPECT_NE(unknown.problem().find("ByName"), std::string::npos);
  std::vector<jet::Value> row{std::string("x")};
  EXPECT_EQ(errorOf([&] { unknown.maintain(nullptr, {}, &row, {10, 0}); }), jet::err::kReadOnly);
  EXPECT_TRUE(unknown.tree(0).entries().empty());
  EXPECT_NE(jet::keyColumnProblem({jet::ColumnType::Ole, true}), "");
  outlines[1].name = "Wide";
  outlines[1].rootPage = store.newRoot();
  for (int i = 0; i < 10; ++i) {
    outlines[1].columns.push_back({jet::ColumnType::Text, true, jet::TextCollation::General97});
    outlines[1].fields.push_back(i);
  }
  jet::TableIndexes idx(store, 7, {outlines[1]});
  std::vector<jet::Value> wide(10, jet::Value{std::string(250, 'x')});
  const std::string refusal = jettest::failure([&] { idx.maintain(nullptr, {}, &wide, {10, 0}); });
  EXPECT_NE(refusal.find("Wide"), std::string::npos) << refusal;
  EXPECT_TRUE(idx.tree(0).entries().empty());
  std::vector<jet::Value> shortRow(10, jet::Value{std::string(20, 'x')});
  idx.maintain(nullptr, {}, &shortRow, {10, 0});
  EXPECT_EQ(idx.tree(0).entries().size(), 1u);
}

// A leaf page found by fuzzing whose entries are not sorted (written back it lost most of its
// entries) is refused when read, so that nothing built on it works from entries the writer cannot hold.
TEST(DamagedIndexPage, EntriesOutOfOrderAreRefused) {
  const std::vector<uint8_t> bytes = jettest::readFile(std::string(TABULONIX_SOURCE_DIR) + "/tests/jet/data/index_page_unsorted.bin");
  // The fuzz input's first byte chose the tree's root; the page starts after it.
  std::vector<uint8_t> page(bytes.begin() + 1, bytes.end());
  page.resize(jet::IndexPageLayout::of(jet::Format::Jet3Layout).pageSize);
  EXPECT_EQ(errorOf([&] { jet::parseIndexPage(jet::Format::Jet3Layout, page.data(), page.size()); }), jet::err::kCorrupt);
}

}  // namespace
