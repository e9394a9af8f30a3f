// Texts of date, time and exact numeric cells built straight from the binary
// values db-lib hands out, byte for byte what dbconvert to SYBCHAR (and the
// JSON number form of cell.cpp) would give, without dbconvert's cost.
// Internal header.
#pragma once

#include "exec/namespaces.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <sybdb.h>

namespace qv::exec {

// Longest text any of these writes (a date and time with seven fraction
// digits and an offset is 37 bytes; a 38-digit decimal with sign and point
// 41).
constexpr std::size_t kRenderedMax = 48;

// The date texts below are spelled as dbconvert spells them in the C locale,
// whatever locale the calling process has set: a text read back
// (qv_read_date_text) means the same value everywhere.

// "Feb 29 2024  1:45:30:123PM": the date and time of a date, time,
// datetime2 or datetimeoffset value with time_prec fraction digits, then
// " +05:30" when the value carries an offset.
std::size_t qv_render_datetimeall(const DBDATETIMEALL &v, char *out);
// datetime: the same form with three fraction digits.
std::size_t qv_render_datetime(const DBDATETIME &v, char *out);
// smalldatetime: seconds and fraction are always zero ("...:00:000AM").
std::size_t qv_render_datetime4(const DBDATETIME4 &v, char *out);

// Most fraction digits a date text carries (100 ns).
constexpr int kMaxFractionDigits = 7;

// A date and time text taken apart, every part as the text wrote it.
struct qv_date_parts {
  int year = 0, month = 0, day = 0;       // 1..9999, 1..12, 1..31
  int hour = 0, minute = 0, second = 0;   // 24-hour clock
  char fraction[kMaxFractionDigits] = {};  // the fraction's digits, as written
  int fraction_digits = 0;                 // 0..7
  bool has_offset = false;
  int offset_minutes = 0;                  // -840..840
};
// Reads a text in the form the three renderers above write: month name,
// day, year, h:mm:ss, an optional ":" with 0 to 7 fraction digits, AM or
// PM, then an optional " +hh:mm". Blanks between the parts may be one or
// more. False for any other text, and for a date the calendar does not have.
bool qv_read_date_text(std::string_view text, qv_date_parts *out);

// JSON number text of a decimal/numeric: "-12.5", "0.0005", "-0", no
// leading zeros, no trailing fraction zeros. False when the value's
// precision or scale is out of range.
bool qv_render_decimal_number(const DBNUMERIC &v, char *out, std::size_t *len);
// JSON number text of a money value held in units of 1/10000.
std::size_t qv_render_money_number(std::int64_t units, char *out);

// JSON number text of an exact value given as db-lib's text ("-0012.5000"
// -> "-12.5"): trailing fraction zeros dropped. False when the text is not a
// plain decimal number or does not fit outsize.
bool qv_number_from_text(std::string_view t, char *out, std::size_t outsize, std::size_t *outlen);

}  // namespace qv::exec
