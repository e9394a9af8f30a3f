#include "admin/names.h"

#include <cstring>

#include "common/names.h"

namespace {

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
  return qv_name_fits({name, len}) && !qv_has_control_byte({name, len}, true);
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
