// Files and programs for every test folder: a private temporary folder removed with what it holds,
// copies of the shared test databases in it, whole-file reads and writes, and shell commands with
// their output. Header-only, so that every test program links the same helpers.
#pragma once

#include <sys/wait.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

inline std::string testdata(const std::string& name) { return std::string(TABULONIX_TESTDATA_DIR) + "/" + name; }

class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    do path_ = std::filesystem::temp_directory_path() / ("tabulonix-test-" + std::to_string(rd()));
    while (!std::filesystem::create_directory(path_));
  }
  ~TempDir() {
    // Tests make files and folders read-only: give them back before removing them.
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto& e : fs::recursive_directory_iterator(path_, ec))
      fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The path of a file in the folder.
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  // Copies a shared test file into the folder (writable) and returns the copy's path.
  std::string copy(const std::string& name, const std::string& as = "") const {
    namespace fs = std::filesystem;
    const fs::path target = path_ / (as.empty() ? fs::path(name).filename() : fs::path(as));
    fs::copy_file(testdata(name), target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    return target.string();
  }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::string readText(const std::string& path) {
  const std::vector<uint8_t> bytes = readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A path or argument quoted for the shell.
inline std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct Run {
  int status = -1;  // the exit status; -1 when the command could not run or was killed
  std::string out;
};

// Runs a shell command, capturing its standard output.
inline Run run(const std::string& command) {
  Run r;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return r;
  char buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline bool haveProgram(const std::string& name) { return run("command -v " + name + " >/dev/null 2>&1").status == 0; }

// The lines of a text, without their line ends (an empty last line is no line).
inline std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return out;
}

// A name quoted as an SQL identifier.
inline std::string quoteName(const std::string& name) {
  std::string q = "\"";
  for (char ch : name) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
  return q + "\"";
}

// A test file's name as a parameterised test's name (letters and digits only).
template <typename Info>
std::string paramName(const Info& info) {
  std::string n = info.param;
  for (char& ch : n)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
}

}  // namespace testsupport
