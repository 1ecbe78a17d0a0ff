#include "jet/check.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/properties.h"
#include "jet/catalog/system_tables.h"
#include "jet/index/index.h"
#include "jet/index/index_key.h"
#include "jet/index/index_page.h"
#include "jet/rules/relationships.h"
#include "jet/storage/data_page.h"
#include "jet/storage/usage_map.h"
#include "jet/table/table_def.h"
#include "jet/table/table_scan.h"

namespace jet {

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// Index pages as the check sees them: read through the page file, never changed.
class CheckedPages : public IndexPageStore {
 public:
  CheckedPages(PageFile& file, Format format) : file_(file), format_(format) {}
  Format format() const override { return format_; }
  void readPage(uint32_t page, uint8_t* out) override {
    if (page >= file_.pageCount()) throwCorrupt("page " + std::to_string(page) + " lies past the end of the file");
    PageRef p = file_.page(page);
    std::copy(p->data(), p->data() + file_.pageSize(), out);
  }
  void writePage(uint32_t, const uint8_t*) override { refuse(); }
  uint32_t allocatePage() override { refuse(); }
  void freePage(uint32_t) override { refuse(); }

 private:
  [[noreturn]] static void refuse() { throw Error(err::kReadOnly, "Cannot update. Database or object is read-only."); }
  PageFile& file_;
  Format format_;
};

struct Checker {
  PageFile& file;
  const Header& header;
  TextCodec& codec;
  bool structureOnly;
  std::optional<UsageMap> freeMap;  // the global page map, once read
  std::vector<std::string> problems;
  // Pages something refers to, with what refers to them (for the global-map comparison).
  std::map<uint32_t, std::string> inUse;
  // The table whose usage map lists each page.
  std::map<uint32_t, std::string> ownedBy;

  // Pages that belong to exactly one structure (definitions, data pages, index pages), with it.
  std::map<uint32_t, std::string> claimedBy;

  void problem(std::string s) { problems.push_back(std::move(s)); }

  // Whether the global page map marks the page free (pages it cannot tell about count as used).
  bool globalFree(uint32_t page) {
    try {
      return freeMap && freeMap->contains(page);
    } catch (const Error&) {
      return false;
    }
  }

  // A page only one structure may use: a second claim is a page owned twice.
  void claim(uint32_t page, const std::string& what) {
    use(page, what);
    auto [at, fresh] = claimedBy.emplace(page, what);
    if (!fresh && at->second != what)
      problem("Page " + std::to_string(page) + " is used by both " + at->second + " and " + what);
  }

  void use(uint32_t page, const std::string& what) {
    if (page >= file.pageCount()) {
      problem(what + " refers to page " + std::to_string(page) + ", past the end of the file");
      return;
    }
    inUse.emplace(page, what);
  }

  uint8_t pageType(uint32_t page) { return (*file.page(page))[0]; }
  // Whether a data page holds a row that is not deleted (a damaged page counts as holding rows).
  bool holdsRows(uint32_t page) {
    try {
      auto p = file.page(page);
      const uint16_t count = pageRowCount(p->data(), file.pageSize(), header.format);
      for (uint16_t r = 0; r < count; ++r)
        if (!rowSlot(p->data(), file.pageSize(), header.format, r).deleted) return true;
      return false;
    } catch (const Error&) {
      return true;
    }
  }
  uint32_t pageOwner(uint32_t page) { return jet::pageOwner(file.page(page)->data()); }

  // A data page's free-space count is the gap between its row-offset table and its lowest row body;
  // writers trust it to decide whether a row fits.
  void checkFreeSpace(uint32_t page, const std::string& table) {
    auto p = file.page(page);
    uint32_t want = 0;
    try {
      const uint32_t used = rowTableOffset(header.format) + 2u * pageRowCount(p->data(), file.pageSize(), header.format);
      const uint32_t low = lowestRowStart(p->data(), file.pageSize(), header.format);
      want = low > used ? low - used : 0;
    } catch (const Error&) {
      return;  // a row count the page cannot hold is reported with the table's rows
    }
    const uint32_t have = recordedFreeSpace(p->data());
    if (have != want)
      problem("Page " + std::to_string(page) + " of table " + table + " records " + std::to_string(have) +
              " free bytes but has " + std::to_string(want));
  }

