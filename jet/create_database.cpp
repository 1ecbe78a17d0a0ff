#include "jet/create_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/catalog/catalog_writer.h"
#include "jet/catalog/system_tables.h"
#include "jet/index/index_page.h"
#include "jet/storage/data_page.h"
#include "jet/storage/header.h"
#include "jet/storage/page_file.h"
#include "jet/storage/usage_map.h"
#include "jet/table/table_def.h"

namespace jet {

namespace {

constexpr size_t kMaskedOffset = 0x18;

Bytes headerPage(const CreateOptions& o, double created) {
  const Format f = o.format;
  Bytes page(pageSizeOf(f), 0);
  uint8_t* p = page.data();
  p[1] = 0x01;
  std::memcpy(p + 4, "Standard Jet DB", 15);
  p[0x14] = f == Format::Jet4 ? 1 : 0;
  // Start of the masked block: the same leading words in every file of both formats.
  const uint8_t lead[24] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
  std::memcpy(p + kMaskedOffset, lead, sizeof lead);
  le::put16(p + 0x3C, o.codePage);
  // 0x3E: database key 0 (not encoded).
  if (f == Format::Jet4) {
    // An empty password is stored as the mask made from the creation date's whole days.
    uint8_t mask[4];
    le::put32(mask, uint32_t(int32_t(created)));
    for (size_t i = 0; i < 40; ++i) p[0x42 + i] = mask[i % 4];
    le::put16(p + 0x6E, o.sortOrder);
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

struct Built {
  sys::SystemTable table;
  std::vector<std::vector<Value>> rows;
};

}  // namespace

std::vector<Bytes> buildNewDatabase(const CreateOptions& o, double created) {
  const Format f = o.format;
  const size_t ps = pageSizeOf(f);
  std::vector<sys::SystemTable> tables = sys::systemTables(f);

  // Page plan: header, global map, the four definitions, usage-map pages, index roots, the data
  // pages of the catalog and the permissions table.
  const uint32_t firstMapPage = 6;
  // Usage-map rows: per table its page map and free-space map, two per long-value column, one per
  // real index, in that order and table by table.
  const Bytes sampleMap = buildInlineUsageMap(f, {});
  const size_t mapsPerPage = (ps - (f == Format::Jet4 ? 14 : 10)) / (sampleMap.size() + 2);
  size_t mapRows = 0;
  for (auto& t : tables) {
    mapRows += 2 + t.def.realIndexes.size();
    for (auto& c : t.def.columns)
      if (c.type == ColumnType::Memo || c.type == ColumnType::Ole) mapRows += 2;
  }
  const uint32_t mapPages = uint32_t((mapRows + mapsPerPage - 1) / mapsPerPage);
  uint32_t nextIndexPage = firstMapPage + mapPages;

  // Usage-map rows, filled below: pointer -> pages marked.
  std::vector<std::vector<uint32_t>> mapContents(mapRows);
  size_t mapCursor = 0;
  auto newMap = [&]() {
    size_t i = mapCursor++;
    uint32_t page = firstMapPage + uint32_t(i / mapsPerPage);
    return std::pair<size_t, uint32_t>(i, makePointer(page, uint8_t(i % mapsPerPage)));
  };

  std::map<uint32_t, size_t> usedMapOf;  // tdef page -> map row index
  std::vector<std::pair<size_t, uint32_t>> indexMaps;  // (map row, root page) in table order
  for (auto& t : tables) {
    auto used = newMap();
    auto free = newMap();
    t.def.ownedPagesPointer = used.second;
    t.def.freeSpacePointer = free.second;
    usedMapOf[t.tdefPage] = used.first;
    // Long-value maps are handed out by column number.
    std::vector<ColumnDef*> lv;
    for (auto& c : t.def.columns)
      if (c.type == ColumnType::Memo || c.type == ColumnType::Ole) lv.push_back(&c);
    std::sort(lv.begin(), lv.end(), [](auto* a, auto* b) { return a->number < b->number; });
    for (auto* c : lv) {
      c->lvOwnedPointer = newMap().second;
      c->lvFreePointer = newMap().second;
    }
    for (auto& r : t.def.realIndexes) {
      auto m = newMap();
      r.usedPagesPointer = m.second;
      r.rootPage = nextIndexPage++;
      mapContents[m.first].push_back(r.rootPage);
    }
  }
  const uint32_t catalogData = nextIndexPage;
  const uint32_t acesData = catalogData + 1;
  const uint32_t pageCount = acesData + 1;

  TextCodec codec(o.codePage);
  // Catalog rows: containers, the database object, then the system tables.
  std::vector<Value> dummy;
  auto& catalog = tables[0];
  auto& aces = tables[1];
  std::vector<std::vector<Value>> catalogRows;
  auto catalogRow = [&](int32_t id, int32_t parent, const std::string& name, int16_t type, sys::Sid owner) {
    catalogRows.push_back(rowByNumber(catalog.def, {
        {sys::kObjId, int64_t(id)},
        {sys::kObjParentId, int64_t(parent)},
        {sys::kObjName, name},
        {sys::kObjType, int64_t(type)},
        {sys::kObjDateCreate, DateTime{created}},
        {sys::kObjDateUpdate, DateTime{created}},
        {sys::kObjOwner, sys::sidBytes(f, owner)},
        {sys::kObjFlags, int64_t(int32_t(sys::kFlagSystem))},
    }));
  };
  catalogRow(sys::kTablesId, sys::kRootId, "Tables", sys::kTypeContainer, sys::Sid::Engine);
  catalogRow(sys::kDatabasesId, sys::kRootId, "Databases", sys::kTypeContainer, sys::Sid::Engine);
  catalogRow(sys::kRelationshipsId, sys::kRootId, "Relationships", sys::kTypeContainer, sys::Sid::Engine);
  catalogRow(sys::kMSysDbId, sys::kDatabasesId, "MSysDb", sys::kTypeDatabase, sys::Sid::Creator);
  for (auto& t : tables) catalogRow(int32_t(t.tdefPage), sys::kTablesId, t.name, sys::kTypeTable, sys::Sid::Engine);

  std::vector<std::vector<Value>> aceRows;
  for (const auto& a : sys::initialAces())
    aceRows.push_back(rowByNumber(aces.def, {{sys::kAceObjectId, int64_t(a.objectId)},
                                             {sys::kAceSid, sys::sidBytes(f, a.sid)},
                                             {sys::kAceAcm, int64_t(a.mask)},
                                             {sys::kAceInheritable, a.inheritable}}));

  std::vector<Bytes> pages(pageCount, Bytes(ps, 0));
  pages[0] = headerPage(o, created);

  auto fill = [&](sys::SystemTable& t, const std::vector<std::vector<Value>>& rows, uint32_t dataPage) {
    std::vector<Bytes> images;
    for (const auto& r : rows) images.push_back(encodeSystemRow(t.def, r, codec));
    pages[dataPage] = buildDataPage(f, t.tdefPage, images);
    mapContents[usedMapOf[t.tdefPage]].push_back(dataPage);
    mapContents[usedMapOf[t.tdefPage] + 1].push_back(dataPage);
    t.def.rowCount = uint32_t(rows.size());
    const std::vector<IndexSpec> specs = indexSpecs(t.def);
    for (size_t i = 0; i < t.def.realIndexes.size(); ++i) {
      auto spec = std::find_if(specs.begin(), specs.end(),
                               [&](const IndexSpec& s) { return s.rootPage == t.def.realIndexes[i].rootPage; });
      if (spec == specs.end()) throw Error(err::kInvalidOperation, "Invalid operation.");
      IndexPage leaf;
      leaf.tdefPage = t.tdefPage;
      for (size_t r = 0; r < rows.size(); ++r) {
        auto key = rowKey(*spec, rows[r]);
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
    Bytes def = serializeTableDef(t.def, codec);
    auto images = paginateTableDef(f, def, {t.tdefPage});
    pages[t.tdefPage] = images[0];
  }

  // Usage-map pages (owned by no table).
  for (uint32_t mp = 0; mp < mapPages; ++mp) {
    std::vector<Bytes> rows;
    for (size_t i = mp * mapsPerPage; i < std::min(mapRows, (mp + 1) * mapsPerPage); ++i)
      rows.push_back(buildInlineUsageMap(f, mapContents[i]));
    pages[firstMapPage + mp] = buildDataPage(f, 0, rows);
  }

  // Global map: row 0 marks the pages that are free (every page past the end of the file);
  // row 1 is kept empty.
  pages[1] = buildDataPage(f, 1, {buildInlineUsageMap(f, {}, 0, pageCount), buildInlineUsageMap(f, {})});
  return pages;
}

void createDatabaseFile(const std::string& path, const CreateOptions& o) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) throw Error(err::kDatabaseExists, "Database already exists.");
  if (o.codePage != 1252 || o.sortOrder != 1033) throw Error(err::kInvalidArgument, "Invalid argument.");
  std::vector<Bytes> pages = buildNewDatabase(o, sys::oleNow());
  // The file is written under a temporary name and appears whole or not at all.
  auto file = PageFile::createNew(path, uint32_t(pages.front().size()));
  for (const auto& p : pages) file->appendPage(p.data());
  file->publish();
}

}  // namespace jet
