#include "sql/saved_queries.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "jet/base/error.h"
#include "jet/base/names.h"
#include "jet/base/text_codec.h"
#include "jet/catalog/properties.h"
#include "jet/database.h"

#include "sql/access_functions.h"
#include "sql/bridge.h"
#include "sql/statement.h"
#include "sql/translate.h"

namespace sql {

namespace {

using jet::lowerName;
using jet::sameName;

// "[Order Details].[Unit Price]" or "Orders.OrderID" as its parts without brackets.
std::vector<std::string> nameParts(const std::string& expression) {
  std::vector<std::string> parts;
  std::string cur;
  bool bracket = false;
  for (char c : expression) {
    if (c == '[' && !bracket) bracket = true;
    else if (c == ']' && bracket) bracket = false;
    else if (c == '.' && !bracket) {
      parts.push_back(cur);
      cur.clear();
    } else if (!bracket && !(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '*' || (c & 0x80))) {
      return {};  // not a plain column reference
    } else {
      cur.push_back(c);
    }
  }
  parts.push_back(cur);
  return parts;
}

// DISTINCTROW keeps distinct rows of the tables read: the same as no keyword over one table, and
// as DISTINCT when the selected columns hold a key of every table. Otherwise there is no equal.
std::string distinctRow(const jet::QueryDefinition& q, const std::vector<jet::TableInfo>& tables) {
  if (q.tables.size() <= 1) return "";
  for (const jet::QueryTable& t : q.tables) {
    const std::string name = t.alias.empty() ? t.name : t.alias;
    const jet::TableInfo* table = nullptr;
    for (const jet::TableInfo& b : tables)
      if (sameName(b.name, t.name)) table = &b;
    const jet::IndexInfo* key = nullptr;
    if (table)
      for (const jet::IndexInfo& i : table->indexes)
        if (i.primaryKey) key = &i;
    if (!key) throw Untranslatable("DISTINCTROW over several tables, one of them without a primary key");
    for (const jet::IndexColumn& k : key->columns) {
      std::string column;
      for (const jet::ColumnInfo& c : table->columns)
        if (c.number == k.columnNumber) column = c.name;
      bool covered = false;
      for (const jet::QueryColumn& c : q.columns) {
        const auto parts = nameParts(c.expression);
        if (parts.size() == 2 && sameName(parts[0], name) && (parts[1] == "*" || sameName(parts[1], column)))
          covered = true;
      }
      if (!covered && !(q.options & jet::kQueryAllFields))
        throw Untranslatable("DISTINCTROW over several tables whose keys are not all selected");
    }
  }
  return "DISTINCT ";
}

std::string orderBy(const jet::QueryDefinition& q, const TranslateContext& c) {
  std::string s;
  for (const jet::QueryOrder& o : q.orderBy)
    s += (s.empty() ? "\nORDER BY " : ", ") + translate(o.expression, c) +
         (c.dialect == Dialect::Postgres ? "" : " COLLATE NOCASE") + (o.descending ? " DESC" : "");
  return s;
}

// FROM, WHERE, GROUP BY and HAVING.
std::string clauses(const jet::QueryDefinition& q, const TranslateContext& c) {
  std::string s;
  const std::string from = jet::accessFromClause(q);
  if (!from.empty()) s += "\nFROM " + translate(from, c);
  if (!q.where.empty()) s += "\nWHERE " + translate(q.where, c);
  std::string group;
  for (const jet::QueryColumn& g : q.groupBy) group += (group.empty() ? "" : ", ") + translate(g.expression, c);
  if (!group.empty()) s += "\nGROUP BY " + group;
  if (!q.having.empty()) s += "\nHAVING " + translate(q.having, c);
  return s;
}

std::string selectStatement(const jet::QueryDefinition& q, const std::vector<jet::TableInfo>& tables, const TranslateContext& c) {
  std::string s = "SELECT ";
  if (q.options & jet::kQueryDistinct) s += "DISTINCT ";
  else if (q.options & jet::kQueryDistinctRow) s += distinctRow(q, tables);
  // The output columns, each with the name it shows: "T.*" spelled out where T's columns are
  // known, names that repeat told apart as Access does ("T.col"), expressions named Expr1000...
  struct Output {
    std::string sql, name, qualifier;
    bool named;  // an alias was given
  };
  std::vector<Output> outputs;
  auto tableOf = [&](const std::string& nameOrAlias) -> const jet::TableInfo* {
    for (const jet::QueryTable& t : q.tables)
      if (t.expression.empty() && (sameName(t.alias, nameOrAlias) || (t.alias.empty() && sameName(t.name, nameOrAlias))))
        for (const jet::TableInfo& info : tables)
          if (sameName(info.name, t.name)) return &info;
    return nullptr;
  };
  bool starLeft = false;  // a * whose columns are not known
  auto spell = [&](const std::string& qualifier) {
    const jet::TableInfo* t = tableOf(qualifier);
    if (!t) return false;
    for (const jet::ColumnInfo& col : t->columns)
      outputs.push_back({quoteName(qualifier) + "." + quoteName(col.name), col.name, qualifier, false});
    return true;
  };
  if (q.options & jet::kQueryAllFields)
    for (const jet::QueryTable& t : q.tables)
      if (!spell(t.alias.empty() ? t.name : t.alias)) starLeft = true;
  int unnamed = 0;
  for (const jet::QueryColumn& col : q.columns) {
    const auto parts = nameParts(col.expression);
    if (col.alias.empty() && parts.size() == 2 && parts[1] == "*" && spell(parts[0])) continue;
    Output o{translate(col.expression, c), col.alias, parts.size() == 2 ? parts[0] : "", !col.alias.empty()};
    if (o.name.empty()) o.name = parts.empty() ? "Expr" + std::to_string(1000 + unnamed++) : parts.back();
    o.named = o.named || parts.empty();
    if (parts.size() == 2 && parts[1] == "*") o.name.clear();
    outputs.push_back(std::move(o));
  }
  // Access's TOP n over an ORDER BY also keeps the rows that tie with the n-th; LIMIT does not. Such
  // a query ranks its rows by the ORDER BY in a derived table and keeps those ranked n or better, so
  // every output gets the name it shows, for the outer SELECT to name.
  const bool topWithTies = (q.options & jet::kQueryTop) && !q.orderBy.empty();
  if (topWithTies && (starLeft || s != "SELECT "))
    throw Untranslatable("TOP n over an ORDER BY with DISTINCT or with columns that are not known");
  std::string list = starLeft ? "*" : "", shown;
  std::set<std::string> shownNames;
  for (const Output& o : outputs) {
    size_t same = 0;
    for (const Output& other : outputs) same += !o.name.empty() && sameName(other.name, o.name);
    std::string item = o.sql, name;
    if (same > 1 && !o.named && !o.qualifier.empty()) name = o.qualifier + "." + o.name;
    else if (o.named || topWithTies) name = o.name;
    if (!name.empty()) item += " AS " + quoteName(name);
    list += (list.empty() ? "" : ", ") + item;
    if (topWithTies && (name.empty() || !shownNames.insert(lowerName(name)).second))
      throw Untranslatable("TOP n over an ORDER BY with columns of the same name");
    shown += (shown.empty() ? "" : ", ") + quoteName(name);
  }
  if (list.empty()) list = "*";
  if (q.options & jet::kQueryTop) {
    if (q.top.empty() || q.top.find_first_not_of("0123456789") != std::string::npos)
      throw Untranslatable("TOP " + q.top);
  }
  // TOP n PERCENT keeps n percent of the rows, rounded up.
  const bool percent = (q.options & jet::kQueryTop) && (q.options & jet::kQueryPercent);
  auto share = [&](const std::string& count) { return "(" + count + " * " + q.top + " + 99) / 100"; };
  if (topWithTies) {
    const std::string order = orderBy(q, c).substr(std::string("\nORDER BY ").size());
    return "SELECT " + shown + "\nFROM (SELECT " + list + ", rank() OVER (ORDER BY " + order +
           ") AS top_rank, row_number() OVER (ORDER BY " + order + ") AS top_row" +
           (percent ? ", count(*) OVER () AS top_count" : "") + clauses(q, c) + ") AS top_rows\nWHERE top_rank <= " +
           (percent ? share("top_count") : q.top) + "\nORDER BY top_row";
  }
  const std::string whole = s + list + clauses(q, c);
  s = whole + orderBy(q, c);
  if (percent) s += "\nLIMIT (SELECT " + share("count(*)") + " FROM (" + whole + ") AS top_all)";
  else if (q.options & jet::kQueryTop) s += "\nLIMIT " + q.top;
  return s;
}

std::string unionStatement(const jet::QueryDefinition& q, const TranslateContext& c) {
  std::string s;
  const char* op = (q.options & jet::kQueryDistinct) ? "\nUNION\n" : "\nUNION ALL\n";
  for (const jet::QueryTable& part : q.tables) s += (s.empty() ? "" : op) + translate(part.expression, c);
  return s + orderBy(q, c);
}

// The table an action query changes, when it reads that table alone.
std::string singleTable(const jet::QueryDefinition& q, const char* what) {
  if (q.tables.size() != 1 || !q.joins.empty() || !q.tables[0].expression.empty())
    throw Untranslatable(std::string(what) + " query over several tables");
  return q.tables[0].name;
}

std::string columnName(const std::string& target, const std::string& table) {
  const auto parts = nameParts(target);
  if (parts.empty() || parts.size() > 2) throw Untranslatable("the target column " + target);
  if (parts.size() == 2 && !sameName(parts[0], table)) throw Untranslatable("an update of another table's column " + target);
  return parts.back();
}

std::string trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// One column of a crosstab: the Access literal its pivot equals (empty: Null), the name it shows.
struct CrosstabHeading {
  std::string literal, name;
};

// "Qtr 1","Qtr 2" (a ColumnHeadings property, as PIVOT ... In (...) lists it) as headings: each an
// Access literal (a text, a date, a number, a word), shown under its text.
std::vector<CrosstabHeading> fixedHeadings(const std::string& list) {
  std::vector<CrosstabHeading> out(1);
  for (const Token& t : tokenize(list + ",")) {
    CrosstabHeading& h = out.back();
    if (t.kind == Token::Space) continue;
    if (t.kind == Token::Comma) {
      if (h.literal.empty()) throw Untranslatable("the column headings " + list);
      out.emplace_back();
    } else if (t.kind == Token::String || t.kind == Token::Date) {
      if (!h.literal.empty()) throw Untranslatable("the column headings " + list);
      h.name = t.text;
      h.literal = t.kind == Token::Date ? "#" + t.text + "#" : quoteName(t.text);
    } else if (t.kind == Token::Number || t.kind == Token::Word || (t.kind == Token::Op && t.text == "-")) {
      h.literal += t.text;
      h.name += t.text;
    } else {
      throw Untranslatable("the column headings " + list);
    }
  }
  out.pop_back();
  return out;
}

// A crosstab's value, its column heading (pivot), row headings and groups.
struct CrosstabParts {
  std::string aggregate, argument, pivot;
  jet::QueryDefinition rows;  // the SELECT of the row headings, grouped
};

CrosstabParts crosstabParts(const jet::QueryDefinition& q) {
  CrosstabParts p;
  p.rows = q;
  p.rows.type = jet::QueryType::Select;
  p.rows.columns.clear();
  p.rows.groupBy.clear();
  p.rows.options &= ~jet::kQueryAllFields;
  std::string value;
  for (const jet::QueryColumn& col : q.columns) {
    if (col.flag == 0 && value.empty()) value = trimmed(col.expression);
    else if (col.flag == 1) p.pivot = col.expression;
    else if (col.flag == 2) p.rows.columns.push_back({col.expression, col.alias, "", 0});
  }
  for (const jet::QueryColumn& g : q.groupBy)
    if (g.flag != 1) p.rows.groupBy.push_back({g.expression, "", "", 0});
  if (value.empty() || p.pivot.empty()) throw Untranslatable("a crosstab without its value or its column heading");
  // The value is one aggregate: Name(argument), its parenthesis closing at the end.
  std::vector<Token> t = tokenize(value);
  std::erase_if(t, [](const Token& x) { return x.kind == Token::Space; });
  int depth = 0;
  size_t close = 0;
  for (size_t i = 1; i < t.size() && !close; ++i)
    if (t[i].kind == Token::Open) ++depth;
    else if (t[i].kind == Token::Close && --depth == 0) close = i;
  if (t.size() < 3 || t[0].kind != Token::Word || t[1].kind != Token::Open || close != t.size() - 1)
    throw Untranslatable("a crosstab value that is not one aggregate (" + value + ")");
  p.aggregate = t[0].text;
  p.argument = trimmed(value.substr(value.find('(') + 1, value.size() - value.find('(') - 2));
  if (p.argument == "*") p.argument = "1";
  return p;
}

// A crosstab over the headings given, as a grouped SELECT: its row headings, then per heading the
// value's aggregate over the rows whose pivot is that heading (Null where there are none: Access
// leaves such a cell empty, also for a count).
std::string crosstabStatement(const jet::QueryDefinition& q, const std::vector<jet::TableInfo>& tables,
                              const TranslateContext& c, const std::vector<CrosstabHeading>& headings) {
  CrosstabParts p = crosstabParts(q);
  for (const CrosstabHeading& h : headings) {
    const std::string is = h.literal.empty() ? "(" + p.pivot + ") Is Null" : "(" + p.pivot + ") = " + h.literal;
    std::string cell = p.aggregate + "(IIf(" + is + ", " + p.argument + ", Null))";
    if (sameName(p.aggregate, "Count")) cell = "IIf(Sum(IIf(" + is + ", 1, 0)) > 0, " + cell + ", Null)";
    p.rows.columns.push_back({cell, h.name, "", 0});
  }
  return selectStatement(p.rows, tables, c);
}

// The SELECT of a crosstab's column headings when its data gives them: the distinct values of its
// pivot over the rows it reads, in order.
std::string headingsStatement(const jet::QueryDefinition& q, const TranslateContext& c) {
  CrosstabParts p = crosstabParts(q);
  p.rows.groupBy.clear();
  p.rows.having.clear();
  return "SELECT DISTINCT " + translate(p.pivot, c) + clauses(p.rows, c) + "\nORDER BY 1";
}

std::string statementOf(const jet::QueryDefinition& q, const std::vector<jet::TableInfo>& tables, const TranslateContext& c) {
  if (!q.database.empty()) throw Untranslatable("it reads an external database (" + q.database + ")");
  switch (q.type) {
    case jet::QueryType::Select: return selectStatement(q, tables, c);
    case jet::QueryType::Union: return unionStatement(q, c);
    case jet::QueryType::Crosstab:
      return q.columnHeadings.empty() ? headingsStatement(q, c) : crosstabStatement(q, tables, c, fixedHeadings(q.columnHeadings));
    case jet::QueryType::PassThrough: throw Untranslatable("a pass-through query runs on its ODBC server");
    case jet::QueryType::DataDefinition: throw Untranslatable("a data definition query changes the file's schema");
    case jet::QueryType::MakeTable:  // the SELECT whose rows make the table (sql/make_table.h)
      if (q.target.empty()) throw Untranslatable("a make-table query without its table");
      return selectStatement(q, tables, c);
    case jet::QueryType::Append: {
      std::string targets;
      jet::QueryDefinition select = q;
      select.columns.clear();
      for (const jet::QueryColumn& col : q.columns) {
        if (col.target.empty()) continue;
        targets += (targets.empty() ? "" : ", ") + quoteName(columnName(col.target, q.target));
        select.columns.push_back({col.expression, "", "", 0});
      }
      select.options &= ~jet::kQueryAllFields;
      return "INSERT INTO " + quoteName(q.target) + (targets.empty() ? "" : " (" + targets + ")") + "\n" +
             selectStatement(select, tables, c);
    }
    case jet::QueryType::Update: {
      const std::string table = singleTable(q, "an update");
      std::string set;
      for (const jet::QueryColumn& col : q.columns)
        set += (set.empty() ? "" : ", ") + quoteName(columnName(col.target, table)) + " = " + translate(col.expression, c);
      return "UPDATE " + quoteName(table) + "\nSET " + set + (q.where.empty() ? "" : "\nWHERE " + translate(q.where, c));
    }
    case jet::QueryType::Delete: {
      const std::string table = singleTable(q, "a delete");
      return "DELETE FROM " + quoteName(table) + (q.where.empty() ? "" : "\nWHERE " + translate(q.where, c));
    }
  }
  throw Untranslatable("an unknown kind of query");
}

// Prepares a statement to see whether SQLite takes it; its error otherwise.
std::string check(sqlite3* db, const std::string& statement) {
  try {
    prepare(db, statement);
    return "";
  } catch (const SqlError& e) {
    return e.what();
  }
}

TranslateContext contextOf(const SavedQuery& q) {
  TranslateContext c;
  c.knownFunction = knownFunction;
  for (const QueryParameter& p : q.parameters) c.parameters.push_back(p.name);
  return c;
}

// Access asks for any name it finds in no table of the query as a parameter, declared or not. So a
// name SQLite cannot find becomes a parameter after the declared ones, one at a time, until SQLite
// takes the statement. Returns SQLite's error when it still refuses it for another reason (the
// query then as it was). Qualified names (Table.Column) stay errors.
std::string withUndeclaredParameters(sqlite3* db, SavedQuery& q, const jet::QueryDefinition& d,
                                     const std::vector<jet::TableInfo>& tables) {
  static const std::string kUnknown = "no such column: ";
  const std::string first = check(db, q.sqliteSql);
  const SavedQuery before = q;
  for (std::string error = first; !error.empty(); error = check(db, q.sqliteSql)) {
    const std::string name = error.rfind(kUnknown, 0) == 0 ? error.substr(kUnknown.size()) : "";
    const bool known = std::any_of(q.parameters.begin(), q.parameters.end(),
                                   [&](const QueryParameter& p) { return sameName(p.name, name); });
    if (name.empty() || name.find('.') != std::string::npos || known) {
      q = before;
      return first;
    }
    q.parameters.push_back({name, "", 0});
    try {
      q.sqliteSql = statementOf(d, tables, contextOf(q));
    } catch (const Untranslatable&) {
      q = before;
      return first;
    }
  }
  return "";
}

std::string textOf(const jet::Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) return *s;
  return {};
}

int64_t numberOf(const jet::Value& v) {
  if (auto* i = std::get_if<int64_t>(&v)) return *i;
  return 0;
}

// A crosstab's fixed column headings are a property of its catalog object (ColumnHeadings), not
// rows of the query table. A property list that cannot be read leaves the headings to the data.
void readColumnHeadings(jet::Database& db, const std::map<int32_t, size_t>& crosstabs,
                        std::vector<jet::QueryDefinition>& definitions) {
  if (crosstabs.empty()) return;
  try {
    auto cursor = db.openTable("MSysObjects");
    const int id = jet::columnIndex(cursor->table().columns, "Id"), props = jet::columnIndex(cursor->table().columns, "LvProp");
    if (id < 0 || props < 0) return;
    jet::TextCodec codec(db.codePage());
    while (cursor->next()) {
      const std::vector<jet::Value>& row = cursor->values();
      auto it = crosstabs.find(static_cast<int32_t>(numberOf(row[size_t(id)])));
      const auto* blob = std::get_if<jet::Bytes>(&row[size_t(props)]);
      if (it == crosstabs.end() || !blob) continue;
      try {
        const jet::PropertyMaps maps = jet::parseProperties(*blob, db.format(), codec);
        auto own = maps.find("");
        if (own == maps.end()) continue;
        auto headings = own->second.find("ColumnHeadings");
        if (headings != own->second.end()) definitions[it->second].columnHeadings = headings->second.text;
      } catch (const jet::Error&) {
      }
    }
  } catch (const jet::Error&) {
  }
}

// The descriptions of the tables the bridge shows, as a translation resolves names against them.
std::vector<jet::TableInfo> descriptionsOf(Bridge& bridge) {
  std::vector<jet::TableInfo> tables;
  for (const BridgeTable& t : bridge.tables()) tables.push_back(t.info);
  return tables;
}

}  // namespace

