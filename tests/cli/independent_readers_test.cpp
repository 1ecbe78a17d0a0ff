// Every user table of every test database, as the tool exports it (JSON lines), compared value by
// value with two independent readers: mdbtools (mdb-json, mdb-tables) and mdb-reader (under
// node). A test skips only when its reader is not installed (`make test` installs both).
//
// Where a reader is demonstrably wrong, the comparison makes room for exactly that fault:
// - Table lists: both readers list the catalog's rows in stored order; the object model lists
//   tables by name, as DAO's TableDefs collection does. The names are compared as sets.
// - Moved rows (overflowTestV2000, Table1): a row that outgrew its page leaves a pointer in its
//   slot and its body lands in a free slot elsewhere. A row's address never changes (the indexes
//   point at the original slot), so the stored order follows the original slots, which is what
//   the engine reads. Both readers skip the pointers and pick the bodies up where they lie, so
//   they list those rows later. That table is compared as a sorted set of rows, and so is the
//   table of each file the tool wrote (its updates move rows), sorted by its auto-number.
// - A column of a type the engine does not know is read as its raw bytes; neither reader reads it:
//   mdbtools leaves such values out (or, for a complex column, gives the number it stores), mdb-reader
//   refuses the whole table. Those columns are compared with neither, and such a table is compared
//   with mdbtools only.
// mdbtools only:
// - Dates before 1900 come out wrong (its conversion goes through the C library's calendar
//   functions); they are compared with mdb-reader only. It prints no fractions of a second, so
//   dates are compared to the second.
// - Doubles are printed with 15 to 16 significant digits, which do not always read back to the
//   same bits: compared to within that precision (mdb-reader exactly).
// - mdb-json leaves out the key of an empty text exactly as of a Null: the two are one value here.
// - GUIDs and binary values come out as base64 ({"$binary": ...}), a GUID as the base64 of its
//   braced text; both are decoded before comparing. Its GUID text lacks the hyphen before the
//   last group ("{8E39276A-BCA8-4AC4-891E49911D8438DD}", mdb-export too): GUIDs are compared
//   without hyphens.
// - Jet 3 code-page bytes the code page leaves undefined (0x81 in cp1252, ...) come out as '?':
//   the engine keeps them as the C1 control of the same value so that they survive a rewrite.
// - Binary values are cut at their first zero byte: what it prints must be ours up to a zero byte
//   (nothing at all when the value begins with one).
// - Memos longer than its bind buffer are cut (the 1,000,000-character memo of longValuesV2000
//   arrives with 174,999 characters): its text must be a prefix of ours, at least 100,000 long.
// mdb-reader only:
// - It reads those undefined Jet 3 bytes as U+FFFD, losing them.
// - It reads a date before 1899-12-30 that has a time of day as a plain count of days, so -1.1
//   becomes 1899-12-28 21:36. A stored date is whole days plus a time of day counted forwards
//   from that day's midnight whatever the sign (-1.1 is 1899-12-29 02:24, as Access shows it):
//   such a date must equal ours read that linear way.
// - It is slow on the 200,000-row table (about ten times slower than the engine); its first
//   25,000 rows are compared. mdbtools compares all of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "cli/commands.h"
#include "cli/format.h"
#include "cli/support/reader_rows.h"
#include "cli/support/written_files.h"
#include "jet/base/value.h"
#include "jet/base/value_text.h"
#include "jet/database.h"
#include "jet/support/test_files.h"
#include "support/files.h"

namespace fs = std::filesystem;
using cli::JsonScalar;
using jet::ColumnType;

