// The catalog table (MSysObjects, whose definition sits on page 2): every table, linked table,
// query and container of the database, with each object's property blob.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/page_file.h"
#include "jet/schema.h"
#include "jet/text_codec.h"

namespace jet {

constexpr uint32_t kCatalogTdefPage = 2;
constexpr uint32_t kSystemObjectFlags = 0x80000002;

// Catalog object types (the Type column).
namespace objtype {
constexpr int kTable = 1;
constexpr int kLinkedOdbc = 4;
constexpr int kQuery = 5;
constexpr int kLinkedTable = 6;
}  // namespace objtype

struct CatalogEntry {
  CatalogObject object;
  int type = 0;
  int32_t parentId = 0;
  std::vector<uint8_t> properties;  // LvProp
};

// ASCII case-insensitive equality, as object names compare.
bool sameName(const std::string& a, const std::string& b);

class Catalog {
 public:
  // Reads every catalog row. Throws 3049 when the catalog is damaged.
  static Catalog read(PageFile& file, Format format, TextCodec& codec);

  // Tables (local, system, linked) and queries, sorted by name as the object model lists them.
  std::vector<CatalogObject> objects() const;
  // The table or linked table of that name, or null.
  const CatalogEntry* findTable(const std::string& name) const;
  const std::vector<CatalogEntry>& entries() const { return entries_; }

 private:
  std::vector<CatalogEntry> entries_;
};

}  // namespace jet
