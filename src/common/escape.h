// Pasting caller-supplied values and names into T-SQL.
#pragma once

#include <cstddef>

// Contents of a T-SQL string literal (quotes doubled, without the
// surrounding quotes). Refuses control bytes other than tab, LF and CR, and
// results that do not fit in outsize bytes. 0 on success, -1 on refusal.
int qv_sql_escape(const char *in, char *out, std::size_t outsize);

// A bracket-quoted identifier "[name]". Refuses bytes below 0x20 and ']',
// and results that do not fit in outsize bytes. 0 on success, -1 on refusal.
int qv_ident_escape(const char *in, char *out, std::size_t outsize);
