// Text as the file stores it, to and from UTF-8.
//
// Jet 4 keeps UCS-2, optionally "compressed": the bytes FF FE, then runs of one-byte characters
// (the low byte of characters below 256) and two-byte characters, each 00 byte switching between
// the two. Jet 3 keeps text in the database's code page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace jet {

// An undefined code-page byte b decodes to U+00b when the code page is single-byte and no defined
// byte decodes to that character, otherwise (always in double-byte code pages) to this base + b,
// in the private-use area.
constexpr uint32_t kUndefinedBytePrivateBase = 0xF700;

void appendUtf8(std::string& out, uint32_t codePoint);

// UCS-2 / UTF-16 little-endian to UTF-8 (an odd trailing byte is dropped).
std::string decodeUcs2(const uint8_t* data, size_t len);
void decodeUcs2(const uint8_t* data, size_t len, std::string& out);
// UTF-8 to UTF-16 little-endian; malformed UTF-8 bytes become U+FFFD.
std::vector<uint8_t> encodeUcs2(const std::string& utf8);

// Jet 4 text: compressed (FF FE ...) or plain UCS-2, decoded into `out` (replacing its contents).
void decodeJet4Text(const uint8_t* data, size_t len, std::string& out);
// Jet 4 text for storage. With `allowCompression`, text of characters 1..255 only is stored
// compressed (one byte per character) when that is shorter, and text mixing them with other
// characters in the marked form (runs of each kind) when that is shorter; anything else as plain
// UCS-2, except text starting with U+FEFF, which plain would make look compressed and so goes in
// the marked form.
std::vector<uint8_t> encodeJet4Text(const std::string& utf8, bool allowCompression);
// The same appended to `out`; returns the text's length in UTF-16 units (utf16Length).
size_t appendJet4Text(const std::string& utf8, bool allowCompression, std::vector<uint8_t>& out);

// Number of UTF-16 units of a UTF-8 text (the length Jet counts in characters).
size_t utf16Length(const std::string& utf8);
// UTF-8 to UTF-16 units, malformed bytes as U+FFFD: the units encodeUcs2 stores.
std::u16string utf8ToUtf16(const std::string& utf8);

// Code-page text (Jet 3) through a per-database converter. Every byte of a single-byte code page
// decodes to a character that encodes back to that byte, including bytes the code page leaves
// undefined (see kUndefinedBytePrivateBase), so text read and written again is unchanged.
class TextCodec {
 public:
  explicit TextCodec(uint16_t codePage);
  ~TextCodec();
  TextCodec(const TextCodec&) = delete;
  TextCodec& operator=(const TextCodec&) = delete;

  uint16_t codePage() const { return codePage_; }
  std::string decodeCodePage(const uint8_t* data, size_t len);
  void decodeCodePage(const uint8_t* data, size_t len, std::string& out);
  // Characters the code page lacks become '?'; the characters undefined bytes decode to become
  // those bytes again.
  std::vector<uint8_t> encodeCodePage(const std::string& utf8);

 private:
  void buildSingleByteTable();
  uint16_t codePage_;
  bool singleByte_;
  bool tableBuilt_ = false;
  std::string charset_;
  std::vector<std::string> table_;                 // byte -> UTF-8, single-byte code pages
  std::unordered_map<uint32_t, uint8_t> reverse_;  // code point -> byte
};

}  // namespace jet
