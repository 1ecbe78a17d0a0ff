#include "jet/index/index.h"

#include <algorithm>
#include <set>
#include <type_traits>

#include "jet/base/error.h"

namespace jet {

namespace {

constexpr int kMaxDepth = 32;  // far beyond any real tree; guards against page cycles

IndexEntry asMax(const IndexEntry& e) { return IndexEntry{e.key, e.row, 0}; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// IndexTree

namespace {
constexpr size_t kCachedPages = 256;  // parsed pages kept between operations (a few MB)
}

IndexTree::IndexTree(IndexPageStore& store, uint32_t rootPage, uint32_t tdefPage)
    : store_(&store), layout_(IndexPageLayout::of(store.format())), format_(store.format()), root_(rootPage), tdef_(tdefPage) {}

IndexPage& IndexTree::view(uint32_t number) {
  auto it = cache_.find(number);
  if (it != cache_.end()) return it->second.page;
  if (number == 0) throwCorrupt("an index refers to page 0");
  Bytes& buf = buffer_;
  buf.resize(layout_.pageSize);
  store_->readPage(number, buf.data());
  Cached c{parseIndexPage(format_, buf.data(), buf.size()), false};
  return cache_.emplace(number, std::move(c)).first->second.page;
}

IndexPage& IndexTree::edit(uint32_t number) {
  forgetRightmostLeaf();
  IndexPage& p = view(number);
  Cached& c = cache_[number];
  c.whole = kUnknown;
  if (!c.dirty) {
    c.dirty = true;
    dirty_.push_back(number);
  }
  return p;
}

void IndexTree::put(uint32_t number, IndexPage page) {
  forgetRightmostLeaf();
  Cached& c = cache_[number];
  c.page = std::move(page);
  c.page.tdefPage = tdef_;
  c.whole = kUnknown;
  if (!c.dirty) {
    c.dirty = true;
    dirty_.push_back(number);
  }
}

uint32_t IndexTree::fresh() {
  uint32_t n = store_->allocatePage();
  forgetRightmostLeaf();
  cache_.erase(n);
  return n;
}

void IndexTree::release(uint32_t number) {
  forgetRightmostLeaf();
  cache_.erase(number);
  store_->freePage(number);
}

void IndexTree::flush() {
  Bytes& buf = buffer_;
  buf.resize(layout_.pageSize);
  for (uint32_t number : dirty_) {
    auto it = cache_.find(number);
    if (it == cache_.end() || !it->second.dirty) continue;  // released since
    Cached& c = it->second;
    c.page.tdefPage = tdef_;
    if (!writeIndexPage(format_, c.page, buf.data())) throw Error(err::kInvalidOperation, "An index page overflowed.");
    store_->writePage(number, buf.data());
    c.dirty = false;
  }
  dirty_.clear();
}

void IndexTree::discardCache() {
  forgetRightmostLeaf();
  cache_.clear();
  dirty_.clear();
}

void IndexTree::setDeferredWrites(bool deferred) {
  if (!deferred) flush();
  deferred_ = deferred;
}

void IndexTree::endOperation() {
  if (!deferred_ || cache_.size() > kCachedPages) flush();
  if (cache_.size() > kCachedPages) {
    // Leaves go; the intermediate pages, few and visited by every operation, stay.
    forgetRightmostLeaf();
    for (auto it = cache_.begin(); it != cache_.end();) it = it->second.page.leaf ? cache_.erase(it) : std::next(it);
  }
}

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

IndexEntry IndexTree::subtreeMax(const IndexPage& page) {
  if (page.leaf) {
    if (page.entries.empty()) throwCorrupt("an index has an empty page below its root");
    return asMax(page.entries.back());
  }
  if (page.childTail) return subtreeMax(page.childTail);
  if (page.entries.empty()) throwCorrupt("an index has an empty intermediate page");
  return asMax(page.entries.back());
}

IndexEntry IndexTree::subtreeMax(uint32_t number) {
  uint32_t cur = number;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    const IndexPage& p = view(cur);
    if (p.leaf || !p.childTail) return subtreeMax(p);
    cur = p.childTail;
  }
  throwCorrupt("an index's pages form a cycle");
}

std::vector<IndexTree::Child> IndexTree::children(const IndexPage& node) {
  std::vector<Child> kids;
  kids.reserve(node.entries.size() + 1);
  for (const auto& e : node.entries) kids.push_back({e.child, asMax(e)});
  if (node.childTail) kids.push_back({node.childTail, subtreeMax(node.childTail)});
  return kids;
}

void IndexTree::setChildren(IndexPage& node, const std::vector<Child>& kids) {
  node.leaf = false;
  node.entries.clear();
  node.childTail = 0;
  if (kids.size() == 1) {
    node.entries.push_back({kids[0].max.key, kids[0].max.row, kids[0].page});
    return;
  }
  for (size_t i = 0; i + 1 < kids.size(); ++i) node.entries.push_back({kids[i].max.key, kids[i].max.row, kids[i].page});
  if (!kids.empty()) node.childTail = kids.back().page;
}

size_t IndexTree::childFor(const IndexPage& node, const IndexEntry& entry, bool& beyond) {
  // The first child whose largest entry is not below the entry; the tail child takes the rest.
  // Children are numbered as children() lists them.
  auto it = std::lower_bound(node.entries.begin(), node.entries.end(), entry,
                             [](const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) < 0; });
  size_t i = static_cast<size_t>(it - node.entries.begin());
  beyond = false;
  if (i < node.entries.size() || node.childTail) return i;
  beyond = true;
  if (node.entries.empty()) throwCorrupt("an index has an empty intermediate page");
  return node.entries.size() - 1;
}

void IndexTree::relink(uint32_t prev, uint32_t next) {
  // Unhooks a page from its level's chain: its neighbours point at each other.
  if (prev) edit(prev).next = next;
  if (next) edit(next).prev = prev;
}

std::vector<IndexPage> IndexTree::split(IndexPage page, bool appendAtEnd) {
  // Cuts an overfull page into pages that fit. Entries appended at the end of the last page of a
  // level start a new page of their own, so that rows added in key order fill pages completely.
  std::vector<IndexPage> parts;
  const size_t cap = layout_.capacity();
  if (encodedEntriesSize(page, cap) <= cap) {
    parts.push_back(std::move(page));
    return parts;
  }
  std::vector<Child> kids;
  size_t n;
  if (page.leaf) {
    n = page.entries.size();
  } else {
    kids = children(page);
    n = kids.size();
  }
  if (n < 2) throw Error(err::kInvalidOperation, "An index entry is too large for an index page.");
  size_t cut;
  if (appendAtEnd) {
    cut = n - 1;
  } else {
    // Cut where the bytes are halved.
    size_t total = 0;
    std::vector<size_t> sizes(n);
    for (size_t i = 0; i < n; ++i) {
      sizes[i] = (page.leaf ? page.entries[i].key.size() + 4 : kids[i].max.key.size() + 8);
      total += sizes[i];
    }
    size_t acc = 0;
    cut = 1;
    for (size_t i = 0; i < n - 1; ++i) {
      acc += sizes[i];
      cut = i + 1;
      if (acc * 2 >= total) break;
    }
  }
  IndexPage left, right;
  left.leaf = right.leaf = page.leaf;
  if (page.leaf) {
    left.entries.assign(std::make_move_iterator(page.entries.begin()), std::make_move_iterator(page.entries.begin() + static_cast<long>(cut)));
    right.entries.assign(std::make_move_iterator(page.entries.begin() + static_cast<long>(cut)), std::make_move_iterator(page.entries.end()));
  } else {
    setChildren(left, std::vector<Child>(kids.begin(), kids.begin() + static_cast<long>(cut)));
    setChildren(right, std::vector<Child>(kids.begin() + static_cast<long>(cut), kids.end()));
  }
  for (auto* half : {&left, &right}) {
    auto sub = split(std::move(*half), false);
    for (auto& s : sub) parts.push_back(std::move(s));
  }
  return parts;
}

IndexTree::Replacement IndexTree::finish(uint32_t number, bool appendAtEnd) {
  // The page (changed in memory) either stands as it is, disappears when empty, or is cut into
  // several pages chained in its place.
  IndexPage& page = edit(number);
  const bool empty = page.entries.empty() && page.childTail == 0;
  if (empty) {
    if (number == root_) {
      page = IndexPage{};
      page.tdefPage = tdef_;
      return {};
    }
    const uint32_t prev = page.prev, next = page.next;
    release(number);
    relink(prev, next);
    return {};
  }
  const size_t cap = layout_.capacity();
  if (encodedEntriesSize(page, cap) <= cap) return {{number, subtreeMax(page)}};
  const uint32_t prev = page.prev, next = page.next;
  std::vector<IndexPage> parts = split(std::move(page), appendAtEnd);
  std::vector<uint32_t> numbers{number};
  for (size_t i = 1; i < parts.size(); ++i) numbers.push_back(fresh());
  Replacement rep;
  for (size_t i = 0; i < parts.size(); ++i) {
    parts[i].prev = i == 0 ? prev : numbers[i - 1];
    parts[i].next = i + 1 < parts.size() ? numbers[i + 1] : next;
    IndexEntry max = subtreeMax(parts[i]);
    put(numbers[i], std::move(parts[i]));
    rep.push_back({numbers[i], std::move(max)});
  }
  if (next) edit(next).prev = numbers.back();
  return rep;
}

void IndexTree::mergeSmall(std::vector<Child>& kids, size_t at) {
  // A page that has shrunk below a quarter is merged with a neighbour under the same parent when
  // the two fit on one page.
  if (kids.size() < 2) return;
  const size_t cap = layout_.capacity();
  if (encodedEntriesSize(view(kids[at].page), cap) * 4 >= cap) return;
  size_t l = at + 1 < kids.size() ? at : at - 1;
  size_t r = l + 1;
  const IndexPage& left = view(kids[l].page);
  const IndexPage& right = view(kids[r].page);
  if (left.leaf != right.leaf) throwCorrupt("an index has pages of mixed levels under one parent");
  IndexPage merged;
  merged.leaf = left.leaf;
  merged.prev = left.prev;
  merged.next = right.next;
  if (left.leaf) {
    merged.entries = left.entries;
    merged.entries.insert(merged.entries.end(), right.entries.begin(), right.entries.end());
  } else {
    auto lk = children(left);
    auto rk = children(right);
    lk.insert(lk.end(), rk.begin(), rk.end());
    setChildren(merged, lk);
  }
  if (encodedEntriesSize(merged, cap) > cap) return;
  const uint32_t after = merged.next;
  put(kids[l].page, std::move(merged));
  if (after) edit(after).prev = kids[l].page;
  release(kids[r].page);
  kids[l].max = kids[r].max;
  kids.erase(kids.begin() + static_cast<long>(r));
}

IndexTree::Replacement IndexTree::modify(uint32_t number, const IndexEntry& entry, bool insert, bool& changed, int depth) {
  if (depth > kMaxDepth) throwCorrupt("an index's pages form a cycle");
  IndexPage& page = view(number);
  const size_t cap = layout_.capacity();
  if (page.leaf) {
    auto it = std::lower_bound(page.entries.begin(), page.entries.end(), entry);
    bool found = it != page.entries.end() && compareEntries(*it, entry) == 0;
    if (insert == found) {
      changed = false;
      return {};
    }
    bool appendAtEnd = false;
    if (insert) {
      appendAtEnd = it == page.entries.end() && page.next == 0 && !page.entries.empty();
      page.entries.insert(it, IndexEntry{entry.key, entry.row, 0});
    } else {
      page.entries.erase(it);
    }
    changed = true;
    return finish(number, appendAtEnd);
  }
  bool beyond = false;
  size_t i = childFor(page, entry, beyond);
  if (beyond && !insert) {
    changed = false;
    return {};
  }
  const bool isTail = i == page.entries.size();
  const uint32_t childPage = isTail ? page.childTail : page.entries[i].child;
  Replacement rep = modify(childPage, entry, insert, changed, depth + 1);
  if (!changed) return {};
  // Common case: the child is still one page. Only its entry's key may need to follow its new
  // largest entry (the tail child has no entry here), unless a shrunken child should merge.
  if (rep.size() == 1 && rep[0].page == childPage) {
    const bool small = !insert && page.entries.size() + (page.childTail ? 1 : 0) > 1 &&
                       encodedEntriesSize(view(childPage), cap) * 4 < cap;
    if (!small) {
      if (!isTail) {
        IndexEntry& e = page.entries[i];
        if (compareEntries(asMax(e), rep[0].max) != 0) {
          e.key = rep[0].max.key;
          e.row = rep[0].max.row;
          return finish(number, false);
        }
      }
      return {{number, subtreeMax(page)}};
    }
  }
  if (rep.size() > 1 && page.childTail) {
    // The child split: its parts take its place, as entries, and the last part of the tail child
    // stays the tail. The other entries stay as they are.
    IndexPage& node = edit(number);
    const size_t asEntries = isTail ? rep.size() - 1 : rep.size();
    std::vector<IndexEntry> parts;
    parts.reserve(asEntries);
    for (size_t k = 0; k < asEntries; ++k) parts.push_back({std::move(rep[k].max.key), rep[k].max.row, rep[k].page});
    auto at = node.entries.begin() + static_cast<long>(i);
    if (!isTail) at = node.entries.erase(at);
    node.entries.insert(at, std::make_move_iterator(parts.begin()), std::make_move_iterator(parts.end()));
    if (isTail) node.childTail = rep.back().page;
    return finish(number, false);
  }
  std::vector<Child> kids;
  if (rep.empty() && isTail) {
    // The tail child is gone (its page given back): the other children are the entries.
    for (const auto& e : page.entries) kids.push_back({e.child, asMax(e)});
  } else {
    kids = children(page);
    kids.erase(kids.begin() + static_cast<long>(i));
    kids.insert(kids.begin() + static_cast<long>(i), rep.begin(), rep.end());
  }
  if (rep.size() == 1) mergeSmall(kids, i);
  IndexPage& node = edit(number);
  setChildren(node, kids);
  return finish(number, false);
}

IndexTree::Cached* IndexTree::rightmostLeaf() {
  // Only a right edge made of child tails qualifies: then no parent entry records the leaf's
  // largest entry, and an entry added after it changes nothing above the leaf.
  if (rightmost_) return rightmost_;
  uint32_t cur = root_;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    const IndexPage& p = view(cur);
    if (p.leaf) {
      if (p.next != 0) return nullptr;
      rightmostPage_ = cur;
      return rightmost_ = &cache_.find(cur)->second;
    }
    if (!p.childTail) return nullptr;
    cur = p.childTail;
  }
  throwCorrupt("an index's pages form a cycle");
}

