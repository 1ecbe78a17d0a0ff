#include "jet/base/file_version.h"

namespace jet {

namespace {

struct VersionFacts {
  uint8_t versionByte;
  const char* name;
  const char* dao;
};

const VersionFacts& factsOf(FileVersion v) {
  static const VersionFacts kFacts[] = {
      {0x00, "Jet 3", "3.0"},         {0x01, "Jet 4", "4.0"},         {0x02, "Access 2007", "12.0"},
      {0x03, "Access 2010", "14.0"},  {0x04, "Access 2013", "15.0"},  {0x05, "Access 2016", "16.0"},
      {0x06, "Access 2019", "17.0"},
  };
  return kFacts[static_cast<size_t>(v)];
}

bool atLeast(FileVersion v, FileVersion since) { return static_cast<uint8_t>(v) >= static_cast<uint8_t>(since); }

}  // namespace

std::optional<FileVersion> fileVersionOf(uint8_t versionByte, bool accdbId) {
  for (uint8_t i = 0; i <= static_cast<uint8_t>(FileVersion::Access2019); ++i) {
    const FileVersion v = static_cast<FileVersion>(i);
    if (factsOf(v).versionByte == versionByte && isAccdb(v) == accdbId) return v;
  }
  return std::nullopt;
}

uint8_t versionByteOf(FileVersion v) { return factsOf(v).versionByte; }

const char* headerIdOf(FileVersion v) { return isAccdb(v) ? "Standard ACE DB" : "Standard Jet DB"; }

Format formatOf(FileVersion v) { return v == FileVersion::Jet3 ? Format::Jet3Layout : Format::Jet4Layout; }
FileVersion firstVersionOf(Format f) { return f == Format::Jet3Layout ? FileVersion::Jet3 : FileVersion::Jet4; }

bool isAccdb(FileVersion v) { return atLeast(v, FileVersion::Access2007); }

const char* versionName(FileVersion v) { return factsOf(v).name; }

const char* daoVersionOf(FileVersion v) { return factsOf(v).dao; }

bool hasBigInt(FileVersion v) { return atLeast(v, FileVersion::Access2016); }
bool hasDateTimeExtended(FileVersion v) { return atLeast(v, FileVersion::Access2019); }
bool legacyDecimalKeys(FileVersion v) { return !atLeast(v, FileVersion::Access2007); }

}  // namespace jet
