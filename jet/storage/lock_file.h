// Jet's lock file beside a database (`name.ldb` for .mdb, `name.laccdb` for .accdb), through which
// the programs that have the database open know of each other. Layout, as Jet's published locking
// describes it: up to 255 entries of 64 bytes, the computer name then the security (user) name,
// each zero-padded to 32 bytes; entry i is in use only while its user lock, the byte at
// 0x10000001 + i of the lock file, is locked. Entries whose user lock nobody holds are left behind
// by programs that ended without tidying up, and mean nothing.
//
// A program of this system that opens a database for writing joins as a user: it takes the first
// free user lock and writes its entry (host name and login name, each cut to 31 bytes), holds the
// lock until it closes, and removes the file then if no other user holds a lock in it. Beside its
// user lock it locks a byte of its own (beyond 4 GiB, where Jet locks nothing), which tells our
// programs from Jet's: a user lock without that byte belongs to Access or another Jet program.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "jet/base/jet_user.h"
#include "jet/storage/env.h"

namespace jet {

std::string lockFilePathOf(const std::string& databasePath);

class LockFile {
 public:
  // Joins as a user of the database; nothing when the lock file cannot be made or all 255 user
  // locks are taken.
  static std::unique_ptr<LockFile> join(const std::string& databasePath);
  // Leaves: releases the user lock, removes the file when no other user holds one.
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // A Jet program other than ours that has the database open: its entry.
  std::optional<JetUser> foreignUser() { return findUser(*file_, true); }
  // Any other user of the database (ours included), for telling who holds a lock.
  std::optional<JetUser> otherUser() { return findUser(*file_, false); }
  // The same as foreignUser() without joining (for an open that only reads).
  static std::optional<JetUser> foreignUserOf(const std::string& databasePath);
  // This program's entry.
  static JetUser self();

 private:
  LockFile(std::unique_ptr<File> file, int slot) : file_(std::move(file)), slot_(slot) {}
  static std::optional<JetUser> findUser(File& file, bool foreignOnly);

  std::unique_ptr<File> file_;
  int slot_;
};

}  // namespace jet
