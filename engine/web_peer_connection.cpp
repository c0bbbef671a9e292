#include "engine/web_peer_connection.hpp"

#include "engine/tls_receive.hpp"
#include "engine/url_components.hpp"

#include <boost/asio/connect.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <array>

namespace tg {

namespace asio = boost::asio;

web_peer_connection::web_peer_connection(engine_core& core, std::shared_ptr<torrent_sources> const& t,
    lt::tcp::endpoint remote, lt::tcp::endpoint connect_to, std::string const& url, std::string const& origin_url,
    std::int32_t source_id)
    : m_core(core)
    , m_torrent(t)
    , m_remote(remote)
    , m_connect_to(connect_to)
    , m_source_id(source_id)
    , m_origin_url(origin_url)
    , m_owner(core.next_connection_number++)
    , m_client_label("Direct HTTP")
    , m_protocol(url, t->geometry)
    , m_socket(core.ioc)
    , m_timer(core.ioc)
    , m_read_buffer(new char[read_size])
{
    lt::error_code ec;
    url_components const c = parse_url_components(url, ec);
    if (!ec && c.protocol == "https") {
        m_tls = std::make_unique<tls_channel>(core.tls_context(), c.host);
        m_cipher_buffer.reset(new char[read_size]);
    }
}

void web_peer_connection::start()
{
    if (m_disconnecting) return;
    m_queued = true;
    m_core.connect_queue.push_back(weak_from_this());
    m_core.pump_connect_queue();
}

void web_peer_connection::connect()
{
    if (m_disconnecting) return;
    m_queued = false;
    m_connecting = true;
    ++m_core.half_open;
    auto self = shared_from_this();
    m_timer.expires_after(std::chrono::seconds(std::max(1, m_core.settings.peer_connect_timeout)));
    m_timer.async_wait([w = weak_from_this()](lt::error_code const& ec) {
        if (ec) return;
        auto c = w.lock();
        if (!c) return;
        c->guarded([&] {
            if (c->m_connecting) c->disconnect(lt::errors::timed_out, 1);
        });
    });
    m_socket.async_connect(m_connect_to, [self](lt::error_code const& ec) { self->guarded([&] { self->on_connected(ec); }); });
}

void web_peer_connection::on_connected(lt::error_code const& ec)
{
    if (m_connecting) {
        m_connecting = false;
        --m_core.half_open;
        m_core.pump_connect_queue();
    }
    if (m_disconnecting) return;
    if (ec) {
        disconnect(ec, 1);
        return;
    }
    m_timer.cancel();
    lt::error_code ignore;
    m_socket.set_option(asio::ip::tcp::no_delay(true), ignore);
    m_last_receive = std::chrono::steady_clock::now();
    if (m_tls) {
        // Nothing of HTTP goes out before the server has proved who it is.
        m_handshaking = true;
        arm_inactivity_timer();
        lt::error_code hec;
        m_tls->handshake(hec);
        send_tls_output();
        if (hec) {
            tls_handshake_failed(hec);
            return;
        }
        read_more();
        return;
    }
    start_http();
}

void web_peer_connection::start_http()
{
    m_established = true;
    if (auto t = torrent()) {
        // The label the source's rows show, also when this connection ends
        // before any collection exports it (a finished torrent ends them).
        if (direct_http_source* s = t->registry.find_direct_http_source(m_source_id)) s->client = m_client_label;
    }
    m_last_block = m_core.clock.now();
    if (!m_tls) {
        // Over TLS the timer and the reads are already running.
        arm_inactivity_timer();
        read_more();
    }
    request_pieces();
}

void web_peer_connection::arm_inactivity_timer()
{
    int const timeout = std::max(1, m_core.settings.urlseed_timeout);
    m_timer.expires_at(m_last_receive + std::chrono::seconds(timeout));
    m_timer.async_wait([w = weak_from_this()](lt::error_code const& ec) {
        if (ec) return;
        auto c = w.lock();
        if (!c) return;
        c->guarded([&] {
            if (c->m_disconnecting) return;
            int const timeout = std::max(1, c->m_core.settings.urlseed_timeout);
            if (std::chrono::steady_clock::now() - c->m_last_receive >= std::chrono::seconds(timeout))
                c->disconnect(lt::errors::timed_out_inactivity, 1);
            else
                c->arm_inactivity_timer();
        });
    });
}

bool web_peer_connection::wants_more_pieces(torrent_sources const& t) const
{
    if (!m_established || m_disconnecting || m_in_receive) return false;
    if (t.removed || !t.picker.ready()) return false;
    return int(m_pieces.size()) < std::max(1, m_core.settings.urlseed_pipeline_size);
}

void web_peer_connection::request_pieces()
{
    auto t = torrent();
    if (!t || m_waiting_to_request || !wants_more_pieces(*t)) return;
    m_waiting_to_request = true;
    m_core.want_requests.push_back(weak_from_this());
}

void web_peer_connection::request_now(bool allowed)
{
    m_waiting_to_request = false;
    auto t = torrent();
    if (!t || !wants_more_pieces(*t)) return;
    if (!allowed || t->checking_or_finished) {
        // Paused (or nothing left to fetch) since the last tick: no new
        // request, and the connection ends as the tick would end it.
        disconnect(lt::errors::torrent_paused, 0);
        return;
    }
    int const pipeline = std::max(1, m_core.settings.urlseed_pipeline_size);
    url_state const& u = t->health[m_origin_url];
    int const untrusted = untrusted_piece_limit(t->picker.ready() ? t->geometry.num_pieces() : 1);
    // A server that closes connections after a number of requests gets no
    // more on one: requests past its limit would be lost with the close.
    int const cap = u.requests_per_connection;
    while (int(m_pieces.size()) < pipeline && (cap <= 0 || m_requests_sent < cap)) {
        // A URL whose pieces failed, and none passed since, gets only a few
        // at a time until one passes: wrong files cost a few pieces, not the
        // game, however many connections it has.
        bool const may_take = u.trusted || url_pieces_under_way(*t, m_origin_url) < untrusted;
        lt::piece_index_t p = may_take ? t->picker.pick(m_owner) : http_piece_picker::no_piece;
        // Nothing left to hand out (or to this URL yet): an idle connection
        // takes a second copy of a piece another one holds, so a slow
        // connection's pieces do not hold back the others.
        if (p == http_piece_picker::no_piece && m_pieces.empty()) p = t->picker.pick_duplicate(m_owner);
        if (p == http_piece_picker::no_piece) break;
        if (m_pieces.empty()) m_last_block = m_core.clock.now();
        m_pieces.push_back(p);
        lt::peer_request r;
        r.piece = p;
        // A piece an ended connection left half received: only the rest.
        r.start = t->picker.first_missing_block(p, m_owner);
        r.length = t->picker.piece_size(p) - r.start;
        // One send per request text, as the engine would send it.
        std::size_t const asked = m_protocol.http_requests().size();
        std::string text = m_protocol.write_request(r, m_core.settings.request);
        m_requests_sent += int(m_protocol.http_requests().size() - asked);
        if (!text.empty()) send(std::move(text));
        // Pad bytes at the head of the queue are filled at once; a piece
        // of pad bytes alone completes here.
        if (!m_protocol.fill_pad_bytes(*this)) return;
    }
}

void web_peer_connection::send(std::string text)
{
    int const request_bytes = int(text.size());
    if (m_tls) {
        lt::error_code ec;
        m_tls->write(text.data(), text.size(), ec);
        if (ec) {
            disconnect(ec, 1);
            return;
        }
        text = m_tls->take_output();
    }
    m_send_queue.push_back({std::move(text), request_bytes});
    write_more();
}

void web_peer_connection::send_tls_output()
{
    std::string bytes = m_tls->take_output();
    if (bytes.empty()) return;
    m_send_queue.push_back({std::move(bytes), 0});
    write_more();
}

void web_peer_connection::write_more()
{
    if (m_writing || m_send_queue.empty() || m_disconnecting || m_write_failed) return;
    m_writing = true;
    auto self = shared_from_this();
    asio::async_write(m_socket, asio::buffer(m_send_queue.front().wire), [self](lt::error_code const& ec, std::size_t) {
        self->guarded([&] {
            self->m_writing = false;
            if (self->m_disconnecting) return;
            // The request's bytes count once all of its wire bytes are out.
            int const sent = self->m_send_queue.front().request_bytes;
            if (sent > 0 || ec) self->m_protocol.on_sent(ec, sent, *self);
            if (ec) {
                // A server that closed after its last answers refuses the
                // requests past them; those answers may still lie unread.
                // The read sees the close, takes them and decides; nothing
                // more is written.
                self->m_write_failed = true;
                self->m_send_queue.clear();
                return;
            }
            self->m_send_queue.pop_front();
            self->write_more();
        });
    });
}

void web_peer_connection::read_on()
{
    if (!m_waiting_for_budget || m_disconnecting) return;
    m_waiting_for_budget = false;
    read_more();
}

void web_peer_connection::read_more()
{
    auto self = shared_from_this();
    // Under a rate limit a read takes no more than the budget holds; with
    // none left the connection waits for its next top-up.
    std::size_t size = read_size;
    if (auto t = torrent()) {
        size = t->budget.grant(read_size);
        if (size == 0) {
            m_waiting_for_budget = true;
            t->waiting_for_budget.push_back(weak_from_this());
            return;
        }
    }
    if (m_tls) {
        // The whole read is ciphertext: it is decrypted into the pieces
        // (or the read buffer) afterwards, record by record.
        m_socket.async_read_some(asio::buffer(m_cipher_buffer.get(), size),
            [self](lt::error_code const& ec, std::size_t n) { self->guarded([&] { self->on_tls_read(ec, n); }); });
        return;
    }
    // One read fills the body's place in its piece first, then the buffer
    // with what follows (the next response's header): reads in place are
    // not cut short at each response's end.
    lt::span<char> const in_place = m_protocol.read_destination(*this);
    m_read_placed = std::min(std::size_t(in_place.size()), size);
    std::array<asio::mutable_buffer, 2> const to = {
        asio::buffer(in_place.data(), m_read_placed), asio::buffer(m_read_buffer.get(), size - m_read_placed)};
    m_socket.async_read_some(to, [self](lt::error_code const& ec, std::size_t n) {
        self->guarded([&] { self->on_read(ec, n); });
    });
}

void web_peer_connection::on_read(lt::error_code const& ec, std::size_t n)
{
    if (m_disconnecting) return;
    auto t = torrent(); // the torrent lives for the whole run
    if (!t) {
        disconnect(lt::errors::invalid_torrent_handle, 0);
        return;
    }
    if (n > 0) m_last_receive = std::chrono::steady_clock::now();
    t->budget.spend(n);
    take_in(ec && n == 0 ? ec : lt::error_code(), n);
    if (m_disconnecting) return;
    if (ec) {
        drain_socket(*t, ec);
        if (!m_disconnecting) socket_ended(ec);
        return;
    }
    read_next(*t);
}

void web_peer_connection::take_in(lt::error_code const& ec, std::size_t n)
{
    m_in_receive = true;
    std::size_t const placed = std::min(n, m_read_placed);
    if (m_read_placed > 0) m_protocol.on_receive_in_place(ec, int(placed), *this);
    if (m_read_placed == 0 || n > placed) m_protocol.on_receive(ec, m_read_buffer.get(), int(n - placed), *this);
    m_in_receive = false;
}

void web_peer_connection::drain_socket(torrent_sources& t, lt::error_code const& why)
{
    if (why == asio::error::operation_aborted) return;
    lt::error_code ec;
    m_socket.non_blocking(true, ec);
    // Bounded: what a server sent before its reset, not a stream after it.
    for (int reads = 0; !ec && !m_disconnecting && reads < 64; ++reads) {
        std::size_t n = 0;
        if (m_tls) {
            n = m_socket.read_some(asio::buffer(m_cipher_buffer.get(), read_size), ec);
            if (n == 0) return;
            t.budget.spend(n);
            m_tls->feed(m_cipher_buffer.get(), n);
            if (!receive_plaintext()) return;
            continue;
        }
        lt::span<char> const in_place = m_protocol.read_destination(*this);
        m_read_placed = std::min(std::size_t(in_place.size()), read_size);
        std::array<asio::mutable_buffer, 2> const to = {
            asio::buffer(in_place.data(), m_read_placed), asio::buffer(m_read_buffer.get(), read_size - m_read_placed)};
        n = m_socket.read_some(to, ec);
        if (n == 0) return;
        t.budget.spend(n);
        take_in(lt::error_code(), n);
    }
}

void web_peer_connection::socket_ended(lt::error_code const& ec)
{
    if (m_protocol.answers() > 0) {
        end_after_answers();
        return;
    }
    disconnect(ec, 0);
}

void web_peer_connection::server_closes() { end_after_answers(); }

void web_peer_connection::end_after_answers()
{
    if (m_disconnecting) return;
    if (auto t = torrent()) {
        int const answered = m_protocol.answers();
        url_state& u = t->health[m_origin_url];
        if (!m_protocol.http_requests().empty() && answered > 0
            && (u.requests_per_connection <= 0 || answered < u.requests_per_connection)) {
            u.requests_per_connection = answered;
            m_core.write_log("Direct HTTP URL " + loggable_url(m_origin_url) + ": the server closes connections after "
                + std::to_string(answered) + (answered == 1 ? " answer" : " answers")
                + "; each connection now sends at most " + std::to_string(answered)
                + (answered == 1 ? " request" : " requests"));
        }
    }
    m_reconnect_now = true;
    disconnect_quietly(asio::error::eof, 0);
}

void web_peer_connection::read_next(torrent_sources const& t)
{
    if (t.removed || !t.handle.is_valid()) {
        disconnect(lt::errors::invalid_torrent_handle, 0);
        return;
    }
    auto const health = t.health.find(m_origin_url);
    int const cap = health == t.health.end() ? 0 : health->second.requests_per_connection;
    if (cap > 0 && m_requests_sent >= cap && m_protocol.http_requests().empty()) {
        // All this connection may ask is answered: a new one asks on.
        end_after_answers();
        return;
    }
    request_pieces();
    read_more();
}

void web_peer_connection::on_tls_read(lt::error_code const& ec, std::size_t n)
{
    if (m_disconnecting) return;
    auto t = torrent();
    if (!t) {
        disconnect(lt::errors::invalid_torrent_handle, 0);
        return;
    }
    if (n > 0) {
        m_last_receive = std::chrono::steady_clock::now();
        t->budget.spend(n);
        m_tls->feed(m_cipher_buffer.get(), n);
    }
    if (m_handshaking) {
        lt::error_code hec;
        bool const done = m_tls->handshake(hec);
        send_tls_output();
        if (!hec && ec) hec = ec == asio::error::eof ? lt::error_code(asio::ssl::error::stream_truncated) : ec;
        if (hec) {
            tls_handshake_failed(hec);
            return;
        }
        if (done) {
            m_handshaking = false;
            start_http();
            if (m_disconnecting) return;
            // Application data may have come with the handshake's last records.
            if (!receive_plaintext()) return;
        }
        read_more();
        return;
    }
    if (!receive_plaintext()) return;
    if (ec) {
        drain_socket(*t, ec);
        if (m_disconnecting) return;
        // The socket ended without the server's close_notify: whatever the
        // response machine still waited for was cut off, as on TCP.
        lt::error_code const why = ec == asio::error::eof ? lt::error_code(asio::ssl::error::stream_truncated) : ec;
        m_in_receive = true;
        m_protocol.on_receive(why, nullptr, 0, *this);
        m_in_receive = false;
        if (!m_disconnecting) socket_ended(why);
        return;
    }
    read_next(*t);
}

bool web_peer_connection::receive_plaintext()
{
    m_in_receive = true;
    lt::error_code const ec = tg::receive_plaintext(*m_tls, m_protocol, *this, m_read_buffer.get(), read_size,
        [this] { return m_disconnecting; });
    m_in_receive = false;
    if (m_disconnecting) return false;
    if (ec == asio::error::eof) {
        // The server's close_notify: a clean end.
        socket_ended(ec);
        return false;
    }
    if (ec) {
        // A failure of the TLS layer (its line names OpenSSL's reason).
        disconnect(ec, 1);
        return false;
    }
    // Alerts or a key update the reads produced.
    send_tls_output();
    return !m_disconnecting;
}

void web_peer_connection::tls_handshake_failed(lt::error_code const& ec)
{
    auto t = torrent();
    std::string const reason = m_tls->failure_reason().empty() ? ec.message() : m_tls->failure_reason();
    if (!t || !m_tls->certificate_refused()) {
        // The server went away during the handshake: a failed connect, tried
        // again as one.
        disconnect(ec, 1);
        return;
    }
    // A server that cannot prove who it is gets nothing, and will not prove
    // it a second later: its URL waits out the give-up time, one line said.
    give_up_url(m_core, *t, m_origin_url, "TLS: " + reason);
    disconnect_quietly(ec, 1);
}

void web_peer_connection::disconnect_quietly(lt::error_code const& ec, int severity)
{
    m_quiet = true;
    disconnect(ec, severity);
}

void web_peer_connection::disconnect(lt::error_code const& ec, int severity)
{
    if (m_disconnecting) return;
    m_disconnecting = true;
    if (m_connecting) {
        m_connecting = false;
        --m_core.half_open;
    }
    m_queued = false;
    lt::error_code ignore;
    m_timer.cancel();
    m_socket.close(ignore);
    auto t = torrent();
    if (t) {
        // Their buffers stay with this connection until it is destroyed,
        // after its last read has completed.
        // Their whole blocks stay with the pieces for the next connection.
        for (lt::piece_index_t p : m_pieces)
            if (piece_buffer b = t->picker.release_keeping_blocks(p, m_owner)) m_retired_buffers.push_back(std::move(b));
        m_pieces.clear();
        auto& v = t->connections;
        v.erase(std::remove(v.begin(), v.end(), shared_from_this()), v.end());
    }
    int const redundant = m_protocol.block_position();
    std::string const line = "disconnected: " + ec.message() + " (severity " + std::to_string(severity)
        + (redundant ? ", " + std::to_string(redundant) + " bytes unused" : "") + ")";
    if (!m_quiet) log_failure(t.get(), ec.message(), line);
    m_core.pump_connect_queue();
    if (m_reconnect_now && t) reconnect_now(m_core, t, m_source_id);
}

void web_peer_connection::log_failure(torrent_sources* t, std::string const& reason, std::string const& line)
{
    std::string const who = source_label(m_source_id) + " ";
    direct_http_source* s = t ? t->registry.find_direct_http_source(m_source_id) : nullptr;
    if (!s) {
        m_core.write_log(who + line);
        return;
    }
    // A server that keeps failing the same way is reported once, then by a
    // count at 1, 2, 4, 8... repeats and when something else happens, not
    // once a second.
    if (reason == s->last_failure) {
        int const n = ++s->repeated_failures;
        if ((n & (n - 1)) == 0)
            m_core.write_log(who + "failed " + std::to_string(n) + " more times: " + s->last_failure);
        return;
    }
    if (s->repeated_failures > 0)
        m_core.write_log(who + "failed " + std::to_string(s->repeated_failures) + " more times: " + s->last_failure);
    s->last_failure = reason;
    s->repeated_failures = 0;
    m_core.write_log(who + line);
}

void web_peer_connection::end_on_exception(std::exception const* e) noexcept
{
    try {
        m_core.write_log(
            source_label(m_source_id) + " connection ended by an exception: " + (e ? e->what() : "unknown"));
    } catch (...) {
    }
    try {
        disconnect(lt::errors::no_memory, 2);
    } catch (...) {
        // Close at least the socket; the tick finds the connection gone
        // from its torrent or ends it at the next pause.
        m_disconnecting = true;
        lt::error_code ignore;
        m_socket.close(ignore);
    }
}

void web_peer_connection::received_bytes(int payload, int protocol)
{
    m_total_download += payload + protocol;
    if (auto t = torrent()) {
        t->traffic.payload_download += payload;
        t->traffic.protocol_download += protocol;
    }
}

void web_peer_connection::sent_bytes(int payload, int protocol)
{
    m_total_upload += payload + protocol;
    if (auto t = torrent()) t->traffic.upload += payload + protocol;
}

void web_peer_connection::add_source_traffic(int received, int sent)
{
    auto t = torrent();
    if (!t) return;
    if (direct_http_source* s = t->registry.find_direct_http_source(m_source_id)) {
        s->total_download += received;
        s->total_upload += sent;
    }
}

bool web_peer_connection::incoming_piece(lt::peer_request const& block, char const* data)
{
    auto t = torrent();
    if (!t || t->removed) return false;
    lt::piece_index_t const piece = block.piece;
    if (direct_http_source* s = t->registry.find_direct_http_source(m_source_id); s && !s->last_failure.empty()) {
        // The source serves again: the next failure is news.
        if (s->repeated_failures > 0)
            m_core.write_log(source_label(m_source_id) + " serves again after "
                + std::to_string(s->repeated_failures) + " more failures: " + s->last_failure);
        s->last_failure.clear();
        s->repeated_failures = 0;
    }
    piece_buffer whole;
    if (!t->picker.held_by(piece, m_owner)) return true; // a copy another connection completed first
    m_last_block = m_core.clock.now();
    if (direct_http_source* s = t->registry.find_direct_http_source(m_source_id)) s->redirects = 0;
    t->health[m_origin_url].busy_in_a_row = 0;
    if (t->picker.block_received(piece, block.start, data, block.length, whole, m_owner)) {
        auto it = std::find(m_pieces.begin(), m_pieces.end(), piece);
        if (it != m_pieces.end()) m_pieces.erase(it);
        // Handed to the engine once the lock is released (finish_handler).
        t->ready_pieces.push_back({piece, std::move(whole)});
        t->delivered_by[piece] = m_origin_url;
        // The first whole copy wins.
        auto const others = t->connections;
        for (auto const& c : others)
            if (c.get() != this) c->drop_piece(piece);
    }
    return true;
}

void web_peer_connection::drop_piece(lt::piece_index_t piece)
{
    auto it = std::find(m_pieces.begin(), m_pieces.end(), piece);
    if (it == m_pieces.end()) return;
    m_pieces.erase(it);
    auto t = torrent();
    if (!t) return;
    // A read of this connection may still be writing into the copy.
    if (piece_buffer b = t->picker.release_taking_buffer(piece, m_owner)) m_retired_buffers.push_back(std::move(b));
    request_pieces();
}

bool web_peer_connection::stalled(time_point now) const
{
    return m_established && !m_disconnecting && !m_pieces.empty() && now - m_last_block >= stalled_piece_time;
}

char* web_peer_connection::block_destination(lt::peer_request const& block)
{
    auto t = torrent();
    if (!t || t->removed) return nullptr;
    return t->picker.block_destination(block.piece, block.start, m_owner);
}

bool web_peer_connection::incoming_piece_in_place(lt::peer_request const& block)
{
    auto t = torrent();
    if (!t || t->removed) return false;
    // The bytes are where block_received would copy them: it copies nothing.
    return incoming_piece(block, t->picker.block_destination(block.piece, block.start, m_owner));
}

void web_peer_connection::source_refused(int status, std::string const& retry_after, std::string const& date)
{
    auto t = torrent();
    if (!t) return;
    if (status == 503) {
        // The wait is the URL's: every source of it waits it out, those the
        // connection rule adds meanwhile too. A 503 to a request sent before
        // the wait began is the same refusal, not one more in a row.
        time_point const now = m_core.clock.now();
        url_state& u = t->health[m_origin_url];
        if (u.busy_until <= now) ++u.busy_in_a_row;
        std::int64_t const epoch = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::system_clock::now().time_since_epoch()).count();
        int const wait = busy_wait_seconds(retry_after_seconds(retry_after, date, epoch),
            m_core.settings.urlseed_wait_retry, u.busy_in_a_row);
        u.busy_until = std::max(u.busy_until, now + std::chrono::seconds(wait));
        if (direct_http_source* s = t->registry.find_direct_http_source(m_source_id)) {
            t->registry.retry_later(*s, 0);
            s->retry_at = u.busy_until;
        }
        return;
    }
    t->registry.remove_direct_http_source(m_source_id);
}

