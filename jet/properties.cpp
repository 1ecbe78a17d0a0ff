#include "jet/properties.h"

#include <cctype>
#include <cstring>

#include "jet/bytes.h"

namespace jet {

namespace {

constexpr uint16_t kNameBlock = 0x80;

std::string decodeName(const uint8_t* d, size_t len, Format f, TextCodec& codec) {
  std::string s;
  if (f == Format::Jet4) decodeJet4Text(d, len, s);
  else codec.decodeCodePage(d, len, s);
  return s;
}

bool caseEqual(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
  return true;
}

}  // namespace

PropertyMaps parseProperties(const std::vector<uint8_t>& blob, Format format, TextCodec& codec) {
  PropertyMaps maps;
  if (blob.empty()) return maps;
  ByteSpan b(blob.data(), blob.size(), "property list");
  b.need(0, 4);
  if (std::memcmp(blob.data(), "MR2\0", 4) != 0 && std::memcmp(blob.data(), "KKD\0", 4) != 0)
    throwCorrupt("a property list has an unknown signature");
  std::vector<std::string> names;
  size_t pos = 4;
  while (pos < b.size()) {
    uint32_t blockLen = b.u32(pos);
    uint16_t blockType = b.u16(pos + 4);
    if (blockLen < 6) throwCorrupt("a property list block is too short");
    ByteSpan block = b.sub(pos + 6, blockLen - 6);
    pos += blockLen;
    if (blockType == kNameBlock) {
      for (size_t p = 0; p < block.size();) {
        uint16_t len = block.u16(p);
        ByteSpan n = block.sub(p + 2, len);
        names.push_back(decodeName(n.data(), n.size(), format, codec));
        p += 2 + len;
      }
      continue;
    }
    if (block.size() == 0) continue;
    uint32_t ownerLen = block.u32(0);
    if (ownerLen < 4) throwCorrupt("a property owner entry is too short");
    std::string owner;
    if (ownerLen > 6) {
      uint16_t len = block.u16(4);
      ByteSpan n = block.sub(6, len);
      owner = decodeName(n.data(), n.size(), format, codec);
    }
    auto& map = maps[owner];
    for (size_t p = ownerLen; p < block.size();) {
      uint16_t entryLen = block.u16(p);
      if (entryLen < 8) throwCorrupt("a property entry is too short");
      ByteSpan e = block.sub(p, entryLen);
      p += entryLen;
      uint8_t type = e.u8(3);
      uint16_t nameIndex = e.u16(4);
      uint16_t dataLen = e.u16(6);
      ByteSpan d = e.sub(8, dataLen);
      if (nameIndex >= names.size()) throwCorrupt("a property refers to a missing name");
      PropertyValue v;
      v.type = type;
      v.raw.assign(d.data(), d.data() + d.size());
      switch (ColumnType(type)) {
        case ColumnType::Boolean:
        case ColumnType::Byte:
          v.number = d.size() >= 1 ? int8_t(d.u8(0)) : 0;
          if (ColumnType(type) == ColumnType::Byte) v.number = d.size() >= 1 ? d.u8(0) : 0;
          break;
        case ColumnType::Integer:
          v.number = d.size() >= 2 ? int16_t(d.u16(0)) : 0;
          break;
        case ColumnType::Long:
          v.number = d.size() >= 4 ? int32_t(d.u32(0)) : 0;
          break;
        case ColumnType::Text:
        case ColumnType::Memo:
          v.text = decodeName(d.data(), d.size(), format, codec);
          break;
        default:
          break;
      }
      map[names[nameIndex]] = std::move(v);
    }
  }
  return maps;
}

void applyColumnProperties(const PropertyMaps& props, TableInfo& table) {
  for (ColumnInfo& c : table.columns) {
    for (const auto& [owner, map] : props) {
      if (!caseEqual(owner, c.name)) continue;
      for (const auto& [name, v] : map) {
        if (caseEqual(name, "Required")) c.required = v.number != 0;
        else if (caseEqual(name, "AllowZeroLength")) c.allowZeroLength = v.number != 0;
        else if (caseEqual(name, "DefaultValue")) c.defaultValue = v.text;
        else if (caseEqual(name, "Description")) c.description = v.text;
      }
    }
  }
}

}  // namespace jet
