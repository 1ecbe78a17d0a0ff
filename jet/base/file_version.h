// The version of the database engine a file belongs to, as the version byte of its header records
// it: Jet 3 (Access 97), Jet 4 (Access 2000-2003 .mdb) and the Access 2007+ .accdb versions. Every
// version after Jet 3 lays its pages out as Jet 4 does (the page layout family is `Format`); the
// later ones add column types and sort orders on top, which the predicates below name.
#pragma once

#include <cstdint>
#include <optional>

#include "jet/base/schema.h"

namespace jet {

enum class FileVersion : uint8_t {
  Jet3,
  Jet4,
  Access2007,
  Access2010,
  Access2013,
  Access2016,
  Access2019,  // also what Access 365 writes
};

// The version a header's version byte and identification text name; nothing for a combination no
// known engine writes (an .mdb text with an .accdb byte, or a byte of a version after 2019).
std::optional<FileVersion> fileVersionOf(uint8_t versionByte, bool accdbId);

// The header's version byte of a version.
uint8_t versionByteOf(FileVersion v);

// The text a file of the version carries at byte 4 of its header (15 characters).
const char* headerIdOf(FileVersion v);

Format formatOf(FileVersion v);
// The first version that lays its pages out so (Jet 3 or Jet 4).
FileVersion firstVersionOf(Format f);

// The .accdb versions (Access 2007 and later).
bool isAccdb(FileVersion v);

// How users know the version: "Jet 3", "Jet 4", "Access 2007", "Access 2010", "Access 2013",
// "Access 2016", "Access 2019".
const char* versionName(FileVersion v);

// DAO's Database.Version of a file of the version: "3.0", "4.0", "12.0", "14.0", "15.0", "16.0",
// "17.0".
const char* daoVersionOf(FileVersion v);

// Column kinds a version can hold.
bool hasBigInt(FileVersion v);              // Large Number: 2016 and later
bool hasDateTimeExtended(FileVersion v);    // 2019 and later

// Decimal index keys: Jet 4 and earlier put the sign byte in after inverting a descending value;
// Access 2007 and later invert the sign byte with the rest.
bool legacyDecimalKeys(FileVersion v);

}  // namespace jet
