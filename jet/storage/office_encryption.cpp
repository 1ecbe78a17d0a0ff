#include "jet/storage/office_encryption.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iterator>
#include <map>
#include <optional>

#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/base/rc4.h"
#include "jet/base/text_codec.h"

namespace jet {

namespace {

using crypto::Bytes;
using crypto::View;

constexpr const char* kPasswordEncryptorUri = "http://schemas.microsoft.com/office/2006/keyEncryptor/password";
// The block keys that set the password's derived keys apart by purpose.
constexpr uint8_t kVerifierInputBlock[8] = {0xfe, 0xa7, 0xd2, 0x76, 0x3b, 0x4b, 0x9e, 0x79};
constexpr uint8_t kVerifierHashBlock[8] = {0xd7, 0xaa, 0x0f, 0x6d, 0x30, 0x61, 0x34, 0x4e};
constexpr uint8_t kSecretKeyBlock[8] = {0x14, 0x6e, 0x0b, 0xe7, 0xab, 0xac, 0xd0, 0xd6};
// Passwords count at most this many UTF-16 units; the format caps the hashing rounds.
constexpr size_t kMaxPasswordUnits = 255;
constexpr uint32_t kMaxSpinCount = 10000000;

[[noreturn]] void damaged(const std::string& what) { throwCorrupt("its encryption descriptor " + what); }

[[noreturn]] void unsupported(const std::string& what) {
  throw Error(err::kCannotOpenFile, "The database is encrypted with " + what + ", which this program cannot read.");
}

// ---------------------------------------------------------------------------------------------
// The descriptor's XML: only start tags and their attributes matter.

struct Tag {
  std::string name;  // local name, without a namespace prefix
  std::map<std::string, std::string> attributes;
  int depth = 0;
};

std::string localName(std::string_view qualified) {
  const auto colon = qualified.find(':');
  return std::string(colon == std::string_view::npos ? qualified : qualified.substr(colon + 1));
}

std::string unescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out.push_back(text[i]);
      continue;
    }
    const auto semi = text.find(';', i);
    if (semi == std::string_view::npos) damaged("has a stray '&'");
    const std::string_view entity = text.substr(i + 1, semi - i - 1);
    if (entity == "amp") out.push_back('&');
    else if (entity == "lt") out.push_back('<');
    else if (entity == "gt") out.push_back('>');
    else if (entity == "quot") out.push_back('"');
    else if (entity == "apos") out.push_back('\'');
    else if (entity.size() > 1 && entity[0] == '#') {
      uint32_t code = 0;
      const bool hex = entity[1] == 'x' || entity[1] == 'X';
      const char* first = entity.data() + (hex ? 2 : 1);
      const auto r = std::from_chars(first, entity.data() + entity.size(), code, hex ? 16 : 10);
      if (r.ec != std::errc() || r.ptr != entity.data() + entity.size() || code > 0x10FFFF) damaged("has a bad character reference");
      appendUtf8(out, code);
    } else {
      damaged("has an unknown entity");
    }
    i = semi;
  }
  return out;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<Tag> startTags(std::string_view xml) {
  std::vector<Tag> tags;
  int depth = 0;
  size_t i = 0;
  auto skipPast = [&](std::string_view end) {
    const auto at = xml.find(end, i);
    if (at == std::string_view::npos) damaged("is cut short");
    i = at + end.size();
  };
  while ((i = xml.find('<', i)) != std::string_view::npos) {
    const std::string_view rest = xml.substr(i);
    if (rest.starts_with("<?")) { skipPast("?>"); continue; }
    if (rest.starts_with("<!--")) { skipPast("-->"); continue; }
    if (rest.starts_with("<![CDATA[")) { skipPast("]]>"); continue; }
    if (rest.starts_with("<!")) { skipPast(">"); continue; }
    if (rest.starts_with("</")) {
      skipPast(">");
      if (--depth < 0) damaged("closes an element it never opened");
      continue;
    }
    ++i;
    size_t start = i;
    while (i < xml.size() && !isSpace(xml[i]) && xml[i] != '>' && xml[i] != '/') ++i;
    Tag tag;
    tag.name = localName(xml.substr(start, i - start));
    tag.depth = depth;
    bool closed = false;
    for (;;) {
      while (i < xml.size() && isSpace(xml[i])) ++i;
      if (i >= xml.size()) damaged("is cut short");
      if (xml[i] == '>') { ++i; break; }
      if (xml[i] == '/') {
        if (i + 1 >= xml.size() || xml[i + 1] != '>') damaged("has a malformed tag");
        i += 2;
        closed = true;
        break;
      }
      start = i;
      while (i < xml.size() && !isSpace(xml[i]) && xml[i] != '=' && xml[i] != '>') ++i;
      const std::string name(xml.substr(start, i - start));
      while (i < xml.size() && isSpace(xml[i])) ++i;
      if (i >= xml.size() || xml[i] != '=') damaged("has an attribute without a value");
      ++i;
      while (i < xml.size() && isSpace(xml[i])) ++i;
      if (i >= xml.size() || (xml[i] != '"' && xml[i] != '\'')) damaged("has an unquoted attribute");
      const char quote = xml[i++];
      const auto end = xml.find(quote, i);
      if (end == std::string_view::npos) damaged("is cut short");
      tag.attributes[name] = unescape(xml.substr(i, end - i));
      i = end + 1;
    }
    if (tag.name.empty()) damaged("has a tag without a name");
    tags.push_back(std::move(tag));
    if (!closed) ++depth;
  }
  if (depth != 0) damaged("is cut short");
  return tags;
}

