// Stored text from damaged files: any bytes decode as Jet 4 text (compressed or UCS-2) and as
// code-page text without failing; what decodes stores again and reads back as the same text, and
// every byte of a single-byte code page survives decoding and encoding unchanged.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "jet/base/text_codec.h"

namespace {

jet::TextCodec& codec(uint8_t which) {
  static jet::TextCodec western(1252), central(1250), cyrillic(1251), greek(1253);
  switch (which % 4) {
    case 0: return western;
    case 1: return central;
    case 2: return cyrillic;
    default: return greek;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const uint8_t* text = data + 1;
  const size_t len = size - 1;

  std::string decoded;
  jet::decodeJet4Text(text, len, decoded);
  // Text led by U+FEFF that also holds a character with a zero low byte has no unambiguous stored
  // form (plain UCS-2 would start with the compression marker); the engine stores it plain.
  const std::vector<uint8_t> plain = jet::encodeUcs2(decoded);
  bool ambiguous = plain.size() >= 2 && plain[0] == 0xFF && plain[1] == 0xFE;
  bool zeroLow = false;
  for (size_t i = 0; i + 1 < plain.size(); i += 2) zeroLow = zeroLow || plain[i] == 0;
  ambiguous = ambiguous && zeroLow;
  for (bool compress : {false, true}) {
    if (ambiguous) break;
    std::vector<uint8_t> stored = jet::encodeJet4Text(decoded, compress);
    std::string again;
    jet::decodeJet4Text(stored.data(), stored.size(), again);
    if (again != decoded) std::abort();
  }

  jet::TextCodec& c = codec(mode);
  std::string local = c.decodeCodePage(text, len);
  std::vector<uint8_t> back = c.encodeCodePage(local);
  if (back != std::vector<uint8_t>(text, text + len)) std::abort();
  return 0;
}