namespace {

constexpr size_t kMdbReaderRowLimit = 25000;

using Row = clitest::ReaderRow;

struct OurTable {
  jet::TableInfo info;
  std::vector<Row> rows;
};

struct OurFile {
  std::string path;
  std::vector<OurTable> tables;
};

// Standard output of a shell command, and its exit status.
std::string capture(const std::string& command, int* status) {
  const testsupport::Run r = testsupport::run(command);
  *status = r.status;
  return r.out;
}

bool heavy(const std::string& path) { return path.find("big200k") != std::string::npos; }

// The test files, in name order, and the 200,000-row file except in sanitizer builds; then the
// .accdb files of every version the tool wrote.
std::vector<std::string> databaseFiles() {
  std::vector<std::string> files;
  for (const std::string& name : jettest::allTestFiles()) files.push_back(jettest::testdata(name));
#if !defined(TABULONIX_SANITIZED)
  const fs::path big = jettest::testdata("generated/big200kV2000.mdb");
  if (fs::exists(big)) files.push_back(big.string());
#endif
  std::sort(files.begin(), files.end());
  for (const std::string& written : clitest::writtenAccdbFiles()) files.push_back(written);
  return files;
}

// The tool's export of every user table, made once for both tests.
const std::vector<OurFile>& ourExports() {
  static std::unique_ptr<std::vector<OurFile>> cache;
  if (cache) return *cache;
  cache = std::make_unique<std::vector<OurFile>>();
  for (const std::string& path : databaseFiles()) {
    OurFile file{path, {}};
    const std::string password = jettest::passwordOf(path);
    auto db = jet::Database::open(path, {true, password});
    for (const jet::CatalogObject& o : db->objects()) {
      if (o.kind != jet::ObjectKind::Table || (o.flags & 0x80000002u)) continue;
      OurTable t{db->table(o.name), {}};
      std::istringstream in;
      std::ostringstream out, err;
      std::vector<std::string> args = {"export", path, o.name, "--format", "jsonl"};
      if (!password.empty()) args.insert(args.end(), {"--password", password});
      int rc = cli::run(args, in, out, err);
      EXPECT_EQ(rc, 0) << path << " " << o.name << ": " << err.str();
      for (const std::string& line : testsupport::lines(out.str())) t.rows.push_back(clitest::parseReaderRow(line));
      EXPECT_EQ(t.rows.size(), t.info.rowCount) << path << " " << o.name;
      file.tables.push_back(std::move(t));
    }
    cache->push_back(std::move(file));
  }
  return *cache;
}

enum class Reader { Mdbtools, MdbReader };

const char* readerName(Reader r) { return r == Reader::Mdbtools ? "mdbtools" : "mdb-reader"; }

bool isBase64(const JsonScalar& s) { return s.kind == JsonScalar::String && s.text.rfind("b64:", 0) == 0; }

// A decimal number's text without sign noise and insignificant zeros ("-0012.500" -> "-12.5").
std::string plainDecimal(std::string t) {
  bool negative = !t.empty() && t[0] == '-';
  if (negative || (!t.empty() && t[0] == '+')) t.erase(0, 1);
  if (t.find('.') != std::string::npos) {
    while (!t.empty() && t.back() == '0') t.pop_back();
    if (!t.empty() && t.back() == '.') t.pop_back();
  }
  size_t lead = 0;
  while (lead + 1 < t.size() && t[lead] == '0' && t[lead + 1] != '.') ++lead;
  t.erase(0, lead);
  if (t.empty() || t == "0") return "0";
  return negative ? "-" + t : t;
}

std::string upper(std::string t) {
  for (char& c : t) c = char(std::toupper(static_cast<unsigned char>(c)));
  return t;
}

// One value in a form both sides share when they read the same stored value.
std::string canonical(Reader reader, ColumnType type, const JsonScalar& s) {
  if (s.kind == JsonScalar::Null) return "null";
  switch (type) {
    case ColumnType::Boolean:
      if (s.kind == JsonScalar::Bool) return s.boolean ? "true" : "false";
      return s.text == "0" ? "false" : "true";
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Numeric:
      return plainDecimal(s.text);
    case ColumnType::Single: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.9g", double(std::strtof(s.text.c_str(), nullptr)));
      return buf;
    }
    case ColumnType::Double: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", std::strtod(s.text.c_str(), nullptr));
      return buf;
    }
    case ColumnType::DateTime: {
      std::string t = s.text;
      if (reader == Reader::Mdbtools && t.size() > 19) t.resize(19);
      if (t.size() == 23 && t.compare(19, 4, ".000") == 0) t.resize(19);
      return t;
    }
    case ColumnType::Guid: {
      std::string t = upper(s.text);
      if (isBase64(s)) {
        jet::Bytes b = clitest::fromBase64(s.text.substr(4));
        t = upper(std::string(b.begin(), b.end()));
      }
      if (!t.empty() && t[0] != '{') t = "{" + t + "}";
      if (reader == Reader::Mdbtools) t.erase(std::remove(t.begin(), t.end(), '-'), t.end());
      return t;
    }
    case ColumnType::Text:
    case ColumnType::Memo:
      if (reader == Reader::Mdbtools && s.text.empty()) return "null";
      return s.text;
    default:  // Binary, OLE object and unknown types: hex
      return isBase64(s) ? jet::hexText(clitest::fromBase64(s.text.substr(4)), false) : s.text;
  }
}

