// The field-type vocabulary of the application and the dialog globals.
#include "db/session.h"

namespace modTools {

int32_t lEditMode = 0;
int32_t lDialogResult = 0;
int16_t iSearchField = -1;
std::string sSearchText;

namespace {

struct FieldTypeEntry {
  const char* name;
  int16_t code;
  uint8_t size;
  const char* codeText;
  const char* shownAs;
};

// In the order the field-definition window lists them.
constexpr FieldTypeEntry kTypes[] = {
    {"Boolean", 1, 1, "1", "Boolean"},  {"Byte", 2, 1, "2", "Byte"},
    {"Integer", 3, 2, "3", "Integer"},  {"Long", 4, 4, "4", "Long"},
    {"Currency", 5, 8, "5", "Currency"}, {"Single", 6, 4, "6", "Single"},
    {"Double", 7, 8, "7", "Double"},    {"Date/Time", 8, 8, "8", "Date"},
    {"Text", 10, 50, "10", "Text"},     {"Memo", 12, 0, "12", "Memo"},
};

// Types of newer files that the windows show by name but do not offer for new fields.
constexpr struct {
  const char* codeText;
  const char* shownAs;
} kShownOnly[] = {{"16", "Large Number"}, {"26", "Date/Time Extended"}};

}  // namespace

const std::vector<std::string> kFieldTypeNames = [] {
  std::vector<std::string> names;
  for (const auto& t : kTypes) names.push_back(t.name);
  return names;
}();

uint8_t GetFieldSize(const std::string& typeName) {
  for (const auto& t : kTypes)
    if (typeName == t.name) return t.size;
  return 0;
}

int16_t GetFieldType(const std::string& typeName) {
  for (const auto& t : kTypes)
    if (typeName == t.name) return t.code;
  return 0;
}

std::string GetFieldTypeName(const std::string& typeCodeText) {
  for (const auto& t : kTypes)
    if (typeCodeText == t.codeText) return t.shownAs;
  for (const auto& t : kShownOnly)
    if (typeCodeText == t.codeText) return t.shownAs;
  return {};
}

}  // namespace modTools
