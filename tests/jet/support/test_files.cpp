#include "jet/support/test_files.h"

#include "jet/base/value.h"
#include "jet/database.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace jettest {


TempDir::TempDir() {
  std::random_device rd;
  for (;;) {
    path_ = fs::temp_directory_path() / ("tabulonix-jet-" + std::to_string(rd()));
    if (fs::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto& e : fs::directory_iterator(path_, ec))
    fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::copy(const std::string& name, const std::string& as) {
  fs::path target = path_ / (as.empty() ? fs::path(name).filename() : fs::path(as));
  fs::copy_file(testdata(name), target, fs::copy_options::overwrite_existing);
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
  return target.string();
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::pair<std::string, std::vector<std::string>>> contents(jet::Database& db) {
  std::vector<std::pair<std::string, std::vector<std::string>>> out;
  for (const jet::CatalogObject& o : db.objects()) {
    if (o.kind != jet::ObjectKind::Table && o.kind != jet::ObjectKind::SystemTable) continue;
    std::vector<std::string> rows;
    auto cursor = db.openTable(o.name);
    while (cursor->next()) {
      std::string row;
      for (const jet::Value& v : cursor->values()) row += (jet::isNull(v) ? std::string("<null>") : jet::toText(v)) + "|";
      rows.push_back(row);
    }
    out.emplace_back(o.name, std::move(rows));
  }
  return out;
}

}  // namespace jettest
