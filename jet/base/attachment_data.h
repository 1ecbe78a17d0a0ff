// The stored form of an attachment's file (the FileData column of an attachment's hidden table).
//
// An 8-byte wrapper comes first: a 32-bit kind (0 the rest is kept as is, 1 the rest is a zlib
// stream) and the length of the content once inflated. The content starts with a header of its
// own: the header's length in bytes (counting this field), a 32-bit 1, the length in characters of
// the file's extension with its terminating zero, then that extension in UTF-16LE. The file's own
// bytes follow the header.
#pragma once

#include <string>

#include "jet/base/value.h"

namespace jet {

struct AttachmentContent {
  std::string extension;  // as the content header keeps it (UTF-8, without the zero)
  Bytes data;             // the file's own bytes
};

// Throws Error 3049 when the stored bytes are not in this form (a short wrapper or header, an
// unknown kind, a zlib stream that does not inflate to the length the wrapper gives).
AttachmentContent decodeAttachment(const Bytes& stored);

// The stored form of a file, deflated or kept as is.
Bytes encodeAttachment(const std::string& extension, const Bytes& data, bool compress);

// Whether a file of this type (extension, any case) is deflated when stored: files of the usual
// already-compressed formats (jpg, zip, gz, bz2, z, 7z, cab, rar, mp3, mpg) are kept as they are.
bool attachmentCompresses(const std::string& type);

}  // namespace jet
