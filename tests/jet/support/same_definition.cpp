#include "jet/support/same_definition.h"

#include <gtest/gtest.h>

namespace jettest {

void expectSameColumn(const jet::ColumnDef& x, const jet::ColumnDef& y) {
  EXPECT_EQ(x.name, y.name);
  EXPECT_EQ(x.type, y.type) << x.name;
  EXPECT_EQ(x.number, y.number) << x.name;
  EXPECT_EQ(x.varIndex, y.varIndex) << x.name;
  EXPECT_EQ(x.flags, y.flags) << x.name;
  EXPECT_EQ(x.length, y.length) << x.name;
  if (x.fixed()) EXPECT_EQ(x.fixedOffset, y.fixedOffset) << x.name;
}

void expectSameIndexes(const jet::TableDef& a, const jet::TableDef& b) {
  ASSERT_EQ(a.realIndexes.size(), b.realIndexes.size());
  for (size_t i = 0; i < a.realIndexes.size(); ++i) {
    EXPECT_EQ(a.realIndexes[i].flags, b.realIndexes[i].flags) << "real index " << i;
    ASSERT_EQ(a.realIndexes[i].columns.size(), b.realIndexes[i].columns.size());
    for (size_t k = 0; k < a.realIndexes[i].columns.size(); ++k)
      EXPECT_EQ(a.realIndexes[i].columns[k].columnNumber, b.realIndexes[i].columns[k].columnNumber);
  }
  ASSERT_EQ(a.indexes.size(), b.indexes.size());
  for (size_t i = 0; i < a.indexes.size(); ++i) {
    EXPECT_EQ(a.indexes[i].name, b.indexes[i].name);
    EXPECT_EQ(a.indexes[i].number, b.indexes[i].number);
    EXPECT_EQ(a.indexes[i].realIndex, b.indexes[i].realIndex);
    EXPECT_EQ(a.indexes[i].kind, b.indexes[i].kind);
  }
}

}  // namespace jettest
