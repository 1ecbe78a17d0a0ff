#include "jet/table/table_scan.h"

#include "jet/base/bytes.h"
#include "jet/storage/data_page.h"

namespace jet {

PageRef resolveRow(PageFile& file, Format format, RowId id, RowSlot& slot) {
  PageRef page = file.page(id.page);
  if ((*page)[0] != kDataPageType) throwCorrupt("a row pointer leads to a page that holds no rows");
  slot = rowSlot(page->data(), file.pageSize(), format, id.row);
  // A moved row leaves a 4-byte pointer (row number, 3-byte page); bodies are not moved more than
  // a few times, so a long chain means a loop.
  for (int hops = 0; slot.overflow; ++hops) {
    if (hops > 16 || slot.size() < 4) throwCorrupt("a moved row's pointer is broken");
    const uint8_t* p = page->data() + slot.start;
    RowId target{le24(p + 1), p[0]};
    page = file.page(target.page);
    if ((*page)[0] != kDataPageType) throwCorrupt("a moved row's pointer leads to a page that holds no rows");
    slot = rowSlot(page->data(), file.pageSize(), format, target.row);
  }
  return page;
}

TableScan::TableScan(PageFile& file, const Tdef& def, TextCodec& codec)
    : file_(file),
      def_(def),
      longValues_(file, def.format),
      reader_(def, codec, longValues_),
      owned_(UsageMap::read(file, def.format, def.ownedPagesPointer)) {}

void TableScan::rewind() {
  started_ = false;
  page_.reset();
  bodyPage_.reset();
  rowsOnPage_ = 0;
  row_ = -1;
  decoded_ = false;
}

bool TableScan::nextPage() {
  for (;;) {
    uint32_t from = started_ ? pageNo_ + 1 : 0;
    if (started_ && pageNo_ == UINT32_MAX) return false;
    started_ = true;
    uint32_t p = owned_.nextFrom(from);
    if (p == UINT32_MAX) {
      pageNo_ = UINT32_MAX;
      page_.reset();
      return false;
    }
    pageNo_ = p;
    if (p >= file_.pageCount()) throwCorrupt("a table's page map names pages beyond the end of the file");
    PageRef page = file_.page(p);
    // The owned pages include index pages; only this table's data pages hold its rows.
    if ((*page)[0] != kDataPageType || pageOwner(page->data()) != def_.tdefPage) continue;
    page_ = std::move(page);
    rowsOnPage_ = pageRowCount(page_->data(), file_.pageSize(), def_.format);
    row_ = -1;
    return true;
  }
}

bool TableScan::next() {
  decoded_ = false;
  for (;;) {
    if (!page_ || row_ + 1 >= rowsOnPage_) {
      if (!nextPage()) return false;
      continue;
    }
    ++row_;
    RowSlot slot = rowSlot(page_->data(), file_.pageSize(), def_.format, uint16_t(row_));
    if (slot.deleted) continue;
    current_ = RowId{pageNo_, uint16_t(row_)};
    if (slot.overflow) {
      bodyPage_ = resolveRow(file_, def_.format, current_, body_);
    } else {
      bodyPage_ = page_;
      body_ = slot;
    }
    return true;
  }
}

const std::vector<Value>& TableScan::values() {
  if (!decoded_) {
    if (!bodyPage_) throw Error(err::kNoCurrentRecord, "No current record.");
    reader_.decode(bodyPage_->data() + body_.start, body_.size(), values_);
    decoded_ = true;
  }
  return values_;
}

}  // namespace jet
