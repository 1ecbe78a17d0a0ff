#include "jet/base/text_codec.h"

#include <cerrno>
#include <iconv.h>

#include "jet/base/error.h"

namespace jet {

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(char(c));
  } else if (c < 0x800) {
    out.push_back(char(0xC0 | (c >> 6)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(char(0xE0 | (c >> 12)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (c >> 18)));
    out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(char(0x80 | (c & 0x3F)));
  }
}

namespace {

// Appends UTF-16LE units, pairing surrogates; a lone surrogate becomes U+FFFD.
void appendUtf16(const uint8_t* p, size_t units, std::string& out) {
  for (size_t i = 0; i < units; ++i) {
    // A run of ASCII units is copied in one step.
    size_t run = i;
    while (run < units && p[2 * run + 1] == 0 && p[2 * run] < 0x80) ++run;
    if (run > i) {
      const size_t at = out.size();
      out.resize(at + (run - i));
      char* d = out.data() + at;
      for (size_t k = i; k < run; ++k) *d++ = char(p[2 * k]);
      i = run;
      if (i == units) break;
    }
    uint32_t c = uint32_t(p[2 * i] | (p[2 * i + 1] << 8));
    if (c < 0x80) {
      out.push_back(char(c));
      continue;
    }
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units) {
      uint32_t d = uint32_t(p[2 * i + 2] | (p[2 * i + 3] << 8));
      if (d >= 0xDC00 && d < 0xE000) {
        appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00));
        ++i;
        continue;
      }
    }
    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;
    appendUtf8(out, c);
  }
}

// Decodes one UTF-8 sequence at s[i], advancing i; malformed input gives U+FFFD.
uint32_t nextCodePoint(const std::string& s, size_t& i) {
  auto b = uint8_t(s[i]);
  if (b < 0x80) { ++i; return b; }
  int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
  if (extra < 0 || i + size_t(extra) >= s.size()) { ++i; return 0xFFFD; }
  uint32_t c = b & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    auto n = uint8_t(s[i + size_t(k)]);
    if ((n & 0xC0) != 0x80) { ++i; return 0xFFFD; }
    c = (c << 6) | (n & 0x3F);
  }
  i += size_t(extra) + 1;
  return c;
}

}  // namespace

void decodeUcs2(const uint8_t* data, size_t len, std::string& out) {
  out.clear();
  appendUtf16(data, len / 2, out);
}

std::string decodeUcs2(const uint8_t* data, size_t len) {
  std::string out;
  decodeUcs2(data, len, out);
  return out;
}

namespace {

// Calls put with each UTF-16 unit of a UTF-8 text, splitting characters past U+FFFF into pairs.
template <class Put>
void forEachUtf16Unit(const std::string& utf8, Put put) {
  for (size_t i = 0; i < utf8.size();) {
    uint32_t c = nextCodePoint(utf8, i);
    if (c >= 0x10000) {
      c -= 0x10000;
      put(char16_t(0xD800 + (c >> 10)));
      put(char16_t(0xDC00 + (c & 0x3FF)));
    } else {
      put(char16_t(c));
    }
  }
}

}  // namespace

