// One Direct-HTTP connection: an HTTP/1.1 keep-alive connection to the
// publisher's file server serving one source, which fetches whole pieces
// with range requests and hands them to the engine. An https URL makes it a
// TLS connection: after the handshake the same requests and responses go
// through its tls_channel.
#pragma once

#include "engine/tls_channel.hpp"
#include "engine/torrent_sources.hpp"
#include "engine/web_protocol.hpp"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <deque>
#include <memory>
#include <string>

namespace tg {

// Threads: every member runs on the component's network thread with the
// component's lock held (completion handlers take it first). A connection
// knows its torrent weakly and its source by number only.
class web_peer_connection : public std::enable_shared_from_this<web_peer_connection>, private web_protocol_host
{
public:
    // `remote` is the chosen address of the source's host; `connect_to` is
    // where the TCP connection goes (the HTTP proxy, or `remote`).
    // `origin_url` is the URL the source was added with (`url` may be a
    // redirect's).
    web_peer_connection(engine_core& core, std::shared_ptr<torrent_sources> const& t, lt::tcp::endpoint remote,
        lt::tcp::endpoint connect_to, std::string const& url, std::string const& origin_url, std::int32_t source_id);

    // Queues the TCP connect in the component's half-open queue.
    void start();
    // Called by the queue when a connect slot is free.
    void connect();
    void disconnect(lt::error_code const& ec, int severity) override;
    // Ends it without a log line of its own, where the caller's line says
    // why (a URL given up ends all its connections for one reason).
    void disconnect_quietly(lt::error_code const& ec, int severity);

    std::int32_t source_id() const { return m_source_id; }
    bool queued() const { return m_queued; }
    bool connecting() const { return m_connecting; }
    // Connected over TCP, the TLS handshake still under way.
    bool handshaking() const { return m_handshaking; }
    bool established() const { return m_established; }
    bool disconnecting() const { return m_disconnecting; }
    lt::tcp::endpoint const& remote() const { return m_remote; }
    std::string const& client_label() const { return m_client_label; }
    web_protocol const& protocol() const { return m_protocol; }
    std::int64_t total_download() const { return m_total_download; }
    std::int64_t total_upload() const { return m_total_upload; }

    // Wants more pieces while fewer than the pipeline are outstanding: the
    // connection waits in the component's list until finish_handler has
    // asked the engine, then request_now sends the requests.
    void request_pieces();
    // The engine's answer: `allowed` false (paused, upload mode, gone)
    // ends the connection as a pause would; else pieces are picked and
    // asked for until the pipeline is full.
    void request_now(bool allowed);
    std::shared_ptr<torrent_sources> torrent() const { return m_torrent.lock(); }
    std::string const& origin_url() const { return m_origin_url; }
    std::deque<lt::piece_index_t> const& pieces() const { return m_pieces; }
    // Another connection delivered a piece this one holds a copy of: the
    // copy goes, and the bytes still coming for it are dropped.
    void drop_piece(lt::piece_index_t piece);
    // Reads on after waiting for its torrent's rate budget.
    void read_on();
    // Holds pieces and has gained no whole block for stalled_piece_time by
    // the component's clock.
    bool stalled(time_point now) const;

private:
    void on_connected(lt::error_code const& ec);
    // The connection carries HTTP from here on: after the TCP connect, or
    // after the TLS handshake.
    void start_http();
    void read_more();
    void on_read(lt::error_code const& ec, std::size_t n);
    // `n` bytes of a plain read, where read_more (or drain_socket) put them.
    void take_in(lt::error_code const& ec, std::size_t n);
    // A read ended with `why` (a reset, or the end of the stream): what the
    // socket still holds (answers the server sent before it) is read now,
    // without waiting, before the close is acted on. Under Wine a close can
    // end the pending read at once, with the answers unread.
    void drain_socket(torrent_sources& t, lt::error_code const& why);
    // After a read that ended nothing: more requests if there is room,
    // and the next read; the end when the torrent went.
    void read_next(torrent_sources const& t);
    // TLS: the ciphertext of one socket read, through the handshake or into
    // the response machine; then the socket's error, if any.
    void on_tls_read(lt::error_code const& ec, std::size_t n);
    void tls_handshake_failed(lt::error_code const& ec);
    // The server ended the connection after whole answers (it said so, or
    // closed or reset it): no failure of the source. A server that left
    // requests unanswered teaches the URL its limit; the source connects
    // again at once.
    void end_after_answers();
    // A read ended with the socket's error `ec`: after whole answers the
    // server's close, before any a failure.
    void socket_ended(lt::error_code const& ec);
    // Decrypts what has arrived into the response machine, in place where
    // it gives a destination. False once the connection ended.
    bool receive_plaintext();
    // Queues the TLS output (handshake records, alerts) for the socket.
    void send_tls_output();
    void send(std::string text);
    void write_more();
    void arm_inactivity_timer();
    // Runs a completion handler's work under the component's lock, then
    // what it left for after the lock. An exception ends this connection
    // (logged), never the network thread.
    template <class F>
    void guarded(F&& f)
    {
        {
            std::lock_guard<std::recursive_mutex> l(m_core.mutex);
            try {
                f();
            } catch (std::exception const& e) {
                end_on_exception(&e);
            } catch (...) {
                end_on_exception(nullptr);
            }
        }
        m_core.finish_handler();
    }
    bool wants_more_pieces(torrent_sources const& t) const;
    void end_on_exception(std::exception const* e) noexcept;
    // Writes a failure's line, or only counts it when the source failed the
    // same way the last time.
    void log_failure(torrent_sources* t, std::string const& reason, std::string const& line);