// Decodes UTF-8 into code points (the texts here are valid UTF-8).
std::u32string codePoints(const std::string& s) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    auto b = uint8_t(s[i]);
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    char32_t c = extra ? char32_t(b & (0x3F >> extra)) : b;
    for (int k = 1; k <= extra && i + size_t(k) < s.size(); ++k) c = (c << 6) | (uint8_t(s[i + size_t(k)]) & 0x3F);
    out.push_back(c);
    i += size_t(extra) + 1;
  }
  return out;
}

// The reader's stand-in (mdbtools '?', mdb-reader U+FFFD) for a code-page byte the code page
// leaves undefined, which the engine reads as a C1 control (or, rarely, a private-use character).
bool sameExceptUndefinedBytes(const std::string& ours, const std::string& theirs, char32_t standIn) {
  std::u32string a = codePoints(ours), b = codePoints(theirs);
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    bool undefinedByte = (a[i] >= 0x80 && a[i] < 0xA0) || (a[i] >= 0xF780 && a[i] < 0xF800);
    if (!(undefinedByte && b[i] == standIn)) return false;
  }
  return true;
}

// The stored day count of a date in its JSON text.
double oleDays(const std::string& text) {
  std::string t = text;
  std::replace(t.begin(), t.end(), 'T', ' ');
  return std::get<jet::DateTime>(jet::fromText(ColumnType::DateTime, t)).days;
}

// mdb-reader's reading of a stored day count before day zero: the plain number of days.
bool sameAsLinearDate(const std::string& ours, const std::string& theirs) {
  const double stored = oleDays(ours);
  if (stored >= 0) return false;
  jet::OleParts p = jet::splitOleDate(oleDays(theirs));
  const double linear = double(p.dayNumber) + double(p.msOfDay) / 86400000.0;
  return std::fabs(linear - stored) < 0.5 / 86400000.0;
}

// True when the reader's value is ours, allowing for the reader's known faults listed above.
bool sameValue(Reader reader, ColumnType type, const JsonScalar& ours, const JsonScalar& theirs) {
  if (reader == Reader::Mdbtools) {
    if (type == ColumnType::DateTime && ours.kind == JsonScalar::String && ours.text < "1900") return true;
    if (type == ColumnType::Double && ours.kind == JsonScalar::Number && theirs.kind == JsonScalar::Number) {
      double x = std::strtod(ours.text.c_str(), nullptr), y = std::strtod(theirs.text.c_str(), nullptr);
      return x == y || std::fabs(x - y) <= 1e-15 * std::max(std::fabs(x), std::fabs(y));
    }
    if (type == ColumnType::Binary && ours.kind == JsonScalar::String &&
        (theirs.kind == JsonScalar::String || theirs.kind == JsonScalar::Null)) {
      // Cut at the very first byte, the value is left out like a Null.
      const std::string a = canonical(reader, type, ours);
      const std::string b = theirs.kind == JsonScalar::Null ? "" : canonical(reader, type, theirs);
      if (b.size() < a.size() && b.size() % 2 == 0 && a.compare(0, b.size(), b) == 0 && a.compare(b.size(), 2, "00") == 0)
        return true;
    }
    if ((type == ColumnType::Text || type == ColumnType::Memo) && theirs.kind == JsonScalar::String &&
        ours.kind == JsonScalar::String) {
      if (type == ColumnType::Memo && theirs.text.size() >= 100000 && theirs.text.size() < ours.text.size())
        return ours.text.compare(0, theirs.text.size(), theirs.text) == 0;
      if (theirs.text.find('?') != std::string::npos) return sameExceptUndefinedBytes(ours.text, theirs.text, U'?');
    }
  } else if ((type == ColumnType::Text || type == ColumnType::Memo) && ours.kind == JsonScalar::String &&
             theirs.kind == JsonScalar::String && theirs.text.find("\xEF\xBF\xBD") != std::string::npos) {
    return sameExceptUndefinedBytes(ours.text, theirs.text, U'\uFFFD');
  } else if (type == ColumnType::DateTime && ours.kind == JsonScalar::String && theirs.kind == JsonScalar::String &&
             ours.text < "1899-12-30" && ours.text != theirs.text) {
    return sameAsLinearDate(ours.text, theirs.text);
  }
  return canonical(reader, type, ours) == canonical(reader, type, theirs);
}

