// The descriptor's binary values are base64: padding only at the end, nothing but the alphabet,
// whitespace between characters ignored; anything else is refused rather than half-decoded.
#include "jet/base/crypto.h"

#include <gtest/gtest.h>

namespace {

TEST(Crypto, Base64TakesOnlyWellFormedText) {
  const jet::crypto::Bytes bytes = {0x00, 0xFB, 0xFF, 0x10, 0x7E};
  for (size_t n = 0; n <= bytes.size(); ++n) {
    const jet::crypto::Bytes part(bytes.begin(), bytes.begin() + long(n));
    const std::string text = jet::crypto::base64Encode(part);
    EXPECT_EQ(text.size() % 4, 0u);
    EXPECT_EQ(jet::crypto::base64Decode(text), part) << text;
  }
  EXPECT_EQ(jet::crypto::base64Decode("Zm9v\r\n YmFy"), (jet::crypto::Bytes{'f', 'o', 'o', 'b', 'a', 'r'}));
  for (const char* bad : {"Zm9", "Zm=v", "Z===", "====", "Zm9v!A==", "Zm9-", "Zg=\"="})
    EXPECT_FALSE(jet::crypto::base64Decode(bad)) << bad;
}

}  // namespace