  void checkTable(const CatalogEntry& e, std::map<uint32_t, std::vector<uint32_t>>& dataPagesByOwner) {
    const std::string name = quoted(e.object.name);
    const uint32_t tdef = e.object.tdefPage;
    if (tdef < 2 || tdef >= file.pageCount() || pageType(tdef) != kTdefPageType) {
      problem("Table " + name + " points to page " + std::to_string(tdef) + ", which is not a table definition");
      return;
    }
    Tdef def;
    try {
      def = readTdef(file, header.format, codec, tdef);
    } catch (const Error& err) {
      problem("The definition of table " + name + " cannot be read: " + err.description());
      return;
    }
    for (uint32_t p : def.pages) claim(p, "the definition of table " + name);
    // Every index structure serves some index of the table; one that none names would not be kept
    // up to date by writes (a damaged index count looks like this).
    std::vector<bool> named(def.realIndexes.size(), false);
    for (const auto& li : def.indexes)
      if (li.realIndex >= 0 && size_t(li.realIndex) < named.size()) named[size_t(li.realIndex)] = true;
    for (size_t i = 0; i < named.size(); ++i)
      if (!named[i])
        problem("The definition of table " + name + " holds index structure " + std::to_string(i) +
                ", which no index of the table uses");
    // The pages holding the table's usage maps.
    for (uint32_t ptr : {def.ownedPagesPointer, def.freeSpacePointer})
      if (ptr) use(ptr >> 8, "the usage maps of table " + name);
    for (const auto& r : def.realIndexes)
      if (r.usedPagesPointer) use(r.usedPagesPointer >> 8, "the usage maps of table " + name);

    // Usage maps: every page they list exists and belongs to the table.
    std::set<uint32_t> owned;
    try {
      for (uint32_t p : UsageMap::read(file, header.format, def.ownedPagesPointer).pages()) {
        if (p >= file.pageCount()) {
          problem("The usage map of table " + name + " lists page " + std::to_string(p) + ", past the end of the file");
          continue;
        }
        owned.insert(p);
        if (pageType(p) == kDataPageType && pageOwner(p) == tdef) claim(p, "the rows of table " + name);
        else use(p, "table " + name);
        auto [at, fresh] = ownedBy.emplace(p, e.object.name);
        if (!fresh && at->second != e.object.name)
          problem("Page " + std::to_string(p) + " is listed by the usage maps of both " + quoted(at->second) + " and " + name);
        const uint8_t t = pageType(p);
        if (t == kDataPageType && pageOwner(p) != tdef && pageOwner(p) != kLongValueOwner)
          problem("The usage map of table " + name + " lists page " + std::to_string(p) + ", which holds another table's rows");
        else if (t != kDataPageType && t != kIndexNodePage && t != kIndexLeafPage)
          problem("The usage map of table " + name + " lists page " + std::to_string(p) + ", which is not a data page");
        if (t == kDataPageType) checkFreeSpace(p, name);
      }
    } catch (const Error& err) {
      problem("The usage map of table " + name + " cannot be read: " + err.description());
    }
    // The maps a long-value column keeps of its pages: every page they list is in use.
    for (const ColumnDef& c : def.columns) {
      for (uint32_t ptr : {c.lvOwnedPointer, c.lvFreePointer}) {
        if (!ptr) continue;
        use(ptr >> 8, "the usage maps of table " + name);
        try {
          for (uint32_t p : UsageMap::read(file, header.format, ptr).pages())
            use(p, "the long values of column " + quoted(c.name) + " of table " + name);
        } catch (const Error& err) {
          problem("A long-value map of column " + quoted(c.name) + " of table " + name + " cannot be read: " +
                  err.description());
        }
      }
    }
    // A data page whose header names the table but which its map does not list is not the table's:
    // the map alone says which pages hold its rows, and the engine leaves the owner in the header of
    // a page the table gives up (Access leaves superseded copies of a page so, still marked in use
    // until compaction). Such pages count as lost rows only when the rows found through the map fall
    // short of the definition's count; a page the global map marks free never does.
    std::vector<uint32_t> unmapped;
    for (uint32_t p : dataPagesByOwner[tdef])
      if (!owned.count(p) && !globalFree(p) && holdsRows(p)) unmapped.push_back(p);

    // Rows: each readable, long values included, and as many as the definition says.
    uint64_t rows = 0;
    try {
      TableScan scan(file, def, codec);
      while (scan.next()) {
        ++rows;
        try {
          scan.values();
        } catch (const Error& err) {
          problem("Row " + std::to_string(scan.rowId().row) + " on page " + std::to_string(scan.rowId().page) +
                  " of table " + name + " cannot be read: " + err.description());
        }
      }
    } catch (const Error& err) {
      problem("The rows of table " + name + " cannot be read: " + err.description());
    }
    // The engine keeps the counts of its own system tables only loosely, and Access those of the
    // hidden tables it keeps for itself (the catalog marks them system objects, their definitions
    // may not: MSysAccessStorage, the navigation pane's tables). User tables' counts are exact.
    const bool systemObject = (e.object.flags & kSystemObjectFlags) != 0;
    if (rows != def.rowCount && def.tableType != 0x53 && !systemObject)
      problem("Table " + name + " records " + std::to_string(def.rowCount) + " rows but " + std::to_string(rows) +
              " were found");
    if (rows < def.rowCount)
      for (uint32_t p : unmapped)
        problem("Page " + std::to_string(p) + " holds rows of table " + name + " but its usage map does not list it");

    // Indexes: exactly the table's rows, under the right keys, in order.
    TableInfo info = describeTable(def, e.object.name);
    std::vector<uint32_t> roots;
    for (const auto& r : def.realIndexes) {
      roots.push_back(r.rootPage);
      if (r.rootPage) use(r.rootPage, "an index of table " + name);
      if (r.usedPagesPointer) {
        try {
          for (uint32_t p : UsageMap::read(file, header.format, r.usedPagesPointer).pages()) use(p, "an index of table " + name);
        } catch (const Error&) {
          problem("The usage map of an index of table " + name + " cannot be read");
        }
      }
    }
    std::vector<IndexOutline> outlines;
    for (auto& s : indexOutlines(header.version, info, roots)) {
      bool encodable = true;
      for (const auto& c : s.columns) encodable = encodable && keyColumnProblem(c).empty();
      if (!encodable) continue;  // keys of such columns are not computed here; nothing to compare
      if (s.rootPage == 0 || s.rootPage >= file.pageCount()) {
        problem("Index " + quoted(s.name) + " of table " + name + " has no root page");
        continue;
      }
      outlines.push_back(std::move(s));
    }
    if (outlines.empty()) return;
    try {
      CheckedPages pages(file, header.format);
      TableIndexes idx(pages, tdef, outlines);
      for (size_t i = 0; i < idx.size(); ++i)
        for (uint32_t p : idx.tree(i).pages())
          claim(p, "index " + quoted(idx.outline(i).name) + " of table " + name);
      if (structureOnly) {
        for (size_t i = 0; i < idx.size(); ++i)
          for (const auto& p : idx.tree(i).verify()) problem("Table " + name + ": index " + quoted(idx.outline(i).name) + ": " + p);
        return;
      }
      TableScan scan(file, def, codec);
      TableIndexes::RowSource source = [&](RowId& id, std::vector<Value>& values) {
        while (scan.next()) {
          try {
            values = scan.values();
          } catch (const Error&) {
            continue;  // already reported
          }
          id = scan.rowId();
          return true;
        }
        return false;
      };
      for (const auto& p : idx.verify(source)) problem("Table " + name + ": " + p);
    } catch (const Error& err) {
      problem("The indexes of table " + name + " cannot be checked: " + err.description());
    }
  }

