#include "jet/storage/header.h"

#include <cstring>
#include <optional>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/base/rc4.h"
#include "jet/base/text_codec.h"

namespace jet {

namespace {

constexpr size_t kMaskOffset = 0x18;
constexpr uint8_t kMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};

size_t maskLength(Format f) { return f == Format::Jet3Layout ? 126 : 128; }

[[noreturn]] void unrecognized(const std::string& fileName) {
  throw Error(err::kUnrecognizedFormat, "Unrecognized database format '" + fileName + "'.");
}

}  // namespace

void maskHeaderBlock(Format format, uint8_t* page0, size_t len) {
  size_t n = maskLength(format);
  if (len < kMaskOffset + n) throwCorrupt("the header page is cut short");
  rc4Apply(kMaskKey, 4, page0 + kMaskOffset, n);
}

Header parseHeader(const std::vector<uint8_t>& raw, const std::string& fileName) {
  if (raw.size() < 0x15 || raw[0] != 0x00 || raw[1] != 0x01 || raw[2] != 0 || raw[3] != 0) unrecognized(fileName);
  const auto id = [&](FileVersion v) { return std::memcmp(raw.data() + 4, headerIdOf(v), 15) == 0; };
  const bool accdb = id(FileVersion::Access2007);
  if (!accdb && !id(FileVersion::Jet4)) unrecognized(fileName);
  const std::optional<FileVersion> version = fileVersionOf(raw[0x14], accdb);
  if (!version) unrecognized(fileName);  // a later engine version, or a byte that fits no version
  Header h;
  h.version = *version;
  h.format = formatOf(*version);
  h.pageSize = uint32_t(pageSizeOf(h.format));
  if (raw.size() < kHeaderBytes) throwCorrupt("the header page is cut short");
  std::vector<uint8_t> b(raw.begin(), raw.begin() + kHeaderBytes);
  maskHeaderBlock(h.format, b.data(), b.size());
  h.codePage = le16(&b[0x3C]);
  h.databaseKey = le32(&b[0x3E]);
  size_t pwLen;
  if (h.format == Format::Jet3Layout) {
    h.sortOrder = le16(&b[0x3A]);
    pwLen = 20;
  } else {
    h.sortOrder = le16(&b[0x6E]);
    h.sortVersion = b[0x71];  // as with columns: the id, a zero byte, then the version
    pwLen = 40;
  }
  std::vector<uint8_t> pw(b.begin() + 0x42, b.begin() + 0x42 + pwLen);
  if (h.format == Format::Jet4Layout) {
    // Jet 4 additionally masks the password with the creation date's whole days.
    double created;
    uint64_t bits = le64(&b[0x72]);
    std::memcpy(&created, &bits, 8);
    uint8_t mask[4] = {0, 0, 0, 0};
    if (created > -2147483648.0 && created < 2147483648.0) put32(mask, uint32_t(int32_t(created)));
    for (size_t i = 0; i < pw.size(); ++i) pw[i] ^= mask[i % 4];
    std::string text = decodeUcs2(pw.data(), pw.size());
    h.password = text.substr(0, text.find('\0'));
  } else {
    size_t end = 0;
    while (end < pw.size() && pw[end] != 0) ++end;
    h.password = TextCodec(h.codePage).decodeCodePage(pw.data(), end);
  }
  // An encrypted .accdb keeps no password text: the password is the key to its encryption.
  if (isAccdb(h.version) && h.databaseKey != 0) h.password.clear();
  return h;
}

void checkPassword(const Header& header, const std::string& given) {
  if (header.password.empty()) return;
  if (given != header.password) throw Error(err::kInvalidPassword, "Not a valid password.");
}

}  // namespace jet
