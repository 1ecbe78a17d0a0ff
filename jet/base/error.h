// Engine errors. Every failure the engine reports carries a DAO error number and a description in
// the wording users of Access know, so that the object model can pass both straight through.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace jet {

// DAO error numbers used by the engine.
namespace err {
constexpr int kNoCurrentRecord = 3021;        // "No current record."
constexpr int kDuplicateKey = 3022;           // duplicate value in a unique index
constexpr int kNullInIndex = 3058;            // "Index or primary key cannot contain a Null value."
constexpr int kFileNotFound = 3024;           // "Could not find file '...'."
constexpr int kInvalidPassword = 3031;        // "Not a valid password."
constexpr int kCannotOpenFile = 3051;         // permissions or lock
constexpr int kTableExists = 3010;            // "Table 'X' already exists."
constexpr int kObjectNotFound = 3011;         // "The Microsoft Jet database engine could not find the object 'X'..."
constexpr int kTableNotFound = 3078;          // cannot find the input table or query
constexpr int kInvalidName = 3125;            // not a valid name
constexpr int kUnknownName = 3070;             // "... does not recognize 'X' as a valid field name or expression."
constexpr int kUnknownField = 3265;           // "Item not found in this collection."
constexpr int kNoFields = 3264;               // "No field defined--cannot append TableDef or Index."
constexpr int kFieldDefinedTwice = 3191;      // "Cannot define field more than once."
constexpr int kDatabaseExists = 3204;         // "Database already exists."
constexpr int kIndexExists = 3284;            // "Index already exists."
constexpr int kPrimaryKeyExists = 3283;       // "Primary key already exists."
constexpr int kInvalidPath = 3044;            // "'folder' is not a valid path. ..."
constexpr int kInRelationship = 3303;         // cannot delete a table that takes part in a relationship
constexpr int kObjectExists = 3012;           // "Object 'X' already exists."
constexpr int kRelationFieldsDiffer = 3368;   // relationship fields differ in number or type
constexpr int kUpdateWithoutEdit = 3020;      // "Update or CancelUpdate without AddNew or Edit."
constexpr int kTextTooLong = 3163;            // "The field is too small to accept the amount of data..."
constexpr int kRequiredNull = 3314;           // "The field 'X' cannot contain a Null value..."
constexpr int kZeroLength = 3315;             // "Field 'X' cannot be a zero-length string."
constexpr int kUnrecognizedFormat = 3343;     // "Unrecognized database format 'X'."
constexpr int kConversion = 3421;             // "Data type conversion error."
constexpr int kInvalidArgument = 3001;        // "Invalid argument."
constexpr int kCorrupt = 3049;                // "Cannot open database '...'. It may not be a database..."
constexpr int kReadOnly = 3027;               // "Cannot update. Database or object is read-only."
constexpr int kWriteConflict = 3197;          // "... you and another user are attempting to change the same data ..."
constexpr int kLocked = 3260;                 // "Couldn't update; currently locked by user ..."
constexpr int kIoError = 3043;                // "Disk or network error."
constexpr int kDiskFull = 3035;               // "System resource exceeded." (disk full)
constexpr int kInvalidFieldSize = 3259;       // "Invalid field data type." / size
constexpr int kInvalidOperation = 3219;       // "Invalid operation."
constexpr int kObjectInvalid = 3420;          // "Object invalid or no longer set."
constexpr int kTooManyFields = 3190;          // "Too many fields defined."
constexpr int kCannotUpdateField = 3164;      // "Field cannot be updated."
constexpr int kRecordDeleted = 3167;          // "Record is deleted."
constexpr int kNameInCollection = 3367;       // "Cannot append. An object with that name already exists..."
constexpr int kSyntax = 3075;                 // "Syntax error ... in query expression '...'."
constexpr int kUndefinedFunction = 3085;      // "Undefined function '...' in expression."
constexpr int kValidationText = 3316;         // a validation rule refused the value (its own text)
constexpr int kValidationRule = 3317;         // a validation rule refused the value or row
// Run-time errors of the expression language, with its own numbers.
constexpr int kInvalidCall = 5;               // "Invalid procedure call or argument"
constexpr int kOverflow = 6;                  // "Overflow"
constexpr int kDivisionByZero = 11;           // "Division by zero"
constexpr int kTypeMismatch = 13;             // "Type mismatch"
constexpr int kInvalidUseOfNull = 94;         // "Invalid use of Null"
}  // namespace err

// A failure with its DAO number and description and, where it concerns one, the table and field
// it was refused for (empty otherwise).
class Error : public std::runtime_error {
 public:
  Error(int number, const std::string& description) : std::runtime_error(description), number_(number) {}
  Error(int number, const std::string& description, std::string table, std::string field)
      : std::runtime_error(description), number_(number), table_(std::move(table)), field_(std::move(field)) {}
  int number() const { return number_; }
  std::string description() const { return what(); }
  const std::string& table() const { return table_; }
  const std::string& field() const { return field_; }

 private:
  int number_;
  std::string table_;
  std::string field_;
};

// The error every reader raises on a structure it cannot make sense of: 3049, naming what is damaged.
[[noreturn]] inline void throwCorrupt(const std::string& what) {
  throw Error(err::kCorrupt, "The database is damaged: " + what + ".");
}

}  // namespace jet
