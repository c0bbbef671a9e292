// The TLS client side of one connection, without its socket: ciphertext in
// from the socket, plaintext out, and the reverse. The connection reads the
// socket in large pieces and hands them over here whole, where a TLS stream
// over the socket would read it one record (at most 17 KiB) at a time: under
// Wine the number of socket reads sets the cost of a download.
#pragma once

#include "engine/tls_context.hpp"

#include <libtorrent/error_code.hpp>

#include <cstddef>
#include <string>

struct ssl_st;

namespace tg {

class tls_channel
{
public:
    // A client session for `host` (the URL's host, without the brackets of
    // an IPv6 literal): the host's name goes out as SNI unless it is an IP
    // literal, and the server's certificate must be valid for it. Throws
    // std::bad_alloc or std::system_error when OpenSSL cannot make it.
    tls_channel(tls_client_context const& ctx, std::string const& host);
    ~tls_channel();
    tls_channel(tls_channel const&) = delete;
    tls_channel& operator=(tls_channel const&) = delete;

    // Ciphertext the socket delivered.
    void feed(char const* data, std::size_t n);

    // Drives the handshake with what has been fed. True once it is done;
    // false while it waits for more bytes, or with `ec` when it failed (the
    // server's certificate included: failure_reason() says why).
    bool handshake(lt::error_code& ec);

    // Up to `n` bytes of plaintext into `dest`; 0 without `ec` when more
    // ciphertext is needed. At the server's close_notify, 0 with eof.
    std::size_t read(char* dest, std::size_t n, lt::error_code& ec);

    // Encrypts all of `data` (the output is memory: it never waits).
    void write(char const* data, std::size_t n, lt::error_code& ec);

    // Ciphertext waiting for the socket, taken whole.
    std::string take_output();

    // After a failure: OpenSSL's reason, and for a certificate the check
    // that failed, e.g. "certificate verify failed: unable to get local
    // issuer certificate".
    std::string const& failure_reason() const { return m_reason; }
    // The failure was the server's certificate (its chain, dates or name).
    bool certificate_refused() const { return m_certificate_refused; }

private:
    // The OpenSSL outcome of a call that returned r, as an error code (none
    // for "wants more"); records the reason of a failure.
    lt::error_code outcome(int r);

    ssl_st* m_ssl = nullptr;
    std::string m_host;
    std::string m_reason;
    bool m_certificate_refused = false;
};

} // namespace tg
