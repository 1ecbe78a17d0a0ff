// Connections, transactions and escape sequences.
#include "odbc/connect.h"

#include <odbcinst.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "jet/base/error.h"
#include "odbc/text.h"
#include "sql/connection.h"

namespace odbc {

namespace {

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

std::string fromDsn(const std::string& dsn, const char* key) {
  char buf[4096] = {0};
  const int n = SQLGetPrivateProfileString(dsn.c_str(), key, "", buf, sizeof buf, "odbc.ini");
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

bool truthy(const std::string& v) {
  const std::string u = upper(trim(v));
  return u == "1" || u == "Y" || u == "YES" || u == "TRUE" || u == "ON";
}

void closeCursors(Dbc& dbc) {
  for (Stmt* s : dbc.statements) s->closeCursor();
}

}  // namespace

std::map<std::string, std::string> parseConnectionString(const std::string& text) {
  std::map<std::string, std::string> out;
  size_t i = 0;
  while (i < text.size()) {
    const size_t eq = text.find('=', i);
    if (eq == std::string::npos) break;
    const std::string key = upper(trim(text.substr(i, eq - i)));
    size_t j = eq + 1;
    while (j < text.size() && text[j] == ' ') ++j;
    std::string value;
    if (j < text.size() && text[j] == '{') {
      // Braced: up to the closing brace; a doubled one stands for itself.
      for (++j; j < text.size(); ++j) {
        if (text[j] == '}') {
          if (j + 1 < text.size() && text[j + 1] == '}') {
            value.push_back('}');
            ++j;
            continue;
          }
          ++j;
          break;
        }
        value.push_back(text[j]);
      }
      const size_t semi = text.find(';', j);
      i = semi == std::string::npos ? text.size() : semi + 1;
    } else {
      const size_t semi = text.find(';', j);
      value = trim(text.substr(j, semi == std::string::npos ? std::string::npos : semi - j));
      i = semi == std::string::npos ? text.size() : semi + 1;
    }
    if (!key.empty() && !out.count(key)) out[key] = value;
  }
  return out;
}

void connect(Dbc& dbc, std::map<std::string, std::string> a) {
  if (dbc.conn) throw Failure("08002", "Connection name in use");
  if (a.count("DSN") && !a["DSN"].empty()) {
    dbc.dsn = a["DSN"];
    for (const char* key : {"DBQ", "DATABASE", "PWD", "READONLY", "BUSYTIMEOUT"})
      if (!a.count(key)) {
        const std::string v = fromDsn(dbc.dsn, key);
        if (!v.empty()) a[key] = v;
      }
  }
  std::string path = a.count("DBQ") ? a["DBQ"] : a.count("DATABASE") ? a["DATABASE"] : "";
  if (path.empty())
    throw Failure("08001", dbc.dsn.empty() ? "No database file: the connection string needs DBQ=path"
                                           : "The data source '" + dbc.dsn + "' names no database file (DBQ)");
  sql::Options options;
  options.readOnly = a.count("READONLY") && truthy(a["READONLY"]);
  if (a.count("BUSYTIMEOUT")) {
    // Seconds a write waits for its turn beside other programs (the command line's --busy-timeout).
    char* end = nullptr;
    const long seconds = std::strtol(a["BUSYTIMEOUT"].c_str(), &end, 10);
    if (a["BUSYTIMEOUT"].empty() || *end || seconds < 0)
      throw Failure("HY024", "Invalid attribute value: BUSYTIMEOUT must be a whole number of seconds");
    options.busyTimeoutMs = static_cast<int>(std::min(seconds, 86400L)) * 1000;
  }
  if (a.count("PWD")) options.password = a["PWD"];
  else if (a.count("PASSWORD")) options.password = a["PASSWORD"];
  try {
    dbc.conn = sql::Connection::open(path, options);
  } catch (const jet::Error& e) {
    const bool password = e.number() == jet::err::kInvalidPassword;
    throw Failure(password ? "28000" : "08001", e.what(), e.number());
  } catch (const std::exception& e) {
    throw Failure("08001", e.what());
  }
  dbc.path = path;
  dbc.readOnly = options.readOnly;
  dbc.autocommit = true;
  dbc.diag.clear();
  (void)a;
}

std::string connectionString(const Dbc& dbc) {
  std::string s = dbc.dsn.empty() ? "DRIVER={Tabulonix};" : "DSN=" + dbc.dsn + ";";
  s += "DBQ=" + dbc.path + ";";
  if (dbc.readOnly) s += "READONLY=1;";
  return s;
}

void disconnect(Dbc& dbc) {
  for (Stmt* s : dbc.statements) s->reset();
  if (dbc.conn && dbc.conn->inTransaction()) dbc.conn->rollback();
  dbc.conn.reset();
  dbc.path.clear();
  dbc.dsn.clear();
}

void endTransaction(Dbc& dbc, SQLSMALLINT completion) {
  if (!dbc.conn) throw Failure("08003", "Connection not open");
  if (completion != SQL_COMMIT && completion != SQL_ROLLBACK) throw Failure("HY012", "Invalid transaction operation code");
  if (!dbc.conn->inTransaction()) return;
  closeCursors(dbc);
  if (completion == SQL_COMMIT) dbc.conn->commit();
  else dbc.conn->rollback();
}

void setAutocommit(Dbc& dbc, bool on) {
  if (on && !dbc.autocommit && dbc.conn && dbc.conn->inTransaction()) {
    closeCursors(dbc);
    dbc.conn->commit();
  }
  dbc.autocommit = on;
}

std::string nativeSql(const std::string& t) {
  if (t.find('{') == std::string::npos) return t;
  std::string out;
  out.reserve(t.size());
  std::vector<bool> open;  // for each open brace: whether its closing brace is dropped
  size_t i = 0;
  while (i < t.size()) {
    const char c = t[i];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      size_t j = i + 1;
      while (j < t.size()) {
        if (t[j] == close) {
          if (close != ']' && j + 1 < t.size() && t[j + 1] == close) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      out.append(t, i, std::min(j + 1, t.size()) - i);
      i = j + 1;
      continue;
    }
    if (c == '{') {
      size_t j = i + 1;
      while (j < t.size() && t[j] == ' ') ++j;
      size_t k = j;
      while (k < t.size() && (std::isalpha(static_cast<unsigned char>(t[k])))) ++k;
      const std::string word = upper(t.substr(j, k - j));
      if (word == "D" || word == "T" || word == "TS") {
        size_t q = t.find('\'', k);
        size_t q2 = q == std::string::npos ? q : t.find('\'', q + 1);
        size_t end = q2 == std::string::npos ? q2 : t.find('}', q2);
        if (end != std::string::npos) {
          std::string lit = t.substr(q + 1, q2 - q - 1);
          if (word == "D") lit += " 00:00:00";
          if (word == "T") lit = "1899-12-30 " + lit;
          out += "'" + lit + "'";
          i = end + 1;
          continue;
        }
      } else if (word == "FN" || word == "OJ" || word == "CALL") {
        open.push_back(true);
        i = k;
        while (i < t.size() && t[i] == ' ') ++i;
        continue;
      } else if (word == "ESCAPE") {
        open.push_back(true);
        out += "ESCAPE";
        i = k;
        continue;
      }
      open.push_back(false);
      out.push_back(c);
      ++i;
      continue;
    }
    if (c == '}' && !open.empty()) {
      const bool drop = open.back();
      open.pop_back();
      if (!drop) out.push_back(c);
      ++i;
      continue;
    }
    out.push_back(c);
    ++i;
  }
  return out;
}

}  // namespace odbc
