// The names in dates that mail and HTTP share: month names and time zones.
//
// Both read dates of the RFC 822 family ("Sun, 06 Nov 1994 08:49:37 GMT",
// "Tue, 1 Jul 2003 10:52:37 +0200"), and both must agree on what a month
// word or a zone word means. What it does not do: read a whole date (each
// reader has its own rules about what stands around the fields).
#pragma once

#include <string_view>

namespace corvane::text {

// 1 to 12 when the first three letters of word name a month ("jan",
// "March", "DEC"), without regard to case; 0 otherwise.
int month_number(std::string_view word);

// A zone as a signed hhmm number: numeric zones as written ("+0100" is 100,
// "-0530" is -530; an hour above 23 or minutes above 59 count as 0), the US
// zone names of RFC 822 by table in any case (EST is -500, PDT -700, ...),
// and everything else (GMT, UT, Z, military letters, unknown words) as 0.
int zone_offset(std::string_view word);

}  // namespace corvane::text
