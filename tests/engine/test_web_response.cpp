// The response machine of a Direct-HTTP connection against byte streams,
// each fed whole and split at every chunk size.
#include "engine/web_protocol.hpp"
#include "web_protocol_recorder.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace tg {
namespace {

using test::delivered_block;
using test::web_protocol_recorder;

// Small blocks keep the every-chunk-size runs short: pieces of 32 bytes,
// blocks of 16.
constexpr int piece_length = 32;
constexpr int block_size = 16;

std::string file_bytes(int file, std::int64_t offset, std::int64_t n)
{
    std::string s;
    for (std::int64_t i = 0; i < n; ++i) s += char('a' + (file * 7 + offset + i) % 26);
    return s;
}

struct torrent_fixture
{
    lt::file_storage fs;
    torrent_geometry geo;

    explicit torrent_fixture(std::vector<std::pair<std::string, std::int64_t>> const& files)
    {
        std::int64_t total = 0;
        for (auto const& [p, s] : files) {
            // Paths under ".pad/" are pad files, as the engine names them.
            bool const pad = p.find("/.pad/") != std::string::npos;
            fs.add_file(p, s, pad ? lt::file_storage::flag_pad_file : lt::file_flags_t{});
            total += s;
        }
        fs.set_piece_length(piece_length);
        fs.set_num_pieces(int((total + piece_length - 1) / piece_length));
        geo.piece_length = piece_length;
        geo.block_size = block_size;
        geo.name = files.size() == 1 ? files[0].first : files[0].first.substr(0, files[0].first.find('/'));
        geo.files = &fs;
    }
};

lt::peer_request req(int piece, int start, int length)
{
    lt::peer_request r;
    r.piece = lt::piece_index_t(piece);
    r.start = start;
    r.length = length;
    return r;
}

std::string response_206(std::int64_t first, std::int64_t last, std::string const& body, std::int64_t total = 1000)
{
    return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(last)
        + "/" + std::to_string(total) + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// How a run's reads reach the machine.
enum class reads
{
    buffered,        // through on_receive, the host giving no destinations
    buffered_placed, // through on_receive, the host giving destinations
    in_place,        // to read_destination's span whenever it offers one
    spilling,        // as in_place, what passes the span through on_receive
    mixed,           // asks every time, reads in place every other time
};
constexpr reads every_reads[] = {reads::buffered, reads::buffered_placed, reads::in_place, reads::spilling, reads::mixed};

char const* name(reads m)
{
    switch (m) {
    case reads::buffered: return "buffered";
    case reads::buffered_placed: return "buffered with destinations";
    case reads::in_place: return "in place";
    case reads::spilling: return "spilling";
    case reads::mixed: return "mixed";
    }
    return "?";
}

std::vector<int> piece_sizes(torrent_fixture const& t)
{
    std::vector<int> v;
    for (int p = 0; p < t.fs.num_pieces(); ++p) v.push_back(t.fs.piece_size(lt::piece_index_t(p)));
    return v;
}

// Feeds `stream` to `w` in reads of at most `chunk` bytes (0: as few reads as
// the mode allows), the way `mode` says, stopping after a disconnect;
// `after_read` runs after each read. Returns the bytes read in place.
std::int64_t feed(web_protocol& w, web_protocol_recorder& rec, std::string const& stream, std::size_t chunk, reads mode,
    std::function<void()> const& after_read = {})
{
    if (chunk == 0) chunk = stream.size();
    std::int64_t in_place = 0;
    for (std::size_t i = 0, count = 0; i < stream.size() && rec.disconnects == 0; ++count) {
        std::size_t n = std::min(chunk, stream.size() - i);
        lt::span<char> to;
        if (mode == reads::in_place || mode == reads::spilling || mode == reads::mixed) to = w.read_destination(rec);
        if (mode == reads::mixed && count % 2 == 0) to = {};
        if (!to.empty()) {
            std::size_t const placed = std::min(n, std::size_t(to.size()));
            std::memcpy(to.data(), stream.data() + i, placed);
            w.on_receive_in_place(lt::error_code(), int(placed), rec);
            in_place += std::int64_t(placed);
            // One read: the bytes past the span come in the same call.
            if (mode == reads::spilling && n > placed)
                w.on_receive(lt::error_code(), stream.data() + i + placed, int(n - placed), rec);
            else
                n = placed;
        } else {
            w.on_receive(lt::error_code(), stream.data() + i, int(n), rec);
        }
        i += n;
        if (after_read) after_read();
    }
    return in_place;
}

struct run_result
{
    web_protocol_recorder rec;
    std::size_t blocks_left = 0;
    std::size_t http_left = 0;
    std::size_t most_buffered = 0; // the receive buffer's largest size after a read
    std::int64_t read_in_place = 0;
    reads mode = reads::buffered;
};

// Sets up a connection with `requests` written, feeds `stream` in chunks of
// `chunk` bytes (0: all at once) as `mode` says, stopping after a
// disconnect.
run_result run(torrent_fixture const& t, std::string const& url, std::vector<lt::peer_request> const& requests,
    std::string const& stream, std::size_t chunk, reads mode = reads::buffered)
{
    run_result r;
    r.mode = mode;
    if (mode != reads::buffered) r.rec.give_destinations(piece_sizes(t));
    web_protocol w(url, t.geo);
    for (auto const& q : requests) {
        w.write_request(q, request_settings{"UA", 0, "", ""});
        w.fill_pad_bytes(r.rec);
    }
    r.read_in_place = feed(w, r.rec, stream, chunk, mode,
        [&] { r.most_buffered = std::max(r.most_buffered, w.receive_buffer_size()); });
    r.blocks_left = w.block_requests().size();
    r.http_left = w.http_requests().size();
    return r;
}

// Runs the stream whole and at every chunk size, each way of reading;
// `check` sees every outcome.
void every_split(torrent_fixture const& t, std::string const& url, std::vector<lt::peer_request> const& requests,
    std::string const& stream, std::function<void(run_result const&, std::size_t chunk)> const& check)
{
    for (reads const mode : every_reads) {
        for (std::size_t chunk = 0; chunk <= stream.size(); ++chunk) {
            run_result const r = run(t, url, requests, stream, chunk, mode);
            check(r, chunk);
            // Whatever the bytes, no write lands past a piece.
            EXPECT_TRUE(r.rec.guards_intact());
            if (mode == reads::buffered) {
                EXPECT_EQ(r.rec.in_place_blocks, 0);
            }
            if (::testing::Test::HasFailure()) {
                ADD_FAILURE() << "first failing chunk size " << chunk << ", reads " << name(mode);
                return;
            }
        }
    }
}

TEST(WebResponse, RangeResponsesDeliverBlocksAndCountTraffic)
{
    torrent_fixture const t({{"g.bin", 100}});
    std::string const body = file_bytes(0, 32, 32);
    std::string const stream = response_206(32, 63, body, 100);
    every_split(t, "http://h/g.bin", {req(1, 0, 32)}, stream, [&](run_result const& r, std::size_t chunk) {
        ASSERT_EQ(r.rec.blocks.size(), 2u) << chunk;
        EXPECT_EQ(r.rec.blocks[0], (delivered_block{1, 0, body.substr(0, 16)}));
        EXPECT_EQ(r.rec.blocks[1], (delivered_block{1, 16, body.substr(16)}));
        EXPECT_EQ(r.rec.disconnects, 0);
        EXPECT_EQ(r.rec.payload, 32);
        EXPECT_EQ(r.rec.source_down, 32);
        EXPECT_EQ(r.rec.protocol, std::int64_t(stream.size() - 32));
        EXPECT_EQ(r.blocks_left, 0u);
        EXPECT_EQ(r.http_left, 0u);
    });
}

TEST(WebResponse, TwoResponsesInOneRead)
{
    torrent_fixture const t({{"g.bin", 100}});
    std::string const stream = response_206(0, 31, file_bytes(0, 0, 32), 100) + response_206(32, 63, file_bytes(0, 32, 32), 100);
    run_result const r = run(t, "http://h/g.bin", {req(0, 0, 32), req(1, 0, 32)}, stream, 0);
    ASSERT_EQ(r.rec.blocks.size(), 4u);
    EXPECT_EQ(r.rec.blocks[3], (delivered_block{1, 16, file_bytes(0, 48, 16)}));
    EXPECT_EQ(r.rec.source_down, 64);
    EXPECT_EQ(r.http_left, 0u);
}

TEST(WebResponse, BlockAcrossTwoResponsesIsDeliveredOnce)
{
    // Files of 40 and 60 bytes: piece 1 (32..63) holds a's bytes 32..39 and
    // c's bytes 0..23, so its first block (32..47) straddles both responses.
    torrent_fixture const t({{"G/a.bin", 40}, {"G/c.bin", 60}});
    std::string const stream = response_206(32, 39, file_bytes(0, 32, 8), 40) + response_206(0, 23, file_bytes(1, 0, 24), 60);
    every_split(t, "http://h/G/", {req(1, 0, 32)}, stream, [&](run_result const& r, std::size_t chunk) {
        ASSERT_EQ(r.rec.blocks.size(), 2u) << chunk;
        EXPECT_EQ(r.rec.blocks[0], (delivered_block{1, 0, file_bytes(0, 32, 8) + file_bytes(1, 0, 8)}));
        EXPECT_EQ(r.rec.blocks[1], (delivered_block{1, 16, file_bytes(1, 8, 16)}));
        EXPECT_EQ(r.rec.disconnects, 0);
        EXPECT_EQ(r.rec.source_down, 32);
        EXPECT_EQ(r.http_left, 0u);
    });
}

TEST(WebResponse, PlainOkWithLengthServesFromByteZero)
{
    torrent_fixture const t({{"g.bin", 32}});
    std::string const body = file_bytes(0, 0, 32);
    std::string const stream = "HTTP/1.1 200 OK\r\nContent-Length: 32\r\n\r\n" + body;
    every_split(t, "http://h/g.bin", {req(0, 0, 32)}, stream, [&](run_result const& r, std::size_t chunk) {
        ASSERT_EQ(r.rec.blocks.size(), 2u) << chunk;
        EXPECT_EQ(r.rec.blocks[1].data, body.substr(16));
    });
}

std::string zeros(int n) { return std::string(std::size_t(n), '\0'); }

// Torrents with pad files, as hybrid torrents carry them: the pads' bytes
// are zeros that no response brings.
struct pad_row
{
    char const* what;
    torrent_fixture const& t;
    std::vector<lt::peer_request> requests;
    std::string stream;
    std::vector<delivered_block> blocks;
    std::int64_t payload;
};

TEST(WebResponse, PadBytesAreZerosInTheirPlace)
{
    // a 0..39, pad 40..63, c 64..113, pad 114..127, d 128..137: pieces 1
    // and 3 end in pads, piece 1's second block is pad bytes alone.
    torrent_fixture const tails({{"G/a.bin", 40}, {"G/.pad/24", 24}, {"G/c.bin", 50}, {"G/.pad/14", 14}, {"G/d.bin", 10}});
    // a 0..7, pad 8..63, b 64..79: piece 1 is pad bytes alone.
    torrent_fixture const whole({{"G/a.bin", 8}, {"G/.pad/56", 56}, {"G/b.bin", 16}});
    auto a = [](int o, int n) { return file_bytes(0, o, n); };
    auto c = [](int o, int n) { return file_bytes(2, o, n); };
    auto d = [](int o, int n) { return file_bytes(4, o, n); };
    auto b = [](int o, int n) { return file_bytes(2, o, n); };
    std::vector<pad_row> const rows = {
        {"pieces ending in pads", tails, {req(1, 0, 32), req(3, 0, 32)},
            response_206(32, 39, a(32, 8), 40) + response_206(32, 49, c(32, 18), 50),
            {{1, 0, a(32, 8) + zeros(8)}, {1, 16, zeros(16)}, {3, 0, c(32, 16)}, {3, 16, c(48, 2) + zeros(14)}}, 26},
        {"requested out of order", tails, {req(3, 0, 32), req(1, 0, 32)},
            response_206(32, 49, c(32, 18), 50) + response_206(32, 39, a(32, 8), 40),
            {{3, 0, c(32, 16)}, {3, 16, c(48, 2) + zeros(14)}, {1, 0, a(32, 8) + zeros(8)}, {1, 16, zeros(16)}}, 26},
        {"every piece", tails, {req(0, 0, 32), req(1, 0, 32), req(2, 0, 32), req(3, 0, 32), req(4, 0, 10)},
            response_206(0, 31, a(0, 32), 40) + response_206(32, 39, a(32, 8), 40) + response_206(0, 31, c(0, 32), 50)
                + response_206(32, 49, c(32, 18), 50) + response_206(0, 9, d(0, 10), 10),
            {{0, 0, a(0, 16)}, {0, 16, a(16, 16)}, {1, 0, a(32, 8) + zeros(8)}, {1, 16, zeros(16)}, {2, 0, c(0, 16)},
                {2, 16, c(16, 16)}, {3, 0, c(32, 16)}, {3, 16, c(48, 2) + zeros(14)}, {4, 0, d(0, 10)}},
            100},
        {"a piece of pad bytes between two", whole, {req(0, 0, 32), req(1, 0, 32), req(2, 0, 16)},
            response_206(0, 7, a(0, 8), 8) + response_206(0, 15, b(0, 16), 16),
            {{0, 0, a(0, 8) + zeros(8)}, {0, 16, zeros(16)}, {1, 0, zeros(16)}, {1, 16, zeros(16)}, {2, 0, b(0, 16)}}, 24},
        {"a piece of pad bytes after the last response", whole, {req(2, 0, 16), req(1, 0, 32), req(0, 0, 32)},
            response_206(0, 15, b(0, 16), 16) + response_206(0, 7, a(0, 8), 8),
            {{2, 0, b(0, 16)}, {1, 0, zeros(16)}, {1, 16, zeros(16)}, {0, 0, a(0, 8) + zeros(8)}, {0, 16, zeros(16)}}, 24},
    };
    for (auto const& row : rows) {
        every_split(row.t, "http://h/", row.requests, row.stream, [&](run_result const& r, std::size_t chunk) {
            EXPECT_EQ(r.rec.blocks, row.blocks) << row.what << " chunk " << chunk;
            EXPECT_EQ(r.rec.disconnects, 0) << row.what;
            EXPECT_EQ(r.rec.payload, row.payload) << row.what;
            EXPECT_EQ(r.rec.source_down, row.payload) << row.what;
            EXPECT_EQ(r.blocks_left, 0u) << row.what;
            EXPECT_EQ(r.http_left, 0u) << row.what;
        });
    }
}

TEST(WebResponse, PieceOfPadBytesAloneCompletesWithoutARequest)
{
    torrent_fixture const t({{"G/a.bin", 8}, {"G/.pad/56", 56}, {"G/b.bin", 16}});
    web_protocol w("http://h/", t.geo);
    web_protocol_recorder rec;
    EXPECT_EQ(w.write_request(req(1, 0, 32), request_settings{"UA", 0, "", ""}), "");
    EXPECT_TRUE(w.http_requests().empty());
    ASSERT_TRUE(w.fill_pad_bytes(rec));
    EXPECT_EQ(rec.blocks, (std::vector<delivered_block>{{1, 0, zeros(16)}, {1, 16, zeros(16)}}));
    EXPECT_TRUE(w.block_requests().empty());
    EXPECT_EQ(w.block_position(), 0);
    // Filling twice adds nothing; a torrent gone stops the filling.
    ASSERT_TRUE(w.fill_pad_bytes(rec));
    EXPECT_EQ(rec.blocks.size(), 2u);
    w.write_request(req(1, 0, 32), request_settings{});
    rec.torrent_alive = false;
    EXPECT_FALSE(w.fill_pad_bytes(rec));
    EXPECT_EQ(rec.blocks.size(), 3u);
}

struct outcome_row
{
    char const* what;
    std::string stream;
    char const* url;
    bool multi_file;
    lt::error_code ec;
    int severity;
    std::vector<int> refused;
    std::vector<std::string> redirects;
    int erased;
    std::int64_t source_down;
};

TEST(WebResponse, EveryPathOfTheStatusTable)
{
    namespace e = lt::errors;
    std::vector<outcome_row> const rows = {
        {"503", "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 1\r\n\r\n", "http://h/g.bin", false, e::http_error, 1, {503}, {}, 0, 0},
        {"404", "HTTP/1.1 404 Not Found\r\n\r\n", "http://h/g.bin", false, e::http_error, 1, {404}, {}, 0, 0},
        {"status known before the header ends", "HTTP/1.1 404 Not Found\r\nX-Half: ", "http://h/g.bin", false, e::http_error, 1, {404}, {}, 0, 0},
        {"500 with body", "HTTP/1.0 500 Oops\r\nContent-Length: 3\r\n\r\nabc", "http://h/g.bin", false, e::http_error, 1, {500}, {}, 0, 0},
        {"301 without location", "HTTP/1.1 301 Moved\r\n\r\n", "http://h/g.bin", false, e::missing_location, 2, {}, {}, 1, 0},
        {"302 single-file: whole location", "HTTP/1.1 302 Found\r\nLocation: http://m/other.bin\r\n\r\n", "http://h/g.bin", false,
            e::redirecting, 2, {}, {"http://m/other.bin"}, 0, 0},
        {"302 multi-file: cut at the last file path",
            "HTTP/1.1 302 Found\r\nlocation: http://m/G/a%20x.bin/mirror/G/a%20x.bin\r\n\r\n", "http://h/", true,
            e::redirecting, 2, {}, {"http://m/G/a%20x.bin/mirror/"}, 0, 0},
        {"302 multi-file without the file path", "HTTP/1.1 302 Found\r\nLocation: http://m/elsewhere\r\n\r\n", "http://h/", true,
            e::invalid_redirection, 2, {}, {}, 1, 0},
        {"206 end before start", "HTTP/1.1 206 Partial\r\nContent-Range: bytes 20-10/32\r\n\r\nxx", "http://h/g.bin", false,
            e::invalid_range, 0, {}, {}, 1, 0},
        {"206 negative start", "HTTP/1.1 206 Partial\r\nContent-Range: bytes -4-10/32\r\n\r\nxx", "http://h/g.bin", false,
            e::invalid_range, 0, {}, {}, 1, 0},
        {"206 without Content-Range", "HTTP/1.1 206 Partial\r\nContent-Length: 2\r\n\r\nxx", "http://h/g.bin", false,
            e::invalid_range, 0, {}, {}, 1, 0},
        {"200 without length", "HTTP/1.1 200 OK\r\n\r\nxxxx", "http://h/g.bin", false, e::no_content_length, 2, {}, {}, 1, 0},
        // Its first body bytes count as payload before the range is found
        // useless: as many as the first read brought (-1: one or more).
        {"range ending before the data", response_206(0, 9, "0123456789", 32), "http://h/g.bin", false,
            e::invalid_range, 2, {}, {}, 0, -1},
        {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n", "http://h/g.bin", false, e::http_parse_error, 2, {}, {}, 0, 0},
        // A chunked body is not the range's bytes: the source fails before
        // any of it counts or is delivered, whatever the case of the value.
        {"206 chunked", "HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-31/64\r\nTransfer-Encoding: chunked\r\n\r\n20\r\n"
            + std::string(32, 'x') + "\r\n0\r\n\r\n", "http://h/g.bin", false, e::http_error, 2, {}, {}, 1, 0},
        {"200 Chunked with a length", "HTTP/1.1 200 OK\r\nContent-Length: 64\r\nTransfer-Encoding: Chunked\r\n\r\n40\r\n",
            "http://h/g.bin", false, e::http_error, 2, {}, {}, 1, 0},
    };
    torrent_fixture const single({{"g.bin", 64}});
    torrent_fixture const multi({{"G/a x.bin", 40}, {"G/b.bin", 60}});
    for (auto const& r : rows) {
        torrent_fixture const& t = r.multi_file ? multi : single;
        // The "range ending before the data" row asks for piece 1 but gets
        // bytes 0..9.
        lt::peer_request const q = std::string(r.what).find("before the data") != std::string::npos ? req(1, 0, 32) : req(0, 0, 32);
        every_split(t, r.url, {q}, r.stream, [&](run_result const& res, std::size_t chunk) {
            EXPECT_EQ(res.rec.disconnect_ec, r.ec) << r.what << " chunk " << chunk << ": " << res.rec.disconnect_ec.message();
            EXPECT_EQ(res.rec.severity, r.severity) << r.what;
            EXPECT_EQ(res.rec.disconnects, 1) << r.what;
            EXPECT_EQ(res.rec.refused, r.refused) << r.what;
            EXPECT_EQ(res.rec.redirects, r.redirects) << r.what;
            EXPECT_EQ(res.rec.erased, r.erased) << r.what;
            if (r.source_down >= 0) EXPECT_EQ(res.rec.source_down, r.source_down) << r.what;
            else EXPECT_GT(res.rec.source_down, 0) << r.what;
            EXPECT_TRUE(res.rec.blocks.empty()) << r.what;
            EXPECT_EQ(res.rec.retry_after, r.refused == std::vector<int>{503} ? "1" : "") << r.what;
        });
    }
}

// The torrent's bytes from `at` on: its files' bytes, zeros in pads.
std::string torrent_bytes(torrent_fixture const& t, std::int64_t at, std::int64_t n)
{
    std::string s;
    for (std::int64_t i = at; i < at + n; ++i) {
        lt::file_index_t const f = t.fs.file_index_at_offset(i);
        s += t.fs.pad_file_at(f) ? '\0' : file_bytes(int(f), i - t.fs.file_offset(f), 1)[0];
    }
    return s;
}

// Every shape in which a piece's bytes arrive, each read through the
// buffer, in place, or mixed: the blocks delivered and the piece buffers
// hold the torrent's bytes, and the traffic counts stay those of the
// buffered reads.
TEST(WebResponse, PiecesAssembledInPlaceHoldTheTorrentsBytes)
{
    // 100 bytes: a last piece of 4.
    torrent_fixture const single({{"g.bin", 100}});
    torrent_fixture const one_piece({{"g.bin", 32}});
    // Piece 1's first block holds a's last 8 bytes and c's first 8.
    torrent_fixture const split({{"G/a.bin", 40}, {"G/c.bin", 60}});
    torrent_fixture const tails({{"G/a.bin", 40}, {"G/.pad/24", 24}, {"G/c.bin", 50}, {"G/.pad/14", 14}, {"G/d.bin", 10}});
    // Block 0 holds a, four pad bytes and b's first four bytes.
    torrent_fixture const inner({{"G/a.bin", 8}, {"G/.pad/4", 4}, {"G/b.bin", 52}});
    auto f = [](int file, int o, int n) { return file_bytes(file, o, n); };
    std::string const ok_100 = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + f(0, 0, 100);
    struct row
    {
        char const* what;
        torrent_fixture const& t;
        std::vector<lt::peer_request> requests;
        std::string stream;
        std::size_t http_left = 0; // requests the stream leaves unanswered
    } const rows[] = {
        {"pipelined ranges of one file", single, {req(0, 0, 32), req(1, 0, 32), req(2, 0, 32), req(3, 0, 4)},
            response_206(0, 31, f(0, 0, 32), 100) + response_206(32, 63, f(0, 32, 32), 100)
                + response_206(64, 95, f(0, 64, 32), 100) + response_206(96, 99, f(0, 96, 4), 100)},
        {"200 for a file of one piece", one_piece, {req(0, 0, 32)},
            "HTTP/1.1 200 OK\r\nContent-Length: 32\r\n\r\n" + f(0, 0, 32)},
        // The one answer serves the four requests; three stay open.
        {"200 for every piece at once", single, {req(0, 0, 32), req(1, 0, 32), req(2, 0, 32), req(3, 0, 4)}, ok_100, 3},
        {"a block in two files", split, {req(0, 0, 32), req(1, 0, 32), req(2, 0, 32), req(3, 0, 4)},
            response_206(0, 31, f(0, 0, 32), 40) + response_206(32, 39, f(0, 32, 8), 40) + response_206(0, 23, f(1, 0, 24), 60)
                + response_206(24, 55, f(1, 24, 32), 60) + response_206(56, 59, f(1, 56, 4), 60)},
        {"pads after files", tails, {req(0, 0, 32), req(1, 0, 32), req(2, 0, 32), req(3, 0, 32), req(4, 0, 10)},
            response_206(0, 31, f(0, 0, 32), 40) + response_206(32, 39, f(0, 32, 8), 40) + response_206(0, 31, f(2, 0, 32), 50)
                + response_206(32, 49, f(2, 32, 18), 50) + response_206(0, 9, f(4, 0, 10), 10)},
        {"a pad inside a block", inner, {req(0, 0, 32), req(1, 0, 32)},
            response_206(0, 7, f(0, 0, 8), 8) + response_206(0, 19, f(2, 0, 20), 52) + response_206(20, 51, f(2, 20, 32), 52)},
    };
    for (auto const& row : rows) {
        std::vector<delivered_block> expected;
        std::int64_t payload = 0;
        for (lt::peer_request const& q : row.requests) {
            for (int start = q.start; start < q.start + q.length; start += block_size) {
                int const length = std::min(block_size, q.start + q.length - start);
                std::int64_t const at = std::int64_t(int(q.piece)) * piece_length + start;
                expected.push_back({int(q.piece), start, torrent_bytes(row.t, at, length)});
            }
        }
        for (lt::file_index_t i : row.t.fs.file_range())
            if (!row.t.fs.pad_file_at(i)) payload += row.t.fs.file_size(i);
        std::string const url = row.t.fs.num_files() == 1 ? "http://h/g.bin" : "http://h/";
        every_split(row.t, url, row.requests, row.stream, [&](run_result const& r, std::size_t chunk) {
            EXPECT_EQ(r.rec.blocks, expected) << row.what << " chunk " << chunk;
            EXPECT_EQ(r.rec.disconnects, 0) << row.what << ": " << r.rec.disconnect_ec.message();
            EXPECT_EQ(r.rec.payload, payload) << row.what;
            EXPECT_EQ(r.rec.source_down, payload) << row.what;
            EXPECT_EQ(r.rec.protocol, std::int64_t(row.stream.size()) - payload) << row.what;
            EXPECT_EQ(r.blocks_left, 0u) << row.what;
            EXPECT_EQ(r.http_left, row.http_left) << row.what;
            if (r.mode != reads::buffered) {
                for (lt::peer_request const& q : row.requests) {
                    int const p = int(q.piece);
                    EXPECT_EQ(r.rec.pieces[std::size_t(p)].substr(0, std::size_t(q.length)),
                        torrent_bytes(row.t, std::int64_t(p) * piece_length, q.length))
                        << row.what << " piece " << p;
                }
            }
            // Read a byte at a time, every body byte goes straight to its
            // piece: the buffer sees the headers only.
            if ((r.mode == reads::in_place || r.mode == reads::spilling) && chunk == 1) {
                EXPECT_EQ(r.read_in_place, payload) << row.what;
                EXPECT_EQ(r.rec.in_place_blocks, int(expected.size())) << row.what;
            }
            if (r.mode == reads::buffered || r.mode == reads::buffered_placed) {
                EXPECT_EQ(r.read_in_place, 0);
            }
        });
    }
}

// The progress of the block under way reads the same whichever way its
// bytes came.
TEST(WebResponse, PieceProgressIsTheSameInPlace)
{
    torrent_fixture const t({{"g.bin", 100}});
    // One answer for pieces 1 to 3, the last one short.
    std::string const stream = response_206(32, 99, file_bytes(0, 32, 68), 100);
    std::vector<lt::peer_request> const requests = {req(1, 0, 32), req(2, 0, 32), req(3, 0, 4)};
    auto progress = [&](std::size_t bytes, std::size_t chunk, reads mode) {
        web_protocol w("http://h/g.bin", t.geo);
        web_protocol_recorder rec;
        if (mode != reads::buffered) rec.give_destinations(piece_sizes(t));
        for (auto const& q : requests) w.write_request(q, request_settings{});
        feed(w, rec, stream.substr(0, bytes), chunk, mode);
        web_protocol::piece_progress p;
        bool const under_way = w.downloading_piece_progress(p);
        return std::vector<int>{under_way, int(p.piece), p.block_index, p.bytes_downloaded, p.full_block_bytes,
            w.block_position(), int(rec.blocks.size())};
    };
    for (std::size_t bytes = 0; bytes <= stream.size(); ++bytes) {
        std::vector<int> const expected = progress(bytes, 0, reads::buffered);
        for (reads const mode : every_reads)
            for (std::size_t chunk : {std::size_t(1), std::size_t(5), std::size_t(16), std::size_t(0)})
                EXPECT_EQ(progress(bytes, chunk, mode), expected) << bytes << " bytes, " << name(mode) << ", chunk " << chunk;
    }
}

// A host or a caller that breaks the in-place contract ends the connection,
// rather than leaving bytes where no parser and no block sees them.
TEST(WebResponse, InPlaceMisuseEndsTheConnection)
{
    namespace e = lt::errors;
    torrent_fixture const t({{"g.bin", 64}});
    std::string const head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-31/64\r\n\r\n";
    std::string const body = file_bytes(0, 0, 32);
    auto receive = [](web_protocol& w, web_protocol_recorder& rec, std::string const& s) {
        w.on_receive(lt::error_code(), s.data(), int(s.size()), rec);
    };
    using act = std::function<void(web_protocol&, web_protocol_recorder&)>;
    struct row
    {
        char const* what;
        act steps;
        lt::error_code ec;
        int severity;
    } const rows[] = {
        {"destination withdrawn from a block begun through the buffer",
            [&](web_protocol& w, web_protocol_recorder& rec) {
                receive(w, rec, head + body.substr(0, 4));
                rec.destinations = false;
                receive(w, rec, body.substr(4));
            },
            e::invalid_torrent_handle, 0},
        {"destination withdrawn from a block begun by a read in place",
            [&](web_protocol& w, web_protocol_recorder& rec) {
                receive(w, rec, head);
                lt::span<char> const to = w.read_destination(rec);
                ASSERT_EQ(to.size(), 32);
                std::memcpy(to.data(), body.data(), 4);
                w.on_receive_in_place(lt::error_code(), 4, rec);
                rec.destinations = false;
                EXPECT_TRUE(w.read_destination(rec).empty());
                receive(w, rec, body.substr(4));
            },
            e::invalid_torrent_handle, 0},
        {"more bytes than offered",
            [&](web_protocol& w, web_protocol_recorder& rec) {
                receive(w, rec, head);
                ASSERT_EQ(w.read_destination(rec).size(), 32);
                w.on_receive_in_place(lt::error_code(), 33, rec);
            },
            e::http_error, 2},
        {"a read in place without an offer",
            [&](web_protocol& w, web_protocol_recorder& rec) {
                receive(w, rec, head);
                w.on_receive_in_place(lt::error_code(), 4, rec);
            },
            e::http_error, 2},
        {"an offer used after a read through the buffer",
            [&](web_protocol& w, web_protocol_recorder& rec) {
                receive(w, rec, head);
                ASSERT_FALSE(w.read_destination(rec).empty());
                receive(w, rec, body.substr(0, 4));
                w.on_receive_in_place(lt::error_code(), 4, rec);
            },
            e::http_error, 2},
    };
    for (auto const& row : rows) {
        web_protocol w("http://h/g.bin", t.geo);
        web_protocol_recorder rec;
        rec.give_destinations(piece_sizes(t));
        w.write_request(req(0, 0, 32), request_settings{});
        row.steps(w, rec);
        EXPECT_EQ(rec.disconnects, 1) << row.what;
        EXPECT_EQ(rec.disconnect_ec, row.ec) << row.what << ": " << rec.disconnect_ec.message();
        EXPECT_EQ(rec.severity, row.severity) << row.what;
        EXPECT_TRUE(rec.blocks.empty()) << row.what;
        EXPECT_TRUE(w.read_destination(rec).empty()) << row.what;
        EXPECT_TRUE(rec.guards_intact()) << row.what;
    }
}

// Servers that label their bodies wrongly, or send more than they label.
// Each response is followed by far more body bytes than any range it names.
TEST(WebResponse, ResponsesThatDoNotCarryTheAskedBytesEndTheConnection)
{
    namespace e = lt::errors;
    torrent_fixture const single({{"g.bin", 100}});
    // b.bin starts at byte 40 of the torrent.
    torrent_fixture const multi({{"G/a.bin", 40}, {"G/b.bin", 60}});
    std::string const flood(400, 'x');
    std::string const huge = "9223372036854775000";
    struct row
    {
        char const* what;
        torrent_fixture const& t;
        std::vector<lt::peer_request> requests;
        std::string stream;
        lt::error_code ec;
        int severity;
        int erased;
        int ignored_ranges = 0; // answers that tell the host Range was ignored
    } const rows[] = {
        // The body passes the end of its range; block 0's first bytes are
        // not in it at all.
        {"range shifted by 8 bytes", single, {req(0, 0, 32), req(1, 0, 32), req(2, 0, 32), req(3, 0, 4)},
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 8-52/128\r\n\r\n" + flood, e::invalid_range, 2, 0},
        {"range shifted back into the previous piece", single, {req(1, 0, 32), req(2, 0, 32)},
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 24-63/100\r\n\r\n" + flood, e::invalid_range, 2, 0},
        {"range ending past the file", single, {req(2, 0, 32)},
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 64-127/128\r\n\r\n" + flood, e::invalid_range, 0, 1},
        {"range starting past the file", single, {req(3, 0, 4)},
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 200-203/300\r\n\r\n" + flood, e::invalid_range, 0, 1},
        {"huge range numbers", single, {req(0, 0, 32)},
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + huge + "-9223372036854775806/*\r\n\r\n" + flood,
            e::invalid_range, 0, 1},
        {"huge content length", single, {req(0, 0, 32)},
            "HTTP/1.1 200 OK\r\nContent-Length: " + huge + "\r\n\r\n" + flood, e::invalid_range, 0, 1},
        {"huge range numbers past a file's offset", multi, {req(1, 0, 32)},
            "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 9223372036854775790-9223372036854775799/*\r\n\r\n"
                + flood,
            e::invalid_range, 0, 1},
        {"the whole file for piece 1", single, {req(1, 0, 32)},
            "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + file_bytes(0, 0, 100) + flood, e::invalid_range, 2, 0, 1},
        {"the whole file for pieces 0 and 1", single, {req(0, 0, 32), req(1, 0, 32)},
            "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + file_bytes(0, 0, 100), e::http_error, 2, 0, 1},
    };
    for (auto const& row : rows) {
        char const* const url = &row.t == &single ? "http://h/g.bin" : "http://h/";
        every_split(row.t, url, row.requests, row.stream, [&](run_result const& r, std::size_t chunk) {
            EXPECT_EQ(r.rec.disconnects, 1) << row.what << " chunk " << chunk;
            EXPECT_EQ(r.rec.disconnect_ec, row.ec) << row.what << ": " << r.rec.disconnect_ec.message();
            EXPECT_EQ(r.rec.severity, row.severity) << row.what;
            EXPECT_EQ(r.rec.erased, row.erased) << row.what;
            EXPECT_EQ(r.rec.ignored_ranges, row.ignored_ranges) << row.what;
            if (row.requests.front().piece != lt::piece_index_t(0)) {
                EXPECT_TRUE(r.rec.blocks.empty()) << row.what;
            }
            EXPECT_LE(r.rec.source_down, 100) << row.what;
            // One header and less than a block, plus the read that ended it.
            EXPECT_LT(r.most_buffered, 100 + block_size + (chunk ? chunk : row.stream.size())) << row.what;
        });
    }
}

TEST(WebResponse, WholeFileAnswerServesConsecutivePiecesFromPieceZero)
{
    // A server that ignores ranges still serves the pieces asked in order
    // from the start; what it sends beyond them ends the connection.
    torrent_fixture const t({{"g.bin", 100}});
    std::string const stream = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n" + file_bytes(0, 0, 100);
    every_split(t, "http://h/g.bin", {req(0, 0, 32), req(1, 0, 32)}, stream, [&](run_result const& r, std::size_t chunk) {
        ASSERT_EQ(r.rec.blocks.size(), 4u) << chunk;
        EXPECT_EQ(r.rec.blocks[2], (delivered_block{1, 0, file_bytes(0, 32, 16)}));
        EXPECT_EQ(r.rec.disconnect_ec, lt::error_code(lt::errors::http_error));
        EXPECT_EQ(r.rec.erased, 0);
    });
}

TEST(WebResponse, ShiftedRangeWithRealBlockSizesEndsAtOnce)
{
    // A whole-piece request of 64 KiB answered 8 bytes late, running on into
    // the next piece, with 16 KiB blocks.
    lt::file_storage fs;
    fs.add_file("g.bin", 4 * 65536);
    fs.set_piece_length(65536);
    fs.set_num_pieces(4);
    torrent_geometry geo;
    geo.piece_length = 65536;
    geo.block_size = 16 * 1024;
    geo.name = "g.bin";
    geo.files = &fs;
    std::string const stream = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 8-65543/262144\r\n\r\n"
        + std::string(4 * 65536, 'y');
    for (reads const mode : every_reads) {
        for (std::size_t chunk : {std::size_t(1460), std::size_t(16384), std::size_t(65536), stream.size()}) {
            web_protocol w("http://h/g.bin", geo);
            web_protocol_recorder rec;
            if (mode != reads::buffered) rec.give_destinations({65536, 65536, 65536, 65536});
            w.write_request(req(0, 0, 65536), request_settings{});
            w.write_request(req(1, 0, 65536), request_settings{});
            std::size_t most = 0;
            std::int64_t const in_place = feed(w, rec, stream, chunk, mode, [&] { most = std::max(most, w.receive_buffer_size()); });
            EXPECT_EQ(rec.disconnect_ec, lt::error_code(lt::errors::invalid_range)) << chunk << " " << name(mode);
            EXPECT_EQ(rec.erased, 0) << chunk;
            EXPECT_TRUE(rec.blocks.empty()) << chunk;
            EXPECT_EQ(in_place, 0) << chunk;
            EXPECT_LE(most, 100 + std::max<std::size_t>(chunk, 16384)) << chunk;
            EXPECT_TRUE(rec.guards_intact());
        }
    }
}

TEST(WebResponse, RefusalAlertCarriesStatusAndReason)
{
    torrent_fixture const t({{"g.bin", 64}});
    run_result const r = run(t, "http://h/dl/", {req(0, 0, 32)}, "HTTP/1.1 404 Not Found\r\n\r\n", 0);
    ASSERT_EQ(r.rec.alerts.size(), 1u);
    EXPECT_EQ(r.rec.alerts[0], "http://h/dl/g.bin | 404 Not Found");
}

TEST(WebResponse, StatusLineSplitOverTwoReadsWaits)
{
    torrent_fixture const t({{"g.bin", 64}});
    web_protocol w("http://h/g.bin", t.geo);
    w.write_request(req(0, 0, 32), request_settings{});
    web_protocol_recorder rec;
    std::string const a = "HTTP/1.1 50", b = "3 Busy\r\n\r\n";
    w.on_receive(lt::error_code(), a.data(), int(a.size()), rec);
    EXPECT_EQ(rec.disconnects, 0);
    EXPECT_TRUE(rec.refused.empty());
    w.on_receive(lt::error_code(), b.data(), int(b.size()), rec);
    EXPECT_EQ(rec.refused, std::vector<int>{503});
    EXPECT_EQ(rec.protocol, std::int64_t(a.size() + b.size()));
    EXPECT_EQ(rec.source_down, 0);
}

TEST(WebResponse, ResponseWithoutARequestDisconnectsAndKeepsTheSource)
{
    torrent_fixture const t({{"g.bin", 64}});
    std::string const stream = response_206(0, 31, file_bytes(0, 0, 32), 64) + response_206(32, 63, file_bytes(0, 32, 32), 64);
    run_result const r = run(t, "http://h/g.bin", {req(0, 0, 32)}, stream, 0);
    EXPECT_EQ(r.rec.blocks.size(), 2u);
    EXPECT_EQ(r.rec.disconnect_ec, lt::error_code(lt::errors::http_error));
    EXPECT_EQ(r.rec.severity, 2);
    EXPECT_EQ(r.rec.erased, 0);
    EXPECT_TRUE(r.rec.refused.empty());
}

TEST(WebResponse, StopsWhenTheTorrentGoesAwayInsideADelivery)
{
    torrent_fixture const t({{"g.bin", 64}});
    std::string const s = response_206(0, 31, file_bytes(0, 0, 32), 64);
    for (reads const mode : every_reads) {
        // Whole, and in reads that leave blocks begun in place.
        for (std::size_t chunk : {std::size_t(0), std::size_t(7)}) {
            web_protocol w("http://h/g.bin", t.geo);
            w.write_request(req(0, 0, 32), request_settings{});
            web_protocol_recorder rec;
            if (mode != reads::buffered) rec.give_destinations(piece_sizes(t));
            rec.torrent_alive = false;
            feed(w, rec, s, chunk, mode);
            EXPECT_EQ(rec.blocks.size(), 1u) << name(mode) << " chunk " << chunk;
            EXPECT_TRUE(w.read_destination(rec).empty()) << name(mode);
        }
    }
}

TEST(WebResponse, SentBytesAreTheSourcesUpload)
{
    torrent_fixture const t({{"g.bin", 64}});
    web_protocol w("http://h/g.bin", t.geo);
    web_protocol_recorder rec;
    w.on_sent(lt::error_code(), 120, rec);
    w.on_sent(lt::error_code(lt::errors::timed_out), 50, rec);
    EXPECT_EQ(rec.source_up, 120);
    EXPECT_EQ(rec.sent_protocol, 120);
}

// Whether the server keeps the connection after an answer: the Connection
// field's tokens in any case and order, and the version's default.
TEST(WebResponse, AnswerThatClosesEndsTheConnectionAfterItsBlocks)
{
    struct row
    {
        char const* status_line;
        char const* connection; // the field's line, or empty
        bool closes;
    } const rows[] = {
        {"HTTP/1.1 206 Partial Content", "", false},
        {"HTTP/1.1 206 Partial Content", "Connection: keep-alive\r\n", false},
        {"HTTP/1.1 206 Partial Content", "Connection: close\r\n", true},
        {"HTTP/1.1 206 Partial Content", "connection: Keep-Alive, CLOSE\r\n", true},
        {"HTTP/1.1 206 Partial Content", "Connection: closed\r\n", false},
        {"HTTP/1.0 206 Partial Content", "", true},
        {"HTTP/1.0 206 Partial Content", "Connection: keep-alive\r\n", false},
    };
    torrent_fixture const t({{"g.bin", 100}});
    std::string const body = file_bytes(0, 32, 32);
    for (auto const& r : rows) {
        // Two answers in one stream: after one that closes, the second is
        // never parsed.
        std::string const first = std::string(r.status_line) + "\r\n" + r.connection
            + "Content-Range: bytes 32-63/100\r\nContent-Length: 32\r\n\r\n" + body;
        std::string const stream = first + response_206(64, 95, file_bytes(0, 64, 32), 100);
        every_split(t, "http://h/g.bin", {req(1, 0, 32), req(2, 0, 32)}, stream, [&](run_result const& x, std::size_t chunk) {
            EXPECT_EQ(x.rec.closes, r.closes ? 1 : 0) << r.connection << r.status_line << " chunk " << chunk;
            ASSERT_EQ(x.rec.blocks.size(), r.closes ? 2u : 4u) << r.connection << r.status_line << " chunk " << chunk;
            EXPECT_EQ(x.rec.blocks[1], (delivered_block{1, 16, body.substr(16)}));
            EXPECT_EQ(x.rec.disconnects, 0);
        });
    }
}

TEST(WebResponse, HeaderTooLongIsAParseError)
{
    torrent_fixture const t({{"g.bin", 64}});
    std::string s = "HTTP/1.1 206 Partial\r\nX: " + std::string(http_response_parser::max_header_size, 'x');
    run_result const r = run(t, "http://h/g.bin", {req(0, 0, 32)}, s, 4096);
    EXPECT_EQ(r.rec.disconnect_ec, lt::error_code(lt::errors::http_parse_error));
}

TEST(WebResponse, ErrorMessagesAreTheEnginesValues)
{
    namespace e = lt::errors;
    struct row
    {
        e::error_code_enum ec;
        int value;
        char const* message;
    } const rows[] = {
        {e::invalid_torrent_handle, 20, "invalid torrent handle used"},
        {e::unsupported_url_protocol, 24, "unsupported URL protocol"},
        {e::invalid_hostname, 31, "invalid hostname"},
        {e::invalid_port, 32, "invalid port"},
        {e::port_blocked, 33, "port blocked by port-filter"},
        {e::http_error, 83, "HTTP error"},
        {e::missing_location, 84, "missing location header"},
        {e::invalid_redirection, 85, "invalid redirection"},
        {e::redirecting, 86, "redirecting"},
        {e::invalid_range, 87, "invalid HTTP range"},
        {e::no_content_length, 88, "missing content-length"},
        {e::http_parse_error, 150, "Invalid HTTP header"},
    };
    for (auto const& r : rows) {
        lt::error_code const ec(r.ec);
        EXPECT_EQ(ec.value(), r.value) << r.message;
        EXPECT_EQ(ec.message(), r.message) << r.value;
    }
}

} // namespace
} // namespace tg
