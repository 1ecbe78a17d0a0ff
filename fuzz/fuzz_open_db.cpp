// Opens the input as a database file and reads everything a user could ask for: the catalog, every
// table's definition and every row with its long values, then the consistency check. Any outcome
// but success or a jet::Error (a crash, a hang, an out-of-bounds access, another exception type)
// is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "jet/database.h"

namespace {

// One scratch file per fuzzing process, rewritten for every input: the engine opens paths.
const std::string& scratchPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string p = std::string(dir && *dir ? dir : "/tmp") + "/tabulonix-fuzz-" + std::to_string(getpid()) + ".mdb";
    return p;
  }();
  return path;
}

bool writeScratch(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(scratchPath().c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

void readEverything(jet::Database& db) {
  for (const jet::CatalogObject& object : db.objects()) {
    if (object.kind != jet::ObjectKind::Table && object.kind != jet::ObjectKind::SystemTable) continue;
    try {
      jet::TableInfo info = db.table(object.name);
      auto cursor = db.openTable(object.name);
      // A damaged row chain could loop; the engine must stop it, but bound the walk so a
      // failure shows as a finding rather than a stuck fuzzer.
      size_t rows = 0;
      while (cursor->next() && rows < 1000000) {
        for (const jet::Value& v : cursor->values()) (void)jet::toText(v);
        ++rows;
      }
      (void)info;
    } catch (const jet::Error&) {
      // A damaged table is reported; the others are still read.
    }
  }
  (void)db.check();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!writeScratch(data, size)) return 0;
  try {
    jet::OpenOptions options;
    options.readOnly = true;
    auto db = jet::Database::open(scratchPath(), options);
    readEverything(*db);
    db->close();
  } catch (const jet::Error&) {
    // The expected way to refuse a damaged file.
  }
  return 0;
}
