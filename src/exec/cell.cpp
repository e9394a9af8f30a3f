#include "exec/cell.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/reply.h"
#include "common/text.h"
#include "exec/render.h"

namespace qv::exec {

namespace {

constexpr char hx[] = "0123456789ABCDEF";

// Wire types db-lib reports in DBCOL2::ServerType.
enum server_type : int {
  kSrvImage = 34, kSrvText = 35, kSrvNText = 99, kSrvVarBinary = 165, kSrvVarChar = 167,
  kSrvBinary = 173, kSrvChar = 175, kSrvNVarChar = 231, kSrvNChar = 239, kSrvXml = 241,
};
// Server byte lengths above this are (max) types.
constexpr int kMaxNonMaxBytes = 8000;

// Type codes db-lib reports that its header does not name.
constexpr int kCodeUniqueIdentifier = 36;
constexpr int kCodeLongBinary = 225;   // CLR types (hierarchyid, geometry, ...) as raw bytes
constexpr int kCodeClrUdt = 240;

bool is_binary(int code) { return code == SYBIMAGE || code == SYBVARBINARY || code == SYBBINARY; }
// Raw bytes shown as hex: binary types and CLR types, whose serialised form
// is all the client has.
bool is_raw_bytes(int code) {
  return is_binary(code) || code == kCodeLongBinary || code == kCodeClrUdt;
}
// Types whose dbdata bytes have exactly the layout dbconvert expects for
// their code. Nothing else is ever handed to dbconvert: for sql_variant,
// for one, the conversion reads the value bytes as a structure holding a
// pointer, so a stored value could make the client read any address.
bool converts_safely(int code) {
  switch (code) {
    case SYBMSDATE: case SYBMSTIME: case SYBMSDATETIME2: case SYBMSDATETIMEOFFSET:
    case SYBDATETIME: case SYBDATETIME4: case SYBDATETIMN: case SYBDATE: case SYBTIME:
    case SYBBIGDATETIME: case SYBBIGTIME:
    case SYBMONEY: case SYBMONEY4: case SYBMONEYN: case SYBDECIMAL: case SYBNUMERIC:
    case SYBREAL: case SYBFLT8: case SYBFLTN: case kCodeUniqueIdentifier:
      return true;
    default:
      return false;
  }
}
bool is_character(int code) {
  return code == SYBCHAR || code == SYBVARCHAR || code == SYBNVARCHAR || code == SYBTEXT ||
         code == SYBNTEXT;
}
bool trims_blanks(int code) {
  return code == SYBVARCHAR || code == SYBCHAR || code == SYBNVARCHAR;
}

// The declared server type of a character or binary column, in lower case;
// false when db-lib does not know it.
bool declared_type_name(DBPROCESS *session, int column, char *out) {
  DBCOL2 info;
  std::memset(&info, 0, sizeof info);
  info.SizeOfStruct = sizeof info;
  // For xml db-lib answers FAIL but has filled ServerType already.
  dbtablecolinfo(session, column, reinterpret_cast<DBCOL *>(&info));
  int bytes = info.ServerMaxLength;
  bool max = bytes > kMaxNonMaxBytes || bytes <= 0;
  switch (info.ServerType) {
    case kSrvVarChar:
      max ? qv_copy_cut(out, kColTypeSize, "varchar(max)")
          : (void)std::snprintf(out, kColTypeSize, "varchar(%d)", bytes);
      return true;
    case kSrvNVarChar:
      max ? qv_copy_cut(out, kColTypeSize, "nvarchar(max)")
          : (void)std::snprintf(out, kColTypeSize, "nvarchar(%d)", bytes / 2);
      return true;
    case kSrvVarBinary:
      max ? qv_copy_cut(out, kColTypeSize, "varbinary(max)")
          : (void)std::snprintf(out, kColTypeSize, "varbinary(%d)", bytes);
      return true;
    case kSrvChar: std::snprintf(out, kColTypeSize, "char(%d)", bytes); return true;
    case kSrvNChar: std::snprintf(out, kColTypeSize, "nchar(%d)", bytes / 2); return true;
    case kSrvBinary: std::snprintf(out, kColTypeSize, "binary(%d)", bytes); return true;
    case kSrvText: qv_copy_cut(out, kColTypeSize, "text"); return true;
    case kSrvNText: qv_copy_cut(out, kColTypeSize, "ntext"); return true;
    case kSrvImage: qv_copy_cut(out, kColTypeSize, "image"); return true;
    case kSrvXml: qv_copy_cut(out, kColTypeSize, "xml"); return true;
    default: return false;
  }
}

const char *fixed_type_name(int code) {
  switch (code) {
    case SYBIMAGE: return "image";
    case SYBTEXT: return "text";
    case SYBMSDATE: case SYBDATE: return "date";
    case SYBMSTIME: case SYBTIME: case SYBBIGTIME: return "time";
    case SYBMSDATETIME2: case SYBBIGDATETIME: return "datetime2";
    case SYBMSDATETIMEOFFSET: return "datetimeoffset";
    case SYBINT1: return "tinyint";
    case SYBBIT: case SYBBITN: return "bit";
    case SYBINT2: return "smallint";
    case SYBINT4: return "int";
    case SYBDATETIME4: return "smalldatetime";
    case SYBREAL: return "real";
    case SYBMONEY: case SYBMONEYN: case SYBMONEY4: return "money";
    case SYBDATETIME: case SYBDATETIMN: return "datetime";
    case SYBFLT8: case SYBFLTN: return "float";
    case SYBNTEXT: return "ntext";
    case SYBINT8: return "bigint";
    default: return nullptr;
  }
}

qv_json_kind kind_of(const char *type) {
  if (std::strstr(type, "int")) return qv_json_kind::integer;
  if (std::strcmp(type, "bit") == 0) return qv_json_kind::boolean;
  if (std::strstr(type, "float") || std::strstr(type, "real")) return qv_json_kind::floating;
  if (std::strstr(type, "numeric") || std::strstr(type, "money")) return qv_json_kind::exact;
  return qv_json_kind::text;
}

// A cell's value: its text (straight from db-lib's buffer or rendered into
// buf), or, where the JSON value can be taken from the binary value with the
// same result, that value without any text.
struct cell_text {
  enum class binary { none, integer, real };
  std::string_view text;
  bool is_null = false;
  bool failed = false;
  binary kind = binary::none;
  long long ival = 0;  // binary::integer: integers and bits
  double dval = 0;     // binary::real: float, which db-lib prints with 17
                       // significant digits that strtod reads back exactly
};

// The two hex digits of every byte value, built from hx.
struct hex_pairs {
  char digits[256][2];
  constexpr hex_pairs() : digits() {
    for (int b = 0; b < 256; ++b) {
      digits[b][0] = hx[b >> 4];
      digits[b][1] = hx[b & 0x0F];
    }
  }
};
constexpr hex_pairs kHexPairs;

// The bytes of a binary value shown in a cell text of bufsize bytes: those
// whose two digits, the "0x" and the terminator still fit.
std::size_t hex_shown(DBINT len, std::size_t bufsize) {
  const std::size_t room = (bufsize - 3) / 2;
  return len < 0 ? 0 : std::min(static_cast<std::size_t>(len), room);
}

#if defined(__SSE2__)
constexpr std::size_t kHexBlock = 8;
// The 16 hex digits of the 8 bytes at data, written at o.
inline void put_hex_block(const BYTE *data, char *o) {
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(data));
  const __m128i low_nibble = _mm_set1_epi8(0x0F);
  const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), low_nibble);
  const __m128i low = _mm_and_si128(bytes, low_nibble);
  const __m128i nibbles = _mm_unpacklo_epi8(high, low);  // in text order
  const __m128i past_nine = _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)),
                                          _mm_set1_epi8('A' - '0' - 10));
  const __m128i digits = _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')), past_nine);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(o), digits);
}
#endif

