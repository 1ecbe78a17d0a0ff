// Comparing the tool's export with an independent reader's rows. Where a reader is demonstrably
// wrong, the comparison makes room for exactly that fault:
// - Table lists: both readers list the catalog's rows in stored order; the object model lists
//   tables by name, as DAO's TableDefs collection does. The names are compared as sets.
// - Moved rows (overflowTestV2000, Table1): a row that outgrew its page leaves a pointer in its
//   slot and its body lands in a free slot elsewhere. A row's address never changes (the indexes
//   point at the original slot), so the stored order follows the original slots, which is what
//   the engine reads. Both readers skip the pointers and pick the bodies up where they lie, so
//   they list those rows later. That table is compared as a set of rows, and so is every table of
//   a file the tool changed (its updates move rows): each of our rows pairs with an equal one.
// - A column of a type the engine does not know is read as its raw bytes; neither reader reads it:
//   mdbtools leaves such values out (or, for a complex column, gives the number it stores), mdb-reader
//   refuses the whole table. Those columns are compared with neither, and such a table is compared
//   with mdbtools only.
// mdbtools only:
// - Dates before 1900 come out wrong (its conversion goes through the C library's calendar
//   functions); they are compared with mdb-reader only. It prints no fractions of a second, so
//   dates are compared to the second.
// - Singles are printed to about 7 significant digits (-1005106.75 as -1005106.81): compared to
//   6 (mdb-reader exactly).
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
// - It ends a long value spread over several pages at a link that follows a deleted row on its
//   page (it takes that row's offset flags for part of the offset). Where rows were deleted
//   (random operations), long values are compared with it by their first 1,500 characters only;
//   mdbtools reads them whole.
// - It is slow on the 200,000-row table (about ten times slower than the engine); its first
//   25,000 rows are compared. mdbtools compares all of them.
#include "cli/support/reader_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "cli/support/in_process.h"
#include "jet/base/crypto.h"
#include "jet/base/text_codec.h"
#include "jet/base/value_text.h"
#include "jet/support/test_files.h"

namespace fs = std::filesystem;
using cli::JsonScalar;
using jet::ColumnType;

namespace clitest {

namespace {

using Row = ReaderRow;

// mdb-json writes binary values as {"$binary": "BASE64", "$type": "00"}; turned into the string
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

ReaderRow parseReaderRow(const std::string& line) {
  ReaderRow r;
  for (auto& [k, v] : cli::parseJsonObject(inlineBinary(line))) r[k] = v;
  return r;
}


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
        jet::Bytes b = jet::crypto::base64Decode(s.text.substr(4)).value_or(jet::Bytes{});
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
      return isBase64(s) ? jet::hexText(jet::crypto::base64Decode(s.text.substr(4)).value_or(jet::Bytes{}), false) : s.text;
  }
}

// The reader's stand-in (mdbtools '?', mdb-reader U+FFFD) for a code-page byte the code page
// leaves undefined, which the engine reads as a C1 control (or, rarely, a private-use character).
bool sameExceptUndefinedBytes(const std::string& ours, const std::string& theirs, char16_t standIn) {
  const std::u16string a = jet::utf8ToUtf16(ours), b = jet::utf8ToUtf16(theirs);
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
bool sameValue(Reader reader, ColumnType type, const JsonScalar& ours, const JsonScalar& theirs, bool longPrefix) {
  if (longPrefix && reader == Reader::MdbReader && (type == ColumnType::Memo || type == ColumnType::Ole) &&
      ours.text.size() > 1800 && theirs.kind == JsonScalar::String)
    return ours.text.compare(0, 1500, theirs.text, 0, 1500) == 0;
  if (reader == Reader::Mdbtools) {
    if (type == ColumnType::DateTime && ours.kind == JsonScalar::String && ours.text < "1900") return true;
    if (type == ColumnType::Single && ours.kind == JsonScalar::Number && theirs.kind == JsonScalar::Number) {
      char a[32], b[32];
      std::snprintf(a, sizeof a, "%.6g", std::strtod(ours.text.c_str(), nullptr));
      std::snprintf(b, sizeof b, "%.6g", std::strtod(theirs.text.c_str(), nullptr));
      return std::string(a) == b;
    }
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
      if (theirs.text.find('?') != std::string::npos) return sameExceptUndefinedBytes(ours.text, theirs.text, u'?');
    }
  } else if ((type == ColumnType::Text || type == ColumnType::Memo) && ours.kind == JsonScalar::String &&
             theirs.kind == JsonScalar::String && theirs.text.find("\xEF\xBF\xBD") != std::string::npos) {
    return sameExceptUndefinedBytes(ours.text, theirs.text, u'\uFFFD');
  } else if (type == ColumnType::DateTime && ours.kind == JsonScalar::String && theirs.kind == JsonScalar::String &&
             ours.text < "1899-12-30" && ours.text != theirs.text) {
    return sameAsLinearDate(ours.text, theirs.text);
  }
  return canonical(reader, type, ours) == canonical(reader, type, theirs);
}

