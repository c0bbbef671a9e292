// A scriptable HTTP/1.1 file server on 127.0.0.1 for the Direct-HTTP tests:
// serves files under a folder with byte ranges and keep-alive, records every
// request text, and lets a test replace any response with its own bytes
// (written in separate pieces, so the client reads them apart). Given a
// certificate, it speaks TLS on the same terms.
#pragma once

#include "loopback_listener.hpp"

#include <boost/asio/buffers_iterator.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <chrono>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tg::test {

struct http_request
{
    std::string text;   // the whole request, header lines and blank line
    std::string target; // as sent
    std::string range;  // value of the Range field, or empty
    int index = 0;      // 0 for the server's first request, then 1, 2, ...
    int connection = 0; // 0 for the first connection, then 1, 2, ...
};

class http_test_server
{
public:
    // A script answers a request with response pieces, or nothing to serve
    // the file. An empty vector closes the connection without an answer;
    // {hold} keeps the answer back and writes it together with the next
    // request's answer, in one write.
    using script = std::function<std::optional<std::vector<std::string>>(http_request const&)>;

    explicit http_test_server(std::filesystem::path root) : m_root(std::move(root)) {}

    // A TLS server with the certificate chain and key of these PEM files.
    struct tls_identity
    {
        std::string certificate_chain;
        std::string private_key;
    };
    http_test_server(std::filesystem::path root, tls_identity const& tls) : m_root(std::move(root))
    {
        m_tls.emplace(boost::asio::ssl::context::tls_server);
        m_tls->use_certificate_chain_file(tls.certificate_chain);
        m_tls->use_private_key_file(tls.private_key, boost::asio::ssl::context::pem);
    }

    int port() const { return m_listener.port(); }
    std::string url(std::string const& path) const
    {
        return (m_tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port()) + path;
    }
    // TLS: connections whose handshake failed (the client refused the
    // certificate, or went away).
    int failed_handshakes() const { return m_failed_handshakes; }

    void set_script(script s)
    {
        std::lock_guard<std::mutex> l(m_mutex);
        m_script = std::move(s);
    }
    std::vector<http_request> requests() const
    {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_requests;
    }
    int connections() const { return m_listener.connections(); }
    static constexpr char const* hold = "\x01hold";
    // As the last piece: the connection is cut after the pieces before it,
    // without an answer's end (over TLS, without close_notify).
    static constexpr char const* cut = "\x01cut";

    // Ready-made response texts.
    static std::string status(int code, std::string const& reason, std::string const& fields = "")
    {
        return "HTTP/1.1 " + std::to_string(code) + " " + reason + "\r\n" + fields + "Content-Length: 0\r\n\r\n";
    }

    // The normal answer for a request of this server's files.
    std::string serve(http_request const& r) const
    {
        std::filesystem::path const p = m_root / std::filesystem::u8path(unescape(r.target.substr(1)));
        std::ifstream in(p, std::ios::binary);
        if (!in) return status(404, "Not Found");
        std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::int64_t first = 0, last = std::int64_t(data.size()) - 1;
        if (r.range.compare(0, 6, "bytes=") == 0) {
            std::size_t const dash = r.range.find('-');
            first = std::stoll(r.range.substr(6, dash - 6));
            last = std::min<std::int64_t>(std::stoll(r.range.substr(dash + 1)), std::int64_t(data.size()) - 1);
            return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-"
                + std::to_string(last) + "/" + std::to_string(data.size()) + "\r\nContent-Length: "
                + std::to_string(last - first + 1) + "\r\n\r\n" + data.substr(std::size_t(first), std::size_t(last - first + 1));
        }
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(data.size()) + "\r\n\r\n" + data;
    }

    static std::string unescape(std::string const& s)
    {
        std::string out;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] == '%' && i + 2 < s.size()) {
                out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                out += s[i];
            }
        }
        return out;
    }

private:
    void serve_connection(boost::asio::ip::tcp::socket& s, int id)
    {
        if (!m_tls) {
            serve_stream(s, id);
            return;
        }
        boost::asio::ssl::stream<boost::asio::ip::tcp::socket&> tls(s, *m_tls);
        boost::system::error_code ec;
        tls.handshake(boost::asio::ssl::stream_base::server, ec);
        if (ec) {
            ++m_failed_handshakes;
            return;
        }
        serve_stream(tls, id);
    }

    template <class Stream>
    void serve_stream(Stream& s, int id)
    {
        boost::asio::streambuf buf;
        std::string held;
        for (;;) {
            boost::system::error_code ec;
            std::size_t const n = boost::asio::read_until(s, buf, "\r\n\r\n", ec);
            if (ec || m_listener.stopping()) return;
            std::string text(boost::asio::buffers_begin(buf.data()), boost::asio::buffers_begin(buf.data()) + std::ptrdiff_t(n));
            buf.consume(n);
            http_request r;
            r.text = text;
            r.connection = id;
            std::size_t const sp1 = text.find(' '), sp2 = text.find(' ', sp1 + 1);
            r.target = text.substr(sp1 + 1, sp2 - sp1 - 1);
            std::size_t const rp = text.find("\r\nRange: ");
            if (rp != std::string::npos) r.range = text.substr(rp + 9, text.find("\r\n", rp + 9) - rp - 9);
            script sc;
            {
                std::lock_guard<std::mutex> l(m_mutex);
                r.index = int(m_requests.size());
                m_requests.push_back(r);
                sc = m_script;
            }
            std::optional<std::vector<std::string>> pieces;
            if (sc) pieces = sc(r);
            if (pieces && pieces->size() == 1 && (*pieces)[0] == hold) {
                held += serve(r);
                continue;
            }
            if (!pieces) pieces = std::vector<std::string>{serve(r)};
            if (!held.empty() && !pieces->empty()) {
                (*pieces)[0] = held + (*pieces)[0];
                held.clear();
            }
            bool const cut_after = !pieces->empty() && pieces->back() == cut;
            if (cut_after) pieces->pop_back();
            if (pieces->empty() && !cut_after) {
                s.lowest_layer().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ec);
                return;
            }
            for (std::size_t i = 0; i < pieces->size(); ++i) {
                if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(30));
                boost::asio::write(s, boost::asio::buffer((*pieces)[i]), ec);
                if (ec) return;
            }
            if (cut_after) {
                s.lowest_layer().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ec);
                return;
            }
        }
    }

    std::filesystem::path m_root;
    mutable std::mutex m_mutex;
    script m_script;
    std::vector<http_request> m_requests;
    std::optional<boost::asio::ssl::context> m_tls;
    std::atomic<int> m_failed_handshakes{0};
    // Last, so that it stops its threads before the members they use go.
    loopback_listener m_listener{[this](boost::asio::ip::tcp::socket& s, int id) { serve_connection(s, id); }};
};

} // namespace tg::test
