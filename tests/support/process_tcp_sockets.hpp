// The connected IPv4 TCP sockets of this process, with the receive buffer
// the system reports for each: a test looks at the sockets an engine
// session made, which the engine does not expose. Linux: the descriptors in
// /proc/self/fd. Windows: socket handles are kernel handles, multiples of
// four, so every value up to a bound is asked.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace tg::test {

struct tcp_socket_seen
{
    std::uint16_t local_port;
    std::string peer; // "a.b.c.d:port"
    int receive_buffer; // SO_RCVBUF as the system reports it
};

namespace detail {

template <class Socket>
bool look_at_socket(Socket s, tcp_socket_seen& out)
{
    int type = 0;
    socklen_t len = sizeof type;
    if (getsockopt(s, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) != 0 || type != SOCK_STREAM)
        return false;
    sockaddr_in local{}, peer{};
    socklen_t llen = sizeof local, plen = sizeof peer;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &llen) != 0 || local.sin_family != AF_INET)
        return false;
    if (getpeername(s, reinterpret_cast<sockaddr*>(&peer), &plen) != 0)
        return false; // listening, or not connected
    int rcvbuf = 0;
    len = sizeof rcvbuf;
    if (getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&rcvbuf), &len) != 0)
        return false;
    char addr[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
    out = {ntohs(local.sin_port), std::string(addr) + ":" + std::to_string(ntohs(peer.sin_port)), rcvbuf};
    return true;
}

} // namespace detail

inline std::vector<tcp_socket_seen> process_tcp_sockets()
{
    std::vector<tcp_socket_seen> seen;
    tcp_socket_seen one{};
#ifdef _WIN32
    for (std::uintptr_t h = 4; h < 0x10000; h += 4)
        if (detail::look_at_socket(static_cast<SOCKET>(h), one))
            seen.push_back(one);
#else
    if (DIR* d = opendir("/proc/self/fd")) {
        while (dirent const* e = readdir(d))
            if (e->d_name[0] != '.' && detail::look_at_socket(std::atoi(e->d_name), one))
                seen.push_back(one);
        closedir(d);
    }
#endif
    return seen;
}

} // namespace tg::test
