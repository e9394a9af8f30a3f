#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#include "common/names.h"
#include "common/text.h"

namespace {

using namespace qv::common;

std::string repeated(const std::string &s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// The one rule for names, in every operation: well-formed UTF-8, no control
// character, 1 to 128 UTF-16 code units; brackets and quotes are legal.
TEST(Names, OneLegalityRuleForEveryName) {
  const std::string euro = "\xE2\x82\xAC";         // 3 bytes, 1 code unit
  const std::string emoji = "\xF0\x9F\x98\x80";    // 4 bytes, 2 code units
  struct {
    std::string name;
    bool legal;
  } cases[] = {
      {"Orders", true},
      {"a]b'c[d\"e", true},
      {"my-app db", true},
      {repeated(euro, 128), true},
      {repeated(euro, 128) + "a", false},
      {repeated(emoji, 64), true},
      {repeated(emoji, 64) + "a", false},
      {std::string(129, 'a'), false},
      {"", false},
      {"a\tb", false},
      {"a\nb", false},
      {"a\x7F", false},
      {"a\x1F", false},
      {std::string("a\0b", 3), false},
      {"caf\xC3", false},
      {"\xED\xB0\x80", false},  // a lone surrogate, as a \u escape decodes it
  };
  for (const auto &c : cases) EXPECT_EQ(qv_name_legal(c.name), c.legal) << c.name;
}

TEST(Names, QuotingAndLiterals) {
  EXPECT_EQ(qv_bracketed("Orders"), "[Orders]");
  EXPECT_EQ(qv_bracketed("a]b]]"), "[a]]b]]]]]");
  EXPECT_EQ(qv_literal_inside("O'Brien"), "O''Brien");
  EXPECT_EQ(qv_literal("it's"), "N'it''s'");
  EXPECT_EQ(qv_literal(""), "N''");
  // Caller texts: anything but U+0000 and broken UTF-8.
  EXPECT_TRUE(qv_text_legal("a\tb\x01\x7F'"));
  EXPECT_TRUE(qv_text_legal(""));
  EXPECT_FALSE(qv_text_legal(std::string("a\0b", 3)));
  EXPECT_FALSE(qv_text_legal("\xC3"));
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
