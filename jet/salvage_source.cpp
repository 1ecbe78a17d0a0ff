#include "jet/salvage_source.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <unistd.h>

#include "jet/base/bytes.h"
#include "jet/base/paths.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/system_tables.h"
#include "jet/catalog/create_database.h"
#include "jet/storage/data_page.h"
#include "jet/storage/encryption.h"
#include "jet/storage/env.h"
#include "jet/storage/usage_map.h"
#include "jet/table/row.h"

namespace jet {

namespace {

uint64_t rowKey(RowId id) { return (uint64_t(id.page) << 16) | id.row; }

// The header's signature, whatever the version byte says.
bool hasSignature(const std::vector<uint8_t>& b) {
  return b.size() >= 0x15 && (std::memcmp(b.data() + 4, "Standard Jet DB", 15) == 0 ||
                              std::memcmp(b.data() + 4, "Standard ACE DB", 15) == 0);
}

// The page, or null when it cannot be read.
PageRef pageOf(PageFile& file, uint32_t page) {
  if (page >= file.pageCount()) return nullptr;
  try {
    return file.page(page);
  } catch (const Error&) {
    return nullptr;
  }
}

// A new database of the damaged file's version, code page and sort order.
CreateOptions newDatabaseOptions(const Header& header) {
  CreateOptions options;
  options.format = header.format;
  options.codePage = header.codePage;
  options.sortOrder = header.sortOrder;
  options.version = header.version;
  if (header.sortVersion <= 1) options.sortVersion = uint8_t(header.sortVersion);
  return options;
}

// Whether the catalog's definition still lays out the columns its rows are read by (Id, ParentId,
// Name, Type, Flags) as every engine does, and no other column takes their places. A definition damaged there reads every row wrongly (ids
// of other pages, one id for all): the catalog is then made anew and the tables found by scanning.
bool catalogColumnsSound(const Tdef& def, const Header& header) {
  // No two columns share a number, nor two variable-length columns a place among the offsets.
  std::set<int> numbers, places;
  for (const ColumnDef& c : def.columns)
    if (!numbers.insert(c.number).second || (!c.fixed() && !places.insert(c.varIndex).second)) return false;
  Bytes own = buildNewDatabase(newDatabaseOptions(header), 0)[sys::kCatalogTdef];
  own.resize(std::min<size_t>(own.size(), le32(own.data() + 8)));
  TextCodec codec(header.codePage);
  const Tdef expected = parseTdef(header.format, own, codec);
  for (const char* name : {"Id", "ParentId", "Name", "Type", "Flags"}) {
    const int a = columnIndex(def.columns, name), b = columnIndex(expected.columns, name);
    if (a < 0 || b < 0) return false;
    const ColumnDef &x = def.columns[size_t(a)], &y = expected.columns[size_t(b)];
    if (x.type != y.type || x.number != y.number || x.fixed() != y.fixed() || x.length != y.length) return false;
    if (x.fixed() ? x.fixedOffset != y.fixedOffset : x.varIndex != y.varIndex) return false;
  }
  return true;
}

}  // namespace

// A table's rows as far as they can be read. Pages come in ascending order; a page is taken only
// when it is a data page of the table whose row table is sound, and a row only when its body is
// found and every column of it decodes.
class SalvageSource::Rows : public SourceRows {
 public:
  Rows(PageFile& file, TextCodec& codec, const Tdef& def, std::vector<uint32_t> pages, SalvageLoss* loss,
       const std::set<uint64_t>* skip)
      : file_(file), def_(def), pages_(std::move(pages)), loss_(loss), skip_(skip), longValues_(file, def.format),
        reader_(def, codec, longValues_) {}

  bool next() override {
    for (;;) {
      if (page_ && row_ + 1 < count_) {
        ++row_;
        if (readRow()) return true;
        continue;
      }
      if (!nextPage()) return false;
    }
  }
  RowId rowId() const override { return current_; }
  LongValueReader& longValues() { return longValues_; }
  const uint8_t* data() const override { return body_->data() + slot_.start; }
  size_t size() const override { return slot_.size(); }

