// A result set as the fetch path sees it: described columns and a forward-only walk over rows whose
// cells are SQLite's five kinds of value. Statements give rows straight from a SQLite statement;
// catalog functions give rows they built in memory. Both are read by the same conversions.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3_stmt;

namespace jet {
class ReadOperation;
}

namespace odbc {

enum class Cell : uint8_t { Null, Integer, Real, Text, Blob };

// One result column as SQLDescribeCol and SQLColAttribute report it.
struct ColumnDesc {
  std::string label;        // the column's name in the result
  std::string baseColumn;   // the table column it comes from (empty for expressions)
  std::string baseTable;
  std::string typeName;     // the data source's name of the type
  SQLSMALLINT sqlType = SQL_WVARCHAR;
  SQLULEN size = 255;       // column size: characters, digits or bytes
  SQLSMALLINT digits = 0;   // decimal digits (scale, or fractional seconds)
  SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
  bool autoIncrement = false;
  bool isUnsigned = false;
  bool searchable = true;
};

class Result {
 public:
  virtual ~Result() = default;
  const std::vector<ColumnDesc>& columns() const { return columns_; }
  // Moves to the next row; false after the last. Throws Failure.
  virtual bool next() = 0;
  // The current row's cells, by 0-based column.
  virtual Cell type(int column) const = 0;
  virtual int64_t integer(int column) const = 0;
  virtual double real(int column) const = 0;
  virtual std::string_view text(int column) const = 0;  // Text and Blob cells
  // Rows changed by the statement when it changed rows (-1 otherwise).
  virtual SQLLEN rowCount() const { return -1; }

 protected:
  std::vector<ColumnDesc> columns_;
};

// Rows held in memory (catalog functions, type information).
class RowsResult : public Result {
 public:
  using Value = std::variant<std::monostate, int64_t, double, std::string>;
  explicit RowsResult(std::vector<ColumnDesc> columns) { columns_ = std::move(columns); }
  void add(std::vector<Value> row) { rows_.push_back(std::move(row)); }
  size_t size() const { return rows_.size(); }
  bool next() override { return ++at_ < rows_.size(); }
  Cell type(int c) const override;
  int64_t integer(int c) const override;
  double real(int c) const override;
  std::string_view text(int c) const override;

 private:
  std::vector<std::vector<Value>> rows_;
  size_t at_ = static_cast<size_t>(-1);
};

// The rows of a SQLite statement the caller has stepped once: `hasRow` tells whether that first
// step gave a row. The statement stays the caller's. `reading` (when given) is the read operation
// the rows come from: held until the last row has been fetched or the result is dropped, so every
// row of one result comes from the same committed state of the file.
class SqliteResult : public Result {
 public:
  SqliteResult(sqlite3_stmt* stmt, std::vector<ColumnDesc> columns, bool hasRow,
               std::unique_ptr<jet::ReadOperation> reading = nullptr);
  ~SqliteResult() override;
  bool next() override;
  Cell type(int c) const override;
  int64_t integer(int c) const override;
  double real(int c) const override;
  std::string_view text(int c) const override;

 private:
  sqlite3_stmt* stmt_;
  bool primed_;
  bool ended_;
  std::unique_ptr<jet::ReadOperation> reading_;
};

// A column described by name and type only (catalog result sets).
ColumnDesc catalogColumn(const char* name, SQLSMALLINT sqlType, SQLSMALLINT nullable = SQL_NULLABLE);

}  // namespace odbc
