#include "sql/lazy_row.h"

#include "jet/file_database.h"

namespace sql {

LazyRow::LazyRow(jet::FileDatabase& db, std::shared_ptr<const jet::Tdef> def)
    : def_(std::move(def)),
      longValues_(db.pageFile(), db.format()),
      reader_(*def_, db.codec(), longValues_),
      values_(def_->columns.size()),
      decodedIn_(def_->columns.size(), 0) {}

void LazyRow::reset(const uint8_t* row, size_t size) {
  row_ = row;
  size_ = size;
  parsed_ = false;
  ++generation_;
}

const jet::Value& LazyRow::value(size_t column) {
  if (decodedIn_[column] == generation_) return values_[column];
  if (!parsed_) {
    jet::parseRow(*def_, row_, size_, layout_);
    parsed_ = true;
  }
  const jet::ColumnDef& col = def_->columns[column];
  jet::Value& out = values_[column];
  const uint8_t* data;
  size_t len;
  if (col.inNullMask()) out = layout_.present(col.number);
  else if (!jet::columnBytes(*def_, col, layout_, data, len)) out = jet::Null{};
  else reader_.decodeColumn(col, data, len, out);
  decodedIn_[column] = generation_;
  return out;
}

}  // namespace sql
