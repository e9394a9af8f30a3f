#include "exec/render.h"

#include <bit>
#include <cstring>

#include "common/reply.h"

namespace qv::exec {

namespace {

constexpr char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::int64_t kTicksPerSecond = 10'000'000;  // DBDATETIMEALL time unit: 100 ns
constexpr std::int64_t kTicksPerDay = 86'400 * kTicksPerSecond;
constexpr int kMaxTimePrec = 7;
constexpr std::uint32_t kDatetimeTicksPerSecond = 300;  // datetime counts 1/300 s
constexpr int kDaysFrom1970To1900 = -25'567;
constexpr int kMaxNumericPrecision = 38;
// Bytes of a numeric's magnitude (after the sign byte) for each precision.
constexpr unsigned char kNumericBytes[kMaxNumericPrecision + 1] = {
    0, 1, 1, 2, 2, 3, 3, 3, 4, 4, 5, 5, 5, 6, 6, 7, 7, 8, 8, 8,
    9, 9, 10, 10, 10, 11, 11, 12, 12, 13, 13, 13, 14, 14, 15, 15, 15, 16, 16};
constexpr int kMoneyScale = 4;

// "00" to "99".
struct digit_pairs {
  char pair[100][2];
  constexpr digit_pairs() : pair() {
    for (int v = 0; v < 100; ++v) {
      pair[v][0] = static_cast<char>('0' + v / 10);
      pair[v][1] = static_cast<char>('0' + v % 10);
    }
  }
};
constexpr digit_pairs kDigits;

// " 0" to " 9", then "10" to "99".
struct blank_digit_pairs {
  char pair[100][2];
  constexpr blank_digit_pairs() : pair() {
    for (int v = 0; v < 100; ++v) {
      pair[v][0] = v < 10 ? ' ' : static_cast<char>('0' + v / 10);
      pair[v][1] = static_cast<char>('0' + v % 10);
    }
  }
};
constexpr blank_digit_pairs kBlankDigits;

struct civil {
  int year, month, day;  // month 1..12
};

// The calendar date of a day count from 1900-01-01 (proleptic Gregorian).
civil civil_from_1900(std::int32_t days) {
  // Counted in 400-year eras from 0000-03-01, so leap days end each year.
  const std::int32_t z = days + kDaysFrom1970To1900 + 719'468;
  const std::int32_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const auto doe = static_cast<std::uint32_t>(z - era * 146'097);
  const std::uint32_t yoe = (doe - doe / 1'460 + doe / 36'524 - doe / 146'096) / 365;
  const std::uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::uint32_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {static_cast<int>(yoe) + era * 400 + (month <= 2), month, day};
}

char *put_uint(char *o, std::uint64_t v) {
  char tmp[20];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  while (n) *o++ = tmp[--n];
  return o;
}

// v in `width` digits, zero-padded.
char *put_padded(char *o, std::uint64_t v, int width) {
  int i = width;
  for (; i >= 2; i -= 2, v /= 100) std::memcpy(o + i - 2, kDigits.pair[v % 100], 2);
  if (i) o[0] = static_cast<char>('0' + v % 10);
  return o + width;
}

// v (0..99) in two digits.
char *put_two(char *o, int v) {
  std::memcpy(o, kDigits.pair[v], 2);
  return o + 2;
}

// v (0..99) right-aligned in two places, blank-padded.
char *put_blank2(char *o, int v) {
  std::memcpy(o, kBlankDigits.pair[v], 2);
  return o + 2;
}

// "Mon dd yyyy hh:mm:ss:" then `digits` digits of `fraction` and AM/PM.
std::size_t put_date_time(char *out, std::int32_t days, std::int32_t seconds_of_day,
                          std::uint32_t fraction, int digits) {
  const civil c = civil_from_1900(days);
  char *o = out;
  std::memcpy(o, kMonths[c.month - 1], 3);
  o += 3;
  *o++ = ' ';
  o = put_blank2(o, c.day);
  *o++ = ' ';
  if (c.year >= 1000 && c.year <= 9999) {
    std::memcpy(o, kDigits.pair[c.year / 100], 2);
    std::memcpy(o + 2, kDigits.pair[c.year % 100], 2);
    o += 4;
  } else if (c.year < 0) {
    *o++ = '-';
    o = put_uint(o, static_cast<std::uint64_t>(-static_cast<std::int64_t>(c.year)));
  } else {
    o = put_uint(o, static_cast<std::uint64_t>(c.year));
  }
  *o++ = ' ';
  const int hour = seconds_of_day / 3600;
  o = put_blank2(o, hour % 12 == 0 ? 12 : hour % 12);
  *o++ = ':';
  o = put_two(o, seconds_of_day / 60 % 60);
  *o++ = ':';
  o = put_two(o, seconds_of_day % 60);
  *o++ = ':';
  o = put_padded(o, fraction, digits);
  *o++ = hour < 12 ? 'A' : 'P';
  *o++ = 'M';
  return static_cast<std::size_t>(o - out);
}

constexpr std::uint64_t pow10(int n) {
  std::uint64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// 100 ns ticks per unit of the last fraction digit shown, by digit count.
constexpr std::uint32_t kFractionDivisor[kMaxTimePrec + 1] = {
    10'000'000, 1'000'000, 100'000, 10'000, 1'000, 100, 10, 1};

// " +05:30"
std::size_t put_offset(char *out, int minutes) {
  char *o = out;
  *o++ = ' ';
  *o++ = minutes < 0 ? '-' : '+';
  if (minutes < 0) minutes = -minutes;
  o = put_padded(o, static_cast<std::uint64_t>(minutes / 60), 2);
  *o++ = ':';
  o = put_padded(o, static_cast<std::uint64_t>(minutes % 60), 2);
  return static_cast<std::size_t>(o - out);
}

// Writes the digits of v right to left ending at `end`, at least `min_digits`
// of them (zero-filled); returns where they start.
char *digits_backward(std::uint64_t v, char *end, int min_digits) {
  char *p = end;
  for (; v >= 100; v /= 100) {
    p -= 2;
    std::memcpy(p, kDigits.pair[v % 100], 2);
  }
  if (v >= 10) {
    p -= 2;
    std::memcpy(p, kDigits.pair[v], 2);
  } else if (v > 0) {
    *--p = static_cast<char>('0' + v);
  }
  while (end - p < min_digits) *--p = '0';
  return p;
}

// The JSON number of magnitude / 10^scale: sign, the integer digits (at
// least "0"), then the fraction's digits up to its last non-zero one.
std::size_t put_exact(char *out, bool negative, unsigned __int128 magnitude, int scale) {
  constexpr std::uint64_t kChunk = pow10(19);
  char digits[kRenderedMax];
  char *end = digits + sizeof digits;
  char *start = end;
  // 19 digits at a time while the value does not fit 64 bits.
  int needed = scale + 1;  // every fraction digit and one integer digit
  while (magnitude > UINT64_MAX) {
    start = digits_backward(static_cast<std::uint64_t>(magnitude % kChunk), start, 19);
    magnitude /= kChunk;
    needed -= 19;
  }
  start = digits_backward(static_cast<std::uint64_t>(magnitude), start, needed > 1 ? needed : 1);
  const char *point = end - scale;
  const char *last = end;
  while (last > point && last[-1] == '0') --last;
  char *o = out;
  if (negative) *o++ = '-';
  qv_copy_bytes(o, start, static_cast<std::size_t>(point - start));
  o += point - start;
  if (last > point) {
    *o++ = '.';
    qv_copy_bytes(o, point, static_cast<std::size_t>(last - point));
    o += last - point;
  }
  return static_cast<std::size_t>(o - out);
}

// The number held in the first `bytes` (1..8) bytes at p, most significant
// first; p has at least 8 bytes.
std::uint64_t big_endian_prefix(const unsigned char *p, int bytes) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return word >> (64 - 8 * bytes);
}

constexpr int kLastYear = 9999;
constexpr int kMaxOffsetMinutes = 14 * 60;

bool leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int year, int month) {
  constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap_year(year) ? 29 : kDays[month - 1];
}

// Walks a date text from its start; each step consumes what it reads.
class date_text_reader {
 public:
  explicit date_text_reader(std::string_view t) : t_(t) {}

  bool at_end() const { return i_ == t_.size(); }
  bool peek(char c) const { return i_ < t_.size() && t_[i_] == c; }
  bool take(char c) {
    if (!peek(c)) return false;
    ++i_;
    return true;
  }
  // One or more blanks.
  bool blanks() {
    if (!peek(' ')) return false;
    while (peek(' ')) ++i_;
    return true;
  }
  // min..max digits as a number.
  bool number(int min, int max, int *v) {
    int n = 0;
    *v = 0;
    while (n < max && i_ < t_.size() && t_[i_] >= '0' && t_[i_] <= '9') {
      *v = *v * 10 + (t_[i_++] - '0');
      ++n;
    }
    return n >= min;
  }
  bool month(int *m) {
    for (int k = 0; k < 12; ++k)
      if (t_.substr(i_, 3) == kMonths[k]) {
        i_ += 3;
        *m = k + 1;
        return true;
      }
    return false;
  }
  // Up to kMaxFractionDigits digits, kept as text.
  void fraction(qv_date_parts *p) {
    while (p->fraction_digits < kMaxFractionDigits && i_ < t_.size() && t_[i_] >= '0' &&
           t_[i_] <= '9')
      p->fraction[p->fraction_digits++] = t_[i_++];
  }

 private:
  std::string_view t_;
  std::size_t i_ = 0;
};

// "AM"/"PM" turning hour (1..12) into the 24-hour clock.
bool meridiem(date_text_reader &r, int *hour) {
  if (*hour < 1 || *hour > 12) return false;
  if (r.take('A')) *hour %= 12;
  else if (r.take('P')) *hour = *hour % 12 + 12;
  else return false;
  return r.take('M');
}

// " +05:30" after the time.
bool offset(date_text_reader &r, qv_date_parts *p) {
  if (r.at_end()) return true;
  int hours, minutes;
  if (!r.take(' ')) return false;
  const bool negative = r.take('-');
  if (!negative && !r.take('+')) return false;
  if (!r.number(2, 2, &hours) || !r.take(':') || !r.number(2, 2, &minutes) || minutes > 59)
    return false;
  p->offset_minutes = (negative ? -1 : 1) * (hours * 60 + minutes);
  if (hours * 60 + minutes > kMaxOffsetMinutes) return false;
  p->has_offset = true;
  return true;
}

}  // namespace

bool qv_read_date_text(std::string_view text, qv_date_parts *out) {
  qv_date_parts p;
  date_text_reader r(text);
  if (!r.month(&p.month) || !r.blanks() || !r.number(1, 2, &p.day) || !r.blanks() ||
      !r.number(1, 4, &p.year) || !r.blanks() || !r.number(1, 2, &p.hour) || !r.take(':') ||
      !r.number(2, 2, &p.minute) || !r.take(':') || !r.number(2, 2, &p.second))
    return false;
  if (r.take(':')) r.fraction(&p);
  if (!meridiem(r, &p.hour) || !offset(r, &p) || !r.at_end()) return false;
  if (p.year < 1 || p.year > kLastYear || p.day < 1 || p.day > days_in_month(p.year, p.month) ||
      p.minute > 59 || p.second > 59)
    return false;
  *out = p;
  return true;
}

std::size_t qv_render_datetimeall(const DBDATETIMEALL &v, char *out) {
  const int digits = v.time_prec <= kMaxTimePrec ? v.time_prec : kMaxTimePrec;
  // The stored time is UTC; the text shows the local time of the offset.
  std::int64_t ticks = static_cast<std::int64_t>(v.time % kTicksPerDay);
  std::int64_t days = v.date;
  if (v.has_offset) {
    ticks += static_cast<std::int64_t>(v.offset) * 60 * kTicksPerSecond;
    if (ticks < 0) ticks += kTicksPerDay, --days;
    else if (ticks >= kTicksPerDay) ticks -= kTicksPerDay, ++days;
  }
  const auto sub = static_cast<std::uint32_t>(ticks % kTicksPerSecond);
  std::size_t n = put_date_time(out, static_cast<std::int32_t>(days),
                                static_cast<std::int32_t>(ticks / kTicksPerSecond),
                                sub / kFractionDivisor[digits], digits);
  if (v.has_offset) n += put_offset(out + n, v.offset);
  return n;
}

std::size_t qv_render_datetime(const DBDATETIME &v, char *out) {
  const auto ticks = static_cast<std::uint32_t>(v.dttime);
  const std::uint32_t ms = ((ticks % kDatetimeTicksPerSecond) * 1000 + 150) / kDatetimeTicksPerSecond;
  return put_date_time(out, v.dtdays, static_cast<std::int32_t>(ticks / kDatetimeTicksPerSecond), ms, 3);
}

std::size_t qv_render_datetime4(const DBDATETIME4 &v, char *out) {
  return put_date_time(out, v.days, static_cast<std::int32_t>(v.minutes) * 60, 0, 3);
}

bool qv_render_decimal_number(const DBNUMERIC &v, char *out, std::size_t *len) {
  if (v.precision < 1 || v.precision > kMaxNumericPrecision || v.scale > v.precision) return false;
  const int bytes = kNumericBytes[v.precision];
  if (bytes <= 8) {  // precision up to 19: 64-bit arithmetic
    *len = put_exact(out, v.array[0] == 1, big_endian_prefix(v.array + 1, bytes), v.scale);
    return true;
  }
  unsigned __int128 magnitude = 0;
  for (int i = 1; i <= bytes; ++i) magnitude = magnitude << 8 | v.array[i];
  *len = put_exact(out, v.array[0] == 1, magnitude, v.scale);
  return true;
}
std::size_t qv_render_money_number(std::int64_t units, char *out) {
  const bool negative = units < 0;
  const std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(units) + 1 : static_cast<std::uint64_t>(units);
  return put_exact(out, negative, magnitude, kMoneyScale);
}

bool qv_number_from_text(std::string_view t, char *out, std::size_t outsize, std::size_t *outlen) {
  std::size_t i = 0, o = 0;
  if (t.size() + 2 > outsize) return false;
  if (i < t.size() && t[i] == '-') out[o++] = t[i++];
  std::size_t int_start = i;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
  std::size_t int_len = i - int_start;
  std::string_view frac;
  if (i < t.size() && t[i] == '.') {
    std::size_t f = ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    frac = t.substr(f, i - f);
  }
  if (i != t.size() || (int_len == 0 && frac.empty())) return false;
  // JSON wants one leading zero at most, and a digit before the point.
  while (int_len > 1 && t[int_start] == '0') ++int_start, --int_len;
  if (int_len == 0) out[o++] = '0';
  std::memcpy(out + o, t.data() + int_start, int_len);
  o += int_len;
  while (!frac.empty() && frac.back() == '0') frac.remove_suffix(1);
  if (!frac.empty()) {
    out[o++] = '.';
    std::memcpy(out + o, frac.data(), frac.size());
    o += frac.size();
  }
  *outlen = o;
  return true;
}

}  // namespace qv::exec
