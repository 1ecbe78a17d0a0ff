#include "written_files.h"

#include <gtest/gtest.h>

#include <sstream>

#include "in_process.h"
#include "jet/base/value_json.h"
#include "support/files.h"

namespace clitest {

namespace {

void step(const std::string& file, const std::vector<std::string>& args, const std::string& input = "") {
  Result r = run(args, input);
  if (r.rc != 0) {
    std::string command;
    for (const auto& a : args) command += " " + a;
    ADD_FAILURE() << file << ":" << command << " failed: " << r.err;
  }
}

std::string jsonString(const std::string& s) {
  std::string out;
  jet::appendJsonString(out, s);
  return out;
}

std::string hex(std::mt19937& rng, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < 2 * n; ++i) out += digits[rng() % 16];
  return out;
}

// Text from a mix of scripts, so that compressed and uncompressed text both occur.
std::string text(std::mt19937& rng, size_t chars) {
  static const std::vector<std::string> pieces = {"a", "Z", "7", " ", "é", "ß", "Ü", "ø", "Ω", "ж", "漢", "-", "'", "x"};
  std::string out;
  const bool ascii = rng() % 2 == 0;
  for (size_t i = 0; i < chars; ++i) out += ascii ? std::string(1, char('a' + rng() % 26)) : pieces[rng() % pieces.size()];
  return out;
}

std::string row(std::mt19937& rng, int i) {
  std::ostringstream o;
  o << "{";
  o << "\"Name\":" << (i % 41 == 0 ? "null" : jsonString(i % 53 == 0 ? "" : text(rng, 1 + rng() % 100)));
  // Mostly short notes; every 97th a long one that takes several long-value pages.
  const size_t noteChars = i % 97 == 0 ? 3000 + rng() % 9000 : rng() % 120;
  o << ",\"Notes\":" << (i % 37 == 0 ? "null" : jsonString(text(rng, noteChars)));
  char date[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02dT%02d:%02d:%02d", 1850 + int(rng() % 240), 1 + int(rng() % 12),
                1 + int(rng() % 28), int(rng() % 24), int(rng() % 60), int(rng() % 60));
  o << ",\"Born\":" << (i % 29 == 0 ? "null" : jsonString(date));
  o << ",\"Score\":" << std::uniform_real_distribution<double>(-1e9, 1e9)(rng);
  o << ",\"Price\":\"" << int64_t(rng() % 2000000000) - 1000000000 << "." << 1000 + rng() % 9000 << "\"";
  o << ",\"Flag\":" << (rng() % 2 ? "true" : "false");
  o << ",\"Small\":" << int(rng() % 65536) - 32768;
  o << ",\"Tiny\":" << rng() % 256;
  o << ",\"Ratio\":" << float(std::uniform_real_distribution<double>(-1000, 1000)(rng));
  const std::string g = hex(rng, 16);
  o << ",\"Tag\":\"{" << g.substr(0, 8) << "-" << g.substr(8, 4) << "-" << g.substr(12, 4) << "-" << g.substr(16, 4)
    << "-" << g.substr(20) << "}\"";
  o << ",\"Amount\":\"" << int64_t(rng() % 1000000000) - 500000000 << "\"";
  o << ",\"Raw\":" << (i % 31 == 0 ? "null" : jsonString(hex(rng, 1 + rng() % 50)));
  o << ",\"Blob\":" << (i % 23 == 0 ? "null" : jsonString(hex(rng, i % 101 == 0 ? 6000 : rng() % 200)));
  o << "}\n";
  return o.str();
}

std::vector<std::string> write() {
  static const testsupport::TempDir folder;
  std::vector<std::string> files;
  for (const std::string version : {"2007", "2010", "2016", "2019"}) {
    const std::string file = (folder.path() / ("written" + version + ".accdb")).string();
    files.push_back(file);
    std::mt19937 rng(uint32_t(std::stoi(version)));
    step(file, {"create", file, "--format", "accdb" + version});
    step(file, {"create-table", file, "People", "Id:Long:4:auto", "Name:Text:120:allowzero", "Notes:Memo:0:allowzero",
                "Born:Date/Time", "Score:Double", "Price:Currency", "Flag:Boolean", "Small:Integer", "Tiny:Byte",
                "Ratio:Single", "Tag:GUID", "Amount:Decimal", "Raw:Binary:50", "Blob:OLE"});
    std::string rows;
    for (int i = 0; i < kWrittenRows; ++i) rows += row(rng, i);
    step(file, {"import", file, "People", "--format", "jsonl"}, rows);
    // Rows grow past their page and shrink again; a range and a single row go.
    for (int p = 10; p < 60; ++p)
      step(file, {"update", file, "People", std::to_string(p)},
           "{\"Name\":" + jsonString(text(rng, 100)) + ",\"Notes\":" + jsonString(text(rng, p % 2 ? 2000 : 3)) + "}");
    step(file, {"delete", file, "People", "100", "199"});
    step(file, {"delete", file, "People", "2500"});
    step(file, {"create-table", file, "Scratch", "A:Text:10"});
    step(file, {"import", file, "Scratch", "--format", "jsonl"}, "{\"A\":\"one\"}\n{\"A\":\"two\"}\n");
    step(file, {"rename-table", file, "Scratch", "Kept"});
    step(file, {"create-table", file, "Dropped", "B:Long"});
    step(file, {"drop-table", file, "Dropped"});
    Result check = run({"check", file});
    EXPECT_EQ(check.rc, 0) << file << ": " << check.out << check.err;
    EXPECT_EQ(check.out, "ok\n") << file;
  }
  return files;
}

}  // namespace

const std::vector<std::string>& writtenAccdbFiles() {
  static const std::vector<std::string> files = write();
  return files;
}

}  // namespace clitest
