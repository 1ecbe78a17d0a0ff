// A new SQLite file as a migration's target: built in a temporary file beside PATH, in one
// transaction, and renamed into place only when everything is in and counted.
#pragma once

#include <memory>
#include <string>

#include "cli/migrate_target.h"

namespace migrate {

// Refuses a PATH that exists.
std::unique_ptr<Target> openSqliteTarget(const std::string& path);

}  // namespace migrate
