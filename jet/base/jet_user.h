// A user of a database as Jet's lock file names one: the computer, then the (security) user name.
#pragma once

#include <string>

namespace jet {

struct JetUser {
  std::string machine;
  std::string user;
};

}  // namespace jet
