#include "admin/names.h"

#include <cstring>

#include "common/text.h"

namespace {

// A supplementary character (four UTF-8 bytes) is a surrogate pair in UTF-16.
std::size_t utf16_units(const char *s, std::size_t len) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < len;) {
    std::size_t n = qv_utf8_sequence_len(static_cast<unsigned char>(s[i]));
    units += n == 4 ? 2 : 1;
    i += n;
  }
  return units;
}

bool has_control_byte(const char *s, std::size_t len) {
  for (std::size_t i = 0; i < len; ++i)
    if (static_cast<unsigned char>(s[i]) < 0x20 || s[i] == 0x7F) return true;
  return false;
}

// Copies name into out doubling every byte equal to twin.
void copy_doubling(const char *name, char twin, char *out) {
  for (; *name; ++name) {
    *out++ = *name;
    if (*name == twin) *out++ = twin;
  }
  *out = '\0';
}

}  // namespace

bool name_is_quotable(const char *name) {
  if (!name || !*name) return false;
  std::size_t len = std::strlen(name);
  if (len > kMaxNameBytes * 2) return false;  // surely too long; keeps the scans short
  return qv_utf8_valid(name, len) && !has_control_byte(name, len) &&
         utf16_units(name, len) <= kMaxNameUnits;
}

int quote_name(const char *name, char *out) {
  if (!name_is_quotable(name)) return -1;
  *out = '[';
  copy_doubling(name, ']', out + 1);
  std::size_t len = std::strlen(out);
  out[len] = ']';
  out[len + 1] = '\0';
  return 0;
}

int name_literal(const char *name, char *out) {
  if (!name_is_quotable(name)) return -1;
  copy_doubling(name, '\'', out);
  return 0;
}
