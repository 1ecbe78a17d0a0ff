// Rows as JSON lines, from the tool's export and from the independent readers (mdbtools' mdb-json,
// mdb-reader's dump), read into field values: nested arrays and objects (the export of complex
// columns) become their JSON text, and binary values as mdb-json writes them
// ({"$binary": "BASE64", "$type": "00"}) become the text "b64:BASE64".
#pragma once

#include <map>
#include <string>

#include "cli/format.h"
#include "jet/base/value.h"

namespace clitest {

using ReaderRow = std::map<std::string, cli::JsonScalar>;

ReaderRow parseReaderRow(const std::string& line);

}  // namespace clitest
