#include "jet/index/index_page.h"

#include <algorithm>
#include <cstring>

#include "jet/base/error.h"

namespace jet {

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The stored form of an entry is its key, the row page (3 bytes, big-endian), the row number and,
// on intermediate pages, the child page (4 bytes, big-endian). These give its bytes without
// building it.
size_t entrySize(const IndexEntry& e, bool leaf) { return e.key.size() + (leaf ? 4 : 8); }

uint8_t trailerByte(const IndexEntry& e, size_t i) {
  switch (i) {
    case 0: return static_cast<uint8_t>(e.row.page >> 16);
    case 1: return static_cast<uint8_t>(e.row.page >> 8);
    case 2: return static_cast<uint8_t>(e.row.page);
    case 3: return static_cast<uint8_t>(e.row.row);
    default: return static_cast<uint8_t>(e.child >> (8 * (7 - i)));
  }
}

uint8_t entryByte(const IndexEntry& e, size_t i) { return i < e.key.size() ? e.key[i] : trailerByte(e, i - e.key.size()); }

// Writes the entry's bytes from offset `skip` on; returns the count written.
size_t writeEntry(const IndexEntry& e, bool leaf, size_t skip, uint8_t* out) {
  const size_t total = entrySize(e, leaf);
  size_t n = 0;
  if (skip < e.key.size()) {
    std::memcpy(out, e.key.data() + skip, e.key.size() - skip);
    n = e.key.size() - skip;
  }
  for (size_t i = std::max(skip, e.key.size()); i < total; ++i) out[n++] = trailerByte(e, i - e.key.size());
  return n;
}

// The prefix shared by every entry: the common start of the first and last entries (the
// entries are sorted, so everything between shares it too), never reaching into the row number.
// Pages are only compressed when their entries would not fit otherwise, as Access does.
size_t commonPrefix(const IndexPage& page, size_t capacity) {
  if (page.entries.size() < 2) return 0;
  size_t whole = 0;
  for (const auto& e : page.entries) whole += entrySize(e, page.leaf);
  if (whole <= capacity) return 0;
  return sharedPrefix(page.entries.front(), page.entries.back());
}

}  // namespace

size_t sharedPrefix(const IndexEntry& a, const IndexEntry& b) {
  size_t limit = std::min(a.key.size(), b.key.size()) + 3;
  size_t n = 0;
  while (n < limit && entryByte(a, n) == entryByte(b, n)) ++n;
  return n;
}

int compareEntries(const IndexEntry& a, const IndexEntry& b) {
  size_t n = std::min(a.key.size(), b.key.size());
  if (n) {
    int c = std::memcmp(a.key.data(), b.key.data(), n);
    if (c) return c < 0 ? -1 : 1;
  }
  if (a.key.size() != b.key.size()) return a.key.size() < b.key.size() ? -1 : 1;
  if (a.row.page != b.row.page) return a.row.page < b.row.page ? -1 : 1;
  if (a.row.row != b.row.row) return a.row.row < b.row.row ? -1 : 1;
  return 0;
}

bool IndexEntry::operator<(const IndexEntry& o) const { return compareEntries(*this, o) < 0; }

IndexPageLayout IndexPageLayout::of(Format format) {
  if (format == Format::Jet3Layout) return {2048, 8, 12, 16, 20, 1, 22, 226};
  return {4096, 12, 16, 20, 24, 2, 27, 453};
}

