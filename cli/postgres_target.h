// A PostgreSQL schema as a migration's target, through libpq: everything in one transaction,
// rows by binary COPY.
#pragma once

#include <memory>
#include <string>

#include "cli/migrate_target.h"

namespace migrate {

// `uri` is a libpq connection URI; `schema` defaults to public. Refuses an unreachable server or
// a failed login.
std::unique_ptr<Target> openPostgresTarget(const std::string& uri, const std::string& schema);

// PostgreSQL's binary form of a decimal text ("-12.3400"): digit groups of four, weight, sign and
// the scale shown.
std::string postgresNumeric(const std::string& decimal);

}  // namespace migrate
