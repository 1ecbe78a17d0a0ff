// The rollback journal of a database file, `<file>-journal`, as bytes. While a commit is under
// way it holds the original image of every page the commit overwrites and the file's original
// length, so that a commit cut short (a killed process, a power cut) can be undone when the file is
// opened next. The page file writes and plays it back; this is only its layout:
//
//   header (512 bytes): magic, version, page size, original length in bytes, record count, salt,
//                       the database file's device and inode, checksum of all that;
//   records:            page number (u32), the page as stored in the file, checksum (u32).
//
// Checksums are seeded with the salt, which is new for every commit, so records left over from an
// earlier commit never pass. A journal counts only when its header and every record check out and
// it names the file it lies beside (a file put in place by a rename has another inode); a commit
// that completed zeroes the header.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace jet {

constexpr size_t kJournalHeaderBytes = 512;
// Where the header keeps the stamp of the last commit (see PageFile): outside the checksummed
// fields, kept when the header is zeroed after a commit.
constexpr size_t kJournalStampAt = 504;

struct JournalContents {
  uint32_t pageSize = 0;
  uint64_t originalLength = 0;  // of the database file, in bytes
  uint64_t device = 0, inode = 0;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> pages;  // number, stored image
};

std::string journalPathOf(const std::string& databasePath);

// The journal's bytes; `images` are the pages as stored, each pageSize bytes.
std::vector<uint8_t> encodeJournal(uint32_t pageSize, uint64_t originalLength, uint64_t device, uint64_t inode,
                                   const std::vector<std::pair<uint32_t, const uint8_t*>>& images, uint32_t salt);

// The contents of a valid journal; nothing for a zeroed, torn or otherwise invalid one.
std::optional<JournalContents> decodeJournal(const std::vector<uint8_t>& bytes);

}  // namespace jet
