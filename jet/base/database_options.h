// What opening and creating a database file can ask for: read-only access, a password and how long
// to wait for other programs' turns, and for a new file its page layout, version, code page and
// sort order.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "jet/base/file_version.h"

namespace jet {

struct OpenOptions {
  bool readOnly = false;
  std::string password;   // checked against the header's password when the file has one
  // How long a write waits for another program's turn to end before failing with 3260.
  int busyTimeoutMs = 10000;
};

struct CreateOptions {
  Format format = Format::Jet4Layout;
  uint16_t codePage = 1252;
  uint16_t sortOrder = 1033;  // General
  // Which file of the Jet 4 page layout: a Jet 4 .mdb or an Access 2007 or later .accdb.
  FileVersion version = FileVersion::Jet4;
  // The version of the General sort order text is kept in; unset: the file version's own
  // (the newer order from Access 2010 on).
  std::optional<uint8_t> sortVersion{};
};

}  // namespace jet
