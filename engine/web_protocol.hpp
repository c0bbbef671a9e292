// The HTTP side of one Direct-HTTP connection, without its socket: request
// texts for the blocks the component wants, and the response machine that
// turns the server's bytes into delivered blocks and source outcomes.
// web_peer_connection owns one and moves bytes between it and the socket.
#pragma once

#include "engine/http_response_parser.hpp"

#include <libtorrent/error_code.hpp>
#include <libtorrent/file_storage.hpp>
#include <libtorrent/peer_request.hpp>
#include <libtorrent/span.hpp>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace tg {

// The torrent facts the requests and responses need.
struct torrent_geometry
{
    int piece_length = 0;
    int block_size = 16 * 1024;
    std::string name;                          // the torrent's name
    lt::file_storage const* files = nullptr;   // the file list before renaming
    int num_files() const { return files ? files->num_files() : 0; }
    int piece_size(lt::piece_index_t p) const { return files->piece_size(p); }
    int num_pieces() const { return files->num_pieces(); }
};

// The session settings the request texts use.
struct request_settings
{
    std::string user_agent;
    int proxy_type = 0; // the engine's proxy types; 4 http, 5 http with password
    std::string proxy_username;
    std::string proxy_password;
};

// What the response machine does to the world. Every call is made on the
// component's network thread with the component's lock held.
class web_protocol_host
{
public:
    virtual ~web_protocol_host() = default;
    // Statistics of the connection (payload and protocol bytes).
    virtual void received_bytes(int payload, int protocol) = 0;
    virtual void sent_bytes(int payload, int protocol) = 0;
    // Adds to the source record's totals, when the record still exists.
    virtual void add_source_traffic(int received, int sent) = 0;
    // A complete block; `data` is valid only during the call. Returns false
    // when the torrent is gone: the machine stops at once.
    virtual bool incoming_piece(lt::peer_request const& block, char const* data) = 0;
    // Where the bytes of `block` (one block request of a piece taken by this
    // connection) may be written in place: its piece's buffer at block.start,
    // with at least block.length bytes — and the blocks that follow it in the
    // same piece are contiguous after it. nullptr when they cannot (the bytes
    // then come through incoming_piece as today). Once it has given one for a
    // block, it gives one again (holding the bytes written there) until the
    // block is delivered; a socket read into it may still be under way when
    // the connection ends, so the buffer must outlive that read.
    virtual char* block_destination(lt::peer_request const& block) = 0;
    // A block whose bytes were all written in place at block_destination(block).
    // Same meaning and return value as incoming_piece.
    virtual bool incoming_piece_in_place(lt::peer_request const& block) = 0;
    // Status outside 200, 206 and 300-399: 503 parks the source in
    // retry_wait, for as long as `retry_after` (the field, empty when
    // absent; `date` is the response's Date field) or the back-off says; any
    // other erases it.
    virtual void source_refused(int status, std::string const& retry_after, std::string const& date) = 0;
    // A 200 answer with the whole file where a range was asked (the server
    // ignores Range); the connection is ended right after.
    virtual void range_ignored() = 0;
    // A redirect: the source's URL becomes `url` and it is idle again.
    virtual void source_redirected(std::string const& url) = 0;
    // The source failed for good.
    virtual void erase_source() = 0;
    // A whole answer said the server closes the connection after it
    // ("Connection: close", or HTTP/1.0 without keep-alive): requests sent
    // after it will not be answered.
    virtual void server_closes() = 0;
    // The report of a refusal (the component's log; alerts are not posted).
    virtual void url_seed_alert(std::string const& url, std::string const& message) = 0;
    // Ends the connection; severity as the engine grades it (0, 1, 2).
    virtual void disconnect(lt::error_code const& ec, int severity) = 0;
};

class web_protocol
{
public:
    web_protocol(std::string url, torrent_geometry const& geometry);

    // The request text (one or several GETs) for r, a run of blocks of one
    // piece. Completes the URL on the first call. Pad files are never asked
    // for: their ranges are kept, and their zeros filled in by
    // fill_pad_bytes. Empty when r holds pad bytes only.
    std::string write_request(lt::peer_request const& r, request_settings const& settings);

    // Puts zeros where the assembly has reached a pad range, delivering the
    // blocks they complete. The response machine calls it after each
    // response; the caller calls it after write_request, for pads that come
    // before any response. False when the torrent is gone or the connection
    // was ended.
    bool fill_pad_bytes(web_protocol_host& host);

    // `data` has just arrived: appended to the receive buffer and parsed.
    void on_receive(lt::error_code const& ec, char const* data, int n, web_protocol_host& host);

    // Where the next socket read may put the body bytes straight into their
    // piece's buffer: from the front block's next byte to the end of the run
    // of back-to-back block requests of its piece that the response under
    // way still carries. Empty when the next read must go through
    // on_receive: outside a response's body, while the receive buffer holds
    // body bytes, for a front block assembled in the partial-block buffer,
    // for a range the machine is to refuse, or without a destination.
    lt::span<char> read_destination(web_protocol_host& host);
    // `n` bytes were read to the start of the span that the last
    // read_destination gave (nothing else ran on the machine in between but
    // write_request and fill_pad_bytes). Counted and delivered as on_receive
    // would, completing the response when its range is done.
    void on_receive_in_place(lt::error_code const& ec, int n, web_protocol_host& host);
    void on_sent(lt::error_code const& ec, int n, web_protocol_host& host);

