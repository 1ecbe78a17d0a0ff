// One stored row's values decoded as SQLite asks for them: the row's layout is parsed once, each
// column decoded on its first use, so a statement pays only for the columns it reads (long values
// included).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "jet/base/value.h"
#include "jet/storage/long_value.h"
#include "jet/table/row.h"
#include "jet/table/table_def.h"

namespace jet {
class FileDatabase;
}

namespace sql {

class LazyRow {
 public:
  LazyRow(jet::FileDatabase& db, std::shared_ptr<const jet::Tdef> def);
  // A new current row; its bytes must stay valid until the next reset (the caller holds the page).
  void reset(const uint8_t* row, size_t size);
  // The value of the column in field order.
  const jet::Value& value(size_t column);
  size_t size() const { return def_->columns.size(); }

 private:
  std::shared_ptr<const jet::Tdef> def_;  // kept alive here: the engine may drop its own
  jet::LongValueReader longValues_;
  jet::RowReader reader_;
  const uint8_t* row_ = nullptr;
  size_t size_ = 0;
  bool parsed_ = false;
  jet::RowLayout layout_;
  std::vector<jet::Value> values_;
  std::vector<uint64_t> decodedIn_;  // the row generation each value was decoded in
  uint64_t generation_ = 1;
};

}  // namespace sql
