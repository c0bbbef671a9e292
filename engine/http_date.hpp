// Parser of an HTTP date (Last-Modified, Retry-After, Date): the three forms
// HTTP allows, the preferred IMF-fixdate and the obsolete RFC 850 and asctime
// forms. Bounded (a text longer than max_http_date_size is refused) and
// total: any input gives true with a calendar date or false. Portable: no
// windows.h; any thread; throws nothing.
#pragma once

#include <cstdint>
#include <string_view>

namespace tg {

constexpr std::size_t max_http_date_size = 64;

// A UTC calendar time as the text gave it. The day exists in its month (leap
// years counted); second may be 60 (a leap second), which the caller's own
// conversion may refuse.
struct http_date
{
    int year = 0; // 0 to 9999; two-digit RFC 850 years are 1970 to 2069
    int month = 0; // 1 to 12
    int day = 0; // 1 to 31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 0; // 0 Sunday to 6 Saturday, computed from the date
};

// Blanks around the text are skipped. The day name must be one of the
// week's, but a day name that does not match the date is not an error (as
// Windows' own conversion does); the zone must be "GMT" in the two forms
// that carry one. Names are matched without regard to case.
bool parse_http_date(std::string_view text, http_date& out);

// Seconds from 1970-01-01 00:00:00 UTC (negative before it).
std::int64_t seconds_since_epoch(http_date const& d);

} // namespace tg
