// An open file as schema changes work on it: pages read and written one by one, pages taken from
// and given back to the global page map, changes staged in page transactions of their own, rows
// and long values placed and freed through the table layer, and the plain rows of catalog-like
// tables read back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jet/base/row_id.h"
#include "jet/base/text_codec.h"
#include "jet/base/value.h"
#include "jet/index/index_tree.h"
#include "jet/storage/header.h"
#include "jet/storage/page_file.h"
#include "jet/storage/page_transaction.h"
#include "jet/table/row_space.h"
#include "jet/table/table_def.h"

namespace jet {

// One open file seen as pages, with the global page map for allocating and freeing pages.
class SchemaFile : public IndexPageStore {
 public:
  // Opens the file through its own page file, which waits up to `busyTimeoutMs` for another
  // program's commit under way (then 3260). Throws 3024 when missing, 3343 when not a database of a
  // version the engine knows, 3051 when it cannot be opened.
  static std::unique_ptr<SchemaFile> open(const std::string& path, bool readOnly = false,
                                          int busyTimeoutMs = PageFile::kBusyTimeoutMs);
  // Works through an open database's page file (its cache stays in step with every write).
  static std::unique_ptr<SchemaFile> over(PageFile& file, Format format, uint16_t codePage);
  ~SchemaFile() override;

  Format format() const override { return format_; }
  PageFile& pageFile() { return *pages_; }
  size_t pageSize() const { return pageSize_; }
  uint32_t pageCount() const { return pages_->pageCount(); }

  void readPage(uint32_t page, uint8_t* out) override;
  void writePage(uint32_t page, const uint8_t* data) override;
  uint32_t allocatePage() override;
  void freePage(uint32_t page) override;
  Bytes page(uint32_t n);

  // The table definition whose chain starts at tdefPage (its pages in `pages`).
  Tdef definition(uint32_t tdefPage);
  // Text of the database's code page (Jet 3 names).
  TextCodec& codec() { return *codec_; }
  // The file's header (read from page 0 when first asked for): its version and the sort order new
  // text columns get.
  const Header& header();

  // Whether the global page map marks the page free (pages it does not cover count as used).
  bool globalFree(uint32_t page);
  // The pages a usage map (packed row pointer) marks.
  std::vector<uint32_t> usageMapPages(uint32_t pointer);
  void usageMapMark(uint32_t pointer, uint32_t page, bool set);

  // Runs `edit` in a page transaction of its own (the free-page map in use), committed when it
  // returns; when it throws, nothing of it reaches the file. 3027 on a file opened read-only.
  void change(const std::function<void(PageTransaction&)>& edit);

  // Deletes a row as the table writer does: it keeps its slot and both flags, and its bytes are
  // given back to the page.
  void deleteRow(uint32_t page, uint16_t row);
  // Puts a row of a catalog-like table on the last of its pages with room, or on a new page
  // entered in its maps (the table layer's placement); returns the row's address.
  RowId insertRow(const Tdef& def, const Bytes& row);

  // Stores a long value: inline when short, otherwise in rows of long-value pages (one row, or a
  // chain of rows), each on a new page entered in the usage map `map` (0 for none). Returns the
  // field to put in the row.
  Bytes writeLongValue(const Bytes& data, uint32_t map);
  // Frees the long-value rows a field refers to, as the table writer does; pages left without rows
  // leave the column's maps and are given back.
  void freeLongValue(const Bytes& field, LongValueMaps maps);

  void sync();

 private:
  SchemaFile() = default;

  PageFile* pages_ = nullptr;
  std::unique_ptr<PageFile> owned_;  // when opened by path
  std::unique_ptr<TextCodec> codec_;
  bool readOnly_ = false;
  Format format_ = Format::Jet4Layout;
  size_t pageSize_ = 4096;
  std::optional<Header> header_;
};

// The live rows of any table whose rows are plain (catalog-like tables), with their addresses, read
// as the table scan reads them; long values come back as their stored fields.
std::vector<std::pair<RowId, std::vector<Value>>> readPlainRows(SchemaFile& file, uint32_t tdefPage,
                                                                const Tdef& def);
// The same rows one at a time, for tables that may be large: each call gives the next row and
// returns false after the last. The table's rows must not change while it runs.
std::function<bool(RowId&, std::vector<Value>&)> streamPlainRows(SchemaFile& file, const Tdef& def);

}  // namespace jet
