// Structure-aware fuzzing of the row path: every input is decoded into one
// reply of well-formed result sets (columns of every server type, rows with
// NULLs and extreme values), row counts and prints. The in-process test
// server answers it, and the same statement runs through dbdesk_core_query
// and dbdesk_core_query_stream. Any of these aborts:
//  - a reply or an event that is not valid JSON with valid UTF-8 strings;
//  - a call that fails, or a result set missing, added or reordered;
//  - the classic reply's columns and rows differing from those the stream's
//    events reassemble to;
//  - a row count other than the rows sent, or a truncation;
//  - an integer, bit, decimal, money, float, character, binary or
//    uniqueidentifier cell whose value is not the one sent.
#include <fuzzer/FuzzedDataProvider.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "quorvex/dbdesk_core.h"
#include "tds_server/server.h"

namespace {

using tds::Type;

// Per-input bounds: at most 2000 cells and some KB of text keep an
// execution in the milliseconds.
constexpr int kMaxItems = 4;
constexpr int kMaxColumns = 12;
constexpr int kMaxRows = 1200;  // past one stream chunk (1000 rows) for narrow result sets
constexpr std::size_t kMaxCells = 2000;
constexpr std::size_t kByteBudget = 96 * 1024;  // text and binary bytes of one input
constexpr int kMaxLongValue = 10000;            // (max) and text values: past one PLP chunk
constexpr int kMaxShortLength = 8000;
// dbdesk_core_query's row limit; every result set sent is smaller.
constexpr int kClassicRowLimit = 100000;
static_assert(kMaxRows < kClassicRowLimit);
// Full precision: RapidJSON's fast number reading may land a unit in the
// last place away, which would read as a wrong floating value.
constexpr unsigned kParseFlags =
    rapidjson::kParseValidateEncodingFlag | rapidjson::kParseFullPrecisionFlag;

// The reply of the input being run, described on a failure.
std::string describe_current_reply();

[[noreturn]] void fail(const std::string &what, const std::string &detail) {
  std::fprintf(stderr, "row path property violated: %s\n%s\nthe reply sent:\n%s\n", what.c_str(),
               detail.substr(0, 4000).c_str(), describe_current_reply().c_str());
  std::abort();
}

void require(bool ok, const std::string &what, const std::string &detail = "") {
  if (!ok) fail(what, detail);
}

// ---- the server -----------------------------------------------------------

// The reply the next statement gets, under its unique text.
struct Pending {
  std::mutex lock;
  std::string sql;
  tds::Reply reply;
};

Pending &pending() {
  static Pending p;
  return p;
}

tds::Server &server() {
  static tds::Server *s = [] {
    auto *srv = new tds::Server();  // lives for the whole run
    srv->on_match(
        [](const std::string &sql) {
          std::lock_guard<std::mutex> g(pending().lock);
          return sql == pending().sql;
        },
        [](const std::string &) {
          std::lock_guard<std::mutex> g(pending().lock);
          return pending().reply;
        });
    srv->start();
    return srv;
  }();
  return *s;
}

std::string conn_json() {
  return "{\"host\":\"127.0.0.1\",\"port\":" + std::to_string(server().port()) +
         ",\"user\":\"sa\",\"password\":\"secret\"}";
}

// ---- texts ----------------------------------------------------------------

// One character a text is built from: its UTF-8, what a char column of the
// Windows-1252 collation gives back, and its size in that code page and in
// UTF-16 units.
struct Piece {
  const char *utf8;
  const char *cp1252_back;
  int utf16_units;
};

constexpr Piece kPieces[] = {
    {"a", "a", 1},   {"Z", "Z", 1},   {"0", "0", 1},   {" ", " ", 1},   {"\"", "\"", 1},
    {"\\", "\\", 1}, {"/", "/", 1},   {"\t", "\t", 1}, {"\n", "\n", 1}, {"\x01", "\x01", 1},
    {"\x1f", "\x1f", 1}, {"\x7f", "\x7f", 1}, {"<", "<", 1}, {"'", "'", 1},
    {"\xC2\xA0", "\xC2\xA0", 1},          // U+00A0
    {"\xC3\xA9", "\xC3\xA9", 1},          // é
    {"\xC3\xBF", "\xC3\xBF", 1},          // ÿ
    {"\xE2\x82\xAC", "\xE2\x82\xAC", 1},  // € (0x80 in Windows-1252)
    {"\xC5\xB8", "\xC5\xB8", 1},          // Ÿ (0x9F)
    {"\xC2\x81", "?", 1},                 // U+0081, unassigned in Windows-1252
    {"\xCE\xA9", "?", 1},                 // Ω
    {"\xE4\xB8\xAD", "?", 1},             // 中
    {"\xEF\xBB\xBF", "?", 1},             // U+FEFF
    {"\xEF\xBF\xBD", "?", 1},             // U+FFFD
    {"\xF0\x9F\x98\x80", "?", 2},         // U+1F600, a surrogate pair
    {"\xF4\x8F\xBF\xBF", "?", 2},         // U+10FFFF
};
constexpr std::size_t kAsciiPieces = 14;  // the first ones, one byte everywhere

int utf8_bytes(const Piece &p) { return static_cast<int>(std::strlen(p.utf8)); }

// Bytes that are not UTF-8 a server can still hold: in a UTF-8 collated
// char column (cast from binary), or a lone surrogate in a Unicode column
// (written here as its three-byte form, which the test server sends as the
// single UTF-16 unit). A character always follows them: db-lib fails the
// whole row read (ERR 2401) when a value ends in an incomplete sequence.
constexpr const char *kBadBytes[] = {"\xFF", "\xE2\x82", "\xC0\xAF", "\x80"};
constexpr const char *kLoneSurrogates[] = {"\xED\xA0\x80", "\xED\xBF\xBF"};

// How a column measures its texts.
enum class Measure { cp1252, utf8, utf16 };

struct Text {
  std::string value;       // the literal sent
  std::string expected;    // what the cell must hold (before blank trimming)
  bool checkable = true;   // false: holds bytes whose rendering is db-lib's choice
};

int piece_size(const Piece &p, Measure m) {
  switch (m) {
    case Measure::cp1252: return 1;
    case Measure::utf8: return utf8_bytes(p);
    case Measure::utf16: return p.utf16_units;
  }
  return 1;
}

// A text of at most `room` units of m; with `fill`, exactly `room` units.
Text make_text(FuzzedDataProvider &in, Measure m, int room, bool fill, bool odd_bytes) {
  Text t;
  const bool narrow_ascii = in.ConsumeBool();
  int used = 0;
  const int target = fill ? room : in.ConsumeIntegralInRange(0, room);
  while (used < target && in.remaining_bytes() > 0) {
    if (odd_bytes && in.ConsumeIntegralInRange(0, 15) == 0) {
      const char *bad = m == Measure::utf16 ? kLoneSurrogates[in.ConsumeBool()]
                                            : kBadBytes[in.ConsumeIntegralInRange<std::size_t>(
                                                  0, std::size(kBadBytes) - 1)];
      const int size = 1 + (m == Measure::utf8 ? static_cast<int>(std::strlen(bad)) : 1);
      if (used + size <= target) {
        t.value += std::string(bad) + "a";
        t.expected += std::string(bad) + "a";
        t.checkable = false;
        used += size;
        continue;
      }
    }
    const std::size_t last = narrow_ascii ? kAsciiPieces - 1 : std::size(kPieces) - 1;
    const Piece &p = kPieces[in.ConsumeIntegralInRange<std::size_t>(0, last)];
    const Piece &q = piece_size(p, m) + used <= target ? p : kPieces[0];
    t.value += q.utf8;
    t.expected += m == Measure::cp1252 ? q.cp1252_back : q.utf8;
    used += piece_size(q, m);
  }
  // Runs of a repeated character make long values cheaply.
  while (fill && used < target) {
    t.value += 'x';
    t.expected += 'x';
    ++used;
  }
  return t;
}

std::string hex_of(const std::vector<std::uint8_t> &bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s = "0x";
  for (std::uint8_t b : bytes) {
    s += kHex[b >> 4];
    s += kHex[b & 0x0F];
  }
  return s;
}

std::vector<std::uint8_t> make_bytes(FuzzedDataProvider &in, int room, bool fill) {
  const int n = fill ? room : in.ConsumeIntegralInRange(0, room);
  std::vector<std::uint8_t> b(static_cast<std::size_t>(n));
  const std::uint8_t seed = in.ConsumeIntegral<std::uint8_t>();
  const bool varied = in.ConsumeBool();
  for (int i = 0; i < n; ++i)
    b[static_cast<std::size_t>(i)] =
        varied ? static_cast<std::uint8_t>(seed * 31 + i * 7 + (i >> 3)) : seed;
  return b;
}

// ---- columns and values ---------------------------------------------------

constexpr Type kTypes[] = {
    Type::TinyInt, Type::SmallInt, Type::Int, Type::BigInt, Type::Bit, Type::Real, Type::Float,
    Type::Decimal, Type::Numeric, Type::Money, Type::SmallMoney, Type::DateTime,
    Type::SmallDateTime, Type::Date, Type::Time, Type::DateTime2, Type::DateTimeOffset,
    Type::Char, Type::VarChar, Type::NChar, Type::NVarChar, Type::Binary, Type::VarBinary,
    Type::UniqueIdentifier, Type::Text, Type::NText, Type::Image, Type::Xml, Type::SqlVariant,
    Type::Udt,
};

// A column name: empty, plain, or with characters JSON must escape, up to
// 128 UTF-16 units.
std::string make_name(FuzzedDataProvider &in, std::size_t index) {
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return "c" + std::to_string(index);
    case 1: return "";
    default: return make_text(in, Measure::utf16, 128, in.ConsumeBool(), false).value;
  }
}