 private:
  void skipped(uint64_t rows) {
    if (!loss_) return;
    ++loss_->pagesSkipped;
    loss_->rowsLost += rows;
  }
  void lost() {
    if (loss_) ++loss_->rowsLost;
  }

  bool nextPage() {
    page_.reset();
    const Format f = def_.format;
    const uint32_t ps = file_.pageSize();
    while (at_ < pages_.size()) {
      const uint32_t p = pages_[at_++];
      PageRef page = pageOf(file_, p);
      if (!page) {
        skipped(0);
        continue;
      }
      const uint8_t* d = page->data();
      // Usage maps list the table's index pages and may list long-value pages: not rows of it.
      if (d[0] == 0x03 || d[0] == 0x04) continue;
      if (d[0] == kDataPageType && pageOwner(d) == kLongValueOwner) continue;
      if (!isPageOf(d, kDataPageType) || pageOwner(d) != def_.tdefPage) {
        skipped(0);
        continue;
      }
      uint16_t count = 0;
      try {
        count = pageRowCount(d, ps, f);
      } catch (const Error&) {
        skipped(0);
        continue;
      }
      // A page is read only when every live row lies where the page's layout allows.
      bool sound = true;
      uint64_t live = 0;
      for (uint16_t r = 0; r < count; ++r) {
        try {
          if (!rowSlot(d, ps, f, r).deleted) ++live;
        } catch (const Error&) {
          ++live;
          sound = false;
        }
      }
      if (!sound) {
        skipped(live);
        continue;
      }
      page_ = std::move(page);
      pageNo_ = p;
      count_ = count;
      row_ = -1;
      return true;
    }
    return false;
  }

  bool readRow() {
    const Format f = def_.format;
    const uint32_t ps = file_.pageSize();
    current_ = RowId{pageNo_, uint16_t(row_)};
    try {
      RowSlot slot = rowSlot(page_->data(), ps, f, uint16_t(row_));
      if (slot.deleted) return false;
      if (skip_ && skip_->count(rowKey(current_))) return false;
      PageRef body = page_;
      // A moved row leaves a pointer to its body on another page of the same table.
      for (int hops = 0; slot.overflow; ++hops) {
        if (hops > 16 || slot.size() < 4) throwCorrupt("a moved row's pointer is broken");
        const uint8_t* p = body->data() + slot.start;
        const RowId target{le24(p + 1), p[0]};
        body = pageOf(file_, target.page);
        if (!body || (*body)[0] != kDataPageType || pageOwner(body->data()) != def_.tdefPage)
          throwCorrupt("a moved row's pointer leads nowhere");
        slot = rowSlot(body->data(), ps, f, target.row);
        if (slot.overflow && slot.deleted) throwCorrupt("a moved row's body was deleted");
        if (slot.size() == 0) throwCorrupt("a moved row's body is empty");
      }
      validate(body->data() + slot.start, slot.size());
      body_ = std::move(body);
      slot_ = slot;
      return true;
    } catch (const std::exception&) {
      lost();
      return false;
    }
  }

  // Throws unless every column of the row can be read (long values are read when copied).
  void validate(const uint8_t* row, size_t size) {
    parseRow(def_, row, size, layout_);
    if (def_.maxColumns != 0 && layout_.columnCount > std::max<size_t>(def_.maxColumns, def_.columns.size()))
      throwCorrupt("a row has more columns than its table");
    for (const ColumnDef& col : def_.columns) {
      const uint8_t* field;
      size_t len;
      if (col.inNullMask()) continue;
      if (!columnBytes(def_, col, layout_, field, len)) continue;
      if (col.isLongValue()) {
        if (len < kLongValueRefSize) throwCorrupt("a memo or OLE reference is cut short");
        if ((field[3] & kLongValueInline) && le24(field) > len - kLongValueRefSize)
          throwCorrupt("an inline memo or OLE value is cut short");
        continue;
      }
      reader_.decodeColumn(col, field, len, value_);
    }
  }

