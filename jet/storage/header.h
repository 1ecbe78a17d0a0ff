// Page 0 of a database: the file's format and the settings kept in its masked block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/file_version.h"
#include "jet/base/schema.h"

namespace jet {

struct Header {
  FileVersion version = FileVersion::Jet4;
  Format format = Format::Jet4Layout;  // the page layout of the version
  uint32_t pageSize = 4096;
  uint16_t codePage = 1252;
  uint16_t sortOrder = 1033;
  uint16_t sortVersion = 0;    // Jet 4 layout: 1 for the newer General order
  // Non-zero: pages after the first are encoded, in Jet 3 and 4 files with RC4 keyed by it; in
  // .accdb files it marks the file as encrypted as Office documents are.
  uint32_t databaseKey = 0;
  std::string password;        // empty when the database has none (UTF-8)
};

// Size of the prefix of the file the header needs.
constexpr size_t kHeaderBytes = 0x100;

// Parses the first bytes of a file. Throws 3343 for anything that is not a database of a version the
// engine knows (including versions after Access 2019), 3049 when the header is cut short.
Header parseHeader(const std::vector<uint8_t>& bytes, const std::string& fileName);

// Throws 3031 unless `given` matches the database's password (any text opens a database without one).
void checkPassword(const Header& header, const std::string& given);

// Undoes (or applies) the header mask on a copy of page 0's masked block, in place.
void maskHeaderBlock(Format format, uint8_t* page0, size_t len);

}  // namespace jet