tds::Column make_column(FuzzedDataProvider &in, std::size_t index) {
  tds::Column c;
  c.type = kTypes[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kTypes) - 1)];
  c.name = make_name(in, index);
  c.nullable = in.ConsumeBool();
  const bool wide = in.ConsumeIntegralInRange(0, 7) == 0;
  const int short_length = wide ? in.ConsumeIntegralInRange(1, kMaxShortLength)
                                : in.ConsumeIntegralInRange(1, 40);
  switch (c.type) {
    case Type::Decimal: case Type::Numeric:
      c.precision = in.ConsumeIntegralInRange(1, 38);
      c.scale = in.ConsumeIntegralInRange(0, c.precision);
      break;
    case Type::Time: case Type::DateTime2: case Type::DateTimeOffset:
      c.scale = in.ConsumeIntegralInRange(0, 7);
      break;
    case Type::Char: case Type::Binary:
      c.length = short_length;
      break;
    case Type::NChar:
      c.length = std::min(short_length, kMaxShortLength / 2);
      break;
    case Type::VarChar: case Type::VarBinary:
      c.length = in.ConsumeIntegralInRange(0, 3) == 0 ? 0 : short_length;  // 0: (max)
      break;
    case Type::NVarChar:
      c.length = in.ConsumeIntegralInRange(0, 3) == 0 ? 0 : std::min(short_length, kMaxShortLength / 2);
      break;
    default:
      break;
  }
  return c;
}

