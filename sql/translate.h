// Access SQL into SQLite SQL, a token at a time: names in brackets become quoted names, "strings"
// single-quoted ones, #dates# the date text SQL uses, & a concatenation that treats Null as an
// empty text, Like patterns SQLite's, True/False/Yes/No 1/0, declared parameters numbered ones.
// Access's functions keep their names: the connection registers them as SQL functions (see
// access_functions.h), so a function it does not know makes the text untranslatable.
//
// This is no parser: the statement's structure stays as Access wrote it, which SQLite reads the
// same way (joins nested in parentheses included). What has no equal is refused with the reason,
// never translated into something that runs differently.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace sql {

// Why a text cannot be translated.
class Untranslatable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Where the translation runs: the bridge's own connection (Access's functions registered, text
// sorted without regard to case), a SQLite file or a PostgreSQL database (their own functions only;
// PostgreSQL's Yes/No values are TRUE and FALSE).
enum class Dialect { Bridge, Sqlite, Postgres };

struct TranslateContext {
  Dialect dialect = Dialect::Bridge;
  // Declared parameters in order: a reference to one becomes ?<position + 1>.
  std::vector<std::string> parameters;
  // Whether a function of this name is registered (or built into SQLite); case-insensitive.
  bool (*knownFunction)(const std::string& name) = nullptr;
};

// A token of Access SQL.
struct Token {
  enum Kind { Space, Word, Bracket, String, Date, Number, Open, Close, Comma, Op, Done } kind = Space;
  std::string text;  // Word/Bracket/String/Date: the contents; otherwise as written; Done: translated
};

// The tokens of a text, spaces as one Space each. Throws Untranslatable for a name in brackets, a
// text in quotes or a date in # that is not closed.
std::vector<Token> tokenize(const std::string& access);

// Translates an expression or a whole statement. Throws Untranslatable.
std::string translate(const std::string& access, const TranslateContext& context);

// An Access date literal's text ("#1/31/1995#" without the #s, or "1995-01-31 10:00") as
// 'YYYY-MM-DD HH:MM:SS'; empty when it is no date.
std::string dateLiteral(const std::string& text);

}  // namespace sql