  // The key of the fields `names` of a row, as an index on them would hold it; nothing when a field
  // of it is Null (such a row refers to nothing).
  struct KeyOf {
    IndexOutline outline;
    std::optional<Bytes> operator()(const std::vector<Value>& row) const {
      for (int f : outline.fields)
        if (f < 0 || size_t(f) >= row.size() || isNull(row[size_t(f)])) return std::nullopt;
      return rowKey(outline, row);
    }
  };
  KeyOf keyOf(const Tdef& def, const std::string& table, const std::vector<std::string>& names) {
    TableInfo info = describeTable(def, table);
    IndexInfo probe;
    for (const std::string& n : names) {
      const auto c = std::find_if(info.columns.begin(), info.columns.end(), [&](const ColumnInfo& x) { return sameName(x.name, n); });
      if (c == info.columns.end()) throwCorrupt("table " + quoted(table) + " has no field " + quoted(n));
      probe.columns.push_back({c->number, true});
    }
    info.indexes = {probe};
    return KeyOf{indexOutlines(header.version, info, {0}).at(0)};
  }

  // Every row of an enforced relationship's foreign table finds its primary row.
  void checkRelationships(const Catalog& catalog) {
    const CatalogEntry* rel = catalog.findTable("MSysRelationships");
    if (!rel) return;
    try {
      const Tdef relDef = readTdef(file, header.format, codec, rel->object.tdefPage);
      for (const Relationship& r : readRelationships(file, relDef, codec)) {
        if (!r.enforced()) continue;
        const CatalogEntry* p = catalog.findTable(r.table);
        const CatalogEntry* f = catalog.findTable(r.foreignTable);
        const std::string what = "relationship " + quoted(r.name);
        if (!p || !f || p->type != sys::kTypeTable || f->type != sys::kTypeTable) {
          problem("The " + what + " names a table the file does not hold");
          continue;
        }
        const Tdef pdef = readTdef(file, header.format, codec, p->object.tdefPage);
        const Tdef fdef = readTdef(file, header.format, codec, f->object.tdefPage);
        const KeyOf primaryKey = keyOf(pdef, r.table, r.columns), foreignKey = keyOf(fdef, r.foreignTable, r.foreignColumns);
        std::set<Bytes> keys;
        for (TableScan scan(file, pdef, codec); scan.next();)
          if (auto k = primaryKey(scan.values())) keys.insert(std::move(*k));
        size_t orphans = 0;
        for (TableScan scan(file, fdef, codec); scan.next();) {
          const auto k = foreignKey(scan.values());
          if (!k || keys.count(*k)) continue;
          if (++orphans <= 10)
            problem("Row " + std::to_string(scan.rowId().row) + " on page " + std::to_string(scan.rowId().page) + " of table " +
                    quoted(f->object.name) + " has no related row in table " + quoted(p->object.name) + " (" + what + ")");
        }
        if (orphans > 10)
          problem(std::to_string(orphans) + " rows of table " + quoted(f->object.name) + " have no related row in table " +
                  quoted(p->object.name) + " (" + what + ")");
      }
    } catch (const Error& err) {
      problem("The relationships cannot be checked: " + err.description());
    }
  }