// What a cell must read back as; kind none when not checked.
struct Expect {
  enum class Kind { none, null, unsigned_number, exact_number, real, text, boolean } kind = Kind::none;
  std::string text;  // unsigned_number, exact_number: the JSON number's text; text: the string
  bool flag = false;  // boolean: the value; real: sent as a real (single precision)
  double number = 0;  // real: the value sent
};

struct Cell {
  tds::Value literal;
  Expect expect;
};

Expect expect_text(std::string s) { return {Expect::Kind::text, std::move(s)}; }

// The JSON number of a decimal text: no leading zeros, no trailing fraction
// zeros, no sign on zero.
Expect expect_exact(const std::string &literal) {
  const bool negative = literal[0] == '-';
  const std::string body = negative ? literal.substr(1) : literal;
  const std::size_t point = body.find('.');
  std::string whole = body.substr(0, point);
  std::string fraction = point == std::string::npos ? "" : body.substr(point + 1);
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size() - 1));
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  const bool zero = whole == "0" && fraction.empty();
  return {Expect::Kind::exact_number,
          (negative && !zero ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction)};
}

Cell exact_cell(std::string literal) {
  Expect e = expect_exact(literal);
  return {std::move(literal), std::move(e)};
}

Cell integer_cell(std::int64_t v) {
  Cell c{std::to_string(v), {}};
  c.expect = v >= 0 ? Expect{Expect::Kind::unsigned_number, std::to_string(v)}
                    : expect_text(std::to_string(v));
  return c;
}

template <class T>
std::int64_t extreme_or_any(FuzzedDataProvider &in) {
  switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0: return std::numeric_limits<T>::min();
    case 1: return std::numeric_limits<T>::max();
    case 2: return 0;
    case 3: return std::is_signed_v<T> ? -1 : 1;
    default: return in.ConsumeIntegral<T>();
  }
}

std::string printed(const char *fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

std::string float_literal(FuzzedDataProvider &in, bool single) {
  using F = std::numeric_limits<float>;
  using D = std::numeric_limits<double>;
  const int pick = in.ConsumeIntegralInRange(0, 9);
  if (single) {
    const float picks[] = {F::max(), -F::max(), F::min(), F::denorm_min(), 0.0f, -0.0f,
                           1.0f / 3, 16777217.0f};
    float f = pick < 8 ? picks[pick] : 0;
    if (pick >= 8) {
      std::uint32_t bits = in.ConsumeIntegral<std::uint32_t>();
      std::memcpy(&f, &bits, sizeof f);
      if (!std::isfinite(f)) f = 1.5f;
    }
    return printed("%.9g", static_cast<double>(f));
  }
  const double picks[] = {D::max(), -D::max(), D::min(), D::denorm_min(), 0.0, -0.0,
                          0.1, 9007199254740993.0};
  double d = pick < 8 ? picks[pick] : 0;
  if (pick >= 8) {
    std::uint64_t bits = in.ConsumeIntegral<std::uint64_t>();
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) d = -2.5;
  }
  return printed("%.17g", d);
}

