#include "browse/record_grid.h"

#include <QHeaderView>
#include <QLocale>
#include <algorithm>
#include <cstring>

#include "browse/text_order.h"
#include "shell/shell.h"

namespace browse {

int RecordModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : published_; }

int RecordModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant RecordModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= published_) return {};
  if (role == Qt::DisplayRole) return OneLine(cellText(index.row(), index.column()));
  if (role == Qt::ToolTipRole) return cellText(index.row(), index.column());
  return {};
}

QString OneLine(QString text) {
  if (!text.contains(QChar('\n')) && !text.contains(QChar('\r'))) return text;
  const QString mark(kLineBreakMark);
  text.replace(QStringLiteral("\r\n"), mark);
  text.replace(QChar('\r'), mark);
  text.replace(QChar('\n'), mark);
  return text;
}

QVariant RecordModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < headers_.size())
    return headers_[section];
  return QAbstractTableModel::headerData(section, orientation, role);
}

void RecordModel::clearHeaders() {
  if (headers_.isEmpty()) return;
  beginRemoveColumns(QModelIndex(), 0, static_cast<int>(headers_.size()) - 1);
  headers_.clear();
  endRemoveColumns();
}

void RecordModel::appendHeader(const QString& name) {
  int at = static_cast<int>(headers_.size());
  beginInsertColumns(QModelIndex(), at, at);
  headers_ << name;
  endInsertColumns();
}

void RecordModel::beginFill(int expectedRows) {
  beginResetModel();
  filling_ = true;
  published_ = 0;
  open_ = false;
  width_ = std::max<int>(1, static_cast<int>(headers_.size()));
  blocks_.clear();
  blockBytes_ = 0;
  block_ = nullptr;
  used_ = room_ = rowBegin_ = 0;
  rowStart_.clear();
  order_.clear();
  std::vector<int32_t>().swap(order_);
  if (expectedRows > 0) rowStart_.reserve(static_cast<size_t>(expectedRows));
  endResetModel();
}

void RecordModel::publish() {
  const int complete = rows();
  if (complete <= published_) return;
  beginInsertRows(QModelIndex(), published_, complete - 1);
  published_ = complete;
  endInsertRows();
}

void RecordModel::startRow() {
  if (open_) endRow();
  open_ = true;
  cellsInRow_ = 0;
  const size_t ends = sizeof(uint32_t) * static_cast<size_t>(width_);
  rowBegin_ = used_;
  if (room_ - used_ < ends) newBlock(ends);
  used_ += ends;
}

// Starts a block with room for `need` more bytes, the open row carried over to it.
void RecordModel::newBlock(size_t need) {
  constexpr size_t kBlockBytes = size_t{4} << 20;
  const size_t carried = used_ - rowBegin_;
  const size_t size = std::max(kBlockBytes, carried + need);
  auto block = std::make_unique_for_overwrite<char[]>(size);
  if (carried) std::memcpy(block.get(), block_ + rowBegin_, carried);
  block_ = block.get();
  blocks_.push_back(std::move(block));
  blockBytes_ += size;
  room_ = size;
  used_ = carried;
  rowBegin_ = 0;
}

void RecordModel::endCell() {
  const size_t ends = sizeof(uint32_t) * static_cast<size_t>(width_);
  const uint32_t end = static_cast<uint32_t>(used_ - rowBegin_ - ends);
  std::memcpy(block_ + rowBegin_ + sizeof(uint32_t) * static_cast<size_t>(cellsInRow_), &end, sizeof end);
  ++cellsInRow_;
}

void RecordModel::addCell(std::string_view utf8) {
  if (!open_ || cellsInRow_ >= width_) return;
  if (room_ - used_ < utf8.size()) newBlock(utf8.size());
  if (!utf8.empty()) std::memcpy(block_ + used_, utf8.data(), utf8.size());
  used_ += utf8.size();
  endCell();
}

void RecordModel::endRow() {
  if (!open_) return;
  while (cellsInRow_ < width_) endCell();
  rowStart_.push_back(block_ + rowBegin_);
  open_ = false;
}

