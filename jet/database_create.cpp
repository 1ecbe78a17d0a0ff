// Database::create: the new file is written from nothing, then opened like any other.
#include "jet/create_database.h"
#include "jet/database.h"

namespace jet {

std::unique_ptr<Database> Database::create(const std::string& path, const CreateOptions& options) {
  createDatabaseFile(path, options);
  return Database::open(path);
}

}  // namespace jet