const std::string& attribute(const Tag& tag, const std::string& name) {
  const auto it = tag.attributes.find(name);
  if (it == tag.attributes.end()) damaged("lacks " + tag.name + "/@" + name);
  return it->second;
}

uint32_t number(const Tag& tag, const std::string& name) {
  const std::string& text = attribute(tag, name);
  uint32_t v = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) damaged("has a bad number in " + tag.name + "/@" + name);
  return v;
}

Bytes binary(const Tag& tag, const std::string& name) {
  auto bytes = crypto::base64Decode(attribute(tag, name));
  if (!bytes) damaged("has bad base64 in " + tag.name + "/@" + name);
  return *std::move(bytes);
}

CipherParams cipherParams(const Tag& tag) {
  if (attribute(tag, "cipherAlgorithm") != "AES") unsupported("the cipher " + attribute(tag, "cipherAlgorithm"));
  if (attribute(tag, "cipherChaining") != "ChainingModeCBC") unsupported("the chaining " + attribute(tag, "cipherChaining"));
  const auto hash = crypto::hashNamed(attribute(tag, "hashAlgorithm"));
  if (!hash) unsupported("the hash " + attribute(tag, "hashAlgorithm"));
  CipherParams p;
  p.hash = *hash;
  p.hashSize = crypto::hashSize(*hash);
  const uint32_t bits = number(tag, "keyBits");
  if (bits != 128 && bits != 192 && bits != 256) damaged("asks for AES keys of " + std::to_string(bits) + " bits");
  p.keyBytes = bits / 8;
  p.blockSize = number(tag, "blockSize");
  if (p.blockSize != 16) damaged("gives AES blocks of " + std::to_string(p.blockSize) + " bytes");
  if (number(tag, "hashSize") != p.hashSize) damaged("gives a hash size its hash does not have");
  p.salt = binary(tag, "saltValue");
  if (p.salt.empty() || p.salt.size() != number(tag, "saltSize")) damaged("gives a salt of the wrong size");
  return p;
}

// Cut or padded to `n` bytes.
Bytes fit(Bytes bytes, size_t n, uint8_t pad) {
  bytes.resize(n, pad);
  return bytes;
}

// The password as the keys hash it: UTF-16, at most 255 units.
Bytes passwordUnits(const std::string& password) {
  Bytes units = encodeUcs2(password);
  if (units.size() > 2 * kMaxPasswordUnits) units.resize(2 * kMaxPasswordUnits);
  return units;
}

Bytes decrypted(View key, View iv, const Bytes& data, size_t keep, const char* what) {
  if (data.size() % 16 != 0 || data.size() < keep) damaged(std::string("has an encrypted ") + what + " of the wrong size");
  Bytes out = data;
  crypto::aesCbcDecrypt(key, iv, out.data(), out.size());
  out.resize(keep);
  return out;
}

class AgileCodec : public PageCodec {
 public:
  AgileCodec(const CipherParams& data, Bytes key, uint32_t databaseKey)
      : data_(data), key_(std::move(key)), databaseKey_(databaseKey) {}
  void decode(uint32_t number, uint8_t* page, size_t len) const override {
    crypto::aesCbcDecrypt(key_, iv(number), page, len);
  }
  void encode(uint32_t number, uint8_t* page, size_t len) const override {
    crypto::aesCbcEncrypt(key_, iv(number), page, len);
  }

