// Repairs the input as a damaged database file. Repair either writes a copy or refuses with a
// jet::Error; whatever it writes must pass the consistency check. Any other outcome (a crash, a
// hang, an out-of-bounds access, another exception type, a copy that fails its check) is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "jet/database.h"
#include "jet/repair.h"

namespace {

// Scratch files per fuzzing process, rewritten for every input: the engine works on paths.
std::string scratchPath(const char* what) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/tabulonix-fuzz-repair-" + std::to_string(getpid()) + what;
}

bool writeScratch(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string source = scratchPath(".mdb");
  static const std::string copy = scratchPath("-repaired.mdb");
  if (!writeScratch(source, data, size)) return 0;
  ::unlink(copy.c_str());
  try {
    const jet::RepairReport report = jet::repairDatabase(source, copy);
    if (!report.problems.empty()) {
      std::fprintf(stderr, "the repaired copy fails its check: %s\n", report.problems.front().c_str());
      std::abort();
    }
  } catch (const jet::Error&) {
    // Nothing could be recovered.
  }
  ::unlink(copy.c_str());
  return 0;
}