namespace {

bool isAscii(const std::string& s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

std::vector<uint8_t> encodeUcs2(const std::string& utf8) {
  if (isAscii(utf8)) {
    std::vector<uint8_t> out(utf8.size() * 2, 0);
    for (size_t i = 0; i < utf8.size(); ++i) out[2 * i] = uint8_t(utf8[i]);
    return out;
  }
  std::vector<uint8_t> out;
  out.reserve(utf8.size() * 2);
  forEachUtf16Unit(utf8, [&](char16_t u) {
    out.push_back(uint8_t(u));
    out.push_back(uint8_t(u >> 8));
  });
  return out;
}

size_t utf16Length(const std::string& utf8) {
  if (isAscii(utf8)) return utf8.size();
  size_t n = 0;
  for (size_t i = 0; i < utf8.size();) n += nextCodePoint(utf8, i) >= 0x10000 ? 2 : 1;
  return n;
}

std::u16string utf8ToUtf16(const std::string& utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  forEachUtf16Unit(utf8, [&](char16_t u) { out.push_back(u); });
  return out;
}

void decodeJet4Text(const uint8_t* data, size_t len, std::string& out) {
  out.clear();
  if (len < 2 || data[0] != 0xFF || data[1] != 0xFE) {
    appendUtf16(data, len / 2, out);
    return;
  }
  bool compressed = true;
  size_t start = 2;
  for (size_t i = 2; i <= len; ++i) {
    if (i < len && data[i] != 0) continue;
    if (compressed) {
      for (size_t k = start; k < i; ++k) appendUtf8(out, data[k]);
    } else {
      appendUtf16(data + start, (i - start) / 2, out);
    }
    compressed = !compressed;
    start = i + 1;
  }
}

namespace {

// Plain UCS-2 that begins with the character U+FEFF starts with the bytes FF FE, which readers take
// for the compression marker. Such text is written in the marked form instead, as runs of one-byte
// characters and runs of two-byte characters separated by zero bytes. A character whose low byte
// is zero (U+0100, U+0200, ...) cannot stand in a two-byte run; text holding one is left plain.
bool markedSegments(const std::vector<uint8_t>& ucs2, std::vector<uint8_t>& out) {
  out.assign({0xFF, 0xFE});
  bool compressed = true;
  for (size_t i = 0; i + 1 < ucs2.size(); i += 2) {
    const uint8_t lo = ucs2[i], hi = ucs2[i + 1];
    if (lo == 0) return false;
    const bool oneByte = hi == 0;
    if (oneByte != compressed) {
      out.push_back(0);
      compressed = oneByte;
    }
    out.push_back(lo);
    if (!oneByte) out.push_back(hi);
  }
  return true;
}

}  // namespace

size_t appendJet4Text(const std::string& utf8, bool allowCompression, std::vector<uint8_t>& out) {
  const size_t start = out.size();
  if (allowCompression) {
    out.reserve(start + utf8.size() + 2);
    out.push_back(0xFF);
    out.push_back(0xFE);
    bool ok = true;
    // One pass says whether the text is ASCII and whether it holds a zero.
    uint8_t bits = 0;
    bool zero = false;
    for (char c : utf8) {
      bits |= uint8_t(c);
      zero |= c == 0;
    }
    if (bits < 0x80) {
      out.insert(out.end(), utf8.begin(), utf8.end());
      ok = !zero;
    } else {
      for (size_t i = 0; i < utf8.size() && ok;) {
        uint32_t c = nextCodePoint(utf8, i);
        if (c == 0 || c > 0xFF) ok = false;
        else out.push_back(uint8_t(c));
      }
    }
    // Compression is used only when it saves space (the marker costs two bytes).
    const size_t size = out.size() - start;
    if (ok && size < 2 * (size - 2)) return size - 2;  // one byte a character, each one unit
    out.resize(start);
  }
  std::vector<uint8_t> plain = encodeUcs2(utf8);
  std::vector<uint8_t> marked;
  const std::vector<uint8_t>* chosen = &plain;
  // Text mixing one-byte characters with others goes in runs of each kind when that is shorter.
  if (allowCompression && markedSegments(plain, marked) && marked.size() < plain.size()) chosen = &marked;
  else if (plain.size() >= 2 && plain[0] == 0xFF && plain[1] == 0xFE) {
    // Plain text cannot begin with the marker's bytes; when the marked form cannot hold the text
    // either, no stored form reads back as it: refuse it rather than store other text.
    if (!markedSegments(plain, marked))
      throw Error(err::kConversion,
                  "Data type conversion error: text that begins with U+FEFF cannot also hold a character whose "
                  "low byte is zero (such as U+0100).");
    chosen = &marked;
  }
  out.insert(out.end(), chosen->begin(), chosen->end());
  return plain.size() / 2;
}

std::vector<uint8_t> encodeJet4Text(const std::string& utf8, bool allowCompression) {
  std::vector<uint8_t> out;
  appendJet4Text(utf8, allowCompression, out);
  return out;
}

TextCodec::TextCodec(uint16_t codePage) : codePage_(codePage) {
  singleByte_ = !(codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 || codePage == 1361);
  charset_ = codePage == 0 ? "CP1252" : "CP" + std::to_string(codePage);
}

TextCodec::~TextCodec() = default;

namespace {

// Converts with iconv; returns false when the conversion is not available. Decoding (to UTF-8), a
// byte the code page does not define becomes the private-use character kUndefinedBytePrivateBase
// + byte; encoding, such a character becomes that byte again and any other character the code
// page lacks becomes one '?'.
bool convert(const std::string& from, const std::string& to, const char* in, size_t len, std::string& out) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == iconv_t(-1)) return false;
  const bool decoding = to == "UTF-8";
  out.assign(len * 4 + 8, '\0');
  char* src = const_cast<char*>(in);
  size_t srcLeft = len;
  char* dst = out.data();
  size_t dstLeft = out.size();
  while (srcLeft > 0) {
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    if (r != size_t(-1)) break;
    if (errno == E2BIG || dstLeft < 4) break;
    // An unmappable, broken or cut-short sequence.
    std::string rep;
    size_t used = 1;
    if (decoding) {
      appendUtf8(rep, kUndefinedBytePrivateBase + uint8_t(*src));
    } else {
      const std::string next(src, srcLeft < 4 ? srcLeft : 4);
      used = 0;
      uint32_t c = nextCodePoint(next, used);
      bool kept = c >= kUndefinedBytePrivateBase + 0x80 && c <= kUndefinedBytePrivateBase + 0xFF;
      rep.assign(1, kept ? char(c - kUndefinedBytePrivateBase) : '?');
    }
    for (char ch : rep) { *dst++ = ch; --dstLeft; }
    src += used;
    srcLeft -= used;
  }
  out.resize(out.size() - dstLeft);
  iconv_close(cd);
  return true;
}

}  // namespace