void web_peer_connection::range_ignored()
{
    auto t = torrent();
    if (!t) return;
    url_state& u = t->health[m_origin_url];
    if (++u.ignored_ranges >= ignored_ranges_to_give_up) {
        u.ignored_ranges = 0;
        give_up_url(m_core, *t, m_origin_url,
            "the server ignored Range " + std::to_string(ignored_ranges_to_give_up) + " times (200 with the whole file)");
    }
}

void web_peer_connection::source_redirected(std::string const& url)
{
    auto t = torrent();
    if (!t) return;
    direct_http_source* s = t->registry.find_direct_http_source(m_source_id);
    if (!s) return;
    // A loop of redirects (A to B to A) ends the source as a failed one.
    if (++s->redirects > max_redirects) {
        m_core.write_log(source_label(m_source_id, s->origin_url) + ": more than " + std::to_string(max_redirects)
            + " redirects in a row; ended");
        t->registry.remove_direct_http_source(m_source_id);
        return;
    }
    s->url = url;
    s->state = direct_http_source::idle;
}

void web_peer_connection::erase_source()
{
    auto t = torrent();
    if (!t) return;
    t->registry.remove_direct_http_source(m_source_id);
}

void web_peer_connection::url_seed_alert(std::string const& url, std::string const& message)
{
    // The URL without its credentials, the server's words cut short and
    // without control bytes: a log line stays one readable line.
    m_core.write_log(source_label(m_source_id, url) + ": " + printable_text(message, 200));
}

} // namespace tg
