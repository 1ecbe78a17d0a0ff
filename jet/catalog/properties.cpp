#include "jet/catalog/properties.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "jet/base/bytes.h"
#include "jet/base/names.h"

namespace jet {

// A blob is a signature, then blocks (u32 length including its 6-byte head, u16 kind). The name
// block lists the property names (each with a u16 length); an owner block starts with the owner's
// name (u32 length of this part, u16 name length, name), followed by entries: u16 entry length,
// u8 DDL flag, u8 value type, u16 name index, u16 value length, value.
namespace {

constexpr uint16_t kNameBlock = 0x80;
constexpr uint16_t kObjectBlock = 0x00;
constexpr uint16_t kColumnBlock = 0x01;

const char* signature(Format f) { return f == Format::Jet4Layout ? "MR2" : "KKD"; }

std::string decodeName(const uint8_t* d, size_t len, Format f, TextCodec& codec) {
  std::string s;
  if (f == Format::Jet4Layout) decodeJet4Text(d, len, s);
  else codec.decodeCodePage(d, len, s);
  return s;
}

}  // namespace

PropertyMaps parseProperties(const std::vector<uint8_t>& blob, Format format, TextCodec& codec) {
  PropertyMaps maps;
  if (blob.empty()) return maps;
  ByteSpan b(blob.data(), blob.size(), "property list");
  b.need(0, 4);
  if (std::memcmp(blob.data(), signature(Format::Jet4Layout), 4) != 0 && std::memcmp(blob.data(), signature(Format::Jet3Layout), 4) != 0)
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
      if (!sameName(owner, c.name)) continue;
      for (const auto& [name, v] : map) {
        if (sameName(name, "Required")) c.required = v.number != 0;
        else if (sameName(name, "AllowZeroLength")) c.allowZeroLength = v.number != 0;
        else if (sameName(name, "DefaultValue")) c.defaultValue = v.text;
        else if (sameName(name, "Description")) c.description = v.text;
        else if (sameName(name, "ValidationRule")) c.validationRule = v.text;
        else if (sameName(name, "ValidationText")) c.validationText = v.text;
        else if (sameName(name, "Expression")) c.expression = v.text;
      }
    }
  }
  if (auto own = props.find(""); own != props.end())
    for (const auto& [name, v] : own->second) {
      if (sameName(name, "ValidationRule")) table.validationRule = v.text;
      else if (sameName(name, "ValidationText")) table.validationText = v.text;
    }
}

namespace {

void append16(std::vector<uint8_t>& out, uint16_t v) {
  out.resize(out.size() + 2);
  put16(&out[out.size() - 2], v);
}

void append32(std::vector<uint8_t>& out, uint32_t v) {
  out.resize(out.size() + 4);
  put32(&out[out.size() - 4], v);
}

std::vector<uint8_t> encodeName(const std::string& s, Format f, TextCodec& codec) {
  return f == Format::Jet4Layout ? encodeUcs2(s) : codec.encodeCodePage(s);
}

// Appends a block of the given kind around its body.
void appendBlock(std::vector<uint8_t>& out, uint16_t kind, const std::vector<uint8_t>& body) {
  append32(out, uint32_t(body.size() + 6));
  append16(out, kind);
  out.insert(out.end(), body.begin(), body.end());
}

}  // namespace

std::vector<uint8_t> buildPropertyBlob(Format f, const std::vector<ColumnProperties>& owners, TextCodec& codec) {
  // The names every blob of ours starts with, then the texts' names as far as an owner uses them.
  std::vector<std::string> names = {"Required", "AllowZeroLength"};
  auto nameIndex = [&](const std::string& name) {
    auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) it = names.insert(names.end(), name);
    return uint16_t(it - names.begin());
  };
  auto ownerBody = [&](const ColumnProperties& c) {
    std::vector<uint8_t> body;
    std::vector<uint8_t> name = encodeName(c.column, f, codec);
    append32(body, uint32_t(6 + name.size()));
    append16(body, uint16_t(name.size()));
    body.insert(body.end(), name.begin(), name.end());
    auto entry = [&](const std::string& property, ColumnType type, const std::vector<uint8_t>& value) {
      append16(body, uint16_t(8 + value.size()));
      body.push_back(0);  // not a DDL property
      body.push_back(uint8_t(type));
      append16(body, nameIndex(property));
      append16(body, uint16_t(value.size()));
      body.insert(body.end(), value.begin(), value.end());
    };
    // The engine's own blobs store True as 1.
    if (c.required) entry("Required", ColumnType::Boolean, {uint8_t(*c.required ? 1 : 0)});
    if (c.allowZeroLength) entry("AllowZeroLength", ColumnType::Boolean, {uint8_t(*c.allowZeroLength ? 1 : 0)});
    // Access keeps a default as a Memo, a rule and its text as Text.
    if (!c.defaultValue.empty()) entry("DefaultValue", ColumnType::Memo, encodeName(c.defaultValue, f, codec));
    if (!c.validationRule.empty()) entry("ValidationRule", ColumnType::Text, encodeName(c.validationRule, f, codec));
    if (!c.validationText.empty()) entry("ValidationText", ColumnType::Text, encodeName(c.validationText, f, codec));
    if (!c.expression.empty()) {
      entry("Expression", ColumnType::Memo, encodeName(c.expression, f, codec));
      entry("ResultType", ColumnType::Byte, {uint8_t(c.resultType)});
    }
    return body;
  };

  // The table's own properties come first, under an empty name, then each column that sets any.
  std::vector<std::vector<uint8_t>> blocks;
  ColumnProperties own;
  for (const ColumnProperties& c : owners)
    if (c.column.empty()) own = c;
  blocks.push_back(ownerBody(own));
  for (const ColumnProperties& c : owners) {
    if (c.column.empty()) continue;
    std::vector<uint8_t> body = ownerBody(c);
    if (body.size() > 6 + encodeName(c.column, f, codec).size()) blocks.push_back(std::move(body));
  }

  std::vector<uint8_t> out(signature(f), signature(f) + 4);
  std::vector<uint8_t> nameBlock;
  for (const std::string& n : names) {
    std::vector<uint8_t> name = encodeName(n, f, codec);
    append16(nameBlock, uint16_t(name.size()));
    nameBlock.insert(nameBlock.end(), name.begin(), name.end());
  }
  appendBlock(out, kNameBlock, nameBlock);
  appendBlock(out, kObjectBlock, blocks[0]);
  for (size_t i = 1; i < blocks.size(); ++i) appendBlock(out, kColumnBlock, blocks[i]);
  return out;
}

}  // namespace jet