    struct piece_progress
    {
        lt::piece_index_t piece{-1};
        int block_index = 0;
        int bytes_downloaded = 0;
        int full_block_bytes = 0;
    };
    // False when no block is under way.
    bool downloading_piece_progress(piece_progress& p) const;

    std::deque<lt::peer_request> const& block_requests() const { return m_block_requests; }
    std::deque<int> const& http_requests() const { return m_http_requests; }
    std::string const& full_url() const { return m_full_url; }
    std::string const& url_path() const { return m_url_path; }
    std::string const& url_host() const { return m_url_host; }
    // Bytes received toward blocks that were never delivered.
    int block_position() const { return m_block_position; }
    // Whole answers (200 or 206, all of their range) so far.
    int answers() const { return m_answers; }
    std::size_t receive_buffer_size() const { return recv_size(); }

private:
    // The response's range in torrent positions, end exclusive.
    struct range64
    {
        std::int64_t begin;
        std::int64_t end;
    };
    // The response machine, one step per state of the current response:
    // its header, then its body. Each step either lets the machine go on
    // (next) or stops it until more bytes come or for good (stop).
    enum class step { next, stop };
    std::int64_t position(int piece, int start) const { return std::int64_t(piece) * m_geo.piece_length + start; }
    std::int64_t position(lt::peer_request const& b) const { return position(int(b.piece), b.start); }
    step header_step(int& n, web_protocol_host& host);
    step body_step(int& n, web_protocol_host& host);
    step complete_response(web_protocol_host& host);
    // How the connection ends for a response range that is refused.
    struct range_refusal
    {
        lt::error_code ec;
        int severity = 0;
        bool erase = false; // the source is erased too
    };
    // The range of the response under way, checked against the requested
    // file; false with the reason when it is refused.
    bool checked_range(range64& r, range_refusal& why) const;
    // As checked_range; false after ending the connection.
    bool response_range(range64& r, int& n, web_protocol_host& host);
    // The front block's bytes so far, wherever it is assembled.
    int front_filled() const { return m_in_place + int(m_partial_block.size()); }
    // Adds `c` bytes (a copy of `data`, or zeros when it is null) to the
    // front block where it is assembled; false after ending the connection.
    bool add_to_front(char const* data, int c, int& n, web_protocol_host& host);
    // Hands over the front block once all its bytes are there; false when
    // the torrent is gone.
    bool deliver_front(web_protocol_host& host);
    void cut_receive_buffer(int size);
    // Ends the connection, counting the bytes `n` still holds as protocol
    // bytes; the machine parses nothing after it.
    void fail(lt::error_code const& ec, int severity, int& n, web_protocol_host& host);
    void failure_path(int& n, web_protocol_host& host);
    void redirect_path(int& n, web_protocol_host& host);
    std::string file_path(int file_index) const;

    torrent_geometry m_geo;
    std::deque<lt::peer_request> m_block_requests;
    std::deque<int> m_http_requests;
    http_response_parser m_response_parser;
    std::string m_basic_auth;
    std::string m_url_host;
    std::string m_url_path;
    std::string m_full_url;
    bool m_first_request_pending = true;
    // A front block that does not come whole from one receive buffer is
    // assembled in one place, chosen when its first bytes arrive: at its
    // destination in its piece's buffer when the host gives one (then its
    // later bytes, from the buffer, a read in place or a pad, go there too),
    // else in m_partial_block. At most one of the two is non-empty.
    std::vector<char> m_partial_block;
    int m_in_place = 0;  // the front block's bytes written at its destination
    int m_front_pad = 0; // pad zeros among the front block's bytes so far
    // Bytes the last read_destination allowed; 0 when it gave none or the
    // machine has moved on since.
    std::int64_t m_in_place_room = 0;
    // Pad bytes not yet filled in, in request order: their position in the
    // torrent and the number of the block request that holds their start.
    struct pad_range
    {
        std::int64_t block;
        std::int64_t start;
        std::int64_t length;
    };
    std::deque<pad_range> m_pad_ranges;
    std::int64_t m_blocks_written = 0; // block requests ever queued
    int m_body_offset = 0;
    std::int64_t m_body_received = 0;
    std::int64_t m_range_position = 0;
    int m_block_position = 0;
    int m_answers = 0;
    bool m_failed = false; // the connection was ended, or the torrent is gone: nothing more is parsed
    // The receive buffer: bytes not yet cut start at m_recv_start.
    char const* recv_data() const { return m_recv.data() + m_recv_start; }
    std::size_t recv_size() const { return m_recv.size() - m_recv_start; }
    std::vector<char> m_recv;
    std::size_t m_recv_start = 0;
};

} // namespace tg
