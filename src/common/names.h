// Server object names (sysname) in generated T-SQL: which names are legal
// and how they are quoted. Shared by every operation that pastes a name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A name is a sysname, nvarchar(128): at most 128 UTF-16 code units.
constexpr std::size_t kMaxNameUnits = 128;

// UTF-16 code units of well-formed UTF-8 text: a four-byte character is a
// surrogate pair.
std::size_t qv_utf16_units(std::string_view s);
// True when s is well-formed UTF-8 of at most kMaxNameUnits code units.
bool qv_name_fits(std::string_view s);
// True when s holds a byte below 0x20, or DEL when with_del.
bool qv_has_control_byte(std::string_view s, bool with_del);
// "[name]" with every "]" inside doubled.
std::string qv_bracketed(std::string_view name);
// The inside of a string literal for text (qv_sql_escape's rules: quotes
// doubled, other control characters than tab, LF and CR refused); false
// when refused.
bool qv_literal_text(const char *text, std::string *out);
