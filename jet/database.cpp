// The front door's factories for opening and creating a file (compaction's is in jet/compact.cpp,
// beside the copier it starts), and what a caller may ask before opening one.
#include "jet/database.h"

#include "jet/catalog/create_database.h"
#include "jet/file_database.h"
#include "jet/shared_database.h"
#include "jet/storage/encryption.h"
#include "jet/storage/header.h"
#include "jet/storage/env.h"

namespace jet {

std::unique_ptr<Database> Database::open(const std::string& path, const OpenOptions& options) {
  return std::make_unique<SharedDatabase>(std::make_unique<FileDatabase>(path, options), options);
}

// The new file is written from nothing, then opened like any other.
std::unique_ptr<Database> Database::create(const std::string& path, const CreateOptions& options) {
  createDatabaseFile(path, options);
  return open(path);
}

bool Database::needsPassword(const std::string& path) {
  int error = 0;
  std::unique_ptr<File> file = Env::get().open(path, OpenMode::ReadOnly, error);
  std::vector<uint8_t> bytes(kHeaderBytes);
  if (!file || file->read(0, bytes.data(), bytes.size()) < bytes.size()) return false;
  return jet::needsPassword(parseHeader(bytes, path));
}

void Database::setSyncToDisk(bool on) { Env::setSyncToDisk(on); }
bool Database::syncToDisk() { return Env::syncToDisk(); }

}  // namespace jet
