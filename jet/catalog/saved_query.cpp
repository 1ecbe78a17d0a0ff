#include "jet/catalog/saved_query.h"

#include <algorithm>
#include <cctype>

#include "jet/base/error.h"
#include "jet/base/names.h"

namespace jet {

namespace {

enum Attribute {
  kStart = 0,
  kType = 1,
  kParameter = 2,
  kOptions = 3,
  kDatabase = 4,
  kTable = 5,
  kColumn = 6,
  kJoin = 7,
  kWhere = 8,
  kGroupBy = 9,
  kHaving = 10,
  kOrderBy = 11,
  kEnd = 255,
};

QueryType typeOf(int flag) {
  switch (flag) {
    case 1: return QueryType::Select;
    case 2: return QueryType::MakeTable;
    case 3: return QueryType::Append;
    case 4: return QueryType::Update;
    case 5: return QueryType::Delete;
    case 6: return QueryType::Crosstab;
    case 7: return QueryType::DataDefinition;
    case 8: return QueryType::PassThrough;
    case 9: return QueryType::Union;
    default: throw Error(err::kCorrupt, "A saved query has a type the engine does not know (" + std::to_string(flag) + ").");
  }
}

// Access's words for parameter types, by DAO type number.
std::string parameterTypeName(int type) {
  switch (type) {
    case 1: return "Bit";
    case 2: return "Byte";
    case 3: return "Short";
    case 4: return "Long";
    case 5: return "Currency";
    case 6: return "IEEESingle";
    case 7: return "IEEEDouble";
    case 8: return "DateTime";
    case 9: return "Binary";
    case 10: return "Text ( 255 )";
    case 11: return "LongBinary";
    case 12: return "Memo";
    case 15: return "Guid";
    case 16: return "BigInt";
    case 20: return "Decimal";
    default: return "Value";
  }
}

std::string tableText(const QueryTable& t) {
  if (!t.expression.empty()) return "(" + t.expression + ")" + (t.alias.empty() ? "" : " AS " + accessName(t.alias));
  std::string s = accessName(t.name);
  if (!t.alias.empty()) s += " AS " + accessName(t.alias);
  return s;
}

std::string columnText(const QueryColumn& c) {
  return c.alias.empty() ? c.expression : c.expression + " AS " + accessName(c.alias);
}

}  // namespace

std::string accessFromClause(const QueryDefinition& q) {
  struct Group {
    std::string text;
    std::vector<std::string> names;  // the names and aliases the group holds
    bool joined = false;
  };
  std::vector<Group> groups;
  for (const QueryTable& t : q.tables) {
    Group g;
    g.text = tableText(t);
    g.names.push_back(t.alias.empty() ? t.name : t.alias);
    groups.push_back(std::move(g));
  }
  auto find = [&](const std::string& name) -> int {
    for (size_t i = 0; i < groups.size(); ++i)
      for (const std::string& n : groups[i].names)
        if (sameName(n, name)) return static_cast<int>(i);
    return -1;
  };
  // Joins between the same two sides and of the same kind are one join with every condition.
  struct Join {
    QueryJoin join;
    std::vector<std::string> conditions;
  };
  std::vector<Join> joins;
  for (const QueryJoin& j : q.joins) {
    auto same = std::find_if(joins.begin(), joins.end(), [&](const Join& o) {
      return o.join.kind == j.kind && sameName(o.join.left, j.left) && sameName(o.join.right, j.right);
    });
    if (same != joins.end()) {
      same->conditions.push_back(j.condition);
    } else {
      joins.push_back({j, {j.condition}});
    }
  }
  for (const Join& j : joins) {
    const int l = find(j.join.left), r = find(j.join.right);
    if (l < 0 || r < 0 || l == r) continue;
    std::string on;
    if (j.conditions.size() == 1) {
      on = j.conditions[0];
    } else {
      for (size_t i = 0; i < j.conditions.size(); ++i) on += (i ? " AND (" : "(") + j.conditions[i] + ")";
    }
    const char* kind = j.join.kind == 2 ? " LEFT JOIN " : j.join.kind == 3 ? " RIGHT JOIN " : " INNER JOIN ";
    Group& left = groups[static_cast<size_t>(l)];
    Group& right = groups[static_cast<size_t>(r)];
    std::string lt = left.joined ? "(" + left.text + ")" : left.text;
    std::string rt = right.joined ? "(" + right.text + ")" : right.text;
    left.text = lt + kind + rt + " ON " + on;
    left.joined = true;
    left.names.insert(left.names.end(), right.names.begin(), right.names.end());
    groups.erase(groups.begin() + r);
  }
  std::string out;
  for (const Group& g : groups) out += (out.empty() ? "" : ", ") + g.text;
  return out;
}

namespace {

std::string joinColumns(const std::vector<QueryColumn>& columns, bool withAliases) {
  std::string out;
  for (const QueryColumn& c : columns) out += (out.empty() ? "" : ", ") + (withAliases ? columnText(c) : c.expression);
  return out;
}

// SELECT's options and columns: "DISTINCT TOP 5 a, b AS c".
std::string selectList(const QueryDefinition& q, const std::vector<QueryColumn>& columns) {
  std::string s;
  if (q.options & kQueryDistinct) s += "DISTINCT ";
  if (q.options & kQueryDistinctRow) s += "DISTINCTROW ";
  if ((q.options & kQueryTop) && !q.top.empty()) {
    s += "TOP " + q.top + " ";
    if (q.options & kQueryPercent) s += "PERCENT ";
  }
  std::string list = joinColumns(columns, true);
  if ((q.options & kQueryAllFields) || list.empty()) list = list.empty() ? "*" : "*, " + list;
  return s + list;
}

// FROM, WHERE, GROUP BY, HAVING and ORDER BY, each on its own line.
std::string clauses(const QueryDefinition& q, const std::vector<QueryColumn>& groupBy, bool withOrder = true) {
  std::string s;
  std::string from = accessFromClause(q);
  if (!from.empty()) s += "\nFROM " + from;
  if (!q.database.empty()) s += " IN '" + q.database + "'";
  if (!q.where.empty()) s += "\nWHERE " + q.where;
  if (!groupBy.empty()) s += "\nGROUP BY " + joinColumns(groupBy, false);
  if (!q.having.empty()) s += "\nHAVING " + q.having;
  if (withOrder && !q.orderBy.empty()) {
    s += "\nORDER BY ";
    for (size_t i = 0; i < q.orderBy.size(); ++i)
      s += (i ? ", " : "") + q.orderBy[i].expression + (q.orderBy[i].descending ? " DESC" : "");
  }
  return s;
}

std::string parametersClause(const QueryDefinition& q) {
  if (q.parameters.empty()) return "";
  std::string s = "PARAMETERS ";
  for (size_t i = 0; i < q.parameters.size(); ++i)
    s += (i ? ", " : "") + accessName(q.parameters[i].name) + " " + q.parameters[i].typeName;
  return s + ";\n";
}

}  // namespace

const char* queryTypeName(QueryType type) {
  switch (type) {
    case QueryType::Select: return "select";
    case QueryType::Union: return "union";
    case QueryType::Crosstab: return "crosstab";
    case QueryType::Append: return "append";
    case QueryType::Update: return "update";
    case QueryType::Delete: return "delete";
    case QueryType::MakeTable: return "make-table";
    case QueryType::DataDefinition: return "data definition";
    case QueryType::PassThrough: return "pass-through";
  }
  return "select";
}

std::string accessName(const std::string& name) {
  bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
  for (char c : name) plain = plain && (std::isalnum(static_cast<unsigned char>(c)) || c == '_');
  return plain ? name : "[" + name + "]";
}

namespace {

// Texts as SQL view shows them: line breaks as LF, without the zero some rows end with.
void tidy(std::string& s) {
  while (!s.empty() && s.back() == '\0') s.pop_back();
  std::string out;
  for (size_t i = 0; i < s.size(); ++i)
    if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out.push_back(s[i]);
  s = std::move(out);
}

}  // namespace

QueryDefinition readQueryDefinition(std::vector<QueryRow> rows) {
  for (QueryRow& r : rows) {
    tidy(r.expression);
    tidy(r.name1);
    tidy(r.name2);
  }
  std::stable_sort(rows.begin(), rows.end(), [](const QueryRow& a, const QueryRow& b) {
    return a.attribute != b.attribute ? a.attribute < b.attribute : a.order < b.order;
  });
  QueryDefinition q;
  bool typed = false;
  for (QueryRow& r : rows) {
    switch (r.attribute) {
      case kType:
        q.type = typeOf(r.flag);
        typed = true;
        q.target = r.name1;
        q.statement = r.expression;
        break;
      case kParameter:
        q.parameters.push_back({r.name1, parameterTypeName(r.flag), r.flag});
        break;
      case kOptions:
        q.options = std::max(r.flag, 0);
        q.top = r.name1;
        break;
      case kDatabase: q.database = r.name1; break;
      case kTable: q.tables.push_back({r.name1, r.name2, r.expression}); break;
      case kColumn: q.columns.push_back({r.expression, r.name1, r.name2, std::max(r.flag, 0)}); break;
      case kJoin: q.joins.push_back({r.name1, r.name2, r.expression, r.flag}); break;
      case kWhere: q.where = r.expression; break;
      case kGroupBy: q.groupBy.push_back({r.expression, "", "", std::max(r.flag, 0)}); break;
      case kHaving: q.having = r.expression; break;
      case kOrderBy: q.orderBy.push_back({r.expression, sameName(r.name1, "D")}); break;
      default: break;  // kStart, kEnd and rows of kinds the engine does not use
    }
  }
  if (!typed) throw Error(err::kCorrupt, "A saved query has no type row.");
  return q;
}

std::string accessSql(const QueryDefinition& q) {
  std::string s = parametersClause(q);
  switch (q.type) {
    case QueryType::DataDefinition:
    case QueryType::PassThrough: {
      // Stored as written.
      std::string t = q.statement;
      while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
      return t;
    }
    case QueryType::Union: {
      std::string body;
      const char* op = (q.options & kQueryDistinct) ? "\nUNION\n" : "\nUNION ALL\n";
      for (size_t i = 0; i < q.tables.size(); ++i) {
        std::string part = q.tables[i].expression;
        while (!part.empty() && std::isspace(static_cast<unsigned char>(part.back()))) part.pop_back();
        body += (i ? op : "") + part;
      }
      if (!q.orderBy.empty()) {
        body += "\nORDER BY ";
        for (size_t i = 0; i < q.orderBy.size(); ++i)
          body += (i ? ", " : "") + q.orderBy[i].expression + (q.orderBy[i].descending ? " DESC" : "");
      }
      return s + body + ";";
    }
    case QueryType::Select:
      s += "SELECT " + selectList(q, q.columns) + clauses(q, q.groupBy);
      break;
    case QueryType::MakeTable:
      s += "SELECT " + selectList(q, q.columns) + " INTO " + accessName(q.target) + clauses(q, q.groupBy);
      break;
    case QueryType::Append: {
      std::string targets;
      std::vector<QueryColumn> values;
      for (const QueryColumn& c : q.columns) {
        if (c.target.empty()) continue;
        targets += (targets.empty() ? "" : ", ") + c.target;
        values.push_back({c.expression, "", "", 0});
      }
      s += "INSERT INTO " + accessName(q.target);
      if (!targets.empty()) s += " ( " + targets + " )";
      QueryDefinition plain = q;
      plain.options &= ~kQueryAllFields;
      s += "\nSELECT " + selectList(plain, values) + clauses(q, q.groupBy);
      break;
    }
    case QueryType::Update: {
      std::string from = accessFromClause(q);
      s += "UPDATE " + from + "\nSET ";
      for (size_t i = 0; i < q.columns.size(); ++i)
        s += (i ? ", " : "") + q.columns[i].target + " = " + q.columns[i].expression;
      if (!q.where.empty()) s += "\nWHERE " + q.where;
      break;
    }
    case QueryType::Delete: {
      std::string list = joinColumns(q.columns, false);
      s += "DELETE " + std::string((q.options & kQueryDistinctRow) ? "DISTINCTROW " : "") + (list.empty() ? "*" : list) +
           clauses(q, {}, false);
      break;
    }
    case QueryType::Crosstab: {
      std::vector<QueryColumn> rowHeadings, groups;
      std::string value, pivot;
      for (const QueryColumn& c : q.columns) {
        if (c.flag == 0 && value.empty()) value = columnText(c);
        else if (c.flag == 1) pivot = c.expression;
        else if (c.flag == 2) rowHeadings.push_back(c);
      }
      for (const QueryColumn& g : q.groupBy)
        if (g.flag != 1) groups.push_back(g);
      QueryDefinition plain = q;
      plain.options &= ~kQueryAllFields;
      s += "TRANSFORM " + value + "\nSELECT " + selectList(plain, rowHeadings) + clauses(q, groups) + "\nPIVOT " + pivot;
      if (!q.columnHeadings.empty()) s += " In (" + q.columnHeadings + ")";
      break;
    }
  }
  if (q.options & kQueryOwnerAccess) s += "\nWITH OWNERACCESS OPTION";
  return s + ";";
}

}  // namespace jet
