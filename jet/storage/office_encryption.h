// Files saved with "Encrypt with Password" by Access 2010 and later: the agile encryption of
// Office documents. Page 0 stays plain and carries, after a 16-bit length at 0x299, an encryption
// information block (version 4.4, a reserved 0x40, then an XML descriptor). The descriptor's
// password key encryptor turns the password into the file's secret key; every later page is
// encrypted with AES in CBC mode under that key, its initialisation vector the hash of the
// descriptor's key-data salt and the page's block key (the database key XOR the page number).
// Access 2007 (and later versions set to legacy encryption) write the CryptoAPI kinds instead: a
// binary header and verifier (version 2, 3 or 4 . 2), SHA-1, and a key per page from the hashed
// password and the block key, for RC4 or for AES in ECB mode.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/crypto.h"
#include "jet/storage/page_codec.h"

namespace jet {

// Where page 0 keeps the encryption information block: its length (16 bits), then the block.
constexpr size_t kEncryptionInfoOffset = 0x299;

// One cipher's parameters, as the descriptor's keyData and encryptedKey elements give them.
struct CipherParams {
  crypto::Hash hash = crypto::Hash::Sha512;
  size_t keyBytes = 32;
  size_t blockSize = 16;
  size_t hashSize = 64;
  crypto::Bytes salt;
};

struct AgileDescriptor {
  CipherParams data;     // the pages
  CipherParams password; // the password key encryptor
  uint32_t spinCount = 0;
  crypto::Bytes encryptedVerifierInput;
  crypto::Bytes encryptedVerifierHash;
  crypto::Bytes encryptedKey;
};

// Reads the XML descriptor. Throws 3049 when it is malformed or lacks a password key encryptor,
// 3051 when it asks for a cipher other than AES in CBC mode or an unknown hash.
AgileDescriptor parseAgileDescriptor(std::string_view xml);

// The page codec of an encrypted file, from its page 0 as stored, unlocked with `password`.
// Agile and CryptoAPI (RC4, AES) encryptions are read. Throws 3031 when the password is empty ("The
// database ... is encrypted and needs its password.") or wrong, 3049 when the encryption block is
// damaged, 3051 for another kind of encryption.
std::shared_ptr<const PageCodec> unlockEncryptedPages(const std::vector<uint8_t>& page0, uint32_t databaseKey,
                                                      const std::string& password, const std::string& fileName);

}  // namespace jet
