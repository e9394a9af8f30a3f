#include "editgrid/names.h"

#include <cstring>

#include "common/escape.h"
#include "common/text.h"

namespace {

constexpr std::size_t kFourByteSequence = 4;  // the UTF-8 length of a surrogate pair

bool has_control_byte(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20) return true;
  return false;
}

}  // namespace

bool eg_name_fits(std::string_view name) {
  if (!qv_utf8_valid(name.data(), name.size())) return false;
  std::size_t units = 0;
  for (std::size_t i = 0; i < name.size();) {
    std::size_t n = qv_utf8_sequence_len(static_cast<unsigned char>(name[i]));
    units += n == kFourByteSequence ? 2 : 1;
    i += n;
  }
  return units <= kMaxNameUnits;
}

std::string eg_bracket(std::string_view name) {
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

bool eg_quote_ident(const char *name, std::string *out) {
  if (!name || !*name || !eg_name_fits(name) || has_control_byte(name)) return false;
  *out = eg_bracket(name);
  return true;
}

bool eg_name_literal(const char *name, std::string *out) {
  if (!name || !eg_name_fits(name)) return false;
  // Every byte doubled at most, plus the terminator.
  std::string escaped(2 * std::strlen(name) + 1, '\0');
  if (qv_sql_escape(name, escaped.data(), escaped.size()) != 0) return false;
  escaped.resize(std::strlen(escaped.c_str()));
  *out = "N'" + escaped + "'";
  return true;
}
