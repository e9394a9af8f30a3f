#include "common/reply.h"

#include <sys/mman.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/text.h"

namespace qv::common {

namespace {

constexpr std::size_t kInitialReplyCapacity = 4096;
// Buffers from this size on are faulted in kPrefaultStep ahead of the writes.
constexpr std::size_t kPrefaultFrom = std::size_t{1} << 20;
constexpr std::size_t kPrefaultStep = std::size_t{2} << 20;
constexpr std::uintptr_t kPageSize = 4096;
constexpr char kReplacementChar[] = "\xEF\xBF\xBD";
constexpr char kHexDigits[] = "0123456789ABCDEF";

// For each ASCII byte the character written after the backslash ('u' for
// \u00XX), 0 when the byte is written as it is.
constexpr std::array<char, 128> kEscape = [] {
  std::array<char, 128> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 'u';
  t['\b'] = 'b';
  t['\t'] = 't';
  t['\n'] = 'n';
  t['\f'] = 'f';
  t['\r'] = 'r';
  t['"'] = '"';
  t['\\'] = '\\';
  return t;
}();

#if defined(__SSE2__)
constexpr std::size_t kBlock = 16;
// One bit per byte of the 16 at s that needs a closer look: a control
// character or non-ASCII byte (both below 0x20 as signed bytes), a quote or
// a backslash.
inline unsigned special_bytes(const char *s) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
  const __m128i special = _mm_or_si128(
      _mm_cmplt_epi8(v, _mm_set1_epi8(0x20)),
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
  return static_cast<unsigned>(_mm_movemask_epi8(special));
}
// The same for the last `left` (< 16) bytes at s, read through a block of
// plain bytes so that nothing past the end is read.
inline unsigned special_bytes_in_tail(const char *s, std::size_t left) {
  alignas(kBlock) char block[kBlock];
  _mm_store_si128(reinterpret_cast<__m128i *>(block), _mm_set1_epi8('a'));
  qv_copy_bytes(block, s, left);
  return special_bytes(block) & ((1u << left) - 1);
}
#endif

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Length of the well-formed two- or three-byte sequence at s[i] (the
// characters of most non-ASCII text), 0 when it is anything else.
inline std::size_t common_sequence_len(const char *s, std::size_t n, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c >= 0xC2 && c <= 0xDF) return i + 1 < n && continuation(s[i + 1]) ? 2 : 0;
  if (c < 0xE0 || c > 0xEF || i + 2 >= n || !continuation(s[i + 1]) || !continuation(s[i + 2]))
    return 0;
  const auto c1 = static_cast<unsigned char>(s[i + 1]);
  if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 >= 0xA0)) return 0;  // overlong, surrogate
  return 3;
}

}  // namespace

qv_out::~qv_out() { std::free(buf_); }

void qv_out::make_room(std::size_t extra) {
  std::size_t need = len_ + extra + 1;
  if (need > cap_) {
    std::size_t cap = cap_ ? cap_ : kInitialReplyCapacity;
    while (cap < need) cap *= 2;
    char *p = static_cast<char *>(std::realloc(buf_, cap));
    if (!p) throw std::bad_alloc();
    buf_ = p;
    cap_ = cap;
  }
  limit_ = cap_;
  if (cap_ < kPrefaultFrom) return;
  // A large reply faults its pages in ahead of the writes, a step at a time:
  // one system call instead of a page fault per 4 KiB.
  const auto base = reinterpret_cast<std::uintptr_t>(buf_);
  const std::uintptr_t from = (base + len_) & ~(kPageSize - 1);
  const std::uintptr_t to = (base + std::min(cap_, need + kPrefaultStep)) & ~(kPageSize - 1);
  if (to > from && madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE) == 0)
    limit_ = to - base;
  if (limit_ < need) limit_ = need;  // never less than what was asked for
}

namespace {

// Writes the escape e of the ASCII byte c ("\\n", or "\\u00XX" when e is
// 'u'); returns the end.
inline char *put_escape(char *o, unsigned char c, char e) {
  *o++ = '\\';
  *o++ = e;
  if (e == 'u') {
    *o++ = '0';
    *o++ = '0';
    *o++ = kHexDigits[c >> 4];
    *o++ = kHexDigits[c & 0x0F];
  }
  return o;
}

}  // namespace

void qv_out::append_json_string(const char *s, std::size_t n) {
  Reserve(2 + 6 * n);  // at most six bytes out per byte in (\u00XX)
  char *o = buf_ + len_;
  *o++ = '"';
  std::size_t i = 0, pending = 0;  // s[pending, i) is still to be copied
  auto flush = [&] {
    qv_copy_bytes(o, s + pending, i - pending);
    o += i - pending;
  };
  while (i < n) {
#if defined(__SSE2__)
    const std::size_t left = n - i;
    const unsigned special = left >= kBlock ? special_bytes(s + i) : special_bytes_in_tail(s + i, left);
    if (!special) {
      i += std::min(left, kBlock);
      continue;
    }
    i += static_cast<std::size_t>(std::countr_zero(special));  // plain bytes before it
#endif
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      const char e = kEscape[c];
      if (!e) {
        ++i;
        continue;
      }
      flush();
      o = put_escape(o, c, e);
      pending = ++i;
      continue;
    }
    if (const std::size_t two_or_three = common_sequence_len(s, n, i)) {
      i += two_or_three;
      continue;
    }
    bool valid;
    const std::size_t unit = qv_utf8_next_unit(s, n, i, &valid);
    if (valid) {
      i += unit;
      continue;
    }
    flush();
    std::memcpy(o, kReplacementChar, 3);
    o += 3;
    pending = i += unit;
  }
  flush();
  *o++ = '"';
  len_ = static_cast<std::size_t>(o - buf_);
}

char *qv_out::release() {
  Reserve(1);
  buf_[len_] = '\0';
  char *p = buf_;
  buf_ = nullptr;
  len_ = cap_ = limit_ = 0;
  return p;
}

void qv_reply::str(std::string_view s) {
  w_.RawValue("", 0, rapidjson::kStringType);  // separators and nesting only
  out_.append_json_string(s.data(), s.size());
}

// A key is written the same way: the writer tells keys from values by
// their position in the object.
void qv_reply::key(std::string_view k) { str(k); }

void qv_reply::real(double v) {
  if (!std::isfinite(v)) return null();
  char digits[kRealTextMax];
  const char *end = qv_real_text(v, digits);
  scalar(rapidjson::kNumberType, digits, static_cast<std::size_t>(end - digits));
}

char *qv_real_text(double v, char *out) {
  return rapidjson::internal::dtoa(v, out, qv_json_writer<qv_out>::kDefaultMaxDecimalPlaces);
}

}  // namespace qv::common