// A decimal text of at most `precision` digits, `scale` of them after the point.
std::string decimal_literal(FuzzedDataProvider &in, int precision, int scale) {
  const bool all_nines = in.ConsumeIntegralInRange(0, 3) == 0;
  const int int_digits = all_nines ? precision - scale : in.ConsumeIntegralInRange(0, precision - scale);
  const int frac_digits = all_nines ? scale : in.ConsumeIntegralInRange(0, scale);
  std::string s = in.ConsumeBool() ? "-" : "";
  for (int i = 0; i < int_digits; ++i)
    s += all_nines ? '9' : static_cast<char>('0' + in.ConsumeIntegralInRange(0, 9));
  if (int_digits == 0) s += '0';
  if (frac_digits > 0) {
    s += '.';
    for (int i = 0; i < frac_digits; ++i)
      s += all_nines ? '9' : static_cast<char>('0' + in.ConsumeIntegralInRange(0, 9));
  }
  return s;
}

// units / 10^4 as a decimal text.
std::string money_literal(std::int64_t units) {
  const bool negative = units < 0;
  const std::uint64_t mag = negative ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s%" PRIu64 ".%04" PRIu64, negative ? "-" : "", mag / 10000,
                mag % 10000);
  return buf;
}

struct Date {
  int year, month, day;
};

int days_in(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

Date make_date(FuzzedDataProvider &in, int first_year, int last_year) {
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0: return {first_year, 1, 1};
    case 1: return {last_year, 12, 31};
    case 2: return {2024, 2, 29};
    default: {
      Date d{in.ConsumeIntegralInRange(first_year, last_year), in.ConsumeIntegralInRange(1, 12), 1};
      d.day = in.ConsumeIntegralInRange(1, days_in(d.year, d.month));
      return d;
    }
  }
}

std::string date_text(const Date &d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
  return buf;
}

// "hh:mm:ss" and, for digits > 0, that many fraction digits.
std::string time_text(FuzzedDataProvider &in, int digits, int last_second_of_day = 86399) {
  const bool edge = in.ConsumeIntegralInRange(0, 3) == 0;
  const int sec = edge ? (in.ConsumeBool() ? 0 : last_second_of_day)
                       : in.ConsumeIntegralInRange(0, last_second_of_day);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", sec / 3600, sec / 60 % 60, sec % 60);
  std::string s = buf;
  if (digits > 0) {
    s += '.';
    for (int i = 0; i < digits; ++i)
      s += edge ? '9' : static_cast<char>('0' + in.ConsumeIntegralInRange(0, 9));
  }
  return s;
}

std::string datetime_literal(FuzzedDataProvider &in) {
  // datetime counts 1/300 s: .998 and .999 would round into the next day.
  std::string s = date_text(make_date(in, 1753, 9999)) + " " + time_text(in, 0);
  char ms[8];
  std::snprintf(ms, sizeof ms, ".%03d", in.ConsumeIntegralInRange(0, 997));
  return s + ms;
}

std::string smalldatetime_literal(FuzzedDataProvider &in) {
  // Seconds of 30 and more round up a minute; the last day has no next one.
  const Date d = make_date(in, 1900, 2079);
  const Date last{2079, 6, 6};
  const Date date = d.year == 2079 && (d.month > 6 || (d.month == 6 && d.day > 6)) ? last : d;
  const int sec = in.ConsumeIntegralInRange(0, 1439) * 60 + in.ConsumeIntegralInRange(0, 29);
  char buf[16];
  std::snprintf(buf, sizeof buf, " %02d:%02d:%02d", sec / 3600, sec / 60 % 60, sec % 60);
  return date_text(date) + buf;
}

std::string offset_text(int minutes) {
  char buf[16];
  const int m = minutes < 0 ? -minutes : minutes;
  std::snprintf(buf, sizeof buf, " %c%02d:%02d", minutes < 0 ? '-' : '+', m / 60, m % 60);
  return buf;
}

