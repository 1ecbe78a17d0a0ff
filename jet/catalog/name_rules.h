// The rules object names (tables, fields, indexes) must follow, and the errors for breaking them.
#pragma once

#include <string>

#include "jet/base/schema.h"
#include "jet/base/text_codec.h"

namespace jet {

// Longest name the engine accepts, in characters.
constexpr size_t kMaxNameLength = 64;

// True when the name is acceptable: 1 to 64 characters, no leading space, none of . ! ` [ ] and
// no control characters.
bool isValidObjectName(const std::string& utf8);

// Throws Error 3125 "'X' is not a valid name. ..." when the name is not acceptable.
void requireValidName(const std::string& utf8);
// The same, and also refuses a name the format cannot store as it is (Jet 3 keeps names in the
// database's code page, `codec`).
void requireValidName(const std::string& utf8, Format format, TextCodec& codec);

// The standard error texts used for schema changes.
std::string tableExistsMessage(const std::string& name);     // 3010
std::string objectNotFoundMessage(const std::string& name);  // 3011

}  // namespace jet