bool IndexTree::appendAfterLast(IndexEntry& entry) {
  // Keys added in order (an auto-number) land after the last entry of the last leaf; while that
  // leaf has room the entry goes straight there, and the page's size is kept up to date instead
  // of being counted again each time.
  Cached* last = rightmostLeaf();
  if (!last) return false;
  Cached& c = *last;
  std::vector<IndexEntry>& entries = c.page.entries;
  if (entries.empty() || compareEntries(entries.back(), entry) >= 0) return false;
  const size_t cap = layout_.capacity();
  if (c.whole == kUnknown) {
    c.whole = 0;
    for (const IndexEntry& e : entries) c.whole += e.key.size() + 4;
  }
  const size_t whole = c.whole + entry.key.size() + 4;
  if (whole > cap) {
    // Stored compressed: every entry but the first leaves out the prefix of the first and last.
    const size_t prefix = sharedPrefix(entries.front(), entry);
    if (whole - entries.size() * prefix > cap) return false;
  }
  entry.child = 0;
  entries.push_back(std::move(entry));
  c.whole = whole;
  if (!c.dirty) {
    c.dirty = true;
    dirty_.push_back(rightmostPage_);
  }
  return true;
}

void IndexTree::insert(IndexEntry entry) {
  guarded([&] {
    if (appendAfterLast(entry)) return;
    bool changed = false;
    Replacement rep = modify(root_, entry, true, changed, 0);
    if (changed) growRoot(rep);
  });
}