IndexPage parseIndexPage(Format format, const uint8_t* data, size_t size) {
  const IndexPageLayout L = IndexPageLayout::of(format);
  if (size < L.pageSize) throwCorrupt("an index page is truncated");
  IndexPage page;
  if (data[0] == kIndexLeafPage) page.leaf = true;
  else if (data[0] == kIndexNodePage) page.leaf = false;
  else throwCorrupt("an index points to a page that is not an index page");
  page.tdefPage = le32(data + 4);
  page.prev = le32(data + L.prevOffset);
  page.next = le32(data + L.nextOffset);
  page.childTail = le32(data + L.tailOffset);
  size_t prefixLen = data[L.prefixOffset];
  if (L.prefixSize == 2) prefixLen |= static_cast<size_t>(data[L.prefixOffset + 1]) << 8;

  const size_t base = L.entriesOffset();
  const size_t trailer = page.leaf ? 4 : 8;
  Bytes prefix;
  size_t start = 0;
  for (size_t bit = 0; bit < L.maskSize * 8; ++bit) {
    if (!(data[L.maskOffset + bit / 8] & (1u << (bit % 8)))) continue;
    size_t end = bit;
    if (end <= start || base + end > L.pageSize) throwCorrupt("an index page's entry map is inconsistent");
    Bytes full;
    if (page.entries.empty()) {
      full.assign(data + base + start, data + base + end);
      if (prefixLen > full.size()) throwCorrupt("an index page's shared prefix is longer than its first entry");
      prefix.assign(full.begin(), full.begin() + static_cast<long>(prefixLen));
    } else {
      full = prefix;
      full.insert(full.end(), data + base + start, data + base + end);
    }
    if (full.size() < trailer) throwCorrupt("an index entry is too short");
    IndexEntry e;
    const size_t k = full.size() - trailer;
    e.key.assign(full.begin(), full.begin() + static_cast<long>(k));
    e.row.page = (static_cast<uint32_t>(full[k]) << 16) | (full[k + 1] << 8) | full[k + 2];
    e.row.row = full[k + 3];
    if (!page.leaf)
      e.child = (static_cast<uint32_t>(full[k + 4]) << 24) | (full[k + 5] << 16) | (full[k + 6] << 8) | full[k + 7];
    // Pages are written sorted; an entry below its predecessor means the page is damaged, and
    // writing it back would compress it with a prefix that some entries do not have.
    if (!page.entries.empty() && compareEntries(page.entries.back(), e) > 0)
      throwCorrupt("an index page's entries are out of order");
    page.entries.push_back(std::move(e));
    start = end;
  }
  return page;
}

size_t encodedEntriesSize(const IndexPage& page, size_t capacity) {
  if (page.entries.empty()) return 0;
  size_t whole = 0;
  for (const auto& e : page.entries) whole += entrySize(e, page.leaf);
  return encodedEntriesSize(whole, page.entries.size(), page.entries.front(), page.entries.back(), capacity);
}

size_t encodedEntriesSize(size_t whole, size_t count, const IndexEntry& first, const IndexEntry& last,
                          size_t capacity) {
  if (count < 2 || whole <= capacity) return whole;
  return whole - (count - 1) * sharedPrefix(first, last);
}

bool writeIndexPage(Format format, const IndexPage& page, uint8_t* out) {
  const IndexPageLayout L = IndexPageLayout::of(format);
  const size_t prefix = commonPrefix(page, L.capacity());
  size_t total = 0;
  for (size_t i = 0; i < page.entries.size(); ++i) total += entrySize(page.entries[i], page.leaf) - (i ? prefix : 0);
  if (total > L.capacity()) return false;
  std::memset(out, 0, L.pageSize);
  out[0] = page.leaf ? kIndexLeafPage : kIndexNodePage;
  out[1] = 0x01;
  putLe32(out + 4, page.tdefPage);
  putLe32(out + L.prevOffset, page.prev);
  putLe32(out + L.nextOffset, page.next);
  putLe32(out + L.tailOffset, page.childTail);
  out[L.prefixOffset] = static_cast<uint8_t>(prefix);
  if (L.prefixSize == 2) out[L.prefixOffset + 1] = static_cast<uint8_t>(prefix >> 8);
  out[L.prefixOffset + L.prefixSize] = page.leaf ? 0 : 1;
  size_t pos = 0;
  const size_t base = L.entriesOffset();
  for (size_t i = 0; i < page.entries.size(); ++i) {
    pos += writeEntry(page.entries[i], page.leaf, i ? prefix : 0, out + base + pos);
    out[L.maskOffset + pos / 8] |= static_cast<uint8_t>(1u << (pos % 8));
  }
  size_t freeBytes = L.pageSize - base - pos;
  out[2] = static_cast<uint8_t>(freeBytes);
  out[3] = static_cast<uint8_t>(freeBytes >> 8);
  return true;
}

}  // namespace jet
