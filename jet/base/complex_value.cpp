#include "jet/base/complex_value.h"

#include "jet/base/attachment_data.h"

namespace jet {

Bytes Attachment::data() const { return decodeAttachment(stored).data; }

Attachment Attachment::of(const std::string& name, const std::string& type, const Bytes& data) {
  Attachment a;
  a.name = name;
  a.type = type;
  a.stored = encodeAttachment(type, data, attachmentCompresses(type));
  return a;
}

std::string complexText(const ComplexValue& value, std::string_view separator) {
  std::string out;
  bool first = true;
  auto append = [&](const std::string& text) {
    if (!first) out.append(separator);
    out.append(text);
    first = false;
  };
  for (const Attachment& a : value.attachments) append(a.name);
  for (const Value& v : value.values) append(toText(v));
  for (const Version& v : value.versions) append(toText(v.value));
  return out;
}

}  // namespace jet
