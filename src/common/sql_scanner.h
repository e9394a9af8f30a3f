// The lexical states of T-SQL text: string literals, double-quoted and
// bracketed identifiers (with their doubled closing quotes), line comments
// and nested block comments. The script splitter follows them across lines
// to tell a GO line from text inside a literal or comment; the scripts'
// ALTER rule follows them to find a keyword that is really code. Nothing
// else of T-SQL is parsed. Internal header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv::common {

enum class qv_sql_state { normal, block_comment, string_literal, quoted, bracketed };

// Where a scan is: its state, and how deeply block comments nest.
struct qv_sql_scanner {
  qv_sql_state state = qv_sql_state::normal;
  std::int32_t depth = 0;
};

// Consumes the token at p[i] of the n bytes at p in the scanner's state and
// returns the index after it. In the normal state that is one byte, or the
// two of "/*", or a whole line comment up to (not including) the next line
// feed or n.
std::size_t qv_sql_step(const char *p, std::size_t i, std::size_t n, qv_sql_scanner &sc);

// Where the scanner is after the n bytes at p, given where it was before.
qv_sql_scanner qv_sql_scan(qv_sql_scanner sc, const char *p, std::size_t n);

}  // namespace qv::common
