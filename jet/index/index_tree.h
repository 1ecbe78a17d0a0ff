// One index b-tree: reading every entry in key order, and keeping the tree true as entries are
// added and removed (splits, merges, intermediate pages, page chains); rebuilding and verifying it
// whole.
//
// The tree works on pages through IndexPageStore, so the page cache and the usage maps of the
// storage layer stay in charge of where pages live and who owns them. The root page never moves:
// the table definition points at it.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "jet/index/index_key.h"
#include "jet/index/index_page.h"

namespace jet {

// Pages of one table's indexes.
class IndexPageStore {
 public:
  virtual ~IndexPageStore() = default;
  virtual Format format() const = 0;
  // Copies the page into out (the format's page size).
  virtual void readPage(uint32_t page, uint8_t* out) = 0;
  virtual void writePage(uint32_t page, const uint8_t* data) = 0;
  // A fresh page for the index, owned by it from now on.
  virtual uint32_t allocatePage() = 0;
  // Gives back a page the index no longer uses.
  virtual void freePage(uint32_t page) = 0;
};

// One b-tree. Pages are parsed once and kept (a bounded number of them) while the tree works;
// changed pages are written back to the store at the end of each operation, or only on flush()
// when writes are deferred (bulk loads).
class IndexTree {
 public:
  IndexTree(IndexPageStore& store, uint32_t rootPage, uint32_t tdefPage);
  // Not copyable: the remembered last leaf points into this tree's held pages (a move keeps them).
  IndexTree(const IndexTree&) = delete;
  IndexTree& operator=(const IndexTree&) = delete;
  IndexTree(IndexTree&&) = default;
  IndexTree& operator=(IndexTree&&) = default;

  // Writes an empty index (one empty leaf) on a fresh page of the store; returns its page, the
  // root the table definition records.
  static uint32_t createEmpty(IndexPageStore& store, uint32_t tdefPage);

  uint32_t rootPage() const { return root_; }

  // Every leaf entry in key order.
  std::vector<IndexEntry> entries();
  // Visits the entries in key order, from the first entry not below `from` (all when null), until
  // fn returns false. Memory stays bounded however large the index is.
  void scan(const std::function<bool(const IndexEntry&)>& fn, const IndexEntry* from = nullptr);
  // Whether some entry has exactly this key (any row).
  bool containsKey(const Bytes& key);
  // Adds an entry (a no-op when that exact entry is present).
  void insert(IndexEntry entry);
  // Removes an entry; false when it was not there.
  bool erase(const IndexEntry& entry);
  // Replaces the whole tree by the given entries (sorted here), reusing the root page and freeing
  // every other page the tree had.
  void rebuild(std::vector<IndexEntry> entries);
  // Structural problems: order within and across pages, parent keys, page chains, page types.
  std::vector<std::string> verify();
  // Every page of the tree, root first. Throws 3049 when the pages form a cycle.
  std::vector<uint32_t> pages();

  // With deferred writes, changed pages stay in memory until flush() (or until too many pages
  // are held). Without, every operation ends with its pages written.
  void setDeferredWrites(bool deferred);
  void flush();
  // Forgets every page held in memory, written or not (after the store's pages were changed
  // behind the tree's back, e.g. a rolled-back write).
  void discardCache();

 private:
  struct Child {
    uint32_t page;
    IndexEntry max;  // largest entry of the child's subtree (key and row; child unused)
  };
  struct Cached {
    IndexPage page;
    bool dirty = false;
    // The bytes of the page's entries stored whole (kUnknown until counted; any change through
    // edit() or put() forgets it).
    size_t whole = kUnknown;
  };
  static constexpr size_t kUnknown = SIZE_MAX;
  static constexpr size_t kCachedPages = 256;  // parsed pages kept between operations (a few MB)
  static constexpr int kMaxDepth = 32;         // far beyond any real tree; guards against page cycles
  // An entry as the maximum of a subtree: key and row, no child.
  static IndexEntry asMax(const IndexEntry& e) { return IndexEntry{e.key, e.row, 0}; }
  // Result of changing a subtree: the pages that now stand where it stood, with their maxima.
  using Replacement = std::vector<Child>;

  IndexPage& view(uint32_t page);
  // The last leaf when the right edge down to it is made of child tails, remembered from one
  // operation to the next; nullptr when the tree has no such leaf.
  Cached* rightmostLeaf();
  void forgetRightmostLeaf() { rightmost_ = nullptr; }
  bool appendAfterLast(IndexEntry& entry);
  IndexPage& edit(uint32_t page);
  void put(uint32_t number, IndexPage page);
  uint32_t fresh();
  void release(uint32_t page);
  void endOperation();
  template <typename F>
  auto guarded(F&& f) -> decltype(f());

  std::vector<Child> children(const IndexPage& node);
  IndexEntry subtreeMax(uint32_t page);
  IndexEntry subtreeMax(const IndexPage& page);
  void setChildren(IndexPage& node, const std::vector<Child>& kids);
  size_t childFor(const IndexPage& node, const IndexEntry& entry, bool& beyond);
  Replacement modify(uint32_t number, const IndexEntry& entry, bool insert, bool& changed, int depth);
  void growRoot(Replacement& rep);
  Replacement finish(uint32_t number, bool appendAtEnd);
  void mergeSmall(std::vector<Child>& kids, size_t at);
  void relink(uint32_t prev, uint32_t next);
  bool walk(uint32_t page, const IndexEntry* from, const std::function<bool(const IndexEntry&)>& fn, int depth);
  void collectPages(uint32_t page, std::vector<uint32_t>& out, int depth);
  std::vector<IndexPage> split(IndexPage page, bool appendAtEnd);
  void verifyPage(uint32_t page, const IndexEntry* lowerBound, const IndexEntry* max, int depth,
                  std::vector<std::vector<uint32_t>>& levels, std::vector<std::string>& problems);

  IndexPageStore* store_;
  IndexPageLayout layout_;
  Format format_;
  uint32_t root_;
  uint32_t tdef_;
  std::unordered_map<uint32_t, Cached> cache_;
  std::vector<uint32_t> dirty_;  // pages changed since the last flush, in change order
  Bytes buffer_;                 // one page, reused for reading and writing
  std::set<uint32_t> visited_;   // pages seen by a whole-tree walk (cycle guard)
  bool deferred_ = false;
  // The rightmost leaf's cache entry while it is known. Any change to the tree's pages (edit, put,
  // allocation, release, eviction, discardCache) forgets it; appending after the last entry keeps it.
  Cached* rightmost_ = nullptr;
  uint32_t rightmostPage_ = 0;
};

template <typename F>
auto IndexTree::guarded(F&& f) -> decltype(f()) {
  // A failure part-way leaves nothing half-changed in memory: the pages are read again.
  try {
    if constexpr (std::is_void_v<decltype(f())>) {
      f();
      endOperation();
    } else {
      auto r = f();
      endOperation();
      return r;
    }
  } catch (...) {
    discardCache();
    throw;
  }
}

}  // namespace jet
