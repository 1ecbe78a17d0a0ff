// Row images written by the schema writer, read back by the storage layer's own row parser: long
// rows of the older format need a jump table for their one-byte offsets.
#include <gtest/gtest.h>

#include "jet/base/text_codec.h"
#include "jet/catalog/catalog.h"
#include "jet/catalog/catalog_writer.h"
#include "jet/catalog/schema_writer.h"
#include "jet/database.h"
#include "jet/support/oracles.h"
#include "jet/table/row.h"
#include "jet/table/table_def.h"

namespace {

using jet::ColumnType;
using jet::Format;

class RowImages : public ::testing::TestWithParam<Format> {};

TEST_P(RowImages, LongRowsReadBackThroughTheRowParser) {
  const std::string dir = oracle::tempDir();
  const std::string path = dir + "/rows.mdb";
  jet::NewTable t{"Rows", {}, {}};
  for (int i = 0; i < 8; ++i) t.columns.push_back({"T" + std::to_string(i), ColumnType::Text, 255});
  t.columns.push_back({"N", ColumnType::Long});
  t.columns.push_back({"B", ColumnType::Boolean});
  jet::Database::create(path, {GetParam(), 1252, 1033})->createTable(t);

  auto file = jet::SchemaFile::open(path, true);
  uint32_t tdef = 0;
  const jet::Catalog catalog = jet::Catalog::read(file->pageFile(), GetParam(), jet::windows1252Codec());
  for (const auto& e : catalog.entries())
    if (e.object.name == "Rows") tdef = uint32_t(e.object.id);
  ASSERT_NE(tdef, 0u);
  const auto mine = file->definition(tdef);
  jet::PageFile pages(path, true);
  pages.setPageSize(uint32_t(file->pageSize()));
  jet::TextCodec codec(1252);
  const jet::TableDef theirs = jet::readTableDef(pages, GetParam(), codec, tdef);
  jet::LongValueReader lv(pages, GetParam());
  jet::RowReader reader(theirs, codec, lv);

  // Rows from a few bytes up to the most a page takes, so that offsets cross 256-byte boundaries
  // at every place: inside a value, at a value's start, inside the offset table.
  const size_t maxText = GetParam() == Format::Jet4 ? 230 : 240;
  for (size_t len : {0ul, 1ul, 30ul, 31ul, 32ul, 33ul, 60ul, 61ul, 62ul, 63ul, 64ul, 120ul, 200ul, maxText}) {
    for (int nulls = 0; nulls < 2; ++nulls) {
      std::vector<jet::Value> values;
      for (int i = 0; i < 8; ++i) {
        if (nulls && i % 3 == 1) values.push_back(jet::Null{});
        else values.push_back(std::string(len, char('a' + i)));
      }
      values.push_back(int64_t(-7));
      values.push_back(true);
      jet::Bytes row = jet::encodeRow(mine, values);
      std::vector<jet::Value> back;
      reader.decode(row.data(), row.size(), back);
      EXPECT_EQ(back, values) << "text length " << len << ", row of " << row.size() << " bytes";
      EXPECT_EQ(jet::decodeRow(mine, row.data(), row.size()), values) << "text length " << len;
    }
  }
  oracle::removeTree(dir);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, RowImages, ::testing::Values(Format::Jet3, Format::Jet4),
                         [](const auto& info) { return info.param == Format::Jet4 ? "Jet4" : "Jet3"; });

}  // namespace
