// Values rendered from their binary form must read exactly as db-lib's own
// conversion (dbconvert to SYBCHAR) made them read, and strings written by
// the bulk escaper exactly as RapidJSON's writer wrote the sanitised text.
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sybdb.h>

#include "common/json.h"
#include "common/reply.h"
#include "common/text.h"
#include "exec/render.h"

using namespace qv::common;
using namespace qv::exec;

namespace {

class RenderDiff : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(dbinit(), SUCCEED); }
};

std::string converted(int code, const void *value, std::size_t len) {
  char buf[256];
  DBINT r = dbconvert(nullptr, code, static_cast<const BYTE *>(value), static_cast<DBINT>(len),
                      SYBCHAR, reinterpret_cast<BYTE *>(buf), -1);
  return r > 0 ? std::string(buf) : "<failed " + std::to_string(r) + ">";
}

// The JSON number the text of an exact value becomes.
std::string number_of(const std::string &text) {
  char out[128];
  std::size_t n = 0;
  return qv_number_from_text(text, out, sizeof out, &n) ? std::string(out, n) : "<not a number>";
}

// One reply holding v, the way both float paths end.
std::string real_reply(double v) {
  qv_reply r;
  r.real(v);
  char *p = r.release();
  std::string s = p;
  std::free(p);
  return s;
}

DBDATETIMEALL dta(std::int32_t date, std::uint64_t time, int prec, bool has_date, bool has_time,
                  int offset = INT_MIN) {
  DBDATETIMEALL v;
  std::memset(&v, 0, sizeof v);
  v.date = date;
  v.time = time;
  v.time_prec = static_cast<DBUSMALLINT>(prec);
  v.has_date = has_date;
  v.has_time = has_time;
  if (offset != INT_MIN) {
    v.has_offset = 1;
    v.offset = static_cast<DBSMALLINT>(offset);
  }
  return v;
}

constexpr std::int32_t kFirstDay = -693'595;  // 0001-01-01
constexpr std::int32_t kLastDay = 2'958'463;  // 9999-12-31
constexpr std::uint64_t kTick = 1, kSecond = 10'000'000, kDay = 86'400 * kSecond;