void IndexTree::growRoot(Replacement& rep) {
  // When the root splits, its first part moves to a new page and the root becomes the parent of
  // all parts, so the root page number stays where the table definition expects it. (A delete can
  // split it too: a parent's entry for a child grows when the child's largest key changes.)
  while (rep.size() > 1) {
    uint32_t moved = fresh();
    IndexPage first = view(root_);
    put(moved, std::move(first));
    edit(rep[1].page).prev = moved;
    rep[0].page = moved;
    IndexPage newRoot;
    setChildren(newRoot, rep);
    put(root_, std::move(newRoot));
    rep = finish(root_, false);
  }
}

bool IndexTree::erase(const IndexEntry& entry) {
  return guarded([&] {
    bool changed = false;
    Replacement rep = modify(root_, entry, false, changed, 0);
    if (!changed) return false;
    growRoot(rep);
    // A root with a single child takes that child's place, so the tree does not stay deeper than
    // it needs to be.
    for (int depth = 0; depth < kMaxDepth; ++depth) {
      const IndexPage& root = view(root_);
      if (root.leaf || root.childTail || root.entries.size() != 1) break;
      uint32_t only = root.entries[0].child;
      IndexPage child = view(only);
      child.prev = child.next = 0;
      put(root_, std::move(child));
      release(only);
    }
    return true;
  });
}

