// Every table of every test database, exported by the tool, compared value by value with two
// independent readers: mdbtools (mdb-json) and mdb-reader (through tools/oracle/export.mjs).
//
// Known faults of the readers, where their output is not compared:
// - mdbtools shows dates before 1900 wrongly (its calendar conversion goes through the C library's
//   time functions, which do not cover them), so those dates are compared with mdb-reader only.
// - mdbtools prints no fractions of a second, so dates are compared with it to the second
//   (mdb-reader compares the milliseconds).
// - mdbtools prints doubles with 16 significant digits, which do not always read back to the same
//   bits; doubles are compared with it at that precision (with mdb-reader exactly).
// - mdbtools' JSON leaves out a text that is empty exactly as it leaves out a Null, so the two are
//   one value when compared with it (mdb-reader tells them apart).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "cli/commands.h"
#include "cli/format.h"
#include "jet/database.h"
#include "jet/value_text.h"

namespace fs = std::filesystem;
using cli::JsonObject;
using cli::JsonScalar;

namespace {

std::string capture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[1 << 16];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q.push_back(c);
  }
  return q + "'";
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (!line.empty()) out.push_back(line);
  return out;
}

std::vector<std::string> databases() {
  std::vector<std::string> files;
  for (auto& e : fs::recursive_directory_iterator(TABULONIX_TESTDATA_DIR))
    if (e.path().extension() == ".mdb") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

std::string hexFromBase64(const std::string& b64) {
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  jet::Bytes bytes;
  uint32_t acc = 0;
  int bits = 0;
  for (char c : b64) {
    size_t v = kAlphabet.find(c);
    if (v == std::string::npos) continue;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<uint8_t>(acc >> bits));
    }
  }
  return jet::hexText(bytes, false);
}

// mdbtools writes binary values as {"$binary": "BASE64", "$type": "00"}: made a plain string
// "b64:BASE64" so that the line is an object of scalars.
std::string inlineBinary(const std::string& line) {
  static const std::string kOpen = "{\"$binary\": \"";
  std::string out;
  size_t at = 0;
  while (true) {
    size_t start = line.find(kOpen, at);
    if (start == std::string::npos) break;
    size_t dataEnd = line.find('"', start + kOpen.size());
    size_t close = dataEnd == std::string::npos ? std::string::npos : line.find('}', dataEnd);
    if (close == std::string::npos) break;
    out.append(line, at, start - at);
    out += "\"b64:" + line.substr(start + kOpen.size(), dataEnd - start - kOpen.size()) + "\"";
    at = close + 1;
  }
  out.append(line, at, std::string::npos);
  return out;
}

std::map<std::string, JsonScalar> toMap(const JsonObject& o) {
  std::map<std::string, JsonScalar> m;
  for (auto& [k, v] : o) m[k] = v;
  return m;
}

// One value in a form all three readers agree on when they read the same stored value.
std::string canonical(const jet::ColumnInfo& c, const JsonScalar& s, bool secondsOnly) {
  using T = jet::ColumnType;
  if (s.kind == JsonScalar::Null) return "null";
  switch (c.type) {
    case T::Boolean:
      if (s.kind == JsonScalar::Bool) return s.boolean ? "true" : "false";
      return s.text == "0" ? "false" : "true";
    case T::Single: {
      float f = static_cast<float>(std::strtod(s.text.c_str(), nullptr));
      return jet::toText(f);
    }
    case T::Double: {
      return jet::toText(std::strtod(s.text.c_str(), nullptr));
    }
    case T::Binary:
    case T::Ole:
      if (s.text.rfind("b64:", 0) == 0) return hexFromBase64(s.text.substr(4));
      return s.text;
    case T::DateTime: {
      std::string t = s.text;
      if (t.size() > 19 && secondsOnly) t.resize(19);
      if (t.size() == 23 && t.compare(19, 4, ".000") == 0) t.resize(19);
      return t;
    }
    case T::Guid: {
      std::string t = s.text;
      for (char& ch : t) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      if (!t.empty() && t[0] != '{') t = "{" + t + "}";
      return t;
    }
    case T::Text:
    case T::Memo:
      if (secondsOnly && s.text.empty()) return "null";  // mdbtools writes no key for an empty text
      return s.text;
    default:
      break;
  }
  if (s.text.rfind("b64:", 0) == 0) return hexFromBase64(s.text.substr(4));
  try {
    return jet::toText(cli::valueFromJson(c, s));
  } catch (const std::exception&) {
    return "unreadable:" + s.text;
  }
}

struct Table {
  jet::TableInfo info;
  std::vector<std::map<std::string, JsonScalar>> rows;
};

