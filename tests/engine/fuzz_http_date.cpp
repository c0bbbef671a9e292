// The HTTP date parser over arbitrary text: a date it accepts is a real
// calendar date, and printing it back in the preferred form parses to the
// same time.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "engine/http_date.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tg::http_date d;
    if (!tg::parse_http_date(std::string_view(reinterpret_cast<const char*>(data), size), d))
        return 0;
    if (d.year < 0 || d.year > 9999 || d.month < 1 || d.month > 12 || d.day < 1 || d.day > 31 || d.hour > 23 ||
        d.minute > 59 || d.second > 60 || d.weekday < 0 || d.weekday > 6)
        std::abort();
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct",
        "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d GMT", days[d.weekday], d.day,
        months[d.month - 1], d.year, d.hour, d.minute, d.second);
    tg::http_date again;
    if (!tg::parse_http_date(text, again) || tg::seconds_since_epoch(again) != tg::seconds_since_epoch(d))
        std::abort();
    return 0;
}
