#include "jet/storage/journal.h"

#include <cstring>

#include "jet/base/bytes.h"

namespace jet {

namespace {

constexpr uint8_t kMagic[8] = {0xD9, 'J', 'e', 't', 'J', 'r', 'n', 0x1A};
constexpr uint32_t kVersion = 1;
constexpr size_t kFieldsEnd = 48;  // header fields before the checksum

// A 32-bit checksum of `len` bytes, seeded; eight bytes at a time, each step mixing fully.
uint32_t checksum(uint32_t seed, const uint8_t* data, size_t len) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ seed;
  size_t i = 0;
  for (; i + 8 <= len; i += 8) {
    h ^= le64(data + i);
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 29;
  }
  for (; i < len; ++i) {
    h ^= data[i];
    h *= 0xC4CEB9FE1A85EC53ull;
  }
  h ^= h >> 32;
  h *= 0x9E3779B97F4A7C15ull;
  return uint32_t(h ^ (h >> 32));
}

}  // namespace

std::string journalPathOf(const std::string& databasePath) { return databasePath + "-journal"; }

std::vector<uint8_t> encodeJournal(uint32_t pageSize, uint64_t originalLength, uint64_t device, uint64_t inode,
                                   const std::vector<std::pair<uint32_t, const uint8_t*>>& images, uint32_t salt) {
  std::vector<uint8_t> out(kJournalHeaderBytes + images.size() * (8 + size_t(pageSize)), 0);
  uint8_t* h = out.data();
  std::memcpy(h, kMagic, sizeof kMagic);
  put32(h + 8, kVersion);
  put32(h + 12, pageSize);
  put64(h + 16, originalLength);
  put32(h + 24, uint32_t(images.size()));
  put32(h + 28, salt);
  put64(h + 32, device);
  put64(h + 40, inode);
  put32(h + kFieldsEnd, checksum(salt, h, kFieldsEnd));
  uint8_t* r = out.data() + kJournalHeaderBytes;
  for (const auto& [number, image] : images) {
    put32(r, number);
    std::memcpy(r + 4, image, pageSize);
    put32(r + 4 + pageSize, checksum(salt, r, 4 + size_t(pageSize)));
    r += 8 + size_t(pageSize);
  }
  return out;
}

std::optional<JournalContents> decodeJournal(const std::vector<uint8_t>& bytes) {
  if (bytes.size() < kJournalHeaderBytes) return std::nullopt;
  const uint8_t* h = bytes.data();
  if (std::memcmp(h, kMagic, sizeof kMagic) != 0 || le32(h + 8) != kVersion) return std::nullopt;
  const uint32_t salt = le32(h + 28);
  if (le32(h + kFieldsEnd) != checksum(salt, h, kFieldsEnd)) return std::nullopt;
  JournalContents j;
  j.pageSize = le32(h + 12);
  j.originalLength = le64(h + 16);
  j.device = le64(h + 32);
  j.inode = le64(h + 40);
  const uint32_t count = le32(h + 24);
  if (j.pageSize < 512 || j.pageSize > 65536) return std::nullopt;
  const size_t record = 8 + size_t(j.pageSize);
  if ((bytes.size() - kJournalHeaderBytes) / record < count) return std::nullopt;
  const uint8_t* r = bytes.data() + kJournalHeaderBytes;
  for (uint32_t i = 0; i < count; ++i, r += record) {
    if (le32(r + 4 + j.pageSize) != checksum(salt, r, 4 + size_t(j.pageSize))) return std::nullopt;
    const uint32_t number = le32(r);
    if (uint64_t(number) * j.pageSize >= j.originalLength) return std::nullopt;
    j.pages.emplace_back(number, std::vector<uint8_t>(r + 4, r + 4 + j.pageSize));
  }
  return j;
}

}  // namespace jet