uint32_t IndexTree::createEmpty(IndexPageStore& store, uint32_t tdefPage) {
  const uint32_t page = store.allocatePage();
  IndexPage leaf;
  leaf.tdefPage = tdefPage;
  Bytes buf(IndexPageLayout::of(store.format()).pageSize);
  writeIndexPage(store.format(), leaf, buf.data());
  store.writePage(page, buf.data());
  return page;
}

bool IndexTree::walk(uint32_t number, const IndexEntry* from, const std::function<bool(const IndexEntry&)>& fn, int depth) {
  // In-order walk over the tree (independent of the leaf chain, which verify() checks). Pages not
  // already held are parsed and dropped, so a large index does not fill memory.
  if (depth > kMaxDepth || !visited_.insert(number).second) throwCorrupt("an index's pages form a cycle");
  IndexPage temp;
  const IndexPage* p;
  if (auto it = cache_.find(number); it != cache_.end()) {
    p = &it->second.page;
  } else {
    if (number == 0) throwCorrupt("an index refers to page 0");
    Bytes buf(layout_.pageSize);
    store_->readPage(number, buf.data());
    temp = parseIndexPage(format_, buf.data(), buf.size());
    p = &temp;
  }
  if (p->leaf) {
    auto it = from ? std::lower_bound(p->entries.begin(), p->entries.end(), *from) : p->entries.begin();
    for (; it != p->entries.end(); ++it)
      if (!fn(*it)) return false;
    return true;
  }
  std::vector<uint32_t> kids;
  for (const auto& e : p->entries)
    if (!from || compareEntries(e, *from) >= 0) kids.push_back(e.child);  // else wholly below the start
  if (p->childTail) kids.push_back(p->childTail);
  for (uint32_t k : kids)
    if (!walk(k, from, fn, depth + 1)) return false;
  return true;
}

