// Opens the input as a database file and reads everything a user could ask for: the catalog, every
// table's definition, every row with its long values and complex values (attachments, multi-valued
// fields, version history), then the consistency check. A file that asks for a password is opened
// with the one the test files use. Any outcome
// but success or a jet::Error (a crash, a hang, an out-of-bounds access, another exception type)
// is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/complex_value.h"
#include "jet/base/error.h"
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
      std::vector<std::unique_ptr<jet::ComplexValues>> complex(info.columns.size());
      for (size_t i = 0; i < info.columns.size(); ++i) {
        if (info.columns[i].type != jet::ColumnType::Complex) continue;
        try {
          complex[i] = db.complexValues(object.name, info.columns[i].name);
        } catch (const jet::Error&) {
          // A complex column whose hidden tables are damaged reads as its keys.
        }
      }
      size_t rows = 0;
      while (cursor->next() && rows < 1000000) {
        const auto& values = cursor->values();
        for (size_t i = 0; i < values.size(); ++i) {
          (void)jet::toText(values[i]);
          if (i < complex.size() && complex[i]) (void)jet::complexText(complex[i]->of(values[i]), "; ");
        }
        ++rows;
      }
    } catch (const jet::Error&) {
      // A damaged table is reported; the others are still read.
    }
  }
  (void)db.check();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!writeScratch(data, size)) return 0;
  for (const char* password : {"", "password"}) {
    try {
      jet::OpenOptions options;
      options.readOnly = true;
      options.password = password;
      auto db = jet::Database::open(scratchPath(), options);
      readEverything(*db);
      db->close();
      break;
    } catch (const jet::Error& e) {
      // The expected way to refuse a damaged file; one that wants a password gets a second try.
      if (e.number() != jet::err::kInvalidPassword) break;
    }
  }
  return 0;
}
