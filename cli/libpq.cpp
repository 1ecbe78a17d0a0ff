#include "cli/libpq.h"

#include <dlfcn.h>

#include "cli/migrate_target.h"

namespace migrate {

namespace {

// The soname libpq has kept since PostgreSQL 8.
constexpr const char* kLibrary = "libpq.so.5";

LibPq load() {
  void* handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw Refused(std::string("PostgreSQL's client library cannot be loaded: ") + dlerror());
  LibPq api{};
#define TABULONIX_LIBPQ_RESOLVE(f)                                                                    \
  api.f = reinterpret_cast<decltype(api.f)>(dlsym(handle, #f));                                       \
  if (!api.f) throw Refused(std::string(kLibrary) + " lacks " #f);
  TABULONIX_LIBPQ_FUNCTIONS(TABULONIX_LIBPQ_RESOLVE)
#undef TABULONIX_LIBPQ_RESOLVE
  return api;  // the handle stays open for the life of the program
}

}  // namespace

const LibPq& libpq() {
  static const LibPq api = load();
  return api;
}

}  // namespace migrate
