#include "jet/support/encrypted_copy.h"

#include <fstream>

#include "jet/base/bytes.h"
#include "jet/base/crypto.h"
#include "jet/base/rc4.h"
#include "jet/base/text_codec.h"
#include "jet/storage/header.h"

namespace jettest {

namespace {

using jet::crypto::Bytes;
using jet::crypto::View;

constexpr size_t kPage = 4096;

Bytes fit(Bytes b, size_t n) {
  b.resize(n, 0x36);
  return b;
}

Bytes sequence(size_t n, uint8_t from) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(from + 7 * i);
  return b;
}

Bytes encrypt(View key, View iv, Bytes data) {
  data.resize((data.size() + 15) / 16 * 16, 0);
  jet::crypto::aesCbcEncrypt(key, iv, data.data(), data.size());
  return data;
}

std::string attr(const Encryption& e, const std::string& name, const std::string& value) {
  return " " + name + "=" + e.quote + value + e.quote;
}

std::string cipherAttrs(const Encryption& e, const Bytes& salt, size_t hashSize) {
  return attr(e, "saltSize", std::to_string(salt.size())) + attr(e, "blockSize", "16") +
         attr(e, "keyBits", std::to_string(e.keyBits)) + attr(e, "hashSize", std::to_string(hashSize)) +
         attr(e, "cipherAlgorithm", "AES") + attr(e, "cipherChaining", "ChainingModeCBC") +
         attr(e, "hashAlgorithm", e.hash) + attr(e, "saltValue", jet::crypto::base64Encode(salt));
}

// The agile kind: its information block, and the pages encrypted.
Bytes agile(const Encryption& e, Bytes& file) {
  const jet::crypto::Hash hash = *jet::crypto::hashNamed(e.hash);
  const size_t hashSize = jet::crypto::hashSize(hash);
  const size_t keyBytes = e.keyBits / 8;
  auto h = [&](std::initializer_list<View> parts) { return jet::crypto::digest(hash, parts); };

  const Bytes dataSalt = sequence(16, 0x11), passwordSalt = sequence(16, 0x5c);
  const Bytes secret = sequence(keyBytes, 0xa0), verifier = sequence(16, 0x33);
  const Bytes units = jet::encodeUcs2(e.password);
  Bytes spun = h({passwordSalt, units});
  for (uint32_t i = 0; i < e.spinCount; ++i) {
    uint8_t n[4];
    jet::put32(n, i);
    spun = h({n, spun});
  }
  auto key = [&](std::initializer_list<uint8_t> block) {
    const Bytes b(block);
    return fit(h({spun, b}), keyBytes);
  };
  const Bytes iv = fit(passwordSalt, 16);
  const Bytes verifierInput = encrypt(key({0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79}), iv, verifier);
  const Bytes verifierHash = encrypt(key({0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e}), iv, h({verifier}));
  const Bytes keyValue = encrypt(key({0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6}), iv, secret);

  const std::string p = e.prefix.empty() ? "" : e.prefix + ":";
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                    "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\"";
  xml += e.prefix.empty() ? "" : " xmlns:" + e.prefix + "=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\"";
  xml += " xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">";
  xml += "<keyData" + cipherAttrs(e, dataSalt, hashSize) + "/><keyEncryptors>";
  if (e.certificateFirst)
    xml += "<keyEncryptor uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">"
           "<c:encryptedKey encryptedKeyValue=\"AAAA\" X509Certificate=\"AAAA\" certVerifier=\"AAAA\"/></keyEncryptor>";
  xml += "<keyEncryptor uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">";
  xml += "<" + p + "encryptedKey" + attr(e, "spinCount", std::to_string(e.spinCount)) + cipherAttrs(e, passwordSalt, hashSize) +
         attr(e, "encryptedVerifierHashInput", jet::crypto::base64Encode(verifierInput)) +
         attr(e, "encryptedVerifierHashValue", jet::crypto::base64Encode(verifierHash)) +
         attr(e, "encryptedKeyValue", jet::crypto::base64Encode(keyValue)) + "/>";
  xml += "</keyEncryptor></keyEncryptors></encryption>";

  for (size_t n = 1; n < file.size() / kPage; ++n) {
    uint8_t block[4];
    jet::put32(block, e.databaseKey ^ uint32_t(n));
    const Bytes pageIv = fit(h({dataSalt, block}), 16);
    jet::crypto::aesCbcEncrypt(secret, pageIv, &file[n * kPage], kPage);
  }
  Bytes info = {4, 0, 4, 0, 0x40, 0, 0, 0};
  info.insert(info.end(), xml.begin(), xml.end());
  return info;
}

// The CryptoAPI kinds: a binary header and verifier, SHA-1, a key per page.
Bytes cryptoApi(const Encryption& e, Bytes& file) {
  using jet::crypto::Hash;
  const bool unflagged = e.kind == Encryption::Kind::CryptoApiAesUnflagged;
  const bool aes = e.kind == Encryption::Kind::CryptoApiAes || unflagged;
  const size_t keyBytes = e.keyBits / 8;
  const Bytes salt = sequence(16, 0x21), verifier = sequence(16, 0x42);
  Bytes base = jet::crypto::digest(Hash::Sha1, {salt, jet::encodeUcs2(e.password)});
  if (aes && !unflagged)
    for (uint32_t i = 0; i < 50000; ++i) {
      uint8_t n[4];
      jet::put32(n, i);
      base = jet::crypto::digest(Hash::Sha1, {n, base});
    }
  auto key = [&](uint32_t blockKey) {
    uint8_t b[4];
    jet::put32(b, blockKey);
    Bytes h = jet::crypto::digest(Hash::Sha1, {base, b});
    if (!aes) {
      h.resize(keyBytes);
      if (keyBytes == 5) h.resize(16, 0);
      return h;
    }
    Bytes x1(64, 0x36), x2(64, 0x5C);
    for (size_t i = 0; i < h.size(); ++i) x1[i] ^= h[i], x2[i] ^= h[i];
    Bytes k = jet::crypto::digest(Hash::Sha1, {x1});
    const Bytes k2 = jet::crypto::digest(Hash::Sha1, {x2});
    k.insert(k.end(), k2.begin(), k2.end());
    k.resize(keyBytes);
    return k;
  };
  auto cipher = [&](uint32_t blockKey, uint8_t* data, size_t len) {
    const Bytes k = key(blockKey);
    if (aes) jet::crypto::aesEcbEncrypt(k, data, len);
    else jet::rc4Apply(k.data(), k.size(), data, len);
  };
  Bytes check = verifier;
  Bytes hash = jet::crypto::digest(Hash::Sha1, {verifier});
  if (aes) {
    hash.resize(32, 0);
    cipher(0, check.data(), check.size());
    cipher(0, hash.data(), hash.size());
  } else {
    Bytes both = check;
    both.insert(both.end(), hash.begin(), hash.end());
    cipher(0, both.data(), both.size());
    check.assign(both.begin(), both.begin() + 16);
    hash.assign(both.begin() + 16, both.end());
  }
  for (size_t n = 1; n < file.size() / kPage; ++n) cipher(e.databaseKey ^ uint32_t(n), &file[n * kPage], kPage);

  const uint32_t flags = 0x04 | (aes && !unflagged ? 0x20 : 0);
  const uint32_t algId = aes ? (e.keyBits == 128 ? 0x660E : e.keyBits == 192 ? 0x660F : 0x6610) : 0x6801;
  Bytes header;
  for (uint32_t v : {flags, 0u, algId, 0x8004u, e.keyBits, aes ? 0x18u : 0x01u, 0u, 0u}) jet::le::append32(header, v);
  const Bytes csp = jet::encodeUcs2(e.provider);
  header.insert(header.end(), csp.begin(), csp.end());
  header.push_back(0), header.push_back(0);
  Bytes info = {4, 0, 2, 0};
  jet::le::append32(info, flags);
  jet::le::append32(info, uint32_t(header.size()));
  info.insert(info.end(), header.begin(), header.end());
  jet::le::append32(info, 16);
  info.insert(info.end(), salt.begin(), salt.end());
  info.insert(info.end(), check.begin(), check.end());
  jet::le::append32(info, 20);
  info.insert(info.end(), hash.begin(), hash.end());
  return info;
}

}  // namespace

bool writeEncryptedCopy(const std::string& from, const std::string& to, const Encryption& e) {
  std::ifstream in(from, std::ios::binary);
  Bytes file((std::istreambuf_iterator<char>(in)), {});
  if (!in.eof() && !in) return false;
  if (file.size() < 2 * kPage || file.size() % kPage != 0) return false;
  const Bytes info = e.kind == Encryption::Kind::Agile ? agile(e, file) : cryptoApi(e, file);
  // Page 0: the database key in the masked block, the encryption information at 0x299.
  jet::maskHeaderBlock(jet::Format::Jet4Layout, file.data(), kPage);
  jet::put32(&file[0x3E], e.databaseKey);
  jet::maskHeaderBlock(jet::Format::Jet4Layout, file.data(), kPage);
  if (0x29B + info.size() > kPage) return false;
  jet::put16(&file[0x299], uint16_t(info.size()));
  std::copy(info.begin(), info.end(), file.begin() + 0x29B);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  return bool(out);
}

}  // namespace jettest
