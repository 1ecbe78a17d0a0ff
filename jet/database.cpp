// The front door's factories: every way to obtain a Database starts here.
#include "jet/database.h"

#include "jet/compact.h"
#include "jet/create_database.h"
#include "jet/database_impl.h"
#include "jet/shared_database.h"

namespace jet {

std::unique_ptr<Database> Database::open(const std::string& path, const OpenOptions& options) {
  return std::make_unique<SharedDatabase>(std::make_unique<DatabaseImpl>(path, options), options);
}

// The new file is written from nothing, then opened like any other.
std::unique_ptr<Database> Database::create(const std::string& path, const CreateOptions& options) {
  createDatabaseFile(path, options);
  return open(path);
}

void Database::compact(const std::string& source, const std::string& destination, const std::string& password) {
  compactDatabase(source, destination, password);
}

}  // namespace jet
