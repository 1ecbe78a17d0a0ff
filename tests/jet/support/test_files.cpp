#include "jet/support/test_files.h"

#include <stdexcept>

#include "jet/base/text_codec.h"
#include "jet/base/value.h"
#include "jet/database.h"
#include "jet/storage/fault_env.h"
#include "support/processes.h"

namespace jettest {

jet::TextCodec& cp1252() {
  thread_local jet::TextCodec codec(1252);
  return codec;
}

std::string failure(const std::function<void()>& call) {
  try {
    call();
  } catch (const jet::Error& e) {
    return std::to_string(e.number()) + ": " + e.description();
  }
  return "";
}

void crashBeforeTheJournalIsCleared(const std::string& path, const std::function<void(jet::Database&)>& change) {
  const std::vector<uint8_t> before = readFile(path);
  jet::FaultEnv& env = jet::FaultEnv::install();
  uint64_t writes = 0;
  {
    auto db = jet::Database::open(path);
    db->objects();
    const uint64_t start = env.operations();
    change(*db);
    writes = env.operations() - start;  // ... the page writes, a force, the journal cleared, a force
  }
  writeFile(path, before);
  const int status = testsupport::inChild([&] {
    auto db = jet::Database::open(path);
    db->objects();
    env.crashAt(int(writes - 1), jet::FaultEnv::Crash::Exit, 0);
    change(*db);
  });
  if (status != jet::FaultEnv::kCrashExitCode) throw std::runtime_error("the change was not cut short");
}

std::string firstProblem(jet::Database& db) {
  const jet::CheckReport report = db.check();
  return report.problems.empty() ? std::string() : report.problems.front();
}

std::string readEverything(const std::string& path, std::vector<std::string>* problems) {
  try {
    auto db = jet::Database::open(path, {true, ""});
    for (const jet::CatalogObject& o : db->objects()) {
      if (o.kind != jet::ObjectKind::Table && o.kind != jet::ObjectKind::SystemTable) continue;
      try {
        for (auto cursor = db->openTable(o.name); cursor->next();)
          for (const jet::Value& v : cursor->values()) (void)jet::toText(v);
      } catch (const jet::Error&) {
      }
    }
    const jet::CheckReport report = db->check();
    if (problems) *problems = report.problems;
    db->close();
  } catch (const jet::Error& e) {
    if (e.description().empty()) return "an engine error without a description";
  } catch (const std::exception& e) {
    return std::string("std::exception: ") + e.what();
  } catch (...) {
    return "an exception of unknown type";
  }
  return "";
}

PageImage::PageImage(const std::string& path) : bytes(readFile(path)) {
  size = bytes.size() > 0x14 && bytes[0x14] == 0 ? 2048 : 4096;
}

uint32_t PageImage::owner(uint32_t n) {
  const uint8_t* p = page(n);
  return p[4] | p[5] << 8 | p[6] << 16 | uint32_t(p[7]) << 24;
}

std::vector<std::string> rowsOf(jet::Database& db, const std::string& table) {
  std::vector<std::string> rows;
  for (auto cursor = db.openTable(table); cursor->next();) {
    std::string row;
    for (const jet::Value& v : cursor->values()) row += (jet::isNull(v) ? std::string("<null>") : jet::toText(v)) + "|";
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::vector<jet::Value>> valuesOf(jet::Database& db, const std::string& table) {
  std::vector<std::vector<jet::Value>> rows;
  for (auto cursor = db.openTable(table); cursor->next();) rows.push_back(cursor->values());
  return rows;
}

std::vector<jet::RowId> rowIdsOf(jet::Database& db, const std::string& table) {
  std::vector<jet::RowId> ids;
  for (auto cursor = db.openTable(table); cursor->next();) ids.push_back(cursor->rowId());
  return ids;
}

std::vector<std::pair<std::string, std::vector<std::string>>> contents(jet::Database& db) {
  std::vector<std::pair<std::string, std::vector<std::string>>> out;
  for (const jet::CatalogObject& o : db.objects())
    if (o.kind == jet::ObjectKind::Table || o.kind == jet::ObjectKind::SystemTable) out.emplace_back(o.name, rowsOf(db, o.name));
  return out;
}

}  // namespace jettest