// Tables whose rows both readers list in an order of their own (see above).
bool comparedAsSet(const std::string& path, const std::string& table) {
  return fs::path(path).filename() == "overflowTestV2000.mdb" && table == "Table1";
}

JsonScalar member(const Row& row, const std::string& name) {
  auto it = row.find(name);  // mdb-json leaves Nulls out
  return it == row.end() ? JsonScalar{} : it->second;
}

// Complex columns are left out: mdbtools gives their keys, not their values.
bool leftOut(const jet::ColumnInfo& c) { return c.rawType != 0 || c.type == jet::ColumnType::Complex; }

void compareTable(Reader reader, const std::string& path, const OurTable& ours, const TheirTable& theirs, Comparison& how) {
  const std::string where = std::string(readerName(reader)) + ": " + fs::path(path).filename().string() + " table " + ours.info.name;
  const bool unknownTypes = std::any_of(ours.info.columns.begin(), ours.info.columns.end(), leftOut);
  if (reader == Reader::MdbReader && unknownTypes && !theirs.failure.empty()) return;
  ASSERT_TRUE(theirs.failure.empty()) << where << ": " << theirs.failure;
  size_t expectedRows = ours.rows.size();
  if (reader == Reader::MdbReader && how.rowLimit) expectedRows = std::min(expectedRows, how.rowLimit);
  ASSERT_EQ(theirs.lines.size(), expectedRows) << where << ": row count";
  std::vector<Row> theirRows;
  for (const std::string& line : theirs.lines) theirRows.push_back(parseReaderRow(line));
  auto same = [&](const Row& a, const Row& b, const jet::ColumnInfo& c) {
    return sameValue(reader, c.type, member(a, c.name), member(b, c.name), how.longValuePrefixes);
  };
  // Each of our rows against the reader's row at its place, or, compared as a set, against the
  // first of the reader's rows not yet taken that equals it (the first one not taken if none does).
  std::vector<size_t> pair(expectedRows);
  for (size_t r = 0; r < expectedRows; ++r) pair[r] = r;
  if (how.anyOrder || comparedAsSet(path, ours.info.name)) {
    std::vector<bool> taken(expectedRows);
    for (size_t r = 0; r < expectedRows; ++r) {
      size_t k = 0;
      while (k < expectedRows && taken[k]) ++k;
      for (size_t j = k; j < expectedRows; ++j)
        if (!taken[j] && std::all_of(ours.info.columns.begin(), ours.info.columns.end(), [&](const jet::ColumnInfo& c) {
              return leftOut(c) || same(ours.rows[r], theirRows[j], c);
            })) {
          k = j;
          break;
        }
      if (k == expectedRows) break;
      pair[r] = k;
      taken[k] = true;
    }
  }
  ++how.tables;
  int reported = 0;
  for (size_t r = 0; r < expectedRows; ++r) {
    for (const jet::ColumnInfo& c : ours.info.columns) {
      if (leftOut(c)) continue;
      ++how.values;
      const Row& theirRow = theirRows[pair[r]];
      if (!same(ours.rows[r], theirRow, c) && reported++ < 5)
        ADD_FAILURE() << where << " row " << r << " column " << c.name << ":\n  ours   "
                      << canonical(reader, c.type, member(ours.rows[r], c.name)).substr(0, 200) << "\n  theirs "
                      << canonical(reader, c.type, member(theirRow, c.name)).substr(0, 200);
    }
  }
}

}  // namespace