  void run() {
    use(0, "the header");
    use(1, "the global page map");
    try {
      freeMap = UsageMap::read(file, header.format, 1u << 8);  // page 1, row 0
    } catch (const Error& err) {
      problem("The global page map cannot be read: " + err.description());
    }
    Catalog catalog;
    try {
      catalog = Catalog::read(file, header.format, codec);
    } catch (const Error& err) {
      problem("The catalog cannot be read: " + err.description());
      return;
    }

    // Names and ids are unique within the tables container.
    std::map<std::string, std::string> names;
    std::map<int32_t, std::string> ids;
    for (const auto& e : catalog.entries()) {
      if (!ids.emplace(e.object.id, e.object.name).second)
        problem("Catalog objects " + quoted(ids[e.object.id]) + " and " + quoted(e.object.name) + " share the id " +
                std::to_string(e.object.id));
      if (e.parentId != sys::kTablesId) continue;
      const std::string key = lowerName(e.object.name);
      if (!names.emplace(key, e.object.name).second) problem("Two catalog objects are named " + quoted(e.object.name));
    }

    // Data pages by owner, for finding rows their table's map leaves out.
    std::map<uint32_t, std::vector<uint32_t>> dataPagesByOwner;
    for (uint32_t p = 2; p < file.pageCount(); ++p)
      if (pageType(p) == kDataPageType) dataPagesByOwner[pageOwner(p)].push_back(p);

    for (const auto& e : catalog.entries()) {
      if (e.type != sys::kTypeTable) continue;
      checkTable(e, dataPagesByOwner);
      // A table whose property list does not parse cannot be opened: the file is damaged.
      try {
        parseProperties(e.properties, header.format, codec);
      } catch (const Error& err) {
        problem("The properties of table " + quoted(e.object.name) + " cannot be read: " + err.description());
      }
    }

    if (!structureOnly) checkRelationships(catalog);

    // The global map must not offer a page that is in use.
    for (const auto& [page, what] : inUse) {
      if (globalFree(page)) problem("Page " + std::to_string(page) + " is used by " + what + " but the global page map marks it free");
    }
  }
};

}  // namespace

CheckReport checkDatabase(PageFile& file, const Header& header, TextCodec& codec, bool structureOnly) {
  Checker c{file, header, codec, structureOnly, std::nullopt, {}, {}, {}, {}};
  c.run();
  CheckReport r;
  r.problems = std::move(c.problems);
  return r;
}

}  // namespace jet
