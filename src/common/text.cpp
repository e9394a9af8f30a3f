#include "common/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string.h>

namespace qv::common {

namespace {

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::size_t qv_utf8_sequence_len(unsigned char c) {
  if (c >= 0xF0 && c <= 0xF4) return 4;
  if (c >= 0xE0) return c <= 0xEF ? 3 : 1;
  if (c >= 0xC2) return 2;
  return 1;
}

std::size_t qv_utf8_prefix_len(const char *s, std::size_t len, std::size_t max) {
  if (len <= max) return len;
  const auto *u = reinterpret_cast<const unsigned char *>(s);
  if (!is_continuation(u[max])) return max;
  // The byte at the cut continues a character: find where that character
  // starts and cut before it, unless the continuation bytes are stray.
  std::size_t k = max;
  while (k > 0 && max - k < 4 && is_continuation(u[k])) --k;
  if (u[k] >= 0xC0 && k + qv_utf8_sequence_len(u[k]) > max) return k;
  return max;
}

void qv_copy_cut_n(char *dst, std::size_t dstsize, const char *src, std::size_t n) {
  if (dstsize == 0) return;
  std::size_t keep = qv_utf8_prefix_len(src, n, dstsize - 1);
  std::memcpy(dst, src, keep);
  dst[keep] = '\0';
}

void qv_copy_cut(char *dst, std::size_t dstsize, const char *src) {
  if (dstsize == 0) return;
  if (!src) {
    dst[0] = '\0';
    return;
  }
  qv_copy_cut_n(dst, dstsize, src, std::strlen(src));
}

std::size_t qv_vformat_cut(char *dst, std::size_t dstsize, const char *fmt, va_list ap) {
  if (dstsize == 0) return 0;
  int n = std::vsnprintf(dst, dstsize, fmt, ap);
  if (n < 0) {
    dst[0] = '\0';
    return 0;
  }
  std::size_t len = static_cast<std::size_t>(n);
  if (len < dstsize) return len;
  // Cut: drop a trailing character whose bytes did not all fit.
  len = dstsize - 1;
  const auto *u = reinterpret_cast<const unsigned char *>(dst);
  std::size_t k = len;
  while (k > 0 && len - k < 4 && is_continuation(u[k - 1])) --k;
  if (k > 0 && u[k - 1] >= 0xC0 && (k - 1) + qv_utf8_sequence_len(u[k - 1]) > len) len = k - 1;
  dst[len] = '\0';
  return len;
}

std::size_t qv_format_cut(char *dst, std::size_t dstsize, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::size_t n = qv_vformat_cut(dst, dstsize, fmt, ap);
  va_end(ap);
  return n;
}

long long qv_utf8_invalid_at(const char *s, std::size_t len) {
  const auto *u = reinterpret_cast<const unsigned char *>(s);
  std::size_t i = 0;
  while (i < len) {
    unsigned char c = u[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = qv_utf8_sequence_len(c);
    if (n == 1 || i + n > len) return static_cast<long long>(i);
    for (std::size_t j = 1; j < n; ++j)
      if (!is_continuation(u[i + j])) return static_cast<long long>(i);
    unsigned char c1 = u[i + 1];
    if ((c == 0xE0 && c1 < 0xA0) ||   // overlong
        (c == 0xED && c1 >= 0xA0) ||  // surrogate
        (c == 0xF0 && c1 < 0x90) ||   // overlong
        (c == 0xF4 && c1 >= 0x90))    // above U+10FFFF
      return static_cast<long long>(i);
    i += n;
  }
  return -1;
}

bool qv_utf8_valid(const char *s, std::size_t len) { return qv_utf8_invalid_at(s, len) < 0; }

std::size_t qv_utf8_next_unit(const char *s, std::size_t len, std::size_t i, bool *valid) {
  const auto *u = reinterpret_cast<const unsigned char *>(s);
  std::size_t n = qv_utf8_sequence_len(u[i]);
  if (u[i] < 0x80 || (i + n <= len && qv_utf8_valid(s + i, n))) {
    *valid = true;
    return n;
  }
  std::size_t j = i + 1;
  while (j < len && j < i + n && is_continuation(u[j])) ++j;
  *valid = false;
  return j - i;
}

std::size_t qv_utf8_sanitize_into(const char *s, std::size_t len, char *out, std::size_t outsize) {
  static constexpr char kReplacement[] = "\xEF\xBF\xBD";
  if (outsize == 0) return 0;
  std::size_t o = 0;
  for (std::size_t i = 0; i < len;) {
    bool valid;
    std::size_t n = qv_utf8_next_unit(s, len, i, &valid);
    const char *piece = valid ? s + i : kReplacement;
    std::size_t piece_len = valid ? n : sizeof kReplacement - 1;
    if (o + piece_len > outsize - 1) break;
    std::memcpy(out + o, piece, piece_len);
    o += piece_len;
    i += n;
  }
  out[o] = '\0';
  return o;
}

char *qv_strdup(const char *s) {
  if (!s) return nullptr;
  std::size_t n = std::strlen(s) + 1;
  char *p = static_cast<char *>(std::malloc(n));
  if (p) std::memcpy(p, s, n);
  return p;
}

std::int32_t qv_now_ms() {
  struct timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(std::clock()));
  std::uint32_t ms = static_cast<std::uint32_t>(ts.tv_sec) * 1000u +
                     static_cast<std::uint32_t>(ts.tv_nsec / 1000000);
  return static_cast<std::int32_t>(ms);
}

std::int32_t qv_elapsed_ms(std::int32_t start, std::int32_t end) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(end) -
                                   static_cast<std::uint32_t>(start));
}

void qv_wipe(void *p, std::size_t n) {
  if (p && n) explicit_bzero(p, n);
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

std::string qv_formatted(const char *fmt, ...) {
  std::string out;
  va_list ap;
  va_start(ap, fmt);
  append_v(out, fmt, ap);
  va_end(ap);
  return out;
}

void qv_append_formatted(std::string &out, const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  append_v(out, fmt, ap);
  va_end(ap);
}

}  // namespace qv::common
