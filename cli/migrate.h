// `tabulonix-cli migrate`: the chosen tables of an Access file, with their keys, indexes,
// relationships and rows, into a new SQLite file or a PostgreSQL schema, all or nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace migrate {

struct Options {
  std::string file;
  std::string target;               // "sqlite:PATH" or a PostgreSQL URI
  std::vector<std::string> tables;  // empty: every user table
  std::string schema;               // PostgreSQL only
  std::string password;             // the Access file's
  bool verify = false;              // read every row back and compare it value by value
  bool quiet = false;               // no progress lines, notes or summary
  bool progress = false;            // progress lines on `err` (the caller knows it is a terminal)
};

// Runs one migration; throws on any refusal, after which the target holds nothing of it.
void run(const Options& options, std::ostream& out, std::ostream& err);

// Called before each row is handed to the target (table, row number from 1); tests throw from it
// to break a migration in the middle of loading.
extern std::function<void(const std::string&, int64_t)> faultHook;

}  // namespace migrate
