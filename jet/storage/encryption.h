// How a database's pages are read, as its header says: as they are; masked with the database key
// (Jet 3 and 4); or encrypted under a password (an .accdb file with a database key), unlocked here.
// The one place where an opened file gets its page codec and its password is checked.
#pragma once

#include <string>

#include "jet/storage/header.h"
#include "jet/storage/page_file.h"

namespace jet {

// Whether the file's pages are encrypted under a password.
bool isEncrypted(const Header& header);

// Whether opening the file takes a password: a Jet database password, or an encryption.
bool needsPassword(const Header& header);

// Gives `file` (its page size set) the codec its header asks for, unlocking an encryption with
// `password`. Throws 3031 when the password is missing ("... is encrypted and needs its
// password.") or wrong, 3049 for a damaged encryption header, 3051 for an encryption this engine
// does not read.
void unlockPages(PageFile& file, const Header& header, const std::string& password, const std::string& fileName);

}  // namespace jet
