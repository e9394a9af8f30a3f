#include "common/names.h"

#include <cstring>

#include "common/escape.h"
#include "common/text.h"

namespace {

constexpr std::size_t kSurrogatePairBytes = 4;

}  // namespace

std::size_t qv_utf16_units(std::string_view s) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = qv_utf8_sequence_len(static_cast<unsigned char>(s[i]));
    units += n == kSurrogatePairBytes ? 2 : 1;
    i += n;
  }
  return units;
}

bool qv_name_fits(std::string_view s) {
  return qv_utf8_valid(s.data(), s.size()) && qv_utf16_units(s) <= kMaxNameUnits;
}

bool qv_has_control_byte(std::string_view s, bool with_del) {
  for (unsigned char c : s)
    if (c < 0x20 || (with_del && c == 0x7F)) return true;
  return false;
}

std::string qv_bracketed(std::string_view name) {
  std::string out;
  out.reserve(name.size() + 2);
  out += '[';
  for (char c : name) {
    out += c;
    if (c == ']') out += ']';
  }
  out += ']';
  return out;
}

bool qv_literal_text(const char *text, std::string *out) {
  // Every byte doubled at most, plus the terminator.
  std::string escaped(2 * std::strlen(text) + 1, '\0');
  if (qv_sql_escape(text, escaped.data(), escaped.size()) != 0) return false;
  escaped.resize(std::strlen(escaped.c_str()));
  *out = std::move(escaped);
  return true;
}
