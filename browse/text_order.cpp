#include "browse/text_order.h"

#include <QLocale>
#include <algorithm>
#include <cstring>

namespace browse {

namespace {

QString one(char c) { return QString(QChar(static_cast<char16_t>(c))); }

// A text's key as one arena slice, with its first eight bytes packed for a quick first compare.
struct Key {
  uint64_t head;
  uint32_t offset;
  uint32_t size;
};

}  // namespace

TextOrder::TextOrder(const QLocale& language) : collator_(language) {
  collator_.setCaseSensitivity(Qt::CaseInsensitive);
  collator_.setNumericMode(false);
  // Other languages may join letters (contractions) or reorder them by pairs; English does not.
  if (language.language() == QLocale::English) ranked_ = rankCharacters();
}

// Ranks the ASCII characters by comparing them one by one with the collator. The ranks stand for
// the collator only if a text's first differing character decides its order, which is checked
// on each neighbouring pair of ranks with the lowest and highest character after them.
bool TextOrder::rankCharacters() {
  auto compare = [&](const QString& a, const QString& b) {
    return collator_.sortKey(a).compare(collator_.sortKey(b));
  };
  std::vector<char> chars;
  for (int c = 1; c < 128; ++c) chars.push_back(static_cast<char>(c));
  std::stable_sort(chars.begin(), chars.end(), [&](char a, char b) { return compare(one(a), one(b)) < 0; });
  std::vector<char> representative;
  for (char c : chars) {
    if (compare(one(c), QString()) == 0) continue;  // ignored: rank 0
    if (representative.empty() || compare(one(representative.back()), one(c)) != 0) {
      if (representative.size() == 255) return false;
      representative.push_back(c);
    }
    rank_[static_cast<size_t>(c)] = static_cast<uint8_t>(representative.size());
  }
  if (representative.size() < 2) return false;
  const QString low = one(representative.front()), high = one(representative.back());
  for (size_t k = 0; k + 1 < representative.size(); ++k) {
    if (compare(one(representative[k]) + high, one(representative[k + 1]) + low) >= 0) return false;
    if (compare(one(representative[k]) + high + high, one(representative[k + 1])) >= 0) return false;
  }
  return true;
}

bool TextOrder::rankKey(std::string_view text, std::string& key) const {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 128) return false;
    if (uint8_t r = rank_[static_cast<size_t>(c)]) key.push_back(static_cast<char>(r));
  }
  return true;
}

std::vector<int32_t> TextOrder::sort(int32_t count, const std::function<std::string_view(int32_t)>& text,
                                     bool descending) const {
  std::vector<int32_t> order(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) order[static_cast<size_t>(i)] = i;
  if (ranked_) {
    std::string arena;
    std::vector<Key> keys(static_cast<size_t>(count));
    bool ascii = true;
    for (int32_t i = 0; i < count && ascii; ++i) {
      const size_t start = arena.size();
      ascii = rankKey(text(i), arena);
      uint64_t head = 0;
      for (size_t b = 0; b < 8; ++b)
        head = head << 8 | (start + b < arena.size() ? static_cast<uint8_t>(arena[start + b]) : 0);
      keys[static_cast<size_t>(i)] = {head, static_cast<uint32_t>(start), static_cast<uint32_t>(arena.size() - start)};
      if (arena.size() > UINT32_MAX) ascii = false;
    }
    if (ascii) {
      auto compare = [&](const Key& a, const Key& b) {
        if (a.head != b.head) return a.head < b.head ? -1 : 1;
        if (a.size <= 8 || b.size <= 8) return a.size == b.size ? 0 : (a.size < b.size ? -1 : 1);
        const size_t n = std::min(a.size, b.size) - 8;
        int c = std::memcmp(arena.data() + a.offset + 8, arena.data() + b.offset + 8, n);
        if (c) return c;
        return a.size == b.size ? 0 : (a.size < b.size ? -1 : 1);
      };
      std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        int c = compare(keys[static_cast<size_t>(a)], keys[static_cast<size_t>(b)]);
        return descending ? c > 0 : c < 0;
      });
      return order;
    }
  }
  std::vector<QCollatorSortKey> keys;
  keys.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    std::string_view t = text(i);
    keys.push_back(collator_.sortKey(QString::fromUtf8(t.data(), static_cast<qsizetype>(t.size()))));
  }
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    int c = keys[static_cast<size_t>(a)].compare(keys[static_cast<size_t>(b)]);
    return descending ? c > 0 : c < 0;
  });
  return order;
}

}  // namespace browse
