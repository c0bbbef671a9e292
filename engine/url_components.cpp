#include "engine/url_components.hpp"

#include <algorithm>
#include <cstring>

namespace tg {

url_components parse_url_components(std::string const& url, lt::error_code& ec)
{
    url_components c;
    ec.clear();
    auto start = url.begin();
    while (start != url.end() && (*start == ' ' || *start == '\t')) ++start;
    auto end = std::find(start, url.end(), ':');
    c.protocol.assign(start, end);
    for (int i = 0; i < 2; ++i) {
        if (end == url.end()) break;
        ++end;
        if (end == url.end() || *end != '/') {
            end = url.end();
            break;
        }
    }
    if (end == url.end()) {
        ec = lt::errors::unsupported_url_protocol;
        return c;
    }
    start = end + 1;
    auto const path_pos = std::find(start, url.end(), '/');
    auto const at = std::find(start, path_pos, '@');
    // User-info counts only in the "user:password@" form.
    if (at != path_pos && std::find(start, at, ':') != at) {
        c.auth.assign(start, at);
        start = at + 1;
    }
    auto port_pos = path_pos;
    if (start != path_pos && *start == '[') {
        auto const close = std::find(start, path_pos, ']');
        if (close == path_pos) {
            ec = lt::errors::expected_close_bracket_in_address;
            return c;
        }
        c.host.assign(start + 1, close);
        port_pos = std::find(close, path_pos, ':');
    } else {
        port_pos = std::find(start, path_pos, ':');
        c.host.assign(start, port_pos);
    }
    if (port_pos != path_pos) {
        std::string const digits(port_pos + 1, path_pos);
        long v = 0;
        for (char ch : digits) {
            if (ch < '0' || ch > '9' || v > 65535) break;
            v = v * 10 + (ch - '0');
        }
        // Out of range reads as 0, which the connect step refuses.
        c.port = v > 65535 ? 0 : int(v);
    }
    c.path.assign(path_pos, url.end());
    return c;
}

std::string loggable_url(std::string const& url)
{
    std::size_t const scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    std::size_t const start = scheme + 3;
    std::size_t const path = url.find('/', start);
    std::size_t const at = url.rfind('@', path == std::string::npos ? std::string::npos : path);
    if (at == std::string::npos || at < start) return url;
    return url.substr(0, start) + url.substr(at + 1);
}

std::string printable_text(std::string const& s, std::size_t max)
{
    std::string out = s.substr(0, max);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
    if (s.size() > max) out += "...";
    return out;
}

int default_port(std::string const& protocol)
{
    return protocol == "http" ? 80 : 443;
}

namespace {

bool is_hex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string escape(std::string const& s, bool keep_escapes)
{
    static char const keep[] = "/-_!.~*()ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static char const hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char const ch = s[i];
        if (ch != 0 && std::strchr(keep, ch)) {
            out += ch;
        } else if (keep_escapes && ch == '%' && i + 2 < s.size() && is_hex(s[i + 1]) && is_hex(s[i + 2])) {
            out.append(s, i, 3);
            i += 2;
        } else {
            unsigned char const u = static_cast<unsigned char>(ch);
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

} // namespace

std::string escape_path(std::string const& s)
{
    return escape(s, false);
}

std::string escape_url_path(std::string const& s)
{
    return escape(s, true);
}

std::string base64encode(std::string const& s)
{
    static char const table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < s.size(); i += 3) {
        unsigned const v = unsigned(static_cast<unsigned char>(s[i])) << 16
            | unsigned(static_cast<unsigned char>(s[i + 1])) << 8 | static_cast<unsigned char>(s[i + 2]);
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += table[v & 63];
    }
    std::size_t const rest = s.size() - i;
    if (rest > 0) {
        unsigned v = unsigned(static_cast<unsigned char>(s[i])) << 16;
        if (rest == 2) v |= unsigned(static_cast<unsigned char>(s[i + 1])) << 8;
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += rest == 2 ? table[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

} // namespace tg
