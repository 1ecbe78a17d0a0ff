#include "memory_engine.h"

#include <algorithm>

namespace testing_support {

namespace {

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

class MemoryCursor : public jet::TableCursor {
 public:
  explicit MemoryCursor(MemoryTable& t) : t_(t) {}
  const jet::TableInfo& table() const override { return t_.info; }
  bool next() override {
    while (++at_ < static_cast<int64_t>(t_.slots.size()))
      if (t_.slots[at_]) return true;
    return false;
  }
  jet::RowId rowId() const override { return {1, static_cast<uint16_t>(at_)}; }
  const std::vector<jet::Value>& values() override { return *t_.slots[at_]; }
  void rewind() override { at_ = -1; }

 private:
  MemoryTable& t_;
  int64_t at_ = -1;
};

class MemoryEngine : public jet::Database {
 public:
  explicit MemoryEngine(std::shared_ptr<MemoryState> s) : s_(std::move(s)) {}

  jet::FileVersion version() const override {
    return s_->format == jet::Format::Jet3 ? jet::FileVersion::Jet3 : jet::FileVersion::Jet4;
  }
  jet::Format format() const override { return s_->format; }
  uint32_t pageSize() const override { return 4096; }
  uint16_t codePage() const override { return 1252; }
  uint16_t sortOrder() const override { return 1033; }
  uint32_t pageCount() const override { return 1; }
  bool readOnly() const override { return false; }
  const std::string& path() const override { return path_; }
  std::vector<jet::CatalogObject> objects() override { return s_->catalog; }
  jet::TableInfo table(const std::string& name) override {
    MemoryTable& t = find(name);
    t.info.rowCount = static_cast<uint32_t>(std::count_if(t.slots.begin(), t.slots.end(), [](auto& r) { return r.has_value(); }));
    return t.info;
  }
  std::unique_ptr<jet::TableCursor> openTable(const std::string& name) override {
    return std::make_unique<MemoryCursor>(find(name));
  }
  void createTable(const jet::NewTable& outline) override {
    if (s_->tables.count(upper(outline.name))) throw jet::Error(jet::err::kTableExists, "Table '" + outline.name + "' already exists.");
    std::vector<jet::ColumnInfo> cols;
    for (const jet::NewColumn& c : outline.columns) {
      jet::ColumnInfo ci = column(c.name, c.type, c.type == jet::ColumnType::Text ? c.size * 2 : 0);
      ci.autoNumber = c.autoNumber;
      ci.required = c.required;
      ci.allowZeroLength = c.allowZeroLength;
      cols.push_back(ci);
    }
    addTable(*s_, outline.name, cols, {});
  }
  void renameTable(const std::string& oldName, const std::string& newName) override {
    if (s_->tables.count(upper(newName))) throw jet::Error(jet::err::kTableExists, "Table '" + newName + "' already exists.");
    MemoryTable t = find(oldName);
    s_->tables.erase(upper(oldName));
    t.info.name = newName;
    s_->tables[upper(newName)] = t;
    for (auto& o : s_->catalog)
      if (upper(o.name) == upper(oldName)) o.name = newName;
  }
  void dropTable(const std::string& name) override {
    find(name);
    s_->tables.erase(upper(name));
    std::erase_if(s_->catalog, [&](auto& o) { return upper(o.name) == upper(name); });
  }
  jet::RowId insertRow(const std::string& table, std::vector<jet::Value> values) override {
    MemoryTable& t = find(table);
    for (size_t i = 0; i < t.info.columns.size(); ++i)
      if (t.info.columns[i].autoNumber) values[i] = static_cast<int64_t>(t.nextAuto++);
    ++s_->writes;
    for (size_t i = 0; i < t.slots.size(); ++i)
      if (!t.slots[i]) {
        t.slots[i] = values;
        return {1, static_cast<uint16_t>(i)};
      }
    t.slots.push_back(values);
    return {1, static_cast<uint16_t>(t.slots.size() - 1)};
  }
  void updateRow(const std::string& table, jet::RowId row, std::vector<jet::Value> values) override {
    MemoryTable& t = find(table);
    ++s_->writes;
    t.slots.at(row.row) = values;
  }
  void deleteRow(const std::string& table, jet::RowId row) override {
    MemoryTable& t = find(table);
    ++s_->writes;
    t.slots.at(row.row).reset();
  }
  int32_t nextAutoNumber(const std::string& table) override { return find(table).nextAuto; }
  jet::CheckReport check() override { return {}; }
  void close() override { s_->closed = true; }

 private:
  MemoryTable& find(const std::string& name) {
    auto it = s_->tables.find(upper(name));
    if (it == s_->tables.end())
      throw jet::Error(jet::err::kTableNotFound, "Cannot find the input table or query '" + name + "'.");
    return it->second;
  }
  std::shared_ptr<MemoryState> s_;
  std::string path_ = "memory.mdb";
};

}  // namespace

std::unique_ptr<jet::Database> memoryEngine(std::shared_ptr<MemoryState> state) {
  return std::make_unique<MemoryEngine>(std::move(state));
}

void addTable(MemoryState& state, const std::string& name, std::vector<jet::ColumnInfo> columns,
              std::vector<std::vector<jet::Value>> rows, jet::ObjectKind kind, uint32_t flags) {
  MemoryTable t;
  t.info.name = name;
  t.info.columns = std::move(columns);
  for (auto& r : rows) t.slots.emplace_back(std::move(r));
  t.nextAuto = static_cast<int32_t>(t.slots.size()) + 1;
  state.tables[upper(name)] = std::move(t);
  jet::CatalogObject o;
  o.name = name;
  o.kind = kind;
  o.flags = flags;
  state.catalog.push_back(o);
}

jet::ColumnInfo column(const std::string& name, jet::ColumnType type, uint16_t length) {
  jet::ColumnInfo c;
  c.name = name;
  c.type = type;
  c.length = length;
  c.fixed = type != jet::ColumnType::Text && type != jet::ColumnType::Memo && type != jet::ColumnType::Ole &&
            type != jet::ColumnType::Binary;
  return c;
}

}  // namespace testing_support
