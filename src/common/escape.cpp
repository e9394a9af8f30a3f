#include "common/escape.h"

namespace {

constexpr std::size_t kMinLiteralOut = 3;
constexpr std::size_t kMinIdentOut = 5;

bool literal_byte_allowed(unsigned char c) {
  return c >= 0x20 || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

int qv_sql_escape(const char *in, char *out, std::size_t outsize) {
  if (!out || outsize < kMinLiteralOut || !in) return -1;
  std::size_t o = 0;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(in); *p; ++p) {
    if (!literal_byte_allowed(*p)) return -1;
    std::size_t need = (*p == '\'') ? 2 : 1;
    if (o + need + 1 > outsize) return -1;  // room for the terminator
    out[o++] = static_cast<char>(*p);
    if (*p == '\'') out[o++] = '\'';
  }
  out[o] = '\0';
  return 0;
}

int qv_ident_escape(const char *in, char *out, std::size_t outsize) {
  if (!out || outsize < kMinIdentOut || !in) return -1;
  std::size_t o = 0;
  out[o++] = '[';
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(in); *p; ++p) {
    if (*p < 0x20 || *p == ']') return -1;
    if (o + 1 + 2 > outsize) return -1;  // this byte, "]" and the terminator
    out[o++] = static_cast<char>(*p);
  }
  out[o++] = ']';
  out[o] = '\0';
  return 0;
}