// "0x" and the digits of n bytes at o; returns the end.
char *put_hex_digits(const BYTE *data, std::size_t n, char *o) {
  *o++ = '0';
  *o++ = 'x';
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + kHexBlock <= n; i += kHexBlock, o += 2 * kHexBlock) put_hex_block(data + i, o);
#endif
  for (; i < n; ++i, o += 2) std::memcpy(o, kHexPairs.digits[data[i]], 2);
  return o;
}

std::string_view hex_text(const BYTE *data, DBINT len, char *buf, std::size_t bufsize) {
  char *o = put_hex_digits(data, hex_shown(len, bufsize), buf);
  *o = '\0';
  return {buf, static_cast<std::size_t>(o - buf)};
}

std::string_view character_text(const BYTE *data, DBINT len, int code, std::size_t bufsize) {
  const char *s = reinterpret_cast<const char *>(data);
  std::size_t n = qv_utf8_prefix_len(s, static_cast<std::size_t>(len), bufsize - 1);
  if (trims_blanks(code))
    while (n > 0 && s[n - 1] == ' ') --n;
  return {s, n};
}

// The value of an integer or bit column; false for other types.
bool integer_value(int code, const BYTE *data, long long *v) {
  switch (code) {
    case SYBINT1: *v = *data; return true;
    case SYBBIT: case SYBBITN: *v = *data ? 1 : 0; return true;
    case SYBINT2: { DBSMALLINT x; std::memcpy(&x, data, sizeof x); *v = x; return true; }
    case SYBINT4: { DBINT x; std::memcpy(&x, data, sizeof x); *v = x; return true; }
    case SYBINT8: { DBBIGINT x; std::memcpy(&x, data, sizeof x); *v = x; return true; }
    default: return false;
  }
}

