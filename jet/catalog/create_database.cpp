#include "jet/catalog/create_database.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/catalog/catalog_writer.h"
#include "jet/catalog/system_tables.h"
#include "jet/index/index_page.h"
#include "jet/storage/data_page.h"
#include "jet/storage/env.h"
#include "jet/storage/header.h"
#include "jet/storage/page_file.h"
#include "jet/storage/usage_map.h"
#include "jet/table/table_def.h"

namespace jet {

namespace {

constexpr size_t kMaskedOffset = 0x18;

Bytes headerPage(const CreateOptions& o, double created) {
  const Format f = o.format;
  const FileVersion v = versionOf(o);
  Bytes page(pageSizeOf(f), 0);
  uint8_t* p = page.data();
  p[1] = 0x01;
  std::memcpy(p + 4, headerIdOf(v), 15);
  p[0x14] = versionByteOf(v);
  // Start of the masked block: the same leading words in every file of both formats.
  const uint8_t lead[24] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
  std::memcpy(p + kMaskedOffset, lead, sizeof lead);
  le::put16(p + 0x3C, o.codePage);
  // 0x3E: database key 0 (not encoded).
  if (f == Format::Jet4Layout) {
    // An empty password is stored as the mask made from the creation date's whole days.
    uint8_t mask[4];
    le::put32(mask, uint32_t(int32_t(created)));
    for (size_t i = 0; i < 40; ++i) p[0x42 + i] = mask[i % 4];
    le::put16(p + 0x6E, o.sortOrder);
    p[0x71] = sortVersionOf(o);
    std::memcpy(p + 0x72, &created, 8);
    le::put16(p + 0x98, 0x0654);
    std::memcpy(p + 0x9C, "4.0", 3);
  } else {
    le::put16(p + 0x38, 1);
    le::put16(p + 0x3A, o.sortOrder);
    le::put16(p + 0x56, 0x251E);
  }
  maskHeaderBlock(f, p, page.size());
  // The page's last 512 bytes: a table of byte pairs the engine writes into every header.
  const size_t tail = page.size() - 512;
  for (size_t i = 0; i < 256; ++i) {
    p[tail + 2 * i] = i == 0 ? 1 : 0;
    p[tail + 2 * i + 1] = 1;
  }
  return page;
}

size_t longValueColumns(const Tdef& def) {
  return size_t(std::count_if(def.columns.begin(), def.columns.end(), [](const ColumnDef& c) { return c.isLongValue(); }));
}

// Where the pages of a new database go. After the header, the global map and the four core
// definitions come usage-map pages, each followed by the roots of the indexes whose maps it holds,
// then the catalog's data page. The Jet engines keep the maps of all four tables on one page; the
// Access 2007 engine gives each table a map page of its own and puts each further system table
// (its definition, maps and roots) after the catalog's data, the permissions' data last.
class PagePlan {
 public:
  explicit PagePlan(Format f)
      : mapsPerPage_((pageSizeOf(f) - (f == Format::Jet4Layout ? 14 : 10)) / (buildInlineUsageMap(f, {}).size() + 2)) {}

  uint32_t take() { return next_++; }
  uint32_t pageCount() const { return next_; }

  // Gives each table its usage maps (page map and free-space map, two per long-value column by
  // column number, one per real index) and its index roots, table by table.
  void placeMaps(std::vector<sys::SystemTable*> group) {
    size_t rows = 0;
    for (auto* t : group) rows += 2 + 2 * longValueColumns(t->def) + t->def.realIndexes.size();
    const uint32_t first = next_;
    next_ += uint32_t((rows + mapsPerPage_ - 1) / mapsPerPage_);
    size_t k = 0;
    auto newMap = [&]() {
      maps_.push_back({first + uint32_t(k / mapsPerPage_), {}});
      const uint32_t pointer = makePointer(maps_.back().page, uint8_t(k % mapsPerPage_));
      ++k;
      return pointer;
    };
    for (auto* t : group) {
      usedMapOf_[t->tdefPage] = maps_.size();
      t->def.ownedPagesPointer = newMap();
      t->def.freeSpacePointer = newMap();
      std::vector<ColumnDef*> lv;
      for (auto& c : t->def.columns)
        if (c.isLongValue()) lv.push_back(&c);
      std::sort(lv.begin(), lv.end(), [](auto* a, auto* b) { return a->number < b->number; });
      for (auto* c : lv) {
        c->lvOwnedPointer = newMap();
        c->lvFreePointer = newMap();
      }
      for (auto& r : t->def.realIndexes) {
        r.usedPagesPointer = newMap();
        r.rootPage = take();
        maps_.back().marked.push_back(r.rootPage);
      }
    }
  }

