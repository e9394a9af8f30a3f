// Names in generated T-SQL: which names are legal, bracket quoting with "]"
// doubled, string literals, and printf-style building of texts that
// are never cut.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/names.h"

// True when name is well-formed UTF-8 of at most kMaxNameUnits UTF-16 code
// units without control characters.
bool legal_name(const char *name);

// "[name]" with every "]" inside doubled.
std::string bracketed(std::string_view name);

// The inside of a string literal for name: every quote doubled. The name
// must be legal. Queries put it between N' and ' so that it compares with
// the catalog's nvarchar names without a trip through the code page.
std::string literal_text(const char *name);

// printf into a new string, never cut.
std::string formatted(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// printf appended to out, never cut.
void append_formatted(std::string &out, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
