// Catalog text written into scripts. Names written as code are bracketed
// (qv_bracketed); texts pasted as code without quoting (collation names,
// numbers) are checked first. Internal header.
#pragma once

#include "exec/namespaces.h"

#include <string>
#include <string_view>

namespace qv::ops::scripting {

// ASCII letters, digits and underscores only, at least one: a word that can
// stand in T-SQL code as it is (a collation or system type name).
bool plain_word(std::string_view text);

// A whole number: an optional minus sign and at least one digit.
bool whole_number(std::string_view text);

}  // namespace qv::ops::scripting