// The reader's rows of one table as JSON lines.
struct TheirTable {
  std::string name;
  std::vector<std::string> lines;
  std::string failure;
};

// Tables whose rows both readers list in an order of their own (see above).
bool comparedAsSet(const std::string& path, const std::string& table) {
  if (fs::path(path).extension() == ".accdb" && fs::path(path).filename().string().rfind("written", 0) == 0) return true;
  return fs::path(path).filename() == "overflowTestV2000.mdb" && table == "Table1";
}

struct Tally {
  size_t values = 0;
  size_t tables = 0;
};

void compareTable(Reader reader, const std::string& path, const OurTable& ours, const TheirTable& theirs, Tally& tally) {
  const std::string where = std::string(readerName(reader)) + ": " + fs::path(path).filename().string() + " table " + ours.info.name;
  // Complex columns are left out: mdbtools gives their keys, not their values.
  auto leftOut = [](const jet::ColumnInfo& c) { return c.rawType != 0 || c.type == jet::ColumnType::Complex; };
  const bool unknownTypes = std::any_of(ours.info.columns.begin(), ours.info.columns.end(), leftOut);
  if (reader == Reader::MdbReader && unknownTypes && !theirs.failure.empty()) return;
  ASSERT_TRUE(theirs.failure.empty()) << where << ": " << theirs.failure;
  size_t expectedRows = ours.rows.size();
  if (reader == Reader::MdbReader) expectedRows = std::min(expectedRows, kMdbReaderRowLimit);
  ASSERT_EQ(theirs.lines.size(), expectedRows) << where << ": row count";
  std::vector<Row> theirRows;
  for (const std::string& line : theirs.lines)
    theirRows.push_back(clitest::parseReaderRow(line));
  std::vector<Row> ourRows(ours.rows.begin(), ours.rows.begin() + std::ptrdiff_t(expectedRows));
  if (comparedAsSet(path, ours.info.name)) {
    // By the auto-number where there is one (the one column no reader fault touches).
    std::vector<jet::ColumnInfo> keyColumns;
    for (const jet::ColumnInfo& c : ours.info.columns)
      if (c.autoNumber) keyColumns.push_back(c);
    if (keyColumns.empty()) keyColumns = ours.info.columns;
    auto key = [&](const Row& r) {
      std::string k;
      for (const jet::ColumnInfo& c : keyColumns) {
        auto it = r.find(c.name);
        k += canonical(reader, c.type, it == r.end() ? JsonScalar{} : it->second) + "\x1F";
      }
      return k;
    };
    auto byKey = [&](const Row& a, const Row& b) { return key(a) < key(b); };
    std::sort(ourRows.begin(), ourRows.end(), byKey);
    std::sort(theirRows.begin(), theirRows.end(), byKey);
  }
  ++tally.tables;
  int reported = 0;
  for (size_t r = 0; r < ourRows.size(); ++r) {
    for (const jet::ColumnInfo& c : ours.info.columns) {
      if (leftOut(c)) continue;
      auto mine = ourRows[r].find(c.name);
      auto other = theirRows[r].find(c.name);  // mdb-json leaves Nulls out
      const JsonScalar a = mine == ourRows[r].end() ? JsonScalar{} : mine->second;
      const JsonScalar b = other == theirRows[r].end() ? JsonScalar{} : other->second;
      ++tally.values;
      if (!sameValue(reader, c.type, a, b) && reported++ < 5)
        ADD_FAILURE() << where << " row " << r << " column " << c.name << ":\n  ours   " << canonical(reader, c.type, a).substr(0, 200)
                      << "\n  theirs " << canonical(reader, c.type, b).substr(0, 200);
    }
  }
}