std::vector<SavedQuery> readSavedQueries(jet::Database& db, std::vector<jet::QueryDefinition>& definitions) {
  definitions.clear();
  std::map<int32_t, std::vector<jet::QueryRow>> rows;
  try {
    auto cursor = db.openTable("MSysQueries");
    const jet::TableInfo& info = cursor->table();
    auto col = [&](const char* name) { return jet::columnIndex(info.columns, name); };
    const int object = col("ObjectId"), attribute = col("Attribute"), order = col("Order"), name1 = col("Name1"),
              name2 = col("Name2"), expression = col("Expression"), flag = col("Flag");
    if (std::min({object, attribute, order, name1, name2, expression, flag}) < 0) return {};
    auto at = [](const std::vector<jet::Value>& row, int i) -> const jet::Value& { return row[static_cast<size_t>(i)]; };
    while (cursor->next()) {
      const std::vector<jet::Value>& row = cursor->values();
      jet::QueryRow r;
      r.attribute = static_cast<int>(numberOf(at(row, attribute)));
      r.flag = jet::isNull(at(row, flag)) ? -1 : static_cast<int>(numberOf(at(row, flag)));
      r.name1 = textOf(at(row, name1));
      r.name2 = textOf(at(row, name2));
      r.expression = textOf(at(row, expression));
      // Order is kept as bytes, most significant first.
      if (const auto* b = std::get_if<jet::Bytes>(&at(row, order))) {
        for (uint8_t byte : *b) r.order = (r.order << 8) | byte;
      } else {
        r.order = static_cast<int>(numberOf(at(row, order)));
      }
      rows[static_cast<int32_t>(numberOf(at(row, object)))].push_back(std::move(r));
    }
  } catch (const jet::Error&) {
    return {};  // a file without a query table has no saved queries
  }
  std::vector<SavedQuery> out;
  std::map<int32_t, size_t> crosstabs;  // object id -> position
  for (const jet::CatalogObject& o : db.objects()) {
    // Queries whose names begin with ~ are the hidden ones forms and reports keep.
    if (o.kind != jet::ObjectKind::Query || o.name.rfind("~", 0) == 0) continue;
    SavedQuery q;
    q.name = o.name;
    auto it = rows.find(o.id);
    try {
      if (it == rows.end()) throw jet::Error(jet::err::kCorrupt, "The query has no rows in the query table.");
      jet::QueryDefinition d = jet::readQueryDefinition(it->second);
      q.type = d.type;
      q.parameters = d.parameters;
      if (d.type == jet::QueryType::Crosstab) crosstabs[o.id] = definitions.size();
      definitions.push_back(std::move(d));
    } catch (const jet::Error& e) {
      q.reason = e.what();
      definitions.emplace_back();
    }
    out.push_back(std::move(q));
  }
  readColumnHeadings(db, crosstabs, definitions);
  for (size_t i = 0; i < out.size(); ++i)
    if (out[i].reason.empty()) out[i].accessSql = jet::accessSql(definitions[i]);
  return out;
}

