// Names as the engine compares them.
#include "jet/base/names.h"

namespace jet {

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

std::string lowerName(std::string s) {
  for (char& c : s) c = lowerAscii(c);
  return s;
}

}  // namespace jet
