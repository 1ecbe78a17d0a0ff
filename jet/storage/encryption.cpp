#include "jet/storage/encryption.h"

#include "jet/storage/office_encryption.h"

namespace jet {

bool isEncrypted(const Header& header) { return isAccdb(header.version) && header.databaseKey != 0; }

bool needsPassword(const Header& header) { return isEncrypted(header) || !header.password.empty(); }

void unlockPages(PageFile& file, const Header& header, const std::string& password, const std::string& fileName) {
  if (isEncrypted(header)) {
    file.setCodec(unlockEncryptedPages(file.readPrefix(header.pageSize), header.databaseKey, password, fileName));
    return;
  }
  checkPassword(header, password);
  file.setEncodingKey(header.databaseKey);
}

}  // namespace jet
