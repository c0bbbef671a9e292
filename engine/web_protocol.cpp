#include "engine/web_protocol.hpp"

#include "engine/url_components.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

namespace tg {

namespace errors = lt::errors;

namespace {

bool iequals(std::string const& a, char const* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    return i == a.size() && !b[i];
}

} // namespace

web_protocol::web_protocol(std::string url, torrent_geometry const& geometry)
    : m_geo(geometry), m_full_url(std::move(url))
{
    // The connect step has parsed this URL successfully before.
    lt::error_code ec;
    url_components const c = parse_url_components(m_full_url, ec);
    if (!c.auth.empty()) m_basic_auth = base64encode(c.auth);
    // An IPv6 literal keeps its brackets in the Host field: servers refuse
    // the bare address.
    m_url_host = c.host.find(':') != std::string::npos ? "[" + c.host + "]" : c.host;
    m_url_path = c.path;
}

std::string web_protocol::file_path(int file_index) const
{
    std::string p = m_geo.files->file_path(lt::file_index_t(file_index));
#ifdef _WIN32
    // The engine joins paths with the native separator; URLs use "/".
    std::replace(p.begin(), p.end(), '\\', '/');
#endif
    return p;
}

std::string web_protocol::write_request(lt::peer_request const& r, request_settings const& settings)
{
    bool const single_file = m_geo.num_files() == 1;
    if (!single_file) {
        if (m_url_path.empty() || m_url_path.back() != '/') m_url_path += '/';
        if (m_full_url.empty() || m_full_url.back() != '/') m_full_url += '/';
    } else if (m_url_path.empty()) {
        m_url_path = "/" + m_geo.name;
        // A URL without a path names the server's root: the file sits there.
        if (!m_full_url.empty() && m_full_url.back() != '/') m_full_url += '/';
        m_full_url += m_geo.name;
    } else if (m_url_path.back() == '/') {
        m_url_path += m_geo.name;
        if (!m_full_url.empty() && m_full_url.back() == '/') m_full_url += m_geo.name;
    }

    int const pl = m_geo.piece_length;
    std::int64_t const first_block = m_blocks_written;
    for (int remaining = r.length; remaining > 0;) {
        int const offset = r.start + r.length - remaining;
        lt::peer_request b;
        b.piece = lt::piece_index_t(int(r.piece) + offset / pl);
        b.start = offset % pl;
        b.length = std::min(m_geo.block_size, remaining);
        m_block_requests.push_back(b);
        ++m_blocks_written;
        remaining -= b.length;
    }

    bool const proxy = settings.proxy_type == 4 || settings.proxy_type == 5;
    auto common_fields = [&](std::string& t) {
        t += " HTTP/1.1\r\nHost: ";
        t += m_url_host;
        if (m_first_request_pending) {
            t += "\r\nUser-Agent: ";
            t += settings.user_agent;
        }
        if (!m_basic_auth.empty()) {
            t += "\r\nAuthorization: Basic ";
            t += m_basic_auth;
        }
        if (settings.proxy_type == 5) {
            t += "\r\nProxy-Authorization: Basic ";
            t += base64encode(settings.proxy_username + ":" + settings.proxy_password);
        }
        if (proxy) t += "\r\nProxy-Connection: keep-alive";
    };

    std::string text;
    text.reserve(400);
    if (single_file) {
        std::int64_t const first = std::int64_t(int(r.piece)) * pl + r.start;
        std::int64_t const last = first + r.length - 1;
        text += "GET ";
        text += proxy ? m_full_url : m_url_path;
        common_fields(text);
        text += "\r\nRange: bytes=" + std::to_string(first) + "-" + std::to_string(last);
        text += "\r\nConnection: keep-alive\r\n\r\n";
        m_first_request_pending = false;
        m_http_requests.push_back(0);
        return text;
    }
    std::int64_t const r_position = position(int(r.piece), r.start);
    for (lt::file_slice const& f : m_geo.files->map_block(r.piece, r.start, r.length)) {
        if (m_geo.files->pad_file_at(f.file_index)) {
            // Pad files hold zeros and are not on the server.
            std::int64_t const at = m_geo.files->file_offset(f.file_index) + f.offset;
            m_pad_ranges.push_back({first_block + (at - r_position) / m_geo.block_size, at, f.size});
            continue;
        }
        text += "GET ";
        if (proxy) text += m_full_url + escape_path(file_path(int(f.file_index)));
        // The URL's path arrives in request form already (the configuration's
        // own escapes, UTF-8 percent-encoded); only the torrent's path is raw.
        else text += escape_url_path(m_url_path) + escape_path(file_path(int(f.file_index)));
        common_fields(text);
        text += "\r\nRange: bytes=" + std::to_string(f.offset) + "-" + std::to_string(f.offset + f.size - 1);
        if (m_first_request_pending || proxy) text += "\r\nConnection: keep-alive";
        text += "\r\n\r\n";
        m_first_request_pending = false;
        m_http_requests.push_back(int(f.file_index));
    }
    return text;
}

bool web_protocol::deliver_front(web_protocol_host& host)
{
    lt::peer_request const front = m_block_requests.front();
    bool const alive = m_in_place > 0 ? host.incoming_piece_in_place(front) : host.incoming_piece(front, m_partial_block.data());
    m_block_requests.pop_front();
    if (!alive) {
        m_failed = true;
        return false;
    }
    m_block_position -= front.length - m_front_pad;
    m_partial_block.clear();
    m_in_place = 0;
    m_front_pad = 0;
    return true;
}

bool web_protocol::add_to_front(char const* data, int c, int& n, web_protocol_host& host)
{
    lt::peer_request const& front = m_block_requests.front();
    char* const dest = m_partial_block.empty() ? host.block_destination(front) : nullptr;
    if (dest) {
        if (data) std::memcpy(dest + m_in_place, data, std::size_t(c));
        else std::memset(dest + m_in_place, 0, std::size_t(c));
        m_in_place += c;
        return true;
    }
    if (m_in_place > 0) {
        // The host dropped the piece of a block begun in place: the bytes
        // already there are gone with it, and the block can never complete.
        fail(errors::invalid_torrent_handle, 0, n, host);
        return false;
    }
    if (data) m_partial_block.insert(m_partial_block.end(), data, data + c);
    else m_partial_block.insert(m_partial_block.end(), std::size_t(c), '\0');
    return true;
}

bool web_protocol::fill_pad_bytes(web_protocol_host& host)
{
    if (m_failed) return false;
    while (!m_pad_ranges.empty()) {
        pad_range& z = m_pad_ranges.front();
        std::int64_t const front_block = m_blocks_written - std::int64_t(m_block_requests.size());
        if (m_block_requests.empty() || z.block < front_block) {
            m_pad_ranges.pop_front(); // its block is gone
            continue;
        }
        if (z.block > front_block) return true;
        lt::peer_request const& front = m_block_requests.front();
        std::int64_t const at = position(int(front.piece), front.start) + front_filled();
        if (at < z.start) return true; // the server's bytes before the pad are still to come
        if (at > z.start) {
            // Bytes the server sent stand in the pad's place: the hash check
            // judges the block.
            m_pad_ranges.pop_front();
            continue;
        }
        int const c = int(std::min<std::int64_t>(front.length - front_filled(), z.length));
        int none = 0;
        if (!add_to_front(nullptr, c, none, host)) return false;
        m_front_pad += c;
        z.start += c;
        z.length -= c;
        if (front_filled() == front.length) {
            ++z.block; // what is left of the pad starts the next block
            if (z.length == 0) m_pad_ranges.pop_front();
            if (!deliver_front(host)) return false;
        } else if (z.length == 0) {
            m_pad_ranges.pop_front();
        }
    }
    return true;
}

void web_protocol::cut_receive_buffer(int size)
{
    // Cut bytes are dropped once per read (in on_receive), not per block.
    m_recv_start += std::size_t(std::max(0, std::min(size, int(recv_size()))));
}

void web_protocol::on_sent(lt::error_code const& ec, int n, web_protocol_host& host)
{
    if (ec) return;
    host.sent_bytes(0, n);
    host.add_source_traffic(0, n);
}

void web_protocol::fail(lt::error_code const& ec, int severity, int& n, web_protocol_host& host)
{
    // Sticky: whatever arrives after the disconnect is not parsed.
    m_failed = true;
    host.received_bytes(0, n);
    n = 0;
    host.disconnect(ec, severity);
}

void web_protocol::failure_path(int& n, web_protocol_host& host)
{
    m_failed = true;
    int const status = m_response_parser.status_code();
    host.source_refused(status, m_response_parser.header("retry-after"), m_response_parser.header("date"));
    host.url_seed_alert(m_full_url, std::to_string(status) + " " + m_response_parser.message());
    host.received_bytes(0, n);
    n = 0;
    host.disconnect(errors::http_error, 1);
}

void web_protocol::redirect_path(int& n, web_protocol_host& host)
{
    m_failed = true;
    std::string location = m_response_parser.header("location");
    host.received_bytes(0, n);
    n = 0;
    if (location.empty()) {
        host.erase_source();
        host.disconnect(errors::missing_location, 2);
        return;
    }
    if (m_url_path.empty() || m_url_path.back() == '/') {
        // Multi-file: the location names the requested file; its base is
        // what stands before the file's escaped path. An unasked response
        // names no file, so it cannot be cut.
        std::size_t i = std::string::npos;
        if (!m_http_requests.empty()) i = location.rfind(escape_path(file_path(m_http_requests.front())));
        if (i == std::string::npos) {
            host.erase_source();
            host.disconnect(errors::invalid_redirection, 2);
            return;
        }
        location.resize(i);
    }
    host.source_redirected(location);
    host.disconnect(errors::redirecting, 2);
}

web_protocol::step web_protocol::header_step(int& n, web_protocol_host& host)
{
    lt::span<char const> buffer(recv_data(), std::ptrdiff_t(recv_size()));
    int const consumed = m_response_parser.incoming(buffer);
    host.received_bytes(0, consumed);
    n -= consumed;
    if (m_response_parser.error()) {
        fail(errors::http_parse_error, 2, n, host);
        return step::stop;
    }
    int const status = m_response_parser.status_code();
    if (status == -1) return step::stop;
    bool const redirect = status >= 300 && status < 400;
    // A 503's Retry-After may come in any field: its header is read whole
    // first (bounded as every header is). Other refusals end at once.
    if (status == 503 && !m_response_parser.header_finished()) return step::stop;
    if (status != 200 && status != 206 && !redirect) {
        failure_path(n, host);
        return step::stop;
    }
    if (!m_response_parser.header_finished()) return step::stop;
    m_body_offset = m_response_parser.body_start();
    m_body_received = 0;
    if (redirect) {
        redirect_path(n, host);
        return step::stop;
    }
    std::string const coding = m_response_parser.header("transfer-encoding");
    if (!coding.empty() && !iequals(coding, "identity")) {
        // A chunked (or compressed) body is not the file's bytes: taken as
        // data, every piece would fail its hash and be fetched again without
        // end. The source fails as for any answer it cannot serve.
        m_failed = true;
        host.erase_source();
        host.url_seed_alert(m_full_url, "answered with Transfer-Encoding: " + coding + ", not read");
        fail(errors::http_error, 2, n, host);
        return step::stop;
    }
    m_range_position = 0;
    return step::next;
}

bool web_protocol::checked_range(range64& r, range_refusal& why) const
{
    std::int64_t start = 0, end = 0;
    if (m_response_parser.status_code() == 206) {
        start = m_response_parser.range_start();
        std::int64_t const last = m_response_parser.range_last();
        if (start < 0 || last < start) {
            why = {errors::invalid_range, 0, true};
            return false;
        }
        end = last + 1;
    } else {
        end = m_response_parser.content_length();
        if (end == -1) {
            why = {errors::no_content_length, 2, true};
            return false;
        }
    }
    if (m_block_requests.empty() || m_http_requests.empty()) {
        why = {errors::http_error, 2, false};
        return false;
    }
    // A range that does not lie inside the requested file is as impossible
    // as one that ends before it starts; checking it here also keeps every
    // sum below far from the 64-bit limit.
    lt::file_index_t const f(m_http_requests.front());
    if (end > m_geo.files->file_size(f)) {
        why = {errors::invalid_range, 0, true};
        return false;
    }
    r.begin = m_geo.files->file_offset(f) + start;
    r.end = r.begin + (end - start);
    return true;
}

bool web_protocol::response_range(range64& r, int& n, web_protocol_host& host)
{
    range_refusal why;
    if (checked_range(r, why)) return true;
    if (why.erase) host.erase_source();
    // A 200 that goes on past every block asked of it is the whole file.
    if (m_response_parser.status_code() == 200 && m_block_requests.empty() && m_body_received > 0) host.range_ignored();
    fail(why.ec, why.severity, n, host);
    return false;
}

web_protocol::step web_protocol::body_step(int& n, web_protocol_host& host)
{
    if (std::int64_t(recv_size()) - m_body_offset <= 0) return step::stop;
    range64 r{};
    if (!response_range(r, n, host)) return step::stop;
    std::int64_t const range_length = r.end - r.begin;

    int const p = int(std::max<std::int64_t>(0, std::min<std::int64_t>(n, range_length - m_range_position)));
    host.received_bytes(p, 0);
    host.add_source_traffic(p, 0);
    n -= p;
    m_range_position += p;
    m_block_position += p;

    {
        lt::peer_request const& front = m_block_requests.front();
        if (r.end <= position(front) + front_filled()) {
            // The response ends before the first byte still expected.
            fail(errors::invalid_range, 2, n, host);
            return step::stop;
        }
    }

    // Each pass moves the body's next bytes into the front block. The next
    // body byte must be the block's next byte: a response whose range is
    // shifted, or that carries more than the blocks asked of it, would
    // otherwise fill blocks with the wrong bytes and keep the rest of its
    // body buffered for good.
    for (;;) {
        if (m_body_received == range_length) return complete_response(host);
        if (m_block_requests.empty()) {
            if (m_response_parser.status_code() == 200) host.range_ignored();
            fail(errors::http_error, 2, n, host);
            return step::stop;
        }
        lt::peer_request const front = m_block_requests.front();
        std::int64_t const at = r.begin + m_body_received;
        if (at != position(front) + front_filled()) {
            if (m_response_parser.status_code() == 200) host.range_ignored();
            fail(errors::invalid_range, 2, n, host);
            return step::stop;
        }
        std::int64_t const body_size = std::int64_t(recv_size()) - m_body_offset;
        if (body_size <= 0) return step::stop;
        // The front block's bytes that this response carries.
        int const in_range = int(std::min(position(front) + front.length, r.end) - at);
        char const* const body = recv_data() + m_body_offset;
        if (front_filled() == 0 && in_range == front.length) {
            // Whole block inside the range: straight from the receive buffer
            // once all of it is there.
            if (body_size >= front.length) {
                bool const alive = host.incoming_piece(front, body);
                m_block_requests.pop_front();
                if (!alive) {
                    m_failed = true;
                    return step::stop;
                }
                m_block_position -= front.length;
                m_body_received += front.length;
                cut_receive_buffer(front.length + m_body_offset);
                m_body_offset = 0;
                continue;
            }
            // Its first bytes go to its destination at once, so that the
            // reads that follow can go there too; without one they wait
            // here for the rest.
            if (!host.block_destination(front)) return step::stop;
        }
        // A block split between two responses (or between a response and
        // pad bytes), or begun in place: its part in this response goes
        // where the block is assembled.
        int const c = int(std::min<std::int64_t>(in_range, body_size));
        if (!add_to_front(body, c, n, host)) return step::stop;
        m_body_received += c;
        m_body_offset += c;
        if (front_filled() == front.length) {
            if (!deliver_front(host)) return step::stop;
            cut_receive_buffer(m_body_offset);
            m_body_offset = 0;
        }
    }
}

web_protocol::step web_protocol::complete_response(web_protocol_host& host)
{
    cut_receive_buffer(m_body_offset);
    if (!m_http_requests.empty()) m_http_requests.pop_front();
    bool const closes = !m_response_parser.keeps_alive();
    ++m_answers;
    m_response_parser.reset();
    m_body_offset = 0;
    m_body_received = 0;
    // Pad bytes that follow this response need no server.
    if (!fill_pad_bytes(host)) return step::stop;
    if (closes) {
        // Nothing after this answer is parsed: the connection ends here.
        m_failed = true;
        host.server_closes();
        return step::stop;
    }
    return step::next;
}

void web_protocol::on_receive(lt::error_code const& ec, char const* data, int n, web_protocol_host& host)
{
    m_in_place_room = 0;
    if (ec || m_failed) {
        host.received_bytes(0, n);
        return;
    }
    m_recv.erase(m_recv.begin(), m_recv.begin() + std::ptrdiff_t(m_recv_start));
    m_recv_start = 0;
    m_recv.insert(m_recv.end(), data, data + n);

    // Every pass either waits for more bytes, ends the connection, or
    // completes a response, which consumed at least its header: the loop
    // ends.
    for (;;) {
        if (!m_response_parser.header_finished() && header_step(n, host) == step::stop) return;
        if (body_step(n, host) == step::stop) return;
    }
}

lt::span<char> web_protocol::read_destination(web_protocol_host& host)
{
    m_in_place_room = 0;
    // Body bytes already in the buffer (or the next response's) are parsed
    // first; a block assembled in m_partial_block finishes there.
    if (m_failed || !m_response_parser.header_finished() || !m_partial_block.empty()) return {};
    if (recv_size() != std::size_t(m_body_offset)) return {};
    range64 r{};
    range_refusal why;
    if (!checked_range(r, why)) return {}; // on_receive ends the connection on the first body byte
    lt::peer_request const& front = m_block_requests.front();
    std::int64_t const at = r.begin + m_body_received;
    // A range that starts elsewhere, or has nothing left for the front
    // block, is refused the same way.
    if (at != position(front) + m_in_place || at >= r.end) return {};
    char* const dest = host.block_destination(front);
    if (!dest) return {};
    std::int64_t end = position(front) + front.length;
    for (std::size_t i = 1; i < m_block_requests.size(); ++i) {
        lt::peer_request const& b = m_block_requests[i];
        if (b.piece != front.piece || position(b) != end) break;
        end += b.length;
    }
    end = std::min(end, r.end);
    // Pad bytes are the machine's to fill, never the server's to send.
    for (pad_range const& z : m_pad_ranges)
        if (z.start >= at && z.start < end) end = z.start;
    if (end <= at) return {};
    m_in_place_room = end - at;
    return {dest + m_in_place, std::ptrdiff_t(m_in_place_room)};
}

void web_protocol::on_receive_in_place(lt::error_code const& ec, int n, web_protocol_host& host)
{
    std::int64_t const room = m_in_place_room;
    m_in_place_room = 0;
    if (ec || m_failed) {
        host.received_bytes(0, n);
        return;
    }
    if (n <= 0) return;
    if (n > room) {
        // A read that read_destination did not allow: its bytes may hold
        // the next response's header, written where no parser sees it.
        fail(errors::http_error, 2, n, host);
        return;
    }
    range64 r{};
    if (!response_range(r, n, host)) return;
    host.received_bytes(n, 0);
    host.add_source_traffic(n, 0);
    m_range_position += n;
    m_block_position += n;
    // The bytes lie back to back from the front block's next byte on,
    // inside the run of its piece that the response carries.
    for (int left = n; left > 0;) {
        lt::peer_request const& front = m_block_requests.front();
        int const c = std::min(left, front.length - m_in_place);
        m_in_place += c;
        m_body_received += c;
        left -= c;
        if (m_in_place == front.length && !deliver_front(host)) return;
    }
    if (m_body_received == r.end - r.begin) {
        complete_response(host);
    } else if (m_block_requests.empty()) {
        // The range goes on past every block asked for: ended now, as the
        // buffered path ends it, not when its next byte comes.
        if (m_response_parser.status_code() == 200) host.range_ignored();
        int accounted = 0; // this read's bytes were counted as payload above
        fail(errors::http_error, 2, accounted, host);
    }
}

bool web_protocol::downloading_piece_progress(piece_progress& p) const
{
    if (m_block_requests.empty()) return false;
    lt::peer_request const& front = m_block_requests.front();
    int const B = m_geo.block_size;
    p.piece = front.piece;
    p.bytes_downloaded = m_block_position % B;
    p.block_index = m_block_position != 0 ? (front.start + m_block_position - 1) / B : front.start / B;
    p.full_block_bytes = B;
    int const last_piece = m_geo.num_pieces() - 1;
    int const last_size = m_geo.piece_size(lt::piece_index_t(last_piece));
    if (int(front.piece) == last_piece && p.block_index == last_size / B) p.full_block_bytes = last_size % B;
    return true;
}

} // namespace tg
