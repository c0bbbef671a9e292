// nginx on 127.0.0.1 serving a folder with its own range and keep-alive
// handling, started from a config in a temporary folder (native build only);
// over TLS when given a certificate and key.
#pragma once

#include "../support/temp_dir.hpp"

#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace tg::test {

class nginx_server
{
public:
    // `rate_limit`: bytes per second per connection, 0 for none.
    nginx_server(std::string const& nginx, std::filesystem::path const& root, long rate_limit = 0)
    {
        for (int attempt = 0; attempt < 5 && m_pid <= 0; ++attempt) start(nginx, root, rate_limit);
    }
    // TLS with this certificate chain and key (PEM files).
    nginx_server(std::string const& nginx, std::filesystem::path const& root, std::string const& certificate,
        std::string const& key)
        : m_tls_lines("    ssl_certificate " + certificate + ";\n    ssl_certificate_key " + key + ";\n")
    {
        for (int attempt = 0; attempt < 5 && m_pid <= 0; ++attempt) start(nginx, root, 0);
    }
    ~nginx_server() { stop(); }
    nginx_server(nginx_server const&) = delete;
    nginx_server& operator=(nginx_server const&) = delete;

    bool running() const { return m_pid > 0; }
    int port() const { return m_port; }
    std::string url(std::string const& path) const
    {
        return (m_tls_lines.empty() ? "http://127.0.0.1:" : "https://127.0.0.1:") + std::to_string(m_port) + path;
    }
    std::string error_log() const { return std::string(read_file(m_dir.path() / "error.log").data(), read_file(m_dir.path() / "error.log").size()); }

private:
    static int free_port()
    {
        boost::asio::io_context ioc;
        boost::asio::ip::tcp::acceptor a(ioc, boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), 0));
        return a.local_endpoint().port();
    }

    bool accepts() const
    {
        boost::asio::io_context ioc;
        boost::asio::ip::tcp::socket s(ioc);
        boost::system::error_code ec;
        s.connect(boost::asio::ip::tcp::endpoint(boost::asio::ip::make_address("127.0.0.1"), std::uint16_t(m_port)), ec);
        return !ec;
    }

    void start(std::string const& nginx, std::filesystem::path const& root, long rate_limit)
    {
        m_port = free_port();
        std::string const d = m_dir.path().string();
        std::filesystem::create_directories(m_dir.path() / "tmp");
        std::ofstream conf(m_dir.path() / "nginx.conf");
        conf << "worker_processes 1;\ndaemon off;\nmaster_process off;\npid " << d << "/nginx.pid;\n"
             << "error_log " << d << "/error.log;\nevents { worker_connections 512; }\nhttp {\n  access_log off;\n"
             << "  client_body_temp_path " << d << "/tmp;\n  proxy_temp_path " << d << "/tmp;\n"
             << "  fastcgi_temp_path " << d << "/tmp;\n  uwsgi_temp_path " << d << "/tmp;\n"
             << "  scgi_temp_path " << d << "/tmp;\n  keepalive_requests 1000000;\n  sendfile on;\n"
             << "  server {\n    listen 127.0.0.1:" << m_port << (m_tls_lines.empty() ? "" : " ssl") << ";\n"
             << m_tls_lines << "    root " << root.string() << ";\n"
             << (rate_limit > 0 ? "    limit_rate " + std::to_string(rate_limit) + ";\n" : "") << "  }\n}\n";
        conf.close();
        pid_t const pid = fork();
        if (pid == 0) {
            execl(nginx.c_str(), nginx.c_str(), "-p", d.c_str(), "-c", (d + "/nginx.conf").c_str(), "-e",
                (d + "/error.log").c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        m_pid = pid;
        auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!accepts()) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid || std::chrono::steady_clock::now() > deadline) {
                stop();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    void stop()
    {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(m_pid, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (waitpid(m_pid, &status, WNOHANG) == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &status, 0);
        }
        m_pid = -1;
    }

    std::string m_tls_lines; // the server block's certificate lines, empty for plain HTTP
    temp_dir m_dir{"nginx"};
    pid_t m_pid = -1;
    int m_port = 0;
};

} // namespace tg::test
