#include "scripting/names.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/escape.h"
#include "common/text.h"

bool legal_name(const char *name) {
  std::size_t len = std::strlen(name);
  if (!qv_utf8_valid(name, len)) return false;
  std::size_t units = 0;
  for (std::size_t i = 0; i < len;) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c < 0x20 || c == 0x7F) return false;
    std::size_t n = qv_utf8_sequence_len(c);
    units += n == 4 ? 2 : 1;  // characters beyond the BMP take a surrogate pair
    i += n;
  }
  return units <= kMaxNameUnits;
}

std::string bracketed(std::string_view name) {
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
