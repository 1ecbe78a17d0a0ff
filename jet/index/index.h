// Index b-trees: reading every entry in key order, and keeping the tree true as rows are
// inserted, updated and deleted (splits, merges, intermediate pages, page chains).
//
// The tree works on pages through IndexPageStore, so the page cache and the usage maps of the
// storage layer stay in charge of where pages live and who owns them. The root page never moves:
// the table definition points at it.
//
// How a table's writes use it: build the outlines with indexOutlines() from the table's description and
// the root page of each real index, and keep one TableIndexes per open table. If problem() is not
// empty the table is read-only (say so on any write). For each change, with the row's values in
// field order: maintain(old, oldId, new, newId) - nullptr for the missing side of an insert or a
// delete. It checks everything first (3022, 3058, 3421, key length) and changes nothing when it
// throws, so call it before writing the row (an insert knows its RowId before writing) or undo the
// row write if it throws. A bulk load sets deferred writes and flushes at the end. After a write
// of the storage layer is rolled back, call discardCache(). check and compaction use verify() and
// rebuild() with a RowSource that streams the table's rows.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/base/file_version.h"
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

// One real index of a table, as maintenance needs it.
struct IndexOutline {
  std::string name;               // for messages (the logical index's name)
  uint32_t rootPage = 0;
  std::vector<KeyColumn> columns;
  std::vector<int> fields;        // for each key column, its position in the row's values
  bool unique = false;
  bool ignoreNulls = false;       // rows whose key columns are all Null are left out
  bool required = false;          // Null in any key column is refused (primary keys too)
};

// The outlines of a table's real indexes from its description: one per real index, logical indexes
// that share a real index folding their flags together (a primary key makes its index required).
// rootPages[n] is the root page of real index n. An index naming a column the table lacks gets a
// column the engine cannot encode, so that the table reports it as a problem. Keys follow the
// rules of the file's version.
std::vector<IndexOutline> indexOutlines(FileVersion version, const TableInfo& table, const std::vector<uint32_t>& rootPages);

// The key of a row under one index; nullopt when the row is left out (ignore-nulls).
std::optional<Bytes> rowKey(const IndexOutline& outline, const std::vector<Value>& row);
// The same into `key` (its contents replaced, its storage kept), straight from the row's values;
// false when the row is left out. `nulls` is set to the number of key columns that are Null.
bool rowKeyInto(const IndexOutline& outline, const std::vector<Value>& row, Bytes& key, size_t& nulls);

// Every index of one table, maintained together.
class TableIndexes {
 public:
  TableIndexes(IndexPageStore& store, uint32_t tdefPage, std::vector<IndexOutline> outlines);

  // "" when every index can be maintained; otherwise why not (name and reason). A table with a
  // problem must be read-only: no row may be written that its indexes would not follow.
  const std::string& problem() const { return problem_; }

  // Checks that the change is allowed under every index (3022 duplicate, 3058 Null in a required
  // index or primary key) without changing anything. oldRow is null for an insert, newRow null for
  // a delete.
  void check(const std::vector<Value>* oldRow, RowId oldId, const std::vector<Value>* newRow, RowId newId);
  // Applies the change to every index. Call check first: apply does not check again.
  void apply(const std::vector<Value>* oldRow, RowId oldId, const std::vector<Value>* newRow, RowId newId);
  // check then apply.
  void maintain(const std::vector<Value>* oldRow, RowId oldId, const std::vector<Value>* newRow, RowId newId);

  // Gives the next row of the table (its address and values) and true, or false at the end.
  using RowSource = std::function<bool(RowId&, std::vector<Value>&)>;

  // Rebuilds every index from the table's rows (compaction, repair).
  void rebuild(const RowSource& rows);
  void rebuild(const std::vector<std::pair<RowId, std::vector<Value>>>& rows);
  // Compares every index with the table's rows: the entries it should hold, in order, with the
  // right keys, and a sound tree. Names each problem.
  // Only the keys are held while checking, not the rows.
  std::vector<std::string> verify(const RowSource& rows);
  std::vector<std::string> verify(const std::vector<std::pair<RowId, std::vector<Value>>>& rows);

  // Deferred writes for every index (bulk loads); flush() writes what is held.
  void setDeferredWrites(bool deferred);
  void flush();
  void discardCache();

  size_t size() const { return outlines_.size(); }
  const IndexOutline& outline(size_t i) const { return outlines_[i]; }
  IndexTree& tree(size_t i) { return trees_[i]; }

 private:
  // A row's key under one index, its buffer kept from one change to the next.
  struct RowKey {
    Bytes bytes;
    bool present = false;  // false for a missing row or a row the index leaves out
    size_t nulls = 0;      // key columns that are Null
  };
  void keysOf(const std::vector<Value>* row, std::vector<RowKey>& keys) const;
  void checkKeys(const std::vector<RowKey>& oldKeys, const std::vector<RowKey>& newKeys);
  void applyKeys(const std::vector<RowKey>& oldKeys, RowId oldId, const std::vector<RowKey>& newKeys, RowId newId);

  IndexPageStore& store_;
  std::vector<IndexOutline> outlines_;
  std::vector<IndexTree> trees_;
  std::string problem_;
  size_t capacity_;  // entry bytes an index page holds
  std::vector<RowKey> oldKeys_, newKeys_;
};

}  // namespace jet
