// The property blob as written for a new table reads back through the catalog's reader, and a
// blob cut short or foreign is refused as damage.
#include "jet/catalog/properties.h"

#include <gtest/gtest.h>

#include "support/error_of.h"

namespace {

using jet::Format;

TEST(PropertyBlobs, WrittenPropertiesReadBackAndDamageIsRefused) {
  for (Format f : {Format::Jet3, Format::Jet4}) {
    jet::TextCodec codec(1252);
    const std::vector<jet::ColumnProperties> props = {
        {"Name", true, false}, {"Größe", false, std::nullopt}, {"X", {}, true}, {"Plain", {}, {}}};
    const std::vector<uint8_t> blob = jet::buildPropertyBlob(f, props, codec);
    const jet::PropertyMaps back = jet::parseProperties(blob, f, codec);
    ASSERT_EQ(back.size(), 4u) << "the table itself and three columns";  // "Plain" sets nothing
    EXPECT_TRUE(back.at("").empty());
    EXPECT_EQ(back.at("Name").at("Required").number, 1);
    EXPECT_EQ(back.at("Name").at("AllowZeroLength").number, 0);
    EXPECT_EQ(back.at("Größe").size(), 1u);
    EXPECT_EQ(back.at("Größe").at("Required").type, uint8_t(jet::ColumnType::Boolean));
    EXPECT_EQ(back.at("X").count("Required"), 0u);
    EXPECT_EQ(back.at("X").at("AllowZeroLength").number, 1);

    // Names are stored as the format stores text: two bytes a character in Jet 4, one in Jet 3.
    const size_t nameBytes = std::string("Required").size() * (f == Format::Jet4 ? 2 : 1);
    EXPECT_EQ(blob[10] | (blob[11] << 8), int(nameBytes));

    std::vector<uint8_t> cut = blob;
    cut.resize(cut.size() - 3);  // inside the last entry
    EXPECT_EQ(errorOf([&] { jet::parseProperties(cut, f, codec); }), 3049);
    EXPECT_EQ(errorOf([&] { jet::parseProperties({'x', 'y', 'z', 0}, f, codec); }), 3049);
  }
}

}  // namespace
