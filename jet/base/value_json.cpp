#include "jet/base/value_json.h"

#include <charconv>
#include <cmath>

#include "jet/base/value_text.h"

namespace jet {

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

}  // namespace

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

void appendJsonValue(std::string& out, const Value& v) {
  struct Visitor {
    std::string& out;
    void operator()(const Null&) { out += "null"; }
    void operator()(bool b) { out += b ? "true" : "false"; }
    void operator()(int64_t i) {
      char buf[24];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, i);
      (void)ec;
      out.append(buf, end);
    }
    // Currency and dates need no escaping inside their quotes.
    void operator()(const Currency& c) {
      out.push_back('"');
      appendCurrencyText(out, c.scaled, true);
      out.push_back('"');
    }
    void operator()(float f) { appendNumber(out, f); }
    void operator()(double d) { appendNumber(out, d); }
    void operator()(const DateTime& d) {
      out.push_back('"');
      appendDateText(out, d.days, true, true);
      out.push_back('"');
    }
    void operator()(const std::string& s) { appendJsonString(out, s); }
    void operator()(const Bytes& b) { appendJsonString(out, hexText(b, false)); }
    void operator()(const Guid& g) { appendJsonString(out, guidText(g)); }
    void operator()(const Decimal& d) { appendJsonString(out, decimalText(d)); }
    void operator()(const DateTimeExtended& d) { appendJsonString(out, extendedDateText(d, true)); }
  };
  std::visit(Visitor{out}, v);
}

void appendJsonComplex(std::string& out, const ComplexValue& v) {
  out.push_back('[');
  bool first = true;
  auto next = [&] {
    if (!first) out.push_back(',');
    first = false;
  };
  for (const Attachment& a : v.attachments) {
    next();
    out += "{\"name\":";
    appendJsonString(out, a.name);
    out += ",\"type\":";
    appendJsonString(out, a.type);
    out += ",\"data\":";
    appendJsonString(out, hexText(a.data(), false));
    out.push_back('}');
  }
  for (const Value& value : v.values) {
    next();
    appendJsonValue(out, value);
  }
  for (const Version& version : v.versions) {
    next();
    out += "{\"value\":";
    appendJsonValue(out, version.value);
    out += ",\"modified\":";
    appendJsonValue(out, version.modified);
    out.push_back('}');
  }
  out.push_back(']');
}

}  // namespace jet