void IndexTree::scan(const std::function<bool(const IndexEntry&)>& fn, const IndexEntry* from) {
  guarded([&] {
    visited_.clear();
    walk(root_, from, fn, 0);
  });
}

std::vector<IndexEntry> IndexTree::entries() {
  std::vector<IndexEntry> out;
  scan([&](const IndexEntry& e) {
    out.push_back(e);
    return true;
  });
  return out;
}

bool IndexTree::containsKey(const Bytes& key) {
  return guarded([&] {
    // A key beyond the last entry of the last leaf (the next auto-number) is answered there.
    if (const Cached* last = rightmostLeaf()) {
      const std::vector<IndexEntry>& entries = last->page.entries;
      if (!entries.empty() && std::lexicographical_compare(entries.back().key.begin(), entries.back().key.end(),
                                                           key.begin(), key.end()))
        return false;
    }
    uint32_t cur = root_;
    IndexEntry probe{key, RowId{0, 0}, 0};
    for (int depth = 0; depth < kMaxDepth; ++depth) {
      const IndexPage& p = view(cur);
      if (p.leaf) {
        auto it = std::lower_bound(p.entries.begin(), p.entries.end(), probe);
        if (it != p.entries.end()) return it->key == key;
        // The first entry not below the key may start the next page.
        if (!p.next) return false;
        const IndexPage& n = view(p.next);
        return !n.entries.empty() && n.entries.front().key == key;
      }
      bool beyond = false;
      size_t i = childFor(p, probe, beyond);
      if (beyond) return false;
      cur = i == p.entries.size() ? p.childTail : p.entries[i].child;
    }
    throwCorrupt("an index's pages form a cycle");
  });
}

void IndexTree::collectPages(uint32_t page, std::vector<uint32_t>& out, int depth) {
  if (depth > kMaxDepth || !visited_.insert(page).second) throwCorrupt("an index's pages form a cycle");
  out.push_back(page);
  const IndexPage& p = view(page);
  if (p.leaf) return;
  std::vector<uint32_t> kids;
  for (const auto& e : p.entries) kids.push_back(e.child);
  if (p.childTail) kids.push_back(p.childTail);
  for (uint32_t k : kids) collectPages(k, out, depth + 1);
}

std::vector<uint32_t> IndexTree::pages() {
  return guarded([&] {
    std::vector<uint32_t> out;
    visited_.clear();
    collectPages(root_, out, 0);
    return out;
  });
}

