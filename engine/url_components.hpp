// URL splitting and the escapes of the Direct-HTTP requests.
#pragma once

#include <libtorrent/error_code.hpp>

#include <string>

namespace tg {

struct url_components
{
    std::string protocol; // as written, no case folding
    std::string auth;     // user-info before "@" (user:password), or empty
    std::string host;     // without the brackets of an IPv6 literal
    int port = -1;        // -1 when the URL names none
    std::string path;     // from the first "/" after the host, or empty
};

// Splits "protocol://[auth@]host[:port][/path]". Fails (ec set) without
// "://" or with an unclosed IPv6 bracket. A port that is not a number reads
// as 0. Any thread; throws nothing.
url_components parse_url_components(std::string const& url, lt::error_code& ec);

// The port a URL without one uses: 80 for http, 443 otherwise.
int default_port(std::string const& protocol);

// Percent-escapes every byte except letters, digits and "/-_!.~*()", with
// lower-case hex digits.
std::string escape_path(std::string const& s);

// escape_path for a path the URL itself gives: its own escapes ("%" and two
// hex digits) are already in request form and stay as written; any other
// "%" is escaped like the rest.
std::string escape_url_path(std::string const& s);

// The URL without its user-info ("user:password@"), for logs.
std::string loggable_url(std::string const& url);

// At most `max` bytes of `s`, every byte outside printable ASCII written as
// "?", and "..." when cut: text from a server, made fit for one log line.
std::string printable_text(std::string const& s, std::size_t max);

// Base64 with "=" padding.
std::string base64encode(std::string const& s);

} // namespace tg
