#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "common/escape.h"
#include "common/text.h"

namespace {

// Escapes into a buffer of outsize bytes; "(refused)" on refusal.
std::string sql(const char *in, std::size_t outsize = 64) {
  char out[64];
  return qv_sql_escape(in, out, outsize) == 0 ? std::string(out) : "(refused)";
}

std::string ident(const char *in, std::size_t outsize = 64) {
  char out[64];
  return qv_ident_escape(in, out, outsize) == 0 ? std::string(out) : "(refused)";
}

TEST(SqlEscape, DoublesQuotesRefusesControlBytesAndMustFit) {
  EXPECT_EQ(sql("O'Brien"), "O''Brien");
  EXPECT_EQ(sql(""), "");
  EXPECT_EQ(sql("a\tb\nc\rd"), "a\tb\nc\rd");
  EXPECT_EQ(sql("\x7F\xC3\xA9\xFF"), "\x7F\xC3\xA9\xFF");
  EXPECT_EQ(sql("a\x01"), "(refused)");
  EXPECT_EQ(sql("\x1F"), "(refused)");

  EXPECT_EQ(sql("ab", 3), "ab");
  EXPECT_EQ(sql("abc", 3), "(refused)");
  EXPECT_EQ(sql("'", 3), "''");
  EXPECT_EQ(sql("a'", 4), "a''");
  EXPECT_EQ(sql("ab'", 4), "(refused)");  // the pair would straddle the end
  EXPECT_EQ(sql("", 2), "(refused)");
  char out[8];
  EXPECT_EQ(qv_sql_escape(nullptr, out, sizeof out), -1);
  EXPECT_EQ(qv_sql_escape("a", nullptr, 8), -1);
}

TEST(IdentEscape, BracketsNamesAndRefusesWhatCannotBeQuoted) {
  EXPECT_EQ(ident("Orders"), "[Orders]");
  EXPECT_EQ(ident(""), "[]");
  EXPECT_EQ(ident("a[b c'\xC3\xA9"), "[a[b c'\xC3\xA9]");
  EXPECT_EQ(ident("a]b"), "(refused)");
  EXPECT_EQ(ident("a\tb"), "(refused)");
  EXPECT_EQ(ident("abcde", 8), "[abcde]");
  EXPECT_EQ(ident("abcdef", 8), "(refused)");
  EXPECT_EQ(ident("", 4), "(refused)");
  char out[8];
  EXPECT_EQ(qv_ident_escape(nullptr, out, sizeof out), -1);
  EXPECT_EQ(qv_ident_escape("a", nullptr, 8), -1);
}

// "a", "é", "€", "😀": characters of 1, 2, 3 and 4 bytes ending at 1, 3, 6, 10.
constexpr char kMixed[] = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";

TEST(Utf8Cut, PrefixAndFormatStopOnCharacterBoundaries) {
  const std::size_t expected[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10};
  for (std::size_t max = 0; max < std::size(expected); ++max) {
    SCOPED_TRACE(max);
    EXPECT_EQ(qv_utf8_prefix_len(kMixed, 10, max), expected[max]);

    char buf[16];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(qv_format_cut(buf, max + 1, "%s", kMixed), expected[max]);
    EXPECT_EQ(std::string(buf), std::string(kMixed, expected[max]));

    std::memset(buf, '#', sizeof buf);
    qv_copy_cut(buf, max + 1, kMixed);
    EXPECT_EQ(std::string(buf), std::string(kMixed, expected[max]));
  }
  // Stray continuation bytes have no character to back off to; a complete
  // character before them stays; bytes past len are never looked at.
  EXPECT_EQ(qv_utf8_prefix_len("\x80\x80\x80\x80\x80\x80", 6, 3), 3u);
  EXPECT_EQ(qv_utf8_prefix_len("\xC3\xA9\x80\x80", 4, 2), 2u);
  EXPECT_EQ(qv_utf8_prefix_len("\xC3\xA9", 1, 1), 1u);
  char buf[4];
  EXPECT_EQ(qv_format_cut(buf, sizeof buf, "%d", 12345), 3u);
  EXPECT_STREQ(buf, "123");
  qv_copy_cut(buf, sizeof buf, nullptr);
  EXPECT_STREQ(buf, "");
}

TEST(Utf8Valid, RejectsMalformedSequences) {
  for (const char *ok : {"", "plain", kMixed, "\xE0\xA0\x80", "\xED\x9F\xBF", "\xF4\x8F\xBF\xBF"})
    EXPECT_TRUE(qv_utf8_valid(ok, std::strlen(ok))) << ok;
  for (const char *bad : {"\x80", "\xC3", "\xC3x", "\xC0\x80", "\xC1\xBF", "\xE0\x80\x80",
                          "\xED\xA0\x80", "\xF0\x80\x80\x80", "\xF4\x90\x80\x80",
                          "\xF5\x80\x80\x80", "\xFF", "\xE2\x82"})
    EXPECT_FALSE(qv_utf8_valid(bad, std::strlen(bad))) << ::testing::PrintToString(bad);
}

TEST(Clock, ElapsedWrapsInUnsigned32Bits) {
  EXPECT_EQ(qv_elapsed_ms(INT32_MAX - 5, INT32_MIN + 4), 10);
  EXPECT_EQ(qv_elapsed_ms(-1, 0), 1);
  EXPECT_EQ(qv_elapsed_ms(100, 250), 150);

  std::int32_t start = qv_now_ms();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(qv_elapsed_ms(start, qv_now_ms()), 19);
}

}  // namespace