std::string datetimeoffset_literal(FuzzedDataProvider &in, int scale) {
  const int pick = in.ConsumeIntegralInRange(0, 3);
  const int offset = pick == 0 ? 840 : pick == 1 ? -840 : in.ConsumeIntegralInRange(-840, 840);
  const Date d = make_date(in, 1, 9999);
  // The UTC instant must stay within 0001-01-01 .. 9999-12-31 too.
  const bool first_day = d.year == 1 && d.month == 1 && d.day == 1;
  const bool last_day = d.year == 9999 && d.month == 12 && d.day == 31;
  std::string t = time_text(in, scale);
  const int sec = std::atoi(t.c_str()) * 3600 + std::atoi(t.c_str() + 3) * 60;
  int off = offset;
  if (first_day && off * 60 > sec) off = 0;
  if (last_day && -off * 60 > 86399 - sec - 60) off = 0;
  return date_text(d) + " " + t + offset_text(off);
}

std::string guid_literal(FuzzedDataProvider &in) {
  const std::vector<std::uint8_t> b = make_bytes(in, 16, true);
  std::string hex = hex_of(b).substr(2);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20);
}

// The room a character or binary value of c has: its declared length, or
// a long value's bound, within what the input has left.
int value_room(const tds::Column &c, std::size_t &budget) {
  const bool long_value = c.length == 0 || c.type == Type::Text || c.type == Type::NText ||
                          c.type == Type::Image || c.type == Type::Xml || c.type == Type::Udt ||
                          c.type == Type::SqlVariant;
  int room = long_value ? kMaxLongValue : c.length;
  if (c.type == Type::SqlVariant) room = 8000;
  const std::size_t per_unit = c.type == Type::NChar || c.type == Type::NVarChar ||
                                       c.type == Type::NText || c.type == Type::Xml
                                   ? 4
                                   : 2;  // bytes of the literal, and of the reply
  const std::size_t fits = budget / per_unit;
  if (static_cast<std::size_t>(room) > fits) room = static_cast<int>(fits);
  return room;
}