  // Marks a data page of the table in its page map and free-space map.
  void markData(uint32_t tdefPage, uint32_t page) {
    const size_t i = usedMapOf_.at(tdefPage);
    maps_[i].marked.push_back(page);
    maps_[i + 1].marked.push_back(page);
  }

  // The usage-map pages (owned by no table), by page number.
  std::map<uint32_t, Bytes> mapPages(Format f) const {
    std::map<uint32_t, std::vector<Bytes>> rows;
    for (const auto& m : maps_) rows[m.page].push_back(buildInlineUsageMap(f, m.marked));
    std::map<uint32_t, Bytes> out;
    for (auto& [page, r] : rows) out[page] = buildDataPage(f, 0, r);
    return out;
  }

 private:
  struct MapRow {
    uint32_t page;
    std::vector<uint32_t> marked;
  };
  const size_t mapsPerPage_;
  uint32_t next_ = sys::kRelationshipsTdef + 1;
  std::vector<MapRow> maps_;  // in pointer order
  std::map<uint32_t, size_t> usedMapOf_;
};

}  // namespace

FileVersion versionOf(const CreateOptions& o) { return o.format == Format::Jet3Layout ? FileVersion::Jet3 : o.version; }

uint8_t sortVersionOf(const CreateOptions& o) {
  if (o.sortVersion) return *o.sortVersion;
  // Access 2010 and later make new databases in the newer General sort order.
  return versionOf(o) >= FileVersion::Access2010 ? 1 : 0;
}

std::vector<Bytes> buildNewDatabase(const CreateOptions& o, double created) {
  const Format f = o.format;
  const FileVersion v = versionOf(o);
  const size_t ps = pageSizeOf(f);
  std::vector<sys::SystemTable> tables = sys::systemTables(f, v, sortVersionOf(o));
  const size_t coreTables = 4;

  PagePlan plan(f);
  if (isAccdb(v)) {
    for (size_t i = 0; i < coreTables; ++i) plan.placeMaps({&tables[i]});
  } else {
    std::vector<sys::SystemTable*> all;
    for (auto& t : tables) all.push_back(&t);
    plan.placeMaps(all);
  }
  const uint32_t catalogData = plan.take();
  std::vector<int32_t> addedIds;
  for (size_t i = coreTables; i < tables.size(); ++i) {
    tables[i].tdefPage = plan.take();
    addedIds.push_back(int32_t(tables[i].tdefPage));
    plan.placeMaps({&tables[i]});
  }
  const uint32_t acesData = plan.take();
  const uint32_t pageCount = plan.pageCount();

  TextCodec codec(o.codePage);
  // Catalog rows: containers, the database object, then the system tables.
  auto& catalog = tables[0];
  auto& aces = tables[1];
  std::vector<std::vector<Value>> catalogRows;
  auto addObject = [&](int32_t id, int32_t parent, const std::string& name, int16_t type,
                       std::optional<sys::Sid> owner, uint32_t flags) {
    catalogRows.push_back(catalogRow(catalog.def, f, {id, parent, name, type, created, owner, flags, std::nullopt}));
  };
  addObject(sys::kTablesId, sys::kRootId, "Tables", sys::kTypeContainer, sys::Sid::Engine, kObjectFlagSystem);
  addObject(sys::kDatabasesId, sys::kRootId, "Databases", sys::kTypeContainer, sys::Sid::Engine, kObjectFlagSystem);
  addObject(sys::kRelationshipsId, sys::kRootId, "Relationships", sys::kTypeContainer, sys::Sid::Engine,
            kObjectFlagSystem);
  addObject(sys::kMSysDbId, sys::kDatabasesId, "MSysDb", sys::kTypeDatabase, sys::Sid::Creator, kObjectFlagSystem);
  for (auto& t : tables)
    addObject(int32_t(t.tdefPage), sys::kTablesId, t.name, sys::kTypeTable,
              t.owned ? std::optional<sys::Sid>(sys::Sid::Engine) : std::nullopt, t.catalogFlags);

  std::vector<std::vector<Value>> aceRows;
  for (const auto& a : sys::initialAces(addedIds))
    aceRows.push_back(aceRow(aces.def, f, a));

  std::vector<Bytes> pages(pageCount, Bytes(ps, 0));
  pages[0] = headerPage(o, created);

  auto fill = [&](sys::SystemTable& t, const std::vector<std::vector<Value>>& rows, uint32_t dataPage) {
    std::vector<Bytes> images;
    for (const auto& r : rows) images.push_back(encodeSystemRow(t.def, r, codec));
    pages[dataPage] = buildDataPage(f, t.tdefPage, images);
    plan.markData(t.tdefPage, dataPage);
    t.def.rowCount = uint32_t(rows.size());
    const std::vector<IndexOutline> outlines = indexOutlines(t.def);
    for (size_t i = 0; i < t.def.realIndexes.size(); ++i) {
      auto outline = std::find_if(outlines.begin(), outlines.end(),
                               [&](const IndexOutline& s) { return s.rootPage == t.def.realIndexes[i].rootPage; });
      if (outline == outlines.end()) throw Error(err::kInvalidOperation, "Invalid operation.");
      IndexPage leaf;
      leaf.tdefPage = t.tdefPage;
      for (size_t r = 0; r < rows.size(); ++r) {
        auto key = rowKey(*outline, rows[r]);
        if (key) leaf.entries.push_back({*key, RowId{dataPage, uint16_t(r)}, 0});
      }
      std::sort(leaf.entries.begin(), leaf.entries.end());
      t.def.realIndexes[i].entryCount = uint32_t(leaf.entries.size());
      if (!writeIndexPage(f, leaf, pages[t.def.realIndexes[i].rootPage].data()))
        throw Error(err::kInvalidOperation, "Invalid operation.");
    }
  };
  fill(catalog, catalogRows, catalogData);
  fill(aces, aceRows, acesData);
  for (size_t t = 2; t < tables.size(); ++t)
    for (auto& r : tables[t].def.realIndexes) {
      IndexPage leaf;
      leaf.tdefPage = tables[t].tdefPage;
      writeIndexPage(f, leaf, pages[r.rootPage].data());
    }

  for (auto& t : tables) {
    Bytes def = serializeTdef(t.def, codec);
    auto images = paginateTdef(f, def, {t.tdefPage});
    pages[t.tdefPage] = images[0];
  }
  for (auto& [page, image] : plan.mapPages(f)) pages[page] = std::move(image);

  // Global map: row 0 marks the pages that are free (every page past the end of the file);
  // row 1 is kept empty.
  pages[1] = buildDataPage(f, 1, {buildInlineUsageMap(f, {}, 0, pageCount), buildInlineUsageMap(f, {})});
  return pages;
}

void createDatabaseFile(const std::string& path, const CreateOptions& o) {
  if (Env::get().exists(path)) throw Error(err::kDatabaseExists, "Database already exists.");
  if (o.codePage != 1252 || o.sortOrder != 1033) throw Error(err::kInvalidArgument, "Invalid argument.");
  if (o.format == Format::Jet4Layout && o.version == FileVersion::Jet3) throw Error(err::kInvalidArgument, "Invalid argument.");
  // The newer General order exists from Access 2010 on.
  if (o.sortVersion && *o.sortVersion > (versionOf(o) >= FileVersion::Access2010 ? 1 : 0))
    throw Error(err::kInvalidArgument, "Invalid argument.");
  std::vector<Bytes> pages = buildNewDatabase(o, sys::oleNow());
  // The file is written under a temporary name and appears whole or not at all.
  auto file = PageFile::createNew(path, uint32_t(pages.front().size()));
  for (const auto& p : pages) file->appendPage(p.data());
  file->publish();
}

}  // namespace jet
