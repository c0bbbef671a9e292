// A hostile file server on 127.0.0.1: answers every request with one fixed
// header and then body bytes without end, until the client closes the
// connection or `cap` bytes have gone out. Counts how each connection ended.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tg::test {

class endless_http_server
{
public:
    endless_http_server(std::string header, std::int64_t cap) : m_header(std::move(header)), m_cap(cap)
    {
        namespace ip = boost::asio::ip;
        m_acceptor.open(ip::tcp::v4());
        m_acceptor.set_option(ip::tcp::acceptor::reuse_address(true));
        m_acceptor.bind(ip::tcp::endpoint(ip::make_address("127.0.0.1"), 0));
        m_acceptor.listen();
        m_port = m_acceptor.local_endpoint().port();
        m_accept_thread = std::thread([this] { accept_loop(); });
    }

    ~endless_http_server()
    {
        m_stop = true;
        boost::system::error_code ec;
        {
            boost::asio::ip::tcp::socket s(m_ioc);
            s.connect(boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), m_port), ec);
        }
        m_accept_thread.join();
        {
            std::lock_guard<std::mutex> l(m_mutex);
            for (auto& s : m_sockets) s->shutdown(boost::asio::ip::tcp::socket::shutdown_both, ec);
        }
        for (auto& t : m_threads) t.join();
    }

    std::string url(std::string const& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    int connections() const { return m_connections; }
    // Connections the client closed while the body was still flowing.
    int closed_by_client() const { return m_closed_by_client; }
    // Connections that sent `cap` bytes without the client closing them.
    int reached_cap() const { return m_reached_cap; }

private:
    void accept_loop()
    {
        for (;;) {
            auto s = std::make_shared<boost::asio::ip::tcp::socket>(m_ioc);
            boost::system::error_code ec;
            m_acceptor.accept(*s, ec);
            if (m_stop || ec) return;
            ++m_connections;
            std::lock_guard<std::mutex> l(m_mutex);
            m_sockets.push_back(s);
            m_threads.emplace_back([this, s] { serve(*s); });
        }
    }

    void serve(boost::asio::ip::tcp::socket& s)
    {
        boost::system::error_code ec;
        boost::asio::streambuf buf;
        boost::asio::read_until(s, buf, "\r\n\r\n", ec);
        if (ec || m_stop) return;
        boost::asio::write(s, boost::asio::buffer(m_header), ec);
        std::string const chunk(64 * 1024, 'z');
        for (std::int64_t sent = 0; !ec && !m_stop; sent += std::int64_t(chunk.size())) {
            if (sent >= m_cap) {
                ++m_reached_cap;
                s.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ec);
                return;
            }
            boost::asio::write(s, boost::asio::buffer(chunk), ec);
        }
        if (ec && !m_stop) ++m_closed_by_client;
    }

    std::string m_header;
    std::int64_t m_cap;
    boost::asio::io_context m_ioc;
    boost::asio::ip::tcp::acceptor m_acceptor{m_ioc};
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_closed_by_client{0};
    std::atomic<int> m_reached_cap{0};
    std::thread m_accept_thread;
    std::mutex m_mutex;
    std::vector<std::shared_ptr<boost::asio::ip::tcp::socket>> m_sockets;
    std::list<std::thread> m_threads;
};

} // namespace tg::test