void TextCodec::buildSingleByteTable() {
  tableBuilt_ = true;
  table_.assign(256, std::string());
  std::vector<int> undefined;
  for (int b = 0; b < 256; ++b) {
    char in = char(b);
    std::string out, standIn;
    appendUtf8(standIn, kUndefinedBytePrivateBase + uint32_t(b));
    if (b < 0x80) out.assign(1, char(b));
    else if (!convert(charset_, "UTF-8", &in, 1, out) || out.empty() || out == standIn) {
      undefined.push_back(b);
      continue;
    }
    table_[size_t(b)] = out;
    size_t i = 0;
    uint32_t cp = nextCodePoint(out, i);
    if (!reverse_.count(cp)) reverse_[cp] = uint8_t(b);
  }
  // A byte the code page leaves undefined still has to come back as itself when the text is
  // written again, so it decodes to a character no defined byte uses: the Latin-1 character of
  // the same value (for 0x80..0x9F the C1 control, which is what the system's own converters
  // produce), or, when another byte already decodes to that one, a private-use character.
  for (int b : undefined) {
    uint32_t cp = uint32_t(b);
    if (reverse_.count(cp)) cp = kUndefinedBytePrivateBase + uint32_t(b);
    std::string out;
    appendUtf8(out, cp);
    table_[size_t(b)] = out;
    reverse_[cp] = uint8_t(b);
  }
}

void TextCodec::decodeCodePage(const uint8_t* data, size_t len, std::string& out) {
  out.clear();
  if (singleByte_) {
    if (!tableBuilt_) buildSingleByteTable();
    for (size_t i = 0; i < len; ++i) {
      if (data[i] < 0x80) out.push_back(char(data[i]));
      else out += table_[data[i]];
    }
    return;
  }
  if (!convert(charset_, "UTF-8", reinterpret_cast<const char*>(data), len, out))
    out.assign(reinterpret_cast<const char*>(data), len);
}

std::string TextCodec::decodeCodePage(const uint8_t* data, size_t len) {
  std::string out;
  decodeCodePage(data, len, out);
  return out;
}

std::vector<uint8_t> TextCodec::encodeCodePage(const std::string& utf8) {
  std::vector<uint8_t> out;
  if (singleByte_) {
    if (!tableBuilt_) buildSingleByteTable();
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
      uint32_t c = nextCodePoint(utf8, i);
      if (c < 0x80) { out.push_back(uint8_t(c)); continue; }
      auto it = reverse_.find(c);
      out.push_back(it == reverse_.end() ? uint8_t('?') : it->second);
    }
    return out;
  }
  std::string conv;
  if (!convert("UTF-8", charset_, utf8.data(), utf8.size(), conv)) conv = utf8;
  return std::vector<uint8_t>(conv.begin(), conv.end());
}

}  // namespace jet
