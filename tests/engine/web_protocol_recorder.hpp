// A web_protocol_host that records what the response machine does. Given
// piece buffers (give_destinations), it also lets the machine write blocks
// in place, as the connection's host does.
#pragma once

#include "engine/web_protocol.hpp"

#include <cstring>
#include <string>
#include <vector>

namespace tg::test {

struct delivered_block
{
    int piece;
    int start;
    std::string data;
    bool operator==(delivered_block const& o) const { return piece == o.piece && start == o.start && data == o.data; }
};

class web_protocol_recorder : public web_protocol_host
{
public:
    std::vector<delivered_block> blocks;
    std::int64_t payload = 0, protocol = 0, sent_protocol = 0;
    std::int64_t source_down = 0, source_up = 0;
    std::vector<int> refused;
    std::vector<std::string> redirects;
    int erased = 0;
    int closes = 0; // answers that said the server closes the connection
    std::string retry_after;
    int ignored_ranges = 0;
    std::vector<std::string> alerts;
    lt::error_code disconnect_ec;
    int severity = -1;
    int disconnects = 0;
    bool torrent_alive = true;
    // The piece buffers, each followed by guard bytes that no write may
    // reach; empty: the host gives no destinations.
    static constexpr int guard_size = 64;
    static constexpr char unwritten = '#';
    std::vector<std::string> pieces;
    bool destinations = true; // false: the host stops giving them
    int in_place_blocks = 0;  // blocks delivered through incoming_piece_in_place

    void give_destinations(std::vector<int> const& piece_sizes)
    {
        pieces.clear();
        for (int s : piece_sizes) pieces.emplace_back(std::size_t(s + guard_size), unwritten);
    }
    // True when no write went past a piece's end.
    bool guards_intact() const
    {
        for (std::string const& p : pieces)
            if (p.compare(p.size() - guard_size, guard_size, std::string(guard_size, unwritten)) != 0) return false;
        return true;
    }

    void received_bytes(int p, int q) override
    {
        payload += p;
        protocol += q;
    }
    void sent_bytes(int p, int q) override { sent_protocol += p + q; }
    void add_source_traffic(int d, int u) override
    {
        source_down += d;
        source_up += u;
    }
    bool incoming_piece(lt::peer_request const& b, char const* data) override
    {
        blocks.push_back({int(b.piece), b.start, std::string(data, std::size_t(b.length))});
        // As the connection's host, it assembles the piece.
        if (!pieces.empty()) std::memcpy(&pieces[std::size_t(int(b.piece))][std::size_t(b.start)], data, std::size_t(b.length));
        return torrent_alive;
    }
    char* block_destination(lt::peer_request const& b) override
    {
        if (pieces.empty() || !destinations) return nullptr;
        return &pieces[std::size_t(int(b.piece))][std::size_t(b.start)];
    }
    bool incoming_piece_in_place(lt::peer_request const& b) override
    {
        blocks.push_back({int(b.piece), b.start, pieces[std::size_t(int(b.piece))].substr(std::size_t(b.start), std::size_t(b.length))});
        ++in_place_blocks;
        return torrent_alive;
    }
    void source_refused(int status, std::string const& after, std::string const&) override
    {
        refused.push_back(status);
        retry_after = after;
    }
    void range_ignored() override { ++ignored_ranges; }
    void source_redirected(std::string const& url) override { redirects.push_back(url); }
    void erase_source() override { ++erased; }
    void server_closes() override { ++closes; }
    void url_seed_alert(std::string const& url, std::string const& message) override
    {
        alerts.push_back(url + " | " + message);
    }
    void disconnect(lt::error_code const& ec, int sev) override
    {
        disconnect_ec = ec;
        severity = sev;
        ++disconnects;
    }
};

} // namespace tg::test
