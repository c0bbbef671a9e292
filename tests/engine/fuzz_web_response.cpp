// libFuzzer harness over the Direct-HTTP response machine: the first bytes
// pick the torrent shape, the requests, the read sizes and how reads reach
// the machine (through its buffer, or in place in the piece buffers); the
// rest is what the server sends. Each input also runs through the buffer
// alone, and both runs must deliver the same blocks and end the same way.
#include "engine/web_protocol.hpp"
#include "web_protocol_recorder.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// mode 0: through on_receive without destinations; 1: through on_receive
// with them; 2: in place whenever offered, each read ending with the span;
// 3: the same, the bytes past the span going through on_receive in the same
// read. `mixed`: reads take the offer every other time only.
void run(tg::test::web_protocol_recorder& rec, tg::torrent_geometry const& geo, char const* url, int requests,
    int first_piece, int mode, bool mixed, std::size_t chunk, char const* data, std::size_t size)
{
    lt::file_storage const& fs = *geo.files;
    tg::web_protocol w(url, geo);
    if (mode != 0) {
        std::vector<int> sizes;
        for (int p = 0; p < fs.num_pieces(); ++p) sizes.push_back(fs.piece_size(lt::piece_index_t(p)));
        rec.give_destinations(sizes);
    }
    for (int i = 0; i < requests; ++i) {
        lt::peer_request r;
        r.piece = lt::piece_index_t((first_piece + i) % 4);
        r.start = 0;
        r.length = fs.piece_size(r.piece);
        w.write_request(r, tg::request_settings{"UA", 0, "", ""});
    }
    w.fill_pad_bytes(rec);
    for (std::size_t i = 0, count = 0; i < size && rec.disconnects == 0; ++count) {
        std::size_t n = std::min(chunk, size - i);
        lt::span<char> to;
        if (mode >= 2) to = w.read_destination(rec);
        if (mixed && count % 2 == 0) to = {};
        if (!to.empty()) {
            std::size_t const placed = std::min(n, std::size_t(to.size()));
            std::memcpy(to.data(), data + i, placed);
            w.on_receive_in_place(lt::error_code(), int(placed), rec);
            if (mode == 3 && n > placed) w.on_receive(lt::error_code(), data + i + placed, int(n - placed), rec);
            else n = placed;
        } else {
            w.on_receive(lt::error_code(), data + i, int(n), rec);
        }
        i += n;
        // The receive buffer stays bounded by one header and one block.
        if (w.receive_buffer_size() > std::size_t(tg::http_response_parser::max_header_size) + 16 + chunk)
            __builtin_trap();
        // No write lands past a piece.
        if (!rec.guards_intact()) __builtin_trap();
    }
    // Never more payload than bytes received, never a block not asked for.
    if (rec.payload + rec.protocol > std::int64_t(size)) __builtin_trap();
    if (rec.blocks.size() > std::size_t(requests) * 2) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    if (size < 4) return 0;
    bool const pads = data[0] & 2;
    bool const multi = (data[0] & 1) || pads;
    int const mode = (data[0] >> 2) & 3;
    bool const mixed = data[0] & 16;
    int const requests = 1 + (data[1] % 4);
    std::size_t const chunk = 1 + data[2];
    int const first_piece = data[3] % 3;
    data += 4;
    size -= 4;

    lt::file_storage fs;
    if (pads) {
        // Pad files after each file, one of them a whole piece and more.
        fs.add_file("G/a x.bin", 8);
        fs.add_file("G/.pad/56", 56, lt::file_storage::flag_pad_file);
        fs.add_file("G/b.bin", 20);
        fs.add_file("G/.pad/12", 12, lt::file_storage::flag_pad_file);
        fs.add_file("G/c.bin", 24);
    } else if (multi) {
        fs.add_file("G/a x.bin", 40);
        fs.add_file("G/b.bin", 60);
    } else {
        fs.add_file("g.bin", 100);
    }
    fs.set_piece_length(32);
    fs.set_num_pieces(4);
    tg::torrent_geometry geo;
    geo.piece_length = 32;
    geo.block_size = 16;
    geo.name = multi ? "G" : "g.bin";
    geo.files = &fs;
    char const* const url = multi ? "http://h/" : "http://h/g.bin";
    char const* const bytes = reinterpret_cast<char const*>(data);

    tg::test::web_protocol_recorder tried, buffered;
    run(tried, geo, url, requests, first_piece, mode, mixed, chunk, bytes, size);
    if (mode == 0) return 0;
    run(buffered, geo, url, requests, first_piece, 0, false, chunk, bytes, size);
    if (!(tried.blocks == buffered.blocks)) __builtin_trap();
    if (tried.disconnect_ec != buffered.disconnect_ec) __builtin_trap();
    return 0;
}
