// Reading date and time texts back: every text the renderers write reads as
// the value it was rendered from, and nothing else reads as a date. (datetime
// and smalldatetime texts are the same form with three fraction digits.)
#include <gtest/gtest.h>
#include <sybdb.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "exec/render.h"

using namespace qv::exec;

namespace {

// The parts as one comparable text: "2024-02-29 13:45:30.1234567 +330".
std::string summary(const qv_date_parts &p) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%.*s", p.year, p.month, p.day,
                p.hour, p.minute, p.second, p.fraction_digits, p.fraction);
  std::string s = buf;
  if (p.has_offset) s += " " + std::to_string(p.offset_minutes);
  return s;
}

TEST(DateText, ReadsTheRenderedFormsOnly) {
  const struct {
    const char *text, *parts;  // parts null: refused
  } cases[] = {
      {"Feb 29 2024  1:45:30:1234567PM", "2024-02-29 13:45:30.1234567"},
      {"Feb 29 2024 12:00:00:AM", "2024-02-29 00:00:00."},
      {"Jan  1 1900  1:45:30:1234560PM", "1900-01-01 13:45:30.1234560"},
      {"Dec 31 9999 11:59:59:9999999PM +14:00", "9999-12-31 23:59:59.9999999 840"},
      {"Jan  1 1 12:00:00:AM -14:00", "0001-01-01 00:00:00. -840"},
      {"Feb 29 2024 12:30:00PM", "2024-02-29 12:30:00."},  // no ":" before AM/PM
      {"Mar 1 2024 1:02:03:04AM -00:30", "2024-03-01 01:02:03.04 -30"},
      {"", nullptr},
      {"Feb 29 2023 12:00:00:AM", nullptr},  // not a leap year
      {"feb 29 2024 12:00:00:AM", nullptr},
      {"Feb 29 2024 13:00:00:PM", nullptr},
      {"Feb 29 2024  0:00:00:AM", nullptr},
      {"Feb 29 2024 12:60:00:AM", nullptr},
      {"Feb 29 2024 12:00:00:12345678AM", nullptr},
      {"Feb 29 2024 12:00:00:AM ", nullptr},
      {"Feb 29 2024 12:00:00:AM +14:01", nullptr},
      {"Feb 29 2024 12:00:00:AM +5:30", nullptr},
      {"Feb 29 2024 12:00:00:AM+05:30", nullptr},
      {"Feb 29 10000 12:00:00:AM", nullptr},
      {"2024-02-29T13:45:30", nullptr},
      {"Feb 29 2024  1:45PM", nullptr},
      {"Feb 29 2024 12:00:00:XM", nullptr},
  };
  for (const auto &c : cases) {
    qv_date_parts p;
    bool read = qv_read_date_text(c.text, &p);
    EXPECT_EQ(read, c.parts != nullptr) << "'" << c.text << "'";
    if (read && c.parts) {
      EXPECT_EQ(summary(p), c.parts) << c.text;
    }
  }
}

// Days from 1900-01-01 of a calendar date, the renderers' day count.
std::int64_t days_from_1900(int y, int m, int d) {
  auto from_epoch = [](std::int64_t yy, int mm, int dd) {
    yy -= mm <= 2;
    const std::int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
    const std::int64_t yoe = yy - era * 400;
    const std::int64_t doy = (153 * (mm + (mm > 2 ? -3 : 9)) + 2) / 5 + dd - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy;
  };
  return from_epoch(y, m, d) - from_epoch(1900, 1, 1);
}

constexpr std::int64_t kSecond = 10'000'000, kDay = 86'400 * kSecond;

// The UTC day and 100 ns tick a read text names.
void instant_of(const qv_date_parts &p, std::int64_t *day, std::int64_t *tick) {
  std::int64_t fraction = 0;
  for (int i = 0; i < kMaxFractionDigits; ++i)
    fraction = fraction * 10 + (i < p.fraction_digits ? p.fraction[i] - '0' : 0);
  std::int64_t t = ((p.hour * 60 + p.minute) * 60 + p.second) * kSecond + fraction -
                   static_cast<std::int64_t>(p.offset_minutes) * 60 * kSecond;
  *day = days_from_1900(p.year, p.month, p.day);
  if (t < 0) t += kDay, --*day;
  if (t >= kDay) t -= kDay, ++*day;
  *tick = t;
}

TEST(DateText, RenderedValuesReadBackAsTheSameValue) {
  const std::int32_t days[] = {-693'595, -693'594, -53'690, -1, 0, 59, 60, 36'523, 45'349,
                               2'958'463};
  const std::int64_t ticks[] = {0, 1, kSecond - 1, 12 * 3600 * kSecond - 1, 12 * 3600 * kSecond,
                                13 * 3600 * kSecond + 1'234'567, kDay - 1};
  const int offsets[] = {INT_MIN, -840, -330, 0, 1, 345, 840};
  const std::int64_t divisor[] = {10'000'000, 1'000'000, 100'000, 10'000, 1'000, 100, 10, 1};
  for (std::int32_t d : days)
    for (std::int64_t t : ticks)
      for (int prec = 0; prec <= kMaxFractionDigits; ++prec)
        for (int off : offsets) {
          // A local time past the calendar's ends has no text.
          if (off != INT_MIN && ((d == days[0] && off < 0) || (d == 2'958'463 && off > 0))) continue;
          DBDATETIMEALL v;
          std::memset(&v, 0, sizeof v);
          v.date = d;
          v.time = static_cast<std::uint64_t>(t);
          v.time_prec = static_cast<DBUSMALLINT>(prec);
          v.has_date = v.has_time = 1;
          if (off != INT_MIN) {
            v.has_offset = 1;
            v.offset = static_cast<DBSMALLINT>(off);
          }
          char out[kRenderedMax];
          const std::string text(out, qv_render_datetimeall(v, out));
          qv_date_parts p;
          ASSERT_TRUE(qv_read_date_text(text, &p)) << text;
          EXPECT_EQ(p.fraction_digits, prec) << text;
          EXPECT_EQ(p.has_offset, off != INT_MIN) << text;
          std::int64_t day, tick;
          instant_of(p, &day, &tick);
          ASSERT_EQ(day, d) << text;
          ASSERT_EQ(tick, t - t % divisor[prec]) << text;
        }
}

}  // namespace
