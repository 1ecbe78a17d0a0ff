#include <cstdio>
#include <iostream>

#include "cli/commands.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  std::vector<std::string> args(argv + 1, argv + argc);
  int rc = cli::run(args, std::cin, std::cout, std::cerr);
  std::cout.flush();
  return rc;
}