// The digits db-lib's conversion would give for an integer.
std::string_view integer_text(long long v, char *buf, std::size_t bufsize) {
  auto res = std::to_chars(buf, buf + bufsize - 1, v);
  *res.ptr = '\0';
  return {buf, static_cast<std::size_t>(res.ptr - buf)};
}

// " +05:30" after db-lib's text of a datetimeoffset, which drops the offset.
std::size_t append_offset(const BYTE *data, char *buf, std::size_t len, std::size_t bufsize) {
  DBDATETIMEALL dta;
  std::memcpy(&dta, data, sizeof dta);
  if (!dta.has_offset) return len;
  int off = dta.offset;
  char sign = off < 0 ? '-' : '+';
  if (off < 0) off = -off;
  int n = std::snprintf(buf + len, bufsize - len, " %c%02d:%02d", sign, off / 60, off % 60);
  return n > 0 && len + static_cast<std::size_t>(n) < bufsize ? len + n : len;
}

// The text of a date or time value from its binary form; false for the
// types (and sizes) left to dbconvert.
bool date_text(int code, const BYTE *data, DBINT len, char *buf, std::size_t *n) {
  switch (code) {
    case SYBMSDATE: case SYBMSTIME: case SYBMSDATETIME2: case SYBMSDATETIMEOFFSET: {
      if (len < static_cast<DBINT>(sizeof(DBDATETIMEALL))) return false;
      DBDATETIMEALL v;
      std::memcpy(&v, data, sizeof v);
      *n = qv_render_datetimeall(v, buf);
      return true;
    }
    case SYBDATETIME: case SYBDATETIMN: case SYBDATETIME4:
      if (len == sizeof(DBDATETIME)) {
        DBDATETIME v;
        std::memcpy(&v, data, sizeof v);
        *n = qv_render_datetime(v, buf);
        return true;
      }
      if (len == sizeof(DBDATETIME4)) {
        DBDATETIME4 v;
        std::memcpy(&v, data, sizeof v);
        *n = qv_render_datetime4(v, buf);
        return true;
      }
      return false;
    default:
      return false;
  }
}

