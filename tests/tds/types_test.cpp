// Every column type the server offers, as db-lib decodes it: type codes,
// column info, text conversions, NULLs, empty values and long (max) values.
#include <cstring>

#include "dblib_client.h"

namespace tdstest {
namespace {

using tds::Column;
using tds::Type;

struct TypeCase {
  Column column;
  std::string value;
  int coltype;
  std::string text;     // dbconvert to SYBCHAR, or the UTF-8 bytes of character data
  DBINT max_length;     // dbcolinfo MaxLength
  int server_type;      // DBCOL2 ServerType
};

const std::vector<TypeCase> &type_cases() {
  static const std::vector<TypeCase> cases = {
      {{"ti", Type::TinyInt, 0, 0, 0, false}, "255", SYBINT1, "255", 1, 48},
      {{"si", Type::SmallInt}, "-32768", SYBINT2, "-32768", 2, 38},
      {{"i", Type::Int}, "-2147483648", SYBINT4, "-2147483648", 4, 38},
      {{"bi", Type::BigInt}, "9223372036854775807", SYBINT8, "9223372036854775807", 8, 38},
      {{"b", Type::Bit, 0, 0, 0, false}, "1", SYBBIT, "1", 1, 50},
      {{"r", Type::Real}, "3.5", SYBREAL, "3.5", 4, 109},
      {{"f", Type::Float}, "0.3333333333333333", SYBFLT8, "0.33333333333333331", 8, 109},
      {{"d", Type::Decimal, 0, 10, 2}, "-12345678.91", SYBDECIMAL, "-12345678.91", 9, 106},
      {{"n", Type::Numeric, 0, 38, 10}, "1234567890123456789012345678.0123456789", SYBNUMERIC,
       "1234567890123456789012345678.0123456789", 17, 108},
      {{"m", Type::Money}, "922337203685477.5807", SYBMONEY, "922337203685477.5807", 8, 110},
      {{"sm", Type::SmallMoney, 0, 0, 0, false}, "1.5", SYBMONEY4, "1.5000", 4, 122},
      {{"dt", Type::DateTime}, "2024-02-29 13:45:30.997", SYBDATETIME, "Feb 29 2024  1:45:30:997PM", 8, 111},
      {{"sdt", Type::SmallDateTime}, "2024-02-29 13:45:00", SYBDATETIME4, "Feb 29 2024  1:45:00:000PM", 4, 111},
      {{"da", Type::Date}, "2024-02-29", SYBMSDATE, "Feb 29 2024 12:00:00:AM", 16, 40},
      {{"t", Type::Time, 0, 0, -1}, "13:45:30.1234560", SYBMSTIME, "Jan  1 1900  1:45:30:1234560PM", 16, 41},
      {{"dt2", Type::DateTime2, 0, 0, 3}, "2024-02-29 13:45:30.123", SYBMSDATETIME2, "Feb 29 2024  1:45:30:123PM", 16, 42},
      {{"c", Type::Char, 5}, "ab", SYBCHAR, "ab   ", 20, 175},
      {{"vc", Type::VarChar, 20}, "h\xE2\x82\xACllo \xC3\xA9", SYBCHAR, "h\xE2\x82\xACllo \xC3\xA9", 80, 167},
      {{"nc", Type::NChar, 3}, "\xC3\xBC", SYBCHAR, "\xC3\xBC  ", 12, 239},
      {{"nv", Type::NVarChar, 50}, "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80", SYBCHAR, "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80", 200, 231},
      {{"vcm", Type::VarChar, 0}, "plp \xE2\x82\xAC", SYBCHAR, "plp \xE2\x82\xAC", 2147483647, 167},
      {{"bin", Type::Binary, 4}, "0x01AB", SYBBINARY, "01ab0000", 4, 173},
      {{"vb", Type::VarBinary, 16}, "0xDEADBEEF", SYBBINARY, "deadbeef", 16, 165},
      {{"vbm", Type::VarBinary, 0}, "0x00FF", SYBBINARY, "00ff", 2147483647, 165},
      {{"g", Type::UniqueIdentifier}, "6F9619FF-8B86-D011-B42D-00C04FC964FF", 36 /* uniqueidentifier */,
       "6F9619FF-8B86-D011-B42D-00C04FC964FF", 16, 36},
      {{"tx", Type::Text}, "old \xC3\xA9 text", SYBTEXT, "old \xC3\xA9 text", 2147483647, 35},
      {{"ntx", Type::NText}, "n\xC3\xA9w", SYBTEXT, "n\xC3\xA9w", 2147483647, 99},
      {{"img", Type::Image}, "0xCAFE", SYBIMAGE, "cafe", 2147483647, 34},
      {{"x", Type::Xml}, "<a b=\"\xC3\xA9\"/>", SYBTEXT, "<a b=\"\xC3\xA9\"/>", 2147483647, 241},
  };
  return cases;
}

class Types : public ServerTest {
 protected:
  // A new session positioned on the first result set of sql; null (with a
  // recorded failure) when any step fails.
  DBPROCESS *first_result(const char *sql) {
    DBPROCESS *db = connect();
    if (db && dbcmd(db, sql) == SUCCEED && dbsqlexec(db) == SUCCEED && dbresults(db) == SUCCEED)
      return db;
    ADD_FAILURE() << "could not run " << sql;
    return nullptr;
  }

