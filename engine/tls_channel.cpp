#include "engine/tls_channel.hpp"

#include <boost/asio/error.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/asio/ssl/verify_context.hpp>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <climits>
#include <new>
#include <system_error>

namespace tg {

namespace {

bool is_ip_literal(std::string const& host)
{
    boost::system::error_code ec;
    boost::asio::ip::make_address(host, ec);
    return !ec;
}

// The chain as OpenSSL checked it, then the name: the certificate at the end
// of the chain must be valid for the URL's host.
int verify_peer(int preverified, X509_STORE_CTX* store)
{
    SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto const* host = ssl ? static_cast<std::string const*>(SSL_get_app_data(ssl)) : nullptr;
    if (!host) return 0;
    boost::asio::ssl::verify_context ctx(store);
    bool const ok = boost::asio::ssl::host_name_verification(*host)(preverified != 0, ctx);
    // The name check leaves no reason of its own: say it, so that the
    // failure reads "hostname mismatch" rather than "ok".
    if (!ok && preverified)
        X509_STORE_CTX_set_error(
            store, is_ip_literal(*host) ? X509_V_ERR_IP_ADDRESS_MISMATCH : X509_V_ERR_HOSTNAME_MISMATCH);
    return ok ? 1 : 0;
}

std::system_error openssl_failure(char const* what)
{
    return std::system_error(int(ERR_get_error()), boost::asio::error::get_ssl_category(), what);
}

} // namespace

tls_channel::tls_channel(tls_client_context const& ctx, std::string const& host) : m_host(host)
{
    ERR_clear_error();
    m_ssl = SSL_new(ctx.native_handle());
    if (!m_ssl) throw std::bad_alloc();
    // Owned by m_ssl from SSL_set_bio on; an empty input reads as "wants
    // more", not as the end of the stream.
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    if (!in || !out) {
        BIO_free(in);
        BIO_free(out);
        SSL_free(m_ssl);
        throw std::bad_alloc();
    }
    BIO_set_mem_eof_return(in, -1);
    SSL_set_bio(m_ssl, in, out);
    SSL_set_connect_state(m_ssl);
    SSL_set_app_data(m_ssl, &m_host);
    SSL_set_verify(m_ssl, SSL_VERIFY_PEER, &verify_peer);
    // SNI names a host; an address is never sent as one.
    if (!is_ip_literal(m_host) && SSL_set_tlsext_host_name(m_ssl, m_host.c_str()) != 1) {
        std::system_error e = openssl_failure("SNI");
        SSL_free(m_ssl);
        throw e;
    }
}

tls_channel::~tls_channel() { SSL_free(m_ssl); }

void tls_channel::feed(char const* data, std::size_t n)
{
    BIO* in = SSL_get_rbio(m_ssl);
    while (n > 0) {
        int const chunk = int(std::min<std::size_t>(n, INT_MAX));
        int const w = BIO_write(in, data, chunk);
        if (w <= 0) throw std::bad_alloc(); // a memory BIO fails only for want of memory
        data += w;
        n -= std::size_t(w);
    }
}

lt::error_code tls_channel::outcome(int r)
{
    int const err = SSL_get_error(m_ssl, r);
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) return {};
    if (err == SSL_ERROR_ZERO_RETURN) return boost::asio::error::eof;
    unsigned long const e = ERR_peek_error();
    lt::error_code ec;
    if (e != 0) {
        ec = lt::error_code(int(e), boost::asio::error::get_ssl_category());
        char const* why = ERR_reason_error_string(e);
        m_reason = why ? why : ec.message();
    } else {
        ec = boost::asio::ssl::error::stream_truncated;
        m_reason = ec.message();
    }
    long const verified = SSL_get_verify_result(m_ssl);
    if (verified != X509_V_OK) {
        m_certificate_refused = true;
        m_reason += std::string(": ") + X509_verify_cert_error_string(verified);
    }
    ERR_clear_error();
    return ec;
}

bool tls_channel::handshake(lt::error_code& ec)
{
    ec.clear();
    ERR_clear_error();
    int const r = SSL_do_handshake(m_ssl);
    if (r == 1) return true;
    ec = outcome(r);
    // The server closed during the handshake: a failure, not the end.
    if (ec == boost::asio::error::eof) ec = boost::asio::ssl::error::stream_truncated;
    return false;
}

std::size_t tls_channel::read(char* dest, std::size_t n, lt::error_code& ec)
{
    ec.clear();
    if (n == 0) return 0;
    ERR_clear_error();
    int const r = SSL_read(m_ssl, dest, int(std::min<std::size_t>(n, INT_MAX)));
    if (r > 0) return std::size_t(r);
    ec = outcome(r);
    return 0;
}

void tls_channel::write(char const* data, std::size_t n, lt::error_code& ec)
{
    ec.clear();
    while (n > 0) {
        ERR_clear_error();
        int const r = SSL_write(m_ssl, data, int(std::min<std::size_t>(n, INT_MAX)));
        if (r <= 0) {
            ec = outcome(r);
            if (!ec) ec = boost::asio::error::would_block; // cannot happen with memory output
            return;
        }
        data += r;
        n -= std::size_t(r);
    }
}

std::string tls_channel::take_output()
{
    BIO* out = SSL_get_wbio(m_ssl);
    std::string bytes(BIO_ctrl_pending(out), '\0');
    if (!bytes.empty()) {
        int const r = BIO_read(out, bytes.data(), int(bytes.size()));
        bytes.resize(r > 0 ? std::size_t(r) : 0);
    }
    return bytes;
}

} // namespace tg