void translateQueries(sqlite3* db, Bridge& bridge, std::vector<SavedQuery>& queries,
                      const std::vector<jet::QueryDefinition>& definitions) {
  // A translation quotes every name with "...": SQLite must not take a quoted name it cannot find
  // for a string, or a misspelt field (or a parameter) would run as a constant.
  struct StrictQuotes {
    sqlite3* db;
    int dml = 1, ddl = 1;
    explicit StrictQuotes(sqlite3* d) : db(d) {
      sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, -1, &dml);
      sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, -1, &ddl);
      sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
      sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    }
    ~StrictQuotes() {
      sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, dml, nullptr);
      sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, ddl, nullptr);
    }
  } strict(db);
  const std::vector<jet::TableInfo> tables = descriptionsOf(bridge);
  // Pending views, retried while each round defines at least one (a view needs the views it reads).
  std::vector<size_t> pending;
  for (size_t i = 0; i < queries.size(); ++i) {
    SavedQuery& q = queries[i];
    if (!q.reason.empty() && q.accessSql.empty()) continue;  // its rows could not be read
    q.reason.clear();
    try {
      q.sqliteSql = statementOf(definitions[i], tables, contextOf(q));
      if (q.type == QueryType::MakeTable) q.target = definitions[i].target;
    } catch (const Untranslatable& e) {
      q.reason = e.what();
      continue;
    }
    q.columnsFromData = q.type == QueryType::Crosstab && definitions[i].columnHeadings.empty();
    const bool select = q.type == QueryType::Select || q.type == QueryType::Union || q.type == QueryType::Crosstab;
    if (select && !q.columnsFromData && q.parameters.empty()) pending.push_back(i);
  }
  for (bool progress = true; progress && !pending.empty();) {
    progress = false;
    std::vector<size_t> left;
    for (size_t i : pending) {
      SavedQuery& q = queries[i];
      const std::string ddl = "CREATE VIEW main." + quoteName(q.name) + " AS " + q.sqliteSql;
      char* message = nullptr;
      std::string error;
      if (sqlite3_exec(db, ddl.c_str(), nullptr, nullptr, &message) == SQLITE_OK) {
        // SQLite checks a view's names only when it is used.
        error = check(db, "SELECT * FROM main." + quoteName(q.name));
        if (error.empty()) {
          q.isView = true;
          progress = true;
        } else {
          sqlite3_exec(db, ("DROP VIEW main." + quoteName(q.name)).c_str(), nullptr, nullptr, nullptr);
          q.reason = "SQLite refuses the translation: " + error;
          left.push_back(i);
        }
      } else {
        q.reason = std::string("SQLite refuses the translation: ") + (message ? message : "unknown error");
        left.push_back(i);
      }
      sqlite3_free(message);
    }
    pending = std::move(left);
  }
  // What cannot be a view (parameters, actions, names that are parameters no clause declares) must
  // at least be taken by SQLite to be run.
  for (size_t i = 0; i < queries.size(); ++i) {
    SavedQuery& q = queries[i];
    if (q.isView || q.sqliteSql.empty()) continue;
    const std::string error = withUndeclaredParameters(db, q, definitions[i], tables);
    if (!error.empty()) {
      q.reason = "SQLite refuses the translation: " + error;
      q.sqliteSql.clear();
    } else if (q.parameters.empty()) {
      q.reason = q.columnsFromData ? "a crosstab whose columns come from its data (run it with --query)"
                                   : "an action query (run it with --query)";
    } else {
      std::string names;
      for (const QueryParameter& p : q.parameters) names += (names.empty() ? "" : ", ") + ("[" + p.name + "]");
      q.reason = "it takes parameters " + names + " (run it with --query and --param)";
    }
  }
}

