// DBEngine: opening, creating and compacting database files.
#include <filesystem>

#include "db/dao_impl.h"

namespace dao {

namespace {

// The value of "PWD=" in a connect string such as ";PWD=secret" (keys in any case).
std::string passwordOf(const std::string& connect) {
  size_t start = 0;
  while (start <= connect.size()) {
    size_t end = connect.find(';', start);
    if (end == std::string::npos) end = connect.size();
    std::string part = connect.substr(start, end - start);
    if (part.size() >= 4) {
      std::string key = part.substr(0, 4);
      for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (key == "PWD=") return part.substr(4);
    }
    start = end + 1;
  }
  return {};
}

}  // namespace

Database DBEngine::OpenDatabase(const std::string& path, bool exclusive, bool readOnly,
                                const std::string& connect) {
  jet::OpenOptions options;
  options.readOnly = readOnly;
  options.password = passwordOf(connect);
  options.busyTimeoutMs = busyTimeout_ * 1000;
  return Database(std::make_shared<DatabaseImpl>(jet::Database::open(path, options), path));
}

Database DBEngine::CreateDatabase(const std::string& path, const std::string& locale, int32_t option) {
  jet::CreateOptions options;
  // The newest version asked for wins; without one the engine makes a Jet 4 file.
  if (option & dbVersion170) options.version = jet::FileVersion::Access2019;
  else if (option & dbVersion160) options.version = jet::FileVersion::Access2016;
  else if (option & dbVersion140) options.version = jet::FileVersion::Access2010;
  else if (option & dbVersion120) options.version = jet::FileVersion::Access2007;
  else if ((option & dbVersion30) && !(option & dbVersion40)) options.format = jet::Format::Jet3Layout;
  return Database(std::make_shared<DatabaseImpl>(jet::Database::create(path, options), path));
}

void DBEngine::CompactDatabase(const std::string& source, const std::string& destination, const std::string& srcLocale) {
  jet::Database::compact(source, destination, passwordOf(srcLocale));
}

DBEngine& Engine() {
  static DBEngine engine;
  return engine;
}

}  // namespace dao