void IndexTree::rebuild(std::vector<IndexEntry> all) {
  guarded([&] {
    std::vector<uint32_t> old;
    visited_.clear();
    collectPages(root_, old, 0);
    for (uint32_t p : old)
      if (p != root_) release(p);
    // Entries gathered in key order already (an auto-number key read in stored order) skip the sort.
    if (!std::is_sorted(all.begin(), all.end())) std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end(), [](const IndexEntry& a, const IndexEntry& b) { return compareEntries(a, b) == 0; }),
              all.end());
    for (auto& e : all) e.child = 0;
    // Bottom-up: fill leaves, then each level of intermediate pages, until one page remains; that
    // page is written to the root.
    const size_t cap = layout_.capacity();
    std::vector<IndexPage> level;
    {
      // Each leaf takes entries while they fit, packed as the page will be written.
      IndexPage cur;
      size_t whole = 0;
      for (auto& e : all) {
        const size_t size = e.key.size() + 4;
        if (!cur.entries.empty() &&
            encodedEntriesSize(whole + size, cur.entries.size() + 1, cur.entries.front(), e, cap) > cap) {
          level.push_back(std::move(cur));
          cur = IndexPage{};
          whole = 0;
        }
        cur.entries.push_back(std::move(e));
        whole += size;
      }
      level.push_back(std::move(cur));
    }
    while (true) {
      if (level.size() == 1) {
        level[0].prev = level[0].next = 0;
        put(root_, std::move(level[0]));
        return;
      }
      std::vector<uint32_t> numbers;
      for (size_t i = 0; i < level.size(); ++i) numbers.push_back(fresh());
      std::vector<Child> kids;
      for (size_t i = 0; i < level.size(); ++i) {
        level[i].prev = i ? numbers[i - 1] : 0;
        level[i].next = i + 1 < level.size() ? numbers[i + 1] : 0;
        kids.push_back({numbers[i], subtreeMax(level[i])});
        put(numbers[i], std::move(level[i]));
      }
      if (cache_.size() > kCachedPages) {
        flush();
        discardCache();
      }
      std::vector<IndexPage> up;
      std::vector<Child> group;
      size_t whole = 0;
      for (auto& k : kids) {
        group.push_back(k);
        whole += k.max.key.size() + 8;
        if (group.size() > 1 && whole > cap) {
          IndexPage trial;
          setChildren(trial, group);
          if (encodedEntriesSize(trial, cap) <= cap) continue;
          group.pop_back();
          IndexPage done;
          setChildren(done, group);
          up.push_back(std::move(done));
          group = {k};
          whole = k.max.key.size() + 8;
        }
      }
      IndexPage last;
      setChildren(last, group);
      up.push_back(std::move(last));
      level = std::move(up);
    }
  });
}

void IndexTree::verifyPage(uint32_t number, const IndexEntry* lower, const IndexEntry* max, int depth,
                           std::vector<std::vector<uint32_t>>& levels, std::vector<std::string>& problems) {
  const std::string where = "index page " + std::to_string(number);
  if (depth > kMaxDepth) {
    problems.push_back(where + " lies deeper than any index can (a page cycle)");
    return;
  }
  IndexPage p;
  try {
    p = view(number);
  } catch (const Error& e) {
    problems.push_back(where + ": " + e.description());
    return;
  }
  if (!visited_.insert(number).second) {
    problems.push_back(where + " is reached twice in the tree");
    return;
  }
  if (levels.size() <= static_cast<size_t>(depth)) levels.resize(depth + 1);
  levels[depth].push_back(number);
  if (p.tdefPage != tdef_)
    problems.push_back(where + " names table definition page " + std::to_string(p.tdefPage));
  for (size_t i = 1; i < p.entries.size(); ++i)
    if (!(p.entries[i - 1] < p.entries[i])) problems.push_back(where + " holds entries out of order");
  if (p.leaf) {
    if (!p.entries.empty()) {
      if (lower && !(*lower < p.entries.front())) problems.push_back(where + " holds an entry below its parent's range");
      if (max && compareEntries(asMax(p.entries.back()), *max) != 0)
        problems.push_back(where + "'s last entry differs from its parent's entry for it");
    } else if (number != root_) {
      problems.push_back(where + " is empty");
    }
    return;
  }
  std::vector<Child> kids;
  try {
    kids = children(p);
  } catch (const Error& e) {
    problems.push_back(where + ": " + e.description());
    return;
  }
  if (kids.empty()) problems.push_back(where + " is an empty intermediate page");
  if (kids.size() > 1 && !p.childTail) problems.push_back(where + " has several children but no tail child");
  if (max && !kids.empty() && compareEntries(kids.back().max, *max) != 0)
    problems.push_back(where + "'s largest entry differs from its parent's entry for it");
  const IndexEntry* lo = lower;
  for (const auto& k : kids) {
    verifyPage(k.page, lo, &k.max, depth + 1, levels, problems);
    lo = &k.max;
  }
}

