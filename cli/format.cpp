#include "cli/format.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "jet/error.h"
#include "jet/value_text.h"

namespace cli {

namespace {

template <typename F>
void appendNumber(std::string& out, F value) {
  if (std::isnan(value)) {
    out += "\"NaN\"";
  } else if (std::isinf(value)) {
    out += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
  } else {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    (void)ec;
    out.append(buf, end);
  }
}

bool isText(jet::ColumnType t) { return t == jet::ColumnType::Text || t == jet::ColumnType::Memo; }
bool isBinary(jet::ColumnType t) {
  return t == jet::ColumnType::Binary || t == jet::ColumnType::Ole ||
         (t != jet::ColumnType::Guid && t != jet::ColumnType::Numeric && static_cast<int>(t) > 0x0C);
}

jet::Value convert(const jet::ColumnInfo& c, const std::string& text) {
  // Binary arrives as bare hex in JSON; the text form has "0x" in front.
  if (isBinary(c.type) && text.rfind("0x", 0) != 0 && text.rfind("0X", 0) != 0) return jet::fromText(c.type, "0x" + text);
  jet::Value v = jet::fromText(c.type, text, c.scale);
  if (auto* d = std::get_if<jet::Decimal>(&v); d && c.precision) d->precision = c.precision;
  return v;
}

}  // namespace

void appendCsvText(std::string& out, const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) {
    out += s;
    return;
  }
  out.push_back('"');
  for (char c : s) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

void appendCsvField(std::string& out, const jet::Value& v) {
  if (auto* s = std::get_if<std::string>(&v)) {
    if (s->empty()) {
      out += "\"\"";
    } else {
      appendCsvText(out, *s);
    }
  } else if (auto* i = std::get_if<int64_t>(&v)) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, *i);
    (void)ec;
    out.append(buf, end);
  } else if (!jet::isNull(v)) {
    appendCsvText(out, jet::toText(v));
  }
}

void appendJsonString(std::string& out, const std::string& s) {
  static const char kHex[] = "0123456789abcdef";
  out.push_back('"');
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 15]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

void appendJsonValue(std::string& out, const jet::Value& v) {
  struct Visitor {
    std::string& out;
    void operator()(const jet::Null&) { out += "null"; }
    void operator()(bool b) { out += b ? "true" : "false"; }
    void operator()(int64_t i) { out += std::to_string(i); }
    void operator()(const jet::Currency& c) { appendJsonString(out, jet::currencyText(c.scaled, true)); }
    void operator()(float f) { appendNumber(out, f); }
    void operator()(double d) { appendNumber(out, d); }
    void operator()(const jet::DateTime& d) { appendJsonString(out, jet::dateText(d.days, true, true)); }
    void operator()(const std::string& s) { appendJsonString(out, s); }
    void operator()(const jet::Bytes& b) { appendJsonString(out, jet::hexText(b, false)); }
    void operator()(const jet::Guid& g) { appendJsonString(out, jet::guidText(g)); }
    void operator()(const jet::Decimal& d) { appendJsonString(out, jet::decimalText(d)); }
  };
  std::visit(Visitor{out}, v);
}

void appendJsonComplex(std::string& out, const jet::ComplexValue& v) {
  out.push_back('[');
  bool first = true;
  auto next = [&] {
    if (!first) out.push_back(',');
    first = false;
  };
  for (const jet::Attachment& a : v.attachments) {
    next();
    out += "{\"name\":";
    appendJsonString(out, a.name);
    out += ",\"type\":";
    appendJsonString(out, a.type);
    out += ",\"data\":";
    appendJsonString(out, jet::hexText(a.data(), false));
    out.push_back('}');
  }
  for (const jet::Value& value : v.values) {
    next();
    appendJsonValue(out, value);
  }
  for (const jet::Version& version : v.versions) {
    next();
    out += "{\"value\":";
    appendJsonValue(out, version.value);
    out += ",\"modified\":";
    appendJsonValue(out, version.modified);
    out.push_back('}');
  }
  out.push_back(']');
}

void appendCsvComplex(std::string& out, const jet::ComplexValue& v) {
  if (v.size() == 0) return;
  appendCsvText(out, jet::complexText(v, ";"));
}

namespace {

struct JsonReader {
  const std::string& s;
  size_t i = 0;

