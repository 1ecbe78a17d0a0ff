// UTF-8 and UTF-16 at the driver's boundary, and ODBC's rules for text written to the caller.
#include "odbc/text.h"

#include <cstring>

namespace odbc {

std::string narrowIn(const SQLCHAR* text, SQLINTEGER length) {
  if (!text) return {};
  if (length == SQL_NTS) return std::string(reinterpret_cast<const char*>(text));
  if (length < 0) return {};
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
}

std::string wideIn(const SQLWCHAR* text, SQLINTEGER length) {
  if (!text) return {};
  size_t n = 0;
  if (length == SQL_NTS) {
    while (text[n]) ++n;
  } else if (length > 0) {
    n = static_cast<size_t>(length);
  }
  return toUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), n));
}

namespace {

// Decodes one code point at `i`, advancing it; invalid sequences give U+FFFD and one byte.
char32_t decode(std::string_view s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) {
    ++i;
    return b;
  }
  int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
  if (extra < 0 || i + extra >= s.size()) {
    ++i;
    return 0xFFFD;
  }
  char32_t c = b & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const auto t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (t & 0x3F);
  }
  i += extra + 1;
  return c > 0x10FFFF ? 0xFFFD : c;
}

}  // namespace

size_t utf8ToUtf16(std::string_view s, SQLWCHAR* out, size_t capacity, size_t* consumed) {
  size_t i = 0, n = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      if (n >= capacity) break;
      out[n++] = b;
      ++i;
      continue;
    }
    size_t j = i;
    const char32_t c = decode(s, j);
    if (c >= 0x10000) {
      if (n + 2 > capacity) break;
      out[n++] = static_cast<SQLWCHAR>(0xD800 + ((c - 0x10000) >> 10));
      out[n++] = static_cast<SQLWCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      if (n >= capacity) break;
      out[n++] = static_cast<SQLWCHAR>(c);
    }
    i = j;
  }
  if (consumed) *consumed = i;
  return n;
}

size_t utf16Length(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      ++n;
      ++i;
      continue;
    }
    n += decode(s, i) >= 0x10000 ? 2 : 1;
  }
  return n;
}

std::u16string toUtf16(std::string_view utf8) {
  std::u16string out(utf16Length(utf8), u'\0');
  utf8ToUtf16(utf8, reinterpret_cast<SQLWCHAR*>(out.data()), out.size());
  return out;
}

std::string toUtf8(std::u16string_view w) {
  std::string out;
  out.reserve(w.size());
  for (size_t i = 0; i < w.size(); ++i) {
    char32_t c = w[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

bool textOut(std::string_view text, void* buffer, SQLLEN bufferLength, bool wide, bool bytes, SQLLEN* length) {
  if (wide) {
    const size_t units = utf16Length(text);
    if (length) *length = static_cast<SQLLEN>(bytes ? units * sizeof(SQLWCHAR) : units);
    if (!buffer) return true;
    const SQLLEN capacity = bytes ? bufferLength / static_cast<SQLLEN>(sizeof(SQLWCHAR)) : bufferLength;
    if (capacity <= 0) return false;
    auto* out = static_cast<SQLWCHAR*>(buffer);
    const size_t n = utf8ToUtf16(text, out, static_cast<size_t>(capacity - 1));
    out[n] = 0;
    return n == units;
  }
  if (length) *length = static_cast<SQLLEN>(text.size());
  if (!buffer) return true;
  if (bufferLength <= 0) return false;
  size_t n = std::min(text.size(), static_cast<size_t>(bufferLength - 1));
  if (n < text.size())
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;  // whole characters only
  std::memcpy(buffer, text.data(), n);
  static_cast<char*>(buffer)[n] = '\0';
  return n == text.size();
}

bool textOut(std::string_view text, void* buffer, SQLLEN bufferLength, bool wide, bool bytes, SQLSMALLINT* length) {
  SQLLEN full = 0;
  const bool whole = textOut(text, buffer, bufferLength, wide, bytes, &full);
  if (length) *length = static_cast<SQLSMALLINT>(full);
  return whole;
}

bool textOut(std::string_view text, void* buffer, SQLLEN bufferLength, bool wide, bool bytes, SQLINTEGER* length) {
  SQLLEN full = 0;
  const bool whole = textOut(text, buffer, bufferLength, wide, bytes, &full);
  if (length) *length = static_cast<SQLINTEGER>(full);
  return whole;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace odbc
