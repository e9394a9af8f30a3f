// Object names pasted into T-SQL: bracket-quoted identifiers and the Unicode
// literals catalog lookups compare names with.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/names.h"

// A caller's database, schema or table name bracket-quoted into out; false
// when it holds a control character or is not a name the server can hold.
bool eg_quote_ident(const char *name, std::string *out);

// The inside of N'name' (quotes doubled), for catalog lookups; false when
// the name holds a control character other than tab, line feed and carriage
// return, or is not a name the server can hold.
bool eg_name_text(const char *name, std::string *out);