std::vector<std::string> IndexTree::verify() {
  return guarded([&] {
    std::vector<std::string> problems;
    std::vector<std::vector<uint32_t>> levels;
    visited_.clear();
    verifyPage(root_, nullptr, nullptr, 0, levels, problems);
    // Each level's pages are chained left to right.
    for (const auto& lvl : levels) {
      for (size_t i = 0; i < lvl.size(); ++i) {
        const IndexPage* p;
        try {
          p = &view(lvl[i]);
        } catch (const Error&) {
          continue;
        }
        uint32_t wantPrev = i ? lvl[i - 1] : 0;
        uint32_t wantNext = i + 1 < lvl.size() ? lvl[i + 1] : 0;
        if (p->prev != wantPrev || p->next != wantNext)
          problems.push_back("index page " + std::to_string(lvl[i]) + " is chained to the wrong neighbours");
      }
    }
    return problems;
  });
}

// ---------------------------------------------------------------------------------------------
// TableIndexes

std::vector<IndexOutline> indexOutlines(FileVersion version, const TableInfo& table, const std::vector<uint32_t>& rootPages) {
  const Format format = formatOf(version);
  std::vector<IndexOutline> outlines;
  std::vector<int> outlineOfReal(rootPages.size(), -1);
  for (const IndexInfo& info : table.indexes) {
    if (info.realNumber < 0 || static_cast<size_t>(info.realNumber) >= rootPages.size()) continue;
    int& at = outlineOfReal[info.realNumber];
    if (at < 0) {
      at = static_cast<int>(outlines.size());
      IndexOutline outline;
      outline.name = info.name;
      outline.rootPage = rootPages[info.realNumber];
      for (const IndexColumn& ic : info.columns) {
        KeyColumn kc;
        kc.type = ColumnType::Binary;  // stays so when the column is missing: not encodable
        kc.ascending = ic.ascending;
        int field = -1;
        for (size_t i = 0; i < table.columns.size(); ++i) {
          const ColumnInfo& c = table.columns[i];
          if (c.number != ic.columnNumber) continue;
          field = static_cast<int>(i);
          kc.type = c.type;
          kc.scale = c.scale;
          kc.collation = textCollation(format, c.sortOrder, c.sortVersion);
          kc.legacyDecimal = legacyDecimalKeys(version);
        }
        outline.columns.push_back(kc);
        outline.fields.push_back(field);
      }
      outlines.push_back(std::move(outline));
    }
    IndexOutline& outline = outlines[at];
    outline.unique = outline.unique || info.unique || info.primaryKey;
    outline.ignoreNulls = outline.ignoreNulls || info.ignoreNulls;
    outline.required = outline.required || info.required || info.primaryKey;
  }
  return outlines;
}

bool rowKeyInto(const IndexOutline& outline, const std::vector<Value>& row, Bytes& key, size_t& nulls) {
  static const Value kMissing;
  const size_t n = outline.columns.size();
  auto valueOf = [&](size_t i) -> const Value& {
    const int f = i < outline.fields.size() ? outline.fields[i] : -1;
    return f >= 0 && static_cast<size_t>(f) < row.size() ? row[static_cast<size_t>(f)] : kMissing;
  };
  nulls = 0;
  for (size_t i = 0; i < n; ++i)
    if (isNullKeyValue(outline.columns[i], valueOf(i))) ++nulls;
  key.clear();
  if (outline.ignoreNulls && nulls == n) return false;
  for (size_t i = 0; i < n; ++i) appendKeyEntry(outline.columns[i], valueOf(i), key);
  return true;
}

std::optional<Bytes> rowKey(const IndexOutline& outline, const std::vector<Value>& row) {
  Bytes key;
  size_t nulls;
  if (!rowKeyInto(outline, row, key, nulls)) return std::nullopt;
  return key;
}

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