// Blank padding of char and nchar is dropped, and so are a varchar's or
// nvarchar's trailing blanks (db-lib reports them all as one type).
std::string trimmed(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

Cell text_cell(FuzzedDataProvider &in, const tds::Column &c, bool utf8, std::size_t &budget) {
  const bool single_byte = c.type == Type::Char || c.type == Type::VarChar || c.type == Type::Text;
  const Measure m = !single_byte ? Measure::utf16 : utf8 ? Measure::utf8 : Measure::cp1252;
  const int room = value_room(c, budget);
  // Only a UTF-8 collation passes bytes through unconverted; a lone
  // surrogate is for the Unicode types.
  const bool odd = m != Measure::cp1252 && c.type != Type::Xml;
  Text t = make_text(in, m, room, in.ConsumeIntegralInRange(0, 3) == 0, odd);
  budget -= std::min(budget, 2 * t.value.size());
  Cell cell{t.value, {}};
  if (!t.checkable) return cell;
  const bool trims = c.type != Type::Text && c.type != Type::NText && c.type != Type::Xml;
  cell.expect = expect_text(trims ? trimmed(t.expected) : t.expected);
  return cell;
}

Cell binary_cell(FuzzedDataProvider &in, const tds::Column &c, std::size_t &budget) {
  const int room = value_room(c, budget);
  std::vector<std::uint8_t> b = make_bytes(in, room, in.ConsumeIntegralInRange(0, 3) == 0);
  budget -= std::min(budget, 4 * b.size());
  Cell cell{hex_of(b), {}};
  if (c.type == Type::Binary) b.resize(static_cast<std::size_t>(c.length), 0);  // zero padded
  cell.expect = expect_text(hex_of(b));
  return cell;
}

Cell make_cell(FuzzedDataProvider &in, const tds::Column &c, bool utf8, std::size_t &budget) {
  if (c.nullable && in.ConsumeIntegralInRange(0, 4) == 0) return {std::nullopt, {Expect::Kind::null, ""}};
  switch (c.type) {
    case Type::TinyInt: return integer_cell(extreme_or_any<std::uint8_t>(in));
    case Type::SmallInt: return integer_cell(extreme_or_any<std::int16_t>(in));
    case Type::Int: return integer_cell(extreme_or_any<std::int32_t>(in));
    case Type::BigInt: return integer_cell(extreme_or_any<std::int64_t>(in));
    case Type::Bit: {
      const bool b = in.ConsumeBool();
      return {b ? "1" : "0", {Expect::Kind::boolean, "", b}};
    }
    case Type::Real: case Type::Float: {
      const bool single = c.type == Type::Real;
      std::string literal = float_literal(in, single);
      Expect e{Expect::Kind::real, "", single, std::strtod(literal.c_str(), nullptr)};
      return {std::move(literal), e};
    }
    case Type::Decimal: case Type::Numeric:
      return exact_cell(decimal_literal(in, c.precision, c.scale));
    case Type::Money: return exact_cell(money_literal(extreme_or_any<std::int64_t>(in)));
    case Type::SmallMoney: return exact_cell(money_literal(extreme_or_any<std::int32_t>(in)));
    case Type::DateTime: return {datetime_literal(in), {}};
    case Type::SmallDateTime: return {smalldatetime_literal(in), {}};
    case Type::Date: return {date_text(make_date(in, 1, 9999)), {}};
    case Type::Time: return {time_text(in, c.scale), {}};
    case Type::DateTime2:
      return {date_text(make_date(in, 1, 9999)) + " " + time_text(in, c.scale), {}};
    case Type::DateTimeOffset: return {datetimeoffset_literal(in, c.scale), {}};
    case Type::Char: case Type::VarChar: case Type::NChar: case Type::NVarChar:
    case Type::Text: case Type::NText: case Type::Xml:
      return text_cell(in, c, utf8, budget);
    case Type::Binary: case Type::VarBinary: case Type::Image: case Type::Udt:
      return binary_cell(in, c, budget);
    case Type::UniqueIdentifier: {
      std::string g = guid_literal(in);
      return {g, expect_text(g)};
    }
    case Type::SqlVariant:
      // db-lib cannot tell a variant's base type: the cell is never read
      // through its bytes.
      if (in.ConsumeBool()) return {std::to_string(extreme_or_any<std::int32_t>(in)), {}};
      return {hex_of(make_bytes(in, std::min(value_room(c, budget), 64), false)), {}};
  }
  return {std::nullopt, {}};
}

// ---- the reply ------------------------------------------------------------

struct SentResult {
  std::vector<std::vector<Expect>> rows;
};

struct Sent {
  tds::Reply reply;
  std::vector<SentResult> results;
  std::vector<std::uint64_t> counts;
  std::vector<std::string> prints;
  long long rows = 0;
};

// A result set; false when a value did not fit its column after all.
bool add_result_set(FuzzedDataProvider &in, bool utf8, std::size_t &budget, Sent &sent) {
  tds::ResultSet rs;
  const auto ncols = in.ConsumeIntegralInRange<std::size_t>(1, kMaxColumns);
  for (std::size_t i = 0; i < ncols; ++i) rs.columns.push_back(make_column(in, i));
  rs.use_nbcrow = in.ConsumeBool();
  const int max_rows = static_cast<int>(std::min<std::size_t>(kMaxRows, kMaxCells / ncols));
  const int nrows = in.ConsumeIntegralInRange(0, max_rows);
  SentResult result;
  for (int r = 0; r < nrows && in.remaining_bytes() > 0; ++r) {
    tds::Row row;
    std::vector<Expect> expects;
    for (const auto &c : rs.columns) {
      Cell cell = make_cell(in, c, utf8, budget);
      row.push_back(std::move(cell.literal));
      expects.push_back(std::move(cell.expect));
    }
    rs.rows.push_back(std::move(row));
    result.rows.push_back(std::move(expects));
  }
  try {
    rs.encoded = tds::encode_rows(rs, utf8);
  } catch (const std::invalid_argument &) {
    return false;
  }
  sent.rows += static_cast<long long>(result.rows.size());
  sent.results.push_back(std::move(result));
  sent.reply.push_back(std::move(rs));
  return true;
}

// The whole reply; false when the input made a value that does not fit.
bool decode(FuzzedDataProvider &in, bool utf8, Sent &sent) {
  std::size_t budget = kByteBudget;
  const int items = in.ConsumeIntegralInRange(1, kMaxItems);
  for (int i = 0; i < items; ++i) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
      case 0: {
        const auto n = in.ConsumeIntegralInRange<std::uint64_t>(0, std::numeric_limits<std::int32_t>::max());
        sent.counts.push_back(n);
        sent.reply.push_back(tds::RowCount{n});
        break;
      }
      case 1: {
        Text t = make_text(in, Measure::utf16, 200, false, false);
        sent.prints.push_back(t.value);
        sent.reply.push_back(tds::print(t.value));
        break;
      }
      default:
        if (!add_result_set(in, utf8, budget, sent)) return false;
    }
  }
  if (sent.results.empty()) return add_result_set(in, utf8, budget, sent);
  return true;
}

// ---- the checks -----------------------------------------------------------

