#include "common/sql_scanner.h"

#include <cstring>

namespace qv::common {

namespace {

// True when bytes i and i + 1 both lie in the text and equal a and b.
bool pair_at(const char *p, std::size_t i, std::size_t n, char a, char b) {
  return i + 1 < n && p[i] == a && p[i + 1] == b;
}

std::size_t line_end(const char *p, std::size_t i, std::size_t n) {
  const void *lf = std::memchr(p + i, '\n', n - i);
  return lf ? static_cast<std::size_t>(static_cast<const char *>(lf) - p) : n;
}

std::size_t step_normal(const char *p, std::size_t i, std::size_t n, qv_sql_scanner &sc) {
  if (pair_at(p, i, n, '-', '-')) return line_end(p, i, n);
  if (pair_at(p, i, n, '/', '*')) {
    sc.state = qv_sql_state::block_comment;
    sc.depth = 1;
    return i + 2;
  }
  if (p[i] == '\'') sc.state = qv_sql_state::string_literal;
  if (p[i] == '"') sc.state = qv_sql_state::quoted;
  if (p[i] == '[') sc.state = qv_sql_state::bracketed;
  return i + 1;
}

// T-SQL block comments nest: /* a /* b */ still inside */.
std::size_t step_block_comment(const char *p, std::size_t i, std::size_t n, qv_sql_scanner &sc) {
  if (pair_at(p, i, n, '/', '*')) {
    ++sc.depth;
    return i + 2;
  }
  if (!pair_at(p, i, n, '*', '/')) return i + 1;
  if (--sc.depth == 0) sc.state = qv_sql_state::normal;
  return i + 2;
}

// Inside a quoted text that ends at `close`, where a doubled `close` stands
// for one and the text goes on: string literals ('), quoted identifiers (")
// and bracketed identifiers (]).
std::size_t step_quoted(const char *p, std::size_t i, std::size_t n, char close,
                        qv_sql_scanner &sc) {
  if (p[i] != close) return i + 1;
  if (pair_at(p, i, n, close, close)) return i + 2;
  sc.state = qv_sql_state::normal;
  return i + 1;
}

}  // namespace

std::size_t qv_sql_step(const char *p, std::size_t i, std::size_t n, qv_sql_scanner &sc) {
  switch (sc.state) {
    case qv_sql_state::normal: return step_normal(p, i, n, sc);
    case qv_sql_state::block_comment: return step_block_comment(p, i, n, sc);
    case qv_sql_state::string_literal: return step_quoted(p, i, n, '\'', sc);
    case qv_sql_state::quoted: return step_quoted(p, i, n, '"', sc);
    case qv_sql_state::bracketed: return step_quoted(p, i, n, ']', sc);
  }
  return i + 1;
}

qv_sql_scanner qv_sql_scan(qv_sql_scanner sc, const char *p, std::size_t n) {
  for (std::size_t i = 0; i < n;) i = qv_sql_step(p, i, n, sc);
  return sc;
}

}  // namespace qv::common