  // One result set with a column per case: a row of values, then a row of NULLs
  // (fixed-length NOT NULL columns keep their value).
  void serve_all_types(bool nbcrow) {
    tds::ResultSet rs;
    rs.use_nbcrow = nbcrow;
    tds::Row values, nulls;
    for (const TypeCase &c : type_cases()) {
      rs.columns.push_back(c.column);
      values.push_back(c.value);
      nulls.push_back(c.column.nullable ? tds::Value{} : tds::Value{c.value});
    }
    rs.rows = {values, nulls};
    server.on("select all types", {rs});
  }

  void check_all_types() {
    DBPROCESS *db = first_result("select all types");
    ASSERT_NE(db, nullptr);
    const auto &cases = type_cases();
    ASSERT_EQ(dbnumcols(db), static_cast<int>(cases.size()));
    for (int i = 0; i < static_cast<int>(cases.size()); ++i) {
      const TypeCase &c = cases[i];
      SCOPED_TRACE(c.column.name);
      EXPECT_EQ(dbcoltype(db, i + 1), c.coltype);
      DBCOL col{};
      col.SizeOfStruct = sizeof col;
      ASSERT_EQ(dbcolinfo(db, CI_REGULAR, i + 1, 0, &col), SUCCEED);
      EXPECT_EQ(col.MaxLength, c.max_length);
      EXPECT_EQ(col.Null, c.column.nullable ? 1 : 0);
      DBCOL2 col2{};
      col2.SizeOfStruct = sizeof col2;
      dbtablecolinfo(db, i + 1, reinterpret_cast<DBCOL *>(&col2));
      EXPECT_EQ(col2.ServerType, c.server_type);
    }
    ASSERT_EQ(dbnextrow(db), REG_ROW);
    for (int i = 0; i < static_cast<int>(cases.size()); ++i) {
      SCOPED_TRACE(cases[i].column.name);
      EXPECT_EQ(cell_text(db, i + 1), cases[i].text);
    }
    ASSERT_EQ(dbnextrow(db), REG_ROW);
    for (int i = 0; i < static_cast<int>(cases.size()); ++i) {
      SCOPED_TRACE(cases[i].column.name);
      if (!cases[i].column.nullable) continue;
      EXPECT_EQ(dbdata(db, i + 1), nullptr);
      EXPECT_EQ(dbdatlen(db, i + 1), 0);
    }
    EXPECT_EQ(dbnextrow(db), NO_MORE_ROWS);
    EXPECT_EQ(dbcount(db), 2);
    EXPECT_EQ(dbresults(db), NO_MORE_RESULTS);
    EXPECT_TRUE(Events::get().codes() == (Codes{"MSG 5701", "MSG 5703"})) << Events::get().codes().size();
  }
};

TEST_F(Types, EveryTypeDecodesAsSqlServerWouldSendIt) {
  serve_all_types(false);
  check_all_types();
}

TEST_F(Types, NbcRowCarriesTheSameValuesAndNulls) {
  serve_all_types(true);
  check_all_types();
}

TEST_F(Types, DeclaredCharacterTypesAreVisibleThroughDbcol2) {
  tds::ResultSet rs;
  rs.columns = {{"a", Type::NVarChar, 50}, {"b", Type::VarChar, 0}, {"c", Type::NVarChar, 0},
                {"d", Type::VarBinary, 0}};
  rs.rows = {{"x", "y", "z", "0x00"}};
  server.on("q", {rs});
  DBPROCESS *db = first_result("q");
  ASSERT_NE(db, nullptr);
  const struct { DBINT server_max; const char *declaration; } expected[] = {
      {100, "NVARCHAR(50)"}, {1073741823, "VARCHAR(MAX)"}, {1073741823, "NVARCHAR(MAX)"},
      {2147483647, "VARBINARY(MAX)"}};
  for (int i = 0; i < 4; ++i) {
    DBCOL2 col2{};
    col2.SizeOfStruct = sizeof col2;
    ASSERT_EQ(dbtablecolinfo(db, i + 1, reinterpret_cast<DBCOL *>(&col2)), SUCCEED);
    EXPECT_EQ(col2.ServerMaxLength, expected[i].server_max) << i;
    EXPECT_STREQ(col2.ServerTypeDeclaration, expected[i].declaration) << i;
  }
  dbcancel(db);
}

TEST_F(Types, DateTimeOffsetTravelsAsUtcWithItsOffset) {
  tds::ResultSet rs;
  rs.columns = {{"dto", Type::DateTimeOffset, 0, 0, -1}};
  rs.rows = {{"2024-03-01 02:15:30.1234560 +05:30"}};
  server.on("q", {rs});
  DBPROCESS *db = first_result("q");
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(dbcoltype(db, 1), SYBMSDATETIMEOFFSET);
  ASSERT_EQ(dbnextrow(db), REG_ROW);
  // The text is the local time with the offset dropped...
  EXPECT_EQ(cell_text(db, 1), "Mar  1 2024  2:15:30:1234560AM");
  // ...and the raw value still holds the offset.
  DBDATETIMEALL all;
  ASSERT_EQ(dbdatlen(db, 1), static_cast<DBINT>(sizeof all));
  std::memcpy(&all, dbdata(db, 1), sizeof all);
  EXPECT_EQ(all.offset, 330);
  EXPECT_EQ(all.has_offset, 1u);
  dbcancel(db);
}

TEST_F(Types, EmptyValuesAreNotNull) {
  tds::ResultSet rs;
  rs.columns = {{"v", Type::VarChar, 10}, {"n", Type::NVarChar, 10}, {"b", Type::VarBinary, 10},
                {"nm", Type::NVarChar, 0}, {"nul", Type::NVarChar, 10}};
  rs.rows = {{"", "", "0x", "", std::nullopt}};
  server.on("q", {rs});
  DBPROCESS *db = first_result("q");
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(dbnextrow(db), REG_ROW);
  for (int c = 1; c <= 4; ++c) {
    EXPECT_NE(dbdata(db, c), nullptr) << c;
    EXPECT_EQ(dbdatlen(db, c), 0) << c;
  }
  char buf[65536];
  EXPECT_EQ(dbconvert(db, SYBCHAR, dbdata(db, 2), 0, SYBCHAR, reinterpret_cast<BYTE *>(buf), 65535), 65535);
  EXPECT_EQ(buf[0], ' ');
  EXPECT_EQ(dbdata(db, 5), nullptr);
  dbcancel(db);
}

TEST_F(Types, LongMaxValuesArriveIntact) {
  // Exactly 70,000 characters, every tenth a two-byte one in UTF-8.
  std::string text;
  for (std::size_t i = 0; i < 70000; ++i) text += i % 10 == 9 ? "\xC3\xA9" : std::string(1, char('a' + i % 26));
  std::string blob = "0x";
  for (int i = 0; i < 20000; ++i) blob += "A5";

  tds::ResultSet rs;
  rs.columns = {{"big", Type::NVarChar, 0}, {"bytes", Type::VarBinary, 0}, {"x", Type::Xml}};
  rs.rows = {{text, blob, "<r>" + text + "</r>"}};
  server.on("q", {rs});
  DBPROCESS *db = first_result("q");
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(dbnextrow(db), REG_ROW);
  ASSERT_EQ(dbdatlen(db, 1), static_cast<DBINT>(text.size()));
  EXPECT_EQ(std::string(reinterpret_cast<char *>(dbdata(db, 1)), dbdatlen(db, 1)), text);
  EXPECT_EQ(dbdatlen(db, 2), 20000);
  EXPECT_EQ(dbdata(db, 2)[19999], 0xA5);
  EXPECT_EQ(dbdatlen(db, 3), static_cast<DBINT>(text.size() + 7));

  // Too long for a 65535-byte buffer: db-lib reports an overflow.
  Events::get().clear();
  std::vector<BYTE> buf(65536);
  EXPECT_EQ(dbconvert(db, SYBCHAR, dbdata(db, 1), dbdatlen(db, 1), SYBCHAR, buf.data(), 65535), -1);
  EXPECT_EQ(Events::get().codes(), (Codes{"ERR 20049"}));
  dbcancel(db);
}

TEST_F(Types, SqlVariantIsReportedButNotConvertible) {
  tds::ResultSet rs;
  rs.columns = {{"v", Type::SqlVariant}};
  rs.rows = {{"42"}, {std::nullopt}};
  server.on("q", {rs});
  DBPROCESS *db = first_result("q");
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(dbcoltype(db, 1), 98);
  ASSERT_EQ(dbnextrow(db), REG_ROW);
  Events::get().clear();
  EXPECT_EQ(cell_text(db, 1), "<dbconvert failed>");
  EXPECT_EQ(Events::get().codes(), (Codes{"ERR 20053"}));
  ASSERT_EQ(dbnextrow(db), REG_ROW);
  EXPECT_EQ(dbdata(db, 1), nullptr);
  EXPECT_EQ(dbnextrow(db), NO_MORE_ROWS);
  EXPECT_EQ(dbresults(db), NO_MORE_RESULTS);
}

TEST_F(Types, UnreadableValueAbortsTheBatchWithAServerError) {
  tds::ResultSet rs;
  rs.columns = {{"i", Type::Int}};
  rs.rows = {{"1"}, {"not a number"}};
  server.on("q", {rs});
  DBPROCESS *db = connect();
  ASSERT_NE(db, nullptr);
  Events::get().clear();
  dbcmd(db, "q");
  ASSERT_EQ(dbsqlexec(db), SUCCEED);
  ASSERT_EQ(dbresults(db), SUCCEED);
  EXPECT_EQ(fetch_rows(db).size(), 1u);
  ASSERT_FALSE(Events::get().all().empty());
  EXPECT_EQ(Events::get().all()[0].number, 50000);
  EXPECT_NE(Events::get().all()[0].text.find("bad row value"), std::string::npos);
  while (dbresults(db) == SUCCEED) {}
  EXPECT_EQ(query(db, "select db_name()"), (Rows{{"master"}}));
}

TEST_F(Types, VarcharFollowsTheCollationCodePage) {
  tds::ResultSet rs;
  rs.columns = {{"v", Type::VarChar, 10}, {"t", Type::Text}};
  const std::string outside_cp1252 = "\xCE\xA9 \xF0\x9F\x98\x80";  // Omega, emoji
  rs.rows = {{outside_cp1252, outside_cp1252}};
  server.on("q", {rs});
  DBPROCESS *db = connect();
  ASSERT_NE(db, nullptr);
  // Latin1_General: what Windows-1252 lacks is stored as '?'.
  EXPECT_EQ(query(db, "q"), (Rows{{"? ?", "? ?"}}));

  server.set_utf8_collation(true);
  DBPROCESS *utf8 = connect();
  ASSERT_NE(utf8, nullptr);
  EXPECT_EQ(query(utf8, "q"), (Rows{{outside_cp1252, outside_cp1252}}));
  DBCOL col{};
  col.SizeOfStruct = sizeof col;
  dbcolinfo(utf8, CI_REGULAR, 1, 0, &col);
  EXPECT_EQ(col.MaxLength, 10);  // no code page conversion to budget for
}

}  // namespace
}  // namespace tdstest