// The tool's own export of every user table of a file.
std::vector<Table> ourTables(const std::string& file) {
  std::vector<Table> tables;
  auto db = jet::Database::open(file, {true, ""});
  for (const jet::CatalogObject& o : db->objects()) {
    if (o.kind != jet::ObjectKind::Table || (o.flags & 0x80000002u)) continue;
    Table t;
    t.info = db->table(o.name);
    std::istringstream in;
    std::ostringstream out, err;
    int rc = cli::run({"export", file, o.name, "--format", "jsonl"}, in, out, err);
    EXPECT_EQ(rc, 0) << file << " " << o.name << ": " << err.str();
    for (const std::string& line : lines(out.str())) t.rows.push_back(toMap(cli::parseJsonObject(line)));
    tables.push_back(std::move(t));
  }
  return tables;
}

// Compares one reader's rows with ours; returns the differences found (at most a few per table).
void compare(const std::string& reader, const std::string& file, const Table& ours,
             const std::vector<std::string>& theirLines, bool isMdbtools, int& compared) {
  ASSERT_EQ(theirLines.size(), ours.rows.size()) << reader << " row count, " << file << " " << ours.info.name;
  int reported = 0;
  for (size_t r = 0; r < theirLines.size(); ++r) {
    std::string line = isMdbtools ? inlineBinary(theirLines[r]) : theirLines[r];
    auto theirs = toMap(cli::parseJsonObject(line));
    for (const jet::ColumnInfo& c : ours.info.columns) {
      auto mine = ours.rows[r].count(c.name) ? ours.rows[r].at(c.name) : JsonScalar{};
      auto other = theirs.count(c.name) ? theirs.at(c.name) : JsonScalar{};  // mdbtools leaves Nulls out
      if (isMdbtools && c.type == jet::ColumnType::DateTime && mine.kind == JsonScalar::String &&
          mine.text < "1900")
        continue;  // mdbtools' dates before 1900 are wrong
      if (isMdbtools && c.type == jet::ColumnType::Double && mine.kind == JsonScalar::Number &&
          other.kind == JsonScalar::Number) {
        double x = std::strtod(mine.text.c_str(), nullptr), y = std::strtod(other.text.c_str(), nullptr);
        if (std::fabs(x - y) <= 1e-15 * std::max(std::fabs(x), std::fabs(y))) continue;  // its 16 digits
      }
      std::string a = canonical(c, mine, isMdbtools), b = canonical(c, other, isMdbtools);
      ++compared;
      if (a != b && reported++ < 5)
        ADD_FAILURE() << reader << ": " << file << " table " << ours.info.name << " row " << r << " column "
                      << c.name << ": ours " << a << ", theirs " << b;
    }
  }
}

}  // namespace

TEST(IndependentReaders, EveryValueMatchesMdbtools) {
  if (capture("command -v mdb-json").empty()) GTEST_SKIP() << "mdbtools (mdb-json) is not installed";
  int compared = 0;
  for (const std::string& file : databases()) {
    std::vector<Table> tables = ourTables(file);
    std::vector<std::string> names;
    for (auto& t : tables) names.push_back(t.info.name);
    EXPECT_EQ(lines(capture("mdb-tables -1 " + quoted(file))), names) << file;
    for (const Table& t : tables)
      compare("mdbtools", file, t,
              lines(capture("mdb-json -T '%Y-%m-%dT%H:%M:%S' -D '%Y-%m-%dT%H:%M:%S' " + quoted(file) + " " +
                            quoted(t.info.name))),
              true, compared);
  }
  EXPECT_GT(compared, 100000);
}

TEST(IndependentReaders, EveryValueMatchesMdbReader) {
  const std::string script = std::string(TABULONIX_SOURCE_DIR) + "/tools/oracle/export.mjs";
  if (!fs::exists(std::string(TABULONIX_SOURCE_DIR) + "/tools/oracle/node_modules/mdb-reader"))
    GTEST_SKIP() << "mdb-reader is not installed: run `make oracles` (npm ci in tools/oracle)";
  if (capture("command -v node").empty()) GTEST_SKIP() << "node is not installed";
  int compared = 0;
  for (const std::string& file : databases()) {
    std::vector<Table> tables = ourTables(file);
    std::vector<std::string> names;
    for (auto& t : tables) names.push_back(t.info.name);
    std::vector<std::string> theirNames = lines(capture("node " + quoted(script) + " " + quoted(file)));
    EXPECT_EQ(theirNames, names) << file;
    for (const Table& t : tables)
      compare("mdb-reader", file, t,
              lines(capture("node " + quoted(script) + " " + quoted(file) + " " + quoted(t.info.name))), false,
              compared);
  }
  EXPECT_GT(compared, 100000);
}
