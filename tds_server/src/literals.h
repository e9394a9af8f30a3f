// Parsing of the literal cell texts handlers give (see server.h) into the
// numbers the wire encodings are built from. Every parser throws
// std::invalid_argument on text it cannot read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "bytes.h"

namespace tds::wire {

std::int64_t parse_int(std::string_view s);
bool parse_bit(std::string_view s);
double parse_double(std::string_view s);

struct Scaled {            // |value| * 10^scale, rounded half away from zero
  bool negative = false;
  unsigned __int128 magnitude = 0;
};
Scaled parse_scaled(std::string_view s, int scale);

struct CivilDate { int year = 1900, month = 1, day = 1; };
struct TimeOfDay { std::int64_t ticks100ns = 0; };  // since midnight, 10^-7 s

// Days since 0001-01-01 of a proleptic Gregorian date.
std::int64_t days_since_year1(CivilDate d);

CivilDate parse_date(std::string_view s);
TimeOfDay parse_time(std::string_view s);
// "YYYY-MM-DD[ HH:MM[:SS[.fffffff]]]" (a 'T' may separate date and time).
void parse_datetime(std::string_view s, CivilDate &date, TimeOfDay &time);
// A datetime followed by " +HH:MM" / " -HH:MM"; offset in minutes.
void parse_datetimeoffset(std::string_view s, CivilDate &date, TimeOfDay &time, int &offset);

Bytes parse_hex(std::string_view s);    // "0x01AB" or "01AB"
Bytes parse_guid(std::string_view s);   // 16 bytes in wire order

}  // namespace tds::wire
