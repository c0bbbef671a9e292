#include "engine/http_response_parser.hpp"

#include <algorithm>
#include <cctype>

namespace tg {

namespace {

std::string lower(std::string s)
{
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(std::string const& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

// A decimal number, optionally negative, at s[i]; advances i. False when no
// digit follows or it overflows 63 bits.
bool read_number(std::string const& s, std::size_t& i, std::int64_t& out)
{
    bool neg = false;
    if (i < s.size() && s[i] == '-') {
        neg = true;
        ++i;
    }
    std::size_t const first = i;
    std::int64_t v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        if (v > (INT64_MAX - 9) / 10) return false;
        v = v * 10 + (s[i] - '0');
        ++i;
    }
    if (i == first) return false;
    out = neg ? -v : v;
    return true;
}

} // namespace

int http_response_parser::incoming(lt::span<char const> buf)
{
    if (m_error || m_finished) return 0;
    while (!m_finished) {
        auto const begin = buf.begin() + m_pos;
        auto const nl = std::find(begin, buf.end(), '\n');
        if (nl == buf.end()) {
            if (buf.size() > max_header_size) m_error = true;
            break;
        }
        std::string line(begin, nl);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        int const next = int(nl - buf.begin()) + 1;
        if (next > max_header_size) {
            m_error = true;
            break;
        }
        m_pos = next;
        if (m_status < 0) {
            if (!parse_status_line(line)) {
                m_error = true;
                break;
            }
        } else if (line.empty()) {
            m_finished = true;
            m_body_start = m_pos;
        } else {
            parse_field(line);
        }
    }
    // Every byte seen up to the end of the header counts, a line not yet
    // complete included, so each received byte is counted exactly once.
    int const seen = m_finished ? m_body_start : int(std::min<std::size_t>(buf.size(), max_header_size));
    int const counted = std::max(0, seen - m_seen);
    m_seen = std::max(m_seen, seen);
    return counted;
}

bool http_response_parser::parse_status_line(std::string const& line)
{
    // "HTTP/1.1 206 Partial Content"
    if (line.compare(0, 5, "HTTP/") != 0) return false;
    std::size_t i = line.find(' ');
    if (i == std::string::npos) return false;
    while (i < line.size() && line[i] == ' ') ++i;
    std::int64_t code = 0;
    if (i >= line.size() || line[i] == '-' || !read_number(line, i, code) || code > 999) return false;
    if (i < line.size() && line[i] != ' ') return false;
    m_status = int(code);
    m_http10 = line.compare(0, 8, "HTTP/1.0") == 0;
    m_message = i < line.size() ? trim(line.substr(i + 1)) : std::string();
    return true;
}

void http_response_parser::parse_field(std::string const& line)
{
    std::size_t const colon = line.find(':');
    if (colon == std::string::npos) return; // not a field: ignored
    std::string const name = lower(trim(line.substr(0, colon)));
    std::string const value = trim(line.substr(colon + 1));
    m_fields[name] = value;
    if (name == "content-length") {
        std::size_t i = 0;
        std::int64_t v = -1;
        if (read_number(value, i, v) && i == value.size() && v >= 0) m_content_length = v;
        else m_content_length = -1;
    } else if (name == "content-range") {
        // Some servers leave out "bytes"; the numbers are read either way.
        std::size_t i = 0;
        if (lower(value.substr(0, 6)) == "bytes ") i = 6;
        while (i < value.size() && value[i] == ' ') ++i;
        std::int64_t first = -1, last = -1;
        m_range_start = m_range_last = -1;
        if (read_number(value, i, first) && i < value.size() && value[i] == '-' && read_number(value, ++i, last)) {
            m_range_start = first;
            m_range_last = last;
        }
    }
}

std::string http_response_parser::header(std::string const& lower_name) const
{
    auto it = m_fields.find(lower_name);
    return it == m_fields.end() ? std::string() : it->second;
}

bool http_response_parser::keeps_alive() const
{
    // The field is a comma-separated list of tokens, in any case.
    std::string const value = lower(header("connection"));
    auto names = [&](std::string const& token) {
        std::size_t i = 0;
        while (i <= value.size()) {
            std::size_t const comma = std::min(value.find(',', i), value.size());
            if (trim(value.substr(i, comma - i)) == token) return true;
            i = comma + 1;
        }
        return false;
    };
    if (names("close")) return false;
    return !m_http10 || names("keep-alive");
}

} // namespace tg
