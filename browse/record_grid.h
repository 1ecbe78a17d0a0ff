// The record grid of the main window: a report-style list with one column per field and one row per
// record, each shown on one line. Rows are held compactly (cell texts packed in large blocks that
// never move, one end offset per cell), so tables of millions of records list quickly; each row
// remembers its record's position in stored order, which a header sort does not change.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QTreeView>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace browse {

// A cell's line breaks (CR LF, CR or LF) each shown as this mark, so that every row stays one line.
inline constexpr char16_t kLineBreakMark = u'\u23CE';
QString OneLine(QString text);

class RecordModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  explicit RecordModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void clearHeaders();
  void appendHeader(const QString& name);
  QStringList headers() const { return headers_; }

  // Filling: beginFill removes every row and any sort; rows are then appended in stored order.
  // A row is started, given its cells left to right, and ended; a row ended early keeps empty
  // cells for the rest. Views see the rows publish() has released (the first rows of a long fill,
  // say) and, after endFill, all of them.
  void beginFill(int expectedRows = 0);
  void startRow();
  void addCell(std::string_view utf8);
  void endRow();
  void publish();
  void endFill();
  void clearRows();

  // Rows held, complete ones only while filling.
  int rows() const { return static_cast<int>(rowStart_.size()); }
  // Row and column are zero-based; the row is a displayed position.
  std::string_view cell(int row, int column) const;
  QString cellText(int row, int column) const;
  // Zero-based position in stored order of the record shown in displayed row `row`.
  int storedPosition(int row) const { return order_.empty() ? row : order_[row]; }

  // Reorders the rows by the texts of one column (ties keep stored order).
  void sortBy(int column, bool descending);
  bool sorted() const { return !order_.empty(); }

  size_t bytesHeld() const;

 private:
  void reorder(std::vector<int32_t> order);
  void newBlock(size_t need);
  void endCell();
  std::string_view storedCell(size_t stored, int column) const;

  QStringList headers_;
  int width_ = 0;                    // cells per row, fixed at beginFill
  // Rows one after another, each the end of every cell's text (four bytes a cell, counted from the
  // row's first text byte) followed by the cells' UTF-8 texts; a row never spans two blocks.
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t blockBytes_ = 0;            // all blocks' sizes
  char* block_ = nullptr;            // the block being filled
  size_t used_ = 0, room_ = 0;       // its bytes written and its size
  size_t rowBegin_ = 0;              // where the open row starts in it
  std::vector<const char*> rowStart_;  // each complete row
  std::vector<int32_t> order_;       // displayed row -> stored position; empty when unsorted
  int cellsInRow_ = 0;
  bool open_ = false;                // a row is being filled
  bool filling_ = false;
  int published_ = 0;                // rows the views have been told of
};

// The grid control itself: a list in report view over a RecordModel, whole rows selected, one at a
// time.
class RecordGrid : public QTreeView {
  Q_OBJECT
 public:
  explicit RecordGrid(QWidget* parent = nullptr);
  RecordModel* records() const { return model_; }

  int selectedRow() const;  // zero-based displayed row, -1 when none is selected
  void selectDisplayedRow(int row);

 private:
  RecordModel* model_;
};

}  // namespace browse
