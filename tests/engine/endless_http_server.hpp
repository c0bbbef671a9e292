// A hostile file server on 127.0.0.1: answers every request with one fixed
// header and then body bytes without end, until the client closes the
// connection or `cap` bytes have gone out. Counts how each connection ended.
#pragma once

#include "loopback_listener.hpp"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <atomic>
#include <cstdint>
#include <string>

namespace tg::test {

class endless_http_server
{
public:
    endless_http_server(std::string header, std::int64_t cap) : m_header(std::move(header)), m_cap(cap) {}

    std::string url(std::string const& path) const { return m_listener.url(path); }
    int connections() const { return m_listener.connections(); }
    // Connections the client closed while the body was still flowing.
    int closed_by_client() const { return m_closed_by_client; }
    // Connections that sent `cap` bytes without the client closing them.
    int reached_cap() const { return m_reached_cap; }

private:
    void serve(boost::asio::ip::tcp::socket& s)
    {
        boost::system::error_code ec;
        boost::asio::streambuf buf;
        boost::asio::read_until(s, buf, "\r\n\r\n", ec);
        if (ec || m_listener.stopping()) return;
        boost::asio::write(s, boost::asio::buffer(m_header), ec);
        std::string const chunk(64 * 1024, 'z');
        for (std::int64_t sent = 0; !ec && !m_listener.stopping(); sent += std::int64_t(chunk.size())) {
            if (sent >= m_cap) {
                ++m_reached_cap;
                s.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ec);
                return;
            }
            boost::asio::write(s, boost::asio::buffer(chunk), ec);
        }
        if (ec && !m_listener.stopping()) ++m_closed_by_client;
    }

    std::string m_header;
    std::int64_t m_cap;
    std::atomic<int> m_closed_by_client{0};
    std::atomic<int> m_reached_cap{0};
    // Last, so that it stops its threads before the members they use go.
    loopback_listener m_listener{[this](boost::asio::ip::tcp::socket& s, int) { serve(s); }};
};

} // namespace tg::test
