// Server object names (databases, files) pasted into T-SQL: every name that
// the server accepts fits, and it reaches the server only quoted.
#pragma once

#include <cstddef>

#include "common/names.h"

// The UTF-8 bytes of the longest legal name: three per code unit (a
// character outside the BMP takes four bytes but two code units).
constexpr std::size_t kMaxNameBytes = 3 * kMaxNameUnits;
// "[name]" with every "]" doubled, and its terminator. A doubled byte is a
// one-byte character, so the doubled name is never longer than kMaxNameBytes.
constexpr std::size_t kQuotedNameSize = kMaxNameBytes + 3;
// The contents of N'name' with every quote doubled, and its terminator.
constexpr std::size_t kNameLiteralSize = kMaxNameBytes + 1;

// True when name can be quoted: well-formed UTF-8 without control
// characters, 1 to 128 UTF-16 code units long.
bool name_is_quotable(const char *name);
// Writes "[name]" with "]" doubled into out (kQuotedNameSize bytes); -1 when
// the name cannot be quoted.
int quote_name(const char *name, char *out);
// Writes name with quotes doubled into out (kNameLiteralSize bytes), the
// contents of a Unicode literal N'...'; -1 when the name cannot be quoted.
int name_literal(const char *name, char *out);
