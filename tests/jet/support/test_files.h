// Test files: copies of the shared test databases in a private temporary folder, so that tests
// may damage or change them freely.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace jettest {

std::string testdata(const std::string& name);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  // Copies a shared test file into the folder (writable) and returns the copy's path.
  std::string copy(const std::string& name, const std::string& as = "");

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Every .mdb of the shared test data (relative names), the big benchmark file left out.
std::vector<std::string> allTestFiles();

}  // namespace jettest
