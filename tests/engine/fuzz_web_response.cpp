// libFuzzer harness over the Direct-HTTP response machine: the first bytes
// pick the torrent shape, the requests and the read sizes; the rest is what
// the server sends.
#include "engine/web_protocol.hpp"
#include "web_protocol_recorder.hpp"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    if (size < 4) return 0;
    bool const pads = data[0] & 2;
    bool const multi = (data[0] & 1) || pads;
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

    tg::web_protocol w(multi ? "http://h/" : "http://h/g.bin", geo);
    for (int i = 0; i < requests; ++i) {
        lt::peer_request r;
        r.piece = lt::piece_index_t((first_piece + i) % 4);
        r.start = 0;
        r.length = fs.piece_size(r.piece);
        w.write_request(r, tg::request_settings{"UA", 0, "", ""});
    }
    tg::test::web_protocol_recorder rec;
    w.fill_pad_bytes(rec);
    for (std::size_t i = 0; i < size && rec.disconnects == 0; i += chunk) {
        std::size_t const n = std::min(chunk, size - i);
        w.on_receive(lt::error_code(), reinterpret_cast<char const*>(data + i), int(n), rec);
        // The receive buffer stays bounded by one header and one block.
        if (w.receive_buffer_size() > std::size_t(tg::http_response_parser::max_header_size) + 16 + chunk)
            __builtin_trap();
    }
    // Never more payload than bytes received, never a block not asked for.
    if (rec.payload + rec.protocol > std::int64_t(size)) __builtin_trap();
    if (rec.blocks.size() > std::size_t(requests) * 2) __builtin_trap();
    return 0;
}
