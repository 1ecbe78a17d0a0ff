// Page 0 of a database: the file's format and the settings kept in its masked block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/schema.h"

namespace jet {

struct Header {
  Format format = Format::Jet4;
  uint32_t pageSize = 4096;
  uint16_t codePage = 1252;
  uint16_t sortOrder = 1033;
  uint16_t sortVersion = 0;
  uint32_t databaseKey = 0;    // non-zero: pages after the first are RC4-encoded
  std::string password;        // empty when the database has none (UTF-8)
};

// Size of the prefix of the file the header needs.
constexpr size_t kHeaderBytes = 0x100;

// Parses the first bytes of a file. Throws 3343 for anything that is not a Jet 3 or Jet 4 database
// (including newer formats), 3049 when the header is cut short.
Header parseHeader(const std::vector<uint8_t>& bytes, const std::string& fileName);

// Throws 3031 unless `given` matches the database's password (any text opens a database without one).
void checkPassword(const Header& header, const std::string& given);

// Undoes (or applies) the header mask on a copy of page 0's masked block, in place.
void maskHeaderBlock(Format format, uint8_t* page0, size_t len);

}  // namespace jet
