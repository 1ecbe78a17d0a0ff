// Creating a database file from nothing: the header page, the global page map, and the system
// tables with their catalog rows, permission rows and indexes, all generated from the
// definitions in jet/catalog/system_tables.h. Database::create (jet/database.h) is the entry point.
#pragma once

#include <string>
#include <vector>

#include "jet/base/database_options.h"
#include "jet/base/value.h"

namespace jet {

// The file version and text sort-order version a database is created with.
FileVersion versionOf(const CreateOptions& options);
uint8_t sortVersionOf(const CreateOptions& options);

// The page images of a new empty database; `created` is the creation time (OLE date).
std::vector<Bytes> buildNewDatabase(const CreateOptions& options, double created);

// Writes a new empty database file. Throws Error 3204 "Database already exists." when the path
// exists, 3044 when its folder does not, 3001 for an unsupported code page or sort order, 3043
// when the file cannot be written (a partly written file is removed).
void createDatabaseFile(const std::string& path, const CreateOptions& options = {});

}  // namespace jet
