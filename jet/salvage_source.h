// Reading a damaged database for repair: whatever can still be read, nothing that cannot.
//
// The header gives the format, or else the page structure does. The catalog is read row by row,
// skipping rows that cannot be decoded; a table whose catalog row is lost is found by scanning the
// file for table-definition pages. A table's rows come from the pages its usage map lists and the
// data pages that name it as their owner; a page whose structure is broken is skipped whole, a row
// that cannot be decoded (or whose overflow pointer leads nowhere) is skipped alone. Losses are
// counted per table as they are met.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "jet/catalog/schema_writer.h"
#include "jet/compact_source.h"
#include "jet/storage/header.h"

namespace jet {

// What reading one table lost.
struct SalvageLoss {
  uint64_t rowsLost = 0;      // row slots on unreadable pages, rows that could not be decoded
  uint64_t pagesSkipped = 0;  // pages of the table that could not be read
};

class SalvageSource : public CompactionSource {
 public:
  // Opens `path` read-only. Throws 3024 when it is missing, 3031 when the header asks for another
  // password, 3343 when neither the header nor the pages look like a Jet 3 or Jet 4 database.
  SalvageSource(const std::string& path, const std::string& password);
  ~SalvageSource() override;

  Format format() const override { return header_.format; }
  FileVersion version() const override { return header_.version; }
  PageFile& pageFile() override { return *file_; }
  TextCodec& codec() override { return *codec_; }
  Bytes header() override;
  std::vector<SourceTable> tables() override;
  std::unique_ptr<SourceRows> rows(const SourceTable& table) override;
  bool salvaging() const override { return true; }

  // Whether the format came from the page structure rather than the header page.
  bool headerInferred() const { return inferred_; }
  // Whether the catalog's definition was lost, so that the copy has a new catalog.
  bool catalogRebuilt() const { return catalogRebuilt_; }
  // Losses by definition page in the source (filled as the rows are read).
  const std::map<uint32_t, SalvageLoss>& losses() const { return losses_; }
  // Catalog tables whose definitions could not be read, and catalog rows that could not be.
  const std::vector<std::string>& lostTables() const { return lostTables_; }

 private:
  class Rows;

  // The format and page size from the page structure alone.
  void inferFormat();
  // The page, or null when it cannot be read.
  PageRef tryPage(uint32_t page);
  bool load(SourceTable& table);
  bool load(SourceTable& table, PageFile& file, SchemaFile& pages, uint32_t page);
  void newCatalog(std::vector<SourceTable>& out);
  void readCatalog(std::vector<SourceTable>& out, std::set<uint32_t>& known);
  void findDefinitions(std::vector<SourceTable>& out, std::set<uint32_t>& known);
  // The pages that may hold a table's rows: those its usage map lists and those that name it.
  std::vector<uint32_t> pagesOf(const Tdef& def);
  uint64_t rowsOn(const std::vector<uint32_t>& pages, uint32_t owner);
  void indexPages();

  std::string path_;
  std::unique_ptr<PageFile> file_;
  Header header_;
  bool inferred_ = false;
  std::unique_ptr<TextCodec> codec_;
  std::unique_ptr<SchemaFile> pages_;
  bool catalogRebuilt_ = false;
  std::unique_ptr<PageFile> template_;         // a new database's system tables, for a new catalog
  std::unique_ptr<SchemaFile> templatePages_;
  std::set<uint32_t> fromTemplate_;            // tables (by SourceTable::page) read from it
  std::map<uint32_t, std::vector<uint32_t>> dataPagesByOwner_;  // data pages the global map does not free
  std::set<uint64_t> droppedCatalogRows_;                       // rows of catalog objects not copied
  std::map<uint32_t, SalvageLoss> losses_;
  std::vector<std::string> lostTables_;
};

}  // namespace jet