 private:
  Bytes iv(uint32_t number) const {
    uint8_t block[4];
    put32(block, databaseKey_ ^ number);
    return fit(crypto::digest(data_.hash, {data_.salt, block}), data_.blockSize, 0x36);
  }
  CipherParams data_;
  Bytes key_;
  uint32_t databaseKey_;
};

// ---------------------------------------------------------------------------------------------
// The CryptoAPI encryptions of Access 2007 (and of later versions set to their legacy encryption):
// a binary header and verifier instead of the XML descriptor, SHA-1 throughout, and a key per page
// made from the hashed password and the page's block key: RC4 over the page, or AES in ECB mode
// (standard encryption).

constexpr uint32_t kFlagCryptoApi = 0x04;
constexpr uint32_t kFlagAes = 0x20;
constexpr uint32_t kFlagExternal = 0x10;
constexpr uint32_t kAlgRc4 = 0x6801, kAlgAes128 = 0x660E, kAlgAes192 = 0x660F, kAlgAes256 = 0x6610;
constexpr uint32_t kAlgSha1 = 0x8004;
constexpr uint32_t kStandardSpinCount = 50000;

struct CryptoApiInfo {
  bool aes = false;
  uint32_t spinCount = 0;  // AES only
  size_t keyBytes = 0;
  Bytes salt;
  Bytes encryptedVerifier;
  uint32_t verifierHashSize = 0;
  Bytes encryptedVerifierHash;
};

CryptoApiInfo parseCryptoApiInfo(const uint8_t* info, size_t len) {
  auto need = [&](size_t end) {
    if (end > len) throwCorrupt("its encryption header is cut short");
  };
  need(12);
  const uint32_t headerSize = le32(info + 8);
  if (headerSize < 32 || headerSize > len) throwCorrupt("its encryption header is cut short");
  need(12 + size_t(headerSize));
  const uint8_t* h = info + 12;
  const uint32_t flags = le32(h), algId = le32(h + 8), hashId = le32(h + 12);
  uint32_t keyBits = le32(h + 16);
  if (flags & kFlagExternal) unsupported("an external encryption provider");
  if (!(flags & kFlagCryptoApi)) unsupported("an unknown kind of Office encryption");
  CryptoApiInfo c;
  switch (algId) {
    case 0: c.aes = (flags & kFlagAes) != 0; if (keyBits == 0 && c.aes) keyBits = 128; break;
    case kAlgRc4: c.aes = false; break;
    case kAlgAes128: case kAlgAes192: case kAlgAes256: {
      c.aes = true;
      const uint32_t bits = algId == kAlgAes128 ? 128 : algId == kAlgAes192 ? 192 : 256;
      if (keyBits == 0) keyBits = bits;
      if (keyBits != bits) throwCorrupt("its encryption header gives AES a key of the wrong size");
      break;
    }
    default: unsupported("the cipher number " + std::to_string(algId));
  }
  if (hashId != 0 && hashId != kAlgSha1) unsupported("a hash other than SHA-1");
  // AES named by the header but not by the flags is the "non-standard" AES of files saved outside
  // compatibility mode: its password hash is not spun.
  const bool aesFlag = ((flags | le32(info + 4)) & kFlagAes) != 0;
  if (aesFlag && !c.aes) throwCorrupt("its encryption header's flags contradict its cipher");
  c.spinCount = aesFlag ? kStandardSpinCount : 0;
  if (c.aes && keyBits != 128 && keyBits != 192 && keyBits != 256)
    throwCorrupt("its encryption header gives AES a key of " + std::to_string(keyBits) + " bits");
  if (!c.aes && keyBits == 0) {
    // The provider's default: 40 bits for the base provider (or none named), 128 for the others.
    std::string csp = decodeUcs2(h + 32, (headerSize - 32) & ~size_t(1));
    csp = csp.substr(0, csp.find('\0'));
    for (char& ch : csp) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    keyBits = csp.empty() || csp.find(" base ") != std::string::npos ? 40 : 128;
  }
  if (!c.aes && (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0))
    throwCorrupt("its encryption header gives RC4 a key of " + std::to_string(keyBits) + " bits");
  c.keyBytes = keyBits / 8;
  const size_t v = 12 + size_t(headerSize);
  need(v + 40);
  if (le32(info + v) != 16) throwCorrupt("its encryption verifier has a salt of the wrong size");
  c.salt.assign(info + v + 4, info + v + 20);
  c.encryptedVerifier.assign(info + v + 20, info + v + 36);
  c.verifierHashSize = le32(info + v + 36);
  if (c.verifierHashSize != 20) throwCorrupt("its encryption verifier has a hash of the wrong size");
  const size_t hashLen = c.aes ? 32 : 20;
  need(v + 40 + hashLen);
  c.encryptedVerifierHash.assign(info + v + 40, info + v + 40 + hashLen);
  return c;
}

