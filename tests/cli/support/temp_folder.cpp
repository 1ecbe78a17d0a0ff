#include "temp_folder.h"

#include <random>

namespace fs = std::filesystem;

namespace clitest {

TempFolder::TempFolder() {
  std::random_device rd;
  do path_ = fs::temp_directory_path() / ("tabulonix-cli-" + std::to_string(rd()));
  while (!fs::create_directory(path_));
}

TempFolder::~TempFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

}  // namespace clitest