  PageFile& file_;
  const Tdef& def_;
  std::vector<uint32_t> pages_;
  SalvageLoss* loss_;
  const std::set<uint64_t>* skip_;
  LongValueReader longValues_;
  RowReader reader_;
  size_t at_ = 0;
  PageRef page_;
  uint32_t pageNo_ = 0;
  uint16_t count_ = 0;
  int row_ = -1;
  RowId current_;
  PageRef body_;
  RowSlot slot_;
  RowLayout layout_;
  Value value_;
};

SalvageSource::SalvageSource(const std::string& path, const std::string& password) : path_(path) {
  file_ = std::make_unique<PageFile>(path, true);
  const std::vector<uint8_t> prefix = file_->readPrefix(kHeaderBytes);
  bool parsed = false;
  try {
    header_ = parseHeader(prefix, fileName(path));
    parsed = true;
  } catch (const Error&) {
    // A file that says what it is but is of a format this engine does not read is no damage.
    if (hasSignature(prefix) && prefix[0x14] > 1) throw;
  }
  if (parsed) {
    file_->setPageSize(header_.pageSize);
    unlockPages(*file_, header_, password, fileName(path));
    // A header whose format the pages contradict (page 2 is the catalog's definition) is damaged,
    // unless the pages say nothing else either.
    PageRef catalog = tryPage(sys::kCatalogTdef);
    if (!catalog || (*catalog)[0] != kTdefPageType) {
      const Header read = header_;
      const auto codec = file_->codec();
      try {
        file_->setCodec(nullptr);
        inferFormat();
      } catch (const Error&) {
        header_ = read;
        inferred_ = false;
        file_->setPageSize(read.pageSize);
        file_->setCodec(codec);
      }
    }
  } else {
    inferFormat();
  }
  try {
    codec_ = std::make_unique<TextCodec>(header_.codePage);
  } catch (const Error&) {
    header_.codePage = 1252;
    codec_ = std::make_unique<TextCodec>(header_.codePage);
  }
  pages_ = SchemaFile::over(*file_, header_.format, header_.codePage);
}

SalvageSource::~SalvageSource() = default;

PageRef SalvageSource::tryPage(uint32_t page) { return pageOf(*file_, page); }

void SalvageSource::inferFormat() {
  inferred_ = true;
  header_ = Header{};
  // Read with 2 KB pages, a Jet 3 file has a page header at every page; a Jet 4 file has one
  // only at every other (the odd ones fall in the middle of its 4 KB pages).
  file_->setPageSize(2048);
  uint32_t nonZero = 0, plausible = 0;
  for (uint32_t i = 1; i < file_->pageCount() && i < 1024; i += 2) {
    PageRef p = tryPage(i);
    if (!p) continue;
    const uint8_t* d = p->data();
    if (std::all_of(d, d + 8, [](uint8_t b) { return b == 0; })) continue;
    ++nonZero;
    if (d[0] >= 0x01 && d[0] <= 0x05 && d[1] == 0x01) ++plausible;
  }
  std::vector<Format> order = {Format::Jet4Layout, Format::Jet3Layout};
  if (nonZero >= 2 && plausible * 2 > nonZero) order = {Format::Jet3Layout, Format::Jet4Layout};
  // Whichever format is likelier, the catalog's definition must be on page 2. Jet 3 definition
  // pages carry "VC" after their type, where Jet 4 keeps a free-space count that never reaches
  // that value.
  for (Format f : order) {
    file_->setPageSize(uint32_t(pageSizeOf(f)));
    PageRef catalog = tryPage(sys::kCatalogTdef);
    if (catalog && isPageOf(catalog->data(), kTdefPageType) &&
        ((*catalog)[2] == 'V' && (*catalog)[3] == 'C') == (f == Format::Jet3Layout)) {
      header_.format = f;
      header_.version = firstVersionOf(f);
      header_.pageSize = uint32_t(pageSizeOf(f));
      return;
    }
  }
  throw Error(err::kUnrecognizedFormat, "Unrecognized database format '" + fileName(path_) + "'.");
}

Bytes SalvageSource::header() {
  if (inferred_) {
    CreateOptions options;
    options.format = header_.format;
    options.codePage = header_.codePage;
    options.sortOrder = header_.sortOrder;
    options.version = header_.version;
    return buildNewDatabase(options, sys::oleNow()).front();
  }
  return unencodedHeaderPage(*file_, header_.format);
}

namespace {

// An index structure that no index of the table names serves nothing and would not be kept up to
// date by writes (a damaged index count looks like this): the copy leaves it out.
void dropUnusedIndexes(SourceTable& table) {
  Tdef& d = table.def;
  for (size_t i = d.realIndexes.size(); i-- > 0;) {
    bool used = false;
    for (const LogicalIndexDef& l : d.indexes) used = used || l.realIndex == int32_t(i);
    if (used) continue;
    d.realIndexes.erase(d.realIndexes.begin() + long(i));
    for (LogicalIndexDef& l : d.indexes)
      if (l.realIndex > int32_t(i)) --l.realIndex;
  }
}

}  // namespace

bool SalvageSource::load(SourceTable& table) { return load(table, *file_, *pages_, table.page); }

bool SalvageSource::load(SourceTable& table, PageFile& file, SchemaFile& pages, uint32_t page) {
  try {
    table.def = readTdef(file, header_.format, *codec_, page);
    table.def.version = header_.version;
    dropUnusedIndexes(table);
    serializeTdef(table.def, *codec_);  // the copy must be able to write it
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// One pass over the file: the data pages of each owner that the global map does not give back as
// free, so that rows on pages a damaged usage map no longer lists are found.
void SalvageSource::indexPages() {
  for (uint32_t p = 3; p < file_->pageCount(); ++p) {
    PageRef page = tryPage(p);
    if (!page || (*page)[0] != kDataPageType) continue;
    const uint32_t owner = pageOwner(page->data());
    if (owner == kLongValueOwner || owner < 2 || owner >= file_->pageCount()) continue;
    bool free = false;
    try {
      free = pages_->globalFree(p);
    } catch (const std::exception&) {
    }
    if (!free) dataPagesByOwner_[owner].push_back(p);
  }
}

std::vector<SourceTable> SalvageSource::tables() {
  indexPages();
  std::vector<SourceTable> out;
  SourceTable catalog;
  catalog.name = "MSysObjects";
  catalog.page = sys::kCatalogTdef;
  std::set<uint32_t> known = {sys::kCatalogTdef};
  if (load(catalog) && catalogColumnsSound(catalog.def, header_)) {
    out.push_back(catalog);
    readCatalog(out, known);
  } else {
    newCatalog(out);
  }
  findDefinitions(out, known);
  return out;
}

// A catalog whose definition cannot be read (or is damaged where its rows are read) cannot have its
// rows read either: the copy gets the engine's own system tables, as a new database has them, and
// every table is found by scanning.
void SalvageSource::newCatalog(std::vector<SourceTable>& out) {
  catalogRebuilt_ = true;
  const std::vector<Bytes> images = buildNewDatabase(newDatabaseOptions(header_), sys::oleNow());
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("tabulonix-repair-" + std::to_string(::getpid()) + "-" + std::to_string(uintptr_t(this)) + ".mdb"))
                               .string();
  Env& env = Env::get();
  try {
    int error = 0;
    std::unique_ptr<File> f = env.open(path, OpenMode::CreateNew, error);
    if (!f) throwWriteError(error, path);
    uint64_t at = 0;
    for (const Bytes& image : images) {
      f->write(at, image.data(), image.size());
      at += image.size();
    }
    f.reset();
    template_ = std::make_unique<PageFile>(path, true);
  } catch (...) {
    env.remove(path);
    throw;
  }
  env.remove(path);  // open, it stays readable
  template_->setPageSize(header_.pageSize);
  templatePages_ = SchemaFile::over(*template_, header_.format, header_.codePage);
  SourceTable catalog;
  catalog.name = "MSysObjects";
  catalog.page = sys::kCatalogTdef;
  if (!load(catalog, *template_, *templatePages_, sys::kCatalogTdef)) throwCorrupt("a new catalog cannot be made");
  fromTemplate_.insert(catalog.page);
  out.push_back(std::move(catalog));
  const Catalog fresh = Catalog::read(*template_, header_.format, *codec_);
  for (const CatalogEntry& e : fresh.entries()) {
    if (e.type != sys::kTypeTable || e.object.tdefPage == sys::kCatalogTdef) continue;
    SourceTable table;
    table.name = e.object.name;
    table.id = e.object.id;
    table.page = file_->pageCount() + e.object.tdefPage;  // a number no page of the source has
    if (!load(table, *template_, *templatePages_, e.object.tdefPage)) throwCorrupt("a new catalog cannot be made");
    fromTemplate_.insert(table.page);
    out.push_back(std::move(table));
  }
}

// The tables the catalog lists and can still be read.
void SalvageSource::readCatalog(std::vector<SourceTable>& out, std::set<uint32_t>& known) {
  const SourceTable& catalog = out.front();
  const auto& columns = catalog.def.columns;
  const int cId = columnIndex(columns, "Id"), cName = columnIndex(columns, "Name"), cType = columnIndex(columns, "Type"),
            cParent = columnIndex(columns, "ParentId");
  if (cId < 0 || cName < 0 || cType < 0 || cParent < 0)
    throw Error(err::kCorrupt, "The catalog lacks its Id, ParentId, Name or Type column.");
  const Tdef catalogDef = out.front().def;  // `out` grows below
  Rows rows(*file_, *codec_, catalogDef, pagesOf(catalogDef), nullptr, nullptr);
  RowLayout layout;
  RowReader reader(catalogDef, *codec_, rows.longValues());
  Value id, name, type, parent;
  // A catalog row is kept only where the catalog stays sound: ids unique, names unique among the
  // tables, one row per table definition. A row that breaks that is damage and counted lost.
  std::set<int32_t> ids;
  std::set<std::string> names;
  auto drop = [&](RowId row) {
    droppedCatalogRows_.insert(rowKey(row));
    ++losses_[sys::kCatalogTdef].rowsLost;
  };
  while (rows.next()) {
    const Tdef& def = catalogDef;
    try {
      parseRow(def, rows.data(), rows.size(), layout);
      const uint8_t* field;
      size_t len;
      for (auto [column, value] : {std::pair{cId, &id}, {cName, &name}, {cType, &type}, {cParent, &parent}}) {
        const ColumnDef& col = def.columns[size_t(column)];
        if (columnBytes(def, col, layout, field, len)) reader.decodeColumn(col, field, len, *value);
        else *value = Null{};
      }
    } catch (const std::exception&) {
      continue;  // counted as lost when the catalog's rows are copied
    }
    const int64_t* t = std::get_if<int64_t>(&type);
    const int64_t* i = std::get_if<int64_t>(&id);
    const int64_t* up = std::get_if<int64_t>(&parent);
    const std::string* n = std::get_if<std::string>(&name);
    const std::string lower = lowerName(n ? *n : std::string());
    if (!ids.insert(i ? int32_t(*i) : 0).second ||
        (up && *up == sys::kTablesId && !names.insert(lower).second)) {
      drop(rows.rowId());
      continue;
    }
    if (!t || *t != sys::kTypeTable) continue;
    if (!i) {  // a table row without an id names no definition
      drop(rows.rowId());
      continue;
    }
    SourceTable table;
    table.id = int32_t(*i);
    table.page = uint32_t(table.id) & 0x00FFFFFFu;
    if (n) table.name = *n;
    if (table.page == sys::kCatalogTdef) continue;
    if (known.count(table.page)) {
      drop(rows.rowId());
      continue;
    }
    if (table.page < 3 || !load(table)) {
      lostTables_.push_back(table.name);
      droppedCatalogRows_.insert(rowKey(rows.rowId()));
      continue;
    }
    known.insert(table.page);
    out.push_back(std::move(table));
  }
}

// Definitions the catalog does not name: the first page of every definition chain that no other
// definition page continues to, and that the global map does not give back as free. Under a new
// catalog the engine's own tables are not taken: what they held (permissions, queries,
// relationships) named objects by ids that are lost with the old catalog.
void SalvageSource::findDefinitions(std::vector<SourceTable>& out, std::set<uint32_t>& known) {
  for (const SourceTable& t : out) {
    if (fromTemplate_.count(t.page)) continue;
    const std::vector<uint32_t> chain = pages_->definition(t.page).pages;
    known.insert(chain.begin(), chain.end());
  }
  std::vector<uint32_t> firsts;
  std::set<uint32_t> continued;
  for (uint32_t p = 3; p < file_->pageCount(); ++p) {
    PageRef page = tryPage(p);
    if (!page || !isPageOf(page->data(), kTdefPageType)) continue;
    firsts.push_back(p);
    if (const uint32_t next = le32(page->data() + 4)) continued.insert(next);
  }
  for (uint32_t p : firsts) {
    if (known.count(p) || continued.count(p)) continue;
    bool free = false;
    try {
      free = pages_->globalFree(p);
    } catch (const std::exception&) {
    }
    if (free) continue;
    SourceTable table;
    table.name = "Recovered_" + std::to_string(p);
    table.id = int32_t(p);
    table.page = p;
    table.catalogRow = false;
    if (!load(table) || (catalogRebuilt_ && table.def.systemTable())) continue;
    // The engine's own tables keep their fixed pages: one found there takes its name back when the
    // catalog no longer names it (writes to the copy look them up by name).
    for (const sys::SystemTable& st : sys::systemTables(header_.format, header_.version)) {
      if (st.tdefPage != p || !table.def.systemTable()) continue;
      const bool named = std::any_of(out.begin(), out.end(), [&](const SourceTable& t) { return sameName(t.name, st.name); });
      if (!named) table.name = st.name;
    }
    out.push_back(std::move(table));
  }
}

// Rows (not deleted, not pointers to a moved row's body) on the pages among `pages` that are data
// pages of `owner`; a page that cannot be read holds none.
uint64_t SalvageSource::rowsOn(const std::vector<uint32_t>& pages, uint32_t owner) {
  uint64_t rows = 0;
  for (uint32_t p : pages) {
    PageRef page = tryPage(p);
    if (!page || (*page)[0] != kDataPageType || pageOwner(page->data()) != owner) continue;
    try {
      const uint16_t count = pageRowCount(page->data(), file_->pageSize(), header_.format);
      for (uint16_t r = 0; r < count; ++r) {
        const RowSlot slot = rowSlot(page->data(), file_->pageSize(), header_.format, r);
        if (!slot.deleted && !slot.overflow) ++rows;
      }
    } catch (const std::exception&) {
    }
  }
  return rows;
}

// The usage map's pages, and the pages that name the table without being listed when the map falls
// short of the definition's rows (a damaged map). A map that accounts for every row is taken alone:
// Access leaves superseded copies of a table's pages that still name it, in use until compaction,
// and their rows are old versions of rows the map's pages hold.
std::vector<uint32_t> SalvageSource::pagesOf(const Tdef& def) {
  std::vector<uint32_t> pages;
  bool mapRead = false;
  try {
    pages = UsageMap::read(*file_, header_.format, def.ownedPagesPointer).pages();
    mapRead = true;
  } catch (const std::exception&) {
  }
  auto it = dataPagesByOwner_.find(def.tdefPage);
  if (it != dataPagesByOwner_.end() && (!mapRead || rowsOn(pages, def.tdefPage) < def.rowCount))
    pages.insert(pages.end(), it->second.begin(), it->second.end());
  std::sort(pages.begin(), pages.end());
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  return pages;
}

std::unique_ptr<SourceRows> SalvageSource::rows(const SourceTable& table) {
  if (fromTemplate_.count(table.page)) {
    std::vector<uint32_t> pages = UsageMap::read(*template_, header_.format, table.def.ownedPagesPointer).pages();
    return std::make_unique<Rows>(*template_, *codec_, table.def, std::move(pages), nullptr, nullptr);
  }
  return std::make_unique<Rows>(*file_, *codec_, table.def, pagesOf(table.def), &losses_[table.page],
                                table.page == sys::kCatalogTdef ? &droppedCatalogRows_ : nullptr);
}

}  // namespace jet
