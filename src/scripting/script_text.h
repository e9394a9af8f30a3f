// Catalog text written into scripts. Names written as code are bracketed
// (qv_bracketed); what is shown inside a line comment goes through
// comment_text so that it cannot end the comment; texts pasted as code
// without quoting (collation names, numbers) are checked first. Internal
// header.
#pragma once

#include "exec/namespaces.h"

#include <string>
#include <string_view>

namespace qv::ops::scripting {

// text for the inside of a line comment: carriage returns and line feeds,
// which would end it, are written as blanks.
std::string comment_text(std::string_view text);

// ASCII letters, digits and underscores only, at least one: a word that can
// stand in T-SQL code as it is (a collation or system type name).
bool plain_word(std::string_view text);

// A byte that can belong to a T-SQL word: ASCII letters and digits, the
// identifier marks _ @ # $, and every byte of a non-ASCII character.
bool word_byte(char c);

// A whole number: an optional minus sign and at least one digit.
bool whole_number(std::string_view text);

}  // namespace qv::ops::scripting