// The JSON number text of a decimal or money value from its binary form;
// false for the types (and sizes) left to dbconvert.
bool exact_number_of(int code, const BYTE *data, DBINT len, char *buf, std::size_t *n) {
  switch (code) {
    case SYBDECIMAL: case SYBNUMERIC: {
      if (len < static_cast<DBINT>(sizeof(DBNUMERIC))) return false;
      DBNUMERIC v;
      std::memcpy(&v, data, sizeof v);
      return qv_render_decimal_number(v, buf, n);
    }
    case SYBMONEY: case SYBMONEYN: case SYBMONEY4:
      if (len == sizeof(DBMONEY)) {
        DBMONEY v;
        std::memcpy(&v, data, sizeof v);
        const auto units = static_cast<std::int64_t>(
            static_cast<std::uint64_t>(static_cast<std::uint32_t>(v.mnyhigh)) << 32 | v.mnylow);
        *n = qv_render_money_number(units, buf);
        return true;
      }
      if (len == sizeof(DBMONEY4)) {
        DBMONEY4 v;
        std::memcpy(&v, data, sizeof v);
        *n = qv_render_money_number(v.mny4, buf);
        return true;
      }
      return false;
    default:
      return false;
  }
}

cell_text converted_text(DBPROCESS *session, int code, const BYTE *data, DBINT len, char *buf,
                         std::size_t bufsize) {
  cell_text c;
  // -1: a NUL-terminated text, no blank fill; every type that gets here has
  // a short text form.
  DBINT r = dbconvert(session, code, data, len, SYBCHAR, reinterpret_cast<BYTE *>(buf), -1);
  if (r == 0) {
    buf[0] = '\0';
    c.failed = true;
    return c;
  }
  if (r < 0) {
    buf[0] = '\0';
    c.text = {buf, 0};
    return c;
  }
  std::size_t n = strnlen(buf, bufsize - 1);
  buf[n] = '\0';
  if (code == SYBMSDATETIMEOFFSET && len >= static_cast<DBINT>(sizeof(DBDATETIMEALL)))
    n = append_offset(data, buf, n, bufsize);
  c.text = {buf, n};
  return c;
}

cell_text render_value(DBPROCESS *session, int code, const BYTE *data, DBINT len, char *buf,
                       std::size_t bufsize, bool text_needed) {
  cell_text c;
  buf[0] = '\0';
  if (!data && len == 0) {
    c.is_null = true;
    c.text = {buf, 0};
    return c;
  }
  if (is_raw_bytes(code)) {
    if (bufsize < 3) {
      c.failed = true;
      return c;
    }
    c.text = hex_text(data, len, buf, bufsize);
    return c;
  }
  if (is_character(code)) {
    c.text = character_text(data, len, code, bufsize);
    return c;
  }
  if (integer_value(code, data, &c.ival)) {
    // Negative integers are written as their text.
    if (text_needed || c.ival < 0) c.text = integer_text(c.ival, buf, bufsize);
    else c.kind = cell_text::binary::integer;
    return c;
  }
  if (!text_needed && code == SYBFLT8 && len == sizeof(double)) {
    std::memcpy(&c.dval, data, sizeof c.dval);
    c.kind = cell_text::binary::real;
    return c;
  }
  if (!converts_safely(code)) {
    c.failed = true;
    return c;
  }
  // Date texts are always the library's own: dbconvert would follow the
  // process's locale. A buffer too small for the whole text gets its start
  // (the text is ASCII).
  char date[kRenderedMax];
  std::size_t n;
  if (date_text(code, data, len, date, &n)) {
    n = std::min(n, bufsize - 1);
    std::memcpy(buf, date, n);
    buf[n] = '\0';
    c.text = {buf, n};
    return c;
  }
  return converted_text(session, code, data, len, buf, bufsize);
}

