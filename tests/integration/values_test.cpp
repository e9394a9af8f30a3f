// How each server type comes back: column type text and JSON value.
#include <string>

#include "support.h"

namespace {

using tds::Type;

class Values : public ServerTest {
 protected:
  // One single-row result set with the given columns and cells.
  Reply one_row(std::vector<tds::Column> cols, tds::Row row) {
    server.on("SELECT values", {result_set(std::move(cols), {std::move(row)})});
    Reply r = query("SELECT values");
    EXPECT_TRUE(r["ok"].GetBool()) << r.text;
    return r;
  }
  static const rapidjson::Value &result(const Reply &r) { return r["batches"][0]["results"][0]; }
};

TEST_F(Values, NumbersKeepTheirExactValue) {
  Reply r = one_row({{"ti", Type::TinyInt}, {"i", Type::Int}, {"big", Type::BigInt},
                     {"b1", Type::Bit}, {"b0", Type::Bit}, {"d", Type::Decimal, 0, 10, 2},
                     {"huge", Type::Numeric, 0, 38, 0}, {"m", Type::Money},
                     {"sm", Type::SmallMoney}, {"f", Type::Float}, {"r", Type::Real},
                     {"neg", Type::Decimal, 0, 10, 2}, {"nobody", Type::Int}},
                    {"7", "-5", "9223372036854775807", "1", "0", "12.50",
                     "12345678901234567890123", "922337203685477.5807", "1.5",
                     "0.33333333333333331", "3.5", "-12345678.91", std::nullopt});
  // Compared as sent: a parser would round the exact numbers through doubles.
  std::string rows = r.text.substr(r.text.find("\"rows\":"));
  EXPECT_EQ(rows.substr(0, rows.find("]]") + 2),
            "\"rows\":[[7,\"-5\",9223372036854775807,true,false,12.5,12345678901234567890123,"
            "922337203685477.5807,1.5,0.3333333333333333,3.5,-12345678.91,null]]");
  const auto &cols = result(r)["columns"];
  EXPECT_STREQ(cols[5]["type"].GetString(), "numeric(10,2)");
  EXPECT_STREQ(cols[7]["type"].GetString(), "money");
  EXPECT_STREQ(cols[0]["type"].GetString(), "tinyint");
  EXPECT_STREQ(cols[2]["type"].GetString(), "bigint");
}

TEST_F(Values, CharacterTypesAreNamedAsDeclaredAndTakenVerbatim) {
  std::string long_text(70000, 'x');
  long_text.replace(65534, 2, "\xC3\xA9");  // a 2-byte character straddling the 65535 cut
  Reply r = one_row({{"c", Type::Char, 10}, {"vc", Type::VarChar, 20}, {"nv", Type::NVarChar, 50},
                     {"empty", Type::NVarChar, 50}, {"nmax", Type::NVarChar, 0},
                     {"nc", Type::NChar, 4}, {"vmax", Type::VarChar, 0}, {"t", Type::Text},
                     {"nt", Type::NText}, {"x", Type::Xml}},
                    {"abc", "abc\t", "Gr\xC3\xBC\xC3\x9F" "e  ", "", long_text, "\xE2\x82\xAC", "v",
                     "text", "ntext", "<a/>"});
  const auto &cols = result(r)["columns"];
  std::string types;
  for (const auto &c : cols.GetArray()) types += std::string(c["type"].GetString()) + " ";
  EXPECT_EQ(types,
            "char(10) varchar(20) nvarchar(50) nvarchar(50) nvarchar(max) nchar(4) varchar(max) "
            "text ntext xml ");
  const auto &row = result(r)["rows"][0];
  EXPECT_STREQ(row[0].GetString(), "abc");          // blank padding removed
  EXPECT_STREQ(row[1].GetString(), "abc\t");        // a tab is not a blank
  EXPECT_STREQ(row[2].GetString(), "Gr\xC3\xBC\xC3\x9F" "e");
  EXPECT_STREQ(row[3].GetString(), "");
  std::string cut = row[4].GetString();
  EXPECT_EQ(cut.size(), 65534u);                    // the split character is left out whole
  EXPECT_EQ(cut, long_text.substr(0, 65534));
  EXPECT_STREQ(row[5].GetString(), "\xE2\x82\xAC");
  EXPECT_STREQ(row[9].GetString(), "<a/>");
}

TEST_F(Values, BinaryDatesAndOtherTypes) {
  Reply r = one_row({{"vb", Type::VarBinary, 16}, {"eb", Type::VarBinary, 16},
                     {"bin", Type::Binary, 2}, {"dt", Type::DateTime},
                     {"dto", Type::DateTimeOffset, 0, 0, 7}, {"g", Type::UniqueIdentifier},
                     {"d", Type::Date}, {"vbmax", Type::VarBinary, 0}},
                    {"0x01AB", "0x", "0xFF00", "2024-02-29 13:45:30.997",
                     "2024-02-29 13:45:30.1234560 +05:30", "6F9619FF-8B86-D011-B42D-00C04FC964FF",
                     "2024-02-29", "0x00"});
  const auto &cols = result(r)["columns"];
  EXPECT_STREQ(cols[0]["type"].GetString(), "varbinary(16)");
  EXPECT_STREQ(cols[2]["type"].GetString(), "binary(2)");
  EXPECT_STREQ(cols[3]["type"].GetString(), "datetime");
  EXPECT_STREQ(cols[4]["type"].GetString(), "datetimeoffset");
  EXPECT_STREQ(cols[5]["type"].GetString(), "type_36");
  EXPECT_STREQ(cols[6]["type"].GetString(), "date");
  EXPECT_STREQ(cols[7]["type"].GetString(), "varbinary(max)");
  const auto &row = result(r)["rows"][0];
  EXPECT_STREQ(row[0].GetString(), "0x01AB");
  EXPECT_STREQ(row[1].GetString(), "0x");
  EXPECT_STREQ(row[2].GetString(), "0xFF00");
  EXPECT_STREQ(row[3].GetString(), "Feb 29 2024  1:45:30:997PM");
  std::string dto = row[4].GetString();
  EXPECT_EQ(dto.rfind("Feb 29 2024", 0), 0u) << dto;
  EXPECT_EQ(dto.substr(dto.size() - 7), " +05:30") << dto;
  EXPECT_STREQ(row[5].GetString(), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
  EXPECT_STREQ(row[7].GetString(), "0x00");
}

// Every type whose cells are written straight from their binary value, with
// the value's edge forms: each must read as db-lib spells it. NULLs, empty
// values and the types still converted by db-lib sit between them in the
// same row, so every cell's separator is checked too.
TEST_F(Values, ValuesTakenFromTheirBinaryFormReadAsDbLibSpellsThem) {
  const struct {
    tds::Column col;
    tds::Value value;
    std::string json;
  } cases[] = {
      {{"none", Type::Int}, std::nullopt, "null"},
      {{"si", Type::SmallInt}, "-32768", "\"-32768\""},
      {{"big", Type::BigInt}, "-9223372036854775808", "\"-9223372036854775808\""},
      {{"ti", Type::TinyInt}, "255", "255"},
      {{"b", Type::Bit, 0, 0, 0, false}, "1", "true"},
      {{"fz", Type::Float}, "-0", "-0.0"},
      {{"tiny", Type::Decimal, 0, 18, 4}, "0.0005", "0.0005"},
      {{"negz", Type::Decimal, 0, 5, 0}, "-7", "-7"},
      {{"wide", Type::Numeric, 0, 38, 10}, "-1234567890123456789012345678.0123456789",
       "-1234567890123456789012345678.0123456789"},
      {{"m", Type::Money}, "-922337203685477.5808", "-922337203685477.5808"},
      {{"sm", Type::SmallMoney}, "-0.0100", "-0.01"},
      {{"d2", Type::DateTime2, 0, 0, 3}, "0001-01-01 00:00:00.000", "\"Jan  1 1 12:00:00:000AM\""},
      {{"d7", Type::DateTime2, 0, 0, 7}, "9999-12-31 23:59:59.9999999",
       "\"Dec 31 9999 11:59:59:9999999PM\""},
      {{"d0", Type::DateTime2, 0, 0, 0}, "2024-02-29 12:00:00", "\"Feb 29 2024 12:00:00:PM\""},
      {{"t", Type::Time, 0, 0, 4}, "09:05:01.1234", "\"Jan  1 1900  9:05:01:1234AM\""},
      {{"sdt", Type::SmallDateTime}, "2024-02-29 23:59:00", "\"Feb 29 2024 11:59:00:000PM\""},
      {{"dt", Type::DateTime}, "1753-01-01 00:00:00.003", "\"Jan  1 1753 12:00:00:003AM\""},
      {{"dto", Type::DateTimeOffset, 0, 0, 2}, "2024-01-01 01:00:00.50 -05:30",
       "\"Jan  1 2024  1:00:00:50AM -05:30\""},
      {{"vb", Type::VarBinary, 4}, "0x00FF10", "\"0x00FF10\""},
      {{"vb25", Type::VarBinary, 25}, "0x0123456789ABCDEF00102030405060708090A0B0C0D0E0F0FE",
       "\"0x0123456789ABCDEF00102030405060708090A0B0C0D0E0F0FE\""},
      {{"s", Type::NVarChar, 20}, "a\"b\\c\n\xC3\xA9", "\"a\\\"b\\\\c\\n\xC3\xA9\""},
      {{"empty", Type::VarChar, 10}, "", "\"\""},
      {{"r", Type::Real}, "0.5", "0.5"},
      {{"nodate", Type::DateTime2, 0, 0, 3}, std::nullopt, "null"},
      {{"u", Type::UniqueIdentifier}, "6F9619FF-8B86-D011-B42D-00C04FC964FF",
       "\"6F9619FF-8B86-D011-B42D-00C04FC964FF\""},
      {{"last", Type::Float}, "1e+300", "1e300"},
  };
  std::vector<tds::Column> cols;
  tds::Row row;
  std::string expected = "[[";
  for (const auto &c : cases) {
    cols.push_back(c.col);
    row.push_back(c.value);
    expected += (cols.size() > 1 ? "," : "") + c.json;
  }
  Reply r = one_row(cols, row);
  // Compared as sent: a parser would round the exact numbers through doubles.
  std::string rows = r.text.substr(r.text.find("\"rows\":") + 7);
  EXPECT_EQ(rows.substr(0, rows.find("]]") + 2), expected + "]]");
}

TEST_F(Values, LongBinaryShowsAsManyBytesAsTheCellBufferHolds) {
  std::string hex = "0x";
  for (int i = 0; i < 40000; ++i) hex += "A5";
  Reply r = one_row({{"vbmax", Type::VarBinary, 0}}, {hex});
  std::string shown = result(r)["rows"][0][0].GetString();
  EXPECT_EQ(shown.size(), 2u + 2 * 32766);  // two digits per byte and the terminator fit 64 KiB
  EXPECT_EQ(shown, hex.substr(0, shown.size()));
}

TEST_F(Values, NullabilityComesFromTheServer) {
  Reply r = one_row({{"maybe", Type::Int, 0, 0, 0, true}, {"never", Type::Int, 0, 0, 0, false}},
                    {std::nullopt, "3"});
  EXPECT_EQ(json(result(r)["columns"]),
            "[{\"name\":\"maybe\",\"type\":\"int\",\"nullable\":true},"
            "{\"name\":\"never\",\"type\":\"int\",\"nullable\":false}]");
  EXPECT_EQ(json(result(r)["rows"][0]), "[null,3]");
}

}  // namespace

namespace {

// Little-endian bytes of a pointer-sized value, as hex.
std::string hex_le(std::uint64_t v, int bytes) {
  static const char hx[] = "0123456789ABCDEF";
  std::string s;
  for (int i = 0; i < bytes; ++i, v >>= 8) {
    s += hx[(v >> 4) & 0xF];
    s += hx[v & 0xF];
  }
  return s;
}

}  // namespace

// db-lib hands out a variant's inner value bytes while its conversion reads
// them as a structure with a data pointer: whatever the bytes spell must
// never be dereferenced.
TEST_F(Values, VariantsAndClrTypesAreNeverReadThroughTheirBytes) {
  static int secret = 0x5EC2E7;
  std::string crafted = "0x" + hex_le(reinterpret_cast<std::uintptr_t>(&secret), 8) +
                        hex_le(16, 4) + hex_le(16, 4) + hex_le(47, 4);
  std::string wild = "0x" + hex_le(0x10, 8) + hex_le(4096, 4) + hex_le(4096, 4) + hex_le(47, 4);
  Reply r = one_row({{"crafted", Type::SqlVariant}, {"wild", Type::SqlVariant},
                     {"plain", Type::SqlVariant}, {"none", Type::SqlVariant},
                     {"node", Type::Udt}, {"after", Type::Int}},
                    {crafted, wild, "42", std::nullopt, "0x5AC0", "7"});
  const auto &res = result(r);
  EXPECT_EQ(json(res["rows"]), "[[\"<conv_err>\",\"<conv_err>\",\"<conv_err>\",null,\"0x5AC0\",7]]");
  EXPECT_STREQ(res["columns"][0]["type"].GetString(), "type_98");
  // The session stays usable for the next batch of the same script.
  server.on("SELECT 1 AS n", {result_set({{"n", Type::Int}}, {{"1"}})});
  Reply two = query("SELECT values\nGO\nSELECT 1 AS n");
  ASSERT_TRUE(two["ok"].GetBool()) << two.text;
  EXPECT_EQ(json(two["batches"][1]["results"][0]["rows"]), "[[1]]");
}
