#include "cli/format.h"

#include <simdjson.h>

#include <charconv>
#include <cstring>
#include <cmath>
#include <stdexcept>

#include "jet/base/error.h"
#include "jet/base/value_text.h"
#include "sql/json_values.h"

namespace cli {


void appendCsvText(std::string& out, const std::string& s) {
  // One pass over the text; find_first_of would search it once per character of the set.
  bool plain = true;
  for (char c : s) {
    if (c == ',' || c == '"' || c == '\r' || c == '\n') {
      plain = false;
      break;
    }
  }
  if (plain) {
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
  } else {
    // The text of any other value holds no comma, quote or line break: it needs no quoting.
    jet::appendText(out, v);
  }
}

void appendCsvComplex(std::string& out, const jet::ComplexValue& v) {
  if (v.size() == 0) return;
  appendCsvText(out, jet::complexText(v, ";"));
}

namespace {

[[noreturn]] void badJson(const char* what) { throw std::runtime_error(std::string("bad JSON: ") + what); }

void check(simdjson::error_code e) {
  if (e) badJson(simdjson::error_message(e));
}

// Parses one object of scalars held at json[0, len), readable up to json + capacity (at least
// SIMDJSON_PADDING bytes beyond the end).
size_t parseObject(simdjson::ondemand::parser& parser, const char* json, size_t len, size_t capacity,
                   JsonObject& reuse) {
  using simdjson::ondemand::json_type;
  if (capacity < len + simdjson::SIMDJSON_PADDING) badJson("no room to parse");
  simdjson::ondemand::document doc;
  check(parser.iterate(json, len, capacity).get(doc));
  simdjson::ondemand::object object;
  check(doc.get_object().get(object));
  size_t n = 0;
  for (auto field : object) {
    if (n == reuse.size()) reuse.emplace_back();
    auto& [key, scalar] = reuse[n];
    std::string_view text;
    check(field.unescaped_key().get(text));
    if (key != text) key.assign(text);
    simdjson::ondemand::value value;
    check(field.value().get(value));
    json_type type;
    check(value.type().get(type));
    scalar.boolean = false;
    switch (type) {
      case json_type::string:
        scalar.kind = JsonScalar::String;
        check(value.get_string().get(text));
        scalar.text.assign(text);
        break;
      case json_type::number: {
        // Kept as written: the column's type decides how it converts (and refuses bad numbers).
        scalar.kind = JsonScalar::Number;
        text = value.raw_json_token();
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                                 text.back() == '\n'))
          text.remove_suffix(1);
        for (char c : text)
          if (!((c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'))
            badJson("bad number");
        scalar.text.assign(text);
        break;
      }
      case json_type::boolean:
        scalar.kind = JsonScalar::Bool;
        scalar.text.clear();
        check(value.get_bool().get(scalar.boolean));
        break;
      case json_type::null: {
        scalar.kind = JsonScalar::Null;
        scalar.text.clear();
        bool null = false;
        check(value.is_null().get(null));
        if (!null) badJson("bad literal");
        break;
      }
      case json_type::array: {
        scalar.kind = JsonScalar::Array;
        simdjson::ondemand::array array;
        check(value.get_array().get(array));
        check(array.raw_json().get(text));
        scalar.text.assign(text);
        break;
      }
      default: badJson("a value is an object");
    }
    ++n;
  }
  // Anything after the closing brace but white space is an error.
  if (doc.current_location().error() == simdjson::SUCCESS) badJson("text after the object");
  return n;
}

}  // namespace

JsonObject parseJsonObject(const std::string& line) {
  JsonObject obj;
  obj.resize(parseJsonObject(line, obj));
  return obj;
}

size_t parseJsonObject(const std::string& line, JsonObject& reuse) {
  simdjson::ondemand::parser parser;
  simdjson::padded_string padded(line);
  return parseObject(parser, padded.data(), padded.size(), padded.size() + simdjson::SIMDJSON_PADDING, reuse);
}

struct JsonLineReader::Impl {
  std::istream& in;
  simdjson::ondemand::parser parser;
  std::vector<char> buffer;      // data in [0, end), then room for padding
  size_t begin = 0, end = 0;     // unread bytes
  const char* line = nullptr;
  size_t size = 0;
  int64_t number = 0;
  bool eof = false;

  // Reads more input behind the unread bytes (moved to the front); false when none is left.
  bool fill() {
    if (eof) return false;
    if (begin > 0) {
      std::memmove(buffer.data(), buffer.data() + begin, end - begin);
      end -= begin;
      begin = 0;
    }
    const size_t kBlock = 1 << 20;
    if (buffer.size() < end + kBlock + simdjson::SIMDJSON_PADDING)
      buffer.resize(end + kBlock + simdjson::SIMDJSON_PADDING);
    in.read(buffer.data() + end, static_cast<std::streamsize>(kBlock));
    const size_t got = static_cast<size_t>(in.gcount());
    end += got;
    if (got < kBlock) eof = true;
    return got > 0;
  }
};

JsonLineReader::JsonLineReader(std::istream& in) : impl_(new Impl{in}) {}
JsonLineReader::~JsonLineReader() = default;

bool JsonLineReader::next() {
  Impl& r = *impl_;
  size_t scanned = r.begin;
  for (;;) {
    // Nothing read yet (an empty buffer has no storage) is searched as nothing.
    const void* nl = scanned < r.end ? std::memchr(r.buffer.data() + scanned, '\n', r.end - scanned) : nullptr;
    if (nl) {
      const char* at = static_cast<const char*>(nl);
      r.line = r.buffer.data() + r.begin;
      r.size = static_cast<size_t>(at - r.line);
      r.begin = static_cast<size_t>(at - r.buffer.data()) + 1;
      break;
    }
    const size_t seen = r.end - r.begin;
    if (!r.fill()) {
      if (r.begin == r.end) return false;
      r.line = r.buffer.data() + r.begin;  // a last line without a line break
      r.size = r.end - r.begin;
      r.begin = r.end;
      break;
    }
    scanned = r.begin + seen;
  }
  if (r.size && r.line[r.size - 1] == '\r') --r.size;
  ++r.number;
  return true;
}

int64_t JsonLineReader::number() const { return impl_->number; }

bool JsonLineReader::blank() const {
  for (size_t i = 0; i < impl_->size; ++i)
    if (impl_->line[i] != ' ' && impl_->line[i] != '\t') return false;
  return true;
}

size_t JsonLineReader::parse(JsonObject& reuse) {
  Impl& r = *impl_;
  const size_t capacity = r.buffer.size() - static_cast<size_t>(r.line - r.buffer.data());
  return parseObject(r.parser, r.line, r.size, capacity, reuse);
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

jet::Value valueFromCsv(const jet::ColumnInfo& c, const CsvField& f) {
  // A complex field's CSV text only names its values (file names, joined values): it cannot bring
  // them back, so an empty field is taken as no values and anything else is refused.
  if (c.type == jet::ColumnType::Complex) {
    if (f.text.empty()) return jet::Null{};
    throw jet::Error(jet::err::kConversion, "Data type conversion error: the field '" + c.name +
                                                "' holds attachments or multiple values, which CSV cannot carry: "
                                                "import them as JSON lines (--format jsonl).");
  }
  if (f.text.empty() && !f.quoted) return jet::Null{};
  return sql::valueFromExportText(c, f.text);
}

}  // namespace cli
