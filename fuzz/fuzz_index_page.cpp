// Index pages from damaged files: the input is cut into pages of both formats, each page is parsed
// and, when it parses, written back and parsed again (the result must be the same entries); then
// an index tree is walked and verified over those pages as its store. Page numbers in the input
// point anywhere, including at pages that do not exist and back at their own ancestors.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jet/index/index.h"
#include "jet/index/index_page.h"

namespace {

class FuzzStore : public jet::IndexPageStore {
 public:
  FuzzStore(jet::Format format, const uint8_t* data, size_t size) : format_(format) {
    size_t page = jet::IndexPageLayout::of(format).pageSize;
    size_t count = size / page + 1;
    pages_.assign(count * page, 0);
    std::memcpy(pages_.data(), data, size);
    pageSize_ = page;
  }
  jet::Format format() const override { return format_; }
  void readPage(uint32_t page, uint8_t* out) override {
    if (size_t(page) * pageSize_ >= pages_.size()) throw jet::Error(jet::err::kCorrupt, "page out of range");
    std::memcpy(out, pages_.data() + size_t(page) * pageSize_, pageSize_);
  }
  void writePage(uint32_t page, const uint8_t* data) override {
    if (size_t(page) * pageSize_ >= pages_.size()) throw jet::Error(jet::err::kCorrupt, "page out of range");
    std::memcpy(pages_.data() + size_t(page) * pageSize_, data, pageSize_);
  }
  uint32_t allocatePage() override {
    pages_.resize(pages_.size() + pageSize_, 0);
    return static_cast<uint32_t>(pages_.size() / pageSize_ - 1);
  }
  void freePage(uint32_t) override {}
  size_t pageCount() const { return pages_.size() / pageSize_; }
  const uint8_t* page(size_t i) const { return pages_.data() + i * pageSize_; }
  size_t pageSize() const { return pageSize_; }

 private:
  jet::Format format_;
  std::vector<uint8_t> pages_;
  size_t pageSize_ = 0;
};

void roundTrip(jet::Format format, const uint8_t* page, size_t size) {
  jet::IndexPage parsed;
  try {
    parsed = jet::parseIndexPage(format, page, size);
  } catch (const jet::Error&) {
    return;
  }
  std::vector<uint8_t> out(size);
  if (!jet::writeIndexPage(format, parsed, out.data())) return;
  jet::IndexPage again = jet::parseIndexPage(format, out.data(), out.size());
  if (again.entries != parsed.entries || again.leaf != parsed.leaf || again.prev != parsed.prev ||
      again.next != parsed.next || again.childTail != parsed.childTail) {
    std::abort();  // a page the engine wrote does not read back as what it wrote
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  for (jet::Format format : {jet::Format::Jet3Layout, jet::Format::Jet4Layout}) {
    FuzzStore store(format, data + 1, size - 1);
    for (size_t i = 0; i < store.pageCount() && i < 8; ++i) roundTrip(format, store.page(i), store.pageSize());
    try {
      jet::IndexTree tree(store, data[0] % store.pageCount(), 1);
      (void)tree.verify();
      (void)tree.entries();
    } catch (const jet::Error&) {
    }
  }
  return 0;
}