  [[noreturn]] void bad(const char* what) {
    throw std::runtime_error(std::string("bad JSON: ") + what + " at column " + std::to_string(i + 1));
  }
  void ws() {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
  }
  void expect(char c) {
    ws();
    if (i >= s.size() || s[i] != c) bad((std::string("expected '") + c + "'").c_str());
    ++i;
  }
  static void putUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  uint32_t hex4() {
    if (i + 4 > s.size()) bad("short \\u escape");
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      char c = s[i++];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= c - '0';
      else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
      else bad("bad \\u escape");
    }
    return v;
  }
  std::string string() {
    std::string out;
    string(out);
    return out;
  }
  void string(std::string& out) {
    expect('"');
    out.clear();
    while (true) {
      // Plain characters are copied a run at a time.
      size_t run = i;
      while (run < s.size() && s[run] != '"' && s[run] != '\\' && static_cast<unsigned char>(s[run]) >= 0x20) ++run;
      out.append(s, i, run - i);
      i = run;
      if (i >= s.size()) bad("unterminated string");
      char c = s[i++];
      if (c == '"') return;
      if (static_cast<unsigned char>(c) < 0x20) bad("control character in string");
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (i >= s.size()) bad("unterminated string");
      char e = s[i++];
      switch (e) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          uint32_t cp = hex4();
          if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i] == '\\' && s[i + 1] == 'u') {
            i += 2;
            uint32_t lo = hex4();
            if (lo < 0xDC00 || lo > 0xDFFF) bad("bad surrogate pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          putUtf8(out, cp);
          break;
        }
        default: bad("bad escape");
      }
    }
  }
  JsonScalar scalar() {
    JsonScalar v;
    scalar(v);
    return v;
  }
  void scalar(JsonScalar& v) {
    ws();
    v.kind = JsonScalar::Null;
    v.boolean = false;
    if (i >= s.size()) bad("missing value");
    if (s[i] == '"') {
      v.kind = JsonScalar::String;
      string(v.text);
    } else if (s.compare(i, 4, "null") == 0) {
      i += 4;
    } else if (s.compare(i, 4, "true") == 0) {
      i += 4;
      v.kind = JsonScalar::Bool;
      v.boolean = true;
    } else if (s.compare(i, 5, "false") == 0) {
      i += 5;
      v.kind = JsonScalar::Bool;
    } else {
      size_t start = i;
      while (i < s.size() && std::string_view("+-0123456789.eE").find(s[i]) != std::string_view::npos) ++i;
      if (i == start) bad("unexpected character");
      v.kind = JsonScalar::Number;
      v.text.assign(s, start, i - start);
    }
  }
};

}  // namespace

JsonObject parseJsonObject(const std::string& line) {
  JsonObject obj;
  obj.resize(parseJsonObject(line, obj));
  return obj;
}

size_t parseJsonObject(const std::string& line, JsonObject& reuse) {
  JsonReader r{line};
  size_t n = 0;
  r.expect('{');
  r.ws();
  if (r.i < line.size() && line[r.i] == '}') {
    ++r.i;
  } else {
    while (true) {
      r.ws();
      if (n == reuse.size()) reuse.emplace_back();
      auto& [key, value] = reuse[n];
      r.string(key);
      r.expect(':');
      r.scalar(value);
      ++n;
      r.ws();
      if (r.i < line.size() && line[r.i] == ',') {
        ++r.i;
        continue;
      }
      r.expect('}');
      break;
    }
  }
  r.ws();
  if (r.i != line.size()) r.bad("text after the object");
  return n;
}

bool readCsvRecord(std::istream& in, std::vector<CsvField>& record, int64_t& line) {
  record.clear();
  int c = in.get();
  if (c == EOF) return false;
  ++line;
  CsvField field;
  bool inQuotes = false;
  while (true) {
    if (c == EOF) {
      if (inQuotes) throw std::runtime_error("unterminated quoted field");
      record.push_back(std::move(field));
      return true;
    }
    if (inQuotes) {
      if (c == '"') {
        if (in.peek() == '"') {
          in.get();
          field.text.push_back('"');
        } else {
          inQuotes = false;
        }
      } else {
        if (c == '\n') ++line;
        field.text.push_back(static_cast<char>(c));
      }
    } else if (c == '"' && field.text.empty() && !field.quoted) {
      inQuotes = true;
      field.quoted = true;
    } else if (c == ',') {
      record.push_back(std::move(field));
      field = CsvField{};
    } else if (c == '\r' && in.peek() == '\n') {
      // CR LF ends the record like LF.
    } else if (c == '\n') {
      record.push_back(std::move(field));
      return true;
    } else {
      field.text.push_back(static_cast<char>(c));
    }
    c = in.get();
  }
}

jet::Value valueFromJson(const jet::ColumnInfo& c, const JsonScalar& s) {
  switch (s.kind) {
    case JsonScalar::Null: return jet::Null{};
    case JsonScalar::Bool:
      if (c.type == jet::ColumnType::Boolean) return s.boolean;
      if (isText(c.type)) return std::string(s.boolean ? "True" : "False");
      return convert(c, s.boolean ? "-1" : "0");
    case JsonScalar::Number:
      if (isText(c.type)) return s.text;
      return convert(c, s.text);
    case JsonScalar::String:
      return convert(c, s.text);
  }
  return jet::Null{};
}

jet::Value valueFromCsv(const jet::ColumnInfo& c, const CsvField& f) {
  if (f.text.empty() && !f.quoted) return jet::Null{};
  return convert(c, f.text);
}

}  // namespace cli
