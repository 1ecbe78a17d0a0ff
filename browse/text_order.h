// The order of the grid's header sort: cell texts compared as the user's language orders text,
// without regard to case. Texts of plain ASCII in English compare through a rank per character
// taken from the collator itself, so sorting many rows compares short byte strings; any other
// text, or another language, goes through the collator's own sort keys. Both give the same order.
#pragma once

#include <QCollator>
#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace browse {

class TextOrder {
 public:
  explicit TextOrder(const QLocale& language);

  // Positions 0..count-1 ordered by their texts; equal texts keep their positions' order, also
  // when descending.
  std::vector<int32_t> sort(int32_t count, const std::function<std::string_view(int32_t)>& text,
                            bool descending) const;
  // Whether plain ASCII texts take the rank table (for tests).
  bool ranksAscii() const { return ranked_; }

 private:
  bool rankCharacters();
  bool rankKey(std::string_view text, std::string& key) const;

  QCollator collator_;
  std::array<uint8_t, 128> rank_{};  // 0: ignored by the collator
  bool ranked_ = false;
};

}  // namespace browse
