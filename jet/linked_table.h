// Linked tables whose source is another Access file: finding that file from the path the catalog
// keeps for the link.
#pragma once

#include <string>

namespace jet {

// The file a link's stored path names, on this system. The path is used as it is when it names a
// file; otherwise (a path written on another system, such as "C:\Data\Orders.mdb" or a network
// share, or a relative path) the file of the same name in the linking database's folder is used,
// its name compared without regard to case as the system that wrote the link does. Empty when
// neither exists.
std::string resolveLinkedSource(const std::string& storedPath, const std::string& linkingDatabasePath);

}  // namespace jet