cell_text render_cell(DBPROCESS *session, int column, int code, char *buf, std::size_t bufsize,
                      bool text_needed) {
  return render_value(session, code, dbdata(session, column), dbdatlen(session, column), buf,
                      bufsize, text_needed);
}

constexpr std::size_t kNumberTextSize = 96;
// Longest decimal text of a 64-bit integer, sign included.
constexpr std::size_t kIntegerTextMax = 20;

// strtoull and strtod over a view, as the text would be parsed on its own.
std::uint64_t parse_unsigned(std::string_view t) {
  std::uint64_t v = 0;
  auto res = std::from_chars(t.data(), t.data() + t.size(), v);
  if (res.ec == std::errc::result_out_of_range) return UINT64_MAX;
  return v;
}

double parse_double(std::string_view t) {
  char tmp[kNumberTextSize];
  if (t.size() >= sizeof tmp) return std::strtod(std::string(t).c_str(), nullptr);
  std::memcpy(tmp, t.data(), t.size());
  tmp[t.size()] = '\0';
  return std::strtod(tmp, nullptr);
}

// Writers of single JSON values straight into the reply's buffer; each
// writes the bytes qv_reply's own writer of that value would. These write
// at most kFixedValueMax bytes, into the room write_cell has made.
constexpr std::size_t kFixedValueMax = kRenderedMax + 2;
static_assert(kFixedValueMax >= kRealTextMax && kFixedValueMax >= kIntegerTextMax + 2);

template <std::size_t N>
void put_literal(qv_out &o, const char (&text)[N]) {
  char *p = o.at();
  std::memcpy(p, text, N - 1);
  o.end_at(p + N - 1);
}
void put_null(qv_out &o) { put_literal(o, "null"); }
void put_bool(qv_out &o, bool b) { b ? put_literal(o, "true") : put_literal(o, "false"); }
void put_uint64(qv_out &o, std::uint64_t v) { o.end_at(rapidjson::internal::u64toa(v, o.at())); }
void put_real(qv_out &o, double v) {
  if (!std::isfinite(v)) return put_null(o);
  o.end_at(qv_real_text(v, o.at()));
}
// A binary value as the quoted hex text hex_text gives.
void put_hex(qv_out &o, const BYTE *data, DBINT len, std::size_t bufsize) {
  const std::size_t n = hex_shown(len, bufsize);
  char *p = o.room(2 * n + 4);
  *p = '"';
  p = put_hex_digits(data, n, p + 1);
  *p++ = '"';
  o.end_at(p);
}
void put_str(qv_out &o, std::string_view s) { o.append_json_string(s.data(), s.size()); }

void write_value(qv_out &o, const qv_col &col, const cell_text &c) {
  if (c.failed) return put_str(o, kConvErrText);
  if (c.is_null) return put_null(o);
  std::string_view t = c.text;
  switch (col.kind) {
    case qv_json_kind::integer:
      if (c.kind == cell_text::binary::integer)
        return put_uint64(o, static_cast<std::uint64_t>(c.ival));
      if (!t.empty() && t[0] != '-') return put_uint64(o, parse_unsigned(t));
      break;
    case qv_json_kind::boolean:
      if (c.kind == cell_text::binary::integer) return put_bool(o, c.ival == 1);
      return put_bool(o, !t.empty() && t[0] == '1');
    case qv_json_kind::floating:
      if (c.kind == cell_text::binary::real) return put_real(o, c.dval);
      if (!t.empty()) return put_real(o, parse_double(t));
      break;
    case qv_json_kind::exact:
      if (!t.empty()) {
        char num[kNumberTextSize];
        std::size_t n;
        if (qv_number_from_text(t, num, sizeof num, &n)) return o.append(num, n);
        return put_real(o, parse_double(t));
      }
      break;
    case qv_json_kind::text:
      break;
  }
  put_str(o, t);
}

