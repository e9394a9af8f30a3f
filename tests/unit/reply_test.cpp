#include "common/reply.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

using namespace qv::common;

namespace {

std::string take(qv_reply &r) {
  char *text = r.release();
  EXPECT_NE(text, nullptr);
  std::string out = text ? text : "";
  std::free(text);
  return out;
}

std::string one_string(std::string_view s) {
  qv_reply r;
  r.str(s);
  return take(r);
}

TEST(Reply, CompactInInsertionOrder) {
  qv_reply r;
  r.begin_object();
  r.member_str("z", "a/b");
  r.member_int("a", INT64_MIN);
  r.member_bool("m", true);
  r.member_null("n");
  r.key("arr");
  r.begin_array();
  r.uint64(UINT64_MAX);
  r.real(1.5);
  r.real(std::nan(""));
  r.real(-std::numeric_limits<double>::infinity());
  r.number_text("123456789012345678901234567890.50");
  r.str_or_null(nullptr);
  r.str_or_null("s");
  r.begin_object();
  r.end_object();
  r.end_array();
  r.end_object();
  EXPECT_EQ(take(r),
            R"({"z":"a/b","a":-9223372036854775808,"m":true,"n":null,)"
            R"("arr":[18446744073709551615,1.5,null,null,123456789012345678901234567890.50,null,"s",{}]})");
}

TEST(Reply, StringsAreEscapedAndAlwaysValidUtf8) {
  EXPECT_EQ(one_string("q\"b\\\x01\x1F\t\n\x7F"), R"("q\"b\\\u0001\u001F\t\n)" "\x7F\"");
  EXPECT_EQ(one_string("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"),
            "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"");

  const std::string fffd = "\xEF\xBF\xBD";
  const struct {
    std::string_view in;
    std::string out;
  } cases[] = {
      {"a\xFF" "b", "a" + fffd + "b"},
      {"x\xC3", "x" + fffd},                    // truncated at the end
      {"\xE2\x82" "A", fffd + "A"},             // the ASCII byte survives
      {"\x80\x80", fffd + fffd},                // stray continuations
      {"\xE0\x80\x80z", fffd + "z"},            // overlong
      {"\xED\xA0\x80", fffd},                   // surrogate
      {"\xC0\xAF", fffd + fffd},                // C0 never starts a sequence
      {std::string_view("n\0u", 3), R"(n\u0000u)"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(one_string(c.in), "\"" + c.out + "\"") << ::testing::PrintToString(c.in);
}

TEST(Reply, ReleaseHandsOverATerminatedMallocText) {
  qv_reply empty;
  EXPECT_EQ(take(empty), "");
  const std::string big(10000, 'x');  // several times the first allocation
  qv_reply r;
  r.begin_array();
  for (int i = 0; i < 3; ++i) r.str(big);
  r.end_array();
  EXPECT_EQ(take(r), "[\"" + big + "\",\"" + big + "\",\"" + big + "\"]");
}

// A writer used again: each text is whole and terminated, the separators of
// the one before do not leak into the next.
TEST(Reply, AResetWriterStartsEachTextAfresh) {
  qv_reply r;
  const std::string big(100000, 'y');
  for (int round = 0; round < 3; ++round) {
    r.reset();
    r.begin_object();
    r.member_int("round", round);
    r.member_str("s", round == 1 ? big : "short");
    r.end_object();
    std::string want = "{\"round\":" + std::to_string(round) + ",\"s\":\"" +
                       (round == 1 ? big : "short") + "\"}";
    EXPECT_EQ(std::string(r.terminated()), want);
    EXPECT_EQ(r.text(), want);
  }
}

}  // namespace

TEST(Reply, SplicedValuesKeepSeparatorsAndOrder) {
  qv_reply rows;
  rows.begin_array();
  rows.begin_array();
  rows.int64(1);
  rows.str("a/b");
  rows.end_array();
  rows.end_array();
  qv_reply r;
  r.begin_object();
  r.member_bool("ok", true);
  r.key("rows");
  r.raw(rows.text());
  r.key("more");
  r.raw("[]");
  r.member_null("error");
  r.end_object();
  char *text = r.release();
  EXPECT_STREQ(text, "{\"ok\":true,\"rows\":[[1,\"a/b\"]],\"more\":[],\"error\":null}");
  std::free(text);
}

namespace {

// A reply far past the size from which the buffer faults its pages in ahead
// keeps every byte, across each growth step.
TEST(Reply, LargeRepliesKeepEveryByte) {
  qv_reply r;
  rapidjson::StringBuffer sb;
  rapidjson::Writer<rapidjson::StringBuffer> reference(sb);
  r.begin_array();
  reference.StartArray();
  for (int i = 0; i < 60000; ++i) {
    std::string s(1 + i % 97, static_cast<char>('a' + i % 26));
    r.str(s);
    reference.String(s.c_str(), static_cast<rapidjson::SizeType>(s.size()));
    r.uint64(static_cast<std::uint64_t>(i));
    reference.Uint64(static_cast<std::uint64_t>(i));
  }
  r.end_array();
  reference.EndArray();
  std::string mine = take(r);
  ASSERT_GT(mine.size(), std::size_t{3} << 20);
  EXPECT_TRUE(mine == std::string(sb.GetString(), sb.GetSize()));
}

}  // namespace
