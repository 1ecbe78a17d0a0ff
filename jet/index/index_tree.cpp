#include "jet/index/index_tree.h"

#include <algorithm>
#include <set>

#include "jet/base/error.h"

namespace jet {

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
    // The left part keeps the page's own list (no copy of the larger part when appending).
    const auto at = page.entries.begin() + static_cast<long>(cut);
    right.entries.assign(std::make_move_iterator(at), std::make_move_iterator(page.entries.end()));
    page.entries.erase(at, page.entries.end());
    left.entries = std::move(page.entries);
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

}  // namespace jet
