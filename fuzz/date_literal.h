// Reading back the ISO 8601 literals the edit grid writes for date and time
// columns: 'YYYY-MM-DD', 'hh:mm:ss[.f]', 'YYYY-MM-DDThh:mm:ss[.f]' and the
// same with '+hh:mm', each part in its range.
#pragma once

#include <string_view>

#include "editgrid/grid_table.h"
#include "exec/render.h"

namespace qv::fuzz {

class iso_reader {
 public:
  explicit iso_reader(std::string_view s) : s_(s) {}
  bool take(char c) {
    if (i_ >= s_.size() || s_[i_] != c) return false;
    ++i_;
    return true;
  }
  // Exactly n digits, at most max.
  bool number(int n, int max, int *v) {
    *v = 0;
    for (int k = 0; k < n; ++k, ++i_) {
      if (i_ >= s_.size() || s_[i_] < '0' || s_[i_] > '9') return false;
      *v = *v * 10 + (s_[i_] - '0');
    }
    return *v <= max;
  }
  bool at_end() const { return i_ == s_.size(); }
  std::string_view s_;
  std::size_t i_ = 0;
};

// The parts of lit when it has the shape of kind's literal (the date of a
// time literal stays 1900-01-01, as the grid reads it).
inline bool read_iso_literal(std::string_view lit, ops::editgrid::eg_date_kind kind,
                             exec::qv_date_parts *p) {
  using ops::editgrid::eg_date_kind;
  iso_reader r(lit);
  *p = exec::qv_date_parts{};
  p->year = 1900, p->month = 1, p->day = 1;
  if (!r.take('\'')) return false;
  if (kind != eg_date_kind::time &&
      (!r.number(4, 9999, &p->year) || !r.take('-') || !r.number(2, 12, &p->month) ||
       !r.take('-') || !r.number(2, 31, &p->day) || p->year < 1 || p->month < 1 || p->day < 1))
    return false;
  if (kind != eg_date_kind::date) {
    if (kind != eg_date_kind::time && !r.take('T')) return false;
    if (!r.number(2, 23, &p->hour) || !r.take(':') || !r.number(2, 59, &p->minute) ||
        !r.take(':') || !r.number(2, 59, &p->second))
      return false;
    if (r.take('.')) {
      int digit;
      while (p->fraction_digits < exec::kMaxFractionDigits && r.number(1, 9, &digit))
        p->fraction[p->fraction_digits++] = static_cast<char>('0' + digit);
      if (p->fraction_digits == 0) return false;
    }
  }
  if (kind == eg_date_kind::datetimeoffset) {
    const bool negative = r.take('-');
    int hours, minutes;
    if ((!negative && !r.take('+')) || !r.number(2, 14, &hours) || !r.take(':') ||
        !r.number(2, 59, &minutes) || hours * 60 + minutes > 14 * 60)
      return false;
    p->has_offset = true;
    p->offset_minutes = (negative ? -1 : 1) * (hours * 60 + minutes);
  }
  return r.take('\'') && r.at_end();
}

}  // namespace qv::fuzz
