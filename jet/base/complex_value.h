// The value of a complex column in one row: the rows of the column's hidden table that belong to
// the row (attachments, the values of a multi-valued field, or the versions of an append-only
// memo), each kind in the form the rest of the system uses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "jet/base/schema.h"
#include "jet/base/value.h"

namespace jet {

struct Attachment {
  std::string name;     // FileName
  std::string type;     // FileType (the extension, without the dot)
  Bytes stored;         // FileData as stored: see attachment_data.h
  std::string url;      // FileURL (empty when Null)
  Value timeStamp;      // FileTimeStamp (Null or a date)
  Value flags;          // FileFlags (Null or a number)
  // The file's own bytes. Throws Error 3049 when the stored data is damaged.
  Bytes data() const;
  // A new attachment of a file, stored as Access stores it (see attachmentCompresses).
  static Attachment of(const std::string& name, const std::string& type, const Bytes& data);
};

struct Version {
  Value value;     // the memo's text at that time
  Value modified;  // when it was saved (a date)
};

struct ComplexValue {
  ComplexKind kind = ComplexKind::None;
  std::vector<Value> values;            // multi-valued fields, in stored order
  std::vector<Attachment> attachments;  // in stored order
  std::vector<Version> versions;        // newest first
  size_t size() const { return values.size() + attachments.size() + versions.size(); }
};

// The value as text: attachment names, the values (in their text form) or the versions' texts,
// joined by `separator`. Empty when there are none.
std::string complexText(const ComplexValue& value, std::string_view separator);

}  // namespace jet