TEST_F(RenderDiff, DateAndTimeTextsMatchDbconvert) {
  const std::int32_t days[] = {kFirstDay, kFirstDay + 59, -53'690, -1, 0, 59, 60, 36'523,
                               45'349, 45'350, 73'049, kLastDay};
  const std::uint64_t times[] = {0,          kTick,        kSecond - kTick,
                                 12 * 3600 * kSecond - kTick,  12 * 3600 * kSecond,
                                 13 * 3600 * kSecond + 1'234'567, kDay - kTick};
  for (std::int32_t d : days)
    for (std::uint64_t t : times)
      for (int prec = 0; prec <= 7; ++prec) {
        const struct {
          int code;
          DBDATETIMEALL v;
        } cases[] = {{SYBMSDATETIME2, dta(d, t, prec, true, true)},
                     {SYBMSDATE, dta(d, 0, prec, true, false)},
                     {SYBMSTIME, dta(0, t, prec, false, true)}};
        for (const auto &c : cases) {
          char out[kRenderedMax];
          std::string got(out, qv_render_datetimeall(c.v, out));
          ASSERT_EQ(got, converted(c.code, &c.v, sizeof c.v))
              << "code " << c.code << " day " << d << " time " << t << " prec " << prec;
        }
      }
}

TEST_F(RenderDiff, EveryOffsetShowsTheLocalTimeThenTheOffset) {
  const struct {
    std::int32_t day;
    std::uint64_t time;
  } instants[] = {{kFirstDay, 0}, {kFirstDay + 1, 0}, {45'349, 0}, {45'349, 13 * 3600 * kSecond + 7},
                  {45'349, kDay - kTick}, {kLastDay - 1, kDay - kTick}, {kLastDay, kDay - kTick}};
  for (const auto &at : instants)
    for (int offset = -840; offset <= 840; ++offset) {
      DBDATETIMEALL v = dta(at.day, at.time, 7, true, true, offset);
      char out[kRenderedMax];
      std::string got(out, qv_render_datetimeall(v, out));
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, " %c%02d:%02d", offset < 0 ? '-' : '+',
                    std::abs(offset) / 60, std::abs(offset) % 60);
      ASSERT_EQ(got, converted(SYBMSDATETIMEOFFSET, &v, sizeof v) + suffix)
          << "day " << at.day << " offset " << offset;
    }
}

TEST_F(RenderDiff, DatetimeAndSmalldatetimeTextsMatchDbconvert) {
  for (DBINT day : {-53'690, -1, 0, 45'349, 2'958'463})
    for (DBINT ticks = 0; ticks < 300 * 86'400; ticks += 299 * 61 + (ticks % 7)) {
      DBDATETIME v{day, ticks};
      char out[kRenderedMax];
      ASSERT_EQ(std::string(out, qv_render_datetime(v, out)), converted(SYBDATETIME, &v, sizeof v))
          << day << " " << ticks;
    }
  for (DBUSMALLINT day : {0, 45'349, 65'535})
    for (DBUSMALLINT minute = 0; minute < 1440; minute += 7) {
      DBDATETIME4 v{day, minute};
      char out[kRenderedMax];
      ASSERT_EQ(std::string(out, qv_render_datetime4(v, out)),
                converted(SYBDATETIME4, &v, sizeof v));
    }
}

// Bytes of a numeric's magnitude for each precision, as SQL Server sends it.
constexpr int kMagnitudeBytes[] = {0, 1, 1, 2, 2, 3, 3, 3, 4, 4, 5, 5, 5, 6, 6, 7, 7, 8, 8, 8,
                                   9, 9, 10, 10, 10, 11, 11, 12, 12, 13, 13, 13, 14, 14, 15, 15, 15, 16, 16};

DBNUMERIC numeric(int precision, int scale, bool negative, const std::string &hex_magnitude) {
  DBNUMERIC v;
  std::memset(&v, 0, sizeof v);
  v.precision = static_cast<unsigned char>(precision);
  v.scale = static_cast<unsigned char>(scale);
  v.array[0] = negative ? 1 : 0;
  // Bytes past the ones the precision uses are not part of the value.
  std::memset(v.array + 1 + kMagnitudeBytes[precision], 0xA5,
              sizeof v.array - 1 - kMagnitudeBytes[precision]);
  // Magnitude bytes big-endian, right-aligned in the bytes the precision uses.
  const int n = static_cast<int>(hex_magnitude.size() / 2);
  for (int i = 0; i < n; ++i)
    v.array[1 + kMagnitudeBytes[precision] - n + i] =
        static_cast<unsigned char>(std::stoi(hex_magnitude.substr(2 * i, 2), nullptr, 16));
  return v;
}

TEST_F(RenderDiff, DecimalAndMoneyNumbersMatchDbconvert) {
  // 10^38 - 1, the largest 38-digit magnitude; 2^64 crosses a word.
  const std::string magnitudes[] = {"", "01", "05", "3039", "0F4240", "7FFFFFFF", "FFFFFFFFFFFFFFFF",
                                    "010000000000000000", "4B3B4CA85A86C47A098A223FFFFFFFFF"};
  for (int precision : {1, 2, 3, 5, 9, 10, 13, 15, 18, 19, 20, 28, 38})
    for (int scale : {0, 1, 2, 4, precision / 2, precision})
      for (bool negative : {false, true})
        for (const std::string &m : magnitudes) {
          const int bytes_needed = static_cast<int>(m.size() / 2);
          if (scale > precision || bytes_needed > kMagnitudeBytes[precision]) continue;
          DBNUMERIC v = numeric(precision, scale, negative, m);
          char out[kRenderedMax];
          std::size_t n = 0;
          ASSERT_TRUE(qv_render_decimal_number(v, out, &n));
          ASSERT_EQ(std::string(out, n), number_of(converted(SYBNUMERIC, &v, sizeof v)))
              << precision << "," << scale << (negative ? " -" : " ") << m;
        }

  for (std::int64_t units : std::vector<std::int64_t>{INT64_MIN, INT64_MIN + 1, -10'000, -1, 0, 1, 9'999,
                                                    10'000, 123'450'000, 4'294'967'296, INT64_MAX}) {
    DBMONEY v{static_cast<DBINT>(units >> 32), static_cast<DBUINT>(units & 0xFFFFFFFF)};
    char out[kRenderedMax];
    ASSERT_EQ(std::string(out, qv_render_money_number(units, out)),
              number_of(converted(SYBMONEY, &v, sizeof v)))
        << units;
    if (units >= INT32_MIN && units <= INT32_MAX) {
      DBMONEY4 v4{static_cast<DBINT>(units)};
      ASSERT_EQ(std::string(out, qv_render_money_number(units, out)),
                number_of(converted(SYBMONEY4, &v4, sizeof v4)));
    }
  }
}

// Floats and integers were already taken from their binary value; the
// texts they stand for must still be db-lib's.
TEST_F(RenderDiff, FloatAndIntegerValuesMatchDbconvert) {
  for (double d : {0.0, -0.0, DBL_MIN, -DBL_MIN, DBL_TRUE_MIN, DBL_MAX, -DBL_MAX, 0.1, 1.0 / 3,
                   1e-300, 123456789.123, 5e-324, 9007199254740993.0}) {
    ASSERT_EQ(real_reply(d), real_reply(std::strtod(converted(SYBFLT8, &d, sizeof d).c_str(), nullptr)))
        << d;
  }
  auto digits = [](long long v) {
    char b[24];
    return std::string(b, std::to_chars(b, b + sizeof b, v).ptr);
  };
  for (long long v : {LLONG_MIN, -1LL, 0LL, LLONG_MAX}) EXPECT_EQ(digits(v), converted(SYBINT8, &v, 8));
  for (int v : {INT_MIN, -1, INT_MAX}) EXPECT_EQ(digits(v), converted(SYBINT4, &v, 4));
  for (short v : std::vector<short>{SHRT_MIN, -1, SHRT_MAX}) EXPECT_EQ(digits(v), converted(SYBINT2, &v, 2));
  for (unsigned char v : {0, 255}) EXPECT_EQ(digits(v), converted(SYBINT1, &v, 1));
}

// The reference: the sanitised text through RapidJSON's own string writer.
std::string reference_string(std::string_view s) {
  std::string clean(3 * s.size() + 1, '\0');  // each byte becomes at most U+FFFD
  clean.resize(qv_utf8_sanitize_into(s.data(), s.size(), clean.data(), clean.size()));
  rapidjson::StringBuffer sb;
  rapidjson::Writer<rapidjson::StringBuffer> w(sb);
  w.String(clean.data(), static_cast<rapidjson::SizeType>(clean.size()));
  return {sb.GetString(), sb.GetSize()};
}

std::string written_string(std::string_view s) {
  qv_reply r;
  r.str(s);
  char *p = r.release();
  std::string out = p;
  std::free(p);
  return out;
}

TEST(StringWriter, MatchesRapidJsonOnSanitisedText) {
  // Each special byte or sequence at every position of texts around the
  // 16-byte blocks the scanner reads.
  const std::string specials[] = {"\"", "\\", std::string(1, '\0'), "\x01", "\x1F", "\n", "\x7F",
                                  "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xFF", "\xC3",
                                  "\xE2\x82", "\xED\xA0\x80", "\xC0\xAF", "\x80"};
  for (const std::string &special : specials)
    for (std::size_t len : {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33})
      for (std::size_t at = 0; at <= len; ++at) {
        std::string s(len, 'a');
        s.insert(at, special);
        ASSERT_EQ(written_string(s), reference_string(s)) << ::testing::PrintToString(s);
      }
  std::string longest(65535, 'x');
  for (std::size_t i = 0; i < longest.size(); i += 97) longest[i] = static_cast<char>(i % 256);
  EXPECT_EQ(written_string(longest), reference_string(longest));
  EXPECT_EQ(written_string(""), "\"\"");
}

}  // namespace

namespace {

// Scalars copied in one piece read as RapidJSON's writer wrote them.
TEST(ScalarWriter, MatchesRapidJsonWriter) {
  const double doubles[] = {0.0, -0.0, 1.0, -1.5, 0.1, 1.0 / 3, 1e21, 1e-7, 123456789012345680.0,
                            DBL_MIN, DBL_TRUE_MIN, DBL_MAX, -DBL_MAX, 5e-324, 0.000001};
  const std::int64_t signed_values[] = {INT64_MIN, -1, 0, 9, 10, INT64_MAX};
  const std::uint64_t unsigned_values[] = {0, 1, 4294967296ULL, UINT64_MAX};
  qv_reply mine;
  rapidjson::StringBuffer sb;
  rapidjson::Writer<rapidjson::StringBuffer> theirs(sb);
  mine.begin_array();
  theirs.StartArray();
  for (double d : doubles) mine.real(d), theirs.Double(d);
  for (std::int64_t v : signed_values) mine.int64(v), theirs.Int64(v);
  for (std::uint64_t v : unsigned_values) mine.uint64(v), theirs.Uint64(v);
  mine.boolean(true), theirs.Bool(true);
  mine.boolean(false), theirs.Bool(false);
  mine.null(), theirs.Null();
  mine.number_text("-12.5"), theirs.RawValue("-12.5", 5, rapidjson::kNumberType);
  mine.end_array();
  theirs.EndArray();
  char *p = mine.release();
  EXPECT_EQ(std::string(p), std::string(sb.GetString(), sb.GetSize()));
  std::free(p);
}

}  // namespace
