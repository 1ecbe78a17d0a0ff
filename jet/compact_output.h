// The destination of a copy (compaction and repair): its pages written in order as they are
// completed, the shared pages of usage-map rows, and the page store new index trees grow in.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/index/index_tree.h"
#include "jet/storage/data_page.h"
#include "jet/storage/page_file.h"

namespace jet::compaction {

// The destination file, a new page file that gets its name only when complete. Pages are handed
// out in increasing order but may be written some time later (a long-value page stays open while
// rows go on), so pages wait in memory until every page before them is there and then go to the
// file in long sequential runs. Should too many wait for one page, that page is written empty for
// now and overwritten when it comes.
class Output {
 public:
  explicit Output(PageFile& file) : file_(file), pageSize_(file.pageSize()) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  uint32_t allocate() { return next_++; }
  uint32_t end() const { return next_; }

  void write(uint32_t page, const uint8_t* data);
  void write(uint32_t page, const Bytes& data) { write(page, data.data()); }
  // A page as written so far (zeros for one handed out but not yet written).
  void read(uint32_t page, uint8_t* out);

  // Writes everything still held, makes the file as long as the pages handed out, and gives the
  // file its name once it is all on disk.
  void finish();

 private:
  static constexpr size_t kRunPages = 256;
  static constexpr size_t kMostHeld = 256;

  void drain(bool all);
  void flushRun(bool always);

  PageFile& file_;
  size_t pageSize_;
  uint32_t next_ = 2;     // after the header and the global page map
  uint32_t written_ = 2;  // every page below is in the file
  std::map<uint32_t, Bytes> pending_;
  Bytes run_;
};

// A page of rows filled one row at a time.
class PageBuilder {
 public:
  void start(Format f, size_t pageSize, uint32_t owner) {
    page_.assign(pageSize, 0);
    initDataPage(page_.data(), uint32_t(pageSize), f, owner);
    rows_.emplace(page_.data(), uint32_t(pageSize), f);
  }
  bool started() const { return rows_.has_value(); }
  uint16_t count() const { return rows_ ? rows_->count() : 0; }
  // Bytes a new row body may take on this page.
  size_t room() const { return rows_ ? rows_->room() : 0; }
  bool fits(size_t size) const { return rows_ && rows_->fits(size); }
  uint16_t add(const uint8_t* body, size_t size) { return rows_->add(body, size); }
  const Bytes& page() const { return page_; }
  void reset() { rows_.reset(); }

 private:
  Bytes page_;
  std::optional<RowAppender> rows_;
};

// Usage-map rows, packed onto shared pages that belong to no table.
class MapRows {
 public:
  MapRows(Output& out, Format f) : out_(out), format_(f), pageSize_(pageSizeOf(f)) {}

  // A map of exactly these pages, the size of an inline map so that the engine can later widen it
  // in place.
  uint32_t add(std::vector<uint32_t> pages);

  void finish() {
    if (current_.started()) out_.write(pageNo_, current_.page());
    current_.reset();
  }

 private:
  uint32_t place(const Bytes& row);

  Output& out_;
  Format format_;
  size_t pageSize_;
  PageBuilder current_;
  uint32_t pageNo_ = 0;
};

// The pages of one new index tree; they all come from the end of the destination.
class OutputIndexStore : public IndexPageStore {
 public:
  OutputIndexStore(Output& out, Format f, std::vector<uint32_t>& pages)
      : out_(out), format_(f), pages_(pages), zero_(pageSizeOf(f), 0) {}
  Format format() const override { return format_; }
  void readPage(uint32_t page, uint8_t* data) override { out_.read(page, data); }
  void writePage(uint32_t page, const uint8_t* data) override { out_.write(page, data); }
  uint32_t allocatePage() override;
  void freePage(uint32_t page) override;

 private:
  Output& out_;
  Format format_;
  std::vector<uint32_t>& pages_;
  std::vector<uint32_t> spare_;
  Bytes zero_;
};

}  // namespace jet::compaction
