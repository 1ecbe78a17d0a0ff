// The field-type vocabulary: exact, case-sensitive lookups in both directions, in step with the
// object model's type codes.
#include <gtest/gtest.h>

#include "db/dao.h"
#include "db/session.h"

TEST(FieldTypes, NamesAndCodesAgreeBothWaysAndMatchExactly) {
  // Every listed name gives a code that is shown under that name again (Date/Time as "Date").
  ASSERT_EQ(modTools::kFieldTypeNames.size(), 10u);
  for (const std::string& name : modTools::kFieldTypeNames) {
    const int16_t code = modTools::GetFieldType(name);
    EXPECT_NE(code, 0) << name;
    EXPECT_EQ(modTools::GetFieldTypeName(std::to_string(code)), name == "Date/Time" ? "Date" : name);
  }
  EXPECT_EQ(modTools::GetFieldType("Date/Time"), dao::dbDate);
  EXPECT_EQ(modTools::GetFieldType("Memo"), dao::dbMemo);
  // Sizes the definition window proposes: text 50 characters, memo none.
  EXPECT_EQ(modTools::GetFieldSize("Text"), 50);
  EXPECT_EQ(modTools::GetFieldSize("Memo"), 0);
  for (const char* other : {"Date", "text", " Text", "", "Memo "}) {
    EXPECT_EQ(modTools::GetFieldType(other), 0) << other;
    EXPECT_EQ(modTools::GetFieldSize(other), 0) << other;
  }
  for (const char* other : {"9", "11", "010", "", "15", "20", " 1", "016"})
    EXPECT_EQ(modTools::GetFieldTypeName(other), "") << other;
  // The newer types are named where fields are listed, but not offered for new fields.
  EXPECT_EQ(modTools::GetFieldTypeName(std::to_string(dao::dbBigInt)), "Large Number");
  EXPECT_EQ(modTools::GetFieldTypeName(std::to_string(dao::dbDateTimeExtended)), "Date/Time Extended");
  EXPECT_EQ(modTools::GetFieldType("Large Number"), 0);
}
