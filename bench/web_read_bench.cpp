// The receiving side of one Direct-HTTP connection alone: whole pieces of
// one file fetched with pipelined range requests over one keep-alive
// connection, the response machine (web_protocol) putting their bytes into
// piece buffers, with nothing behind them (no hash check, no disk). Each way
// of reading runs in turn and prints MiB/s, CPU seconds per GiB and reads
// per MiB: through the connection's read buffer at several sizes, and
// straight into the piece buffers with reads of several sizes, each read
// ending with its response or spilling over into the read buffer.
//   web_read_bench URL FILE_SIZE [MIB [RUNS]]
// URL serves the file of FILE_SIZE bytes; MIB (default: the whole file)
// bounds the bytes fetched per run; each way runs RUNS times (default 3).
#include "engine/url_components.hpp"
#include "engine/web_protocol.hpp"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <memory>
#include <vector>

#include "bench/process_cpu.hpp"

namespace {

namespace asio = boost::asio;

using tg::bench::cpu_seconds;

// Piece buffers as the connection's host keeps them: one per piece under
// way, given back for reuse when the piece is whole.
class piece_host : public tg::web_protocol_host
{
public:
    piece_host(lt::file_storage const& fs, bool in_place) : m_fs(fs), m_in_place(in_place) {}

    int pieces_done = 0;
    bool failed = false;

    void received_bytes(int, int) override {}
    void sent_bytes(int, int) override {}
    void add_source_traffic(int, int) override {}
    bool incoming_piece(lt::peer_request const& b, char const* data) override
    {
        std::copy(data, data + b.length, buffer(int(b.piece)) + b.start);
        return block_done(b);
    }
    char* block_destination(lt::peer_request const& b) override
    {
        return m_in_place ? buffer(int(b.piece)) + b.start : nullptr;
    }
    bool incoming_piece_in_place(lt::peer_request const& b) override { return block_done(b); }
    void source_refused(int, std::string const&, std::string const&) override { failed = true; }
    void range_ignored() override { failed = true; }
    void source_redirected(std::string const&) override { failed = true; }
    void erase_source() override { failed = true; }
    void server_closes() override {}
    void url_seed_alert(std::string const&, std::string const& message) override
    {
        std::fprintf(stderr, "server: %s\n", message.c_str());
    }
    void disconnect(lt::error_code const& ec, int) override
    {
        std::fprintf(stderr, "disconnected: %s\n", ec.message().c_str());
        failed = true;
    }

private:
    char* buffer(int piece)
    {
        auto it = m_under_way.find(piece);
        if (it == m_under_way.end()) {
            it = m_under_way.emplace(piece, piece_buffer{}).first;
            if (!m_spare.empty()) {
                it->second.data = std::move(m_spare.back());
                m_spare.pop_back();
            }
            it->second.data.resize(std::size_t(m_fs.piece_size(lt::piece_index_t(piece))));
        }
        return it->second.data.data();
    }
    bool block_done(lt::peer_request const& b)
    {
        auto it = m_under_way.find(int(b.piece));
        it->second.received += b.length;
        if (it->second.received == m_fs.piece_size(b.piece)) {
            m_spare.push_back(std::move(it->second.data));
            m_under_way.erase(it);
            ++pieces_done;
        }
        return true;
    }
    struct piece_buffer
    {
        std::vector<char> data;
        int received = 0;
    };
    lt::file_storage const& m_fs;
    bool m_in_place;
    std::map<int, piece_buffer> m_under_way;
    std::vector<std::vector<char>> m_spare;
};

struct run_figures
{
    double seconds = 0;
    double cpu = 0;
    std::int64_t bytes = 0;
    std::int64_t reads = 0;
    bool ok = false;
};

// Fetches pieces 0 to `pieces` - 1, four requested at a time; reads of at
// most `read_size` bytes. In place, a read ends with the response's body
// unless it may `spill` into the read buffer.
run_figures fetch(std::string const& url, lt::file_storage const& fs, int pieces, bool in_place, bool spill,
    std::size_t read_size)
{
    lt::error_code ec;
    tg::url_components const c = tg::parse_url_components(url, ec);
    asio::io_context ioc;
    asio::ip::tcp::resolver resolver(ioc);
    asio::ip::tcp::socket socket(ioc);
    asio::connect(socket, resolver.resolve(c.host, std::to_string(c.port > 0 ? c.port : 80)));
    socket.set_option(asio::ip::tcp::no_delay(true));

    tg::torrent_geometry geo;
    geo.piece_length = fs.piece_length();
    geo.block_size = 16 * 1024;
    geo.name = fs.file_name(lt::file_index_t(0)).to_string();
    geo.files = &fs;
    tg::web_protocol w(url, geo);
    piece_host host(fs, in_place);
    std::unique_ptr<char[]> read_buffer(new char[read_size]);
    tg::request_settings const settings{"web_read_bench", 0, "", ""};
    int constexpr pipeline = 4;

    run_figures f;
    double const cpu0 = cpu_seconds();
    auto const t0 = std::chrono::steady_clock::now();
    int requested = 0;
    while (host.pieces_done < pieces && !host.failed) {
        while (requested < pieces && requested - host.pieces_done < pipeline) {
            lt::peer_request r;
            r.piece = lt::piece_index_t(requested++);
            r.start = 0;
            r.length = fs.piece_size(r.piece);
            asio::write(socket, asio::buffer(w.write_request(r, settings)));
        }
        // Asynchronous reads, as the connection's: under Wine they take
        // another path than blocking ones. A read in place that may spill
        // over reads the bytes past the span into the read buffer in the
        // same call.
        lt::span<char> const to = w.read_destination(host);
        std::size_t const placed = std::min(std::size_t(to.size()), read_size);
        std::array<asio::mutable_buffer, 2> const b = {asio::buffer(to.data(), placed),
            asio::buffer(read_buffer.get(), placed == 0 ? read_size : spill ? read_size - placed : 0)};
        std::size_t n = 0;
        socket.async_read_some(b, [&](lt::error_code const& e, std::size_t got) {
            ec = e;
            n = got;
        });
        ioc.restart();
        ioc.run();
        ++f.reads;
        lt::error_code const read_ec = ec && n == 0 ? ec : lt::error_code();
        std::size_t const in_place_bytes = std::min(n, placed);
        if (placed > 0) w.on_receive_in_place(read_ec, int(in_place_bytes), host);
        if (placed == 0 || n > in_place_bytes) w.on_receive(read_ec, read_buffer.get(), int(n - in_place_bytes), host);
        if (ec) break;
        f.bytes = std::int64_t(host.pieces_done) * fs.piece_length();
    }
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    f.cpu = cpu_seconds() - cpu0;
    f.ok = host.pieces_done == pieces;
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 5) {
        std::fprintf(stderr, "usage: %s URL FILE_SIZE [MIB [RUNS]]\n", argv[0]);
        return 2;
    }
    std::string const url = argv[1];
    std::int64_t const size = std::atoll(argv[2]);
    int constexpr piece_length = 1024 * 1024;
    lt::file_storage fs;
    std::string const path = url.substr(url.rfind('/') + 1);
    fs.add_file(path, size);
    fs.set_piece_length(piece_length);
    fs.set_num_pieces(int((size + piece_length - 1) / piece_length));
    // Whole pieces only, so that every run ends on a piece.
    int pieces = int(size / piece_length);
    if (argc >= 4) pieces = std::min(pieces, std::atoi(argv[3]));
    int const rounds = argc == 5 ? std::max(1, std::atoi(argv[4])) : 3;
    if (pieces <= 0) {
        std::fprintf(stderr, "the file holds no whole piece of 1 MiB\n");
        return 2;
    }