    // web_protocol_host
    void received_bytes(int payload, int protocol) override;
    void sent_bytes(int payload, int protocol) override;
    void add_source_traffic(int received, int sent) override;
    bool incoming_piece(lt::peer_request const& block, char const* data) override;
    char* block_destination(lt::peer_request const& block) override;
    bool incoming_piece_in_place(lt::peer_request const& block) override;
    void source_refused(int status, std::string const& retry_after, std::string const& date) override;
    void range_ignored() override;
    void source_redirected(std::string const& url) override;
    void server_closes() override;
    void erase_source() override;
    void url_seed_alert(std::string const& url, std::string const& message) override;

    engine_core& m_core;
    std::weak_ptr<torrent_sources> m_torrent;
    lt::tcp::endpoint m_remote;
    lt::tcp::endpoint m_connect_to;
    std::int32_t m_source_id;
    std::string m_origin_url;
    int m_owner; // this connection's number in the piece picker
    time_point m_last_block{}; // by the component's clock: established, a block, or a first piece
    std::string m_client_label;
    web_protocol m_protocol;
    boost::asio::ip::tcp::socket m_socket;
    boost::asio::steady_timer m_timer;
    // Reads are large: under Wine each socket read costs far more than the
    // copies of its bytes (bench/web_read_bench.sh: about 170 MiB/s with
    // reads of 64 KiB, 1000 with reads of 1 MiB). Body bytes with a place in
    // their piece are read straight there; the bytes past that place, in the
    // same read, and all others come through this buffer.
    static constexpr std::size_t read_size = 1024 * 1024;
    std::unique_ptr<char[]> m_read_buffer;
    // Piece buffers a read may still write into after the connection ended.
    std::vector<piece_buffer> m_retired_buffers;
    std::size_t m_read_placed = 0; // bytes of the read under way that go to read_destination's span
    // Bytes for the socket, each with the request bytes it carries (the
    // plaintext it encrypts, over TLS) for the traffic counts.
    struct outgoing
    {
        std::string wire;
        int request_bytes = 0;
    };
    std::deque<outgoing> m_send_queue;
    std::unique_ptr<tls_channel> m_tls; // https only
    // TLS: the socket's bytes land here, read_size at a time, before they
    // are decrypted.
    std::unique_ptr<char[]> m_cipher_buffer;
    bool m_handshaking = false;
    // Ends without a line of its own: the line that ended it said why.
    bool m_quiet = false;
    // Its source connects again as soon as it has ended.
    bool m_reconnect_now = false;
    int m_requests_sent = 0; // HTTP requests (GETs) written on this connection
    bool m_waiting_for_budget = false; // no read under way until the budget's top-up
    bool m_writing = false;
    bool m_write_failed = false; // the socket refused a write: nothing more goes out
    bool m_queued = false;
    bool m_connecting = false;
    bool m_established = false;
    bool m_disconnecting = false;
    bool m_in_receive = false;
    bool m_waiting_to_request = false; // in the component's want_requests
    std::deque<lt::piece_index_t> m_pieces; // pieces requested, in request order
    std::int64_t m_total_download = 0;
    std::int64_t m_total_upload = 0;
    std::chrono::steady_clock::time_point m_last_receive;
};

} // namespace tg
