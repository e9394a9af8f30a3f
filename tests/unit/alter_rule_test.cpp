#include <gtest/gtest.h>

#include <string>

#include "scripting/alter_rule.h"

namespace {

using qv::ops::scripting::alter_first_create;

TEST(AlterRule, OverwritesOnlyAFirstCreateThatStartsAWordAndDoesNotAlterAlready) {
  const char *cases[][2] = {
      {"CREATE PROCEDURE p AS SELECT 1", "ALTER  PROCEDURE p AS SELECT 1"},
      {"create procedure p", "create procedure p"},
      {"-- CREATE note\r\nCREATE VIEW v", "-- ALTER  note\r\nCREATE VIEW v"},
      {"/*CREATE*/CREATE VIEW v", "/*ALTER */CREATE VIEW v"},
      {"XCREATE VIEW v", "XCREATE VIEW v"},
      {"1CREATE VIEW v\nCREATE VIEW w", "1CREATE VIEW v\nCREATE VIEW w"},
      {"CREATE OR ALTER PROCEDURE p", "CREATE OR ALTER PROCEDURE p"},
      {"CREATE\r\n\tor  Alter\nPROCEDURE p", "CREATE\r\n\tor  Alter\nPROCEDURE p"},
      {"CREATE OR ALTERED p", "ALTER  OR ALTERED p"},
      {"CREATE ORALTER p", "ALTER  ORALTER p"},
      {"CREATE OR", "ALTER  OR"},
      {"CREATE", "ALTER "},
      {"", ""},
  };
  for (const auto &c : cases) {
    std::string s = c[0];
    alter_first_create(s);
    EXPECT_EQ(s, c[1]) << c[0];
  }
}

}  // namespace
