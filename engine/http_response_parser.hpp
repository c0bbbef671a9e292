// Incremental parser of one HTTP response header (status line and fields).
#pragma once

#include <libtorrent/span.hpp>

#include <cstdint>
#include <map>
#include <string>

namespace tg {

// Fed the received bytes of the current response from its first byte on,
// again and again as more arrive; it remembers how far it has read and
// consumes header bytes only. Errors are sticky until reset(). A header
// longer than max_header_size is an error, so a peer cannot make it buffer
// without bound. Single-threaded; throws nothing.
class http_response_parser
{
public:
    static constexpr int max_header_size = 64 * 1024;

    // Parses on from where it stopped; `buf` starts at the response's first
    // byte. Returns the header bytes seen for the first time in this call
    // (a line not yet complete included).
    int incoming(lt::span<char const> buf);

    bool error() const { return m_error; }
    // -1 until the status line is complete.
    int status_code() const { return m_status; }
    std::string const& message() const { return m_message; }
    bool header_finished() const { return m_finished; }
    // Offset of the first body byte in the buffer (valid once finished).
    int body_start() const { return m_body_start; }
    // -1 when absent or not a number.
    std::int64_t content_length() const { return m_content_length; }
    // "bytes first-last/total": first and last, -1 when absent or malformed.
    std::int64_t range_start() const { return m_range_start; }
    std::int64_t range_last() const { return m_range_last; }
    // Field value by lower-case name; empty when absent.
    std::string header(std::string const& lower_name) const;
    // Whether the server keeps the connection open after this response:
    // not when its Connection field names "close", nor for HTTP/1.0
    // unless it names "keep-alive".
    bool keeps_alive() const;

    void reset() { *this = http_response_parser(); }

private:
    bool parse_status_line(std::string const& line);
    void parse_field(std::string const& line);

    int m_pos = 0;  // bytes of complete header lines parsed so far
    int m_seen = 0; // header bytes already counted to the caller
    bool m_error = false;
    bool m_finished = false;
    int m_status = -1;
    bool m_http10 = false;
    std::string m_message;
    int m_body_start = 0;
    std::int64_t m_content_length = -1;
    std::int64_t m_range_start = -1;
    std::int64_t m_range_last = -1;
    std::map<std::string, std::string> m_fields;
};

} // namespace tg
