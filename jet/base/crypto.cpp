#include "jet/base/crypto.h"

#include <openssl/evp.h>

#include <cctype>
#include <memory>
#include <stdexcept>
#include <string>

#include "jet/base/names.h"

namespace jet::crypto {

namespace {

const EVP_MD* md(Hash hash) {
  switch (hash) {
    case Hash::Md5: return EVP_md5();
    case Hash::Sha1: return EVP_sha1();
    case Hash::Sha256: return EVP_sha256();
    case Hash::Sha384: return EVP_sha384();
    case Hash::Sha512: return EVP_sha512();
  }
  return EVP_sha512();
}

const EVP_CIPHER* aes(size_t keyLen, bool chained) {
  switch (keyLen) {
    case 16: return chained ? EVP_aes_128_cbc() : EVP_aes_128_ecb();
    case 24: return chained ? EVP_aes_192_cbc() : EVP_aes_192_ecb();
    case 32: return chained ? EVP_aes_256_cbc() : EVP_aes_256_ecb();
  }
  throw std::invalid_argument("AES takes keys of 128, 192 or 256 bits");
}

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;
using DigestCtx = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

void aes(bool encrypt, bool chained, View key, View iv, uint8_t* data, size_t len) {
  const EVP_CIPHER* cipher = aes(key.size(), chained);
  if (chained && iv.size() != 16) throw std::invalid_argument("AES takes a 16-byte initialisation vector");
  if (len % 16 != 0) throw std::invalid_argument("AES without padding takes whole 16-byte blocks");
  CipherCtx ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
  int out = 0, last = 0;
  if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), chained ? iv.data() : nullptr, encrypt ? 1 : 0) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_CipherUpdate(ctx.get(), data, &out, data, int(len)) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), data + out, &last) != 1)
    throw std::runtime_error("the AES cipher failed");
}

}  // namespace

std::optional<Hash> hashNamed(std::string_view name) {
  static const struct { const char* name; Hash hash; } kNames[] = {
      {"MD5", Hash::Md5},       {"SHA1", Hash::Sha1},     {"SHA-1", Hash::Sha1},
      {"SHA256", Hash::Sha256}, {"SHA-256", Hash::Sha256}, {"SHA384", Hash::Sha384},
      {"SHA-384", Hash::Sha384}, {"SHA512", Hash::Sha512}, {"SHA-512", Hash::Sha512}};
  for (const auto& n : kNames)
    if (sameName(name, n.name)) return n.hash;
  return std::nullopt;
}

size_t hashSize(Hash hash) { return size_t(EVP_MD_get_size(md(hash))); }

Bytes digest(Hash hash, std::initializer_list<View> parts) {
  DigestCtx ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  bool ok = ctx && EVP_DigestInit_ex(ctx.get(), md(hash), nullptr) == 1;
  for (View part : parts) ok = ok && EVP_DigestUpdate(ctx.get(), part.data(), part.size()) == 1;
  if (!ok || EVP_DigestFinal_ex(ctx.get(), out.data(), &len) != 1) throw std::runtime_error("the hash failed");
  out.resize(len);
  return out;
}

void aesCbcDecrypt(View key, View iv, uint8_t* data, size_t len) { aes(false, true, key, iv, data, len); }
void aesCbcEncrypt(View key, View iv, uint8_t* data, size_t len) { aes(true, true, key, iv, data, len); }
void aesEcbDecrypt(View key, uint8_t* data, size_t len) { aes(false, false, key, {}, data, len); }
void aesEcbEncrypt(View key, uint8_t* data, size_t len) { aes(true, false, key, {}, data, len); }

std::optional<Bytes> base64Decode(std::string_view text) {
  std::string clean;
  clean.reserve(text.size());
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) clean.push_back(c);
  if (clean.size() % 4 != 0) return std::nullopt;
  // Padding only at the end, at most two; EVP_DecodeBlock would take it anywhere.
  size_t pad = 0;
  while (pad < clean.size() && clean[clean.size() - 1 - pad] == '=') ++pad;
  if (pad > 2) return std::nullopt;
  for (size_t i = 0; i + pad < clean.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(clean[i]);
    if (!std::isalnum(c) && c != '+' && c != '/') return std::nullopt;
  }
  Bytes out(clean.size() / 4 * 3);
  const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(clean.data()), int(clean.size()));
  if (n < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding's bytes as data.
  out.resize(size_t(n) - pad);
  return out;
}

std::string base64Encode(View bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), int(bytes.size()));
  out.resize(size_t(n));
  return out;
}

}  // namespace jet::crypto