    struct way
    {
        char const* what;
        bool in_place;
        bool spill;
        std::size_t read_size;
    } const ways[] = {
        {"buffer 64 KiB", false, false, 64 * 1024},
        {"buffer 256 KiB", false, false, 256 * 1024},
        {"buffer 1 MiB", false, false, 1024 * 1024},
        {"in place 64 KiB", true, false, 64 * 1024},
        {"in place 256 KiB", true, false, 256 * 1024},
        {"in place 1 MiB", true, false, 1024 * 1024},
        {"spilling 64 KiB", true, true, 64 * 1024},
        {"spilling 256 KiB", true, true, 256 * 1024},
        {"spilling 1 MiB", true, true, 1024 * 1024},
    };
    // The ways take turns, so that a busy moment of the machine falls on
    // all of them; each prints its median.
    std::vector<std::vector<double>> rates(std::size(ways)), cpus(std::size(ways)), reads(std::size(ways));
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < std::size(ways); ++i) {
            run_figures const f = fetch(url, fs, pieces, ways[i].in_place, ways[i].spill, ways[i].read_size);
            if (!f.ok) {
                std::fprintf(stderr, "%s: the run did not complete\n", ways[i].what);
                return 1;
            }
            double const mib = double(f.bytes) / (1024 * 1024);
            rates[i].push_back(mib / f.seconds);
            cpus[i].push_back(f.cpu / (mib / 1024));
            reads[i].push_back(double(f.reads) / mib);
        }
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("%d MiB per run over one connection, median of %d runs\n%-18s%10s%12s%12s\n", pieces, rounds, "",
        "MiB/s", "CPU s/GiB", "reads/MiB");
    for (std::size_t i = 0; i < std::size(ways); ++i)
        std::printf("%-18s%10.1f%12.2f%12.1f\n", ways[i].what, median(rates[i]), median(cpus[i]), median(reads[i]));
    return 0;
}
