// Starts tools/testserver/http_server.py for one test and talks to its
// control endpoints. Under Wine the server runs on the host: CreateProcessW
// of the host's Python (a Unix program, reached through Z:) starts it
// detached, so it is ended by its shutdown endpoint when the object goes,
// and by its own --max-seconds when a test dies. Natively it is a child
// process. Only 127.0.0.1; the port is read back from a port file.
//
// Link tg_test_http_server. Test thread only; every call blocks.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include "host_path.h"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

struct RecordedRequest
{
    std::string requestLine;
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string raw; // head and body as received

    // The first header of that name (case-insensitive); empty when none.
    std::string Header(const std::string& name) const
    {
        for (const auto& h : headers)
            if (Lower(h.first) == Lower(name))
                return h.second;
        return std::string();
    }
    static std::string Lower(std::string s)
    {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        return s;
    }
};

class TestHttpServer
{
public:
    TestHttpServer() = default;
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;
    ~TestHttpServer() { Stop(); }

    // Starts the server and waits (at most 20 s) for its port.
    bool Start(int maxSeconds = 300)
    {
        static int counter = 0;
        const std::string dir = std::string(TG_BINARY_DIR) + "/testserver";
#ifdef _WIN32
        CreateDirectoryW(HostPath(dir).c_str(), nullptr);
        const unsigned long pid = GetCurrentProcessId();
#else
        mkdir(dir.c_str(), 0777);
        const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
        m_portFile = dir + "/" + std::to_string(pid) + "-" + std::to_string(++counter) + "-" +
                     std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".port";
        std::remove(LocalPath(m_portFile).c_str());
#ifdef _WIN32
        std::wstring cmd = HostPath(TG_PYTHON) + L" " + Widen(TG_TESTSERVER_SCRIPT) + L" --port-file " +
                           Widen(m_portFile) + L" --max-seconds " + std::to_wstring(maxSeconds);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return false;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
#else
        const std::string maxText = std::to_string(maxSeconds);
        const char* argv[] = {TG_PYTHON, TG_TESTSERVER_SCRIPT, "--port-file", m_portFile.c_str(),
                              "--max-seconds", maxText.c_str(), nullptr};
        if (posix_spawn(&m_child, TG_PYTHON, nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            return false;
#endif
        for (int i = 0; i < 1000 && m_port == 0; ++i) {
            std::ifstream in(LocalPath(m_portFile));
            int port = 0;
            if (in >> port)
                m_port = static_cast<uint16_t>(port);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return m_port != 0;
    }

    void Stop()
    {
        if (m_port != 0)
            Control("POST", "shutdown", "");
        m_port = 0;
#ifndef _WIN32
        if (m_child > 0) {
            int status = 0;
            for (int i = 0; i < 250 && waitpid(m_child, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (waitpid(m_child, &status, WNOHANG) == 0) {
                kill(m_child, SIGKILL);
                waitpid(m_child, &status, 0);
            }
            m_child = 0;
        }
#endif
        if (!m_portFile.empty())
            std::remove(LocalPath(m_portFile).c_str());
    }

    uint16_t Port() const { return m_port; }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    std::wstring Url(const std::string& path) const { return Widen(Base() + path); }

    // routeJson: a route object as the server's header describes, e.g.
    // R"({"path": "/a", "status": 404})". True when the server took it.
    bool Route(const std::string& routeJson) { return Control("POST", "route", routeJson) == "ok"; }
    bool Reset() { return Control("POST", "reset", "") == "ok"; }

    std::vector<RecordedRequest> Requests()
    {
        std::vector<RecordedRequest> out;
        std::istringstream lines(Control("GET", "requests.hex", ""));
        std::string hex;
        while (std::getline(lines, hex)) {
            RecordedRequest r;
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                r.raw += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
            const size_t headEnd = r.raw.find("\r\n\r\n");
            std::istringstream head(r.raw.substr(0, headEnd));
            std::string line;
            std::getline(head, line);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            r.requestLine = line;
            const size_t first = line.find(' '), last = line.rfind(' ');
            r.method = line.substr(0, first);
            if (first != std::string::npos && last > first) {
                r.target = line.substr(first + 1, last - first - 1);
                r.version = line.substr(last + 1);
            }
            while (std::getline(head, line)) {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                const size_t colon = line.find(':');
                if (colon == std::string::npos)
                    continue;
                size_t v = colon + 1;
                while (v < line.size() && line[v] == ' ')
                    ++v;
                r.headers.emplace_back(line.substr(0, colon), line.substr(v));
            }
            out.push_back(std::move(r));
        }
        return out;
    }

    // The pattern a route's "body_size" sends.
    static std::string PatternBytes(size_t n)
    {
        std::string s(n, '\0');
        for (size_t i = 0; i < n; ++i)
            s[i] = static_cast<char>(i % 251);
        return s;
    }

    // One control request; the answer's body ("" when unreachable).
    std::string Control(const std::string& method, const std::string& name, const std::string& body)
    {
        if (m_port == 0)
            return std::string();
        const std::string request = method + " /__control/" + name + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" +
                                    "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        const std::string answer = Exchange(request);
        const size_t headEnd = answer.find("\r\n\r\n");
        return headEnd == std::string::npos ? std::string() : answer.substr(headEnd + 4);
    }

    // Sends raw bytes on a fresh connection; everything received until the
    // server closes it (or 10 s pass without data).
    std::string RawExchange(const std::string& bytes) { return Exchange(bytes); }

private:
    static std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

#ifdef _WIN32
    static std::string LocalPath(const std::string& unixPath)
    {
        const std::wstring w = HostPath(unixPath);
        return std::string(w.begin(), w.end());
    }
    using Socket = SOCKET;
    static void CloseSocket(Socket s) { closesocket(s); }
    static bool Valid(Socket s) { return s != INVALID_SOCKET; }
#else
    static std::string LocalPath(const std::string& unixPath) { return unixPath; }
    using Socket = int;
    static void CloseSocket(Socket s) { close(s); }
    static bool Valid(Socket s) { return s >= 0; }
#endif

    std::string Exchange(const std::string& request)
    {
#ifdef _WIN32
        static const bool started = [] {
            WSADATA data;
            return WSAStartup(MAKEWORD(2, 2), &data) == 0;
        }();
        if (!started)
            return std::string();
#endif
        Socket s = socket(AF_INET, SOCK_STREAM, 0);
        if (!Valid(s))
            return std::string();
#ifdef _WIN32
        DWORD timeout = 10000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
#else
        timeval timeout = {10, 0};
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
#endif
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(m_port);
        addr.sin_addr.s_addr = htonl(0x7F000001);
        std::string answer;
        if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            send(s, request.data(), static_cast<int>(request.size()), 0) == static_cast<int>(request.size())) {
            char buf[4096];
            for (;;) {
                const int n = static_cast<int>(recv(s, buf, sizeof buf, 0));
                if (n <= 0)
                    break;
                answer.append(buf, static_cast<size_t>(n));
            }
        }
        CloseSocket(s);
        return answer;
    }

    uint16_t m_port = 0;
    std::string m_portFile;
#ifndef _WIN32
    pid_t m_child = 0;
#endif
};
