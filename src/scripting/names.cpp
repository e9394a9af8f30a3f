#include "scripting/names.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/escape.h"
#include "common/names.h"
#include "common/text.h"

bool legal_name(const char *name) {
  return qv_name_fits(name) && !qv_has_control_byte(name, true);
}

std::string bracketed(std::string_view name) { return qv_bracketed(name); }

std::string literal_text(const char *name) {
  std::string out(2 * std::strlen(name) + 1, '\0');
  if (qv_sql_escape(name, out.data(), out.size()) != 0) return {};
  out.resize(std::strlen(out.c_str()));
  return out;
}

namespace {

void append_v(std::string &out, const char *fmt, va_list ap) {
  va_list again;
  va_copy(again, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  if (n > 0) {
    std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(n) + 1);
    std::vsnprintf(out.data() + at, static_cast<std::size_t>(n) + 1, fmt, again);
    out.resize(at + static_cast<std::size_t>(n));
  }
  va_end(again);
}

}  // namespace

std::string formatted(const char *fmt, ...) {
  std::string out;
  va_list ap;
  va_start(ap, fmt);
  append_v(out, fmt, ap);
  va_end(ap);
  return out;
}

void append_formatted(std::string &out, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  append_v(out, fmt, ap);
  va_end(ap);
}
