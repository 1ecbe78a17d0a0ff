#include "jet/base/attachment_data.h"

#include <zlib.h>

#include <cctype>
#include <limits>
#include <set>

#include "jet/base/bytes.h"
#include "jet/base/names.h"
#include "jet/base/text_codec.h"

namespace jet {

namespace {

constexpr uint32_t kStoredRaw = 0;
constexpr uint32_t kStoredDeflated = 1;
constexpr size_t kWrapperSize = 8;
constexpr size_t kContentHeaderSize = 12;  // before the extension
// The level whose output is byte for byte the deflated data Access stores.
constexpr int kDeflateLevel = 3;

[[noreturn]] void damaged(const std::string& what) { throwCorrupt("an attachment's data " + what); }

Bytes inflateAll(const uint8_t* data, size_t size, size_t expected) {
  // One byte of room beyond the expected length tells a stream that holds more.
  Bytes out(expected + 1);
  z_stream z{};
  if (inflateInit(&z) != Z_OK) damaged("cannot be inflated");
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const size_t produced = out.size() - z.avail_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END) damaged("is not a complete zlib stream");
  if (produced != expected) damaged("inflates to another length than it records");
  out.resize(expected);
  return out;
}

Bytes deflateAll(const Bytes& in) {
  uLongf size = compressBound(static_cast<uLong>(in.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, in.data(), static_cast<uLong>(in.size()), kDeflateLevel) != Z_OK)
    throw Error(err::kIoError, "Cannot compress an attachment.");
  out.resize(size);
  return out;
}

}  // namespace

AttachmentContent decodeAttachment(const Bytes& stored) {
  if (stored.size() < kWrapperSize) damaged("is cut short");
  const uint32_t kind = le32(stored.data());
  const uint32_t length = le32(stored.data() + 4);
  Bytes content;
  if (kind == kStoredRaw) {
    if (stored.size() - kWrapperSize < length) damaged("is cut short");
    content.assign(stored.begin() + kWrapperSize, stored.begin() + kWrapperSize + length);
  } else if (kind == kStoredDeflated) {
    // A deflated stream never grows more than about a thousand times; a larger claim is damage.
    if (length / 1032 > stored.size()) damaged("claims an impossible length");
    content = inflateAll(stored.data() + kWrapperSize, stored.size() - kWrapperSize, length);
  } else {
    damaged("is stored in an unknown way");
  }
  ByteSpan c(content.data(), content.size(), "an attachment's header");
  const uint32_t headerLength = c.u32(0);
  const uint32_t extensionChars = c.u32(8);
  if (headerLength < kContentHeaderSize || headerLength > content.size()) damaged("has a bad header length");
  if (extensionChars > (headerLength - kContentHeaderSize) / 2) damaged("has a bad extension length");
  AttachmentContent out;
  out.extension = decodeUcs2(content.data() + kContentHeaderSize, size_t(extensionChars) * 2);
  while (!out.extension.empty() && out.extension.back() == '\0') out.extension.pop_back();
  out.data.assign(content.begin() + headerLength, content.end());
  return out;
}

Bytes encodeAttachment(const std::string& extension, const Bytes& data, bool compress) {
  Bytes ext = encodeUcs2(extension);
  ext.push_back(0);
  ext.push_back(0);
  const size_t headerLength = kContentHeaderSize + ext.size();
  if (data.size() > std::numeric_limits<uint32_t>::max() - headerLength)
    throw Error(err::kInvalidArgument, "Invalid argument.");
  Bytes content;
  content.reserve(headerLength + data.size());
  le::append32(content, static_cast<uint32_t>(headerLength));
  le::append32(content, 1);
  le::append32(content, static_cast<uint32_t>(ext.size() / 2));
  content.insert(content.end(), ext.begin(), ext.end());
  content.insert(content.end(), data.begin(), data.end());
  Bytes out;
  le::append32(out, compress ? kStoredDeflated : kStoredRaw);
  le::append32(out, static_cast<uint32_t>(content.size()));
  const Bytes body = compress ? deflateAll(content) : std::move(content);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

bool attachmentCompresses(const std::string& type) {
  static const std::set<std::string> kCompressed = {"jpg", "zip", "gz", "bz2", "z", "7z", "cab", "rar", "mp3", "mpg"};
  return !kCompressed.count(lowerName(type));
}

}  // namespace jet
