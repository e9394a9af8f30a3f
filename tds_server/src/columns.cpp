#include "columns.h"

#include <cstring>
#include <limits>
#include <stdexcept>

#include "literals.h"
#include "tokens.h"

namespace tds::wire {
namespace {

constexpr std::uint8_t kTokColMetadata = 0x81;
constexpr std::uint8_t kTokRow = 0xD1;
constexpr std::uint8_t kTokNbcRow = 0xD2;
constexpr std::uint16_t kFlagNullable = 0x0001;
constexpr std::uint16_t kMaxMarker = 0xFFFF;
constexpr std::size_t kPlpChunk = 8000;  // even, so UTF-16 never splits
constexpr std::int64_t kTicksPerDay = 864'000'000'000LL;  // 10^-7 s

// How a value is framed in a row.
enum class Framing { Fixed, ByteLen, ShortLen, Plp, TextPtr, Variant };

// The wire shape of one column, derived once from its declaration.
struct Shape {
  std::uint8_t type = 0;
  Framing framing = Framing::ByteLen;
  int size = 0;        // fixed/1-byte-length types: value bytes; char types: declared bytes
  int scale = 0;       // time types and decimal
  int precision = 0;   // decimal
  bool max = false;    // (max) types, sent as PLP
  bool collated = false;
};

int time_scale(const Column &c) { return c.scale < 0 || c.scale > 7 ? 7 : c.scale; }

int time_bytes(int scale) { return scale <= 2 ? 3 : scale <= 4 ? 4 : 5; }

int decimal_bytes(int precision) {
  return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

Shape int_like(const Column &c, std::uint8_t fixed_type, std::uint8_t n_type, int size) {
  return c.nullable ? Shape{n_type, Framing::ByteLen, size} : Shape{fixed_type, Framing::Fixed, size};
}

Shape char_like(std::uint8_t type, int bytes, bool can_be_max, int max_bytes) {
  Shape s{type, Framing::ShortLen, bytes};
  s.collated = type != 0xAD && type != 0xA5;
  if (can_be_max && (bytes <= 0 || bytes > max_bytes)) {
    s.max = true;
    s.framing = Framing::Plp;
  } else if (bytes <= 0) {
    s.size = s.collated && (type == 0xEF) ? 2 : 1;
  }
  return s;
}

Shape shape_of(const Column &c) {
  switch (c.type) {
    case Type::TinyInt: return int_like(c, 0x30, 0x26, 1);
    case Type::SmallInt: return int_like(c, 0x34, 0x26, 2);
    case Type::Int: return int_like(c, 0x38, 0x26, 4);
    case Type::BigInt: return int_like(c, 0x7F, 0x26, 8);
    case Type::Bit: return int_like(c, 0x32, 0x68, 1);
    case Type::Real: return int_like(c, 0x3B, 0x6D, 4);
    case Type::Float: return int_like(c, 0x3E, 0x6D, 8);
    case Type::Money: return int_like(c, 0x3C, 0x6E, 8);
    case Type::SmallMoney: return int_like(c, 0x7A, 0x6E, 4);
    case Type::DateTime: return int_like(c, 0x3D, 0x6F, 8);
    case Type::SmallDateTime: return int_like(c, 0x3A, 0x6F, 4);
    case Type::Decimal:
    case Type::Numeric: {
      Shape s{static_cast<std::uint8_t>(c.type == Type::Decimal ? 0x6A : 0x6C), Framing::ByteLen};
      s.precision = c.precision >= 1 && c.precision <= 38 ? c.precision : 18;
      s.scale = c.scale >= 0 && c.scale <= s.precision ? c.scale : 0;
      s.size = decimal_bytes(s.precision);
      return s;
    }
    case Type::Date: return Shape{0x28, Framing::ByteLen, 3};
    case Type::Time: return Shape{0x29, Framing::ByteLen, time_bytes(time_scale(c)), time_scale(c)};
    case Type::DateTime2:
      return Shape{0x2A, Framing::ByteLen, time_bytes(time_scale(c)) + 3, time_scale(c)};
    case Type::DateTimeOffset:
      return Shape{0x2B, Framing::ByteLen, time_bytes(time_scale(c)) + 5, time_scale(c)};
    case Type::Char: return char_like(0xAF, c.length, false, 8000);
    case Type::VarChar: return char_like(0xA7, c.length, true, 8000);
    case Type::NChar: return char_like(0xEF, 2 * c.length, false, 8000);
    case Type::NVarChar: return char_like(0xE7, 2 * c.length, true, 8000);
    case Type::Binary: return char_like(0xAD, c.length, false, 8000);
    case Type::VarBinary: return char_like(0xA5, c.length, true, 8000);
    case Type::UniqueIdentifier: return Shape{0x24, Framing::ByteLen, 16};
    case Type::Text: return Shape{0x23, Framing::TextPtr, 0x7FFFFFFF, 0, 0, false, true};
    case Type::NText: return Shape{0x63, Framing::TextPtr, 0x7FFFFFFE, 0, 0, false, true};
    case Type::Image: return Shape{0x22, Framing::TextPtr, 0x7FFFFFFF};
    case Type::Xml: return Shape{0xF1, Framing::Plp, 0, 0, 0, true};
    case Type::SqlVariant: return Shape{0x62, Framing::Variant, 8009};
    case Type::Udt: return Shape{0xF0, Framing::Plp, 0, 0, 0, true};
  }
  throw std::invalid_argument("unknown column type");
}

// A CLR type's description: max size, then database, schema, type and
// assembly names, as SQL Server sends it for hierarchyid.
void put_udt_info(Bytes &b) {
  put_u16(b, kMaxMarker);
  put_b_varchar(b, "master");
  put_b_varchar(b, "sys");
  put_b_varchar(b, "hierarchyid");
  put_us_varchar(b, "Microsoft.SqlServer.Types.SqlHierarchyId, Microsoft.SqlServer.Types");
}

void put_type_info(Bytes &b, const Shape &s, bool utf8) {
  put_u8(b, s.type);
  switch (s.framing) {
    case Framing::Fixed: return;
    case Framing::ByteLen:
      if (s.type == 0x28) return;                      // date: no length
      if (s.type >= 0x29 && s.type <= 0x2B) { put_u8(b, static_cast<std::uint8_t>(s.scale)); return; }
      put_u8(b, static_cast<std::uint8_t>(s.size));
      if (s.type == 0x6A || s.type == 0x6C) {
        put_u8(b, static_cast<std::uint8_t>(s.precision));
        put_u8(b, static_cast<std::uint8_t>(s.scale));
      }
      return;
    case Framing::ShortLen:
    case Framing::Plp:
      if (s.type == 0xF1) { put_u8(b, 0); return; }    // xml: no schema
      if (s.type == 0xF0) { put_udt_info(b); return; }
      put_u16(b, s.max ? kMaxMarker : static_cast<std::uint16_t>(s.size));
      if (s.collated) put_bytes(b, collation(utf8), 5);
      return;
    case Framing::TextPtr:
      put_u32(b, static_cast<std::uint32_t>(s.size));
      if (s.collated) put_bytes(b, collation(utf8), 5);
      put_u8(b, 0);  // table name: zero name components
      return;
    case Framing::Variant:
      put_u32(b, static_cast<std::uint32_t>(s.size));
      return;
  }
}

// ---- value bodies (without framing) ----

void put_checked_int(Bytes &b, std::int64_t v, int size, bool is_unsigned_byte) {
  std::int64_t lo = std::numeric_limits<std::int64_t>::min();
  std::int64_t hi = std::numeric_limits<std::int64_t>::max();
  if (is_unsigned_byte) {
    lo = 0;
    hi = 255;
  } else if (size < 8) {
    hi = (std::int64_t{1} << (8 * size - 1)) - 1;
    lo = -hi - 1;
  }
  if (v < lo || v > hi) throw std::invalid_argument("integer out of range: " + std::to_string(v));
  put_uint_n(b, static_cast<std::uint64_t>(v), size);
}

void put_money(Bytes &b, std::string_view text, int size) {
  const Scaled m = parse_scaled(text, 4);
  if (m.magnitude > static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max()) + (m.negative ? 1 : 0)) {
    throw std::invalid_argument("money out of range: " + std::string(text));
  }
  const auto mag = static_cast<std::uint64_t>(m.magnitude);
  const std::int64_t v = m.negative ? static_cast<std::int64_t>(0 - mag) : static_cast<std::int64_t>(mag);
  if (size == 4) {
    put_checked_int(b, v, 4, false);
    return;
  }
  put_u32(b, static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 32));  // high half first
  put_u32(b, static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

void put_decimal(Bytes &b, std::string_view text, const Shape &s) {
  const Scaled d = parse_scaled(text, s.scale);
  unsigned __int128 limit = 1;
  for (int i = 0; i < s.precision; ++i) limit *= 10;
  if (d.magnitude >= limit) throw std::invalid_argument("decimal out of range: " + std::string(text));
  put_u8(b, d.negative ? 0 : 1);
  for (int i = 0; i < s.size - 1; ++i) put_u8(b, static_cast<std::uint8_t>(d.magnitude >> (8 * i)));
}

std::int64_t days_since_1900(CivilDate d) { return days_since_year1(d) - days_since_year1({1900, 1, 1}); }

void put_datetime(Bytes &b, std::string_view text, int size) {
  CivilDate date;
  TimeOfDay time;
  parse_datetime(text, date, time);
  std::int64_t days = days_since_1900(date);
  if (size == 4) {
    std::int64_t minutes = (time.ticks100ns + 300'000'000) / 600'000'000;  // rounds at 30 s
    if (minutes == 1440) { ++days; minutes = 0; }
    if (days < 0 || days > 65535) throw std::invalid_argument("smalldatetime out of range");
    put_u16(b, static_cast<std::uint16_t>(days));
    put_u16(b, static_cast<std::uint16_t>(minutes));
    return;
  }
  std::int64_t ticks = (time.ticks100ns * 300 + 5'000'000) / 10'000'000;  // 1/300 s
  if (ticks >= 300LL * 86400) { ++days; ticks -= 300LL * 86400; }
  put_u32(b, static_cast<std::uint32_t>(static_cast<std::int32_t>(days)));
  put_u32(b, static_cast<std::uint32_t>(ticks));
}

std::int64_t scaled_time(TimeOfDay t, int scale) {
  std::int64_t div = 1;
  for (int i = scale; i < 7; ++i) div *= 10;
  return t.ticks100ns / div;
}

void put_date_and_time(Bytes &b, std::int64_t days, TimeOfDay time, const Shape &s, bool with_time,
                         bool with_date) {
  if (with_time) put_uint_n(b, static_cast<std::uint64_t>(scaled_time(time, s.scale)), time_bytes(s.scale));
  if (with_date) {
    if (days < 0 || days > 3'652'058) throw std::invalid_argument("date out of range");
    put_uint_n(b, static_cast<std::uint64_t>(days), 3);
  }
}

void put_datetimeoffset(Bytes &b, std::string_view text, const Shape &s) {
  CivilDate date;
  TimeOfDay local;
  int offset = 0;
  parse_datetimeoffset(text, date, local, offset);
  // The wire carries UTC; the offset tells the client the local time.
  std::int64_t total = days_since_year1(date) * kTicksPerDay + local.ticks100ns -
                       static_cast<std::int64_t>(offset) * 600'000'000LL;
  const std::int64_t days = total >= 0 ? total / kTicksPerDay : (total - kTicksPerDay + 1) / kTicksPerDay;
  put_date_and_time(b, days, TimeOfDay{total - days * kTicksPerDay}, s, true, true);
  put_u16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(offset)));
}

void put_real(Bytes &body, const std::string &v, int size) {
  if (size == 4) {
    const float f = static_cast<float>(parse_double(v));
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    put_u32(body, bits);
    return;
  }
  const double d = parse_double(v);
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  put_u64(body, bits);
}

void put_datetime2(Bytes &body, const std::string &v, const Shape &s) {
  CivilDate date;
  TimeOfDay time;
  parse_datetime(v, date, time);
  put_date_and_time(body, days_since_year1(date), time, s, true, true);
}

// char/varchar/text in the collation's code page; char is blank-padded.
void put_single_byte_text(Bytes &body, const Column &c, const Shape &s, const std::string &v, bool utf8) {
  const std::string bytes = utf8 ? v : utf8_to_cp1252(v);
  put_bytes(body, bytes.data(), bytes.size());
  if (c.type == Type::Char && body.size() < static_cast<std::size_t>(s.size)) body.resize(s.size, ' ');
}

// nchar/nvarchar/ntext/xml in UTF-16LE; nchar is padded with U+0020.
void put_unicode_text(Bytes &body, const Column &c, const Shape &s, const std::string &v) {
  put_utf16(body, v);
  while (c.type == Type::NChar && body.size() < static_cast<std::size_t>(s.size)) put_u16(body, u' ');
}

void put_binary(Bytes &body, const Column &c, const Shape &s, const std::string &v) {
  body = parse_hex(v);
  if (c.type == Type::Binary && body.size() < static_cast<std::size_t>(s.size)) body.resize(s.size, 0);
}

// Fills `body` with the value bytes of a non-NULL cell.
void encode_body(Bytes &body, const Column &c, const Shape &s, const std::string &v, bool utf8) {
  switch (c.type) {
    case Type::TinyInt: return put_checked_int(body, parse_int(v), 1, true);
    case Type::SmallInt:
    case Type::Int:
    case Type::BigInt: return put_checked_int(body, parse_int(v), s.size, false);
    case Type::Bit: return put_u8(body, parse_bit(v) ? 1 : 0);
    case Type::Real:
    case Type::Float: return put_real(body, v, s.size);
    case Type::Money:
    case Type::SmallMoney: return put_money(body, v, s.size);
    case Type::Decimal:
    case Type::Numeric: return put_decimal(body, v, s);
    case Type::DateTime:
    case Type::SmallDateTime: return put_datetime(body, v, s.size);
    case Type::Date: return put_date_and_time(body, days_since_year1(parse_date(v)), {}, s, false, true);
    case Type::Time: return put_date_and_time(body, 0, parse_time(v), s, true, false);
    case Type::DateTime2: return put_datetime2(body, v, s);
    case Type::DateTimeOffset: return put_datetimeoffset(body, v, s);
    case Type::Char:
    case Type::VarChar:
    case Type::Text: return put_single_byte_text(body, c, s, v, utf8);
    case Type::NChar:
    case Type::NVarChar:
    case Type::NText:
    case Type::Xml: return put_unicode_text(body, c, s, v);
    case Type::Binary:
    case Type::VarBinary:
    case Type::Image:
    case Type::Udt: return put_binary(body, c, s, v);
    case Type::UniqueIdentifier: body = parse_guid(v); return;
    case Type::SqlVariant:
      if (v.rfind("0x", 0) == 0) {
        const Bytes inner = parse_hex(v);
        put_u8(body, 0xA5);  // base type varbinary, two property bytes: max length
        put_u8(body, 2);
        put_u16(body, 8000);
        return put_bytes(body, inner.data(), inner.size());
      }
      put_u8(body, 0x38);  // base type int, no properties
      put_u8(body, 0);
      return put_checked_int(body, parse_int(v), 4, false);
  }
}

void put_plp(Bytes &b, const Bytes &body, std::vector<std::size_t> *chunk_starts) {
  put_u64(b, body.size());
  for (std::size_t at = 0; at < body.size(); at += kPlpChunk) {
    const std::size_t n = std::min(kPlpChunk, body.size() - at);
    put_u32(b, static_cast<std::uint32_t>(n));
    if (chunk_starts) chunk_starts->push_back(b.size());
    put_bytes(b, body.data() + at, n);
  }
  put_u32(b, 0);
}

void put_null(Bytes &b, const Column &c, const Shape &s) {
  switch (s.framing) {
    case Framing::Fixed:
      throw std::invalid_argument("NULL in NOT NULL column '" + c.name + "' (use NBCROW)");
    case Framing::ByteLen: put_u8(b, 0); return;
    case Framing::ShortLen: put_u16(b, 0xFFFF); return;
    case Framing::Plp: put_u64(b, ~std::uint64_t{0}); return;
    case Framing::TextPtr: put_u8(b, 0); return;
    case Framing::Variant: put_u32(b, 0); return;
  }
}

void put_framed(Bytes &b, const Shape &s, const Bytes &body, std::vector<std::size_t> *chunk_starts) {
  static constexpr std::uint8_t kTextPointer[16] = {0x71, 0x76, 0x74, 0x65, 0x78, 0x74, 0x70, 0x74,
                                                    0x72, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
  static constexpr std::uint8_t kTimestamp[8] = {0x01, 0, 0, 0, 0, 0, 0, 0};
  switch (s.framing) {
    case Framing::Fixed: break;
    case Framing::ByteLen: put_u8(b, static_cast<std::uint8_t>(body.size())); break;
    case Framing::ShortLen:
      if (body.size() > 8000) throw std::invalid_argument("value longer than its column");
      put_u16(b, static_cast<std::uint16_t>(body.size()));
      break;
    case Framing::Plp: put_plp(b, body, chunk_starts); return;
    case Framing::TextPtr:
      put_u8(b, sizeof kTextPointer);
      put_bytes(b, kTextPointer, sizeof kTextPointer);
      put_bytes(b, kTimestamp, sizeof kTimestamp);
      put_u32(b, static_cast<std::uint32_t>(body.size()));
      break;
    case Framing::Variant: put_u32(b, static_cast<std::uint32_t>(body.size())); break;
  }
  put_bytes(b, body.data(), body.size());
}

}  // namespace

void put_colmetadata(Bytes &b, const std::vector<Column> &columns, bool utf8) {
  put_u8(b, kTokColMetadata);
  put_u16(b, static_cast<std::uint16_t>(columns.size()));
  for (const Column &c : columns) {
    put_u32(b, 0);  // user type
    put_u16(b, c.nullable ? kFlagNullable : 0);
    put_type_info(b, shape_of(c), utf8);
    put_b_varchar(b, c.name);
  }
}

void put_row(Bytes &b, const std::vector<Column> &columns, const Row &row, bool nbc, bool utf8,
             std::vector<std::size_t> *plp_chunk_starts) {
  if (row.size() != columns.size()) {
    throw std::invalid_argument("row has " + std::to_string(row.size()) + " cells for " +
                                std::to_string(columns.size()) + " columns");
  }
  put_u8(b, nbc ? kTokNbcRow : kTokRow);
  if (nbc) {
    Bytes bitmap((columns.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (!row[i]) bitmap[i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
    }
    put_bytes(b, bitmap.data(), bitmap.size());
  }
  Bytes body;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const Shape s = shape_of(columns[i]);
    if (!row[i]) {
      if (!nbc) put_null(b, columns[i], s);
      continue;
    }
    body.clear();
    encode_body(body, columns[i], s, *row[i], utf8);
    put_framed(b, s, body, plp_chunk_starts);
  }
}

}  // namespace tds::wire
