#include "jet/catalog/name_rules.h"

#include "jet/base/error.h"
#include "jet/base/text_codec.h"

namespace jet {

bool isValidObjectName(const std::string& utf8) {
  std::u16string u = utf8ToUtf16(utf8);
  if (u.empty() || u.size() > kMaxNameLength) return false;
  if (u[0] == u' ') return false;
  for (char16_t c : u) {
    if (c < 0x20 || c == 0x7F || c == 0xFFFD) return false;
    if (c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']') return false;
  }
  return true;
}

void requireValidName(const std::string& utf8) {
  if (!isValidObjectName(utf8))
    throw Error(err::kInvalidName, "'" + utf8 +
                                       "' is not a valid name. Make sure that it does not include invalid characters "
                                       "or punctuation and that it is not too long.");
}

void requireValidName(const std::string& utf8, Format format, TextCodec& codec) {
  requireValidName(utf8);
  if (format == Format::Jet3Layout) {
    Bytes stored = codec.encodeCodePage(utf8);
    if (codec.decodeCodePage(stored.data(), stored.size()) != utf8)
      throw Error(err::kInvalidName, "'" + utf8 +
                                         "' is not a valid name. Make sure that it does not include invalid characters "
                                         "or punctuation and that it is not too long.");
  }
}

std::string tableExistsMessage(const std::string& name) { return "Table '" + name + "' already exists."; }

std::string objectNotFoundMessage(const std::string& name) {
  return "The database engine could not find the object '" + name +
         "'. Make sure the object exists and that you spell its name and the path name correctly.";
}

}  // namespace jet
