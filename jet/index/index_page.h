// Index pages: the leaf (0x04) and intermediate (0x03) pages of an index b-tree.
//
// Page layout (little-endian header, big-endian entries):
//   0 type, 1 always 1, 2 free bytes (u16), 4 table definition page (u32),
//   then previous, next and child-tail page numbers (u32 each; Jet 4 has 4 unused bytes first),
//   the length of the prefix shared by all entries (Jet 3 u8 + node flag; Jet 4 u16 + node flag),
//   a bitmap marking the last byte of each entry, then the entries.
// An entry is its key, the row's page (3 bytes) and row number (1 byte); intermediate entries add
// the child page (4 bytes) and carry the largest entry of that child's subtree. The last child of
// an intermediate page with more than one child is not an entry: it is the page's child tail.
// The first entry is stored whole; the others leave out the common prefix.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/row_id.h"
#include "jet/base/schema.h"
#include "jet/base/value.h"

namespace jet {

constexpr uint8_t kIndexNodePage = 0x03;
constexpr uint8_t kIndexLeafPage = 0x04;

struct IndexEntry {
  Bytes key;
  RowId row;
  uint32_t child = 0;  // intermediate pages only

  // Entries order by key bytes, then by row address.
  bool operator<(const IndexEntry& o) const;
  bool operator==(const IndexEntry& o) const { return key == o.key && row == o.row && child == o.child; }
};

// The byte comparison of two entries (key, then row page, then row number): <0, 0, >0.
int compareEntries(const IndexEntry& a, const IndexEntry& b);

struct IndexPage {
  bool leaf = true;
  uint32_t tdefPage = 0;
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t childTail = 0;
  std::vector<IndexEntry> entries;
};

// The geometry of index pages in one format.
struct IndexPageLayout {
  size_t pageSize;
  size_t prevOffset, nextOffset, tailOffset;
  size_t prefixOffset, prefixSize;  // the prefix length field
  size_t maskOffset, maskSize;
  size_t entriesOffset() const { return maskOffset + maskSize; }
  // The most entry bytes a page can hold (limited by the page and by the bitmap).
  size_t capacity() const { return std::min(pageSize - entriesOffset(), maskSize * 8); }
  static IndexPageLayout of(Format format);
};

// Parses an index page. Throws jet::Error 3049 on a page that is not a well-formed index page.
IndexPage parseIndexPage(Format format, const uint8_t* data, size_t size);

// The bytes the page's entries take on a page of the given capacity (prefix-compressed only when
// they would not fit whole).
size_t encodedEntriesSize(const IndexPage& page, size_t capacity);
// The same for `count` sorted entries from `first` to `last` whose whole sizes add up to `whole`,
// without the page: what a bulk load needs as it adds one entry after another.
size_t encodedEntriesSize(size_t whole, size_t count, const IndexEntry& first, const IndexEntry& last,
                          size_t capacity);

// The bytes two entries share from their start, never reaching into the row number: on a page
// whose entries are stored compressed, the prefix of its first and last entries.
size_t sharedPrefix(const IndexEntry& a, const IndexEntry& b);
// Writes the page into out (pageSize bytes). Returns false when the entries do not fit.
bool writeIndexPage(Format format, const IndexPage& page, uint8_t* out);

}  // namespace jet
