// The file work of compacting the open database in place: a compacted copy written beside the
// file under a fresh name, verified, given ordinary attributes, and put in the file's place by one
// rename. At every moment the database's path names a complete database.
#pragma once

#include <string>

namespace modDB {

// A name in the database's own folder (so that the final rename stays on one file system) that no
// file has yet, never a leftover of an earlier run.
std::string CompactTemporaryPath(const std::string& databasePath);

// Writes a compacted copy of the closed database `source` to `copy` and checks that the copy reads
// back as the source does; the copy keeps the source's database password. Throws the engine's
// error; the source is never changed.
void WriteCompactedCopy(const std::string& source, const std::string& copy, const std::string& password = "");

// Gives the copy the source's permission bits with the owner's read and write added: the
// compacted file is an ordinary, writable database even when the source was read-only.
void GiveOrdinaryAttributes(const std::string& copy, const std::string& source);

// Puts `copy` in place of `target` by one rename within the folder, then syncs the folder so that
// the new name survives a crash.
void ReplaceWithCopy(const std::string& copy, const std::string& target);

}  // namespace modDB