void RecordModel::endFill() {
  if (open_) endRow();
  if (!filling_) return;
  filling_ = false;
  publish();
}

void RecordModel::clearRows() {
  beginResetModel();
  std::vector<std::unique_ptr<char[]>>().swap(blocks_);
  blockBytes_ = 0;
  block_ = nullptr;
  used_ = room_ = rowBegin_ = 0;
  std::vector<const char*>().swap(rowStart_);
  std::vector<int32_t>().swap(order_);
  open_ = false;
  filling_ = false;
  published_ = 0;
  endResetModel();
}

std::string_view RecordModel::storedCell(size_t stored, int column) const {
  const char* row = rowStart_[stored];
  uint32_t begin = 0, end = 0;
  if (column > 0) std::memcpy(&begin, row + sizeof(uint32_t) * static_cast<size_t>(column - 1), sizeof begin);
  std::memcpy(&end, row + sizeof(uint32_t) * static_cast<size_t>(column), sizeof end);
  return std::string_view(row + sizeof(uint32_t) * static_cast<size_t>(width_) + begin, end - begin);
}

std::string_view RecordModel::cell(int row, int column) const {
  if (row < 0 || row >= rows() || column < 0 || column >= width_) return {};
  return storedCell(static_cast<size_t>(storedPosition(row)), column);
}

QString RecordModel::cellText(int row, int column) const {
  std::string_view s = cell(row, column);
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

void RecordModel::sortBy(int column, bool descending) {
  int n = rows();
  std::vector<int32_t> order;
  if (column >= 0 && column < width_) {
    // Cell texts compare as the user's language orders text, without regard to case: accented
    // letters sort beside their base letters. Numbers are texts here too.
    // The C locale states no language; it collates as English does rather than by code point.
    const QLocale language = QLocale().language() == QLocale::C ? QLocale(QLocale::English) : QLocale();
    order = TextOrder(language).sort(
        n,
        [&](int32_t stored) { return storedCell(static_cast<size_t>(stored), column); },
        descending);
  } else {
    order.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) order[i] = i;
  }
  reorder(std::move(order));
}

// Moves to a new display order while views keep their selection and current row on the same
// records.
void RecordModel::reorder(std::vector<int32_t> order) {
  emit layoutAboutToBeChanged();
  QModelIndexList before = persistentIndexList();
  std::vector<int32_t> stored;
  stored.reserve(before.size());
  for (const QModelIndex& i : before) stored.push_back(storedPosition(i.row()));
  order_ = std::move(order);
  if (!before.isEmpty()) {
    std::vector<int32_t> displayed(order_.size());
    for (size_t d = 0; d < order_.size(); ++d) displayed[order_[d]] = static_cast<int32_t>(d);
    QModelIndexList after;
    for (int k = 0; k < before.size(); ++k) after << index(displayed[stored[k]], before[k].column());
    changePersistentIndexList(before, after);
  }
  emit layoutChanged();
}

size_t RecordModel::bytesHeld() const {
  return blockBytes_ + rowStart_.capacity() * sizeof(const char*) +
         order_.capacity() * sizeof(int32_t);
}

RecordGrid::RecordGrid(QWidget* parent) : QTreeView(parent), model_(new RecordModel(this)) {
  setModel(model_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);  // constant row height: scrolling a million rows costs nothing
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setAllColumnsShowFocus(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSortingEnabled(false);
  setTextElideMode(Qt::ElideRight);
  header()->setStretchLastSection(false);
  header()->setSectionsMovable(false);
  header()->setSectionsClickable(true);
  header()->setDefaultSectionSize(shell::TwipsToPixels(1440));  // an inch at any resolution
}

int RecordGrid::selectedRow() const {
  if (!selectionModel()) return -1;
  QModelIndexList rows = selectionModel()->selectedRows();
  if (rows.isEmpty()) return -1;
  return rows.first().row();
}

void RecordGrid::selectDisplayedRow(int row) {
  QModelIndex index = model_->index(row, 0);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  scrollTo(index);
}

}  // namespace browse
