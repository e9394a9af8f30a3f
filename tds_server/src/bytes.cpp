#include "bytes.h"

namespace tds::wire {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at s[i], advancing i.
char32_t next_code_point(std::string_view s, std::size_t &i) {
  const auto c0 = static_cast<unsigned char>(s[i++]);
  if (c0 < 0x80) return c0;
  int extra = 0;
  char32_t cp = 0;
  if ((c0 & 0xE0) == 0xC0) { extra = 1; cp = c0 & 0x1F; }
  else if ((c0 & 0xF0) == 0xE0) { extra = 2; cp = c0 & 0x0F; }
  else if ((c0 & 0xF8) == 0xF0) { extra = 3; cp = c0 & 0x07; }
  else return kReplacement;
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size()) return kReplacement;
    const auto c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (c & 0x3F);
    ++i;
  }
  return cp > 0x10FFFF ? kReplacement : cp;
}

void append_utf8(std::string &out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp = next_code_point(s, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string utf16le_to_utf8(const std::uint8_t *p, std::size_t nbytes) {
  std::string out;
  out.reserve(nbytes / 2);
  const std::size_t units = nbytes / 2;
  for (std::size_t i = 0; i < units; ++i) {
    char32_t u = get_u16(p + 2 * i);
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
      const char32_t lo = get_u16(p + 2 * (i + 1));
      if (lo >= 0xDC00 && lo < 0xE000) {
        append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u < 0xE000) u = kReplacement;
    append_utf8(out, u);
  }
  return out;
}

std::string utf8_to_cp1252(std::string_view s) {
  // Code points of 0x80..0x9F in Windows-1252 (0 where the byte is unassigned).
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const char32_t cp = next_code_point(s, i);
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    char byte = '?';
    for (int k = 0; k < 32; ++k) {
      if (kHigh[k] != 0 && kHigh[k] == cp) byte = static_cast<char>(0x80 + k);
    }
    out += byte;
  }
  return out;
}

std::size_t put_utf16(Bytes &b, std::string_view utf8) {
  const std::u16string u = utf8_to_utf16(utf8);
  for (char16_t c : u) put_u16(b, static_cast<std::uint16_t>(c));
  return u.size();
}

void put_b_varchar(Bytes &b, std::string_view utf8) {
  const std::size_t at = b.size();
  b.push_back(0);
  b[at] = static_cast<std::uint8_t>(put_utf16(b, utf8));
}

void put_us_varchar(Bytes &b, std::string_view utf8) {
  const std::size_t at = b.size();
  put_u16(b, 0);
  patch_u16(b, at, static_cast<std::uint16_t>(put_utf16(b, utf8)));
}

}  // namespace tds::wire
