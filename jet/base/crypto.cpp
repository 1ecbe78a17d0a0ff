#include "jet/base/crypto.h"

#include <dlfcn.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>

#include <cctype>
#include <memory>
#include <stdexcept>
#include <string>

#include "jet/base/names.h"

namespace jet::crypto {

namespace {

// OpenSSL's libcrypto is loaded the first time it is needed (an encrypted file, Base64), not at
// every start of the program: its relocations alone cost a start a few milliseconds, which
// most commands would pay for nothing.
#define TABULONIX_OPENSSL(X)                                                                          \
  X(EVP_md5) X(EVP_sha1) X(EVP_sha256) X(EVP_sha384) X(EVP_sha512) X(EVP_aes_128_cbc) X(EVP_aes_128_ecb) \
  X(EVP_aes_192_cbc) X(EVP_aes_192_ecb) X(EVP_aes_256_cbc) X(EVP_aes_256_ecb) X(EVP_CIPHER_CTX_new)      \
  X(EVP_CIPHER_CTX_free) X(EVP_CipherInit_ex) X(EVP_CIPHER_CTX_set_padding) X(EVP_CipherUpdate)         \
  X(EVP_CipherFinal_ex) X(EVP_MD_get_size) X(EVP_MD_CTX_new) X(EVP_MD_CTX_free) X(EVP_DigestInit_ex)    \
  X(EVP_DigestUpdate) X(EVP_DigestFinal_ex) X(EVP_DecodeBlock) X(EVP_EncodeBlock)

struct OpenSsl {
#define TABULONIX_MEMBER(f) decltype(&::f) f = nullptr;
  TABULONIX_OPENSSL(TABULONIX_MEMBER)
#undef TABULONIX_MEMBER
};

const OpenSsl& ssl() {
  static const OpenSsl loaded = [] {
    const std::string soname = "libcrypto.so." + std::to_string(OPENSSL_VERSION_MAJOR);
    void* lib = ::dlopen(soname.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) throw std::runtime_error("OpenSSL's " + soname + " cannot be loaded: " + ::dlerror());
    OpenSsl o;
#define TABULONIX_LOAD(f)                                              \
    o.f = reinterpret_cast<decltype(&::f)>(::dlsym(lib, #f));          \
    if (!o.f) throw std::runtime_error(soname + " lacks " #f);
    TABULONIX_OPENSSL(TABULONIX_LOAD)
#undef TABULONIX_LOAD
    return o;
  }();
  return loaded;
}

const EVP_MD* md(Hash hash) {
  switch (hash) {
    case Hash::Md5: return ssl().EVP_md5();
    case Hash::Sha1: return ssl().EVP_sha1();
    case Hash::Sha256: return ssl().EVP_sha256();
    case Hash::Sha384: return ssl().EVP_sha384();
    case Hash::Sha512: return ssl().EVP_sha512();
  }
  return ssl().EVP_sha512();
}

const EVP_CIPHER* aes(size_t keyLen, bool chained) {
  switch (keyLen) {
    case 16: return chained ? ssl().EVP_aes_128_cbc() : ssl().EVP_aes_128_ecb();
    case 24: return chained ? ssl().EVP_aes_192_cbc() : ssl().EVP_aes_192_ecb();
    case 32: return chained ? ssl().EVP_aes_256_cbc() : ssl().EVP_aes_256_ecb();
  }
  throw std::invalid_argument("AES takes keys of 128, 192 or 256 bits");
}

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&::EVP_CIPHER_CTX_free)>;
using DigestCtx = std::unique_ptr<EVP_MD_CTX, decltype(&::EVP_MD_CTX_free)>;

void aes(bool encrypt, bool chained, View key, View iv, uint8_t* data, size_t len) {
  const EVP_CIPHER* cipher = aes(key.size(), chained);
  if (chained && iv.size() != 16) throw std::invalid_argument("AES takes a 16-byte initialisation vector");
  if (len % 16 != 0) throw std::invalid_argument("AES without padding takes whole 16-byte blocks");
  CipherCtx ctx(ssl().EVP_CIPHER_CTX_new(), ssl().EVP_CIPHER_CTX_free);
  int out = 0, last = 0;
  if (!ctx || ssl().EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), chained ? iv.data() : nullptr, encrypt ? 1 : 0) != 1 ||
      ssl().EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      ssl().EVP_CipherUpdate(ctx.get(), data, &out, data, int(len)) != 1 ||
      ssl().EVP_CipherFinal_ex(ctx.get(), data + out, &last) != 1)
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

size_t hashSize(Hash hash) { return size_t(ssl().EVP_MD_get_size(md(hash))); }

Bytes digest(Hash hash, std::initializer_list<View> parts) {
  DigestCtx ctx(ssl().EVP_MD_CTX_new(), ssl().EVP_MD_CTX_free);
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  bool ok = ctx && ssl().EVP_DigestInit_ex(ctx.get(), md(hash), nullptr) == 1;
  for (View part : parts) ok = ok && ssl().EVP_DigestUpdate(ctx.get(), part.data(), part.size()) == 1;
  if (!ok || ssl().EVP_DigestFinal_ex(ctx.get(), out.data(), &len) != 1) throw std::runtime_error("the hash failed");
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
  const int n = ssl().EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(clean.data()), int(clean.size()));
  if (n < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding's bytes as data.
  out.resize(size_t(n) - pad);
  return out;
}

std::string base64Encode(View bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = ssl().EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(), int(bytes.size()));
  out.resize(size_t(n));
  return out;
}

}  // namespace jet::crypto
