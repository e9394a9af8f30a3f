#include <gtest/gtest.h>

#include <string>

#include "scripting/alter_rule.h"

namespace {

using qv::ops::scripting::alter_first_create;

// The first CREATE that is a keyword of the code becomes ALTER; comments,
// literals and identifiers that mention it are left alone.
TEST(AlterRule, OverwritesTheFirstCreateKeywordOfTheCode) {
  const char *cases[][2] = {
      {"CREATE PROCEDURE p AS SELECT 1", "ALTER  PROCEDURE p AS SELECT 1"},
      {"create procedure p AS CREATE TABLE #t (a int)",
       "ALTER  procedure p AS CREATE TABLE #t (a int)"},
      {"Create View v", "ALTER  View v"},
      {"-- CREATE note\r\nCREATE VIEW v", "-- CREATE note\r\nALTER  VIEW v"},
      {"/*CREATE*/CREATE VIEW v", "/*CREATE*/ALTER  VIEW v"},
      {"/* a /* CREATE */ CREATE */ create view v", "/* a /* CREATE */ CREATE */ ALTER  view v"},
      {"--x\nCREATE VIEW v", "--x\nALTER  VIEW v"},
      {"XCREATE VIEW v", "XCREATE VIEW v"},
      {"1CREATE VIEW v\nCREATE VIEW w", "1CREATE VIEW v\nALTER  VIEW w"},
      {"x.CREATE; @CREATE #CREATE CREATE_x CREATEx CREATE", "x.CREATE; @CREATE #CREATE CREATE_x CREATEx ALTER "},
      {"\xC3\xA9" "CREATE CREATE", "\xC3\xA9" "CREATE ALTER "},
      {"SELECT 'CREATE' AS [CREATE], \"CREATE\" CREATE", "SELECT 'CREATE' AS [CREATE], \"CREATE\" ALTER "},
      {"'it''s CREATE' [a]]CREATE] CREATE", "'it''s CREATE' [a]]CREATE] ALTER "},
      {"CREATE OR ALTER PROCEDURE p", "CREATE OR ALTER PROCEDURE p"},
      {"create or alter view v AS SELECT 1", "create or alter view v AS SELECT 1"},
      {"CREATE\r\n\tor  Alter\nPROCEDURE p", "CREATE\r\n\tor  Alter\nPROCEDURE p"},
      {"CREATE /* x */ OR -- y\n ALTER VIEW v", "CREATE /* x */ OR -- y\n ALTER VIEW v"},
      {"CREATE OR ALTERED p", "ALTER  OR ALTERED p"},
      {"CREATE ORALTER p", "ALTER  ORALTER p"},
      {"CREATE OR", "ALTER  OR"},
      {"CREATE", "ALTER "},
      {"-- only CREATE in a comment", "-- only CREATE in a comment"},
      {"/* unclosed CREATE", "/* unclosed CREATE"},
      {"", ""},
  };
  for (const auto &c : cases) {
    std::string s = c[0];
    alter_first_create(s);
    EXPECT_EQ(s, c[1]) << c[0];
  }
}

}  // namespace