std::string crosstabOfData(sqlite3* db, Bridge& bridge, const SavedQuery& q, const jet::QueryDefinition& definition,
                           const std::function<void(sqlite3_stmt*)>& bind) {
  Statement values = prepare(db, q.sqliteSql);
  bind(values.get());
  std::vector<CrosstabHeading> headings;
  int rc;
  while ((rc = sqlite3_step(values.get())) == SQLITE_ROW) {
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(values.get(), 0));
    switch (sqlite3_column_type(values.get(), 0)) {
      case SQLITE_NULL: headings.push_back({"", "<>"}); break;
      case SQLITE_INTEGER:
      case SQLITE_FLOAT: headings.push_back({text, text}); break;
      default: headings.push_back({quoteName(text), text});  // an Access text literal
    }
  }
  if (rc != SQLITE_DONE) throw SqlError(sqlite3_errmsg(db), -1);
  const std::vector<jet::TableInfo> tables = descriptionsOf(bridge);
  try {
    return crosstabStatement(definition, tables, contextOf(q), headings);
  } catch (const Untranslatable& e) {
    throw SqlError(e.what(), -1);
  }
}

std::string selectIn(Dialect dialect, const jet::QueryDefinition& q, const std::vector<jet::TableInfo>& tables) {
  const bool fixedCrosstab = q.type == jet::QueryType::Crosstab && !q.columnHeadings.empty();
  if (q.type != jet::QueryType::Select && q.type != jet::QueryType::Union && !fixedCrosstab)
    throw Untranslatable(q.type == jet::QueryType::Crosstab ? "a crosstab whose columns come from its data" : "not a select query");
  if (!q.parameters.empty()) throw Untranslatable("it takes parameters");
  TranslateContext c;
  c.dialect = dialect;
  // Only the functions the target has, with the same meaning.
  c.knownFunction = [](const std::string& name) {
    static const char* const kShared[] = {"Sum", "Avg", "Count", "Min", "Max", "Abs", "Trim", "LTrim", "RTrim", "Replace"};
    for (const char* k : kShared)
      if (sameName(k, name)) return true;
    return false;
  };
  return statementOf(q, tables, c);
}

void bindParameter(sqlite3_stmt* stmt, int index, const QueryParameter& p, const std::string& value) {
  switch (p.type) {
    case 0:  // undeclared: the kind the value has, a date or a number before text
    case 8: {
      std::string d = dateLiteral(value);
      if (!d.empty()) {
        sqlite3_bind_text(stmt, index, d.c_str(), -1, SQLITE_TRANSIENT);
        return;
      }
      if (p.type == 8) break;
      [[fallthrough]];
    }
    case 1: case 2: case 3: case 4: case 5: case 6: case 7: case 16: case 20: {
      char* end = nullptr;
      const double d = std::strtod(value.c_str(), &end);
      if (end && *end == 0 && !value.empty()) {
        if (d == static_cast<double>(static_cast<sqlite3_int64>(d))) sqlite3_bind_int64(stmt, index, static_cast<sqlite3_int64>(d));
        else sqlite3_bind_double(stmt, index, d);
        return;
      }
      break;
    }
    default: break;
  }
  sqlite3_bind_text(stmt, index, value.c_str(), -1, SQLITE_TRANSIENT);
}

}  // namespace sql
