// What a check of a database file found: one sentence per problem.
#pragma once

#include <string>
#include <vector>

namespace jet {

struct CheckReport {
  std::vector<std::string> problems;
  bool ok() const { return problems.empty(); }
};

}  // namespace jet
