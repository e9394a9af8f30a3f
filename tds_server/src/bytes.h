// Little helpers for building and reading TDS byte streams, and the UTF-8 /
// UTF-16LE conversions every string on the wire needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tds::wire {

using Bytes = std::vector<std::uint8_t>;

inline void put_u8(Bytes &b, std::uint8_t v) { b.push_back(v); }
inline void put_u16(Bytes &b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void put_u16be(Bytes &b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v));
}
inline void put_u32(Bytes &b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void put_u64(Bytes &b, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
// The low `n` bytes of v, little-endian.
inline void put_uint_n(Bytes &b, std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void put_bytes(Bytes &b, const void *p, std::size_t n) {
  const auto *c = static_cast<const std::uint8_t *>(p);
  b.insert(b.end(), c, c + n);
}
// Overwrites a previously reserved little-endian u16 at `at`.
inline void patch_u16(Bytes &b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline std::uint16_t get_u16(const std::uint8_t *p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint16_t get_u16be(const std::uint8_t *p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t get_u32(const std::uint8_t *p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// UTF-8 -> UTF-16 code units (invalid bytes become U+FFFD).
std::u16string utf8_to_utf16(std::string_view s);
// UTF-16LE bytes -> UTF-8 (surrogate pairs joined; lone surrogates become U+FFFD).
std::string utf16le_to_utf8(const std::uint8_t *p, std::size_t nbytes);

// UTF-8 -> Windows-1252; characters the code page lacks become '?', as
// SQL Server stores them in a Latin1_General column.
std::string utf8_to_cp1252(std::string_view s);

// Appends UTF-16LE code units of `s`; returns how many code units were written.
std::size_t put_utf16(Bytes &b, std::string_view utf8);
// B_VARCHAR (1-byte character count) and US_VARCHAR (2-byte count).
void put_b_varchar(Bytes &b, std::string_view utf8);
void put_us_varchar(Bytes &b, std::string_view utf8);

}  // namespace tds::wire
