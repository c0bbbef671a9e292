// The listening half of the test servers: a socket on 127.0.0.1 at a port
// the system picks, and a thread that accepts connections and serves each
// on a thread of its own. Destroying it stops accepting, shuts every
// connection down (which ends their blocking reads and writes) and joins
// every thread, so a server declares it last: its threads may use the rest.
#pragma once

#include <boost/asio/ip/tcp.hpp>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tg::test {

class loopback_listener
{
public:
    // Runs on the connection's own thread; `id` is 0 for the first
    // connection, then 1, 2, ...
    using handler = std::function<void(boost::asio::ip::tcp::socket&, int id)>;

    explicit loopback_listener(handler serve) : m_serve(std::move(serve))
    {
        namespace ip = boost::asio::ip;
        m_acceptor.open(ip::tcp::v4());
        m_acceptor.set_option(ip::tcp::acceptor::reuse_address(true));
        m_acceptor.bind(ip::tcp::endpoint(ip::make_address("127.0.0.1"), 0));
        m_acceptor.listen();
        m_port = m_acceptor.local_endpoint().port();
        m_accept_thread = std::thread([this] { accept_loop(); });
    }

    ~loopback_listener()
    {
        m_stop = true;
        boost::system::error_code ec;
        // Wake the accept call, then every connection's read.
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

    loopback_listener(loopback_listener const&) = delete;
    loopback_listener& operator=(loopback_listener const&) = delete;

    int port() const { return m_port; }
    std::string url(std::string const& path) const { return "http://127.0.0.1:" + std::to_string(m_port) + path; }
    int connections() const { return m_connections; }
    // Set once destruction has begun: a connection's end is then not the
    // client's doing.
    bool stopping() const { return m_stop; }

private:
    void accept_loop()
    {
        for (;;) {
            auto s = std::make_shared<boost::asio::ip::tcp::socket>(m_ioc);
            boost::system::error_code ec;
            m_acceptor.accept(*s, ec);
            if (m_stop || ec) return;
            int const id = m_connections++;
            std::lock_guard<std::mutex> l(m_mutex);
            m_sockets.push_back(s);
            m_threads.emplace_back([this, s, id] { m_serve(*s, id); });
        }
    }

    handler m_serve;
    boost::asio::io_context m_ioc;
    boost::asio::ip::tcp::acceptor m_acceptor{m_ioc};
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_accept_thread;
    std::mutex m_mutex;
    std::vector<std::shared_ptr<boost::asio::ip::tcp::socket>> m_sockets;
    std::list<std::thread> m_threads;
};

} // namespace tg::test
