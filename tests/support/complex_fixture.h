// A database with complex columns of every kind, for the tests of every folder. The engine builds
// the tables (MSysComplexColumns, the template tables, the hidden tables and "Items"); then the
// four key columns of Items get the bytes Access gives complex columns: type 0x12, the auto-number
// flag, and their complex id in the column descriptor; the definition records the last key given.
//
// Items:   name   tags (Text values)   files (attachments)   notes (memo)   history   scores (Long)
//   key 1  "one"  red; green           a.txt (deflated)      "n1"           -         10; 20
//   key 2  "two"  blue                 b.bin (raw); c.txt    "n2 again"     2 versions -
//   key 3  "three" -                   -                     Null           -         -
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "jet/base/attachment_data.h"
#include "jet/base/bytes.h"
#include "jet/database.h"

namespace complexfixture {

inline const std::vector<uint8_t> kFileA = {'h', 'e', 'l', 'l', 'o', '\n'};
inline const std::vector<uint8_t> kFileC = {'s', 'e', 'c', 'o', 'n', 'd'};
// The history's two versions: 2011-09-12 21:21:02 and 21:22:33 (days since 1899-12-30).
constexpr double kEarlier = 40798 + 76862 / 86400.0;
constexpr double kLater = 40798 + 76953 / 86400.0;

namespace detail {

inline jet::NewColumn col(const std::string& name, jet::ColumnType type, int size = 0, bool autoNumber = false) {
  return {.name = name, .type = type, .size = size, .autoNumber = autoNumber, .allowZeroLength = true};
}

inline void table(jet::Database& db, const std::string& name, std::vector<jet::NewColumn> columns) {
  db.createTable({name, std::move(columns), {}});
}

inline int32_t idOf(jet::Database& db, const std::string& name) {
  for (const auto& o : db.objects())
    if (o.name == name) return o.id;
  return 0;
}

}  // namespace detail

// Complex ids the fixture gives its columns.
constexpr int32_t kTagsId = 11, kFilesId = 12, kHistoryId = 13, kScoresId = 14;

inline void build(const std::string& path) {
  using jet::ColumnType;
  using detail::col;
  using V = jet::Value;
  auto db = jet::Database::create(path);
  detail::table(*db, "MSysComplexColumns",
                {col("ColumnName", ColumnType::Text, 255), col("ComplexID", ColumnType::Long),
                 col("ConceptualTableID", ColumnType::Long), col("FlatTableID", ColumnType::Long),
                 col("ComplexTypeObjectID", ColumnType::Long)});
  detail::table(*db, "MSysComplexType_Text", {col("Value", ColumnType::Text, 255)});
  detail::table(*db, "MSysComplexType_Long", {col("Value", ColumnType::Long)});
  detail::table(*db, "MSysComplexType_Attachment",
                {col("FileURL", ColumnType::Memo), col("FileName", ColumnType::Text, 255),
                 col("FileType", ColumnType::Text, 255), col("FileData", ColumnType::Ole),
                 col("FileTimeStamp", ColumnType::DateTime), col("FileFlags", ColumnType::Long)});
  detail::table(*db, "MSysComplexTypeVH_1", {col("notes", ColumnType::Memo), col("Modified_1", ColumnType::DateTime)});
  // Hidden tables: the template's columns, the key and an auto-number of their own, in the
  // column order Access gives them (by name).
  detail::table(*db, "f_1_tags", {col("_tags", ColumnType::Long), col("Items_tags", ColumnType::Long, 0, true),
                                  col("Value", ColumnType::Text, 255)});
  detail::table(*db, "f_2_files",
                {col("_files", ColumnType::Long), col("FileData", ColumnType::Ole), col("FileFlags", ColumnType::Long),
                 col("FileName", ColumnType::Text, 255), col("FileTimeStamp", ColumnType::DateTime),
                 col("FileType", ColumnType::Text, 255), col("FileURL", ColumnType::Memo),
                 col("Items_files", ColumnType::Long, 0, true)});
  detail::table(*db, "f_3_history", {col("_history", ColumnType::Long), col("notes", ColumnType::Memo),
                                     col("Modified_1", ColumnType::DateTime),
                                     col("Items_history", ColumnType::Long, 0, true)});
  detail::table(*db, "f_4_scores", {col("_scores", ColumnType::Long), col("Items_scores", ColumnType::Long, 0, true),
                                    col("Value", ColumnType::Long)});
  detail::table(*db, "Items",
                {col("name", ColumnType::Text, 50), col("tags", ColumnType::Long), col("files", ColumnType::Long),
                 col("notes", ColumnType::Memo), col("history", ColumnType::Long), col("scores", ColumnType::Long)});

  const V null;
  db->insertRow("Items", {V(std::string("one")), V(int64_t(1)), V(int64_t(1)), V(std::string("n1")), V(int64_t(1)), V(int64_t(1))});
  db->insertRow("Items", {V(std::string("two")), V(int64_t(2)), V(int64_t(2)), V(std::string("n2 again")), V(int64_t(2)), V(int64_t(2))});
  db->insertRow("Items", {V(std::string("three")), V(int64_t(3)), V(int64_t(3)), null, V(int64_t(3)), V(int64_t(3))});
  auto text = [](const char* s) { return V(std::string(s)); };
  db->insertRow("f_1_tags", {V(int64_t(1)), null, text("red")});
  db->insertRow("f_1_tags", {V(int64_t(2)), null, text("blue")});
  db->insertRow("f_1_tags", {V(int64_t(1)), null, text("green")});
  db->insertRow("f_2_files", {V(int64_t(1)), V(jet::encodeAttachment("txt", kFileA, true)), null, text("a.txt"), null,
                              text("txt"), null, null});
  db->insertRow("f_2_files", {V(int64_t(2)), V(jet::encodeAttachment("bin", {0x00, 0xff, 0x10, 0x80}, false)), null, text("b.bin"), null,
                              text("bin"), null, null});
  db->insertRow("f_2_files", {V(int64_t(2)), V(jet::encodeAttachment("txt", kFileC, true)), null, text("c.txt"), null,
                              text("txt"), null, null});
  // 2011-09-12 21:21:02 and 21:22:33 (days since 1899-12-30).
  db->insertRow("f_3_history", {V(int64_t(2)), text("n2"), V(jet::DateTime{kEarlier}), null});
  db->insertRow("f_3_history", {V(int64_t(2)), text("n2 again"), V(jet::DateTime{kLater}), null});
  db->insertRow("f_4_scores", {V(int64_t(1)), null, V(int64_t(10))});
  db->insertRow("f_4_scores", {V(int64_t(1)), null, V(int64_t(20))});

  const int32_t items = detail::idOf(*db, "Items");
  auto entry = [&](const char* column, int32_t id, const char* flat, const char* type) {
    db->insertRow("MSysComplexColumns", {text(column), V(int64_t(id)), V(int64_t(items)),
                                         V(int64_t(detail::idOf(*db, flat))), V(int64_t(detail::idOf(*db, type)))});
  };
  entry("tags", kTagsId, "f_1_tags", "MSysComplexType_Text");
  entry("files", kFilesId, "f_2_files", "MSysComplexType_Attachment");
  entry("history", kHistoryId, "f_3_history", "MSysComplexTypeVH_1");
  entry("scores", kScoresId, "f_4_scores", "MSysComplexType_Long");
  const uint32_t tdef = db->table("Items").tdefPage;
  const uint32_t pageSize = db->pageSize();
  db->close();
  db.reset();

  // The key columns become complex columns.
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  std::vector<uint8_t> page(pageSize);
  f.seekg(std::streamoff(tdef) * pageSize);
  f.read(reinterpret_cast<char*>(page.data()), pageSize);
  const uint16_t numCols = jet::le16(&page[45]);
  const uint32_t realCount = jet::le32(&page[51]);
  const size_t colStart = 63 + size_t(realCount) * 12;
  const int32_t ids[] = {0, kTagsId, kFilesId, 0, kHistoryId, kScoresId};  // by column number
  for (uint16_t i = 0; i < numCols; ++i) {
    uint8_t* d = &page[colStart + size_t(i) * 25];
    const uint16_t number = jet::le16(d + 5);
    if (number >= 6 || ids[number] == 0) continue;
    d[0] = 0x12;
    d[15] |= 0x04;
    jet::put32(d + 11, uint32_t(ids[number]));
  }
  jet::put32(&page[28], 3);
  f.seekp(std::streamoff(tdef) * pageSize);
  f.write(reinterpret_cast<const char*>(page.data()), pageSize);
}

}  // namespace complexfixture
