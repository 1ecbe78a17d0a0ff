// The field-type vocabulary: exact, case-sensitive lookups in both directions.
#include <gtest/gtest.h>

#include "db/session.h"

TEST(FieldTypes, NamesGiveCodesAndDefaultSizes) {
  ASSERT_EQ(modTools::kFieldTypeNames.size(), 10u);
  EXPECT_EQ(modTools::kFieldTypeNames[7], "Date/Time");
  const int16_t codes[] = {1, 2, 3, 4, 5, 6, 7, 8, 10, 12};
  const uint8_t sizes[] = {1, 1, 2, 4, 8, 4, 8, 8, 50, 0};
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(modTools::GetFieldType(modTools::kFieldTypeNames[i]), codes[i]) << i;
    EXPECT_EQ(modTools::GetFieldSize(modTools::kFieldTypeNames[i]), sizes[i]) << i;
  }
  for (const char* other : {"Date", "text", " Text", "", "Memo "}) {
    EXPECT_EQ(modTools::GetFieldType(other), 0) << other;
    EXPECT_EQ(modTools::GetFieldSize(other), 0) << other;
  }
}

TEST(FieldTypes, CodesAsTextGiveShownNames) {
  EXPECT_EQ(modTools::GetFieldTypeName("8"), "Date");
  EXPECT_EQ(modTools::GetFieldTypeName("10"), "Text");
  EXPECT_EQ(modTools::GetFieldTypeName("12"), "Memo");
  EXPECT_EQ(modTools::GetFieldTypeName("1"), "Boolean");
  for (const char* other : {"9", "11", "010", "", "15", "20", " 1"})
    EXPECT_EQ(modTools::GetFieldTypeName(other), "") << other;
}
