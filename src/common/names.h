// Names and texts that callers pass and that end up in T-SQL: the one rule
// for which names are legal, the one rule for caller texts, bracket quoting
// of identifiers and the escaping of string literals. Every operation pastes
// names and texts through these. Internal header.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv::common {

// A name is a sysname, nvarchar(128): at most 128 UTF-16 code units.
constexpr std::size_t kMaxNameUnits = 128;

// UTF-16 code units of well-formed UTF-8 text: a four-byte character is a
// surrogate pair.
std::size_t qv_utf16_units(std::string_view s);

// A legal object, schema, database or file name: well-formed UTF-8, no
// control character (U+0000 to U+001F, U+007F), 1 to 128 UTF-16 code units.
// Brackets, quotes and everything else are legal: quoting takes care of
// them.
bool qv_name_legal(std::string_view name);

// A legal caller text (a value, a path, a job id): well-formed UTF-8
// without U+0000, where a C string would end early.
bool qv_text_legal(std::string_view text);

// "[name]" with every "]" inside doubled.
std::string qv_bracketed(std::string_view name);

// The inside of a string literal: every "'" doubled. Statement texts put it
// between N' and ' (Unicode literals: names outside the database's code page
// still match).
std::string qv_literal_inside(std::string_view text);

// The Unicode literal N'text', quotes doubled.
std::string qv_literal(std::string_view text);

}  // namespace qv::common
