// Makes a password-encrypted copy of a plain Access 2007+ file, as Access 2010 and later encrypt
// them, so that tests can open files encrypted with any of the format's parameters.
#pragma once

#include <cstdint>
#include <string>

namespace jettest {

struct Encryption {
  // Agile: the XML descriptor of Access 2010 and later. The CryptoAPI kinds of Access 2007 (and of
  // later versions set to legacy encryption): RC4, or AES in ECB mode ("standard"), also as files
  // saved outside compatibility mode have it (AES in the header but not in the flags, no spinning).
  enum class Kind { Agile, CryptoApiRc4, CryptoApiAes, CryptoApiAesUnflagged };
  Kind kind = Kind::Agile;
  std::string password = "secret";
  std::string hash = "SHA512";     // as the descriptor names it (the CryptoAPI kinds: SHA-1 only)
  unsigned keyBits = 256;          // of the pages' key and of the password's keys alike (RC4: 40..128)
  unsigned spinCount = 1000;       // agile only; Access uses 100000, tests need not wait for that
  uint32_t databaseKey = 0x5a17c0de;
  // How the agile descriptor is written.
  std::string prefix = "p";        // the namespace prefix of the password key encryptor
  char quote = '"';
  bool certificateFirst = false;   // a certificate key encryptor before the password one
  std::string provider;            // CryptoAPI: the provider's name
};

// Writes `to` as `from` encrypted with `e`; false when a file cannot be read or written.
bool writeEncryptedCopy(const std::string& from, const std::string& to, const Encryption& e);

}  // namespace jettest
