// The date of a message from its Date header (RFC 822/5322), or from the
// tail of a Received header, as seconds since 1970 UTC.
//
// The parser is forgiving about what stands around the date and strict
// about its fields: the first number is the day (1..31), the next word's
// first three letters the month, the next number the year, then hh:mm[:ss]
// and a zone ("+0100", "-0500", "EST", "PDT", ...; anything else counts as
// UTC). Two-digit years are 1950..2049 and three-digit years count from
// 1900 (RFC 5322 section 4.3); years outside 1900..2038 are refused.
//
// The result is the stated wall time read as UTC less the zone, computed by
// calendar arithmetic alone: the process's own time zone and daylight
// saving never enter it. Anything unparsable, and any time not after
// 1970-01-01 00:00:00 UTC, gives 0 ("no usable date").
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane::mime {

std::int64_t parse_date(std::string_view text);

// Days from 1970-01-01 to the given date of the proleptic Gregorian
// calendar (month 1..12; a day past the month's end runs on into the next).
std::int64_t days_from_civil(std::int64_t year, int month, int day);

}  // namespace corvane::mime