std::vector<std::string> ourNames(const OurFile& f) {
  std::vector<std::string> names;
  for (const OurTable& t : f.tables) names.push_back(t.info.name);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(IndependentReaders, MdbtoolsReadsEveryValueAsWeDo) {
  if (!testsupport::haveProgram("mdb-json") || !testsupport::haveProgram("mdb-tables")) GTEST_SKIP() << "mdbtools is not installed";
  Tally tally;
  for (const OurFile& f : ourExports()) {
    int status = 0;
    std::vector<std::string> names = testsupport::lines(capture("mdb-tables -1 " + testsupport::quote(f.path), &status));
    ASSERT_EQ(status, 0) << f.path;
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, ourNames(f)) << f.path;
    for (const OurTable& t : f.tables) {
      TheirTable theirs{t.info.name, {}, {}};
      const std::string format = "'%Y-%m-%dT%H:%M:%S'";
      theirs.lines = testsupport::lines(capture("mdb-json -D " + format + " -T " + format + " " + testsupport::quote(f.path) + " " +
                                            testsupport::quote(t.info.name) + " 2>/dev/null",
                                        &status));
      if (status != 0) theirs.failure = "mdb-json failed";
      compareTable(Reader::Mdbtools, f.path, t, theirs, tally);
    }
  }
  EXPECT_GE(tally.tables, 70u);
#if defined(TABULONIX_SANITIZED)
  EXPECT_GE(tally.values, 5000u);
#else
  EXPECT_GE(tally.values, 1000000u);  // the 200,000-row table alone has 1.6 million
#endif
}

TEST(IndependentReaders, MdbReaderReadsEveryValueAsWeDo) {
  const std::string modules = std::string(TABULONIX_SOURCE_DIR) + "/tools/oracle/node_modules";
  if (!fs::exists(modules + "/mdb-reader")) GTEST_SKIP() << "mdb-reader is not installed (make oracles)";
  if (!testsupport::haveProgram("node")) GTEST_SKIP() << "node is not installed";
  const auto& files = ourExports();
  std::string command = "TZ=UTC ROW_LIMIT=" + std::to_string(kMdbReaderRowLimit) + " MDB_READER_DIR=" + testsupport::quote(modules) +
                        " node " + testsupport::quote(std::string(TABULONIX_SOURCE_DIR) + "/tests/cli/support/mdb_reader_rows.cjs");
  for (const OurFile& f : files) command += " " + testsupport::quote(f.path);
  int status = 0;
  std::vector<std::string> lines = testsupport::lines(capture(command + " 2>&1", &status));
  ASSERT_EQ(status, 0) << (lines.empty() ? "" : lines.back());

  // FILE / TABLE / FAILED lines and rows, grouped.
  std::map<std::string, std::vector<TheirTable>> theirs;
  std::vector<TheirTable>* tables = nullptr;
  for (std::string& line : lines) {
    if (line.rfind("FILE\t", 0) == 0) {
      tables = &theirs[line.substr(5)];
    } else if (line.rfind("TABLE\t", 0) == 0) {
      ASSERT_NE(tables, nullptr);
      tables->push_back({line.substr(6), {}, {}});
    } else if (line.rfind("FAILED\t", 0) == 0) {
      ASSERT_TRUE(tables && !tables->empty());
      tables->back().failure = line.substr(7);
    } else {
      ASSERT_TRUE(tables && !tables->empty()) << line;
      tables->back().lines.push_back(std::move(line));
    }
  }
  Tally tally;
  for (const OurFile& f : files) {
    const std::vector<TheirTable>& list = theirs[f.path];
    std::vector<std::string> names;
    for (const TheirTable& t : list) names.push_back(t.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, ourNames(f)) << f.path;
    for (const OurTable& t : f.tables) {
      auto it = std::find_if(list.begin(), list.end(), [&](const TheirTable& x) { return x.name == t.info.name; });
      if (it != list.end()) compareTable(Reader::MdbReader, f.path, t, *it, tally);
    }
  }
  EXPECT_GE(tally.tables, 70u);
#if defined(TABULONIX_SANITIZED)
  EXPECT_GE(tally.values, 5000u);
#else
  EXPECT_GE(tally.values, 150000u);  // 25,000 rows of the 200,000-row table among them
#endif
}

}  // namespace