// The page keys of both: RC4's the hash of the password's hash and the block key, cut to the key's
// size (a 40-bit key padded with zeros to 128 bits); AES's derived from the spun hash.
class CryptoApiKeys {
 public:
  CryptoApiKeys(const CryptoApiInfo& info, const std::string& password) : info_(info) {
    base_ = crypto::digest(crypto::Hash::Sha1, {info.salt, passwordUnits(password)});
    if (!info.aes) return;
    uint8_t counter[4];
    for (uint32_t i = 0; i < info.spinCount; ++i) {
      put32(counter, i);
      base_ = crypto::digest(crypto::Hash::Sha1, {counter, base_});
    }
  }
  Bytes key(uint32_t blockKey) const {
    uint8_t block[4];
    put32(block, blockKey);
    Bytes h = crypto::digest(crypto::Hash::Sha1, {base_, block});
    if (!info_.aes) {
      h.resize(info_.keyBytes);
      if (info_.keyBytes == 5) h.resize(16, 0);
      return h;
    }
    uint8_t x[2][64];
    for (int i = 0; i < 2; ++i) {
      std::fill(std::begin(x[i]), std::end(x[i]), i == 0 ? 0x36 : 0x5C);
      for (size_t j = 0; j < h.size(); ++j) x[i][j] ^= h[j];
    }
    Bytes k = crypto::digest(crypto::Hash::Sha1, {View(x[0], 64)});
    const Bytes k2 = crypto::digest(crypto::Hash::Sha1, {View(x[1], 64)});
    k.insert(k.end(), k2.begin(), k2.end());
    k.resize(info_.keyBytes);
    return k;
  }
  bool verify() const {
    const Bytes k = key(0);
    Bytes verifier = info_.encryptedVerifier, hash = info_.encryptedVerifierHash;
    if (info_.aes) {
      crypto::aesEcbDecrypt(k, verifier.data(), verifier.size());
      crypto::aesEcbDecrypt(k, hash.data(), hash.size());
    } else {
      // One RC4 stream runs over the verifier and on over its hash.
      Bytes both = verifier;
      both.insert(both.end(), hash.begin(), hash.end());
      rc4Apply(k.data(), k.size(), both.data(), both.size());
      verifier.assign(both.begin(), both.begin() + 16);
      hash.assign(both.begin() + 16, both.end());
    }
    hash.resize(info_.verifierHashSize);
    return crypto::digest(crypto::Hash::Sha1, {verifier}) == hash;
  }
  bool aes() const { return info_.aes; }

 private:
  CryptoApiInfo info_;
  Bytes base_;
};

class CryptoApiCodec : public PageCodec {
 public:
  CryptoApiCodec(CryptoApiKeys keys, uint32_t databaseKey) : keys_(std::move(keys)), databaseKey_(databaseKey) {}
  void decode(uint32_t number, uint8_t* page, size_t len) const override {
    const Bytes k = keys_.key(databaseKey_ ^ number);
    if (keys_.aes()) crypto::aesEcbDecrypt(k, page, len);
    else rc4Apply(k.data(), k.size(), page, len);
  }
  void encode(uint32_t number, uint8_t* page, size_t len) const override {
    const Bytes k = keys_.key(databaseKey_ ^ number);
    if (keys_.aes()) crypto::aesEcbEncrypt(k, page, len);
    else rc4Apply(k.data(), k.size(), page, len);
  }

 private:
  CryptoApiKeys keys_;
  uint32_t databaseKey_;
};

}  // namespace

