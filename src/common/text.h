// Small text helpers shared by every operation: UTF-8 aware cutting and
// copying, formatting into fixed buffers, heap copies, the millisecond clock
// and wiping of secrets. Internal header.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::common {

// Length of the longest prefix of s (len bytes) that is at most max bytes
// long and does not end inside a UTF-8 character.
std::size_t qv_utf8_prefix_len(const char *s, std::size_t len, std::size_t max);

// Copies src into dst (dstsize bytes including the terminator), cutting at
// dstsize - 1 bytes on a character boundary. dstsize must be at least 1.
void qv_copy_cut(char *dst, std::size_t dstsize, const char *src);
void qv_copy_cut_n(char *dst, std::size_t dstsize, const char *src, std::size_t n);

// vsnprintf into dst, cut on a character boundary when the result does not
// fit. Returns the length written.
std::size_t qv_vformat_cut(char *dst, std::size_t dstsize, const char *fmt, va_list ap);
std::size_t qv_format_cut(char *dst, std::size_t dstsize, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

// Bytes of the UTF-8 sequence a lead byte announces; 1 for ASCII and for
// bytes that cannot start a sequence.
std::size_t qv_utf8_sequence_len(unsigned char lead);

// True when s (len bytes) is well-formed UTF-8 (no overlongs, surrogates or
// code points above U+10FFFF).
bool qv_utf8_valid(const char *s, std::size_t len);
// Offset of the first byte that does not start a well-formed UTF-8 sequence;
// -1 when all of s is well-formed.
long long qv_utf8_invalid_at(const char *s, std::size_t len);

// The next unit of s from offset i: a well-formed sequence (*valid true) or
// a broken one, its lead byte and the continuation bytes that follow it up
// to the announced length (*valid false). Returns the unit's byte count.
std::size_t qv_utf8_next_unit(const char *s, std::size_t len, std::size_t i, bool *valid);

// Copies s into out (outsize bytes, terminator included) with every broken
// sequence replaced by U+FFFD, cut on a character boundary. Returns the
// length written.
std::size_t qv_utf8_sanitize_into(const char *s, std::size_t len, char *out, std::size_t outsize);

// A malloc copy of s, or null when s is null or memory runs out.
char *qv_strdup(const char *s);

// Monotonic milliseconds, wrapping in 32 bits; only differences are used.
std::int32_t qv_now_ms();
// end - start of two qv_now_ms readings, taken in unsigned 32-bit arithmetic.
std::int32_t qv_elapsed_ms(std::int32_t start, std::int32_t end);

// printf into a new string, never cut.
std::string qv_formatted(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// printf appended to out, never cut.
void qv_append_formatted(std::string &out, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

// Overwrites n bytes so that the compiler cannot drop the stores.
void qv_wipe(void *p, std::size_t n);

}  // namespace qv::common
