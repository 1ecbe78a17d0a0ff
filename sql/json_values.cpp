#include "sql/json_values.h"

#include <simdjson.h>

#include "jet/base/error.h"
#include "jet/base/value_text.h"

namespace sql {

namespace {

bool isText(jet::ColumnType t) { return t == jet::ColumnType::Text || t == jet::ColumnType::Memo; }
// Binary, OLE object, and types the engine does not know (which it describes as Binary).
bool isBinary(jet::ColumnType t) { return t == jet::ColumnType::Binary || t == jet::ColumnType::Ole; }

}  // namespace

jet::Value valueFromExportText(const jet::ColumnInfo& c, const std::string& text) {
  // Binary arrives as bare hex in JSON; the text form has "0x" in front.
  if (isBinary(c.type) && text.rfind("0x", 0) != 0 && text.rfind("0X", 0) != 0) return jet::fromText(c.type, "0x" + text);
  jet::Value v = jet::fromText(c.type, text, c.scale);
  if (auto* d = std::get_if<jet::Decimal>(&v); d && c.precision) d->precision = c.precision;
  return v;
}

jet::Value valueFromJson(const jet::ColumnInfo& c, const JsonScalar& s) {
  switch (s.kind) {
    case JsonScalar::Null: return jet::Null{};
    case JsonScalar::Bool:
      if (c.type == jet::ColumnType::Boolean) return s.boolean;
      if (isText(c.type)) return std::string(s.boolean ? "True" : "False");
      return valueFromExportText(c, s.boolean ? "-1" : "0");
    case JsonScalar::Number:
      if (isText(c.type)) return s.text;
      return valueFromExportText(c, s.text);
    case JsonScalar::String:
      return valueFromExportText(c, s.text);
    case JsonScalar::Array:
      break;
  }
  throw jet::Error(jet::err::kConversion, "Data type conversion error: only a complex field takes an array.");
}

namespace {

[[noreturn]] void badComplex(const jet::ColumnInfo& c, const std::string& why) {
  throw jet::Error(jet::err::kConversion, "Data type conversion error: the field '" + c.name + "' " + why + ".");
}

JsonScalar scalarOf(const jet::ColumnInfo& c, simdjson::dom::element e) {
  JsonScalar s;
  switch (e.type()) {
    case simdjson::dom::element_type::NULL_VALUE: break;
    case simdjson::dom::element_type::BOOL: s.kind = JsonScalar::Bool; s.boolean = e.get_bool().value(); break;
    case simdjson::dom::element_type::STRING: s.kind = JsonScalar::String; s.text = std::string(e.get_string().value()); break;
    case simdjson::dom::element_type::INT64:
    case simdjson::dom::element_type::UINT64:
    case simdjson::dom::element_type::DOUBLE:
      s.kind = JsonScalar::Number;
      s.text = simdjson::minify(e);
      break;
    default: badComplex(c, "takes values, not arrays or objects, in its array");
  }
  return s;
}

std::string stringField(const jet::ColumnInfo& c, simdjson::dom::object o, const char* key) {
  simdjson::dom::element e;
  if (o[key].get(e) || !e.is_string()) badComplex(c, std::string("needs a string \"") + key + "\" in each of its items");
  return std::string(e.get_string().value());
}

}  // namespace

jet::ComplexValue complexFromJson(const jet::ColumnInfo& c, const JsonScalar& s) {
  jet::ComplexValue out;
  out.kind = c.complexKind;
  if (s.kind == JsonScalar::Null) return out;
  if (s.kind != JsonScalar::Array) badComplex(c, "takes an array");
  simdjson::dom::parser parser;
  simdjson::dom::array items;
  if (parser.parse(s.text).get(items)) badComplex(c, "takes an array");
  for (simdjson::dom::element item : items) {
    switch (c.complexKind) {
      case jet::ComplexKind::MultiValue: {
        jet::ColumnInfo value = c;
        value.type = c.complexValueType;
        out.values.push_back(valueFromJson(value, scalarOf(c, item)));
        if (jet::isNull(out.values.back())) badComplex(c, "cannot hold a Null among its values");
        break;
      }
      case jet::ComplexKind::Attachment: {
        simdjson::dom::object o;
        if (item.get(o)) badComplex(c, "takes objects {\"name\", \"type\", \"data\"}");
        for (auto field : o)
          if (field.key != "name" && field.key != "type" && field.key != "data")
            badComplex(c, "has an attachment with an unknown member \"" + std::string(field.key) + "\"");
        jet::ColumnInfo binary = c;
        binary.type = jet::ColumnType::Ole;
        const std::string hex = stringField(c, o, "data");
        jet::Value data = hex.empty() ? jet::Value(jet::Bytes{}) : valueFromExportText(binary, hex);
        const auto* bytes = std::get_if<jet::Bytes>(&data);
        if (!bytes) badComplex(c, "has an attachment whose data is not hex");
        const std::string name = stringField(c, o, "name");
        if (name.empty()) badComplex(c, "has an attachment without a name");
        out.attachments.push_back(jet::Attachment::of(name, stringField(c, o, "type"), *bytes));
        break;
      }
      case jet::ComplexKind::VersionHistory: {
        simdjson::dom::object o;
        if (item.get(o)) badComplex(c, "takes objects {\"value\", \"modified\"}");
        simdjson::dom::element value;
        if (o["value"].get(value)) badComplex(c, "needs a \"value\" in each version");
        jet::ColumnInfo memo = c, date = c;
        memo.type = jet::ColumnType::Memo;
        date.type = jet::ColumnType::DateTime;
        JsonScalar when;
        when.kind = JsonScalar::String;
        when.text = stringField(c, o, "modified");
        out.versions.push_back({valueFromJson(memo, scalarOf(c, value)), valueFromJson(date, when)});
        break;
      }
      default: badComplex(c, "cannot be written");
    }
  }
  return out;
}

void valueFromJson(const jet::ColumnInfo& c, const JsonScalar& s, jet::Value& into) {
  if (isText(c.type) && (s.kind == JsonScalar::String || s.kind == JsonScalar::Number)) {
    if (auto* text = std::get_if<std::string>(&into)) text->assign(s.text);
    else into = s.text;
    return;
  }
  into = valueFromJson(c, s);
}

}  // namespace sql