// Each item of the reply, with every column and value (cut short).
std::string describe(const tds::Reply &reply) {
  std::string out;
  for (const tds::Item &item : reply) {
    if (const auto *c = std::get_if<tds::RowCount>(&item)) {
      out += "count " + std::to_string(c->count) + "\n";
    } else if (const auto *m = std::get_if<tds::Message>(&item)) {
      out += "print '" + m->text + "'\n";
    } else if (const auto *rs = std::get_if<tds::ResultSet>(&item)) {
      out += "result set" + std::string(rs->use_nbcrow ? " (NBCROW)" : "") + ":";
      for (const auto &c : rs->columns)
        out += " [" + c.name + "] type " + std::to_string(static_cast<int>(c.type)) + " length " +
               std::to_string(c.length) + " p/s " + std::to_string(c.precision) + "/" +
               std::to_string(c.scale) + (c.nullable ? " null" : " not null") + ";";
      out += "\n";
      for (const auto &row : rs->rows) {
        for (const auto &v : row) out += v ? " '" + v->substr(0, 60) + "'" : " NULL";
        out += "\n";
      }
    }
  }
  return out;
}

// The reply of the input being run, kept with its rows for describe().
tds::Reply &current_reply() {
  static tds::Reply r;
  return r;
}

std::string describe_current_reply() { return describe(current_reply()); }

std::string compact(const rapidjson::Value &v) {
  rapidjson::StringBuffer sb;
  rapidjson::Writer<rapidjson::StringBuffer> w(sb);
  v.Accept(w);
  return sb.GetString();
}

void parse_strict(rapidjson::Document &d, const char *text, std::size_t len, const char *what) {
  require(std::strlen(text) == len, std::string(what) + ": length differs from the text", text);
  d.Parse<kParseFlags>(text, len);
  require(!d.HasParseError() && d.IsObject(), std::string(what) + " is not strict JSON", text);
}

// v is the cell as parsed, digits the same cell parsed with numbers kept as
// their text.
void check_cell(const rapidjson::Value &v, const rapidjson::Value &digits, const Expect &e,
                const std::string &where) {
  const std::string got = compact(v);
  switch (e.kind) {
    case Expect::Kind::none:
      require(!v.IsNull() && !v.IsObject() && !v.IsArray(), "a value came back null", where + got);
      return;
    case Expect::Kind::null: require(v.IsNull(), "NULL did not read back as null", where + got); return;
    case Expect::Kind::boolean:
      require(v.IsBool() && v.GetBool() == e.flag, "bit read back wrong", where + got);
      return;
    case Expect::Kind::unsigned_number:
      require(v.IsUint64() && std::to_string(v.GetUint64()) == e.text,
              "integer read back wrong, sent " + e.text, where + got);
      return;
    case Expect::Kind::exact_number:
      require(v.IsNumber() && digits.IsString() && digits.GetString() == e.text,
              "exact number read back wrong, expected " + e.text, where + got);
      return;
    case Expect::Kind::real:
      require(v.IsNumber() && (e.flag ? static_cast<float>(v.GetDouble()) ==
                                            static_cast<float>(e.number)
                                      : v.GetDouble() == e.number),
              "floating value read back wrong, sent " + printed("%.17g", e.number), where + got);
      return;
    case Expect::Kind::text:
      require(v.IsString() && std::string(v.GetString(), v.GetStringLength()) == e.text,
              "text read back wrong, sent " + compact(rapidjson::Value(
                                                  e.text.c_str(),
                                                  static_cast<rapidjson::SizeType>(e.text.size()))),
              where + got);
      return;
  }
}

// The stream's events, reassembled.
struct Streamed {
  std::vector<std::string> texts;
  std::vector<std::string> columns;            // each result's columns, compact
  std::vector<std::vector<std::string>> rows;  // each result's rows, compact
  std::vector<std::uint64_t> counts;
  std::vector<std::string> messages;
  std::vector<long long> row_counts;  // result_end's row_count

  static int receive(void *user, const char *json, std::size_t len) {
    static_cast<Streamed *>(user)->take(json, len);
    return 0;
  }

  void take(const char *json, std::size_t len) {
    rapidjson::Document d;
    parse_strict(d, json, len, "an event");
    const std::string event = d["event"].GetString();
    require(d["batch"].GetInt() == 1, "an event of another batch", json);
    if (event == "columns") {
      require(d["result"].GetInt() == static_cast<int>(columns.size()), "result out of order", json);
      columns.push_back(compact(d["columns"]));
      rows.emplace_back();
    } else if (event == "rows") {
      require(d["result"].GetInt() + 1 == static_cast<int>(columns.size()), "rows of another result", json);
      for (const auto &r : d["rows"].GetArray()) rows.back().push_back(compact(r));
    } else if (event == "result_end") {
      require(!d["truncated"].GetBool(), "a streamed result was truncated", json);
      row_counts.push_back(d["row_count"].GetInt64());
    } else if (event == "count") {
      counts.push_back(d["rows_affected"].GetUint64());
    } else if (event == "message") {
      messages.push_back(d["message"]["text"].GetString());
    } else if (event == "batch_end") {
      require(d["ok"].GetBool(), "the streamed batch failed", json);
    }
  }
};