// The way a column's cells are written, decided once per result set from its
// type code and JSON kind: the common pairs go straight from the binary
// value into the reply, everything else through render_value and
// write_value.
qv_cell_path path_of(int code, qv_json_kind kind) {
  switch (kind) {
    case qv_json_kind::integer:
      if (code == SYBINT1 || code == SYBINT2 || code == SYBINT4 || code == SYBINT8)
        return qv_cell_path::integer;
      break;
    case qv_json_kind::boolean:
      if (code == SYBBIT || code == SYBBITN) return qv_cell_path::bit;
      break;
    case qv_json_kind::floating:
      if (code == SYBFLT8) return qv_cell_path::float8;
      break;
    case qv_json_kind::exact:
      if (code == SYBDECIMAL || code == SYBNUMERIC || code == SYBMONEY || code == SYBMONEYN ||
          code == SYBMONEY4)
        return qv_cell_path::exact;
      break;
    case qv_json_kind::text:
      if (is_raw_bytes(code)) return qv_cell_path::hex;
      if (is_character(code)) return qv_cell_path::character;
      if (converts_safely(code) && code != kCodeUniqueIdentifier)
        return qv_cell_path::date;
      break;
  }
  return qv_cell_path::general;
}

// An integer cell: a JSON number, or its quoted text when negative.
inline void put_integer(qv_out &o, int code, const BYTE *data) {
  long long v;
  integer_value(code, data, &v);
  if (v >= 0) return put_uint64(o, static_cast<std::uint64_t>(v));
  char *p = o.at();
  *p = '"';
  p = std::to_chars(p + 1, p + 1 + kIntegerTextMax, v).ptr;
  *p++ = '"';
  o.end_at(p);
}

// A date or time cell as its quoted text, rendered in place; false when
// its bytes are not a value of its type.
inline bool put_date(qv_out &o, int code, const BYTE *data, DBINT len) {
  char *p = o.at();
  std::size_t n;
  if (!date_text(code, data, len, p + 1, &n)) return false;
  p[0] = '"';
  p[n + 1] = '"';
  o.end_at(p + n + 2);
  return true;
}

// Writes the current row's cell of col; the same JSON as render_value
// followed by write_value. The common paths render straight into the reply.
void write_cell(DBPROCESS *session, int column, qv_out &o, const qv_col &col, char *buf,
                std::size_t bufsize, char separator) {
  // One check of the room for the separator and any fixed-width value.
  char *p = o.room(1 + kFixedValueMax);
  *p = separator;
  o.end_at(p + 1);
  const BYTE *data = dbdata(session, column);
  const DBINT len = dbdatlen(session, column);
  if (!data && len == 0) return put_null(o);
  std::size_t n;
  switch (col.path) {
    case qv_cell_path::integer:
      return put_integer(o, col.type_code, data);
    case qv_cell_path::bit:
      return put_bool(o, *data != 0);
    case qv_cell_path::float8:
      if (len == sizeof(double)) {
        double d;
        std::memcpy(&d, data, sizeof d);
        return put_real(o, d);
      }
      break;
    case qv_cell_path::exact:
      if (bufsize <= kRenderedMax) break;
      p = o.at();
      if (exact_number_of(col.type_code, data, len, p, &n)) return o.end_at(p + n);
      break;
    case qv_cell_path::date:
      if (bufsize > kRenderedMax && put_date(o, col.type_code, data, len)) return;
      break;
    case qv_cell_path::hex:
      if (bufsize >= 3) return put_hex(o, data, len, bufsize);
      break;
    case qv_cell_path::character:
      return put_str(o, character_text(data, len, col.type_code, bufsize));
    case qv_cell_path::general:
      break;
  }
  write_value(o, col, render_value(session, col.type_code, data, len, buf, bufsize, false));
}

}  // namespace

