// Operations on a whole tree at once: rebuilding it from its entries, listing its pages, and
// verifying its structure.
#include "jet/index/index_tree.h"

#include <algorithm>
#include <set>

#include "jet/base/error.h"

namespace jet {

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

}  // namespace jet
