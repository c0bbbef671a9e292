#include "engine/http_date.hpp"

namespace tg {

namespace {

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool same_name(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m)
{
    static int const days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

// Days from 1970-01-01 of a proleptic Gregorian date (the usual era-based
// count, exact for every year of an int).
std::int64_t days_from_civil(std::int64_t y, int m, int d)
{
    y -= m <= 2;
    std::int64_t const era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t const yoe = y - era * 400;
    std::int64_t const doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    std::int64_t const doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// A cursor over the text: every read checks the end first.
struct cursor
{
    std::string_view s;
    std::size_t i = 0;

    bool done() const { return i == s.size(); }
    bool literal(char c)
    {
        if (i >= s.size() || s[i] != c) return false;
        ++i;
        return true;
    }
    // Exactly n digits.
    bool digits(int n, int& out)
    {
        out = 0;
        for (int k = 0; k < n; ++k, ++i) {
            if (i >= s.size() || s[i] < '0' || s[i] > '9') return false;
            out = out * 10 + (s[i] - '0');
        }
        return true;
    }
    // Letters up to the next non-letter.
    std::string_view word()
    {
        std::size_t const b = i;
        while (i < s.size() && ((s[i] >= 'a' && s[i] <= 'z') || (s[i] >= 'A' && s[i] <= 'Z'))) ++i;
        return s.substr(b, i - b);
    }
    // "HH:MM:SS"
    bool time_of_day(http_date& d)
    {
        return digits(2, d.hour) && literal(':') && digits(2, d.minute) && literal(':') && digits(2, d.second);
    }
};

char const* const short_days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
char const* const long_days[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
char const* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool is_day_name(std::string_view w, char const* const (&names)[7])
{
    for (char const* n : names)
        if (same_name(w, n)) return true;
    return false;
}

bool month_of(std::string_view w, int& month)
{
    for (int m = 0; m < 12; ++m)
        if (same_name(w, months[m])) {
            month = m + 1;
            return true;
        }
    return false;
}

bool zone_is_gmt(cursor& c) { return c.literal(' ') && same_name(c.word(), "GMT"); }

// "Sun, 06 Nov 1994 08:49:37 GMT", after the day name and the comma.
bool imf_fixdate(cursor& c, http_date& d)
{
    return c.literal(' ') && c.digits(2, d.day) && c.literal(' ') && month_of(c.word(), d.month) && c.literal(' ') &&
        c.digits(4, d.year) && c.literal(' ') && c.time_of_day(d) && zone_is_gmt(c);
}

// "Sunday, 06-Nov-94 08:49:37 GMT", after the day name and the comma.
bool rfc850_date(cursor& c, http_date& d)
{
    int yy = 0;
    if (!(c.literal(' ') && c.digits(2, d.day) && c.literal('-') && month_of(c.word(), d.month) &&
            c.literal('-') && c.digits(2, yy) && c.literal(' ') && c.time_of_day(d) && zone_is_gmt(c)))
        return false;
    d.year = yy < 70 ? 2000 + yy : 1900 + yy;
    return true;
}

// "Sun Nov  6 08:49:37 1994", after the day name.
bool asctime_date(cursor& c, http_date& d)
{
    if (!(c.literal(' ') && month_of(c.word(), d.month) && c.literal(' '))) return false;
    if (c.literal(' ')) {
        if (!c.digits(1, d.day)) return false;
    } else if (!c.digits(2, d.day)) {
        return false;
    }
    return c.literal(' ') && c.time_of_day(d) && c.literal(' ') && c.digits(4, d.year);
}

} // namespace

bool parse_http_date(std::string_view text, http_date& out)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.size() > max_http_date_size) return false;

    cursor c{text};
    http_date d;
    std::string_view const day = c.word();
    bool ok = false;
    if (c.literal(',')) {
        if (is_day_name(day, short_days)) ok = imf_fixdate(c, d);
        else if (is_day_name(day, long_days)) ok = rfc850_date(c, d);
    } else if (is_day_name(day, short_days)) {
        ok = asctime_date(c, d);
    }
    if (!ok || !c.done()) return false;
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > days_in_month(d.year, d.month) || d.hour > 23 ||
        d.minute > 59 || d.second > 60)
        return false;
    std::int64_t const days = days_from_civil(d.year, d.month, d.day);
    d.weekday = int(((days % 7) + 7 + 4) % 7); // 1970-01-01 was a Thursday
    out = d;
    return true;
}

std::int64_t seconds_since_epoch(http_date const& d)
{
    return days_from_civil(d.year, d.month, d.day) * 86400 + d.hour * 3600 + d.minute * 60 + d.second;
}

} // namespace tg