OurFile exportFile(const std::string& path) {
  OurFile file{path, {}};
  const std::string password = jettest::passwordOf(path);
  auto db = jet::Database::open(path, {true, password});
  for (const jet::CatalogObject& o : db->objects()) {
    if (o.kind != jet::ObjectKind::Table || (o.flags & 0x80000002u)) continue;
    OurTable t{db->table(o.name), {}};
    std::vector<std::string> args = {"export", path, o.name, "--format", "jsonl"};
    if (!password.empty()) args.insert(args.end(), {"--password", password});
    const Result r = run(args);
    EXPECT_EQ(r.rc, 0) << path << " " << o.name << ": " << r.err;
    for (const std::string& line : lines(r.out)) t.rows.push_back(parseReaderRow(line));
    EXPECT_EQ(t.rows.size(), t.info.rowCount) << path << " " << o.name;
    file.tables.push_back(std::move(t));
  }
  return file;
}

std::optional<std::map<std::string, std::vector<TheirTable>>> readTables(Reader reader, const std::vector<std::string>& paths,
                                                                         size_t rowLimit) {
  using testsupport::quote;
  std::map<std::string, std::vector<TheirTable>> out;
  if (reader == Reader::Mdbtools) {
    if (!testsupport::haveProgram("mdb-json") || !testsupport::haveProgram("mdb-tables")) return std::nullopt;
    const std::string format = "'%Y-%m-%dT%H:%M:%S'";
    for (const std::string& path : paths) {
      const testsupport::Run names = testsupport::run("mdb-tables -1 " + quote(path));
      EXPECT_EQ(names.status, 0) << path;
      for (const std::string& name : lines(names.out)) {
        const testsupport::Run json =
            testsupport::run("mdb-json -D " + format + " -T " + format + " " + quote(path) + " " + quote(name) + " 2>/dev/null");
        out[path].push_back({name, lines(json.out), json.status ? "mdb-json failed" : ""});
      }
    }
    return out;
  }
  const std::string modules = std::string(TABULONIX_SOURCE_DIR) + "/tools/oracle/node_modules";
  if (!fs::exists(modules + "/mdb-reader") || !testsupport::haveProgram("node")) return std::nullopt;
  std::string command = "TZ=UTC MDB_READER_DIR=" + quote(modules) + " node " +
                        quote(std::string(TABULONIX_SOURCE_DIR) + "/tests/cli/support/mdb_reader_rows.cjs");
  if (rowLimit) command = "ROW_LIMIT=" + std::to_string(rowLimit) + " " + command;
  for (const std::string& path : paths) command += " " + quote(path);
  const testsupport::Run r = testsupport::run(command + " 2>&1");
  EXPECT_EQ(r.status, 0) << r.out.substr(r.out.size() > 2000 ? r.out.size() - 2000 : 0);
  // FILE / TABLE / FAILED lines and rows, grouped.
  std::vector<TheirTable>* tables = nullptr;
  for (std::string& line : lines(r.out)) {
    if (line.rfind("FILE\t", 0) == 0) tables = &out[line.substr(5)];
    else if (tables && line.rfind("TABLE\t", 0) == 0) tables->push_back({line.substr(6), {}, {}});
    else if (tables && !tables->empty() && line.rfind("FAILED\t", 0) == 0) tables->back().failure = line.substr(7);
    else if (tables && !tables->empty()) tables->back().lines.push_back(std::move(line));
    else ADD_FAILURE() << "mdb-reader: " << line;
  }
  return out;
}

void compareFile(Reader reader, const OurFile& ours, const std::vector<TheirTable>& theirs, Comparison& how) {
  std::vector<std::string> ourNames, theirNames;
  for (const OurTable& t : ours.tables) ourNames.push_back(t.info.name);
  for (const TheirTable& t : theirs) theirNames.push_back(t.name);
  std::sort(ourNames.begin(), ourNames.end());
  std::sort(theirNames.begin(), theirNames.end());
  EXPECT_EQ(theirNames, ourNames) << readerName(reader) << ": " << ours.path;
  for (const OurTable& t : ours.tables) {
    auto it = std::find_if(theirs.begin(), theirs.end(), [&](const TheirTable& x) { return x.name == t.info.name; });
    if (it != theirs.end()) compareTable(reader, ours.path, t, *it, how);
  }
}

}  // namespace clitest
