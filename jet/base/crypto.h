// Hashes and block ciphers for encrypted files, from OpenSSL's libcrypto.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace jet::crypto {

using Bytes = std::vector<uint8_t>;
using View = std::span<const uint8_t>;

enum class Hash { Md5, Sha1, Sha256, Sha384, Sha512 };

// The hash an encryption descriptor names ("SHA512", "SHA-1", ...); nothing for one not known.
std::optional<Hash> hashNamed(std::string_view name);
size_t hashSize(Hash hash);
// The hash of the parts one after the other.
Bytes digest(Hash hash, std::initializer_list<View> parts);

// AES in CBC mode without padding, in place: `len` a multiple of 16, `key` 16, 24 or 32 bytes,
// `iv` 16 bytes. Throws std::invalid_argument for other sizes.
void aesCbcDecrypt(View key, View iv, uint8_t* data, size_t len);
void aesCbcEncrypt(View key, View iv, uint8_t* data, size_t len);
// The same in ECB mode (each block on its own).
void aesEcbDecrypt(View key, uint8_t* data, size_t len);
void aesEcbEncrypt(View key, uint8_t* data, size_t len);

// Standard base64 (whitespace between the characters allowed); nothing when malformed.
std::optional<Bytes> base64Decode(std::string_view text);
std::string base64Encode(View bytes);

}  // namespace jet::crypto
