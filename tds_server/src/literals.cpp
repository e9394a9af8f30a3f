#include "literals.h"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <stdexcept>

namespace tds::wire {
namespace {

[[noreturn]] void bad(std::string_view what, std::string_view s) {
  throw std::invalid_argument(std::string(what) + ": cannot read '" + std::string(s) + "'");
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Reads min_width..max_width decimal digits at s[pos].
int read_digits(std::string_view s, std::size_t &pos, int min_width, int max_width) {
  int value = 0, n = 0;
  while (pos < s.size() && n < max_width && std::isdigit(static_cast<unsigned char>(s[pos]))) {
    value = value * 10 + (s[pos++] - '0');
    ++n;
  }
  if (n < min_width) bad("number", s);
  return value;
}

void expect(std::string_view s, std::size_t &pos, char c) {
  if (pos >= s.size() || s[pos] != c) bad("date/time", s);
  ++pos;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::int64_t parse_int(std::string_view s) {
  s = trim(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size()) bad("integer", s);
  return v;
}

bool parse_bit(std::string_view s) {
  s = trim(s);
  if (s == "1" || s == "true" || s == "TRUE") return true;
  if (s == "0" || s == "false" || s == "FALSE") return false;
  bad("bit", s);
}

double parse_double(std::string_view s) {
  const std::string text(trim(s));
  char *end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) bad("float", s);
  return v;
}

Scaled parse_scaled(std::string_view s, int scale) {
  s = trim(s);
  Scaled out;
  std::size_t pos = 0;
  if (pos < s.size() && (s[pos] == '-' || s[pos] == '+')) out.negative = s[pos++] == '-';
  bool any_digit = false, in_fraction = false, round_up = false, seen_extra = false;
  int fraction_digits = 0;
  for (; pos < s.size(); ++pos) {
    const char c = s[pos];
    if (c == '.' && !in_fraction) { in_fraction = true; continue; }
    if (!std::isdigit(static_cast<unsigned char>(c))) bad("decimal", s);
    any_digit = true;
    if (in_fraction && fraction_digits >= scale) {
      // Digits beyond the scale only decide the rounding.
      if (!seen_extra) round_up = c >= '5';
      seen_extra = true;
      continue;
    }
    if (in_fraction) ++fraction_digits;
    out.magnitude = out.magnitude * 10 + static_cast<unsigned>(c - '0');
  }
  if (!any_digit) bad("decimal", s);
  for (; fraction_digits < scale; ++fraction_digits) out.magnitude *= 10;
  if (round_up) out.magnitude += 1;
  if (out.magnitude == 0) out.negative = false;
  return out;
}

std::int64_t days_since_year1(CivilDate d) {
  // Days from civil (Howard Hinnant), shifted so 0001-01-01 is day 0.
  const int y = d.year - (d.month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned mp = static_cast<unsigned>(d.month + (d.month > 2 ? -3 : 9));
  const unsigned doy = (153 * mp + 2) / 5 + static_cast<unsigned>(d.day) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t since_1970 = era * 146097 + static_cast<std::int64_t>(doe) - 719468;
  return since_1970 + 719162;  // 0001-01-01 is 719162 days before 1970-01-01
}

namespace {

CivilDate read_date(std::string_view s, std::size_t &pos) {
  CivilDate d;
  d.year = read_digits(s, pos, 4, 4);
  expect(s, pos, '-');
  d.month = read_digits(s, pos, 1, 2);
  expect(s, pos, '-');
  d.day = read_digits(s, pos, 1, 2);
  if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31) bad("date", s);
  return d;
}

TimeOfDay read_time(std::string_view s, std::size_t &pos) {
  const int h = read_digits(s, pos, 1, 2);
  expect(s, pos, ':');
  const int m = read_digits(s, pos, 2, 2);
  int sec = 0;
  std::int64_t frac = 0;
  if (pos < s.size() && s[pos] == ':') {
    ++pos;
    sec = read_digits(s, pos, 2, 2);
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      const std::size_t start = pos;
      frac = read_digits(s, pos, 1, 7);
      for (std::size_t n = pos - start; n < 7; ++n) frac *= 10;
    }
  }
  if (h > 23 || m > 59 || sec > 59) bad("time", s);
  return TimeOfDay{((h * 60LL + m) * 60 + sec) * 10'000'000LL + frac};
}

void expect_end(std::string_view s, std::size_t pos) {
  if (pos != s.size()) bad("date/time", s);
}

}  // namespace

CivilDate parse_date(std::string_view s) {
  s = trim(s);
  std::size_t pos = 0;
  const CivilDate d = read_date(s, pos);
  expect_end(s, pos);
  return d;
}

TimeOfDay parse_time(std::string_view s) {
  s = trim(s);
  std::size_t pos = 0;
  const TimeOfDay t = read_time(s, pos);
  expect_end(s, pos);
  return t;
}

namespace {

void read_datetime(std::string_view s, std::size_t &pos, CivilDate &date, TimeOfDay &time) {
  date = read_date(s, pos);
  time = TimeOfDay{};
  if (pos < s.size() && (s[pos] == ' ' || s[pos] == 'T') && pos + 1 < s.size() &&
      std::isdigit(static_cast<unsigned char>(s[pos + 1]))) {
    ++pos;
    time = read_time(s, pos);
  }
}

}  // namespace

void parse_datetime(std::string_view s, CivilDate &date, TimeOfDay &time) {
  s = trim(s);
  std::size_t pos = 0;
  read_datetime(s, pos, date, time);
  expect_end(s, pos);
}

void parse_datetimeoffset(std::string_view s, CivilDate &date, TimeOfDay &time, int &offset) {
  s = trim(s);
  std::size_t pos = 0;
  read_datetime(s, pos, date, time);
  while (pos < s.size() && s[pos] == ' ') ++pos;
  if (pos >= s.size() || (s[pos] != '+' && s[pos] != '-')) bad("datetimeoffset", s);
  const int sign = s[pos++] == '-' ? -1 : 1;
  const int h = read_digits(s, pos, 2, 2);
  if (pos < s.size() && s[pos] == ':') ++pos;
  const int m = read_digits(s, pos, 2, 2);
  expect_end(s, pos);
  offset = sign * (h * 60 + m);
  if (offset < -840 || offset > 840) bad("datetimeoffset", s);
}

Bytes parse_hex(std::string_view s) {
  s = trim(s);
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  if (s.size() % 2 != 0) bad("binary", s);
  Bytes out;
  out.reserve(s.size() / 2);
  for (std::size_t i = 0; i < s.size(); i += 2) {
    const int hi = hex_value(s[i]), lo = hex_value(s[i + 1]);
    if (hi < 0 || lo < 0) bad("binary", s);
    out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return out;
}

Bytes parse_guid(std::string_view s) {
  s = trim(s);
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') {
    bad("uniqueidentifier", s);
  }
  std::string hex;
  for (char c : s) {
    if (c != '-') hex += c;
  }
  Bytes raw = parse_hex(hex);
  // The first three groups travel little-endian, the last eight bytes as written.
  std::swap(raw[0], raw[3]);
  std::swap(raw[1], raw[2]);
  std::swap(raw[4], raw[5]);
  std::swap(raw[6], raw[7]);
  return raw;
}

}  // namespace tds::wire
