// Saved queries: the rows a query keeps in the catalog's query table (MSysQueries), the query they
// describe, and its SQL as Access shows it in SQL view.
//
// Each row has an Attribute saying what it holds: 0 and 255 open and close the query; 1 its type
// (Flag) and an action's target table or a pass-through's connect string (Name1) and SQL
// (Expression); 2 a parameter (Name1, Flag its type); 3 the SELECT's options (Flag bits, Name1
// the TOP value); 4 an external database (Name1); 5 an input table (Name1, alias Name2) or, with an
// Expression, a subquery or a part of a union; 6 an output column (Expression, alias Name1, an
// append's or update's target column Name2, a crosstab's role Flag); 7 a join (Name1 and Name2 the
// two sides, Expression the condition, Flag its kind); 8 WHERE; 9 GROUP BY; 10 HAVING; 11 ORDER BY
// (Name1 "D" descending). Rows of one kind keep their Order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jet {

enum class QueryType { Select, Union, Crosstab, Append, Update, Delete, MakeTable, DataDefinition, PassThrough };

// "select", "union", "crosstab", "append", "update", "delete", "make-table", "data definition",
// "pass-through".
const char* queryTypeName(QueryType type);

// One row of MSysQueries; `flag` is -1 when the row's Flag is Null.
struct QueryRow {
  int attribute = 0;
  int flag = -1;
  std::string expression;
  std::string name1;
  std::string name2;
  int order = 0;
};

struct QueryParameter {
  std::string name;      // as declared, e.g. "Beginning Date"
  std::string typeName;  // Access's word for its type in a PARAMETERS clause ("DateTime", "Text ( 255 )")
  int type = 0;          // the DAO type number
};

struct QueryTable {
  std::string name;        // the table or query
  std::string alias;
  std::string expression;  // a subquery's or a union part's SQL (then name is empty)
};

struct QueryColumn {
  std::string expression;
  std::string alias;
  std::string target;  // the column an append fills or an update sets
  int flag = 0;        // crosstab: 0 the value, 1 the column heading, 2 a row heading
};

struct QueryJoin {
  std::string left, right;  // table names or aliases
  std::string condition;
  int kind = 1;             // 1 INNER, 2 LEFT, 3 RIGHT
};

struct QueryOrder {
  std::string expression;
  bool descending = false;
};

// A saved query as its rows describe it.
struct QueryDefinition {
  QueryType type = QueryType::Select;
  std::string target;      // make-table and append: the table written to; pass-through: connect string
  std::string statement;   // data definition and pass-through: the SQL as stored
  std::string database;    // an external source database (IN clause)
  std::vector<QueryParameter> parameters;
  int options = 0;         // SELECT options (bits below)
  std::string top;         // the TOP value
  std::vector<QueryTable> tables;
  std::vector<QueryColumn> columns;
  std::vector<QueryJoin> joins;
  std::string where;
  std::vector<QueryColumn> groupBy;  // flag as in columns for a crosstab
  std::string having;
  std::vector<QueryOrder> orderBy;
  std::string columnHeadings;  // crosstab: its fixed column headings as PIVOT ... In (...) lists them
                               // (the query's ColumnHeadings property), empty when its data gives them
};

// Bits of the SELECT options.
constexpr int kQueryAllFields = 0x01;    // SELECT * (with any further columns)
constexpr int kQueryDistinct = 0x02;     // DISTINCT; for a union: UNION rather than UNION ALL
constexpr int kQueryOwnerAccess = 0x04;  // WITH OWNERACCESS OPTION
constexpr int kQueryDistinctRow = 0x08;
constexpr int kQueryTop = 0x10;
constexpr int kQueryPercent = 0x20;

// The query of one object's rows (in any order). Throws jet::Error 3049 when the rows have no type.
QueryDefinition readQueryDefinition(std::vector<QueryRow> rows);

// The SQL of a query as Access shows it: one clause per line, ending with ';'.
std::string accessSql(const QueryDefinition& query);

// The FROM clause's text (without FROM): tables without joins separated by commas, joined tables
// nested in the order their joins were made; joins between the same two sides and of one kind are
// one join with all their conditions.
std::string accessFromClause(const QueryDefinition& query);

// A table or column name as Access writes it in SQL: as it is when it is a plain name, else in
// brackets.
std::string accessName(const std::string& name);

}  // namespace jet
