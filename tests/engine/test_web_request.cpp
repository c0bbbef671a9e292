// Request texts of a Direct-HTTP connection, byte for byte.
#include "engine/url_components.hpp"
#include "engine/web_protocol.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace tg {
namespace {

lt::file_storage make_files(std::vector<std::pair<std::string, std::int64_t>> const& files, int piece_length)
{
    lt::file_storage fs;
    std::int64_t total = 0;
    for (auto const& [path, size] : files) {
        fs.add_file(path, size);
        total += size;
    }
    fs.set_piece_length(piece_length);
    fs.set_num_pieces(int((total + piece_length - 1) / piece_length));
    return fs;
}

torrent_geometry geometry(lt::file_storage const& fs, std::string const& name)
{
    torrent_geometry g;
    g.piece_length = fs.piece_length();
    g.block_size = 16 * 1024;
    g.name = name;
    g.files = &fs;
    return g;
}

lt::peer_request req(int piece, int start, int length)
{
    lt::peer_request r;
    r.piece = lt::piece_index_t(piece);
    r.start = start;
    r.length = length;
    return r;
}

request_settings ua() { return request_settings{"Tollgrove/3", 0, "", ""}; }

TEST(UrlComponents, SplitsAndEscapes)
{
    struct row
    {
        char const* url;
        bool error;
        char const* protocol;
        char const* auth;
        char const* host;
        int port;
        char const* path;
    } const rows[] = {
        {"http://h.vn/g/x.bin", false, "http", "", "h.vn", -1, "/g/x.bin"},
        {"https://u:p@h:8080/a", false, "https", "u:p", "h", 8080, "/a"},
        {"http://u@h/a", false, "http", "", "u@h", -1, "/a"},
        {"http://h", false, "http", "", "h", -1, ""},
        {"http://h:0/", false, "http", "", "h", 0, "/"},
        {"http://h:99999/", false, "http", "", "h", 0, "/"},
        {"http://[::1]:81/x", false, "http", "", "::1", 81, "/x"},
        {"ftp://h/x", false, "ftp", "", "h", -1, "/x"},
        {"http:///x", false, "http", "", "", -1, "/x"},
        {"", true, "", "", "", -1, ""},
        {"h.vn/game/", true, "h.vn/game/", "", "", -1, ""},
        {"http:/h/x", true, "http", "", "", -1, ""},
        {"http://[::1/x", true, "http", "", "", -1, ""},
    };
    for (auto const& r : rows) {
        lt::error_code ec;
        url_components const c = parse_url_components(r.url, ec);
        EXPECT_EQ(bool(ec), r.error) << r.url;
        if (ec) continue;
        EXPECT_EQ(c.protocol, r.protocol) << r.url;
        EXPECT_EQ(c.auth, r.auth) << r.url;
        EXPECT_EQ(c.host, r.host) << r.url;
        EXPECT_EQ(c.port, r.port) << r.url;
        EXPECT_EQ(c.path, r.path) << r.url;
    }
    EXPECT_EQ(escape_path("/Tr\xc3\xb2 ch\xc6\xa1i/a+b&c.bin~"), "/Tr%c3%b2%20ch%c6%a1i/a%2bb%26c.bin~");
    EXPECT_EQ(base64encode("u:p"), "dTpw");
    EXPECT_EQ(base64encode("user:pw"), "dXNlcjpwdw==");
    EXPECT_EQ(base64encode("ab:"), "YWI6");
    EXPECT_EQ(base64encode("a:bcd"), "YTpiY2Q=");
}

TEST(WebRequest, SingleFileFirstAndLaterRequests)
{
    lt::file_storage fs = make_files({{"game.bin", 200000}}, 65536);
    web_protocol w("http://files.vn/dl/game.bin", geometry(fs, "game.bin"));
    EXPECT_EQ(w.write_request(req(1, 0, 65536), ua()),
        "GET /dl/game.bin HTTP/1.1\r\nHost: files.vn\r\nUser-Agent: Tollgrove/3\r\n"
        "Range: bytes=65536-131071\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(w.write_request(req(3, 0, 3392), ua()),
        "GET /dl/game.bin HTTP/1.1\r\nHost: files.vn\r\nRange: bytes=196608-199999\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(w.http_requests(), (std::deque<int>{0, 0}));
    // Blocks of 16 KiB, in request order.
    ASSERT_EQ(w.block_requests().size(), 5u);
    EXPECT_EQ(w.block_requests()[3].start, 49152);
    EXPECT_EQ(w.block_requests()[4].length, 3392);
    EXPECT_EQ(int(w.block_requests()[4].piece), 3);
}

TEST(WebRequest, HostFieldNamesTheHostWithoutItsPort)
{
    // An IPv6 literal keeps its brackets (servers answer 400 to a bare one);
    // the port is never part of the field.
    struct row
    {
        char const* url;
        char const* host;
    } const rows[] = {
        {"http://[::1]:8080/game.bin", "[::1]"},
        {"http://[::1]/game.bin", "[::1]"},
        {"http://us:pw@[fe80::1%25eth0]:81/game.bin", "[fe80::1%25eth0]"},
        {"http://127.0.0.1:8080/game.bin", "127.0.0.1"},
        {"http://files.vn/game.bin", "files.vn"},
    };
    lt::file_storage fs = make_files({{"game.bin", 200000}}, 65536);
    for (auto const& r : rows) {
        web_protocol w(r.url, geometry(fs, "game.bin"));
        std::string const text = w.write_request(req(0, 0, 100), ua());
        EXPECT_EQ(text.substr(0, text.find("\r\nUser-Agent")), std::string("GET /game.bin HTTP/1.1\r\nHost: ") + r.host)
            << r.url;
    }
}

TEST(WebRequest, SingleFileUrlCompletion)
{
    lt::file_storage fs = make_files({{"g p.bin", 1000}}, 16384);
    struct row
    {
        char const* url;
        char const* path;
        char const* full;
    } const rows[] = {
        {"http://h/dl/", "/dl/g p.bin", "http://h/dl/g p.bin"}, // appended unescaped
        {"http://h/dl/x.bin", "/dl/x.bin", "http://h/dl/x.bin"},
        {"http://h", "/g p.bin", "http://h/g p.bin"},
    };
    for (auto const& r : rows) {
        web_protocol w(r.url, geometry(fs, "g p.bin"));
        std::string const text = w.write_request(req(0, 0, 1000), ua());
        EXPECT_EQ(w.url_path(), r.path) << r.url;
        EXPECT_EQ(w.full_url(), r.full) << r.url;
        EXPECT_EQ(text.substr(0, 4 + std::strlen(r.path) + 1), std::string("GET ") + r.path + " ") << r.url;
        w.write_request(req(0, 0, 1000), ua());
        EXPECT_EQ(w.url_path(), r.path) << "completion happens once: " << r.url;
        EXPECT_EQ(w.full_url(), r.full) << "completion happens once: " << r.url;
    }
}

TEST(WebRequest, MultiFileSpanningTwoFilesIsTwoGetsInOneText)
{
    lt::file_storage fs = make_files({{"Game/data/a b.pak", 40000}, {"Game/c.bin", 50000}}, 32768);
    web_protocol w("http://h/pub", geometry(fs, "Game"));
    // Piece 1 covers bytes 32768..65535: the end of a and the start of c.
    std::string const text = w.write_request(req(1, 0, 32768), ua());
    EXPECT_EQ(text,
        "GET /pub/Game/data/a%20b.pak HTTP/1.1\r\nHost: h\r\nUser-Agent: Tollgrove/3\r\n"
        "Range: bytes=32768-39999\r\nConnection: keep-alive\r\n\r\n"
        "GET /pub/Game/c.bin HTTP/1.1\r\nHost: h\r\nRange: bytes=0-25535\r\n\r\n");
    EXPECT_EQ(w.url_path(), "/pub/");
    EXPECT_EQ(w.full_url(), "http://h/pub/");
    EXPECT_EQ(w.http_requests(), (std::deque<int>{0, 1}));
    EXPECT_EQ(w.block_requests().size(), 2u);
    // Later GETs carry neither User-Agent nor Connection.
    EXPECT_EQ(w.write_request(req(0, 0, 16384), ua()),
        "GET /pub/Game/data/a%20b.pak HTTP/1.1\r\nHost: h\r\nRange: bytes=0-16383\r\n\r\n");
    EXPECT_EQ(w.full_url(), "http://h/pub/");
}

TEST(WebRequest, MultiFileTargetKeepsTheUrlsOwnEscapes)
{
    // The URL's path is in request form already (the configuration's own
    // escapes, non-ASCII letters percent-encoded as UTF-8): sent as written.
    // The torrent's path is raw and escaped whole, "%" included.
    struct row
    {
        char const* url;
        char const* file;
        char const* target;
    } const rows[] = {
        {"http://h/pub", "Game/a b.pak", "/pub/Game/a%20b.pak"},
        {"http://h/a+b&c/", "Game/x.pak", "/a%2bb%26c/Game/x.pak"},
        {"http://h/my%20games/", "Game/x.pak", "/my%20games/Game/x.pak"},
        {"http://h/Tr%C3%B2%20ch%c6%a1i", "Game/x.pak", "/Tr%C3%B2%20ch%c6%a1i/Game/x.pak"},
        {"http://h/pub/", "Game/\xc4\x90\xc3\xa0 N\xe1\xba\xb5ng.pak", "/pub/Game/%c4%90%c3%a0%20N%e1%ba%b5ng.pak"},
        {"http://h/a%20b/", "Game/100%20.txt", "/a%20b/Game/100%2520.txt"},
        // No escape: a "%" without two hex digits, raw bytes (a server's
        // redirect) and blanks are escaped as before.
        {"http://h/100%/x%2/y%zz", "G/f", "/100%25/x%252/y%25zz/G/f"},
        {"http://h/a%2", "G/f", "/a%252/G/f"},
        {"http://h/\xc4\x90 x/", "G/f", "/%c4%90%20x/G/f"},
    };
    for (auto const& r : rows) {
        std::string const top = std::string(r.file).substr(0, std::string(r.file).find('/'));
        lt::file_storage fs = make_files({{r.file, 40000}, {top + "/z.bin", 100}}, 32768);
        web_protocol w(r.url, geometry(fs, top));
        std::string const text = w.write_request(req(0, 0, 16384), ua());
        EXPECT_EQ(text.substr(0, text.find(" HTTP/1.1")), std::string("GET ") + r.target) << r.url;
    }
}

TEST(WebRequest, PadFilesAreNeverAskedFor)
{
    // A hybrid torrent's layout: each file padded to the next piece.
    lt::file_storage fs;
    std::pair<char const*, std::int64_t> const files[] = {{"Game/a.pak", 40000}, {"Game/.pad/25536", 25536},
        {"Game/b.txt", 999}, {"Game/.pad/31769", 31769}, {"Game/c.exe", 50000}, {"Game/.pad/15536", 15536}};
    for (auto const& [path, size] : files)
        fs.add_file(path, size, std::strstr(path, "/.pad/") ? lt::file_storage::flag_pad_file : lt::file_flags_t{});
    fs.set_piece_length(32768);
    fs.set_num_pieces(5);
    web_protocol w("http://h/pub/", geometry(fs, "Game"));
    // Piece 1: the end of a, then pad bytes; piece 4: the end of c, then pad.
    EXPECT_EQ(w.write_request(req(1, 0, 32768), ua()),
        "GET /pub/Game/a.pak HTTP/1.1\r\nHost: h\r\nUser-Agent: Tollgrove/3\r\n"
        "Range: bytes=32768-39999\r\nConnection: keep-alive\r\n\r\n");
    EXPECT_EQ(w.write_request(req(2, 0, 32768), ua()),
        "GET /pub/Game/b.txt HTTP/1.1\r\nHost: h\r\nRange: bytes=0-998\r\n\r\n");
    EXPECT_EQ(w.write_request(req(4, 0, 32768), ua()),
        "GET /pub/Game/c.exe HTTP/1.1\r\nHost: h\r\nRange: bytes=32768-49999\r\n\r\n");
    EXPECT_EQ(w.http_requests(), (std::deque<int>{0, 2, 4}));
    // The pad bytes' blocks are still asked of the assembly.
    EXPECT_EQ(w.block_requests().size(), 6u);

    // A piece of pad bytes alone: no GET, and the first real one still
    // carries the first request's fields.
    lt::file_storage only_pad;
    only_pad.add_file("P/a.bin", 10);
    only_pad.add_file("P/.pad/32758", 32758, lt::file_storage::flag_pad_file);
    only_pad.add_file("P/.pad/32768", 32768, lt::file_storage::flag_pad_file);
    only_pad.add_file("P/b.bin", 10);
    only_pad.set_piece_length(32768);
    only_pad.set_num_pieces(3);
    web_protocol p("http://h/", geometry(only_pad, "P"));
    EXPECT_EQ(p.write_request(req(1, 0, 32768), ua()), "");
    EXPECT_TRUE(p.http_requests().empty());
    EXPECT_EQ(p.write_request(req(2, 0, 10), ua()),
        "GET /P/b.bin HTTP/1.1\r\nHost: h\r\nUser-Agent: Tollgrove/3\r\nRange: bytes=0-9\r\n"
        "Connection: keep-alive\r\n\r\n");
}

TEST(WebRequest, ProxyFormsAndBasicAuth)
{
    lt::file_storage fs = make_files({{"G/a.bin", 100}, {"G/b.bin", 100}}, 16384);
    request_settings proxy_pw{"UA", 5, "pu", "pp"};
    web_protocol w("http://us:pw@h:8080/base/", geometry(fs, "G"));
    EXPECT_EQ(w.write_request(req(0, 0, 200), proxy_pw),
        "GET http://us:pw@h:8080/base/G/a.bin HTTP/1.1\r\nHost: h\r\nUser-Agent: UA\r\n"
        "Authorization: Basic dXM6cHc=\r\nProxy-Authorization: Basic cHU6cHA=\r\n"
        "Proxy-Connection: keep-alive\r\nRange: bytes=0-99\r\nConnection: keep-alive\r\n\r\n"
        "GET http://us:pw@h:8080/base/G/b.bin HTTP/1.1\r\nHost: h\r\n"
        "Authorization: Basic dXM6cHc=\r\nProxy-Authorization: Basic cHU6cHA=\r\n"
        "Proxy-Connection: keep-alive\r\nRange: bytes=0-99\r\nConnection: keep-alive\r\n\r\n");

    lt::file_storage one = make_files({{"x.bin", 100}}, 16384);
    web_protocol s("http://h/x.bin", geometry(one, "x.bin"));
    EXPECT_EQ(s.write_request(req(0, 0, 100), request_settings{"UA", 4, "pu", "pp"}),
        "GET http://h/x.bin HTTP/1.1\r\nHost: h\r\nUser-Agent: UA\r\nProxy-Connection: keep-alive\r\n"
        "Range: bytes=0-99\r\nConnection: keep-alive\r\n\r\n");
    // No user-info: never an Authorization line, also later.
    EXPECT_EQ(s.write_request(req(0, 0, 100), ua()).find("Authorization"), std::string::npos);
}

TEST(WebRequest, OffsetsAboveFourGigabytesAreWrittenInFull)
{
    std::int64_t const size = 6'000'000'000;
    lt::file_storage fs = make_files({{"big.bin", size}}, 1 << 20);
    web_protocol w("http://h/big.bin", geometry(fs, "big.bin"));
    std::string const t = w.write_request(req(5000, 16384, 16384), ua());
    EXPECT_NE(t.find("Range: bytes=5242896384-5242912767\r\n"), std::string::npos) << t;

    lt::file_storage mf = make_files({{"B/a.bin", 100}, {"B/big.bin", size}}, 1 << 20);
    web_protocol m("http://h/", geometry(mf, "B"));
    std::string const t2 = m.write_request(req(5000, 0, 16384), ua());
    EXPECT_NE(t2.find("Range: bytes=5242879900-5242896283\r\n"), std::string::npos) << t2;
}

TEST(WebRequest, PieceProgressOfTheBlockUnderWay)
{
    lt::file_storage fs = make_files({{"x.bin", 100000}}, 65536);
    web_protocol w("http://h/x.bin", geometry(fs, "x.bin"));
    web_protocol::piece_progress p;
    EXPECT_FALSE(w.downloading_piece_progress(p));
    w.write_request(req(1, 0, 34464), ua());
    ASSERT_TRUE(w.downloading_piece_progress(p));
    EXPECT_EQ(int(p.piece), 1);
    EXPECT_EQ(p.block_index, 0);
    EXPECT_EQ(p.bytes_downloaded, 0);
    EXPECT_EQ(p.full_block_bytes, 16384);
}

} // namespace
} // namespace tg