AgileDescriptor parseAgileDescriptor(std::string_view xml) {
  const std::vector<Tag> tags = startTags(xml);
  AgileDescriptor d;
  const Tag* keyData = nullptr;
  const Tag* encryptedKey = nullptr;
  for (size_t i = 0; i < tags.size(); ++i) {
    if (tags[i].name == "keyData" && !keyData) keyData = &tags[i];
    if (tags[i].name != "keyEncryptor" || encryptedKey) continue;
    const auto uri = tags[i].attributes.find("uri");
    if (uri == tags[i].attributes.end() || uri->second != kPasswordEncryptorUri) continue;
    for (size_t j = i + 1; j < tags.size() && tags[j].depth > tags[i].depth; ++j)
      if (tags[j].depth == tags[i].depth + 1 && tags[j].name == "encryptedKey") {
        encryptedKey = &tags[j];
        break;
      }
  }
  if (!keyData) damaged("lacks keyData");
  if (!encryptedKey) {
    bool other = false;
    for (const Tag& t : tags) other = other || t.name == "keyEncryptor";
    if (other) unsupported("a certificate rather than a password");
    damaged("lacks a password key encryptor");
  }
  d.data = cipherParams(*keyData);
  d.password = cipherParams(*encryptedKey);
  d.spinCount = number(*encryptedKey, "spinCount");
  if (d.spinCount > kMaxSpinCount) damaged("asks for too many hashing rounds");
  d.encryptedVerifierInput = binary(*encryptedKey, "encryptedVerifierHashInput");
  d.encryptedVerifierHash = binary(*encryptedKey, "encryptedVerifierHashValue");
  d.encryptedKey = binary(*encryptedKey, "encryptedKeyValue");
  return d;
}

namespace {

std::shared_ptr<const PageCodec> unlockAgile(std::string_view xml, uint32_t databaseKey, const std::string& password) {
  const AgileDescriptor d = parseAgileDescriptor(xml);
  const CipherParams& p = d.password;
  Bytes h = crypto::digest(p.hash, {p.salt, passwordUnits(password)});
  uint8_t counter[4];
  for (uint32_t i = 0; i < d.spinCount; ++i) {
    put32(counter, i);
    h = crypto::digest(p.hash, {counter, h});
  }
  auto keyFor = [&](const uint8_t (&block)[8]) {
    return fit(crypto::digest(p.hash, {h, View(block, 8)}), p.keyBytes, 0x36);
  };
  const Bytes iv = fit(p.salt, p.blockSize, 0x36);
  const Bytes input = decrypted(keyFor(kVerifierInputBlock), iv, d.encryptedVerifierInput, p.salt.size(), "verifier");
  const Bytes expected = decrypted(keyFor(kVerifierHashBlock), iv, d.encryptedVerifierHash, p.hashSize, "verifier hash");
  if (crypto::digest(p.hash, {input}) != expected) throw Error(err::kInvalidPassword, "Not a valid password.");
  Bytes secret = decrypted(keyFor(kSecretKeyBlock), iv, d.encryptedKey, d.data.keyBytes, "key");
  return std::make_shared<AgileCodec>(d.data, std::move(secret), databaseKey);
}

}  // namespace

std::shared_ptr<const PageCodec> unlockEncryptedPages(const std::vector<uint8_t>& page0, uint32_t databaseKey,
                                                      const std::string& password, const std::string& fileName) {
  if (page0.size() < kEncryptionInfoOffset + 2) throwCorrupt("the header page is cut short");
  const size_t length = le16(&page0[kEncryptionInfoOffset]);
  const size_t start = kEncryptionInfoOffset + 2;
  if (length < 8 || start + length > page0.size()) throwCorrupt("its encryption information does not fit the header page");
  const uint8_t* info = &page0[start];
  const uint16_t major = le16(info), minor = le16(info + 2);
  const bool agile = major == 4 && minor == 4;
  const bool cryptoApi = major >= 2 && major <= 4 && minor == 2;
  if (!agile && !cryptoApi)
    unsupported("Office encryption version " + std::to_string(major) + "." + std::to_string(minor));
  if (agile && le32(info + 4) != 0x40) throwCorrupt("its encryption information has unexpected flags");
  // What kind of encryption it is shows before the password is asked for.
  std::optional<CryptoApiInfo> apiInfo;
  if (cryptoApi) apiInfo = parseCryptoApiInfo(info, length);
  if (password.empty()) throw Error(err::kInvalidPassword, "The database '" + fileName + "' is encrypted and needs its password.");
  if (agile) return unlockAgile(std::string_view(reinterpret_cast<const char*>(info + 8), length - 8), databaseKey, password);
  CryptoApiKeys keys(*apiInfo, password);
  if (!keys.verify()) throw Error(err::kInvalidPassword, "Not a valid password.");
  return std::make_shared<CryptoApiCodec>(std::move(keys), databaseKey);
}

}  // namespace jet
