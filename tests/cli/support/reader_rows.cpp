#include "cli/support/reader_rows.h"

namespace clitest {

namespace {

// The line with every array or object value (our export of complex columns) replaced by its JSON
// text as a string, so that the line parses as an object of scalars.
std::string arraysAsText(const std::string& line) {
  std::string out, raw;
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : line) {
    if (depth == 1 && !inString && (c == '[' || c == '{')) {
      raw.assign(1, c);  // a nested value starts: collect it until its brackets close
      depth = 2;
      continue;
    }
    (depth >= 2 ? raw : out).push_back(c);
    if (inString) {
      if (escaped) escaped = false;
      else if (c == '\\') escaped = true;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if ((c == '}' || c == ']') && --depth == 1) {
      cli::appendJsonString(out, raw);
    }
  }
  return out;
}

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

}  // namespace

ReaderRow parseReaderRow(const std::string& line) {
  ReaderRow r;
  for (auto& [k, v] : cli::parseJsonObject(arraysAsText(inlineBinary(line)))) r[k] = v;
  return r;
}

}  // namespace clitest
