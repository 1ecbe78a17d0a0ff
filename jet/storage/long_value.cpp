#include "jet/storage/long_value.h"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "jet/base/bytes.h"
#include "jet/storage/data_page.h"

namespace jet {

PageRef LongValueReader::rowPage(uint32_t page) {
  PageRef p = file_.page(page);
  if ((*p)[0] != kDataPageType) throwCorrupt("a memo or OLE value points at page " + std::to_string(page) + ", which holds no rows");
  return p;
}

void LongValueReader::read(const uint8_t* field, size_t len, std::vector<uint8_t>& out) {
  out.clear();
  if (len < kLongValueRefSize) throwCorrupt("a memo or OLE reference is cut short");
  uint32_t length = le24(field);
  uint8_t kind = field[3];
  uint32_t ptr = le32(field + 4);
  if (kind & kLongValueInline) {
    if (length > len - kLongValueRefSize) throwCorrupt("an inline memo or OLE value is cut short");
    out.assign(field + kLongValueRefSize, field + kLongValueRefSize + length);
    return;
  }
  out.reserve(length);
  if (kind & kLongValueSinglePage) {
    PageRef p = rowPage(pointerPage(ptr));
    RowSlot s = rowSlot(p->data(), file_.pageSize(), format_, pointerRow(ptr));
    if (s.size() < length) throwCorrupt("a memo or OLE value is shorter than its length");
    out.assign(p->data() + s.start, p->data() + s.start + length);
    return;
  }
  if (kind != kLongValueChained) throwCorrupt("a memo or OLE reference has an unknown kind");
  // Every link carries at least one byte, so the chain ends within `length` hops; a link seen
  // twice is a loop, which would otherwise repeat the same bytes up to the declared length.
  std::unordered_set<uint32_t> seen;
  while (out.size() < length) {
    if (ptr == 0) throwCorrupt("a memo or OLE chain ends early");
    if (!seen.insert(ptr).second) throwCorrupt("a memo or OLE chain loops back on itself");
    PageRef p = rowPage(pointerPage(ptr));
    RowSlot s = rowSlot(p->data(), file_.pageSize(), format_, pointerRow(ptr));
    if (s.size() <= 4) throwCorrupt("a memo or OLE chain has an empty link");
    ptr = le32(p->data() + s.start);
    size_t take = std::min<size_t>(s.size() - 4, length - out.size());
    out.insert(out.end(), p->data() + s.start + 4, p->data() + s.start + 4 + take);
  }
}

std::vector<uint8_t> inlineLongValue(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> ref(kLongValueRefSize, 0);
  if (data.size() > 0xFFFFFF) throw Error(err::kTextTooLong, "The value is too large to store.");
  put24(ref.data(), uint32_t(data.size()));
  ref[3] = kLongValueInline;
  ref.insert(ref.end(), data.begin(), data.end());
  return ref;
}

std::vector<uint8_t> writeLongValue(const std::vector<uint8_t>& data, size_t inlineRoom, size_t maxRow,
                                    const std::function<uint32_t(const uint8_t*, size_t)>& placeRow) {
  if (data.size() <= kMaxInlineLongValue && data.size() <= inlineRoom) return inlineLongValue(data);
  std::vector<uint8_t> ref(kLongValueRefSize, 0);
  if (data.size() > 0xFFFFFF) throw Error(err::kTextTooLong, "The value is too large to store.");
  put24(ref.data(), uint32_t(data.size()));
  if (data.size() <= maxRow) {
    ref[3] = kLongValueSinglePage;
    put32(ref.data() + 4, placeRow(data.data(), data.size()));
    return ref;
  }
  ref[3] = kLongValueChained;
  const size_t perLink = maxRow - 4;
  const size_t links = (data.size() + perLink - 1) / perLink;
  uint32_t next = 0;
  std::vector<uint8_t> link;
  for (size_t i = links; i-- > 0;) {
    const size_t from = i * perLink, len = std::min(perLink, data.size() - from);
    link.assign(4, 0);
    put32(link.data(), next);
    link.insert(link.end(), data.begin() + long(from), data.begin() + long(from + len));
    next = placeRow(link.data(), link.size());
  }
  put32(ref.data() + 4, next);
  return ref;
}

}  // namespace jet
