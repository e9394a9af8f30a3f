// The rule for database and file names pasted into T-SQL: every legal name
// (up to 128 UTF-16 code units) is quoted whole, nothing else gets through.
#include <gtest/gtest.h>

#include <string>

#include "admin/names.h"

namespace {

std::string repeat(const std::string &s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(AdminNames, LegalNamesQuoteWholeAndNothingElsePasses) {
  const std::string euro = "\xE2\x82\xAC";        // one code unit, three bytes
  const std::string smile = "\xF0\x9F\x98\x80";   // two code units, four bytes
  struct Case {
    std::string name;
    const char *ident;    // nullptr: refused
    const char *literal;
  } cases[] = {
      {"demo", "[demo]", "demo"},
      {"a]b", "[a]]b]", "a]b"},
      {"x'; DROP TABLE t; --", "[x'; DROP TABLE t; --]", "x''; DROP TABLE t; --"},
      {"", nullptr, nullptr},
      {"a\tb", nullptr, nullptr},
      {"a\x7f", nullptr, nullptr},
      {"caf\xC3", nullptr, nullptr},       // cut UTF-8 sequence
      {std::string(129, 'd'), nullptr, nullptr},
      {repeat(euro, 129), nullptr, nullptr},
      {repeat(smile, 65), nullptr, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    char ident[kQuotedNameSize], literal[kNameLiteralSize];
    EXPECT_EQ(quote_name(c.name.c_str(), ident), c.ident ? 0 : -1);
    EXPECT_EQ(name_literal(c.name.c_str(), literal), c.literal ? 0 : -1);
    if (c.ident) {
      EXPECT_STREQ(ident, c.ident);
      EXPECT_STREQ(literal, c.literal);
    }
  }
  // The longest legal names of each shape fit the buffers.
  for (const std::string &name : {repeat(euro, 128), repeat(smile, 64), repeat("]", 128),
                                  repeat("'", 128)}) {
    char ident[kQuotedNameSize], literal[kNameLiteralSize];
    ASSERT_EQ(quote_name(name.c_str(), ident), 0);
    ASSERT_EQ(name_literal(name.c_str(), literal), 0);
    EXPECT_LE(std::string(ident).size(), kQuotedNameSize - 1);
    EXPECT_LE(std::string(literal).size(), kNameLiteralSize - 1);
  }
}

}  // namespace