void check_classic(const rapidjson::Document &classic, const rapidjson::Document &digits,
                   const Sent &sent, const Streamed &st, const std::string &text) {
  require(classic["ok"].IsBool() && classic["ok"].GetBool(), "the query failed", text);
  const auto &batches = classic["batches"];
  require(batches.Size() == 1, "one batch expected", text);
  const auto &results = batches[0]["results"];
  require(results.Size() == sent.results.size() && st.columns.size() == sent.results.size(),
          "result sets missing or added", text);
  for (rapidjson::SizeType i = 0; i < results.Size(); ++i) {
    const auto &res = results[i];
    const auto &expected = sent.results[i].rows;
    require(!res["truncated"].GetBool(), "a classic result was truncated", text);
    require(compact(res["columns"]) == st.columns[i], "columns differ from the stream's",
            compact(res["columns"]) + "\n" + st.columns[i]);
    const auto &rows = res["rows"];
    require(rows.Size() == expected.size() && st.rows[i].size() == expected.size() &&
                st.row_counts[i] == static_cast<long long>(expected.size()),
            "row count differs from the rows sent", text);
    for (rapidjson::SizeType r = 0; r < rows.Size(); ++r) {
      const std::string row = compact(rows[r]);
      require(row == st.rows[i][r], "a row differs from the stream's", row + "\n" + st.rows[i][r]);
      require(rows[r].Size() == expected[r].size(), "a row has the wrong width", row);
      for (rapidjson::SizeType c = 0; c < rows[r].Size(); ++c)
        check_cell(rows[r][c], digits["batches"][0]["results"][i]["rows"][r][c], expected[r][c],
                   "result " + std::to_string(i) + " row " + std::to_string(r) + " column " +
                       std::to_string(c) + " (" + compact(res["columns"][c]) + "): ");
    }
  }
  std::vector<std::string> messages;
  for (const auto &m : batches[0]["messages"].GetArray()) messages.push_back(m["text"].GetString());
  require(messages == st.messages, "messages differ from the stream's", text);
  require(messages == sent.prints, "messages differ from the prints sent", text);
}

std::string next_sql() {
  static unsigned long long n = 0;
  return "SELECT /* row path */ " + std::to_string(++n);
}

struct Owned {
  char *p;
  ~Owned() { dbdesk_core_free(p); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const bool utf8 = in.ConsumeBool();
  Sent sent;
  if (!decode(in, utf8, sent)) return -1;

  current_reply() = sent.reply;
  for (tds::Item &item : sent.reply)  // the server sends the encoded rows
    if (auto *rs = std::get_if<tds::ResultSet>(&item)) rs->rows.clear();
  const std::string sql = next_sql();
  {
    std::lock_guard<std::mutex> g(pending().lock);
    pending().sql = sql;
    pending().reply = sent.reply;
  }
  server().set_utf8_collation(utf8);
  const std::string conn = conn_json();

  Owned classic_text{dbdesk_core_query(conn.c_str(), nullptr, sql.c_str(), kClassicRowLimit, 0)};
  require(classic_text.p != nullptr, "the query returned NULL");
  rapidjson::Document classic;
  parse_strict(classic, classic_text.p, std::strlen(classic_text.p), "the query's reply");

  Streamed st;
  Owned summary_text{dbdesk_core_query_stream(conn.c_str(), nullptr, sql.c_str(), 0, 0,
                                              Streamed::receive, &st)};
  require(summary_text.p != nullptr, "the stream returned NULL");
  rapidjson::Document summary;
  parse_strict(summary, summary_text.p, std::strlen(summary_text.p), "the stream's summary");
  require(summary["ok"].IsBool() && summary["ok"].GetBool() && summary["batches"].GetInt() == 1 &&
              summary["rows"].GetInt64() == sent.rows,
          "the stream's summary is wrong", summary_text.p);
  require(st.counts == sent.counts, "row counts differ from those sent", summary_text.p);

  rapidjson::Document digits;
  digits.Parse<kParseFlags | rapidjson::kParseNumbersAsStringsFlag>(classic_text.p);
  check_classic(classic, digits, sent, st, classic_text.p);
  return 0;
}
