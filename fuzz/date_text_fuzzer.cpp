// The edit grid's date-text reader, on an exact-size heap copy (ASan sees
// any read past the text). An accepted text has every part in range and on
// the calendar, and for each date and time column type the literal written
// for it is either an ISO 8601 literal of that type's shape holding the same
// parts, or, where the type cannot hold the value as the load shows it, the
// text as a plain string literal.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "common/names.h"
#include "date_literal.h"
#include "editgrid/edit_ops.h"
#include "exec/render.h"
#include "fuzz_support.h"

namespace {

using namespace qv::exec;
using namespace qv::ops::editgrid;

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int month_days(int y, int m) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

void check_parts(const qv_date_parts &p) {
  QV_FUZZ_CHECK(p.year >= 1 && p.year <= 9999 && p.month >= 1 && p.month <= 12);
  QV_FUZZ_CHECK(p.day >= 1 && p.day <= month_days(p.year, p.month));
  QV_FUZZ_CHECK(p.hour >= 0 && p.hour <= 23 && p.minute >= 0 && p.minute <= 59 &&
                p.second >= 0 && p.second <= 59);
  QV_FUZZ_CHECK(p.fraction_digits >= 0 && p.fraction_digits <= kMaxFractionDigits);
  for (int i = 0; i < p.fraction_digits; ++i)
    QV_FUZZ_CHECK(p.fraction[i] >= '0' && p.fraction[i] <= '9');
  QV_FUZZ_CHECK(p.offset_minutes >= -840 && p.offset_minutes <= 840);
  QV_FUZZ_CHECK(p.has_offset || p.offset_minutes == 0);
}

std::string_view fraction_of(const qv_date_parts &p) {
  return {p.fraction, static_cast<std::size_t>(p.fraction_digits)};
}

bool midnight(const qv_date_parts &p) {
  return p.hour == 0 && p.minute == 0 && p.second == 0 &&
         fraction_of(p).find_first_not_of('0') == std::string_view::npos;
}

// Whether a column of this kind takes the text as a date literal.
bool takes_as_date(const qv_date_parts &p, eg_date_kind kind) {
  if (p.has_offset != (kind == eg_date_kind::datetimeoffset)) return false;
  if (kind == eg_date_kind::date) return midnight(p);
  if (kind == eg_date_kind::time) return p.year == 1900 && p.month == 1 && p.day == 1;
  return true;
}

bool same_value(const qv_date_parts &a, const qv_date_parts &b, eg_date_kind kind) {
  const bool dates = a.year == b.year && a.month == b.month && a.day == b.day;
  const bool times = a.hour == b.hour && a.minute == b.minute && a.second == b.second &&
                     fraction_of(a) == fraction_of(b);
  return (kind == eg_date_kind::time || dates) && (kind == eg_date_kind::date || times) &&
         a.offset_minutes == b.offset_minutes;
}

void check_literals(std::string_view text, const qv_date_parts &p) {
  // An accepted text is letters, digits, blanks, ':', '+' and '-': no JSON
  // escape is needed.
  const std::string json = "[\"" + std::string(text) + "\"]";
  eg_ops_doc doc;
  QV_FUZZ_CHECK(doc.parse(json.c_str()) && doc.operations());
  const qv::common::qv_json_value &value = (*doc.operations())[0];
  for (const char *type : {"date", "time", "datetime2", "datetimeoffset"}) {
    qv_table_column col{"c", type};
    const eg_date_kind kind = eg_date_kind_of(col);
    std::string lit;
    QV_FUZZ_CHECK(lit_from_json(doc, value, &col, &lit));
    qv_date_parts back;
    if (takes_as_date(p, kind))
      QV_FUZZ_CHECK(qv::fuzz::read_iso_literal(lit, kind, &back) && same_value(p, back, kind));
    else
      QV_FUZZ_CHECK(lit == qv::common::qv_literal(text));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::unique_ptr<char[]> copy(new char[size]);
  std::memcpy(copy.get(), data, size);
  const std::string_view text(copy.get(), size);
  qv_date_parts p;
  if (!qv_read_date_text(text, &p)) return 0;
  check_parts(p);
  check_literals(text, p);
  return 0;
}