void col_type_name(DBPROCESS *session, int column, char *out) {
  int code = dbcoltype(session, column);
  if ((is_character(code) || is_binary(code)) && declared_type_name(session, column, out)) return;
  if (const char *fixed = fixed_type_name(code)) {
    qv_copy_cut(out, kColTypeSize, fixed);
    return;
  }
  DBCOL info;
  std::memset(&info, 0, sizeof info);
  info.SizeOfStruct = sizeof info;
  if (dbcolinfo(session, CI_REGULAR, column, 0, &info) != SUCCEED) {
    info.MaxLength = 0;
    info.Precision = 0;
    info.Scale = 0;
  }
  switch (code) {
    case SYBVARBINARY: std::snprintf(out, kColTypeSize, "varbinary(%d)", info.MaxLength); break;
    case SYBVARCHAR: std::snprintf(out, kColTypeSize, "varchar(%d)", info.MaxLength); break;
    case SYBBINARY: std::snprintf(out, kColTypeSize, "binary(%d)", info.MaxLength); break;
    case SYBCHAR: std::snprintf(out, kColTypeSize, "char(%d)", info.MaxLength); break;
    case SYBNVARCHAR: std::snprintf(out, kColTypeSize, "nvarchar(%d)", info.MaxLength); break;
    case SYBDECIMAL: case SYBNUMERIC:
      std::snprintf(out, kColTypeSize, "numeric(%d,%d)", info.Precision, info.Scale);
      break;
    default: std::snprintf(out, kColTypeSize, "type_%d", code); break;
  }
}

void qv_describe_col(DBPROCESS *session, int column, bool ask_nullable, qv_col *col) {
  const char *name = dbcolname(session, column);
  qv_copy_cut(col->name, sizeof col->name, name ? name : "?");
  col_type_name(session, column, col->type);
  col->type_code = dbcoltype(session, column);
  col->kind = kind_of(col->type);
  col->path = path_of(col->type_code, col->kind);
  col->nullable = 1;
  if (ask_nullable) {
    DBCOL info;
    std::memset(&info, 0, sizeof info);
    info.SizeOfStruct = sizeof info;
    if (dbcolinfo(session, CI_REGULAR, column, 0, &info) == SUCCEED)
      col->nullable = info.Null ? 1 : 0;
  }
}

int qv_col_idx(DBPROCESS *session, const char *name) {
  if (!session || !name) return 0;
  int n = dbnumcols(session);
  for (int i = 1; i <= n; ++i) {
    const char *c = dbcolname(session, i);
    if (c && std::strcmp(c, name) == 0) return i;
  }
  return 0;
}

int qv_cell(DBPROCESS *session, int column, char *buf, std::size_t bufsize, int *is_null) {
  if (is_null) *is_null = 0;
  if (!buf || bufsize == 0) return -1;
  cell_text c = render_cell(session, column, dbcoltype(session, column), buf, bufsize, true);
  if (c.failed) {
    buf[0] = '\0';
    return -1;
  }
  if (c.is_null && is_null) *is_null = 1;
  // Character cells point into db-lib's buffer: copy them out.
  if (c.text.data() != buf) {
    std::memcpy(buf, c.text.data(), c.text.size());
    buf[c.text.size()] = '\0';
  }
  return 0;
}

int qv_append_row(DBPROCESS *session, qv_reply *w, const qv_col *cols, int ncols, char *buf,
                  std::size_t bufsize) {
  if (!w) {
    for (int i = 0; i < ncols; ++i)
      render_cell(session, i + 1, cols[i].type_code, buf, bufsize, false);
    return 0;
  }
  qv_out &o = w->raw_array();
  for (int i = 0; i < ncols; ++i) write_cell(session, i + 1, o, cols[i], buf, bufsize, i ? ',' : '[');
  if (ncols == 0) o.Put('[');
  o.Put(']');
  return 0;
}

void qv_write_column(qv_reply &w, const qv_col &col) {
  w.begin_object();
  w.member_str("name", col.name);
  w.member_str("type", col.type);
  w.member_bool("nullable", col.nullable != 0);
  w.end_object();
}

}  // namespace qv::exec
