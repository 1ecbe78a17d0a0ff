#include "db/record_save.h"

#include "db/field_rules.h"
#include "db/session.h"
#include "jet/base/value.h"

namespace modDB {
namespace {

bool holdsText(int16_t type) { return type == dao::dbText || type == dao::dbMemo; }

// The position of the field a refusal names, or -1 when it names none.
int fieldOf(const jet::Error& e, const dao::Fields& fields) {
  if (e.field().empty()) return -1;
  for (int k = 0; k < fields.Count(); ++k)
    if (fields.Item(k).Name() == e.field()) return k;
  return -1;
}

}  // namespace

void SaveRecord(const std::string& table, int32_t position, const std::vector<std::string>& texts,
                const std::vector<std::string>& shown, int& refusedField) {
  refusedField = -1;
  dao::Recordset rs = gDB.OpenRecordset(table);
  // A refused record is abandoned with its recordset.
  struct Closer {
    dao::Recordset& rs;
    ~Closer() {
      try {
        if (rs.impl()) rs.Close();
      } catch (...) {
      }
    }
  } closer{rs};
  const bool add = position < 0;
  if (add) {
    rs.AddNew();
  } else {
    rs.Move(position);
    rs.Edit();
  }
  dao::Fields fields = rs.GetFields();
  const int n = fields.Count();
  // Values go in one by one; the first one the engine refuses abandons the record.
  for (int k = 0; k < n; ++k) {
    dao::Field f = fields.Item(k);
    if ((f.Attributes() & dao::dbAutoIncrField) == dao::dbAutoIncrField) continue;
    // Complex and calculated fields are shown, never written: their values stay as they are.
    if (dao::isComplexType(f.Type()) || f.Calculated()) continue;
    const std::string text = k < static_cast<int>(texts.size()) ? texts[k] : std::string();
    if (!add && k < static_cast<int>(shown.size()) && shown[k] == text) continue;
    try {
      if (text.empty() && !holdsText(f.Type())) {
        f.SetValue(dao::Value{jet::Null{}});
      } else {
        f.SetValue(text);
      }
    } catch (const jet::Error&) {
      refusedField = k;
      throw;
    }
  }
  try {
    rs.Update(dao::dbUpdateRegular, false);
  } catch (const jet::Error& e) {
    refusedField = fieldOf(e, fields);
    throw;
  }
}

std::optional<std::string> ShownText(int16_t type, const std::string& text) {
  jet::ColumnType column;
  if (!dao::engineType(type, column)) return std::nullopt;
  try {
    return jet::toText(jet::fromText(column, text));
  } catch (const jet::Error&) {
    return std::nullopt;
  }
}

}  // namespace modDB
