#include "common/sql_scanner.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace qv::common;

// Where a scan of a whole text ends: what the splitter carries from one
// line to the next and what the ALTER rule relies on within a text.
TEST(SqlScanner, EndStateOfATextFollowsItsLexicalStates) {
  const struct {
    std::string text;
    qv_sql_state state;
    int depth;
  } cases[] = {
      {"SELECT 1", qv_sql_state::normal, 0},
      {"SELECT 'it''s", qv_sql_state::string_literal, 0},
      {"SELECT 'a' + [b]]", qv_sql_state::bracketed, 0},
      {"SELECT \"a\"\"", qv_sql_state::quoted, 0},
      {"/* a /* b */", qv_sql_state::block_comment, 1},
      {"/* a /* b */ */ x", qv_sql_state::normal, 0},
      // A line comment ends at the line feed: what follows is code again.
      {"-- ' [ /*\nSELECT '", qv_sql_state::string_literal, 0},
      {"-- ' [ /*", qv_sql_state::normal, 0},
      {"'--\n' /", qv_sql_state::normal, 0},
  };
  for (const auto &c : cases) {
    qv_sql_scanner sc = qv_sql_scan(qv_sql_scanner{}, c.text.data(), c.text.size());
    EXPECT_EQ(sc.state, c.state) << c.text;
    EXPECT_EQ(sc.depth, c.depth) << c.text;
  }
}

}  // namespace
